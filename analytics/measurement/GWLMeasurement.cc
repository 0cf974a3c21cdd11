// The engine class: its class accessors, its creation, the process-load
// observer, the URL services, the network object's delegate and the plain
// accessors. The life cycle after creation is in GWLMeasurementLifecycle.cc.
#include "analytics/measurement/GWLMeasurement.h"

#include <mutex>

#include "analytics/attribution/GWLSVTPPreviewHeaders.h"
#include "analytics/foundation/config/GWLAudienceEvaluating.h"
#include "analytics/foundation/config/GWLDeepLinkHooks.h"
#include "analytics/foundation/config/GWLInstalledHook.h"
#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLAEU.h"
#include "analytics/foundation/core/GWLAlarm.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "analytics/foundation/experiments/GWLEManager.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/measurement/GWLConsentSettingsUtil.h"
#include "analytics/measurement/GWLIdentity.h"
#include "analytics/measurement/GWLScreenViewReporter.h"
#include "analytics/measurement/GWLScreenViewReporting.h"
#include "analytics/measurement/GWLTCFClient.h"
#include "platform/appdelegate/LaunchOptions.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/env/AppEnvironment.h"

namespace {

constexpr const char* kPublicClassName = "CVNAnalytics";

// The launch arguments the monitor understands, by whether the public class is present.
struct LaunchArguments {
  const char* debugEnabled;
  const char* debugDisabled;
  const char* verboseEnabled;
  const char* verboseDisabled;
};
constexpr LaunchArguments kPublicClassArguments{"-CVNAnalyticsDebugEnabled", "-noCVNAnalyticsDebugEnabled",
                                                "-CVNAnalyticsVerboseLoggingEnabled",
                                                "-CVNAnalyticsVerboseLoggingDisabled"};
constexpr LaunchArguments kLibraryArguments{"-GWLAnalyticsDebugEnabled", "-noGWLAnalyticsDebugEnabled",
                                            "-GWLAnalyticsVerboseLoggingEnabled",
                                            "-GWLAnalyticsVerboseLoggingDisabled"};

// The deep links on this class's monitor, for the services that need no engine.
std::shared_ptr<GWLMeasurementDeepLinks> urlServices() {
  GWLMeasurementDeepLinks::Dependencies dependencies;
  dependencies.monitor = GWLMeasurement::monitor();
  return GWLMeasurementDeepLinks::create(std::move(dependencies));
}

}  // namespace

// ---------------------------------------------------------------------------
// The class accessors and creation

std::string GWLMeasurement::filledIn(const char* text, const std::string& value) {
  std::string result(text);
  for (const char* placeholder : {"%@", "%lld"}) {
    if (auto at = result.find(placeholder); at != std::string::npos) {
      result.replace(at, std::char_traits<char>::length(placeholder), value);
      break;
    }
  }
  return result;
}

bool GWLMeasurement::hasSharedInstance() { return GWLMeasurementRegistry::hasSharedInstance(); }

std::shared_ptr<GWLAnalyticsEngine> GWLMeasurement::sharedInstance() {
  return std::dynamic_pointer_cast<GWLAnalyticsEngine>(GWLMeasurementRegistry::sharedInstance());
}

std::shared_ptr<GWLMonitor> GWLMeasurement::monitor() { return GWLMeasurementRegistry::monitor(); }

void GWLMeasurement::initializeSharedInstanceWithAppID(const std::string& appID, bool isAnalyticsCollectionEnabled,
                                                       bool isAnalyticsCollectionDeactivated,
                                                       const std::optional<std::vector<std::string>>& safelistedEvents,
                                                       const GWLAnalyticsEngineFactory& factory) {
  (void)GWLMeasurementRegistry::initializeSharedInstance([&]() -> std::shared_ptr<GWLMeasurementEngine> {
    if (appID.empty()) return nullptr;
    (void)monitor();  // exists before the engine's initialisers report through it
    if (!factory) return nullptr;
    GWLAnalyticsEngineConfiguration configuration;
    configuration.appID = appID;
    configuration.isAnalyticsCollectionEnabled = isAnalyticsCollectionEnabled;
    configuration.isAnalyticsCollectionDeactivated = isAnalyticsCollectionDeactivated;
    configuration.safelistedEvents = safelistedEvents;
    return factory(configuration);
  });
}

