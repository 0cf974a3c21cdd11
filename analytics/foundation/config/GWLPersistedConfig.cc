#include "analytics/foundation/config/GWLPersistedConfig.h"

#include "analytics/foundation/config/GWLPersistentDictionary.h"
#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/core/GWLPaths.h"
#include "analytics/foundation/core/GWLUserDefaults.h"
#include "platform/crypto/SecureRandom.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/NotificationCenter.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Timer.h"
#include "platform/storage/PropertyList.h"

namespace {

constexpr int64_t kSharedInstanceNilCode = 27001;
constexpr const char* kSharedInstanceNilMessage = "PersistedConfig's shared instance is nil";
constexpr int64_t kUnsupportedDictionaryCode = 27002;
constexpr const char* kUnsupportedDictionaryMessage = "Unsupported value passed in dictionary";

constexpr double kSynchronizeDelaySeconds = 1.0;
constexpr uint64_t kMillisecondsPerDay = 86400000;

struct SharedState {
  platform::Mutex mutex;
  bool made ABSL_GUARDED_BY(mutex) = false;
  std::shared_ptr<GWLPersistedConfig> instance ABSL_GUARDED_BY(mutex);
};

SharedState& sharedState() {
  static SharedState* state = new SharedState();
  return *state;
}


}  // namespace

std::shared_ptr<GWLPersistedConfig> GWLPersistedConfig::sharedInstance() {
  std::shared_ptr<GWLPersistedConfig> instance;
  {
    auto& state = sharedState();
    platform::MutexLock lock(state.mutex);
    if (!state.made) {
      state.made = true;
      state.instance = create(kGWLPersistedConfigSuiteName);
    }
    instance = state.instance;
  }
  if (!instance) {
    GWLLibraryMonitor::monitor()->logWithLevel(kGWLLevelErrorSampled, kSharedInstanceNilCode,
                                               kSharedInstanceNilMessage);
  }
  return instance;
}

void GWLPersistedConfig::resetSharedInstanceForTesting() {
  std::shared_ptr<GWLPersistedConfig> previous;
  auto& state = sharedState();
  platform::MutexLock lock(state.mutex);
  state.made = false;
  previous = std::move(state.instance);
}

std::shared_ptr<GWLPersistedConfig> GWLPersistedConfig::create(const std::string& suiteName,
                                                               Dependencies dependencies) {
  if (suiteName.empty()) return nullptr;
  return std::shared_ptr<GWLPersistedConfig>(new GWLPersistedConfig(suiteName, std::move(dependencies)));
}

GWLPersistedConfig::GWLPersistedConfig(std::string name, Dependencies dependencies)
    : name_(std::move(name)), dependencies_(std::move(dependencies)) {
  if (!dependencies_.clock) dependencies_.clock = platform::Clock::system();
  if (!dependencies_.randomBelow) {
    dependencies_.randomBelow = [](uint64_t bound) { return platform::SecureRandom::sharedInstance().uniform(bound); };
  }
  if (!dependencies_.sharedUserDefaults) dependencies_.sharedUserDefaults = GWLUserDefaults::sharedUserDefaults();
  // Where the file cannot be moved the settings start from the new place: nothing to undo.
  (void)GWLMoveSuitePlistToMeasurementDirectory(name_);
  userDefaults_ = GWLPersistentDictionary::create(name_, dependencies_.clock, dependencies_.notificationCenter);
  serialQueue_ = platform::SerialQueue::create("GWLPersistedConfig");
}

GWLPersistedConfig::~GWLPersistedConfig() { cancelScheduledSynchronize(); }

std::shared_ptr<GWLMonitor> GWLPersistedConfig::monitor() const {
  return dependencies_.monitor ? dependencies_.monitor : GWLLibraryMonitor::monitor();
}

void GWLPersistedConfig::clearValues() {
  serialQueue_->sync([&] {
    if (userDefaults_) userDefaults_->clearAllData();
    midnightOffsetWithoutStore_ = -1;
  });
}

