// GWLMeasurement — the measurement engine: one instance per process, made by
// the entry class's start and reached by every other part of the library
// through the class accessors.
//
// The class accessors are how every component reaches the one engine, the
// library's monitor and the settings in force, also before the engine exists
// and after an attempt to create it failed; they forward to
// GWLMeasurementRegistry, which keeps the engine under the class mutex.
// `initializeSharedInstanceWithAppID` makes the one engine of the process
// with a creation function (`defaultEngineFactory`: this class): the first
// call records the attempt and, for a non-empty app ID, touches the monitor
// and runs the function under the class mutex; later calls change nothing.
//
// The engine's life:
//   creation        the network object, the worker queue "com.halcyra.cvna.worker"
//                   with the upload alarm "Measurement timer", the load
//                   timestamp, and the collection switch the persisted state
//                   and the start options decide
//   start           the first enabling runs the component block once per
//                   process (identity, consent, the wipe decision, database,
//                   configuration, audience evaluator, session reporter, the
//                   start-time reports, the notifications); a failed block
//                   switches collection off and runs whole at the next enabling
//   wipe-out        when a reset did not finish or the platform app ID
//                   changed, and on the app's reset request: the database,
//                   the persisted settings, the monitor's samples, the
//                   configuration's caches and a new session reporter
//   notifications   resign active writes the settings and uploads under a
//                   background task; becoming active may refresh an old
//                   configuration and fetches the conversion value
//
// The uploads, the schedule and the configuration fetch are virtual members
// (tests replace them); the attribution layer's steps go through the seams
// installed with GWLInstalledHook (deep links, conversion values, ad
// reporters, on-device measurement).
//
// Threads: the component pointers (database, configuration, identity,
// audience evaluator, session reporter, TCF client) are written on the worker
// queue and read from any thread under `stateMutex_`; the switches and the
// background task identifier are atomic. Everything else is the worker
// queue's. Notification handlers run on the posting thread (the main thread)
// and post their work to the worker queue holding the engine weakly.
#pragma once

#include <absl/base/thread_annotations.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

#include "analytics/attribution/GWLMeasurementDeepLinks.h"
#include "analytics/foundation/config/GWLServiceHosts.h"
#include "analytics/foundation/core/GWLMonitorLevels.h"
#include "analytics/measurement/GWLAnalytics.h"
#include "analytics/measurement/GWLAnalyticsEngine.h"
#include "analytics/measurement/GWLMeasurementOperations.h"
#include "analytics/measurement/GWLSessionReporting.h"
#include "platform/appdelegate/ApplicationDelegate.h"
#include "platform/dispatch/NotificationCenter.h"
#include "platform/env/BackgroundTasks.h"
#include "platform/net/HVUNetwork.h"
#include "platform/util/Mutex.h"

namespace platform {
class AppEnvironment;
class Clock;
class Queue;
class Random;
}  // namespace platform
class GWLAlarm;
class GWLAudienceEvaluating;
class GWLAudienceTimestampsCache;
class GWLConditionalUserPropertyControlling;
class GWLDailyCounts;
class GWLPBEvent;
class GWLRawEventData;
class GWLDatabase;
class GWLDatabaseRemoteConfigStore;
class GWLEventEditingRuntime;
class GWLExperimentsManaging;
class GWLIdentifiers;
class GWLIdentity;
class GWLMonitor;
class GWLPBMeasurementBundle;
class GWLPersistedConfig;
class GWLRemoteConfig;
struct GWLQueuedBundle;
class GWLScheduler;
class GWLTCFClient;

inline constexpr const char* kGWLMeasurementTimerName = "Measurement timer";
inline constexpr const char* kGWLMeasurementBackgroundTaskName = "GWLAnalyticsMeasurementBackgroundTask";
// A configuration this old (seconds, either way) is fetched again when the app becomes active.
inline constexpr double kGWLActivationConfigRefreshInterval = 604800;
// A reset that did not finish is retried at start while its count lies in 1 to 9.
inline constexpr int64_t kGWLMaxResetRetryCount = 9;
inline constexpr const char* kGWLScreenReportingEnabledInfoKey = "CorvaneScreenReportingEnabled";
inline constexpr const char* kGWLAutomaticScreenReportingEnabledInfoKey = "CorvaneAutomaticScreenReportingEnabled";
inline constexpr const char* kGWLCorvaneRemoteConfigClassName = "CVNRemoteConfig";

// Persisted measurement enabled states.
inline constexpr int64_t kGWLMeasurementEnabledStateOn = 1;
inline constexpr int64_t kGWLMeasurementEnabledStateOff = 2;

// Reports of the engine's life cycle.
inline constexpr GWLAnalyticsReport kGWLMeasurementStartedReport{kGWLLevelNotice, 23007, "Analytics v.%@ started"};
inline constexpr int64_t kGWLMeasurementDebugHintCode = 23008;    // kGWLLevelNotice
inline constexpr int64_t kGWLMeasurementVerboseHintCode = 23207;  // kGWLLevelDebug
inline constexpr const char* kGWLMeasurementDisableDebugHint =
    "To disable debug logging set the following application argument: %@";
inline constexpr const char* kGWLMeasurementEnableDebugHint =
    "To enable debug logging set the following application argument: %@";
inline constexpr const char* kGWLMeasurementDisableVerboseHint =
    "To disable verbose logging set the following application argument: %@";
inline constexpr const char* kGWLMeasurementEnableVerboseHint =
    "To enable verbose logging set the following application argument: %@";
// Where the hints point to: the section of the README that explains the
// launch arguments.
inline constexpr const char* kGWLMeasurementHintDocumentation = " (see README.md, \"Debug and verbose logging\")";
inline constexpr GWLAnalyticsReport kGWLMeasurementDebugEnabledReport{kGWLLevelDebug, 23009, "Debug logging enabled"};
inline constexpr GWLAnalyticsReport kGWLMeasurementNetworkFailedReport{kGWLLevelErrorSampled, 23010,
                                                                       "Failed to initialize network component"};
