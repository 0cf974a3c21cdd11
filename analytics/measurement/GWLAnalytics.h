// GWLAnalytics — the entry class of the analytics core.
//
// Every public call of the library ends here before it reaches the engine
// (GWLAnalyticsEngine, reached through GWLMeasurement's class accessors). The
// class decides whether the library may start at all, starts the engine once,
// and owns the three queues all calls pass through:
//
//   GWLAnalyticsQueue            serial; where the calls meet the engine
//   GWLAnalyticsOperationQueue   hold queue; keeps calls in order until start
//                                (and during the half-second pause of setUserData),
//                                then posts each to GWLAnalyticsQueue
//   GWLAnalyticsTimestampQueue   serial, used synchronously; an event's timestamp
//                                is taken and the event queued in one block on it,
//                                so events reach GWLAnalyticsQueue in timestamp order
//
// How a call runs: on the caller's thread (names and values are checked
// there, and refused ones produce the library's error event "_err"), then
// either posted at once to GWLAnalyticsQueue ("serial": also before start,
// against an engine that does not exist yet) or added to the hold queue
// ("queued": held until start). A queued call made while no engine exists
// does nothing, except where its method says otherwise.
//
// It also keeps the event interceptor, the event listeners and the open-URL
// listener, observes the payment queue for purchases, registers an
// app-delegate interceptor so that opened URLs reach the library without the
// app's help, keeps its flags in the user-defaults suite
// "GWLAnalyticsSuiteName", carries the consent unit (GWLAnalyticsConsent,
// whose effects come back through this class as its sink), and is the internal-event
// logger of the library's error events.
//
// Text from callers that is not valid UTF-8 (names, origins, parameter names
// and values, property values, user data) is cleaned here, each ill-formed
// part replaced by U+FFFD, before validation, the engine or the wire see it.
//
// One instance per process (`sharedInstance`); tests make their own with
// `create` and their collaborators.
//
// Threading: every method may be called from any thread, except
// `setScreenName` (main queue only, refused elsewhere). The collection flag,
// the interceptor, the listeners and the open-URL listener belong to
// GWLAnalyticsQueue; `loadTimestamp` has a lock of its own. A listener or
// callback that calls back into this class from GWLAnalyticsQueue never
// deadlocks: inline paths run at once there, and setUserData only adds its
// operation there.
#pragma once

#include <absl/base/thread_annotations.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "analytics/attribution/GWLInAppPurchaseTransactionReporting.h"
#include "analytics/foundation/core/GWLLogContext.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/values/GWLEvent.h"
#include "analytics/foundation/values/GWLValue.h"
#include "analytics/measurement/GWLAnalyticsConsent.h"
#include "analytics/measurement/GWLAnalyticsEngine.h"
#include "platform/appdelegate/ApplicationDelegate.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"
#include "platform/dispatch/NotificationCenter.h"
#include "platform/storekit/PaymentQueue.h"
#include "platform/util/Mutex.h"

namespace platform {
class AppEnvironment;
class Clock;
class HVUAppDelegateSwizzler;
class Queue;
class SerialQueue;
}  // namespace platform
class GWLAnalyticsOperationQueue;
class GWLAnalyticsTimestampQueue;
class GWLAppDelegateInterceptor;
class GWLIdentifiers;
class GWLIdentity;
class GWLMonitor;
class GWLPersistedConfig;
class GWLScreenViewReporting;
class GWLUserDefaults;

inline constexpr const char* kGWLAnalyticsQueueLabel = "GWLAnalyticsQueue";
// How long setUserData holds the hold queue once the calls before it are handed on.
inline constexpr double kGWLAnalyticsUserDataPause = 0.5;

// Origins.
inline constexpr const char* kGWLOriginApp = "app";
inline constexpr const char* kGWLOriginAuto = "auto";
inline constexpr const char* kGWLOriginCorvane = "cz";
inline constexpr const char* kGWLOriginInternal = "gw";

// Keys of the suite "GWLAnalyticsSuiteName" (the consent keys are GWLAnalyticsConsent's).
inline constexpr const char* kGWLResetRetryCountKey = "reset_retry_count";
inline constexpr const char* kGWLNeedFirstOpenAfterResetKey = "need_first_open_after_reset";
inline constexpr const char* kGWLAppInstanceIDAfterResetKey = "app_instance_id_after_reset";
inline constexpr const char* kGWLDeferredAnalyticsCollectionKey = "deferred_analytics_collection";

