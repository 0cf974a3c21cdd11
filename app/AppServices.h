// AppServices — what the document list and the review prompt use of the rest
// of the app and of the platform, gathered so that the composition root wires
// the real ones (`standard`) and tests their own.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/RelevantActionCounter.h"
#include "app/SpreadsheetPersistance.h"
#include "app/TabuloIO.h"
#include "app/UserDefaults.h"
#include "platform/ui/Application.h"
#include "platform/ui/UIEnvironment.h"

namespace tabulo {

struct AppServices {
  std::shared_ptr<SpreadsheetPersistance> store;
  // Where the app's flags live (SEND_USAGE_DATA registered true).
  std::shared_ptr<UserDefaults> userDefaults;
  std::shared_ptr<const TabuloIO> io;
  // The process-wide launch counter behind the review prompt.
  std::shared_ptr<RelevantActionCounter> counter;
  // Whether the device's user-interface idiom is pad.
  std::function<bool()> isPad;
  // Asks the platform for a store review in the first window's scene.
  std::function<void()> requestStoreReview;
  // Whether the application can open a URL, and opening it (empty options, no completion).
  std::function<bool(const std::string&)> canOpenURL;
  std::function<void(const std::string&)> openURL;

  // The process-wide store, settings, CSV reader and counter, with the
  // device, URL opening and windows of `environment` and `application`.
  static AppServices standard(std::shared_ptr<platform::UIEnvironment> environment,
                              std::shared_ptr<platform::Application> application);
  // The device, URL opening and store review of `environment` and `application`
  // on the given store, flags, reader and counter.
  static AppServices make(std::shared_ptr<SpreadsheetPersistance> store, std::shared_ptr<UserDefaults> userDefaults,
                          std::shared_ptr<const TabuloIO> io, std::shared_ptr<RelevantActionCounter> counter,
                          std::shared_ptr<platform::UIEnvironment> environment,
                          std::shared_ptr<platform::Application> application);
};

}  // namespace tabulo
