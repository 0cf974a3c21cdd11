// The engine's automatic events and internal user properties: the first
// open, session starts at launch, the session properties a session expiry
// removes, app and OS updates, "_npa" and the ad-personalisation consent it
// implies, consent defaults from the configuration, the legacy "_hbraid"
// property, the session-number backfill, and the first-open time.
#include <chrono>
#include <filesystem>
#include <limits>
#include <system_error>

#include "analytics/foundation/config/GWLDeepLinkHooks.h"
#include "analytics/foundation/config/GWLInstalledHook.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/config/GWLPurchaseHooks.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLAEU.h"
#include "analytics/foundation/core/GWLEnvironmentInfo.h"
#include "analytics/foundation/core/GWLMilliseconds.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/foundation/values/GWLEvent.h"
#include "analytics/foundation/values/GWLUserAttribute.h"
#include "analytics/measurement/GWLConsentSettingsUtil.h"
#include "analytics/measurement/GWLIdentity.h"
#include "analytics/measurement/GWLMeasurement.h"
#include "analytics/measurement/GWLSessionReporter.h"
#include "analytics/wire/GWLPBAdCampaignInfo.h"
#include "platform/storekit/SKAdNetwork.h"
#include "platform/text/BooleanText.h"

namespace {

using Report = GWLAnalyticsReport;

constexpr Report kFirstOpenQueryFailedReport{kGWLLevelErrorSampled, 23019,
                                             "Failed to query first open property. Error"};
constexpr Report kFirstOpenCheckFailedReport{kGWLLevelErrorSampled, 23020,
                                             "Failed to query first open property after setting it. Error"};
constexpr Report kFirstOpenNotSetReport{kGWLLevelErrorSampled, 23021, "Failed to set first open property"};
constexpr Report kFileAttributesReport{kGWLLevelWarningSilent, 23022,
                                       "Unable to read attributes of path. Path, error"};
constexpr Report kSessionAggregatesReport{kGWLLevelErrorSampled, 23063,
                                          "Unable to query event aggregates. Name, error"};
constexpr Report kUserPropertiesReadReport{kGWLLevelErrorSampled, 23123,
                                           "Unable to query current user properties. Error"};
constexpr Report kNoUserPropertiesReport{kGWLLevelErrorSilent, 23124,
                                         "Cannot extract first open timestamp. Empty user properties"};
constexpr Report kFirstInstallCheckFailedReport{
    kGWLLevelErrorSampled, 23161, "Failed to query first open after install property after setting it. Error"};
constexpr Report kFirstInstallNotSetReport{kGWLLevelErrorSampled, 23162,
                                           "Failed to set first open after install property"};
constexpr Report kNPAReadFailedReport{kGWLLevelErrorSampled, 23172, "Unable to read personalized ads user property. Error"};
constexpr Report kNPARemoveFailedReport{kGWLLevelErrorSampled, 23173,
                                        "Unable to remove personalized ads user property in the database. Error"};
constexpr Report kSessionIDRemoveFailedReport{
    kGWLLevelErrorSilent, 23177, "Failed to remove session ID user property on session expiration. Error"};
constexpr Report kSessionNumberRemoveFailedReport{
    kGWLLevelErrorSilent, 23178, "Failed to remove session number user property on session expiration. Error"};
constexpr Report kNPARemovedReport{kGWLLevelWarningSampled, 23180,
                                   "No value set for personalized ads. Removing user property."};
constexpr Report kSessionEngagementRemoveFailedReport{
    kGWLLevelErrorSilent, 23192,
    "Failed to remove session user engagement user property on session expiration. Error"};
constexpr Report kAdNetworkOptOutReport{kGWLLevelDebug, 23217, "Opted out of registration for ad network attribution"};

// Events, properties and parameters.
constexpr const char* kFirstOpenEventName = "_f";
constexpr const char* kAppUpdateEventName = "_au";
constexpr const char* kOSUpdateEventName = "_ou";
constexpr const char* kFirstOpenTimeProperty = "_fot";
constexpr const char* kFirstOpenAfterInstallProperty = "_fi";
constexpr const char* kSessionEngagementProperty = "_se";
constexpr const char* kLegacyHBRAIDProperty = "_hbraid";
constexpr const char* kPreviousQRXAppIDParameter = "_pqrx";
constexpr const char* kPreviousFirstOpenCountParameter = "_pfo";
constexpr const char* kUpdatedWithoutAppParameter = "_uwa";
constexpr const char* kDeferredCollectionParameter = "_dac";
constexpr const char* kEventLoggedTimeParameter = "_elt";
constexpr const char* kPreviousVersionParameter = "_pv";
constexpr const char* kPreviousOSVersionParameter = "_po";

// Keys of the file attributes.
constexpr const char* kFileTypeAttribute = "NSFileType";
constexpr const char* kFileSizeAttribute = "NSFileSize";
constexpr const char* kFileModificationDateAttribute = "NSFileModificationDate";
constexpr const char* kFilePosixPermissionsAttribute = "NSFilePosixPermissions";
constexpr const char* kFileTypeRegular = "NSFileTypeRegular";
constexpr const char* kFileTypeDirectory = "NSFileTypeDirectory";
constexpr const char* kFileTypeSymbolicLink = "NSFileTypeSymbolicLink";
constexpr const char* kFileTypeUnknown = "NSFileTypeUnknown";

constexpr int64_t kMillisecondsPerHour = 3600000;

// Whether a database call filled its error: an answer of "none" then means failure.
bool failed(const platform::Error& error) { return !error.domain.empty() || error.code != 0; }

// The stored property of that name: null when there is none, nullopt (with
// `error` filled) when the question failed.
std::optional<std::shared_ptr<GWLUserAttribute>> storedUserAttribute(GWLDatabase& database, const std::string& name,
                                                                     platform::Error* error) {
  platform::Error failure;
  auto attribute = database.userAttributeWithName(name, &failure);
  if (!attribute && failed(failure)) {
    platform::setError(error, std::move(failure));
    return std::nullopt;
  }
  return attribute;
}

platform::Dictionary dictionaryOf(const std::map<std::string, std::string>& settings) {
  platform::Dictionary result;
  for (const auto& [name, value] : settings) result.emplace(name, value);
  return result;
}

const char* fileTypeName(std::filesystem::file_type type) {
  switch (type) {
    case std::filesystem::file_type::regular:
      return kFileTypeRegular;
    case std::filesystem::file_type::directory:
      return kFileTypeDirectory;
    case std::filesystem::file_type::symlink:
      return kFileTypeSymbolicLink;
    default:
      return kFileTypeUnknown;
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// First open

void GWLMeasurement::reportFirstOpenOnWorkerQueue() {
  GWLScheduler::checkOnBackgroundThreadWithMethodName("reportFirstOpenOnWorkerQueue");
  auto db = database();
  if (!db) {
    report(kFirstOpenQueryFailedReport, gwl_errorWithCode(kGWLErrorCodeOperationFailed, "Database not open"));
    return;
  }
  platform::Error error;
  const std::optional<bool> reported = db->containsUserAttributeWithName(kFirstOpenTimeProperty, &error);
  if (!reported) {
    report(kFirstOpenQueryFailedReport, error);
    return;
  }
  const std::optional<std::string> countText = previousFirstOpenCount();
  const int64_t previousFirstOpens = countText ? platform::integerValueOfText(*countText) : 0;
  auto entry = analytics();
  auto config = remoteConfig();
  auto reporter = sessionReporter();
  const double initTime = initTimestamp();

  if (*reported) {
    if (previousFirstOpens < 1) setPreviousFirstOpenCount("1");
    if (entry) entry->setDeferredAnalyticsCollection(false);
    if (GWLHasSceneManifest() && GWLIsActivePrewarm()) {
      reportSessionStartWhenSceneWillConnectOnWorkerQueue();
    } else if (GWLIsAppActive()) {
      reportSessionStartOnWorkerQueueWithTimestamp(initTime, false);
    } else if (reporter && reporter->isSessionExpired()) {
      removeSessionUserPropertiesOnWorkerQueue();
    }
    if (persistedConfig_) persistedConfig_->setLoadTimestampValue(platform::Object());
    return;
  }

  // 1. "_fi", dated at the first-open time stored by an earlier attempt when there is one.
  const int64_t firstInstall = previousFirstOpens >= 1 ? 1 : (isVersionSameAsOriginalVersion() ? 1 : 0);
  const int64_t storedFirstOpenMillis = persistedConfig_ ? persistedConfig_->firstOpenTimestampMilliseconds() : 0;
  const double firstInstallTime =
      storedFirstOpenMillis != 0 ? static_cast<double>(storedFirstOpenMillis) / 1000 : initTime;
  setUserAttributeOnWorkerQueue(GWLUserAttribute::initWithOrigin(
      kGWLOriginAuto, kFirstOpenAfterInstallProperty, GWLValue::initWithInt64(firstInstall), firstInstallTime));
  error = {};
  const std::optional<bool> firstInstallSet = db->containsUserAttributeWithName(kFirstOpenAfterInstallProperty, &error);
  if (!firstInstallSet) {
    report(kFirstInstallCheckFailedReport, error);
    return;
  }
  if (!*firstInstallSet) {
    report(kFirstInstallNotSetReport);
    return;
  }

  // 2. "_fot": the start time rounded up to the next full hour.
  const int64_t firstOpenMillis = GWLMillisecondsFromSeconds(initTime);
  setUserAttributeOnWorkerQueue(GWLUserAttribute::initWithOrigin(
      kGWLOriginAuto, kFirstOpenTimeProperty,
      GWLValue::initWithInt64(timestampMillisRoundedUpToNextHour(firstOpenMillis)), initTime));
  error = {};
  const std::optional<bool> firstOpenSet = db->containsUserAttributeWithName(kFirstOpenTimeProperty, &error);
  if (!firstOpenSet) {
    report(kFirstOpenCheckFailedReport, error);
    return;
  }
  if (!*firstOpenSet) {
    report(kFirstOpenNotSetReport);
    return;
  }

  // 3-4. "_f".
  const bool efficient = config->efficientEngagementReportingEnabled();
  GWLRawParameters parameters;
  if (auto previousAppID = previousQRXAppID(); previousAppID && !previousAppID->empty()) {
    parameters[kPreviousQRXAppIDParameter] = platform::Object(*previousAppID);
  }
  parameters[kPreviousFirstOpenCountParameter] = GWLValue::initWithInt64(previousFirstOpens < 1 ? 0 : previousFirstOpens);
  parameters[kUpdatedWithoutAppParameter] = GWLValue::initWithInt64(1 - firstInstall);
  if (entry && entry->deferredAnalyticsCollection().value_or(false)) {
    parameters[kDeferredCollectionParameter] = GWLValue::initWithInt64(1);
  }
  parameters[kEventLoggedTimeParameter] = GWLValue::initWithInt64(GWLMillisecondsFromSeconds(now()));
  if (efficient) parameters[kGWLEngagementTimeParameter] = GWLValue::initWithInt64(1);
  const GWLRawParameters screen = GWLRawParametersFromParameters(screenParameters());
  if (auto event = GWLEvent::initWithOrigin(std::string(kGWLOriginAuto), false, std::string(kFirstOpenEventName),
                                            initTime, 0, parameters, config->valueLimits())) {
    (void)event->addScreenParameters(screen);  // an event with screen parameters keeps its own
    handleInternalEventOnWorkerQueue(event);
  }

  // 5. The session at launch.
  if (entry) entry->setDeferredAnalyticsCollection(false);
  if (persistedConfig_) persistedConfig_->setLoadTimestampValue(platform::Object());
  if (GWLIsAppActive()) reportSessionStartOnWorkerQueueWithTimestamp(initTime, false);

  // 6. The first engagement.
  if (!config->redundantEngagementRemovalEnabled()) {
    GWLRawParameters engagement{{kGWLEngagementTimeParameter, GWLValue::initWithInt64(1)}};
    if (efficient) engagement[kGWLFreerideParameter] = GWLValue::initWithInt64(1);
    if (auto event = GWLEvent::initWithOrigin(std::string(kGWLOriginAuto), false,
                                              std::string(kGWLUserEngagementEventName), initTime, 0, engagement,
                                              config->valueLimits())) {
      (void)event->addScreenParameters(screen);  // as above
      handleInternalEventOnWorkerQueue(event);
    }
  }

  // 7. The launch link, with a click just before the first open.
  if (persistedConfig_) persistedConfig_->setFirstOpenTimestampMilliseconds(firstOpenMillis);
  const int64_t clickMillis =
      firstOpenMillis > std::numeric_limits<int64_t>::min() ? firstOpenMillis - 1 : firstOpenMillis;
  GWLInstalledHook<GWLDeepLinkHooks>::get()->reportStoredCampaignEventOnWorkerQueue(clickMillis);

  // 8.
  if (shouldAllowAdNetworkRegistration()) {
    platform::SKAdNetwork::defaultInstance()->registerAppForAdNetworkAttribution();
  } else {
    report(kAdNetworkOptOutReport);
  }
}

int64_t GWLMeasurement::timestampMillisRoundedUpToNextHour(int64_t milliseconds) {
  const int64_t hour = milliseconds / kMillisecondsPerHour * kMillisecondsPerHour;
  if (hour > std::numeric_limits<int64_t>::max() - kMillisecondsPerHour) return std::numeric_limits<int64_t>::max();
  return hour + kMillisecondsPerHour;
}

bool GWLMeasurement::isVersionSameAsOriginalVersion() const {
  return GWLInstalledHook<GWLPurchaseHooks>::get()->isVersionSameAsOriginalVersion();
}

double GWLMeasurement::firstOpenTimestamp() {
  auto db = database();
  platform::Error error;
  std::optional<std::vector<std::shared_ptr<GWLUserAttribute>>> attributes;
  if (db) {
    attributes = db->userAttributesIncludingInternal(true, &error);
  } else {
    error = gwl_errorWithCode(kGWLErrorCodeOperationFailed, "Database not open");
  }
  if (!attributes) {
    report(kUserPropertiesReadReport, error);
    return 0;
  }
  if (attributes->empty()) {
    report(kNoUserPropertiesReport);
    return 0;
  }
  std::optional<double> earliest;
  for (const auto& attribute : *attributes) {
    if (attribute->name() == kFirstOpenTimeProperty) return attribute->lastSetTimestamp();
    if (!earliest || attribute->lastSetTimestamp() < *earliest) earliest = attribute->lastSetTimestamp();
  }
  return earliest.value_or(0);
}

std::optional<platform::Dictionary> GWLMeasurement::fileAttributesForPath(const std::string& path) const {
  if (path.empty()) return std::nullopt;
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::symlink_status(path, ec);
  if (ec || status.type() == std::filesystem::file_type::not_found) {
    if (!ec) ec = std::make_error_code(std::errc::no_such_file_or_directory);
    report(kFileAttributesReport, path, platform::posixError(ec.value(), path));
    return std::nullopt;
  }
  platform::Dictionary attributes;
  attributes[kFileTypeAttribute] = fileTypeName(status.type());
  attributes[kFilePosixPermissionsAttribute] = static_cast<int64_t>(status.permissions() & std::filesystem::perms::mask);
  if (status.type() == std::filesystem::file_type::regular) {
    const auto size = std::filesystem::file_size(path, ec);
    if (!ec) attributes[kFileSizeAttribute] = static_cast<int64_t>(size);
  }
  const auto modified = std::filesystem::last_write_time(path, ec);
  if (!ec) {
    const auto system = std::filesystem::file_time_type::clock::to_sys(modified);
    attributes[kFileModificationDateAttribute] =
        platform::Date{std::chrono::duration<double>(system.time_since_epoch()).count()};
  }
  return attributes;
}

// ---------------------------------------------------------------------------
// Sessions

void GWLMeasurement::reportSessionStartOnWorkerQueueWithTimestamp(double timestamp, bool appInBackground) {
  GWLScheduler::checkOnBackgroundThreadWithMethodName("reportSessionStartOnWorkerQueue");
  auto reporter = sessionReporter();
  if (!reporter || !reporter->startNewSessionIfDue()) return;
  if (auto property = reporter->sessionIDPropertyWithTimestamp(timestamp)) setUserAttributeOnWorkerQueue(property);
  if (auto property = reporter->sessionNumberProperty()) setUserAttributeOnWorkerQueue(property);
  auto config = remoteConfig();
  const int64_t sessionNumber = persistedConfig_ ? persistedConfig_->sessionNumber() : 0;
  const bool inBackground = appInBackground && config->appInBackgroundParameterEnabled();
  if (auto event = GWLSessionStartEvent(GWLValue::initWithInt64(sessionNumber), inBackground, timestamp,
                                        inBackground ? GWLParameters() : screenParameters(), config->valueLimits())) {
    handleInternalEventOnWorkerQueue(event);
  }
}

void GWLMeasurement::reportSessionStart() {
  scheduleWeakly("GWLMeasurement:1113", [](GWLMeasurement& self) {
    self.reportSessionStartOnWorkerQueueWithTimestamp(self.initTimestamp(), false);
  });
}

void GWLMeasurement::reportSessionStartWhenSceneWillConnectOnWorkerQueue() {
  std::weak_ptr<GWLMeasurement> weak = weakSelf_;
  platform::ObserverToken token = notificationCenter_->addObserver(
      platform::kSceneWillConnectNotification, nullptr, [weak](const platform::Notification& /*notification*/) {
        auto self = weak.lock();
        if (!self) return;
        {
          // Only the first scene starts the session, also when two connect at once.
          platform::MutexLock lock(self->observerMutex_);
          if (!self->sceneWillConnectObserver_) return;
          self->sceneWillConnectObserver_.reset();
        }
        self->reportSessionStart();
      });
  platform::MutexLock lock(observerMutex_);
  sceneWillConnectObserver_ = std::move(token);
}

void GWLMeasurement::removeSessionUserPropertiesOnWorkerQueue() {
  auto db = database();
  if (!db) {
    report(kSessionIDRemoveFailedReport, gwl_errorWithCode(kGWLErrorCodeOperationFailed, "Database not open"));
    return;
  }
  (void)db->performTransaction([&] {
    const std::pair<const char*, const Report*> steps[] = {
        {kGWLSessionIDProperty, &kSessionIDRemoveFailedReport},
        {kGWLSessionNumberProperty, &kSessionNumberRemoveFailedReport},
        {kSessionEngagementProperty, &kSessionEngagementRemoveFailedReport},
    };
    for (const auto& [name, failure] : steps) {
      platform::Error error;
      if (!db->deleteUserAttributeWithName(name, &error)) {
        report(*failure, error);
        return false;
      }
    }
    return true;
  });
}

void GWLMeasurement::backfillSessionNumber() {
  if (!persistedConfig_ || persistedConfig_->sessionNumber() != 0) return;
  auto db = database();
  platform::Error error;
  std::shared_ptr<GWLEventAggregates> aggregates;
  if (db) {
    aggregates = db->eventAggregatesWithName(kGWLSessionStartEventName, &error);
  } else {
    error = gwl_errorWithCode(kGWLErrorCodeOperationFailed, "Database not open");
  }
  if (!aggregates && failed(error)) {
    report(kSessionAggregatesReport, kGWLSessionStartEventName, error);
    return;
  }
  persistedConfig_->setSessionNumber(aggregates ? aggregates->lifetimeCount() : 0);
}

// ---------------------------------------------------------------------------
// Updates

void GWLMeasurement::reportAppUpdateOnWorkerQueue() {
  GWLScheduler::checkOnBackgroundThreadWithMethodName("reportAppUpdateOnWorkerQueue");
  if (!persistedConfig_) return;
  auto found = identity();
  reportVersionChange(found ? found->appVersion() : std::nullopt, persistedConfig_->appVersion(),
                      [this](const std::optional<std::string>& version) { persistedConfig_->setAppVersion(version); },
                      kAppUpdateEventName, kPreviousVersionParameter);
}

void GWLMeasurement::reportOSUpdateOnWorkerQueue() {
  GWLScheduler::checkOnBackgroundThreadWithMethodName("reportOSUpdateOnWorkerQueue");
  if (!persistedConfig_) return;
  reportVersionChange(GWLEnvironmentInfo::sharedInstance()->deviceOSVersion(), persistedConfig_->osVersion(),
                      [this](const std::optional<std::string>& version) { persistedConfig_->setOSVersion(version); },
                      kOSUpdateEventName, kPreviousOSVersionParameter);
}

void GWLMeasurement::reportVersionChange(const std::optional<std::string>& current,
                                         const std::optional<std::string>& previous,
                                         const std::function<void(const std::optional<std::string>&)>& store,
                                         const char* eventName, const char* previousVersionParameter) {
  if (current == previous) return;
  store(current);
  // The very first run has no version before it: it only stores its own.
  if (!previous || previous->empty()) return;
  logInternalEventWithOrigin(kGWLOriginAuto, eventName,
                             GWLRawParameters{{previousVersionParameter, platform::Object(*previous)}});
}

// ---------------------------------------------------------------------------
// Ad personalisation and consent

void GWLMeasurement::setPersonalizedAdsUserPropertyOnWorkerQueue() {
  GWLScheduler::checkOnBackgroundThreadWithMethodName("setPersonalizedAdsUserPropertyOnWorkerQueue");
  auto db = database();
  platform::Error error;
  std::optional<std::shared_ptr<GWLUserAttribute>> stored;
  if (db) {
    stored = storedUserAttribute(*db, kGWLNonPersonalizedAdsProperty, &error);
  } else {
    error = gwl_errorWithCode(kGWLErrorCodeOperationFailed, "Database not open");
  }
  if (!stored) {
    report(kNPAReadFailedReport, error);
    return;
  }
  const std::optional<bool> wish = shouldDisableAdPersonalization();
  if (!wish) {
    if (!*stored) return;
    error = {};
    if (!db->deleteUserAttributeWithName(kGWLNonPersonalizedAdsProperty, &error)) {
      report(kNPARemoveFailedReport, error);
      return;
    }
    report(kNPARemovedReport);
    GWLConsentSettingsUtil::setDiagnosticSource(kGWLConsentDiagnosticNone, kGWLConsentTypeAdPersonalization);
    return;
  }
  const int64_t value = *wish ? 1 : 0;
  const bool changed = !*stored || (*stored)->value().int64Value() != value;
  auto current = GWLConsentSettingsUtil::consentSettings();
  if (!current || !current->count(kGWLConsentTypeAdPersonalization)) updateAdPersonalizationConsentFromNPAValue(value);
  if (changed) {
    setUserAttributeOnWorkerQueue(GWLUserAttribute::initWithOrigin(kGWLOriginAuto, kGWLNonPersonalizedAdsProperty,
                                                                   GWLValue::initWithInt64(value), now()));
  }
}

void GWLMeasurement::updateAdPersonalizationConsentFromNPAValue(int64_t value) {
  const bool disable = value != 0;
  if (auto current = GWLConsentSettingsUtil::consentSettings()) {
    auto found = current->find(kGWLConsentTypeAdPersonalization);
    if (found != current->end()) {
      const char signal = GWLConsentSignalCharacter(found->second);
      if ((disable && signal == '0') || (!disable && signal == '1')) return;
    }
  }
  GWLConsentSettingsUtil::updateSettings(
      {{kGWLConsentTypeAdPersonalization, disable ? kGWLConsentStatusDenied : kGWLConsentStatusGranted}});
  if (persistedConfig_ && persistedConfig_->allowPersonalizedAds()) {
    GWLConsentSettingsUtil::setDiagnosticSource(kGWLConsentDiagnosticSource10Or30, kGWLConsentTypeAdPersonalization);
  } else if (foundAdPersonalizationPlistFlag()) {
    GWLConsentSettingsUtil::setDiagnosticSource(kGWLConsentDiagnosticSource20, kGWLConsentTypeAdPersonalization);
  } else if (auto defaults = GWLConsentSettingsUtil::defaultSettings();
             defaults && defaults->count(kGWLConsentTypeAdPersonalization)) {
    GWLConsentSettingsUtil::setDiagnosticSource(kGWLConsentDiagnosticDefault, kGWLConsentTypeAdPersonalization);
  }
}

void GWLMeasurement::updateConsentSettingsUtilWithRemoteConfig() {
  const std::optional<bool> before = GWLConsentSettingsUtil::adPersonalization();
  auto config = remoteConfig();
  const auto defaults = config->consentDefaults();
  const auto delegations = config->consentDelegations();
  if (!defaults.empty() || !delegations.empty()) {
    GWLConsentSettingsUtil::setDefaultSettings(dictionaryOf(defaults));
    GWLConsentSettingsUtil::setDelegatedSettings(dictionaryOf(delegations));
  }
  const auto regional = config->regionalDefaults();
  GWLConsentSettingsUtil::setRegionalDefaults(regional.empty() ? std::nullopt
                                                               : std::optional<platform::Dictionary>(dictionaryOf(regional)));
  const std::optional<bool> after = GWLConsentSettingsUtil::adPersonalization();
  if (after && after != before) setShouldUpdateNPAUserProperty(true);
}

// ---------------------------------------------------------------------------
// The legacy click identifier

void GWLMeasurement::updateCachedAdCampaignInfoWithExistingHBRAIDProperty() {
  if (!persistedConfig_) return;
  if (auto buffer = persistedConfig_->adCampaignInfoBuffer()) {
    const platform::Bytes* bytes = buffer->bytesValue();
    if (!bytes || !bytes->empty()) return;
  }
  auto db = database();
  auto property = db ? db->userAttributeWithName(kLegacyHBRAIDProperty) : nullptr;
  if (!property) return;
  auto info = GWLPBAdCampaignInfo::initWithMessageInfo();
  const GWLValue& value = property->value();
  info->setHbraid(value.isString() ? *value.stringValue() : value.description());
  info->setCampaignTimestamp(GWLMillisecondsFromSeconds(property->lastSetTimestamp()));
  if (auto encoded = info->protoBuffer()) persistedConfig_->setAdCampaignInfoBuffer(platform::Object(std::move(*encoded)));
}

void GWLMeasurement::removeLegacyHBRAIDUserProperty() {
  if (auto db = database()) (void)db->deleteUserAttributeWithName(kLegacyHBRAIDProperty);
}
