#include "analytics/measurement/GWLIdentity.h"

#include <charconv>
#include <limits>

#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLAEU.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/core/GWLStringAdditions.h"
#include "analytics/foundation/experiments/GWLEExperimentRequestBuilder.h"
#include "analytics/measurement/GWLConsentSettingsUtil.h"
#include "analytics/measurement/GWLDefaultIdentitySupport.h"
#include "analytics/measurement/GWLHalcyraServiceFileUtil.h"
#include "platform/crypto/SecureRandom.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/env/AppEnvironment.h"
#include "platform/env/VendorIdentifier.h"
#include "platform/storage/Paths.h"
#include "platform/util/UUID.h"

namespace {

// The platform's tracking-authorisation statuses.
constexpr int64_t kPlatformStatusNotDetermined = 0;
constexpr int64_t kPlatformStatusRestricted = 1;
constexpr int64_t kPlatformStatusDenied = 2;
constexpr int64_t kPlatformStatusAuthorized = 3;

struct SharedIdentity {
  platform::Mutex mutex;
  bool made ABSL_GUARDED_BY(mutex) = false;
  std::shared_ptr<GWLIdentity> identity ABSL_GUARDED_BY(mutex);
};

SharedIdentity& sharedIdentity() {
  static SharedIdentity* shared = new SharedIdentity();  // never destroyed: queues may ask during exit
  return *shared;
}

uint64_t statusCode(int64_t platformStatus) {
  switch (platformStatus) {
    case kPlatformStatusNotDetermined: return kGWLAppleConsentStatusNotDetermined;
    case kPlatformStatusRestricted: return kGWLAppleConsentStatusRestricted;
    case kPlatformStatusDenied: return kGWLAppleConsentStatusDenied;
    case kPlatformStatusAuthorized: return kGWLAppleConsentStatusAuthorized;
    default: return kGWLAppleConsentStatusUnavailable;
  }
}

// A number's boolean value (a bool, or a number other than 0).
bool numberIsTrue(const platform::Object& number) {
  if (auto flag = number.boolValue()) return *flag;
  auto value = number.numberValue();
  return value && *value != 0;
}

std::optional<std::string> infoString(const platform::AppEnvironment& environment, const char* key) {
  const platform::Object* value = environment.objectForInfoDictionaryKey(key);
  if (!value || !value->stringValue()) return std::nullopt;
  return *value->stringValue();
}

std::optional<std::string> dataDirectoryVendorIdentifier() {
  auto paths = platform::Paths::current();
  if (!paths) return std::nullopt;
  return platform::VendorIdentifier::identifierForVendor(*paths, platform::SecureRandom::sharedInstance());
}

}  // namespace

// ---- creation ----

std::shared_ptr<GWLIdentity> GWLIdentity::sharedInstance() {
  auto& shared = sharedIdentity();
  std::shared_ptr<GWLIdentity> identity;
  {
    platform::MutexLock lock(shared.mutex);
    if (!shared.made) {
      shared.made = true;
      shared.identity = initWithPersistedConfig(GWLPersistedConfig::sharedInstance());
      if (shared.identity) GWLEExperimentRequestBuilder::sharedInstance()->setIdentity(shared.identity);
    }
    identity = shared.identity;
  }
  if (!identity) {
    GWLMeasurementRegistry::monitor()->logWithLevel(kGWLLevelErrorSilent, kGWLIdentitySharedInstanceNilCode,
                                                    kGWLIdentitySharedInstanceNilMessage);
  }
  return identity;
}

void GWLIdentity::resetSharedInstanceForTesting() {
  auto& shared = sharedIdentity();
  platform::MutexLock lock(shared.mutex);
  shared.made = false;
  shared.identity.reset();
}

std::shared_ptr<GWLIdentity> GWLIdentity::initWithPersistedConfig(std::shared_ptr<GWLPersistedConfig> persistedConfig,
                                                                  Dependencies dependencies) {
  if (!persistedConfig) {
    auto monitor = dependencies.monitor ? dependencies.monitor : GWLMeasurementRegistry::monitor();
    monitor->logWithLevel(kGWLLevelErrorSilent, kGWLIdentityWithoutPersistedConfigCode,
                          kGWLIdentityWithoutPersistedConfigMessage);
    return nullptr;
  }
  return std::shared_ptr<GWLIdentity>(new GWLIdentity(std::move(persistedConfig), std::move(dependencies)));
}

