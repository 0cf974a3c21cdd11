#include "analytics/measurement/GWLAnalyticsConsent.h"

#include <algorithm>

#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLMilliseconds.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/core/GWLUserDefaults.h"
#include "analytics/measurement/GWLConsentSettingsUtil.h"

namespace {

constexpr const char* kOriginAuto = "auto";

// Settings persisted with a source below this (other than the TCF source) are
// the 3P settings; from it on, the 1P settings.
constexpr int64_t kFirst1PSource = 21;

}  // namespace

GWLAnalyticsConsent::GWLAnalyticsConsent(Dependencies dependencies)
    : dependencies_(std::move(dependencies)),
      defaults_(dependencies_.defaults ? dependencies_.defaults
                                       : std::make_shared<GWLUserDefaults>(kGWLAnalyticsSuiteName)) {}

std::shared_ptr<GWLMonitor> GWLAnalyticsConsent::monitor() const {
  return dependencies_.monitor ? dependencies_.monitor : GWLMeasurementRegistry::monitor();
}

std::shared_ptr<GWLRemoteConfig> GWLAnalyticsConsent::remoteConfig() const {
  return dependencies_.remoteConfig ? dependencies_.remoteConfig() : GWLMeasurementRegistry::remoteConfig();
}

void GWLAnalyticsConsent::setSink(std::weak_ptr<GWLAnalyticsConsentSink> sink) {
  platform::MutexLock lock(sinkLock_);
  sink_ = std::move(sink);
}

std::shared_ptr<GWLAnalyticsConsentSink> GWLAnalyticsConsent::sink() const {
  platform::MutexLock lock(sinkLock_);
  return sink_.lock();
}

void GWLAnalyticsConsent::setConsent(const platform::Dictionary& settings) {
  setConsent(settings, kGWLConsentSettingsKey);
}

void GWLAnalyticsConsent::setConsent(const platform::Dictionary& settings, const std::string& key) {
  int64_t source = kGWLConsentSource1P;
  if (key == kGWLConsentSettingsTCFKey) source = kGWLConsentSourceTCF;
  if (key == kGWLConsentSettings3PKey) source = kGWLConsentSource3P;

  platform::Dictionary kept;
  bool adUserDataWasDenied = false;
  {
    // Restore, check, merge and persist as one step, so that two calls on
    // different threads cannot both pass the check against the same old
    // source or persist each other's settings out of order.
    platform::MutexLock lock(lock_);
    if (GWLConsentSettingsUtil::consentSource() == kGWLConsentSourceNone) loadPersistedConsentSettingsLocked();
    kept = GWLConsentSettingsUtil::consentSettingsFromDictionary(settings);
    for (auto it = kept.begin(); it != kept.end();) {
      const std::string* value = it->second.stringValue();
      if (value && (*value == kGWLConsentStatusGranted || *value == kGWLConsentStatusDenied)) {
        ++it;
        continue;
      }
      monitor()->logWithLevel(kGWLLevelWarning, kGWLInvalidConsentValueCode, kGWLInvalidConsentValueMessage,
                              it->second);
      it = kept.erase(it);
    }
    if (kept.empty()) {
      monitor()->logWithLevel(kGWLLevelWarning, kGWLEmptyConsentCode, kGWLEmptyConsentMessage);
      return;
    }
    if (!GWLConsentSettingsUtil::isConsentSourceHigherPriority(source)) {
      monitor()->logWithLevel(kGWLLevelWarning, kGWLLowerPriorityConsentCode, kGWLLowerPriorityConsentMessage);
      return;
    }
    adUserDataWasDenied = GWLConsentSettingsUtil::isAdUserDataDenied();
    GWLConsentSettingsUtil::updateSettings(kept, source);
    persistConsentSettings(GWLConsentSettingsUtil::consentSettings(), source);
  }

  if (key == kGWLConsentSettings3PKey) {
    monitor()->logWithLevel(kGWLLevelVerbose, kGWLConsentDescriptionCode, GWLConsentSettingsUtil::description());
  }
  auto config = remoteConfig();
  const bool hasConsentDefaults = config && !config->consentDefaults().empty();
  auto handOn = sink();
  if (hasConsentDefaults && GWLConsentSettingsUtil::didAdUserDataConsentChange(adUserDataWasDenied) && handOn) {
    handOn->logInternalEvent(kOriginAuto, kGWLConsentChangedEventName,
                             platform::Dictionary{{kGWLConsentChangedReasonParameter, platform::Object(1)}});
  }
  if (kept.count(kGWLConsentTypeAdPersonalization)) {
    if (auto allowed = GWLConsentSettingsUtil::adPersonalization(); allowed && handOn) {
      handOn->setUserPropertyString(std::string(*allowed ? "YES" : "NO"), kGWLAllowPersonalizedAdsProperty);
    }
  }
}