inline constexpr GWLAnalyticsReport kGWLMeasurementStartFailedReport{
    kGWLLevelError, 23011, "Failed to start Analytics. Analytics is disabled"};
inline constexpr GWLAnalyticsReport kGWLMeasurementEnabledReport{kGWLLevelNotice, 23012,
                                                                 "Analytics collection enabled"};
inline constexpr GWLAnalyticsReport kGWLMeasurementDisabledReport{kGWLLevelNotice, 23013,
                                                                  "Analytics collection disabled"};
inline constexpr GWLAnalyticsReport kGWLMeasurementDeleteOldDatabaseFailedReport{
    kGWLLevelErrorSampled, 23014, "Failed to delete old database file. Error"};
inline constexpr GWLAnalyticsReport kGWLMeasurementBackupExclusionFailedReport{
    kGWLLevelWarningSilent, 23015, "Failed to exclude directory from backup. Error"};
inline constexpr GWLAnalyticsReport kGWLMeasurementReadyReport{kGWLLevelDebug, 23016,
                                                               "Analytics is ready to receive events"};
inline constexpr GWLAnalyticsReport kGWLMeasurementStaleDataDeletionFailedReport{kGWLLevelWarningSilent, 23018,
                                                                                 "Unable to delete stale data. Error"};
inline constexpr GWLAnalyticsReport kGWLMeasurementCancellingBackgroundTaskReport{
    kGWLLevelDebug, 23142, "Cancelling background upload task. Task ID "};
inline constexpr GWLAnalyticsReport kGWLMeasurementNetworkPendingReport{
    kGWLLevelVerbose, 23143, "Network operation is pending. Ignoring request to fetch configuration"};
inline constexpr GWLAnalyticsReport kGWLMeasurementResignActiveReport{
    kGWLLevelVerbose, 23144, "App will resign active state. Scheduling data upload"};
inline constexpr GWLAnalyticsReport kGWLMeasurementBackgroundTaskStartedReport{kGWLLevelVerbose, 23145,
                                                                               "Background task started. Task ID"};
inline constexpr GWLAnalyticsReport kGWLMeasurementEmptyResetIDReport{kGWLLevelErrorSampled, 23167,
                                                                      "Cannot reset with an empty app instance ID"};
inline constexpr GWLAnalyticsReport kGWLMeasurementResetReport{kGWLLevelNotice, 23168, "Analytics data has been reset"};
inline constexpr GWLAnalyticsReport kGWLMeasurementEmptyAppIDReport{kGWLLevelErrorSampled, 23170,
                                                                    "Cannot start Measurement. App ID is empty."};
inline constexpr GWLAnalyticsReport kGWLMeasurementResettingReport{kGWLLevelNotice, 23171, "Resetting Gauge Well data"};
inline constexpr GWLAnalyticsReport kGWLMeasurementDeactivatedReport{kGWLLevelNotice, 23206,
                                                                     "Analytics collection deactivated"};
inline constexpr GWLAnalyticsReport kGWLMeasurementWipeFailedReport{kGWLLevelWarningSampled, 23208,
                                                                    "Failed to wipe out Analytics data"};
inline constexpr GWLAnalyticsReport kGWLMeasurementDatabaseResetFailedReport{kGWLLevelErrorSampled, 23209,
                                                                             "Failed to reset database"};
inline constexpr GWLAnalyticsReport kGWLMeasurementOlderLibraryDisabledReport{kGWLLevelErrorSampled, 23210,
                                                                              "VQRMeasurement has been disabled"};
inline constexpr GWLAnalyticsReport kGWLMeasurementResettingWithEmptyIDReport{
    kGWLLevelDebug, 23218, "Resetting with an empty app instance ID"};
inline constexpr GWLAnalyticsReport kGWLMeasurementScreenReportingReport{
    kGWLLevelNotice, 23220,
    "Analytics screen reporting is enabled. Call Analytics.logEvent(AnalyticsEventScreenView, parameters: [...]) to "
    "log a screen view event. To disable automatic screen reporting, set the flag %@ to NO (boolean) in the "
    "Info.plist"};
inline constexpr GWLAnalyticsReport kGWLMeasurementBuildReport{kGWLLevelVerbose, 23222, "Build %lld"};
inline constexpr GWLAnalyticsReport kGWLMeasurementAppIDChangedReport{
    kGWLLevelWarningSampled, 23294, "Analytics data will reset due to change in Halcyra App ID. Original ID, new ID"};

// The production source of the sampling draws (GWLMeasurementSampling.cc).
std::shared_ptr<platform::Random> GWLDefaultSamplingRandom();

// Opens the engine's measurement database.
using GWLMeasurementDatabaseOpener = std::function<std::shared_ptr<GWLDatabase>(
    const std::string& name, const std::shared_ptr<GWLPersistedConfig>& persistedConfig, platform::Error* error)>;