GWLIdentity::GWLIdentity(std::shared_ptr<GWLPersistedConfig> persistedConfig, Dependencies dependencies)
    : persistedConfig_(std::move(persistedConfig)), dependencies_(std::move(dependencies)) {
  identitySupport_ =
      dependencies_.identitySupport ? dependencies_.identitySupport : GWLDefaultIdentitySupport::sharedInstance();
  clock_ = dependencies_.clock ? dependencies_.clock : platform::Clock::system();
  if (!dependencies_.environment) dependencies_.environment = platform::AppEnvironment::shared();
  if (!dependencies_.identifierForVendor) dependencies_.identifierForVendor = dataDirectoryVendorIdentifier;
  queue_ = platform::SerialQueue::create(kGWLIdentityQueueLabel);
  const platform::AppEnvironment& environment = *dependencies_.environment;

  if (auto service = GWLHalcyraServiceFileUtil::dictionaryFromHalcyraServiceInfoPlist(environment);
      service && !service->empty()) {
    auto it = service->find(kGWLHalcyraAppIDKey);
    if (it != service->end() && it->second.stringValue()) appIDFromQRX_ = *it->second.stringValue();
  }

  if (const platform::Object* idfvSwitch = environment.objectForInfoDictionaryKey(kGWLIDFVCollectionEnabledInfoKey);
      idfvSwitch && idfvSwitch->isNumberOrBool()) {
    isIDFVCollectionEnabledNumber_ = *idfvSwitch;
    monitor()->logWithLevel(
        kGWLLevelDebug, kGWLIDFVCollectionSwitchCode,
        std::string(kGWLIDFVCollectionEnabledInfoKey) + " = " + (numberIsTrue(*idfvSwitch) ? "YES" : "NO"));
  }

  appID_ = environment.bundleIdentifier();
  appVersion_ = infoString(environment, platform::kCFBundleShortVersionStringKey);
  auto fields = numericFieldsFromAppVersionNumeric(infoString(environment, platform::kCFBundleVersionKey), *monitor());
  if (fields.size() > 0) appVersionMajor_ = fields[0];
  if (fields.size() > 1) appVersionMinor_ = fields[1];
  if (fields.size() > 2) appVersionRelease_ = fields[2];

  if (!persistedConfig_->appInstanceID() && !GWLConsentSettingsUtil::isAnalyticsStorageDenied()) {
    persistedConfig_->setAppInstanceID(randomAppInstanceID());
  }
}

// Lets the blocks already posted finish before the state they use goes.
GWLIdentity::~GWLIdentity() { queue_.reset(); }

std::shared_ptr<GWLMonitor> GWLIdentity::monitor() const {
  return dependencies_.monitor ? dependencies_.monitor : GWLMeasurementRegistry::monitor();
}

std::shared_ptr<GWLRemoteConfig> GWLIdentity::remoteConfig() const {
  auto config = dependencies_.remoteConfig ? dependencies_.remoteConfig() : GWLMeasurementRegistry::remoteConfig();
  return config ? config : GWLRemoteConfig::defaultInstance();
}

// ---- versions and new identifiers ----

int64_t GWLIdentity::gaugewellLibraryVersion() { return libraryVersionFromVersionText(kGWLLibraryVersionText); }

int64_t GWLIdentity::libraryVersionFromVersionText(const std::string& text) {
  if (text.size() < 4) return 0;
  const std::string number = text.substr(0, text.size() - 3);
  int64_t value = 0;
  auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  (void)end;
  return error == std::errc() ? value : 0;
}

std::string GWLIdentity::randomAppInstanceID() {
  std::string uuid = platform::randomUUIDString(platform::SecureRandom::sharedInstance());
  std::erase(uuid, '-');
  return uuid;
}