// ---- generic access ----

bool GWLPersistedConfig::boolForKey(const std::string& key) const {
  if (key.empty()) return false;
  bool value = false;
  serialQueue_->sync([&] { value = userDefaults_ && userDefaults_->boolForKey(key); });
  return value;
}

int64_t GWLPersistedConfig::int64ForKey(const std::string& key) const {
  int64_t value = 0;
  serialQueue_->sync([&] { value = userDefaults_ ? userDefaults_->integerForKey(key) : 0; });
  return value;
}

int64_t GWLPersistedConfig::int64ForKey(const std::string& key, const GWLUserDefaults& userDefault) const {
  int64_t value = 0;
  serialQueue_->sync([&] { value = userDefault.integerForKey(key); });
  return value;
}

double GWLPersistedConfig::doubleForKey(const std::string& key) const {
  if (key.empty()) return 0;
  double value = 0;
  serialQueue_->sync([&] { value = userDefaults_ ? userDefaults_->doubleForKey(key) : 0; });
  return value;
}

std::optional<std::string> GWLPersistedConfig::stringForKey(const std::string& key) const {
  if (key.empty()) return std::nullopt;
  std::optional<std::string> value;
  serialQueue_->sync([&] {
    if (userDefaults_) value = userDefaults_->stringForKey(key);
  });
  return value;
}

std::optional<platform::Dictionary> GWLPersistedConfig::dictionaryForKey(const std::string& key) const {
  if (key.empty()) return std::nullopt;
  std::optional<platform::Dictionary> value;
  serialQueue_->sync([&] {
    if (userDefaults_) value = userDefaults_->dictionaryForKey(key);
  });
  return value;
}

std::optional<platform::Object> GWLPersistedConfig::numberForKey(const std::string& key) const {
  return objectOnQueue(key);
}

std::optional<platform::Object> GWLPersistedConfig::objectOnQueue(const std::string& key) const {
  std::optional<platform::Object> value;
  serialQueue_->sync([&] {
    if (userDefaults_) value = userDefaults_->objectForKey(key);
  });
  return value;
}

void GWLPersistedConfig::setObjectOnQueue(const platform::Object& value, const std::string& key,
                                          bool requestSynchronize) {
  serialQueue_->sync([&] {
    if (userDefaults_) userDefaults_->setObject(value, key);
  });
  if (requestSynchronize) scheduleSynchronizeToDisk();
}

void GWLPersistedConfig::setBool(bool value, const std::string& key) { setObjectOnQueue(value, key, true); }

void GWLPersistedConfig::setInt64(int64_t value, const std::string& key) { setObjectOnQueue(value, key, true); }

void GWLPersistedConfig::setDouble(double value, const std::string& key) { setObjectOnQueue(value, key, true); }

void GWLPersistedConfig::setString(const std::optional<std::string>& value, const std::string& key) {
  setObjectOnQueue(value ? platform::Object(*value) : platform::Object(), key, true);
}

void GWLPersistedConfig::setDictionary(const std::optional<platform::Dictionary>& value, const std::string& key) {
  platform::Object object = value ? platform::Object(*value) : platform::Object();
  if (value && !platform::PropertyList::isValid(object)) {
    monitor()->logWithLevel(kGWLLevelErrorSampled, kUnsupportedDictionaryCode, kUnsupportedDictionaryMessage);
    return;
  }
  setObjectOnQueue(object, key, true);
}

void GWLPersistedConfig::setNumber(const platform::Object& value, const std::string& key) {
  setObjectOnQueue(value, key, true);
}

// ---- settings with their own rules ----

std::optional<platform::Object> GWLPersistedConfig::searchAdCampaignValue() const {
  return userDefaults_ ? userDefaults_->objectForKey(kGWLPersistedConfigIsSearchAdCampaignKey) : std::nullopt;
}

void GWLPersistedConfig::setSearchAdCampaignValue(const platform::Object& value) {
  if (!value.isNumberOrBool() || !userDefaults_) return;
  userDefaults_->setObject(value, kGWLPersistedConfigIsSearchAdCampaignKey);
}

