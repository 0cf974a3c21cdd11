// platform::ApplicationDelegate — the app delegate's callbacks that other
// code may intercept: an opened URL, a continued user activity and the events
// of a background URL session. Each has a default that handles nothing.
// The activities they continue are platform::UserActivity (UserActivity.h).
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/appdelegate/UserActivity.h"
#include "platform/core/Object.h"

namespace platform {

class ApplicationDelegate {
 public:
  using RestorationHandler = std::function<void(const Array& restorableObjects)>;

  virtual ~ApplicationDelegate() = default;
  // Answers whether the URL was handled.
  [[nodiscard]] virtual bool openURL(const std::string& url, const Dictionary& options) {
    (void)url;
    (void)options;
    return false;
  }
  // Answers whether the activity was continued.
  [[nodiscard]] virtual bool continueUserActivity(const UserActivity& activity, const RestorationHandler& restorationHandler) {
    (void)activity;
    (void)restorationHandler;
    return false;
  }
  virtual void handleEventsForBackgroundURLSession(const std::string& identifier,
                                                   const std::function<void()>& completionHandler) {
    (void)identifier;
    (void)completionHandler;
  }
};

}  // namespace platform
