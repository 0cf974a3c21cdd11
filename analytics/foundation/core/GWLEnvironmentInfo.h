// GWLEnvironmentInfo — device facts that travel with events: device model,
// OS version, the user's language and the time zone's offset.
//
// The device model is read once per process and kept; everything else is read
// on each call. The preferred language comes from the environment's LANGUAGE
// list, else LANG (a locale such as "en_US.UTF-8" gives "en-us"); the POSIX
// locale names none.
//
// Threads: any thread; the device model is read once (under a once flag), the
// rest on each call.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class GWLEnvironmentInfo {
 public:
  static std::shared_ptr<GWLEnvironmentInfo> sharedInstance();

  // GWLAEU's device model, read once; an empty one is reported (14000) and kept.
  std::string deviceModel();
  std::string deviceOSVersion() const;
  // The first preferred language in lower case; nullopt (report 14001) when there is none.
  [[nodiscard]] std::optional<std::string> userDefaultLanguage() const;
  // The local time zone's offset from GMT at `now` (seconds since 1970) in
  // minutes, truncated toward zero.
  static int32_t timeZoneOffsetMinutes(double now);
  // The same at the current time.
  int32_t timeZoneOffsetMinutes() const;

 private:
  std::once_flag deviceModelOnce_;
  std::string deviceModel_;
};