// Start options.
inline constexpr const char* kGWLStartOptionLogTag = "gauge_well_log_tag";
inline constexpr const char* kGWLStartOptionCollectionEnabled = "CORVANE_ANALYTICS_COLLECTION_ENABLED";
inline constexpr const char* kGWLStartOptionCollectionDeactivated = "CORVANE_ANALYTICS_COLLECTION_DEACTIVATED";
inline constexpr const char* kGWLStartOptionConfiguration = "CORVANE_ANALYTICS_CONFIGURATION";
inline constexpr const char* kGWLStartOptionSafelistedEvents = "safelisted_events";

// Notifications.
inline constexpr const char* kGWLWillStartNotification = "kCVNAnalyticsWillStartNotification";
// Posted by the core framework's configuration object; the same name keys the
// number in its user information.
inline constexpr const char* kGWLConfigurationSetEnabledNotification = "CVNAnalyticsConfigurationSetEnabledNotification";

// Classes (optional components of the app environment) the start looks for.
inline constexpr const char* kGWLOlderLibraryClassName = "CVNADatabase";
inline constexpr const char* kGWLPublicClassName = "CVNAnalytics";
inline constexpr const char* kGWLTagManagerClassName = "KXWManager";
inline constexpr const char* kGWLTagManagerInitializeMethod = "initializeSharedInstance";

// Names with a meaning here.
inline constexpr const char* kGWLScreenViewEventName = "screen_view";
inline constexpr const char* kGWLAdEventIDParameter = "_aeid";
inline constexpr const char* kGWLUserIDProperty = "_id";
inline constexpr const char* kGWLLastAdvertisingIDResetProperty = "_lair";
inline constexpr const char* kGWLNonPersonalizedAdsProperty = "_npa";

// Length limits given with the library's error events.
inline constexpr size_t kGWLEventNameErrorLimit = 40;
inline constexpr size_t kGWLUserPropertyErrorLimit = 24;
// The longest origin of an internal user property.
inline constexpr size_t kGWLMaxUserPropertyOriginLength = 32;

// A report of the entry class: monitor level, message code, text.
struct GWLAnalyticsReport {
  int64_t level;
  int64_t code;
  const char* message;
};

// Logs `report` through `monitor` with its contexts (at most three).
template <class... Contexts>
void GWLLogReport(GWLMonitor& monitor, const GWLAnalyticsReport& report, const Contexts&... contexts) {
  static_assert(sizeof...(Contexts) <= 3, "the monitor takes up to three contexts");
  monitor.logWithLevel(report.level, report.code, report.message, GWLLogContext(contexts)...);
}

inline constexpr GWLAnalyticsReport kGWLSetEnabledWithoutNumberReport{
    4, 25000, "Received setEnabled notification without NSNumber"};
inline constexpr GWLAnalyticsReport kGWLUserPropertyNotStringReport{0, 25003, "User property must be NSString. Value"};
inline constexpr GWLAnalyticsReport kGWLUserIDNotStringReport{0, 25004, "User ID must be NSString. User ID"};
inline constexpr GWLAnalyticsReport kGWLInvalidPropertyOriginReport{
    2, 25005, "Unable to set user property. Origin is invalid. Origin, name"};
inline constexpr GWLAnalyticsReport kGWLNilUserPropertiesCallbackReport{
    2, 25006, "Analytics userProperties callback cannot be nil"};
inline constexpr GWLAnalyticsReport kGWLNilUserPropertiesQueueReport{
    2, 25007, "Cannot query for Analytics user properties. Queue cannot be nil"};
inline constexpr GWLAnalyticsReport kGWLUserPropertiesWhileDisabledReport{
    5, 25008, "Cannot query for public user properties when Analytics is disabled"};
inline constexpr GWLAnalyticsReport kGWLEmptyMaxUserPropertiesOriginReport{
    2, 25009, "Cannot query Analytics for max user properties. Origin must be a non-empty string"};
inline constexpr GWLAnalyticsReport kGWLNilMaxUserPropertiesQueueReport{
    2, 25010, "Cannot query Analytics for max user properties. Queue cannot be nil. Origin"};
inline constexpr GWLAnalyticsReport kGWLNilMaxUserPropertiesCallbackReport{
    2, 25011, "Cannot query Analytics for max user properties. MaxUserProperties callback cannot be nil. Origin"};