int64_t GWLPersistedConfig::measurementEnabledState() const {
  return int64ForKey(kGWLPersistedConfigMeasurementEnabledStateKey, *dependencies_.sharedUserDefaults);
}

void GWLPersistedConfig::setMeasurementEnabledState(int64_t value) {
  serialQueue_->sync([&] {
    dependencies_.sharedUserDefaults->setInteger(value, kGWLPersistedConfigMeasurementEnabledStateKey);
    (void)dependencies_.sharedUserDefaults->synchronize();  // reports its own failure
  });
}

double GWLPersistedConfig::midnightOffset() {
  double offset = 0;
  bool drawn = false;
  // Read, drawn and stored in one block on the settings queue, so two first
  // readers on different threads cannot draw two offsets.
  serialQueue_->sync([&] {
    auto stored = userDefaults_ ? userDefaults_->objectForKey(kGWLPersistedConfigMidnightOffsetKey) : std::nullopt;
    if (stored && stored->isNumber()) {
      offset = *stored->numberValue();
      return;
    }
    if (!userDefaults_ && midnightOffsetWithoutStore_ >= 0) {
      offset = midnightOffsetWithoutStore_;
      return;
    }
    offset = static_cast<double>(dependencies_.randomBelow(kMillisecondsPerDay)) / 1000.0;
    if (userDefaults_) {
      userDefaults_->setDouble(offset, kGWLPersistedConfigMidnightOffsetKey);
    } else {
      midnightOffsetWithoutStore_ = offset;
    }
    drawn = true;
  });
  if (drawn) scheduleSynchronizeToDisk();
  return offset;
}

// ---- synchronisation ----

void GWLPersistedConfig::cancelScheduledSynchronize() {
  std::shared_ptr<platform::Timer> pending;
  {
    platform::MutexLock lock(lock_);
    pending = std::move(synchronizeBlock_);
  }
  if (pending) pending->cancel();
}

void GWLPersistedConfig::scheduleSynchronizeToDisk() {
  cancelScheduledSynchronize();
  std::weak_ptr<GWLPersistedConfig> weakSelf = weak_from_this();
  platform::MutexLock lock(lock_);
  synchronizeBlock_ = platform::Timer::schedule(dependencies_.clock, serialQueue_, kSynchronizeDelaySeconds, [weakSelf] {
    if (auto self = weakSelf.lock()) self->synchronizeToDisk();
  });
}

void GWLPersistedConfig::synchronizeToDisk() {
  if (platform::MainQueue::isMainThread()) {
    scheduleSynchronizeToDisk();
    return;
  }
  if (userDefaults_) (void)userDefaults_->synchronize();  // reports its own failure
}

// ---- settings read and written as they stand ----

double GWLPersistedConfig::lastDeleteStaleBundlesTimestamp() const { return doubleForKey(kGWLPersistedConfigLastDeleteStaleKey); }
void GWLPersistedConfig::setLastDeleteStaleBundlesTimestamp(double value) { setDouble(value, kGWLPersistedConfigLastDeleteStaleKey); }

double GWLPersistedConfig::lastSearchAdLookUpTimestamp() const { return doubleForKey(kGWLPersistedConfigSearchAdLastAttemptTimestampKey); }
void GWLPersistedConfig::setLastSearchAdLookUpTimestamp(double value) { setDouble(value, kGWLPersistedConfigSearchAdLastAttemptTimestampKey); }

int64_t GWLPersistedConfig::searchAdRetryCount() const { return int64ForKey(kGWLPersistedConfigSearchAdNumberOfRetriesKey); }
void GWLPersistedConfig::setSearchAdRetryCount(int64_t value) { setInt64(value, kGWLPersistedConfigSearchAdNumberOfRetriesKey); }

