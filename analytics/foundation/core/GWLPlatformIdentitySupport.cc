#include "analytics/foundation/core/GWLPlatformIdentitySupport.h"

#include "analytics/foundation/core/GWLAEU.h"

std::shared_ptr<GWLPlatformIdentitySupport> GWLPlatformIdentitySupport::sharedInstance() {
  static const std::shared_ptr<GWLPlatformIdentitySupport> instance = std::make_shared<GWLPlatformIdentitySupport>();
  return instance;
}

GWLPlatformIdentitySupport::GWLPlatformIdentitySupport()
    : trackingManagerClass_(GWLAEU::classExists(kGWLTrackingManagerClassName)),
      identifierManager_(GWLAEU::classExists(kGWLIdentifierManagerClassName)) {}

bool GWLPlatformIdentitySupport::hasAppDataConsentStatus() const { return trackingManagerClass_; }

// The services are only known by name here: neither answers a status or an
// identifier, so the answers are those for a service that does not respond.
int64_t GWLPlatformIdentitySupport::appDataConsentStatus() const { return -1; }

bool GWLPlatformIdentitySupport::hasLimitedAdTracking() const { return identifierManager_; }

bool GWLPlatformIdentitySupport::limitedAdTracking() const { return false; }

std::optional<std::string> GWLPlatformIdentitySupport::resettableDeviceID() const { return std::nullopt; }