// The engine's collaborators (GWLMeasurement::Dependencies); each null or
// empty one is the process's own. Declared outside the class so that `create`
// can take a default one as a default argument.
struct GWLMeasurementDependencies {
  std::shared_ptr<platform::Clock> clock;               // the system clock
  std::shared_ptr<GWLMonitor> monitor;                  // GWLMeasurement::monitor()
  std::shared_ptr<GWLPersistedConfig> persistedConfig;  // GWLPersistedConfig::sharedInstance()
  std::shared_ptr<GWLScheduler> scheduler;              // a new one on "com.halcyra.cvna.worker"
  // The network object; made for the upload host when null (unless `makeNetwork` is false).
  std::shared_ptr<platform::HVUNetwork> network;
  bool makeNetwork = true;
  std::optional<GWLServiceHosts> hosts;                      // the built-in hosts
  std::function<std::shared_ptr<GWLAnalytics>()> analytics;  // GWLAnalytics::sharedInstance
  std::function<std::shared_ptr<GWLIdentity>()> identity;    // GWLIdentity::sharedInstance
  std::shared_ptr<GWLIdentifiers> identifiers;               // GWLIdentifiers::sharedInstance()
  // The experiments manager the configuration registers with; GWLEManager::sharedInstance.
  std::function<std::shared_ptr<GWLExperimentsManaging>()> experimentManager;
  GWLMeasurementDatabaseOpener openDatabase;                         // GWLDatabase::initWithDatabaseName
  GWLSessionReporterFactory sessionReporterFactory;                  // the do-nothing reporter
  std::shared_ptr<platform::NotificationCenter> notificationCenter;  // the default center
  std::shared_ptr<platform::BackgroundTasks> backgroundTasks;        // the shared application's
  // Whether a class (an optional component) is present; GWLAEU::classExists.
  std::function<bool(const std::string&)> classExists;
  // The app's Info dictionary value for a key; the app environment's.
  std::function<std::optional<platform::Object>(const std::string&)> infoDictionaryValue;
  // The load time the entry class keeps; GWLAnalytics::loadTimestamp of `analytics`.
  std::function<double()> loadTimestamp;
  std::shared_ptr<platform::Queue> globalQueue;           // the global queue of default priority
  std::shared_ptr<platform::AppEnvironment> environment;  // the shared one, at each use
};