std::optional<std::string> GWLPersistedConfig::appInstanceID() const { return stringForKey(kGWLPersistedConfigAppInstanceIdKey); }
void GWLPersistedConfig::setAppInstanceID(const std::optional<std::string>& value) { setString(value, kGWLPersistedConfigAppInstanceIdKey); }

std::optional<std::string> GWLPersistedConfig::appIDFromQRX() const { return stringForKey(kGWLPersistedConfigQrxAppIdKey); }
void GWLPersistedConfig::setAppIDFromQRX(const std::optional<std::string>& value) { setString(value, kGWLPersistedConfigQrxAppIdKey); }

std::optional<std::string> GWLPersistedConfig::appIDFromPelmo() const { return stringForKey(kGWLPersistedConfigPelmoAppIdKey); }
void GWLPersistedConfig::setAppIDFromPelmo(const std::optional<std::string>& value) { setString(value, kGWLPersistedConfigPelmoAppIdKey); }

std::optional<std::string> GWLPersistedConfig::hashedResettableDeviceID() const { return stringForKey(kGWLPersistedConfigHashedIdfaKey); }
void GWLPersistedConfig::setHashedResettableDeviceID(const std::optional<std::string>& value) { setString(value, kGWLPersistedConfigHashedIdfaKey); }

std::optional<std::string> GWLPersistedConfig::diversionKey() const { return stringForKey(kGWLPersistedConfigDiversionKeyKey); }
void GWLPersistedConfig::setDiversionKey(const std::optional<std::string>& value) { setString(value, kGWLPersistedConfigDiversionKeyKey); }

double GWLPersistedConfig::lastBackoffTimestamp() const { return doubleForKey(kGWLPersistedConfigLastBackoffKey); }
void GWLPersistedConfig::setLastBackoffTimestamp(double value) { setDouble(value, kGWLPersistedConfigLastBackoffKey); }

double GWLPersistedConfig::lastSuccessfulUploadTimestamp() const { return doubleForKey(kGWLPersistedConfigLastSuccessfulUploadKey); }
void GWLPersistedConfig::setLastSuccessfulUploadTimestamp(double value) { setDouble(value, kGWLPersistedConfigLastSuccessfulUploadKey); }

double GWLPersistedConfig::lastFailedUploadTimestamp() const { return doubleForKey(kGWLPersistedConfigLastFailedUploadKey); }
void GWLPersistedConfig::setLastFailedUploadTimestamp(double value) { setDouble(value, kGWLPersistedConfigLastFailedUploadKey); }

std::optional<std::string> GWLPersistedConfig::appVersion() const { return stringForKey(kGWLPersistedConfigAppVersionKey); }
void GWLPersistedConfig::setAppVersion(const std::optional<std::string>& value) { setString(value, kGWLPersistedConfigAppVersionKey); }

std::optional<std::string> GWLPersistedConfig::osVersion() const { return stringForKey(kGWLPersistedConfigOsVersionKey); }
void GWLPersistedConfig::setOSVersion(const std::optional<std::string>& value) { setString(value, kGWLPersistedConfigOsVersionKey); }

double GWLPersistedConfig::lastMonitorDataSampledTimestamp() const { return doubleForKey(kGWLPersistedConfigLastMonitorDataSampledTimestampKey); }
void GWLPersistedConfig::setLastMonitorDataSampledTimestamp(double value) { setDouble(value, kGWLPersistedConfigLastMonitorDataSampledTimestampKey); }

int64_t GWLPersistedConfig::firstOpenTimestampMilliseconds() const { return int64ForKey(kGWLPersistedConfigFirstOpenTimestampMsKey); }
void GWLPersistedConfig::setFirstOpenTimestampMilliseconds(int64_t value) { setInt64(value, kGWLPersistedConfigFirstOpenTimestampMsKey); }

std::optional<std::string> GWLPersistedConfig::configServerLastModifiedString() const {
  auto value = objectOnQueue(kGWLPersistedConfigLastModifiedSinceKeyKey);
  if (!value || !value->stringValue()) return std::nullopt;
  return *value->stringValue();
}
void GWLPersistedConfig::setConfigServerLastModifiedString(const std::optional<std::string>& value) { setString(value, kGWLPersistedConfigLastModifiedSinceKeyKey); }

