// GWLPlatformIdentitySupport — the system's tracking-authorisation and
// advertising-identifier services, as far as the process has them.
//
// Both services are found by name at run time (the app environment's
// registry of optional components: "ATTrackingManager" and
// "ASIdentifierManager"), so the library works without them; a present
// service answers through its platform stand-in. A service that is missing,
// or present without answering, gives the neutral answers: no consent status
// (-1), tracking not limited, no resettable device identifier.
//
// Threads: any thread; what it found at creation never changes.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// What the identity needs to know of the platform's advertising services.
class GWLIdentitySupport {
 public:
  virtual ~GWLIdentitySupport() = default;
  virtual bool hasAppDataConsentStatus() const = 0;
  virtual int64_t appDataConsentStatus() const = 0;
  virtual bool hasLimitedAdTracking() const = 0;
  virtual bool limitedAdTracking() const = 0;
  [[nodiscard]] virtual std::optional<std::string> resettableDeviceID() const = 0;
};

inline constexpr const char* kGWLTrackingManagerClassName = "ATTrackingManager";
inline constexpr const char* kGWLIdentifierManagerClassName = "ASIdentifierManager";

class GWLPlatformIdentitySupport : public GWLIdentitySupport {
 public:
  static std::shared_ptr<GWLPlatformIdentitySupport> sharedInstance();
  // Looks both services up once.
  GWLPlatformIdentitySupport();

  // The tracking-authorisation service was found.
  bool hasAppDataConsentStatus() const override;
  // Its authorisation status (0 not determined, 1 restricted, 2 denied,
  // 3 authorised); -1 when it does not answer.
  int64_t appDataConsentStatus() const override;
  // The advertising-identifier service was found.
  bool hasLimitedAdTracking() const override;
  // Whether advertising tracking is off; false when the service does not answer.
  bool limitedAdTracking() const override;
  // The advertising identifier as a UUID string; none when the service does not answer.
  [[nodiscard]] std::optional<std::string> resettableDeviceID() const override;

 private:
  bool trackingManagerClass_;
  bool identifierManager_;
};