void GWLMeasurement::setProcessServiceHosts(std::optional<GWLServiceHosts> hosts) {
  GWLServiceHosts::setForProcess(std::move(hosts));
}

std::optional<GWLServiceHosts> GWLMeasurement::processServiceHosts() { return GWLServiceHosts::chosenForProcess(); }

GWLAnalyticsEngineFactory GWLMeasurement::defaultEngineFactory() {
  return [](const GWLAnalyticsEngineConfiguration& configuration) -> std::shared_ptr<GWLAnalyticsEngine> {
    Dependencies dependencies;
    dependencies.hosts = processServiceHosts();
    return create(configuration, std::move(dependencies));
  };
}

bool GWLMeasurement::checkAppID(const std::string& appID, const Dependencies& dependencies) {
  if (!appID.empty()) return true;
  auto reporter = dependencies.monitor ? dependencies.monitor : monitor();
  GWLLogReport(*reporter, kGWLMeasurementEmptyAppIDReport);
  return false;
}

GWLMeasurement::GWLMeasurement(const GWLAnalyticsEngineConfiguration& configuration, Dependencies dependencies)
    : databaseName_(kGWLDatabaseFileName),
      dependencies_(std::move(dependencies)),
      clock_(dependencies_.clock ? dependencies_.clock : platform::Clock::system()),
      monitor_(dependencies_.monitor ? dependencies_.monitor : monitor()),
      persistedConfig_(dependencies_.persistedConfig ? dependencies_.persistedConfig
                                                     : GWLPersistedConfig::sharedInstance()),
      scheduler_(dependencies_.scheduler ? dependencies_.scheduler
                                         : std::make_shared<GWLScheduler>(kGWLWorkerQueueLabel, monitor_)),
      alarm_(GWLAlarm::create(scheduler_->workerQueue(), kGWLMeasurementTimerName, clock_, monitor_)),
      experimentManager_(dependencies_.experimentManager ? dependencies_.experimentManager()
                                                         : GWLEManager::sharedInstance()),
      notificationCenter_(dependencies_.notificationCenter ? dependencies_.notificationCenter
                                                           : platform::NotificationCenter::defaultCenter()),
      backgroundTasks_(dependencies_.backgroundTasks ? dependencies_.backgroundTasks
                                                     : platform::BackgroundTasks::shared()),
      appID_(configuration.appID),
      isAnalyticsCollectionEnabled_(configuration.isAnalyticsCollectionEnabled),
      isAnalyticsCollectionDeactivated_(configuration.isAnalyticsCollectionDeactivated),
      safelistedEvents_(configuration.safelistedEvents) {
  report(kGWLMeasurementStartedReport.level, kGWLMeasurementStartedReport.code,
         filledIn(kGWLMeasurementStartedReport.message, kGWLLibraryVersionText));
  if (classExists(kPublicClassName)) {
    report(kGWLMeasurementBuildReport.level, kGWLMeasurementBuildReport.code,
           filledIn(kGWLMeasurementBuildReport.message, std::to_string(GWLIdentity::gaugewellLibraryVersion())));
  }
  logStartHints();

  network_ = dependencies_.network;
  if (!network_ && dependencies_.makeNetwork) {
    const GWLServiceHosts hosts = dependencies_.hosts ? *dependencies_.hosts : GWLServiceHosts::forProcess();
    network_ = std::make_shared<platform::HVUNetwork>(hosts.upload.host);
  }
  if (network_) {
    network_->setIsDebugModeEnabled(monitor_->isDebugModeEnabled());
  } else {
    report(kGWLMeasurementNetworkFailedReport);
  }

  // The first load time of the installation stays until a wipe-out moves it.
  std::optional<double> stored;
  if (persistedConfig_) {
    if (auto value = persistedConfig_->loadTimestampValue()) stored = value->numberValue();
  }
  if (stored) {
    initTimestamp_.store(*stored);
  } else {
    const double loadTimestamp = dependencies_.loadTimestamp ? dependencies_.loadTimestamp()
                                 : analytics()               ? analytics()->loadTimestamp()
                                                             : now();
    initTimestamp_.store(loadTimestamp);
    if (persistedConfig_) persistedConfig_->setLoadTimestampValue(platform::Object(loadTimestamp));
  }
}