inline constexpr GWLAnalyticsReport kGWLNilListenerReport{2, 25012, "Attempted addition of nil log event listener."};
inline constexpr GWLAnalyticsReport kGWLNilListenerTokenReport{2, 25013, "Attempted removal of nil log event."};
inline constexpr GWLAnalyticsReport kGWLNoListenersReport{2, 25014, "Attempted removal of nil log event listener."};
inline constexpr GWLAnalyticsReport kGWLUnknownListenerTokenReport{
    2, 25015, "Attempted removal of log event listener with invalid token."};
inline constexpr GWLAnalyticsReport kGWLTagManagerWithoutInitializerReport{
    2, 25016, "KXWManager class doesn't define initializeSharedInstance"};
inline constexpr GWLAnalyticsReport kGWLAdEventIDNotNumberReport{2, 25024, "AdEvent ID string is not a number"};
inline constexpr GWLAnalyticsReport kGWLScreenNameOffMainThreadReport{
    3, 25025,
    "setScreenName:screenClass: must be called from the main thread to ensure that events are associated with the "
    "intended screen."};
inline constexpr GWLAnalyticsReport kGWLDeferringToCorvaneReport{
    3, 25026, "Deferring to Corvane for event data collection"};
inline constexpr GWLAnalyticsReport kGWLDeferringToCorvaneLibraryReport{
    0, 25027,
    "Deferring to Halcyra Analytics for Corvane for event data collection. https://halcyra.example/analytics/start"};
inline constexpr GWLAnalyticsReport kGWLOlderLibraryReport{
    1, 25029,
    "Detected an older version of Halcyra Analytics for Corvane framework. Data collection will be disabled. Please "
    "upgrade to the latest version of Halcyra Analytics for Corvane"};
inline constexpr GWLAnalyticsReport kGWLInvalidLogTagReport{2, 25030, "Invalid monitor tag. It must be a non-empty string."};
inline constexpr GWLAnalyticsReport kGWLPersonalizedAdsWhileDisabledReport{
    7, 25033, "Personalized Ads property changed while Analytics is disabled"};
inline constexpr GWLAnalyticsReport kGWLSafelistNotArrayReport{
    0, 25034, "Invalid safelisted event parameter. Type must be an array"};
inline constexpr GWLAnalyticsReport kGWLInvalidSafelistNameReport{0, 25035, "Invalid event name for safelisting. Name"};
inline constexpr GWLAnalyticsReport kGWLAppDelegateProxyDisabledReport{6, 25036, "App Delegate Proxy is disabled"};
inline constexpr GWLAnalyticsReport kGWLResetFailedReport{1, 25037, "Failed to reset Analytics data"};
inline constexpr GWLAnalyticsReport kGWLNoAppInstanceIDReport{1, 25039, "Cannot generate a new app instance ID"};
inline constexpr GWLAnalyticsReport kGWLUserDataWhileDisabledReport{4, 25044, "Analytics is disabled. User data not set."};
inline constexpr GWLAnalyticsReport kGWLNilSessionIDCompletionReport{
    1, 25050, "Analytics sessionID completion cannot be nil"};
inline constexpr GWLAnalyticsReport kGWLSessionTimeoutSetReport{7, 25059, "Session timeout interval set. (s)"};
inline constexpr GWLAnalyticsReport kGWLNegativeSessionTimeoutReport{
    4, 25060, "Session timeout interval cannot be set to a negative value"};

// The description of the session ID query's error without an engine.
inline constexpr const char* kGWLAnalyticsUninitializedDescription = "Analytics uninitialized";

// A registered event listener: tokens are equal exactly for one registration.
struct GWLLogEventListenerToken {
  uint64_t value = 0;
  friend bool operator==(const GWLLogEventListenerToken&, const GWLLogEventListenerToken&) = default;
  friend auto operator<=>(const GWLLogEventListenerToken&, const GWLLogEventListenerToken&) = default;
};

class GWLAnalytics : public platform::PaymentTransactionObserver, public std::enable_shared_from_this<GWLAnalytics> {
 public:
  using Block = std::function<void()>;
  using LogEventListener = std::function<void(const std::shared_ptr<const GWLEvent>& event)>;
  using OpenURLListener = std::function<void(const std::string& url)>;
  using UserPropertiesCallback = std::function<void(const platform::Dictionary& properties)>;
  using MaxUserPropertiesCallback = std::function<void(int32_t maxUserProperties)>;
  using SessionIDCompletion = GWLAnalyticsEngine::SessionIDCompletion;

