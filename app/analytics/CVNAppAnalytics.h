// CVNAppAnalytics — the app's analytics over the library's public interface.
//
// `configure` is the core framework's configure call (CVNApp), which starts
// the analytics library once per process; `logEvent` is the public class's
// event call (CVNAnalytics::logEventWithName), with the parameters converted
// to the library's raw parameters and none passed when the event has none.
// Nothing else of the library is reached from here.
//
// The composition root installs one as AppAnalytics::shared() before the app
// launches. Stateless; any thread (the app calls it on the main thread).
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/AppAnalytics.h"

namespace platform {
class AppEnvironment;
class NotificationCenter;
}  // namespace platform

namespace tabulo {

class CVNAppAnalytics : public AppAnalytics {
 public:
  // `environment` and `center`: the core framework reads the app's options
  // from the environment and posts on the center (the shared ones when null).
  explicit CVNAppAnalytics(std::shared_ptr<platform::AppEnvironment> environment = nullptr,
                           std::shared_ptr<platform::NotificationCenter> center = nullptr);

  void configure() override;
  void logEvent(const std::string& name, const std::optional<platform::Dictionary>& parameters) override;

 private:
  std::shared_ptr<platform::AppEnvironment> environment_;
  std::shared_ptr<platform::NotificationCenter> center_;
};

}  // namespace tabulo