std::vector<int32_t> GWLIdentity::numericFieldsFromAppVersionNumeric(const std::optional<std::string>& text,
                                                                     GWLMonitor& monitor) {
  std::vector<int32_t> fields;
  if (!text) return fields;
  size_t start = 0;
  while (start <= text->size()) {
    size_t end = text->find('.', start);
    if (end == std::string::npos) end = text->size();
    const std::string_view piece(text->data() + start, end - start);
    start = end + 1;
    if (piece.empty()) continue;
    int64_t value = 0;
    bool nonNumeric = false;
    for (char c : piece) {
      if (c < '0' || c > '9') {
        nonNumeric = true;
        continue;
      }
      value = std::min<int64_t>(value * 10 + (c - '0'), std::numeric_limits<int32_t>::max());
    }
    if (nonNumeric) {
      monitor.logWithLevel(kGWLLevelWarningSilent, kGWLAppVersionNonNumericCode, kGWLAppVersionNonNumericMessage);
    }
    fields.push_back(static_cast<int32_t>(value));
  }
  return fields;
}

// ---- refresh ----

void GWLIdentity::updateIdentifiers() {
  std::weak_ptr<GWLIdentity> weakSelf = weak_from_this();
  queue_->async([weakSelf] {
    if (auto self = weakSelf.lock()) self->refreshOnQueue();
  });
}

void GWLIdentity::updateIdentifiersAndWait() {
  updateIdentifiers();
  queue_->sync([] {});
}

// The refresh, on the identity queue:
// 1. Due when there is no persisted app instance ID, no refresh ran yet, the
//    last one lies in the future, or adIDCacheTime seconds have passed.
// 2-4. Read the stored hash, limited ad tracking (not asked of the platform
//    while ad storage is denied) and the status code.
// 5. Ad storage denied: the advertising identifier is dropped and nothing is
//    fetched. Otherwise it is fetched when tracking is authorised or the
//    configuration does not gate it on the authorisation.
// 6. Nothing fetched: the previous identifier stays. The all-zero identifier
//    clears it. A new one (its MD5 differs from the stored hash) replaces the
//    app instance ID when a hash was stored before (the advertising ID was
//    reset) and sets the reset flag; either way its hash is stored.
// 7. Store: unless analytics storage is denied the app instance ID (a new one
//    when there is none); unless ad storage is denied the hash.
// 8. Keep the time, limited ad tracking, the identifier and the status.
void GWLIdentity::refreshOnQueue() {
  const double now = clock_->now();
  std::optional<std::string> appInstanceID = persistedConfig_->appInstanceID();
  auto config = remoteConfig();
  const bool due = !appInstanceID || !lastAppInstanceIDUpdateTimestamp_ || *lastAppInstanceIDUpdateTimestamp_ > now ||
                   now - *lastAppInstanceIDUpdateTimestamp_ >= config->adIDCacheTime();
  if (!due) return;

  std::optional<std::string> hash = persistedConfig_->hashedResettableDeviceID();
  std::optional<std::string> identifier = resettableDeviceID_;
  // While ad storage is denied the platform is not asked for the identifier
  // at all, not even to learn whether tracking is limited: it counts as limited.
  const bool adStorageDenied = GWLConsentSettingsUtil::isAdStorageDenied();
  const bool limited = adStorageDenied || identitySupport_->limitedAdTracking();
  uint64_t status = kGWLAppleConsentStatusUnavailable;
  bool authorized = false;
  if (!identitySupport_->hasLimitedAdTracking()) {
    status = kGWLAppleConsentStatusNoIdentifierManager;
  } else if (identitySupport_->hasAppDataConsentStatus()) {
    const int64_t platformStatus = identitySupport_->appDataConsentStatus();
    status = statusCode(platformStatus);
    authorized = platformStatus == kPlatformStatusAuthorized;
  }

  bool store = !appInstanceID;
  std::optional<std::string> fetched;
  if (adStorageDenied) {
    identifier.reset();
  } else if (authorized || !config->gateIDFAOnATTMASEnabled()) {
    fetched = identitySupport_->resettableDeviceID();
  }
  std::optional<std::string> digest = fetched ? gwl_MD5String(*fetched) : std::nullopt;
  if (!fetched || fetched->empty() || !digest) {
    // Nothing usable fetched: the identifier of the previous refresh stays.
  } else if (*fetched == kGWLZeroResettableDeviceID) {
    identifier.reset();
  } else {
    identifier = fetched;
    if (digest != hash) {
      if (hash) {
        appInstanceID = randomAppInstanceID();
        persistedConfig_->setShouldSetLastAdvertisingIDResetUserProperty(true);
      }
      hash = digest;
      store = true;
    }
  }
  if (store) {
    if (!GWLConsentSettingsUtil::isAnalyticsStorageDenied()) {
      if (!appInstanceID) appInstanceID = randomAppInstanceID();
      persistedConfig_->setAppInstanceID(appInstanceID);
    }
    if (!adStorageDenied) persistedConfig_->setHashedResettableDeviceID(hash);
  }

  lastAppInstanceIDUpdateTimestamp_ = now;
  limitedAdTracking_ = limited;
  resettableDeviceID_ = identifier;
  appleConsentStatus_ = status;
}

