// The stand-ins for the platform's two advertising services: the
// advertising-identifier manager ("ASIdentifierManager") and the
// tracking-authorisation manager ("ATTrackingManager").
//
// A service is present only when the app environment has its optional
// component (code that would look its class up by name asks `isPresent`).
// A present service answers what its host told it (`setAnswers`): the device
// has no advertising identifier and no authorisation prompt of its own, so a
// host (an app trying attribution by hand, a test) says what the user chose.
// Until then, and after `reset`, it answers nothing, as a service that does
// not respond to the question.
//
// Thread-safe: any thread may ask.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

inline constexpr const char* kASIdentifierManagerComponentName = "ASIdentifierManager";
inline constexpr const char* kATTrackingManagerComponentName = "ATTrackingManager";

// The tracking authorisation states, as the platform numbers them.
enum class ATTrackingAuthorizationStatus : int64_t {
  NotDetermined = 0,
  Restricted = 1,
  Denied = 2,
  Authorized = 3,
};

class ASIdentifierManager {
 public:
  struct Answers {
    // The advertising identifier; a UUID in its 8-4-4-4-12 hexadecimal form.
    std::optional<std::string> advertisingIdentifier;
    std::optional<bool> isAdvertisingTrackingEnabled;
  };

  static bool isPresent();
  // The identifier as an upper-case UUID string; none when the service is
  // absent, has no answer, or was given text that is not a UUID.
  [[nodiscard]] static std::optional<std::string> advertisingIdentifier();
  // None when the service is absent or has no answer.
  [[nodiscard]] static std::optional<bool> isAdvertisingTrackingEnabled();

  static void setAnswers(Answers answers);
  static void reset();
};

class ATTrackingManager {
 public:
  static bool isPresent();
  // None when the service is absent or has no answer.
  [[nodiscard]] static std::optional<ATTrackingAuthorizationStatus> trackingAuthorizationStatus();

  static void setTrackingAuthorizationStatus(std::optional<ATTrackingAuthorizationStatus> status);
  static void reset();
};

// Resets both services when it goes out of scope, so that what a host told
// them for a while (a test, say) does not outlive that while.
class AdvertisingServicesResetOnExit {
 public:
  AdvertisingServicesResetOnExit() = default;
  AdvertisingServicesResetOnExit(const AdvertisingServicesResetOnExit&) = delete;
  AdvertisingServicesResetOnExit& operator=(const AdvertisingServicesResetOnExit&) = delete;
  ~AdvertisingServicesResetOnExit() {
    ASIdentifierManager::reset();
    ATTrackingManager::reset();
  }
};

}  // namespace platform