  // Collaborators; each null or empty one is the process's own.
  struct Dependencies {
    std::shared_ptr<platform::Clock> clock;
    std::shared_ptr<GWLMonitor> monitor;               // GWLMeasurement::monitor()
    std::shared_ptr<GWLUserDefaults> defaults;         // the suite "GWLAnalyticsSuiteName"
    std::shared_ptr<GWLAnalyticsConsent> consent;      // one on `defaults`
    std::function<std::shared_ptr<GWLPersistedConfig>()> persistedConfig;  // GWLPersistedConfig::sharedInstance
    std::function<std::shared_ptr<GWLIdentity>()> identity;                // GWLIdentity::sharedInstance
    std::shared_ptr<GWLIdentifiers> identifiers;       // GWLIdentifiers::sharedInstance()
    std::function<std::string()> randomAppInstanceID;  // GWLIdentity::randomAppInstanceID
    std::shared_ptr<platform::AppEnvironment> environment;  // the shared one, at each use
    std::shared_ptr<platform::NotificationCenter> notificationCenter;
    std::shared_ptr<platform::Queue> mainQueue;
    std::shared_ptr<platform::Queue> globalQueue;  // the global queue of default priority
    std::shared_ptr<platform::PaymentQueue> paymentQueue;
    std::shared_ptr<platform::HVUAppDelegateSwizzler> appDelegateSwizzler;
    std::shared_ptr<GWLScreenViewReporting> screenViewReporter;  // the reporter's shared instance, at each use
    std::shared_ptr<GWLInAppPurchaseTransactionReporting> purchaseReporter;  // likewise
    GWLAnalyticsEngineFactory engineFactory;  // GWLMeasurement::defaultEngineFactory()
    // The load time; GWLLibraryLoadTimestamp() when none, else the clock's now.
    std::optional<double> loadTimestamp;
  };

  // The process's entry class, made on first use; it is the internal-event
  // logger of the library's error events.
  static std::shared_ptr<GWLAnalytics> sharedInstance();
  static std::shared_ptr<GWLAnalytics> create(Dependencies dependencies = {});
  // Tests: `analytics` becomes the process's entry class and the
  // internal-event logger; null makes the next sharedInstance() a new one.
  static void setSharedInstanceForTesting(std::shared_ptr<GWLAnalytics> analytics);
  ~GWLAnalytics() override;

  // ---- start and queues ----
  // The start gate and, once per process, the start. `configuration` is the
  // core framework's configuration object of the start options (the option
  // "CORVANE_ANALYTICS_CONFIGURATION", which a value dictionary cannot hold).
  void startWithAppID(const std::string& appID, const std::string& origin, const platform::Dictionary& options,
                      const platform::NotificationSender& configuration = nullptr);
  std::shared_ptr<platform::SerialQueue> queue() const { return queue_; }
  void dispatchAsyncOnSerialQueue(Block block);
  void queueOperationWithBlock(Block block);
  // Queues the block; when the hold queue runs (and the caller is not on
  // GWLAnalyticsQueue), waits until every queued call is handed on, then
  // holds the hold queue for half a second of the clock.
  void queueOperationWithBlockThenWait(Block block);
  void unsuspendOperationQueue();
  bool isCurrentQueueSerialQueue() const;
  const std::shared_ptr<GWLAnalyticsOperationQueue>& operationQueue() const { return operationQueue_; }

  double loadTimestamp() const;
  void setLoadTimestamp(double timestamp);

  // ---- collection ----
  void setAnalyticsEnabled(bool enabled);
  void setAnalyticsEnabled(bool enabled, bool persistSetting);
  void observeNotificationsForAnalyticsConfiguration(const platform::NotificationSender& configuration);
  void handleSetEnabled(const platform::Notification& notification);
  // Whether the library currently collects (GWLAnalyticsQueue's flag; any thread may read it).
  bool collectionEnabled() const { return collectionEnabled_.load(); }
  bool collectionDeactivated() const { return collectionDeactivated_.load(); }

  // ---- screens, sessions ----
  void setScreenName(const std::optional<std::string>& screenName, const std::optional<std::string>& screenClass);
  void setSessionTimeoutInterval(double seconds);
  void sessionIDWithCompletion(SessionIDCompletion completion);

  // ---- identity, user data, reset ----
  std::optional<std::string> appInstanceID();
  void setUserData(const platform::Dictionary& userData);
  void setUserDataOnSerialQueue(const platform::Dictionary& userData);
  void resetAnalyticsData();

