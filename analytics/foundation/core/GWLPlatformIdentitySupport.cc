#include "analytics/foundation/core/GWLPlatformIdentitySupport.h"

#include "analytics/foundation/core/GWLAEU.h"
#include "platform/adsupport/AdvertisingServices.h"

std::shared_ptr<GWLPlatformIdentitySupport> GWLPlatformIdentitySupport::sharedInstance() {
  static const std::shared_ptr<GWLPlatformIdentitySupport> instance = std::make_shared<GWLPlatformIdentitySupport>();
  return instance;
}

GWLPlatformIdentitySupport::GWLPlatformIdentitySupport()
    : trackingManagerClass_(GWLAEU::classExists(kGWLTrackingManagerClassName)),
      identifierManager_(GWLAEU::classExists(kGWLIdentifierManagerClassName)) {}

bool GWLPlatformIdentitySupport::hasAppDataConsentStatus() const { return trackingManagerClass_; }

int64_t GWLPlatformIdentitySupport::appDataConsentStatus() const {
  if (!trackingManagerClass_) return -1;
  const auto status = platform::ATTrackingManager::trackingAuthorizationStatus();
  return status ? static_cast<int64_t>(*status) : -1;
}

bool GWLPlatformIdentitySupport::hasLimitedAdTracking() const { return identifierManager_; }

bool GWLPlatformIdentitySupport::limitedAdTracking() const {
  if (!identifierManager_) return false;
  const auto enabled = platform::ASIdentifierManager::isAdvertisingTrackingEnabled();
  return enabled ? !*enabled : false;
}

std::optional<std::string> GWLPlatformIdentitySupport::resettableDeviceID() const {
  if (!identifierManager_) return std::nullopt;
  return platform::ASIdentifierManager::advertisingIdentifier();
}