std::optional<std::string> GWLPersistedConfig::configServerETag() const { return stringForKey(kGWLPersistedConfigConfigEtagKey); }
void GWLPersistedConfig::setConfigServerETag(const std::optional<std::string>& value) { setString(value, kGWLPersistedConfigConfigEtagKey); }

int64_t GWLPersistedConfig::configQRXVersion() const { return int64ForKey(kGWLPersistedConfigConfigQrxVersionKey); }
void GWLPersistedConfig::setConfigQRXVersion(int64_t value) { setInt64(value, kGWLPersistedConfigConfigQrxVersionKey); }

std::optional<platform::Object> GWLPersistedConfig::loadTimestampValue() const { return objectOnQueue(kGWLPersistedConfigLoadTimestampKey); }
void GWLPersistedConfig::setLoadTimestampValue(const platform::Object& value) { setObjectOnQueue(value, kGWLPersistedConfigLoadTimestampKey, false); }

std::optional<platform::Object> GWLPersistedConfig::allowPersonalizedAds() const { return objectOnQueue(kGWLPersistedConfigAllowPersonalizedAdsKey); }
void GWLPersistedConfig::setAllowPersonalizedAds(const platform::Object& value) { setObjectOnQueue(value, kGWLPersistedConfigAllowPersonalizedAdsKey, false); }

std::optional<std::string> GWLPersistedConfig::corvaneFeatureRollouts() const { return stringForKey(kGWLPersistedConfigCorvaneFeatureRolloutsKey); }
void GWLPersistedConfig::setCorvaneFeatureRollouts(const std::optional<std::string>& value) { setString(value, kGWLPersistedConfigCorvaneFeatureRolloutsKey); }

std::optional<platform::Object> GWLPersistedConfig::deferredDeepLinkRetrievalComplete() const { return objectOnQueue(kGWLPersistedConfigDeepLinkRetrievalCompleteKey); }
void GWLPersistedConfig::setDeferredDeepLinkRetrievalComplete(const platform::Object& value) { setObjectOnQueue(value, kGWLPersistedConfigDeepLinkRetrievalCompleteKey, false); }

int64_t GWLPersistedConfig::deferredDeepLinkRetryCount() const { return int64ForKey(kGWLPersistedConfigDeepLinkRetryCountKey); }
void GWLPersistedConfig::setDeferredDeepLinkRetryCount(int64_t value) { setInt64(value, kGWLPersistedConfigDeepLinkRetryCountKey); }

bool GWLPersistedConfig::shouldSetLastAdvertisingIDResetUserProperty() const { return int64ForKey(kGWLPersistedConfigSetLastAdvertisingIdResetKey) != 0; }
void GWLPersistedConfig::setShouldSetLastAdvertisingIDResetUserProperty(bool value) { setInt64(value ? 1 : 0, kGWLPersistedConfigSetLastAdvertisingIdResetKey); }

bool GWLPersistedConfig::unmatchedFirstOpenWithoutIDFA() const { return int64ForKey(kGWLPersistedConfigUnmatchedFirstOpenKey) != 0; }
void GWLPersistedConfig::setUnmatchedFirstOpenWithoutIDFA(bool value) { setInt64(value ? 1 : 0, kGWLPersistedConfigUnmatchedFirstOpenKey); }

std::optional<platform::Object> GWLPersistedConfig::previousFirstOpenCount() const { return numberForKey(kGWLPersistedConfigPreviousFirstOpenCountKey); }
void GWLPersistedConfig::setPreviousFirstOpenCount(const platform::Object& value) { setNumber(value, kGWLPersistedConfigPreviousFirstOpenCountKey); }