class GWLMeasurement : public GWLMeasurementOperations,
                       public platform::HVUNetworkLoggerDelegate,
                       public platform::HVUNetworkReachabilityDelegate {
 public:
  using Headers = std::map<std::string, std::string>;
  using DatabaseOpener = GWLMeasurementDatabaseOpener;

  // Collaborators; each null or empty one is the process's own.
  using Dependencies = GWLMeasurementDependencies;

  // ---- the class accessors ----
  static bool hasSharedInstance();
  // The engine, or null (before any attempt with CVNAnalytics present, first
  // warns 23147 that the library has not been created).
  static std::shared_ptr<GWLAnalyticsEngine> sharedInstance();
  static std::shared_ptr<GWLMonitor> monitor();
  // The settings in force (the engine's configuration, or the default one)
  // are GWLMeasurementRegistry::remoteConfig(): the name `remoteConfig` here
  // is the engine's own configuration, an instance member.

  // ---- creation ----
  static void initializeSharedInstanceWithAppID(const std::string& appID, bool isAnalyticsCollectionEnabled,
                                                bool isAnalyticsCollectionDeactivated,
                                                const std::optional<std::vector<std::string>>& safelistedEvents,
                                                const GWLAnalyticsEngineFactory& factory = defaultEngineFactory());
  // Makes this class's engine with the process's collaborators, talking to
  // the process's service hosts (below).
  static GWLAnalyticsEngineFactory defaultEngineFactory();
  // The hosts the engine that `defaultEngineFactory` makes talks to: the
  // built-in ones unless the host process has chosen others (a local
  // collection service) before the library starts. Any thread.
  static void setProcessServiceHosts(std::optional<GWLServiceHosts> hosts);
  static std::optional<GWLServiceHosts> processServiceHosts();
  // A new engine (an empty app ID reports 23170 and answers null). `T` is
  // this class or a test's subclass constructible from the same arguments.
  template <class T = GWLMeasurement>
  static std::shared_ptr<T> create(const GWLAnalyticsEngineConfiguration& configuration,
                                   Dependencies dependencies = {}) {
    if (!checkAppID(configuration.appID, dependencies)) return nullptr;
    auto engine = std::make_shared<T>(configuration, std::move(dependencies));
    engine->finishCreation(engine);
    return engine;
  }

  // ---- the process-load call's observer ----
  // Observes did-finish-launching on the default notification centre (once per process).
  static void subscribeForAppDidFinishLaunchingNotifications();
  // Makes sure the screen-view reporter exists; a notification with user
  // information goes to the deep links' launch handling.
  static void handleAppDidFinishLaunching(const platform::Notification& notification);

  // ---- opened URLs ----
  static std::optional<std::string> deepLinkFromUserActivity(const std::optional<platform::UserActivity>& activity);
  // "svtp_debug_enable" = "1": debug mode on, and the preview headers are
  // {"X-Kxw-Server-Preview": "svtp_preview_key"} when that key is 1 to 256
  // printable ASCII characters, else none (a refused key is reported); "0":
  // debug mode off, no headers; anything else changes nothing.
  static void handleSVTPDebugModeWithURL(const std::string& url);
  static std::optional<Headers> SVTPPreviewHeaders();
  // Tests: forgets the preview headers.
  static void resetSVTPPreviewHeadersForTesting();

  // The monitor level of a network report's level: 3 -> 1, 4 -> 4, 5 -> 3,
  // 6 -> 6, 7 -> 7, any other -> 3.
  static int64_t monitorLevelForNetworkLevel(int level);

  GWLMeasurement(const GWLAnalyticsEngineConfiguration& configuration, Dependencies dependencies);
  ~GWLMeasurement() override;
  GWLMeasurement(const GWLMeasurement&) = delete;
  GWLMeasurement& operator=(const GWLMeasurement&) = delete;

  // ---- collection ----
  // Deactivated: NO; else the persisted state (1 on, 2 off), else the start option.
  bool shouldEnableMeasurement() const;
  bool wasEnabledDuringInitialization() const override { return wasEnabledDuringInitialization_.load(); }
  bool isEnabled() const override { return enabled_.load(); }
  // Posts the switch to the worker queue.
  void setEnabled(bool enabled) override;
  void setEnabledOnWorkerQueue(bool enabled);
  bool isAnalyticsCollectionEnabled() const { return isAnalyticsCollectionEnabled_; }
  bool isAnalyticsCollectionDeactivated() const { return isAnalyticsCollectionDeactivated_; }

  // ---- start ----
  // Runs the component block once (until it succeeds), then the steps of every start.
  bool startMeasurementOnWorkerQueue();
  bool didInitializeComponents() const override { return didInitializeComponents_.load(std::memory_order_acquire); }
  void setDidInitializeComponents(bool value) { didInitializeComponents_.store(value, std::memory_order_release); }
  void setProspectiveConsentSettings();
  void updatePersistedAppIDFromQRX();
  bool isCorvaneRemoteConfigSDKPresent() const;
  void tcfClientSetConsentFromData();

  // ---- wipe-out and reset ----
  // `appID` is not consulted: a reset that did not finish (count 1 to 9), or
  // two non-empty platform app IDs that differ.
  bool shouldWipeDataWithAppID(const std::string& appID, const std::optional<std::string>& appIDFromQRX,
                               const std::optional<std::string>& persistedAppIDFromQRX) const;
  [[nodiscard]] bool wipeoutAnalyticsDataAndResetComponents();
  // Blocks until the worker queue has wiped the data (inline on the worker queue itself).
  [[nodiscard]] bool resetAnalyticsDataWithAppInstanceID(const std::optional<std::string>& appInstanceID) override;

  // ---- notifications ----
  void subscribeForAppForegroundBackgroundNotifications();
  void handleAppDidBecomeActiveEvent(const platform::Notification& notification);
  void handleAppWillResignActiveEvent(const platform::Notification& notification);
  void handleAppWillEnterForegroundNotification(const platform::Notification& notification);
  // Exchanges the background task; a valid old one is ended (23142).
  void swapBackgroundTaskWithNewTaskID(platform::BackgroundTaskIdentifier taskID);
  // Writes the persisted settings and ends the background task.
  void terminateBackgroundTask();
  platform::BackgroundTaskIdentifier backgroundUpdateTask() const { return backgroundUpdateTask_.load(); }

  // ---- network object's delegate ----
  void reachabilityDidChange() override;
  void HVUNetwork_logWithLevel(int level, int64_t messageCode, const std::string& message,
                               const std::vector<std::string>& contexts) override;

  // ---- accessors ----
  // The engine's configuration; the default configuration before the components have started.
  std::shared_ptr<GWLRemoteConfig> remoteConfig() const override;
  // The engine's own configuration: null before the components have started.
  std::shared_ptr<GWLRemoteConfig> engineRemoteConfig() const;
  std::shared_ptr<GWLIdentity> identity() const override;
  std::shared_ptr<GWLDatabase> database() const override;
  std::shared_ptr<GWLScheduler> scheduler() const override { return scheduler_; }
  std::shared_ptr<GWLPersistedConfig> persistedConfig() const override { return persistedConfig_; }
  std::shared_ptr<platform::HVUNetwork> network() const override { return network_; }
  double now() const override;
  void setIsNetworkRequestPending(bool pending) override { isNetworkRequestPending_.store(pending); }
  bool isNetworkRequestPending() const { return isNetworkRequestPending_.load(); }
  // ---- what the attribution layer asks of the engine (any thread) ----
  // The identity's answers (none or the defaults before the start took it).
  std::optional<std::string> appID() const override;
  std::optional<std::string> appInstanceID() const override;
  // The collection service's upload host (the conversion-value requests go there).
  std::optional<GWLServiceEndpoint> uploadHost() const override;
  std::optional<std::string> resettableDeviceID() const override;
  bool hasLimitedAdTracking() const override;
  bool limitedAdTracking() const override;
  int64_t appleConsentStatus() const override;
  // The consent in force.
  bool isAdStorageDenied() const override;
  bool isAdUserDataDenied() const override;
  std::optional<bool> adPersonalization() const override;
  std::optional<std::string> consentSignals() const override;
  // The entry class's internal event; the screen-view reporter's current screen.
  void logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                  const GWLRawParameters& parameters) override;
  GWLParameters screenParameters() const override;

  std::shared_ptr<GWLAudienceEvaluating> audience() const;
  std::shared_ptr<GWLSessionReporting> sessionReporter() const;
  std::shared_ptr<GWLTCFClient> tcfClient() const;
  const std::shared_ptr<GWLAlarm>& alarm() const { return alarm_; }
  const std::shared_ptr<GWLExperimentsManaging>& experimentManager() const { return experimentManager_; }
  const std::optional<std::vector<std::string>>& safelistedEvents() const { return safelistedEvents_; }
  double initTimestamp() const override { return initTimestamp_.load(); }
  double suspendedUploadTimestamp() const { return suspendedUploadTimestamp_.load(); }
  void setSuspendedUploadTimestamp(double timestamp) { suspendedUploadTimestamp_.store(timestamp); }
  // The platform app ID the persisted settings held at the last wipe-out.
  std::optional<std::string> previousQRXAppID() const;
  bool shouldRequestDeferredDeepLinkAfterConfigFetch() const { return shouldRequestDeferredDeepLinkAfterConfigFetch_; }
  void setShouldRequestDeferredDeepLinkAfterConfigFetch(bool value) {
    shouldRequestDeferredDeepLinkAfterConfigFetch_ = value;
  }

  // ---- opened URLs and default parameters ----
  // Hands the URL to the deep links (GWLDeepLinkHooks).
  void handleNonFirstOpenEventURL(const std::string& url, double eventTimestampInSeconds,
                                  const std::optional<std::string>& referrerURL) override;
  using GWLAnalyticsEngine::handleNonFirstOpenEventURL;
  // Posts the timeout to the session reporter.
  void setSessionTimeoutInterval(double seconds) override;

  // ---- what the operations ask of the engine ----
  std::shared_ptr<GWLMonitor> engineMonitor() const override { return monitor_; }
  std::shared_ptr<platform::Queue> globalQueue() const override;
  std::shared_ptr<platform::AppEnvironment> environment() const override;
  bool isSessionExpired() const override;
  void notifyEventListeners(const std::shared_ptr<const GWLEvent>& event) override;

  // ---- the event write pipeline (worker queue; GWLMeasurementPipeline.cc) ----
  // Every event the engine stores passes here:
  //   handleInternalEventOnWorkerQueue   an event the library made: the stored
  //                                      default parameters, then as below,
  //                                      then the event listeners
  //   handleEventOnWorkerQueue           collection switch, safelist, session,
  //                                      subscription de-duplication, rollout
  //                                      session start, app exception, session
  //                                      start, editing; then for the event and
  //                                      each event editing created:
  //   writeEventOnWorkerQueue            conditional user properties, then for
  //                                      the event and each triggered event:
  //   writeFilteredEventOnWorkerQueue    blocklist, then one exclusive
  //                                      transaction: lifetime value, daily
  //                                      limits, real-time decision, counters,
  //                                      and `writeEvent` (aggregates, metadata
  //                                      bundle, raw event); all or nothing
  // Every step's outcome is a log line (the table at the top of the
  // implementation file); nothing is answered to the caller.
  void handleEventOnWorkerQueue(const std::shared_ptr<GWLEvent>& event) override;
  void handleInternalEventOnWorkerQueue(const std::shared_ptr<GWLEvent>& event) override;
  void writeEventOnWorkerQueue(const std::shared_ptr<GWLEvent>& event) override;
  void writeFilteredEventOnWorkerQueue(const std::shared_ptr<GWLEvent>& event) override;
  // Inside the event's transaction: false rolls it back.
  [[nodiscard]] bool writeEvent(const std::shared_ptr<GWLEvent>& event, bool isPublicEvent, bool isRealtime);
  // The metadata bundle of a raw event written now with these user properties
  // (identity, device facts, identifiers under consent), without the
  // on-device values.
  std::shared_ptr<GWLPBMeasurementBundle> createRawEventMetadataWithUserAttributes(
      const std::vector<std::shared_ptr<GWLUserAttribute>>& userAttributes);
  // The handling steps. Null / false ends the event.
  std::shared_ptr<GWLEvent> eventAfterSafelistingEvent(const std::shared_ptr<GWLEvent>& event);
  void processSessionFromEvent(const GWLEvent& event);
  bool dedupeSubscriptionEvent(const GWLEvent& event);
  bool shouldDropDuplicatedSessionStartWithRolloutEvent(const GWLEvent& event);
  std::shared_ptr<GWLEvent> appExceptionEventWithCorvaneFeatureRollouts(const std::shared_ptr<GWLEvent>& event);
  void writeSessionStartEventOnWorkerQueue(const std::shared_ptr<GWLEvent>& event);
  // Inside the transaction: a purchase event's lifetime value is recorded.
  [[nodiscard]] bool updateLifetimeValueWithEvent(const GWLEvent& event);
  // Counts the event in `dailyCounts` (moved to today first); whether it is kept.
  bool shouldProcessEvent(const GWLEvent& event, GWLDailyCounts& dailyCounts, bool isPublicEvent);
  // Sets or clears the event's real-time and debug marks; whether it is real-time.
  bool isRealtimeEvent(GWLEvent& event, const GWLDailyCounts& dailyCounts);
  void maybeAddDebugAndRealtimeParameters(GWLEvent& event);
  // Posts the "_fx" event (block "GWLMeasurement:1025").
  void logFirstOpenConsentedEvent(double timestamp);


  // ---- the upload schedule (GWLMeasurementUpload.cc), worker queue ----
  // Arms, keeps or cancels the upload alarm "Measurement timer":
  //   suspended     (a failed delete or fetch-time write, under 3600 s of
  //                 uptime ago): alarm off, no reachability watch, task ended
  //   no data / no next time: alarm off, the pending experiment snapshot
  //                 activated (no data), no reachability watch, task ended
  //   no network    the engine watches reachability (a change reschedules),
  //                 alarm off, task ended
  //   otherwise     a back-off holds the time until `uploadingBackoffInterval`
  //                 after it; an alarm already due no later is kept, else the
  //                 alarm is armed (block "GWLMeasurement:1807" -> uploadData)
  // The background task is ended whenever the next fire lies over 30 s ahead.
  void updateSchedule() override;
  // Seconds since 1970 of the next upload; 0 = none (GWLNextUploadingTime
  // over the database, the persisted times and the settings).
  double nextUploadingTime();
  // Whether bundles are queued or raw events wait; false when it cannot tell.
  bool hasDataToUpload();
  // No request of the engine pending and none of the network in progress.
  bool isNetworkReadyForRequest() const override;
  bool shouldUseBackgroundSession() const override;
  // Whether uploads are suspended now (23023 unless `quiet`); clears a
  // suspension that has run out.
  bool isUploadSuspended(bool quiet = false);

  // ---- uploads (GWLMeasurementUpload.cc), worker queue ----
  // One upload attempt: bundles what waits (unless the configuration has
  // expired), reads the oldest queued bundles, applies the consent and data
  // controls of the moment, and POSTs the leading compatible run as one
  // batch. At most one request of the engine is in flight; its completion
  // deletes the bundles or counts a retry, and reschedules.
  virtual void uploadData();
  // uploadData when connected with data to send, else updateSchedule.
  void uploadDataOrRegisterAlarm();
  // The longest leading run of `bundles` whose app ID is `appID` and whose
  // advertising (or vendor) identifier is absent or equals the non-empty
  // filter; nothing (23042) when both filters are given.
  std::vector<GWLQueuedBundle> filteredBundlesWithCompatibleAppID(const std::string& appID,
                                                                  const std::string& resettableDeviceID,
                                                                  const std::string& vendorDeviceID,
                                                                  const std::vector<GWLQueuedBundle>& bundles);
  // The upload's answer: 200/204 delete the sent bundles and clear the
  // failure and back-off times; anything else (also no answer) records a
  // failure (503 and 429 a back-off too) and counts a retry of the sent bundles.
  void networkUploadCompletionHandlerWithResponse(const std::shared_ptr<const platform::HTTPURLResponse>& response,
                                                  const std::optional<platform::Error>& error);
  // The sent bundles' retry counts grow by one in the queue.
  void incrementRetryCounter();
  // Holds the row IDs of the batch in flight (an empty list, or a list while
  // another is held, is refused and logged).
  void setUploadInProgressWithBundleIDs(const std::vector<int64_t>& bundleIDs);
  [[nodiscard]] bool removeBundlesFromDatabaseWithIDs(const std::vector<int64_t>& bundleIDs);
  const std::vector<int64_t>& uploadingBundleIDs() const { return uploadingBundleIDs_; }

  // What one upload attempt sends, once the queued bundles were read: the
  // batch's row IDs and encoding, or nothing when no bundle was selected.
  struct UploadBatch {
    std::vector<int64_t> bundleIDs;
    std::vector<uint8_t> body;
    int64_t uploadTimestampMillis = 0;
    int64_t lastEventEndTimestampMillis = 0;
  };
  // Consent, data controls, checksums, the device filter and the
  // compatibility cut over `queued` (changed in place), then the batch.
  std::optional<UploadBatch> batchFromQueuedBundles(std::vector<GWLQueuedBundle>& queued,
                                                    const std::optional<std::string>& uploadSubdomain);

  // ---- the configuration fetch (GWLMeasurementConfigFetch.cc), worker queue ----
  // GETs the configuration, conditionally (the stored validators) when the
  // stored one was fetched by this library version.
  virtual void fetchRemoteConfig();
  // 200/204/304/404 clear the failure times and move on to uploading; a new
  // body is applied in one transaction and its validators kept; anything else
  // records a failure and reschedules.
  void networkRemoteConfigFetchCompletionHandler(const std::shared_ptr<const platform::HTTPURLResponse>& response,
                                                 std::span<const uint8_t> data,
                                                 const std::optional<platform::Error>& error);
  // Decodes, checks, stores and applies a configuration body with its
  // audiences in one database transaction; whether it committed. A rollback
  // also puts the configuration in force before back.
  [[nodiscard]] bool applyFetchedConfigInTransaction(std::span<const uint8_t> body);
  // The transaction's block (false rolls it back).
  [[nodiscard]] bool applyFetchedConfig(std::span<const uint8_t> body);

  // ---- automatic events and internal user properties (GWLMeasurementAutomaticEvents.cc) ----
  // The events and properties the engine makes by itself, origin "auto", on
  // the worker queue unless noted. Events go through
  // handleInternalEventOnWorkerQueue, properties through
  // setUserAttributeOnWorkerQueue. Database failures are logged and end the
  // step; nothing is retried.
  //
  // First open, once per install ("_fot" marks it): "_fi" and "_fot" are set
  // and read back, then "_f" (and, unless redundant engagement removal is
  // on, an "_e" with "_et" = 1), the session when the app is active, the
  // stored launch link as a campaign, and the ad network registration. A
  // property that cannot be confirmed ends it without "_f": the next start
  // tries again. Later starts: the session at launch (when the first scene
  // connects, for a pre-warmed scene-based app), or the session properties
  // go when the session has expired.
  virtual void reportFirstOpenOnWorkerQueue();
  // A new session at `timestamp` when one is due: counted by the session
  // reporter, "_sid" and "_sno" set, "_s" logged ("_aib" = 1 when
  // `appInBackground` and the configuration allows it).
  virtual void reportSessionStartOnWorkerQueueWithTimestamp(double timestamp, bool appInBackground);
  // A session start at the engine's start time, not in background, posted
  // to the worker queue (block 1113, holding the engine weakly). Any thread.
  void reportSessionStart();
  // Observes the scene-will-connect notification; the first one removes the
  // observer and calls reportSessionStart, so the session starts once.
  void reportSessionStartWhenSceneWillConnectOnWorkerQueue();
  // "_sid", "_sno" and "_se" deleted in one transaction; the first failure
  // (23177, 23178, 23192) rolls all back.
  virtual void removeSessionUserPropertiesOnWorkerQueue();
  // The first start after an update of the app (of the OS) logs "_au" with
  // "_pv" ("_ou" with "_po") = the version before; the very first start only
  // stores the version.
  virtual void reportAppUpdateOnWorkerQueue();
  virtual void reportOSUpdateOnWorkerQueue();
  // "_npa" follows the app's ad-personalisation setting: set (1 to disable,
  // 0 to allow) when it changed, deleted when the setting is gone (23180,
  // diagnostic digit 0); without a consent value the setting also becomes
  // the "ad_personalization" consent.
  virtual void setPersonalizedAdsUserPropertyOnWorkerQueue();
  // "ad_personalization" := "denied" for a true `value`, else "granted",
  // unless the current consent agrees already; its diagnostic digit tells
  // where the setting came from (5 persisted, 3 Info dictionary, 1 defaults).
  void updateAdPersonalizationConsentFromNPAValue(int64_t value) override;
  // Hands the app's user data to the on-device measurement's query run
  // (GWLOnDeviceMeasurementHooks).
  void initiateODM1ProtocolWithUserData(const platform::Dictionary& userData) override;
  // The configuration's consent defaults, delegations and regional defaults
  // into the consent state; a changed ad-personalisation consent asks the
  // next bundle to refresh "_npa". Also after every configuration fetch.
  virtual void updateConsentSettingsUtilWithRemoteConfig();
  // The legacy "_hbraid" property becomes the stored ad campaign
  // information (when none is stored), and then goes.
  virtual void updateCachedAdCampaignInfoWithExistingHBRAIDProperty();
  virtual void removeLegacyHBRAIDUserProperty();
  // A persisted session number of 0 becomes the lifetime count of "_s".
  virtual void backfillSessionNumber();
  // (ms / 3600000) x 3600000 + 3600000: an exact hour also moves on by one;
  // saturating at the largest int64.
  static int64_t timestampMillisRoundedUpToNextHour(int64_t milliseconds);
  // Whether the running version is the version first installed (the
  // purchase measurement's receipt check).
  bool isVersionSameAsOriginalVersion() const;
  // The set time of "_fot", else the earliest set time of any property; 0
  // when none can be read (23123, 23124).
  double firstOpenTimestamp();
  // The attributes of the file at `path`; none for an empty path or when
  // they cannot be read (23022).
  std::optional<platform::Dictionary> fileAttributesForPath(const std::string& path) const;

  // ---- bundling and sampling (worker queue; GWLMeasurementBundling.cc, GWLMeasurementSampling.cc) ----
  using RawEvents = std::vector<std::shared_ptr<GWLRawEventData>>;
  using Events = std::vector<std::shared_ptr<GWLEvent>>;
  using ProtoEvents = std::vector<std::shared_ptr<GWLPBEvent>>;
  // Builds and queues at most one bundle from the oldest raw events that
  // share one metadata bundle, in one transaction; true when raw events were
  // consumed (a bundle was queued, or sampling left nothing and they went).
  bool bundleRawEvents();
  // The next run of one fingerprint's raw events that fits in one bundle:
  // consecutive row IDs of one clock hour, at most `uploadMaxEventsPerBundle`
  // events below `uploadMaxSizeLimitBytes` (the first always fits). Nullopt
  // on a read error. A first row that cannot be read is named in
  // `damagedRowID` (and nothing is answered).
  std::optional<RawEvents> rawEventsWithMetadataFingerprint(int64_t fingerprint,
                                                            std::optional<int64_t>* damagedRowID = nullptr);
  // Rejection, daily conversion and real-time limits, purchases: the events
  // to bundle (empty when all were rejected and deleted), nullopt on error.
  std::optional<Events> processRawEvents(const RawEvents& rawEvents, int64_t fingerprint);
  std::shared_ptr<GWLRawEventData> internalEventFromPublicEvent(const std::shared_ptr<GWLRawEventData>& rawEvent);
  std::shared_ptr<GWLRawEventData> processInAppPurchaseEvent(const std::shared_ptr<GWLRawEventData>& rawEvent);
  std::shared_ptr<GWLRawEventData> validateAutomaticInAppPurchaseEvent(
      const std::shared_ptr<GWLRawEventData>& rawEvent);
  std::shared_ptr<GWLRawEventData> processManualInAppPurchaseEvent(const std::shared_ptr<GWLRawEventData>& rawEvent);
  // True when the daily counts changed.
  bool checkConversion(const std::shared_ptr<GWLRawEventData>& rawEvent, GWLDailyCounts& dailyCounts);
  bool checkRealtime(const std::shared_ptr<GWLRawEventData>& rawEvent, GWLDailyCounts& dailyCounts);
  // Session start and engagement of the raw events (side effects only; answers none).
  std::optional<double> evaluationTimeFromRawEvents(const RawEvents& rawEvents, GWLPBMeasurementBundle& bundle);
  void handleAnalyticsStorageConsentTransitions(const GWLPBMeasurementBundle& bundle);
  // The events, each with its previous timestamp, after their aggregates
  // (and, when allowed, the audiences' event filters) took them in.
  std::optional<Events> eventsAfterUpdatingEventAggregates(const Events& events,
                                                           const std::shared_ptr<GWLAudienceTimestampsCache>& cache,
                                                           bool allowEventFilterEvaluation);
  std::shared_ptr<GWLEvent> purchaseEventWithCustomerTypeParam(const std::shared_ptr<GWLEvent>& event);
  bool updateAppMetadataForBundle(GWLPBMeasurementBundle& bundle, double bundleStartTimestamp,
                                  double bundleEndTimestamp);
  bool updateUserEngagement(int64_t milliseconds, GWLPBMeasurementBundle& bundle, bool sessionScoped);
  void addBundleMetadataIntoBundle(GWLPBMeasurementBundle& bundle, double bundleStartTimestamp,
                                   double bundleEndTimestamp);
  // The kept events in input order; nullopt with `error` set when the
  // aggregates could not be read or written.
  std::optional<ProtoEvents> sampleEvents(const ProtoEvents& events, platform::Error* error = nullptr);
  bool canEventBeSampled(const GWLPBEvent& event);
  // True with probability 1/rate: a uniform draw in [0, rate) that is 0.
  bool isEventBundledAfterRoll(int32_t rate);
  // The source of the sampling draws (a secure generator unless replaced).
  void setRandomSource(std::shared_ptr<platform::Random> random) { random_ = std::move(random); }

 protected:
  // The component block: false at the first step that failed.
  virtual bool initializeComponentsOnWorkerQueue();
  // ---- what the write pipeline asks of the layers above (tests replace them) ----
  // The conditional user property controller (its shared instance).
  virtual std::shared_ptr<GWLConditionalUserPropertyControlling> conditionalUserPropertyController() const;
  // The event-editing runtime of the configuration in force, or null.
  virtual std::shared_ptr<GWLEventEditingRuntime> eventEditingRuntime() const;
  // Whether the platform's tracking-authorisation class is present.
  virtual bool hasTrackingAuthorizationClass() const;

  // Posts `block` to the worker queue holding the engine weakly.
  void scheduleWeakly(const std::string& blockID, std::function<void(GWLMeasurement&)> block);
  std::shared_ptr<GWLAnalytics> analytics() const;
  void report(int64_t level, int64_t code, const std::string& message) const;
  void report(const GWLAnalyticsReport& report) const;
  void report(const GWLAnalyticsReport& report, const GWLLogContext& context) const;
  void report(const GWLAnalyticsReport& report, const GWLLogContext& context1, const GWLLogContext& context2) const;

 private:
  static bool checkAppID(const std::string& appID, const Dependencies& dependencies);
  // A report text with its one "%@" (or "%lld") replaced by `value`.
  static std::string filledIn(const char* text, const std::string& value);
  // The designated initialiser's last steps, once the engine is owned.
  void finishCreation(const std::shared_ptr<GWLMeasurement>& self);
  void logStartHints();
  bool classExists(const std::string& name) const;
  std::optional<platform::Object> infoDictionaryValue(const std::string& key) const;
  bool isScreenReportingEnabled() const;
  std::shared_ptr<GWLSessionReporting> makeSessionReporter() const;
  std::shared_ptr<GWLRemoteConfig> makeRemoteConfig(const std::shared_ptr<GWLDatabaseRemoteConfigStore>& store) const;
  void deleteDatabaseFiles();

  const std::string databaseName_;
  Dependencies dependencies_;
  const std::shared_ptr<platform::Clock> clock_;
  const std::shared_ptr<GWLMonitor> monitor_;
  const std::shared_ptr<GWLPersistedConfig> persistedConfig_;
  const std::shared_ptr<GWLScheduler> scheduler_;
  const std::shared_ptr<GWLAlarm> alarm_;
  const std::shared_ptr<GWLExperimentsManaging> experimentManager_;
  const std::shared_ptr<platform::NotificationCenter> notificationCenter_;
  const std::shared_ptr<platform::BackgroundTasks> backgroundTasks_;
  std::shared_ptr<platform::HVUNetwork> network_;
  const std::string appID_;
  const bool isAnalyticsCollectionEnabled_;
  const bool isAnalyticsCollectionDeactivated_;
  const std::optional<std::vector<std::string>> safelistedEvents_;
  std::weak_ptr<GWLMeasurement> weakSelf_;

  std::atomic<bool> enabled_{false};
  std::atomic<bool> wasEnabledDuringInitialization_{false};
  std::atomic<bool> didInitializeComponents_{false};
  std::atomic<bool> isNetworkRequestPending_{false};
  std::atomic<platform::BackgroundTaskIdentifier> backgroundUpdateTask_{platform::kBackgroundTaskInvalid};
  std::atomic<double> initTimestamp_{0};
  std::atomic<double> suspendedUploadTimestamp_{0};

  // Makes the component block run at most once at a time.
  platform::Mutex initializeComponentsLock_;

  // The components: written on the worker queue, read anywhere.
  mutable platform::Mutex stateMutex_;
  std::shared_ptr<GWLIdentity> identity_ ABSL_GUARDED_BY(stateMutex_);
  std::shared_ptr<GWLDatabase> database_ ABSL_GUARDED_BY(stateMutex_);
  // The configuration keeps its store weakly: the engine owns it.
  std::shared_ptr<GWLDatabaseRemoteConfigStore> configStore_ ABSL_GUARDED_BY(stateMutex_);
  std::shared_ptr<GWLRemoteConfig> remoteConfig_ ABSL_GUARDED_BY(stateMutex_);
  std::shared_ptr<GWLAudienceEvaluating> audience_ ABSL_GUARDED_BY(stateMutex_);
  std::shared_ptr<GWLSessionReporting> sessionReporter_ ABSL_GUARDED_BY(stateMutex_);
  std::shared_ptr<GWLTCFClient> tcfClient_ ABSL_GUARDED_BY(stateMutex_);
  std::optional<std::string> previousQRXAppID_ ABSL_GUARDED_BY(stateMutex_);

  // The worker queue's.
  bool shouldRequestDeferredDeepLinkAfterConfigFetch_ = false;
  // The row IDs of the upload in flight; the largest bundle end time sent so far.
  std::vector<int64_t> uploadingBundleIDs_;
  int64_t lastEventEndTimestampMsec_ = 0;
  // Numbers the engine's requests: a completion of any but the latest one
  // (a request given up on) is ignored.
  uint64_t requestGeneration_ = 0;
  // The failure time (and, for 503 and 429, the back-off time) := now.
  void recordRequestFailure(int status);
  // The write pipeline's: the safelisted event names (empty: every event passes).
  const std::unordered_set<std::string> safelist_ =
      safelistedEvents_ ? std::unordered_set<std::string>(safelistedEvents_->begin(), safelistedEvents_->end())
                        : std::unordered_set<std::string>{};

  // ---- bundling and sampling (worker queue) ----
  // Settings a bundling pass writes, kept until its transaction commits.
  struct BundlingStage {
    std::optional<std::optional<std::string>> previousBundledConsentSignals;
    std::optional<double> lastMonitorDataSampledTimestamp;
    bool clearNPAUpdateFlag = false;
  };
  bool bundleRawEventsInTransaction(GWLDatabase& database, bool& bundleCreated);
  std::shared_ptr<platform::Random> random_ = GWLDefaultSamplingRandom();
  BundlingStage* bundlingStage_ = nullptr;  // while a pass runs

  // The foreground and background observers, installed by the component block.
  platform::Mutex observerMutex_;
  std::vector<platform::ObserverToken> observers_ ABSL_GUARDED_BY(observerMutex_);
  // The scene-will-connect observer of a pre-warmed launch, until the first scene connects.
  platform::ObserverToken sceneWillConnectObserver_ ABSL_GUARDED_BY(observerMutex_);
  // Stores `current` when it differs from the last run's `previous`, and then
  // logs `eventName` with the previous version when there was one.
  void reportVersionChange(const std::optional<std::string>& current, const std::optional<std::string>& previous,
                           const std::function<void(const std::optional<std::string>&)>& store, const char* eventName,
                           const char* previousVersionParameter);
};