  // ---- the suite's keys ----
  int64_t resetRetryCount() const;
  // A value of 0 or less removes the key.
  void setResetRetryCount(int64_t count);
  bool needFirstOpenAfterReset() const;
  void setNeedFirstOpenAfterReset(bool need);
  void removeNeedFirstOpenAfterReset();
  std::optional<std::string> appInstanceIDAfterReset() const;
  void setAppInstanceIDAfterReset(const std::optional<std::string>& appInstanceID);
  // None while unset.
  std::optional<bool> deferredAnalyticsCollection() const;
  void setDeferredAnalyticsCollection(const std::optional<bool>& deferred);
  const std::shared_ptr<GWLAnalyticsConsent>& consent() const { return consent_; }
  // The consent unit's sink: hands an internal event (such as "_dcu" or
  // "_tcf") and a string user property on to this class. Also what the TCF
  // client takes as its event sink.
  const std::shared_ptr<GWLAnalyticsConsentSink>& consentSink() const { return consentSink_; }

  // ---- events ----
  // The app's event (origin "app").
  void logEventWithName(const std::string& name, const std::optional<GWLRawParameters>& parameters);
  void logEventWithName(const std::string& name, const platform::Dictionary& parameters);
  // A public event: the name is checked here; a refused one logs the error event instead.
  void logEventWithOrigin(const std::string& origin, const std::string& name,
                          const std::optional<GWLRawParameters>& parameters);
  // An internal event: no name check.
  void logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                  const std::optional<GWLRawParameters>& parameters);
  // The instance method of the same name: for origin "gw", a decimal "_aeid"
  // text becomes a 64-bit integer (beyond the range: INT64_MAX or INT64_MIN),
  // any other "_aeid" text is reported (25024); then logInternalEventWithOrigin.
  void logInternalEventConvertingAdEventID(const std::string& origin, const std::string& name,
                                           const std::optional<GWLRawParameters>& parameters);
  void logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                          const std::optional<GWLRawParameters>& parameters);
  // An internal event with its own time, from the screen-view reporter: no
  // name check, no screen_view routing, no timestamp queue.
  void logInternalEventWithOrigin(const std::string& origin, const std::string& name, double timestamp,
                                  const std::optional<GWLRawParameters>& parameters);
  void logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                          const std::optional<GWLRawParameters>& parameters, double timestamp, bool ignoreEnabled,
                          bool ignoreInterceptor);
  // The last step, on GWLAnalyticsQueue.
  void logEventOnSerialQueueWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                       const std::optional<GWLRawParameters>& parameters, double timestamp,
                                       bool ignoreEnabled, bool ignoreInterceptor,
                                       const std::optional<GWLRawParameters>& addedScreenParameters);
  void logTransactionWithProductID(const GWLStoreTransactionValues& transaction);
  void setDefaultEventParameters(const std::optional<platform::Dictionary>& parameters);

  // ---- opened URLs ----
  void createAppDelegateProxy();
  void handleOpenURL(const std::string& url);
  void handleUserActivity(const platform::UserActivity& activity);
  void setOpenURLListener(OpenURLListener listener);
  void handleEventsForBackgroundURLSession(const std::string& identifier, const std::function<void()>& completionHandler);
  const std::shared_ptr<GWLAppDelegateInterceptor>& appDelegateInterceptor() const { return appDelegateInterceptor_; }

  // ---- user properties ----
  // `value` null stands for nil; a value of another kind than text is refused (25003).
  void setUserPropertyString(const platform::Object& value, const std::string& name);
  void setUserID(const platform::Object& userID);
  void removeUserAttributeForName(const std::string& name);
  void setUserAttributeNumber(const platform::Object& value, const std::string& name);
  // `value`: a plain object (null for nil) or a typed value.
  void setInternalUserProperty(const GWLRawParameter& value, const std::string& name, const std::string& origin);
  void removeInternalUserAttributeForName(const std::string& name);
  // The two queries are queued; called on GWLAnalyticsQueue itself they run
  // at once, so that a caller there that waits for the answer gets it. Each
  // answers exactly once on the given queue: without an engine with an empty
  // dictionary or 0. Without a queue the (empty) answer of the first comes
  // on the main queue.
  void userPropertiesIncludingInternal(bool includingInternal, std::shared_ptr<platform::Queue> queue,
                                       UserPropertiesCallback callback);
  void maxUserPropertiesForOrigin(const std::string& origin, std::shared_ptr<platform::Queue> queue,
                                  MaxUserPropertiesCallback callback);

  // ---- interceptor and listeners ----
  void setLogEventInterceptor(GWLLogEventInterceptor interceptor);
  // None (reported) for an empty listener.
  std::optional<GWLLogEventListenerToken> addLogEventListener(LogEventListener listener);
  void removeLogEventListener(const std::optional<GWLLogEventListenerToken>& token);
  void notifyEventListeners(std::shared_ptr<const GWLEvent> event);
  void notifyEventListenersOnSerialQueue(const std::shared_ptr<const GWLEvent>& event);

  // The tag-management library's start, during the engine start.
  void maybeEnableKXWManager();

  // ---- purchases (the payment queue's observer) ----
  void paymentQueue(const std::shared_ptr<platform::PaymentQueue>& queue,
                    const std::vector<platform::PaymentTransaction>& updatedTransactions) override;

 private:
  explicit GWLAnalytics(Dependencies dependencies);

  // The engine start on GWLAnalyticsQueue.
  void startEngineOnSerialQueue(const std::string& appID, const std::string& origin,
                                const std::optional<std::vector<std::string>>& safelist, bool enabled);
  std::optional<std::vector<std::string>> validSafelist(const platform::Object& value);
  void setPersonalizedAdsOnSerialQueue(const platform::Object& value);
  void setAnalyticsEnabledOnSerialQueue(bool enabled, bool persistSetting);
  // Runs `block` at once when the caller is on GWLAnalyticsQueue, else queues it.
  void runInlineOrQueued(Block block);
  std::optional<GWLRawParameters> addedScreenParametersFor(const std::optional<GWLRawParameters>& parameters);

  void report(const GWLAnalyticsReport& report) const;
  void report(const GWLAnalyticsReport& report, const GWLLogContext& context) const;
  void report(const GWLAnalyticsReport& report, const GWLLogContext& context1, const GWLLogContext& context2) const;

  double now() const;
  std::shared_ptr<platform::AppEnvironment> environment() const;
  std::shared_ptr<GWLPersistedConfig> persistedConfig() const;
  std::shared_ptr<GWLIdentity> identity() const;
  std::shared_ptr<GWLScreenViewReporting> screenViewReporter() const;
  std::shared_ptr<GWLInAppPurchaseTransactionReporting> purchaseReporter() const;
  bool classExists(const std::string& name) const;

  Dependencies dependencies_;
  std::shared_ptr<platform::Clock> clock_;
  std::shared_ptr<GWLMonitor> monitor_;
  std::shared_ptr<GWLUserDefaults> defaults_;
  std::shared_ptr<GWLAnalyticsConsent> consent_;
  // Hands the consent unit's effects (an internal event, the ad-personalisation property) to this class.
  std::shared_ptr<GWLAnalyticsConsentSink> consentSink_;
  std::shared_ptr<platform::NotificationCenter> notificationCenter_;
  std::shared_ptr<platform::Queue> mainQueue_;
  std::shared_ptr<platform::Queue> globalQueue_;
  std::shared_ptr<platform::PaymentQueue> paymentQueue_;
  std::shared_ptr<platform::HVUAppDelegateSwizzler> swizzler_;
  std::shared_ptr<platform::SerialQueue> queue_;
  std::shared_ptr<GWLAnalyticsTimestampQueue> timestampQueue_;
  std::shared_ptr<GWLAnalyticsOperationQueue> operationQueue_;
  std::shared_ptr<GWLAppDelegateInterceptor> appDelegateInterceptor_;

  mutable platform::Mutex loadTimestampMutex_;
  double loadTimestamp_ ABSL_GUARDED_BY(loadTimestampMutex_);

  std::once_flag startOnce_;
  std::once_flag appDelegateProxyOnce_;
  // Written before the engine start is posted, read on GWLAnalyticsQueue (and by tests).
  std::atomic<bool> collectionDeactivated_{false};
  // GWLAnalyticsQueue's; atomic so that other threads may read it.
  std::atomic<bool> collectionEnabled_{false};
  std::atomic<uint64_t> nextListenerToken_{1};

  // GWLAnalyticsQueue's own.
  std::shared_ptr<GWLAnalyticsEngine> eventEngine_;  // the engine, once found
  GWLLogEventInterceptor logEventInterceptor_;
  std::optional<std::map<GWLLogEventListenerToken, std::shared_ptr<const LogEventListener>>> logEventListeners_;
  OpenURLListener openURLListener_;

  platform::Mutex observerMutex_;
  std::vector<platform::ObserverToken> configurationObservers_ ABSL_GUARDED_BY(observerMutex_);
};