GWLMeasurement::~GWLMeasurement() {
  // The upload alarm holds the engine weakly, so once the engine is gone a
  // pending upload can do nothing; cancelling lets the armed alarm, which
  // keeps itself alive until it fires, go at once.
  alarm_->cancel();
  platform::MutexLock lock(observerMutex_);
  observers_.clear();
}

void GWLMeasurement::finishCreation(const std::shared_ptr<GWLMeasurement>& self) {
  weakSelf_ = self;
  if (network_) network_->setLoggerDelegate(std::weak_ptr<platform::HVUNetworkLoggerDelegate>(self));
  const bool enable = shouldEnableMeasurement();
  setEnabled(enable);
  wasEnabledDuringInitialization_.store(enable);
  swapBackgroundTaskWithNewTaskID(platform::kBackgroundTaskInvalid);
}

void GWLMeasurement::logStartHints() {
  const LaunchArguments& arguments = classExists(kPublicClassName) ? kPublicClassArguments : kLibraryArguments;
  const bool debug = monitor_->isDebugModeEnabled();
  monitor_->logWithLevel(kGWLLevelNotice, kGWLMeasurementDebugHintCode,
                         filledIn(debug ? kGWLMeasurementDisableDebugHint : kGWLMeasurementEnableDebugHint,
                                  debug ? arguments.debugDisabled : arguments.debugEnabled) +
                             kGWLMeasurementHintDocumentation);
  report(kGWLMeasurementDebugEnabledReport);
  const bool verbose = monitor_->isVerboseLoggingEnabled();
  monitor_->logWithLevel(kGWLLevelDebug, kGWLMeasurementVerboseHintCode,
                         filledIn(verbose ? kGWLMeasurementDisableVerboseHint : kGWLMeasurementEnableVerboseHint,
                                  verbose ? arguments.verboseDisabled : arguments.verboseEnabled) +
                             kGWLMeasurementHintDocumentation);
}

// ---------------------------------------------------------------------------
// The process-load observer

void GWLMeasurement::subscribeForAppDidFinishLaunchingNotifications() {
  static std::once_flag once;
  std::call_once(once, [] {
    // Never removed: the class observes for the whole process.
    static auto* token = new platform::ObserverToken(platform::NotificationCenter::defaultCenter()->addObserver(
        platform::kApplicationDidFinishLaunchingNotification, nullptr,
        [](const platform::Notification& notification) { handleAppDidFinishLaunching(notification); }));
    (void)token;
  });
}

void GWLMeasurement::handleAppDidFinishLaunching(const platform::Notification& notification) {
  (void)GWLScreenViewReporting::sharedInstance();
  if (!notification.userInfo.empty()) {
    GWLInstalledHook<GWLDeepLinkHooks>::get()->handleStoredURLAfterAppLaunchWithNotification(notification);
  }
}

// ---------------------------------------------------------------------------
// Opened URLs

std::optional<std::string> GWLMeasurement::deepLinkFromUserActivity(
    const std::optional<platform::UserActivity>& activity) {
  return urlServices()->deepLinkFromUserActivity(activity);
}

void GWLMeasurement::handleSVTPDebugModeWithURL(const std::string& url) {
  urlServices()->handleSVTPDebugModeWithURL(url);
}

std::optional<GWLMeasurement::Headers> GWLMeasurement::SVTPPreviewHeaders() {
  auto headers = GWLSVTPPreviewHeaders::current();
  if (!headers) return std::nullopt;
  return *headers;
}

