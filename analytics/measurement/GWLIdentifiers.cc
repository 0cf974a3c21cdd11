#include "analytics/measurement/GWLIdentifiers.h"

#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/core/GWLNumericUtil.h"
#include "analytics/measurement/GWLIdentity.h"

std::shared_ptr<GWLIdentifiers> GWLIdentifiers::sharedInstance() {
  static const std::shared_ptr<GWLIdentifiers>* instance =
      new std::shared_ptr<GWLIdentifiers>(std::make_shared<GWLIdentifiers>());
  return *instance;
}

GWLIdentifiers::GWLIdentifiers(Dependencies dependencies)
    : dependencies_(std::move(dependencies)),
      adEventCounter_(dependencies_.adEventIDStart ? *dependencies_.adEventIDStart : GWLNumericUtil::randomInt64()) {
  if (!dependencies_.sharedIdentity) dependencies_.sharedIdentity = [] { return GWLIdentity::sharedInstance(); };
}

std::shared_ptr<GWLMonitor> GWLIdentifiers::monitor() const {
  return dependencies_.monitor ? dependencies_.monitor : GWLMeasurementRegistry::monitor();
}

std::shared_ptr<GWLIdentity> GWLIdentifiers::engineIdentity() const {
  if (dependencies_.engineIdentity) return dependencies_.engineIdentity();
  if (!GWLMeasurementRegistry::hasSharedInstance()) return nullptr;
  auto engine = GWLMeasurementRegistry::sharedInstance();
  return engine ? engine->identity() : nullptr;
}

std::string GWLIdentifiers::halcyraAppID() const {
  if (auto identity = engineIdentity()) {
    if (auto appID = identity->appIDFromQRX()) return *appID;
    monitor()->logWithLevel(kGWLLevelErrorSilent, kGWLNoAppIDFromEngineIdentityCode,
                            kGWLNoAppIDFromEngineIdentityMessage);
    return "";
  }
  auto identity = dependencies_.sharedIdentity();
  if (auto appID = identity ? identity->appIDFromQRX() : std::nullopt) return *appID;
  monitor()->logWithLevel(kGWLLevelErrorSilent, kGWLNoAppIDFromSharedIdentityCode,
                          kGWLNoAppIDFromSharedIdentityMessage);
  return "";
}

std::string GWLIdentifiers::analyticsAppID() const {
  auto identity = engineIdentity();
  if (!identity) identity = dependencies_.sharedIdentity();
  if (auto appID = identity ? identity->appIDFromQRX() : std::nullopt; appID && !appID->empty()) return *appID;
  monitor()->logWithLevel(kGWLLevelErrorSilent, kGWLNoEffectiveAppIDCode, kGWLNoEffectiveAppIDMessage);
  return "";
}

std::string GWLIdentifiers::appInstanceID() const {
  if (auto identity = engineIdentity()) {
    if (auto appInstanceID = identity->appInstanceID()) return *appInstanceID;
    monitor()->logWithLevel(kGWLLevelErrorSilent, kGWLNoAppInstanceIDFromEngineIdentityCode,
                            kGWLNoAppInstanceIDFromEngineIdentityMessage);
    return "";
  }
  auto identity = dependencies_.sharedIdentity();
  if (auto appInstanceID = identity ? identity->appInstanceID() : std::nullopt) return *appInstanceID;
  monitor()->logWithLevel(kGWLLevelErrorSilent, kGWLNoAppInstanceIDFromSharedIdentityCode,
                          kGWLNoAppInstanceIDFromSharedIdentityMessage);
  return "";
}

// The counter wraps from INT64_MAX to INT64_MIN (atomic arithmetic on signed
// integers is two's complement), so no value repeats for 2^64 calls.
std::string GWLIdentifiers::adEventID() { return std::to_string(adEventCounter_.fetch_add(1)); }

std::string GWLIdentifiers::libraryVersion() const { return std::to_string(GWLIdentity::gaugewellLibraryVersion()); }

std::optional<std::string> GWLIdentifiers::origin() const {
  platform::MutexLock lock(originMutex_);
  return origin_;
}

void GWLIdentifiers::setOrigin(const std::optional<std::string>& origin) {
  if (!origin || origin->empty()) {
    monitor()->logWithLevel(kGWLLevelErrorSilent, kGWLEmptyOriginCode, kGWLEmptyOriginMessage);
    return;
  }
  platform::MutexLock lock(originMutex_);
  origin_ = origin;
}
