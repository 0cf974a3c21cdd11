// AppAnalytics — everything the app asks of the analytics library.
//
// The app reaches analytics through two calls only: the core framework's
// configuration at launch and the public event call. Screens never test the
// user's usage-data setting themselves through this interface: callers check
// SEND_USAGE_DATA at every call site before logging (see UserSettings), and
// pass through here. The composition root installs the implementation over
// the library's public interface (app/analytics/CVNAppAnalytics.h); until it
// does, the shared instance does nothing. Tests install a recording double
// (tests/app/RecordingAppAnalytics.h).
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/core/Object.h"

namespace tabulo {

class AppAnalytics {
 public:
  virtual ~AppAnalytics() = default;
  // The core framework's configure call, made once at launch.
  virtual void configure() = 0;
  // The public class's logEventWithName:parameters:. An event without
  // parameters passes none (not an empty dictionary).
  virtual void logEvent(const std::string& name, const std::optional<platform::Dictionary>& parameters) = 0;

  // The process-wide instance (a no-op until one is installed).
  static std::shared_ptr<AppAnalytics> shared();
  // Installs `analytics`; null restores the no-op instance.
  static void setShared(std::shared_ptr<AppAnalytics> analytics);
};

}  // namespace tabulo