void GWLMeasurement::resetSVTPPreviewHeadersForTesting() { GWLSVTPPreviewHeaders::replace(nullptr); }

void GWLMeasurement::handleNonFirstOpenEventURL(const std::string& url, double eventTimestampInSeconds,
                                                const std::optional<std::string>& referrerURL) {
  GWLInstalledHook<GWLDeepLinkHooks>::get()->handleNonFirstOpenEventURL(url, eventTimestampInSeconds, referrerURL);
}

// ---------------------------------------------------------------------------
// The network object's delegate

int64_t GWLMeasurement::monitorLevelForNetworkLevel(int level) {
  // The network object's levels: 3 error, 4 warning, 5 notice, 6 info, 7 debug.
  switch (level) {
    case 3:
      return kGWLLevelErrorSampled;
    case 4:
      return kGWLLevelWarningSampled;
    case 5:
      return kGWLLevelWarning;
    case 6:
      return kGWLLevelNotice;
    case 7:
      return kGWLLevelDebug;
    default:
      return kGWLLevelWarning;
  }
}

void GWLMeasurement::HVUNetwork_logWithLevel(int level, int64_t messageCode, const std::string& message,
                                             const std::vector<std::string>& contexts) {
  std::vector<GWLLogContext> logContexts(contexts.begin(), contexts.end());
  monitor_->logWithLevel(monitorLevelForNetworkLevel(level), messageCode, message, logContexts);
}

// ---------------------------------------------------------------------------
// Accessors and small helpers

std::shared_ptr<GWLRemoteConfig> GWLMeasurement::engineRemoteConfig() const {
  platform::MutexLock lock(stateMutex_);
  return remoteConfig_;
}

std::shared_ptr<GWLRemoteConfig> GWLMeasurement::remoteConfig() const {
  auto config = engineRemoteConfig();
  return config ? config : GWLRemoteConfig::defaultInstance();
}

std::shared_ptr<platform::Queue> GWLMeasurement::globalQueue() const {
  if (dependencies_.globalQueue) return dependencies_.globalQueue;
  return platform::ConcurrentQueue::globalDefault();
}

std::shared_ptr<platform::AppEnvironment> GWLMeasurement::environment() const {
  return dependencies_.environment ? dependencies_.environment : platform::AppEnvironment::shared();
}

bool GWLMeasurement::isSessionExpired() const {
  auto reporter = sessionReporter();
  return reporter && reporter->isSessionExpired();
}

void GWLMeasurement::notifyEventListeners(const std::shared_ptr<const GWLEvent>& event) {
  if (auto entry = analytics()) entry->notifyEventListeners(event);
}

std::shared_ptr<GWLIdentity> GWLMeasurement::identity() const {
  platform::MutexLock lock(stateMutex_);
  return identity_;
}

std::shared_ptr<GWLDatabase> GWLMeasurement::database() const {
  platform::MutexLock lock(stateMutex_);
  return database_;
}

std::shared_ptr<GWLAudienceEvaluating> GWLMeasurement::audience() const {
  platform::MutexLock lock(stateMutex_);
  return audience_;
}

std::shared_ptr<GWLSessionReporting> GWLMeasurement::sessionReporter() const {
  platform::MutexLock lock(stateMutex_);
  return sessionReporter_;
}

std::shared_ptr<GWLTCFClient> GWLMeasurement::tcfClient() const {
  platform::MutexLock lock(stateMutex_);
  return tcfClient_;
}

std::optional<std::string> GWLMeasurement::previousQRXAppID() const {
  platform::MutexLock lock(stateMutex_);
  return previousQRXAppID_;
}

double GWLMeasurement::now() const { return clock_->now(); }

std::optional<std::string> GWLMeasurement::appID() const {
  auto found = identity();
  return found ? found->appID() : std::nullopt;
}

std::optional<std::string> GWLMeasurement::appInstanceID() const {
  auto found = identity();
  return found ? found->appInstanceID() : std::nullopt;
}