void GWLAnalyticsConsent::loadPersistedConsentSettings() {
  platform::MutexLock lock(lock_);
  loadPersistedConsentSettingsLocked();
}

void GWLAnalyticsConsent::loadPersistedConsentSettingsLocked() {
  int64_t source = persistedConsentSource();
  if (source == kGWLConsentSourceNone) return;
  if (auto tcf = consentSettingsTCF()) {
    GWLConsentSettingsUtil::setConsentSettings(tcf);
    source = std::min(source, kGWLConsentSourceTCF);
  } else if (auto thirdParty = consentSettings3P()) {
    GWLConsentSettingsUtil::setConsentSettings(thirdParty);
    source = std::min(source, kGWLConsentSource3PRestored);
  } else if (auto firstParty = consentSettings1P()) {
    GWLConsentSettingsUtil::setConsentSettings(firstParty);
    source = std::min(source, kGWLConsentSource1PRestored);
  }
  GWLConsentSettingsUtil::setConsentSource(source);
}

void GWLAnalyticsConsent::persistConsentSettings(const std::optional<platform::Dictionary>& settings,
                                                 int64_t source) {
  const char* key = kGWLConsentSettingsKey;
  if (source == kGWLConsentSourceTCF) {
    key = kGWLConsentSettingsTCFKey;
  } else if (source < kFirst1PSource) {
    key = kGWLConsentSettings3PKey;
  }
  defaults_->setObject(settings ? platform::Object(*settings) : platform::Object(), key);
  defaults_->setInteger(source, kGWLConsentSourceKey);
}

int64_t GWLAnalyticsConsent::persistedConsentSource() const {
  auto value = defaults_->objectForKey(kGWLConsentSourceKey);
  if (!value) return kGWLConsentSourceNone;
  if (auto integer = value->intValue()) return *integer;
  if (auto real = value->doubleValue()) return GWLInt64FromDouble(*real);
  if (auto flag = value->boolValue()) return *flag ? 1 : 0;
  return kGWLConsentSourceNone;  // not a number: as if nothing were stored
}

std::optional<platform::Dictionary> GWLAnalyticsConsent::consentSettingsTCF() const {
  return defaults_->dictionaryForKey(kGWLConsentSettingsTCFKey);
}

std::optional<platform::Dictionary> GWLAnalyticsConsent::consentSettings3P() const {
  return defaults_->dictionaryForKey(kGWLConsentSettings3PKey);
}

std::optional<platform::Dictionary> GWLAnalyticsConsent::consentSettings1P() const {
  return defaults_->dictionaryForKey(kGWLConsentSettingsKey);
}

std::optional<platform::Dictionary> GWLAnalyticsConsent::consentSettings1PStart() const {
  return defaults_->dictionaryForKey(kGWLConsentSettingsOnStartKey);
}

void GWLAnalyticsConsent::setConsentSettings1PStart(const std::optional<platform::Dictionary>& settings) {
  defaults_->setObject(settings ? platform::Object(*settings) : platform::Object(), kGWLConsentSettingsOnStartKey);
}

bool GWLAnalyticsConsent::deferredResetOnDeniedConsent() const {
  return defaults_->boolForKey(kGWLDeferredConsentResetKey);
}

void GWLAnalyticsConsent::removeStartUpConsentSettings() { defaults_->removeObjectForKey(kGWLConsentSettingsOnStartKey); }

void GWLAnalyticsConsent::removeDeferredResetOnDeniedConsent() {
  defaults_->removeObjectForKey(kGWLDeferredConsentResetKey);
}

void GWLAnalyticsConsent::clearConsent() {
  platform::MutexLock lock(lock_);
  for (const char* key : {kGWLConsentSourceKey, kGWLConsentSettings3PKey, kGWLConsentSettingsKey,
                          kGWLConsentSettingsOnStartKey, kGWLDeferredConsentResetKey, kGWLConsentSettingsTCFKey}) {
    defaults_->removeObjectForKey(key);
  }
  GWLConsentSettingsUtil::clearAllSettings();
}
