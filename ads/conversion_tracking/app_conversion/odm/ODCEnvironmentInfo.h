// ODCEnvironmentInfo — the device facts the conversion layer's configuration
// request sends: the device model and system version of the app environment,
// the user's first preferred language (lower case) and the local time zone's
// offset from GMT in minutes, truncated toward zero.
//
// The values are read once, when the object is made, and never change; a
// missing language is logged (error 9001 "Failed to get preferred language")
// at that moment and reads as nullopt. The shared instance is made on first
// use from the process's app environment and the system clock. Immutable, so
// safe on any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace platform {
class AppEnvironment;
class Clock;
}  // namespace platform
class GWLEnvironmentInfo;

class ODCEnvironmentInfo {
 public:
  struct Values {
    std::string deviceModel;
    std::string deviceOSVersion;
    std::optional<std::string> userDefaultLanguage;
    int32_t timeZoneOffsetMinutes = 0;
  };

  static std::shared_ptr<ODCEnvironmentInfo> sharedInstance();
  // The values of `app` (device model, system version) and `environment`
  // (language; the time zone's offset at `clock`'s wall time).
  static std::shared_ptr<ODCEnvironmentInfo> create(const platform::AppEnvironment& app,
                                                    const GWLEnvironmentInfo& environment,
                                                    const platform::Clock& clock);

  explicit ODCEnvironmentInfo(Values values) : values_(std::move(values)) {}

  const std::string& deviceModel() const { return values_.deviceModel; }
  const std::string& deviceOSVersion() const { return values_.deviceOSVersion; }
  const std::optional<std::string>& userDefaultLanguage() const { return values_.userDefaultLanguage; }
  int32_t timeZoneOffsetMinutes() const { return values_.timeZoneOffsetMinutes; }

 private:
  const Values values_;
};