// ---- refreshed identifiers ----

uint64_t GWLIdentity::appleConsentStatus() {
  updateIdentifiers();
  uint64_t status = 0;
  queue_->sync([&] { status = appleConsentStatus_; });
  return status;
}

bool GWLIdentity::hasLimitedAdTracking() {
  updateIdentifiers();
  bool has = false;
  queue_->sync([&] { has = identitySupport_->hasLimitedAdTracking(); });
  return has;
}

bool GWLIdentity::limitedAdTracking() {
  updateIdentifiers();
  bool limited = true;
  queue_->sync([&] { limited = limitedAdTracking_; });
  return limited;
}

std::optional<std::string> GWLIdentity::resettableDeviceID() {
  updateIdentifiers();
  std::optional<std::string> identifier;
  queue_->sync([&] { identifier = resettableDeviceID_; });
  return identifier;
}

std::optional<std::string> GWLIdentity::appInstanceID() {
  if (GWLConsentSettingsUtil::isAnalyticsStorageDenied()) return std::nullopt;
  updateIdentifiers();
  std::optional<std::string> identifier;
  queue_->sync([&] { identifier = persistedConfig_->appInstanceID(); });
  return identifier;
}

std::optional<std::string> GWLIdentity::hashedResettableDeviceID() {
  if (GWLConsentSettingsUtil::isAdStorageDenied()) return std::nullopt;
  updateIdentifiers();
  std::optional<std::string> hash;
  queue_->sync([&] { hash = persistedConfig_->hashedResettableDeviceID(); });
  return hash;
}

std::optional<std::string> GWLIdentity::identifierForVendor() {
  auto advertisingID = resettableDeviceID();
  if (advertisingID && !advertisingID->empty()) return std::nullopt;
  if (isIDFVCollectionEnabledNumber_ && !numberIsTrue(*isIDFVCollectionEnabledNumber_)) return std::nullopt;
  if (GWLConsentSettingsUtil::isAnalyticsStorageDenied()) return std::nullopt;
  std::optional<std::string> stored;
  queue_->sync([&] { stored = identifierForVendorString_; });
  if (stored) return stored;
  // Read here, on the calling thread: the identity never waits for another thread to read it.
  std::optional<std::string> read = dependencies_.identifierForVendor();
  if (read) {
    std::weak_ptr<GWLIdentity> weakSelf = weak_from_this();
    queue_->async([weakSelf, read] {
      auto self = weakSelf.lock();
      if (self && !self->identifierForVendorString_) self->identifierForVendorString_ = read;
    });
  }
  return read;
}

// ---- the platform app ID and persisted values ----

std::optional<std::string> GWLIdentity::appIDFromQRX() const {
  std::optional<std::string> appID;
  queue_->sync([&] { appID = appIDFromQRX_; });
  return appID;
}

void GWLIdentity::setAppIDFromQRX(const std::optional<std::string>& appID) {
  if (!appID || appID->empty()) {
    monitor()->logWithLevel(kGWLLevelErrorSilent, kGWLEmptyAppIDFromQRXCode, kGWLEmptyAppIDFromQRXMessage);
    return;
  }
  if (appIDFromQRXWasSet_.exchange(true)) return;
  std::weak_ptr<GWLIdentity> weakSelf = weak_from_this();
  queue_->async([weakSelf, appID] {
    if (auto self = weakSelf.lock()) self->appIDFromQRX_ = appID;
  });
}