std::optional<GWLServiceEndpoint> GWLMeasurement::uploadHost() const {
  return (dependencies_.hosts ? *dependencies_.hosts : GWLServiceHosts::forProcess()).upload;
}

std::optional<std::string> GWLMeasurement::resettableDeviceID() const {
  auto found = identity();
  return found ? found->resettableDeviceID() : std::nullopt;
}

bool GWLMeasurement::hasLimitedAdTracking() const {
  auto found = identity();
  return found ? found->hasLimitedAdTracking() : GWLMeasurementOperations::hasLimitedAdTracking();
}

bool GWLMeasurement::limitedAdTracking() const {
  auto found = identity();
  return found ? found->limitedAdTracking() : GWLMeasurementOperations::limitedAdTracking();
}

int64_t GWLMeasurement::appleConsentStatus() const {
  auto found = identity();
  return found ? static_cast<int64_t>(found->appleConsentStatus()) : GWLMeasurementOperations::appleConsentStatus();
}

bool GWLMeasurement::isAdStorageDenied() const { return GWLConsentSettingsUtil::isAdStorageDenied(); }

bool GWLMeasurement::isAdUserDataDenied() const { return GWLConsentSettingsUtil::isAdUserDataDenied(); }

std::optional<bool> GWLMeasurement::adPersonalization() const { return GWLConsentSettingsUtil::adPersonalization(); }

std::optional<std::string> GWLMeasurement::consentSignals() const {
  std::string signals = GWLConsentSettingsUtil::consentSignals();
  if (signals.empty()) return std::nullopt;
  return signals;
}

void GWLMeasurement::logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                                const GWLRawParameters& parameters) {
  if (auto entry = analytics()) entry->logInternalEventWithOrigin(origin, name, parameters);
}

GWLParameters GWLMeasurement::screenParameters() const {
  auto reporter = GWLScreenViewReporting::sharedInstance();
  return reporter ? reporter->screenParameters() : GWLParameters{};
}

std::shared_ptr<GWLAnalytics> GWLMeasurement::analytics() const {
  return dependencies_.analytics ? dependencies_.analytics() : GWLAnalytics::sharedInstance();
}

bool GWLMeasurement::classExists(const std::string& name) const {
  return dependencies_.classExists ? dependencies_.classExists(name) : GWLAEU::classExists(name);
}

std::optional<platform::Object> GWLMeasurement::infoDictionaryValue(const std::string& key) const {
  if (dependencies_.infoDictionaryValue) return dependencies_.infoDictionaryValue(key);
  auto environment = this->environment();
  if (!environment) return std::nullopt;
  const platform::Object* value = environment->objectForInfoDictionaryKey(key);
  if (!value) return std::nullopt;
  return *value;
}

bool GWLMeasurement::isScreenReportingEnabled() const {
  return GWLIsScreenReportingEnabled([this](const std::string& key) { return infoDictionaryValue(key); });
}

bool GWLMeasurement::isCorvaneRemoteConfigSDKPresent() const { return classExists(kGWLCorvaneRemoteConfigClassName); }

void GWLMeasurement::scheduleWeakly(const std::string& blockID, std::function<void(GWLMeasurement&)> block) {
  scheduler_->scheduleOnWorkerQueueBlockID(blockID, [weak = weakSelf_, block = std::move(block)] {
    if (auto self = weak.lock()) block(*self);
  });
}

void GWLMeasurement::report(int64_t level, int64_t code, const std::string& message) const {
  monitor_->logWithLevel(level, code, message);
}

void GWLMeasurement::report(const GWLAnalyticsReport& line) const {
  GWLLogReport(*monitor_, line);
}

void GWLMeasurement::report(const GWLAnalyticsReport& line, const GWLLogContext& context) const {
  GWLLogReport(*monitor_, line, context);
}

void GWLMeasurement::report(const GWLAnalyticsReport& line, const GWLLogContext& context1,
                            const GWLLogContext& context2) const {
  GWLLogReport(*monitor_, line, context1, context2);
}