std::optional<std::string> GWLPersistedConfig::previousBundledConsentSignals() const { return stringForKey(kGWLPersistedConfigPreviousBundledConsentSignalsKey); }
void GWLPersistedConfig::setPreviousBundledConsentSignals(const std::optional<std::string>& value) { setString(value, kGWLPersistedConfigPreviousBundledConsentSignalsKey); }

std::optional<platform::Object> GWLPersistedConfig::adCampaignInfoBuffer() const { return objectOnQueue(kGWLPersistedConfigAdCampaignInfoBufferKey); }
void GWLPersistedConfig::setAdCampaignInfoBuffer(const platform::Object& value) { setObjectOnQueue(value, kGWLPersistedConfigAdCampaignInfoBufferKey, true); }

std::optional<platform::Object> GWLPersistedConfig::PSMHashedInputData() const { return objectOnQueue(kGWLPersistedConfigPsmHashedInputDataKey); }
void GWLPersistedConfig::setPSMHashedInputData(const platform::Object& value) { setObjectOnQueue(value, kGWLPersistedConfigPsmHashedInputDataKey, true); }

int64_t GWLPersistedConfig::PSMInputType() const { return int64ForKey(kGWLPersistedConfigPsmInputTypeKey); }
void GWLPersistedConfig::setPSMInputType(int64_t value) { setInt64(value, kGWLPersistedConfigPsmInputTypeKey); }

std::optional<platform::Object> GWLPersistedConfig::PSMCurrentDay() const { return numberForKey(kGWLPersistedConfigPsmCurrentDayKey); }
void GWLPersistedConfig::setPSMCurrentDay(const platform::Object& value) { setNumber(value, kGWLPersistedConfigPsmCurrentDayKey); }

double GWLPersistedConfig::lastSessionActivityClockTime() const { return doubleForKey(kGWLPersistedConfigLastEngagementEndKey); }
void GWLPersistedConfig::setLastSessionActivityClockTime(double value) { setDouble(value, kGWLPersistedConfigLastEngagementEndKey); }

int64_t GWLPersistedConfig::sessionNumber() const { return int64ForKey(kGWLPersistedConfigSessionNumberKey); }
void GWLPersistedConfig::setSessionNumber(int64_t value) { setInt64(value, kGWLPersistedConfigSessionNumberKey); }

std::optional<platform::Object> GWLPersistedConfig::sessionTimeoutValue() const { return numberForKey(kGWLPersistedConfigSessionTimeoutKey); }
void GWLPersistedConfig::setSessionTimeoutValue(const platform::Object& value) { setNumber(value, kGWLPersistedConfigSessionTimeoutKey); }

std::optional<platform::Dictionary> GWLPersistedConfig::defaultEventParameters() const { return dictionaryForKey(kGWLPersistedConfigDefaultEventParametersKey); }
void GWLPersistedConfig::setDefaultEventParameters(const std::optional<platform::Dictionary>& value) { setDictionary(value, kGWLPersistedConfigDefaultEventParametersKey); }

int64_t GWLPersistedConfig::lastUploadedEventTimestampMillis() const { return int64ForKey(kGWLPersistedConfigLastUploadedEventMillisKey); }
void GWLPersistedConfig::setLastUploadedEventTimestampMillis(int64_t value) { setInt64(value, kGWLPersistedConfigLastUploadedEventMillisKey); }

int64_t GWLPersistedConfig::SKANEvaluationEventTimeMillis() const { return int64ForKey(kGWLPersistedConfigSkanEvaluationEventTimeMillisKey); }
void GWLPersistedConfig::setSKANEvaluationEventTimeMillis(int64_t value) { setInt64(value, kGWLPersistedConfigSkanEvaluationEventTimeMillisKey); }

int64_t GWLPersistedConfig::SKANEvaluationUpdateBackoffMillis() const { return int64ForKey(kGWLPersistedConfigSkanEvaluationUpdateBackoffMillisKey); }
void GWLPersistedConfig::setSKANEvaluationUpdateBackoffMillis(int64_t value) { setInt64(value, kGWLPersistedConfigSkanEvaluationUpdateBackoffMillisKey); }