void GWLIdentity::setAppInstanceID(const std::optional<std::string>& appInstanceID) {
  std::shared_ptr<GWLPersistedConfig> persisted = persistedConfig_;
  queue_->async([persisted, appInstanceID] { persisted->setAppInstanceID(appInstanceID); });
}

bool GWLIdentity::shouldSetLastAdvertisingIDResetUserProperty() const {
  bool flag = false;
  queue_->sync([&] { flag = persistedConfig_->shouldSetLastAdvertisingIDResetUserProperty(); });
  return flag;
}

void GWLIdentity::setShouldSetLastAdvertisingIDResetUserProperty(bool value) {
  std::shared_ptr<GWLPersistedConfig> persisted = persistedConfig_;
  queue_->async([persisted, value] { persisted->setShouldSetLastAdvertisingIDResetUserProperty(value); });
}

bool GWLIdentity::isFromAppStore() const { return GWLAEU::isFAS(); }

// ---- session stitching, ephemeral ID, diversion key ----

std::optional<std::string> GWLIdentity::sessionStitchingToken(int64_t sessionNumber, bool sessionExpired,
                                                              bool userIDAvailable) {
  std::optional<std::string> token;
  queue_->sync([&] {
    if (GWLConsentSettingsUtil::isAnalyticsStorageDenied()) return;
    // A new session right after an expired one keeps the token; any other
    // change of session or expiry clears it.
    const bool followsExpiredSession =
        lastIsSessionExpired_ && !sessionExpired && sessionNumber == lastSessionNumber_ + 1;
    if ((sessionNumber != lastSessionNumber_ || sessionExpired != lastIsSessionExpired_) && !followsExpiredSession) {
      resetSessionStitchingTokenOnQueue();
    }
    lastSessionNumber_ = sessionNumber;
    lastIsSessionExpired_ = sessionExpired;
    const double now = clock_->now();
    if (!userIDAvailable && sessionStitchingTokenExpirationTime_ && *sessionStitchingTokenExpirationTime_ <= now) {
      resetSessionStitchingTokenOnQueue();
    }
    if (!sessionStitchingToken_) {
      sessionStitchingToken_ = randomAppInstanceID();
      if (!userIDAvailable) sessionStitchingTokenExpirationTime_ = now + kGWLSessionStitchingTokenLifetime;
    }
    token = sessionStitchingToken_;
  });
  return token;
}

void GWLIdentity::resetSessionStitchingToken() {
  std::weak_ptr<GWLIdentity> weakSelf = weak_from_this();
  queue_->async([weakSelf] {
    if (auto self = weakSelf.lock()) self->resetSessionStitchingTokenOnQueue();
  });
}

void GWLIdentity::resetSessionStitchingTokenOnQueue() {
  sessionStitchingToken_.reset();
  sessionStitchingTokenExpirationTime_.reset();
}

std::string GWLIdentity::ephemeralAppInstanceID() {
  std::string identifier;
  queue_->sync([&] {
    if (!ephemeralAppInstanceID_) ephemeralAppInstanceID_ = randomAppInstanceID();
    identifier = *ephemeralAppInstanceID_;
  });
  return identifier;
}

void GWLIdentity::resetEphemeralAppInstanceID() {
  std::weak_ptr<GWLIdentity> weakSelf = weak_from_this();
  queue_->async([weakSelf] {
    if (auto self = weakSelf.lock()) self->ephemeralAppInstanceID_.reset();
  });
}

std::optional<std::string> GWLIdentity::diversionKey() const {
  std::optional<std::string> key;
  queue_->sync([&] {
    key = persistedConfig_->diversionKey();
    if (key && gwl_UTF32Length(*key) == kGWLDiversionKeyLength) return;
    key = randomAppInstanceID().substr(0, kGWLDiversionKeyLength);
    persistedConfig_->setDiversionKey(key);
  });
  return key;
}

// ---- installation ID ----

std::optional<std::string> GWLIdentity::corvaneInstallationID() const {
  platform::MutexLock lock(installationIDMutex_);
  return corvaneInstallationID_;
}

void GWLIdentity::setCorvaneInstallationID(const std::optional<std::string>& installationID) {
  platform::MutexLock lock(installationIDMutex_);
  corvaneInstallationID_ = installationID;
}
