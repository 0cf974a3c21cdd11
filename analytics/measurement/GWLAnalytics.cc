#include "analytics/measurement/GWLAnalytics.h"

#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/core/GWLError.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/core/GWLUserDefaults.h"
#include "analytics/foundation/values/GWLDataTypeValidator.h"
#include "analytics/foundation/values/GWLDecimalNumber.h"
#include "analytics/foundation/values/GWLErrorEvents.h"
#include "analytics/foundation/values/GWLEventParameters.h"
#include "analytics/foundation/values/GWLUserAttribute.h"
#include "analytics/measurement/GWLAnalyticsOperationQueue.h"
#include "analytics/measurement/GWLAnalyticsTimestampQueue.h"
#include "analytics/measurement/GWLAppDelegateInterceptor.h"
#include "analytics/measurement/GWLConsentSettingsUtil.h"
#include "analytics/measurement/GWLHalcyraServiceFileUtil.h"
#include "analytics/measurement/GWLIdentifiers.h"
#include "analytics/measurement/GWLIdentity.h"
#include "analytics/measurement/GWLLibraryLoad.h"
#include "analytics/measurement/GWLMeasurement.h"
#include "analytics/measurement/GWLScreenViewReporting.h"
#include "platform/appdelegate/HVUAppDelegateSwizzler.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Timer.h"
#include "platform/env/AppEnvironment.h"
#include "platform/net/HVUNetwork.h"
#include "platform/text/BooleanText.h"
#include "platform/text/Utf8.h"
#include "platform/text/Utf8Object.h"

namespace {

// ---- caller text: ill-formed UTF-8 replaced ----

std::string cleanText(const std::string& text) {
  return platform::utf8::isValid(text) ? text : platform::utf8::replacingInvalid(text);
}

std::optional<std::string> cleanText(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  return cleanText(*text);
}

GWLRawParameter cleanParameter(const GWLRawParameter& parameter) {
  if (const auto* object = std::get_if<platform::Object>(&parameter)) {
    return platform::utf8::objectReplacingInvalid(*object);
  }
  const GWLValue& value = std::get<GWLValue>(parameter);
  // Strings are valid once typed; the elements of an array are kept as given.
  if (const platform::Array* array = value.arrayValue()) {
    return platform::utf8::objectReplacingInvalid(platform::Object(*array));
  }
  return value;
}

std::optional<GWLRawParameters> cleanParameters(const std::optional<GWLRawParameters>& parameters) {
  if (!parameters) return std::nullopt;
  GWLRawParameters cleaned;
  for (const auto& [name, value] : *parameters) cleaned.emplace(cleanText(name), cleanParameter(value));
  return cleaned;
}

// ---- values as the platform reads them ----


bool numberBoolValue(const platform::Object& object) {
  if (auto flag = object.boolValue()) return *flag;
  if (auto number = object.numberValue()) return *number != 0;
  return false;
}

constexpr const char* kScreenParameterNames[] = {kGWLScreenNameParameter, kGWLScreenClassParameter,
                                                  kGWLScreenIDParameter};

bool hasScreenParameters(const GWLRawParameters& parameters) {
  for (const char* name : kScreenParameterNames) {
    if (parameters.count(name)) return true;
  }
  return false;
}

// The text of a raw parameter that is a string, as an object or as a value.
const std::string* stringOf(const GWLRawParameter& parameter) {
  if (const auto* object = std::get_if<platform::Object>(&parameter)) return object->stringValue();
  return std::get<GWLValue>(parameter).stringValue();
}

// The error event of a refused user property name: 15 for a reserved one, 6 otherwise.
void logUserPropertyNameError(GWLValidatorFailureCode code, const std::string& name) {
  GWLLogErrorEventWithName(code == kGWLValidatorFailureReserved ? kGWLEventErrorUserPropertyNameIsReserved
                                                                : kGWLEventErrorInvalidUserPropertyName,
                           name, kGWLUserPropertyErrorLimit, std::nullopt);
}

std::shared_ptr<GWLAnalyticsEngine> engine() {
  return GWLMeasurement::hasSharedInstance() ? GWLMeasurement::sharedInstance() : nullptr;
}

// The engine when its components have been started.
std::shared_ptr<GWLAnalyticsEngine> engineIfUp() {
  auto found = engine();
  return found && found->didInitializeComponents() ? found : nullptr;
}

// Hands the consent unit's effects to the entry class.
class ConsentSink : public GWLAnalyticsConsentSink {
 public:
  explicit ConsentSink(std::weak_ptr<GWLAnalytics> analytics) : analytics_(std::move(analytics)) {}
  void logInternalEvent(const std::string& origin, const std::string& name,
                        const platform::Dictionary& parameters) override {
    if (auto analytics = analytics_.lock()) {
      analytics->logInternalEventWithOrigin(origin, name, GWLRawParametersFromDictionary(parameters));
    }
  }
  void setUserPropertyString(const std::optional<std::string>& value, const std::string& name) override {
    if (auto analytics = analytics_.lock()) {
      analytics->setUserPropertyString(value ? platform::Object(*value) : platform::Object(), name);
    }
  }

 private:
  std::weak_ptr<GWLAnalytics> analytics_;
};

struct SharedEntryClass {
  platform::Mutex mutex;
  std::shared_ptr<GWLAnalytics> instance ABSL_GUARDED_BY(mutex);
};

SharedEntryClass& sharedEntryClass() {
  static auto* shared = new SharedEntryClass();  // never destroyed: calls may arrive while the process exits
  return *shared;
}

// Makes `analytics` the logger of the library's error events.
void installInternalEventLogger(const std::shared_ptr<GWLAnalytics>& analytics) {
  if (!analytics) {
    GWLSetInternalEventLogger({});
    return;
  }
  std::weak_ptr<GWLAnalytics> weak = analytics;
  GWLSetInternalEventLogger([weak](const std::string& origin, const std::string& name, const GWLParameters& parameters) {
    if (auto entry = weak.lock()) {
      entry->logInternalEventWithOrigin(origin, name, GWLRawParametersFromParameters(parameters));
    }
  });
}

}  // namespace

// ---------------------------------------------------------------------------
// Making

std::shared_ptr<GWLAnalytics> GWLAnalytics::sharedInstance() {
  auto& shared = sharedEntryClass();
  platform::MutexLock lock(shared.mutex);
  if (!shared.instance) {
    shared.instance = create();
    installInternalEventLogger(shared.instance);
  }
  return shared.instance;
}

void GWLAnalytics::setSharedInstanceForTesting(std::shared_ptr<GWLAnalytics> analytics) {
  auto& shared = sharedEntryClass();
  platform::MutexLock lock(shared.mutex);
  shared.instance = std::move(analytics);
  installInternalEventLogger(shared.instance);
}

std::shared_ptr<GWLAnalytics> GWLAnalytics::create(Dependencies dependencies) {
  std::shared_ptr<GWLAnalytics> analytics(new GWLAnalytics(std::move(dependencies)));
  analytics->consentSink_ = std::make_shared<ConsentSink>(analytics);
  analytics->consent_->setSink(analytics->consentSink_);
  analytics->appDelegateInterceptor_ = std::make_shared<GWLAppDelegateInterceptor>(analytics);
  return analytics;
}

GWLAnalytics::GWLAnalytics(Dependencies dependencies) : dependencies_(std::move(dependencies)) {
  clock_ = dependencies_.clock ? dependencies_.clock : platform::Clock::system();
  monitor_ = dependencies_.monitor ? dependencies_.monitor : GWLMeasurement::monitor();
  if (dependencies_.defaults) {
    defaults_ = dependencies_.defaults;
  } else if (dependencies_.consent) {
    defaults_ = dependencies_.consent->defaults();
  } else {
    defaults_ = std::make_shared<GWLUserDefaults>(kGWLAnalyticsSuiteName);
  }
  if (dependencies_.consent) {
    consent_ = dependencies_.consent;
  } else {
    GWLAnalyticsConsent::Dependencies consentDependencies;
    consentDependencies.defaults = defaults_;
    consentDependencies.monitor = monitor_;
    consent_ = std::make_shared<GWLAnalyticsConsent>(consentDependencies);
  }
  notificationCenter_ =
      dependencies_.notificationCenter ? dependencies_.notificationCenter : platform::NotificationCenter::defaultCenter();
  mainQueue_ = dependencies_.mainQueue ? dependencies_.mainQueue : platform::MainQueue::shared();
  globalQueue_ = dependencies_.globalQueue ? dependencies_.globalQueue : platform::ConcurrentQueue::globalDefault();
  paymentQueue_ = dependencies_.paymentQueue ? dependencies_.paymentQueue : platform::PaymentQueue::defaultQueue();
  swizzler_ = dependencies_.appDelegateSwizzler ? dependencies_.appDelegateSwizzler
                                                : platform::HVUAppDelegateSwizzler::sharedInstance();
  queue_ = platform::SerialQueue::create(kGWLAnalyticsQueueLabel);
  timestampQueue_ = std::make_shared<GWLAnalyticsTimestampQueue>();
  operationQueue_ = std::make_shared<GWLAnalyticsOperationQueue>(queue_);
  platform::MutexLock lock(loadTimestampMutex_);
  if (dependencies_.loadTimestamp) {
    loadTimestamp_ = *dependencies_.loadTimestamp;
  } else if (auto loaded = GWLLibraryLoadTimestamp()) {
    loadTimestamp_ = *loaded;
  } else {
    loadTimestamp_ = clock_->now();
  }
}

GWLAnalytics::~GWLAnalytics() { paymentQueue_->removeTransactionObserver(this); }

// ---------------------------------------------------------------------------
// Collaborators and reports

double GWLAnalytics::now() const { return clock_->now(); }

std::shared_ptr<platform::AppEnvironment> GWLAnalytics::environment() const {
  return dependencies_.environment ? dependencies_.environment : platform::AppEnvironment::shared();
}

std::shared_ptr<GWLPersistedConfig> GWLAnalytics::persistedConfig() const {
  return dependencies_.persistedConfig ? dependencies_.persistedConfig() : GWLPersistedConfig::sharedInstance();
}

std::shared_ptr<GWLIdentity> GWLAnalytics::identity() const {
  return dependencies_.identity ? dependencies_.identity() : GWLIdentity::sharedInstance();
}

std::shared_ptr<GWLScreenViewReporting> GWLAnalytics::screenViewReporter() const {
  return dependencies_.screenViewReporter ? dependencies_.screenViewReporter : GWLScreenViewReporting::sharedInstance();
}

std::shared_ptr<GWLInAppPurchaseTransactionReporting> GWLAnalytics::purchaseReporter() const {
  return dependencies_.purchaseReporter ? dependencies_.purchaseReporter
                                        : GWLInAppPurchaseTransactionReporting::sharedInstance();
}

bool GWLAnalytics::classExists(const std::string& name) const {
  auto found = environment();
  return found && found->hasComponent(name);
}

void GWLAnalytics::report(const GWLAnalyticsReport& report) const {
  GWLLogReport(*monitor_, report);
}

void GWLAnalytics::report(const GWLAnalyticsReport& report, const GWLLogContext& context) const {
  GWLLogReport(*monitor_, report, context);
}

void GWLAnalytics::report(const GWLAnalyticsReport& report, const GWLLogContext& context1,
                          const GWLLogContext& context2) const {
  GWLLogReport(*monitor_, report, context1, context2);
}

// ---------------------------------------------------------------------------
// Start

void GWLAnalytics::startWithAppID(const std::string& appID, const std::string& origin,
                                  const platform::Dictionary& options,
                                  const platform::NotificationSender& configuration) {
  const std::string cleanAppID = cleanText(appID);
  const std::string cleanOrigin = cleanText(origin);
  const platform::Dictionary cleanOptions = platform::utf8::dictionaryReplacingInvalid(options);

  // The gate, on every call.
  if (classExists(kGWLOlderLibraryClassName)) {
    report(kGWLOlderLibraryReport);
    return;
  }
  if (classExists(kGWLPublicClassName)) {
    if (cleanOrigin != kGWLOriginCorvane) {
      report(kGWLDeferringToCorvaneReport);
      return;
    }
  } else if (auto app = environment()) {
    auto path = GWLHalcyraServiceFileUtil::halcyraServiceInfoPlistPath(*app);
    if (path && !path->empty()) {
      report(kGWLDeferringToCorvaneLibraryReport);
      return;
    }
  }

  // The log tag, on every call that passed the gate.
  if (!cleanOptions.empty()) {
    auto tag = cleanOptions.find(kGWLStartOptionLogTag);
    const std::string* text = tag == cleanOptions.end() ? nullptr : tag->second.stringValue();
    if (text && !text->empty()) {
      monitor_->setLogTag(*text);
    } else {
      report(kGWLInvalidLogTagReport);
    }
  }

  // Once per process; a call stopped at the gate has not used the token.
  std::call_once(startOnce_, [&] {
    if (GWLConsentSettingsUtil::consentSource() == kGWLConsentSourceNone) consent_->loadPersistedConsentSettings();
    notificationCenter_->post(kGWLWillStartNotification);

    collectionDeactivated_.store(false);
    bool enabled = true;
    std::optional<std::vector<std::string>> safelist;
    if (!cleanOptions.empty()) {
      auto found = cleanOptions.find(kGWLStartOptionCollectionEnabled);
      if (found != cleanOptions.end() && found->second.isNumberOrBool()) enabled = numberBoolValue(found->second);
      found = cleanOptions.find(kGWLStartOptionCollectionDeactivated);
      if (found != cleanOptions.end() && found->second.isNumberOrBool()) {
        collectionDeactivated_.store(numberBoolValue(found->second));
      }
      found = cleanOptions.find(kGWLStartOptionSafelistedEvents);
      if (found != cleanOptions.end()) safelist = validSafelist(found->second);
      auto consentOnStart = GWLConsentSettingsUtil::consentSettingsFromDictionary(cleanOptions);
      if (!consentOnStart.empty()) consent_->setConsentSettings1PStart(consentOnStart);
    }

    std::weak_ptr<GWLAnalytics> weak = weak_from_this();
    queue_->async([weak, cleanAppID, cleanOrigin, safelist, enabled] {
      if (auto self = weak.lock()) self->startEngineOnSerialQueue(cleanAppID, cleanOrigin, safelist, enabled);
    });
    if (configuration) observeNotificationsForAnalyticsConfiguration(configuration);
    mainQueue_->async([weak] {
      if (auto self = weak.lock()) self->paymentQueue_->addTransactionObserver(self);
    });
    // Every call held since launch now reaches GWLAnalyticsQueue, in call
    // order, behind the engine start.
    operationQueue_->setSuspended(false);
  });
}

std::optional<std::vector<std::string>> GWLAnalytics::validSafelist(const platform::Object& value) {
  const platform::Array* array = value.arrayValue();
  if (!array) {
    report(kGWLSafelistNotArrayReport);
    return std::nullopt;
  }
  std::vector<std::string> names;
  for (const platform::Object& element : *array) {
    const std::string* name = element.stringValue();
    if (!name || !GWLDataTypeValidator::isValidInternalEventName(*name)) {
      report(kGWLInvalidSafelistNameReport, element);
      return std::nullopt;
    }
    names.push_back(*name);
  }
  return names;
}

void GWLAnalytics::startEngineOnSerialQueue(const std::string& appID, const std::string& origin,
                                            const std::optional<std::vector<std::string>>& safelist, bool enabled) {
  if (origin == kGWLOriginCorvane) {
    if (auto found = identity()) {
      if (found->appIDFromQRX() != std::optional<std::string>(appID)) found->setAppIDFromQRX(appID);
    }
  }
  auto identifiers = dependencies_.identifiers ? dependencies_.identifiers : GWLIdentifiers::sharedInstance();
  identifiers->setOrigin(origin);
  const bool deactivated = collectionDeactivated_.load();
  GWLMeasurement::initializeSharedInstanceWithAppID(
      appID, enabled, deactivated, safelist,
      dependencies_.engineFactory ? dependencies_.engineFactory : GWLMeasurement::defaultEngineFactory());

  if (swizzler_->isAppDelegateProxyEnabled()) {
    if (!deactivated) {
      mainQueue_->async([weak = weak_from_this()] {
        if (auto self = weak.lock()) self->createAppDelegateProxy();
      });
    }
  } else {
    report(kGWLAppDelegateProxyDisabledReport);
  }

  auto started = engine();
  collectionEnabled_.store(started && started->wasEnabledDuringInitialization());
  maybeEnableKXWManager();
}

void GWLAnalytics::maybeEnableKXWManager() {
  auto app = environment();
  if (!app || !app->componentRespondsTo(kGWLTagManagerClassName, kGWLTagManagerInitializeMethod)) return;
  if (auto initialize = app->componentMethod(kGWLTagManagerClassName, kGWLTagManagerInitializeMethod)) {
    initialize();
  } else {
    report(kGWLTagManagerWithoutInitializerReport);
  }
}

// ---------------------------------------------------------------------------
// Queues

void GWLAnalytics::dispatchAsyncOnSerialQueue(Block block) { queue_->async(std::move(block)); }

void GWLAnalytics::queueOperationWithBlock(Block block) { operationQueue_->addOperation(std::move(block)); }

void GWLAnalytics::queueOperationWithBlockThenWait(Block block) {
  operationQueue_->addOperation(std::move(block));
  // On GWLAnalyticsQueue itself the pause would hold back the caller's own
  // queue's later calls behind a call made from it: only the operation is added.
  if (isCurrentQueueSerialQueue() || operationQueue_->isSuspended()) return;
  operationQueue_->waitUntilAllOperationsAreFinished();
  operationQueue_->setSuspended(true);
  std::weak_ptr<GWLAnalyticsOperationQueue> held = operationQueue_;
  platform::Timer::schedule(clock_, queue_, kGWLAnalyticsUserDataPause, [held] {
    if (auto operations = held.lock()) operations->setSuspended(false);
  });
}

void GWLAnalytics::unsuspendOperationQueue() { operationQueue_->setSuspended(false); }

bool GWLAnalytics::isCurrentQueueSerialQueue() const { return queue_->isCurrent(); }

void GWLAnalytics::runInlineOrQueued(Block block) {
  if (isCurrentQueueSerialQueue()) {
    block();
  } else {
    queueOperationWithBlock(std::move(block));
  }
}

double GWLAnalytics::loadTimestamp() const {
  platform::MutexLock lock(loadTimestampMutex_);
  return loadTimestamp_;
}

void GWLAnalytics::setLoadTimestamp(double timestamp) {
  platform::MutexLock lock(loadTimestampMutex_);
  loadTimestamp_ = timestamp;
}

// ---------------------------------------------------------------------------
// Collection

void GWLAnalytics::setAnalyticsEnabled(bool enabled) { setAnalyticsEnabled(enabled, false); }

void GWLAnalytics::setAnalyticsEnabled(bool enabled, bool persistSetting) {
  queue_->async([weak = weak_from_this(), enabled, persistSetting] {
    if (auto self = weak.lock()) self->setAnalyticsEnabledOnSerialQueue(enabled, persistSetting);
  });
}

void GWLAnalytics::setAnalyticsEnabledOnSerialQueue(bool enabled, bool persistSetting) {
  if (persistSetting) {
    if (auto settings = persistedConfig()) settings->setMeasurementEnabledState(enabled ? 1 : 2);
  }
  // Collection deactivated for the process: enabling is ignored, disabling goes on.
  if (collectionDeactivated_.load() && enabled) return;
  collectionEnabled_.store(enabled);
  if (auto found = engine()) found->setEnabled(enabled);
}

void GWLAnalytics::observeNotificationsForAnalyticsConfiguration(const platform::NotificationSender& configuration) {
  std::vector<platform::ObserverToken> old;  // unregistered outside the lock
  platform::MutexLock lock(observerMutex_);
  old.swap(configurationObservers_);
  if (!configuration) return;
  configurationObservers_.push_back(notificationCenter_->addObserver(
      kGWLConfigurationSetEnabledNotification, configuration, nullptr,
      [weak = weak_from_this()](const platform::Notification& notification) {
        if (auto self = weak.lock()) self->handleSetEnabled(notification);
      }));
}

void GWLAnalytics::handleSetEnabled(const platform::Notification& notification) {
  auto found = notification.userInfo.find(kGWLConfigurationSetEnabledNotification);
  if (found == notification.userInfo.end() || !found->second.isNumberOrBool()) {
    report(kGWLSetEnabledWithoutNumberReport,
           found == notification.userInfo.end() ? GWLLogContext() : GWLLogContext(found->second));
    return;
  }
  setAnalyticsEnabled(numberBoolValue(found->second), false);
}

// ---------------------------------------------------------------------------
// Screens and sessions

void GWLAnalytics::setScreenName(const std::optional<std::string>& screenName,
                                 const std::optional<std::string>& screenClass) {
  if (!mainQueue_->isCurrent()) {
    report(kGWLScreenNameOffMainThreadReport);
    return;
  }
  screenViewReporter()->setScreenName(cleanText(screenName), cleanText(screenClass));
}

void GWLAnalytics::setSessionTimeoutInterval(double seconds) {
  queue_->async([weak = weak_from_this(), seconds] {
    auto self = weak.lock();
    if (!self) return;
    if (!(seconds >= 0)) {  // negative, or not a number
      self->report(kGWLNegativeSessionTimeoutReport);
      return;
    }
    if (auto up = engineIfUp()) {
      up->setSessionTimeoutInterval(seconds);
    } else if (auto settings = self->persistedConfig()) {
      settings->setSessionTimeoutValue(platform::Object(seconds));  // read by the session reporter when it starts
    }
    self->report(kGWLSessionTimeoutSetReport, seconds);
  });
}

void GWLAnalytics::sessionIDWithCompletion(SessionIDCompletion completion) {
  if (!completion) {
    report(kGWLNilSessionIDCompletionReport);
    return;
  }
  SessionIDCompletion wrapper = [global = globalQueue_, completion](int64_t sessionID,
                                                                    const std::optional<platform::Error>& error) {
    global->async([completion, sessionID, error] { completion(sessionID, error); });
  };
  queue_->async([wrapper] {
    if (auto up = engineIfUp()) {
      up->sessionIDWithCompletion(wrapper);
    } else {
      wrapper(0, gwl_errorWithCode(kGWLErrorCodeUninitialized, kGWLAnalyticsUninitializedDescription));
    }
  });
}

// ---------------------------------------------------------------------------
// Identity, user data, reset

std::optional<std::string> GWLAnalytics::appInstanceID() {
  if (GWLConsentSettingsUtil::isAnalyticsStorageDenied()) return std::nullopt;
  auto afterReset = appInstanceIDAfterReset();
  if (afterReset && !afterReset->empty()) return afterReset;
  auto found = identity();
  return found ? found->appInstanceID() : std::nullopt;
}

void GWLAnalytics::setUserData(const platform::Dictionary& userData) {
  platform::Dictionary copy = platform::utf8::dictionaryReplacingInvalid(userData);
  queueOperationWithBlockThenWait([weak = weak_from_this(), copy] {
    if (auto self = weak.lock()) self->setUserDataOnSerialQueue(copy);
  });
}

void GWLAnalytics::setUserDataOnSerialQueue(const platform::Dictionary& userData) {
  if (!collectionEnabled_.load()) {
    report(kGWLUserDataWhileDisabledReport);
    return;
  }
  if (auto found = engine()) found->setUserData(userData);
}

void GWLAnalytics::resetAnalyticsData() {
  setLoadTimestamp(now());
  setResetRetryCount(resetRetryCount() + 1);
  setNeedFirstOpenAfterReset(true);
  const std::string random = dependencies_.randomAppInstanceID ? dependencies_.randomAppInstanceID()
                                                               : GWLIdentity::randomAppInstanceID();
  if (random.empty()) {
    report(kGWLNoAppInstanceIDReport);
    return;
  }
  std::optional<std::string> appInstanceID = random;
  if (GWLConsentSettingsUtil::isAnalyticsStorageDenied()) {
    appInstanceID.reset();
  } else {
    setAppInstanceIDAfterReset(appInstanceID);
  }
  queueOperationWithBlock([weak = weak_from_this(), appInstanceID] {
    auto self = weak.lock();
    auto found = engine();
    if (!self || !found) return;
    if (!found->resetAnalyticsDataWithAppInstanceID(appInstanceID)) {
      // The keys stay for the engine's next start to act on.
      self->report(kGWLResetFailedReport);
      return;
    }
    self->defaults_->removeObjectForKey(kGWLResetRetryCountKey);
    if (self->appInstanceIDAfterReset() == appInstanceID) self->defaults_->removeObjectForKey(kGWLAppInstanceIDAfterResetKey);
  });
}

// ---------------------------------------------------------------------------
// The suite's keys

int64_t GWLAnalytics::resetRetryCount() const { return defaults_->integerForKey(kGWLResetRetryCountKey); }

void GWLAnalytics::setResetRetryCount(int64_t count) {
  if (count <= 0) {
    defaults_->removeObjectForKey(kGWLResetRetryCountKey);
  } else {
    defaults_->setInteger(count, kGWLResetRetryCountKey);
  }
}

bool GWLAnalytics::needFirstOpenAfterReset() const { return defaults_->boolForKey(kGWLNeedFirstOpenAfterResetKey); }

void GWLAnalytics::setNeedFirstOpenAfterReset(bool need) { defaults_->setBool(need, kGWLNeedFirstOpenAfterResetKey); }

void GWLAnalytics::removeNeedFirstOpenAfterReset() { defaults_->removeObjectForKey(kGWLNeedFirstOpenAfterResetKey); }

std::optional<std::string> GWLAnalytics::appInstanceIDAfterReset() const {
  return defaults_->stringForKey(kGWLAppInstanceIDAfterResetKey);
}

void GWLAnalytics::setAppInstanceIDAfterReset(const std::optional<std::string>& appInstanceID) {
  defaults_->setObject(appInstanceID ? platform::Object(*appInstanceID) : platform::Object(),
                       kGWLAppInstanceIDAfterResetKey);
}

std::optional<bool> GWLAnalytics::deferredAnalyticsCollection() const {
  auto stored = defaults_->objectForKey(kGWLDeferredAnalyticsCollectionKey);
  if (!stored || !stored->isNumberOrBool()) return std::nullopt;  // stored data of another kind reads as unset
  return numberBoolValue(*stored);
}

void GWLAnalytics::setDeferredAnalyticsCollection(const std::optional<bool>& deferred) {
  defaults_->setObject(deferred ? platform::Object(*deferred) : platform::Object(), kGWLDeferredAnalyticsCollectionKey);
}

// ---------------------------------------------------------------------------
// Events

void GWLAnalytics::logEventWithName(const std::string& name, const std::optional<GWLRawParameters>& parameters) {
  logEventWithOrigin(kGWLOriginApp, name, parameters);
}

void GWLAnalytics::logEventWithName(const std::string& name, const platform::Dictionary& parameters) {
  logEventWithName(name, std::optional<GWLRawParameters>(GWLRawParametersFromDictionary(parameters)));
}

void GWLAnalytics::logEventWithOrigin(const std::string& origin, const std::string& name,
                                      const std::optional<GWLRawParameters>& parameters) {
  const std::string checked = cleanText(name);
  GWLValidatorFailureCode code = kGWLValidatorFailureNone;
  if (!GWLDataTypeValidator::isValidPublicEventName(checked, &code)) {
    GWLLogErrorEventWithName(
        code == kGWLValidatorFailureReserved ? kGWLEventErrorEventNameIsReserved : kGWLEventErrorInvalidEventName,
        checked, kGWLEventNameErrorLimit, std::nullopt);
    return;
  }
  logEventWithOrigin(origin, true, checked, parameters);
}

void GWLAnalytics::logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                              const std::optional<GWLRawParameters>& parameters) {
  logEventWithOrigin(origin, false, name, parameters);
}

void GWLAnalytics::logInternalEventConvertingAdEventID(const std::string& origin, const std::string& name,
                                                       const std::optional<GWLRawParameters>& parameters) {
  const std::string checkedOrigin = cleanText(origin);
  std::optional<GWLRawParameters> converted = cleanParameters(parameters);
  if (checkedOrigin == kGWLOriginInternal && converted) {
    auto found = converted->find(kGWLAdEventIDParameter);
    const std::string* text = found == converted->end() ? nullptr : stringOf(found->second);
    if (text) {
      if (GWLIsDecimalString(*text)) {
        found->second = GWLValue::initWithInt64(platform::integerValueOfText(*text));
      } else {
        report(kGWLAdEventIDNotNumberReport);
      }
    }
  }
  logInternalEventWithOrigin(checkedOrigin, name, converted);
}

std::optional<GWLRawParameters> GWLAnalytics::addedScreenParametersFor(
    const std::optional<GWLRawParameters>& parameters) {
  if (parameters && hasScreenParameters(*parameters)) return std::nullopt;
  return GWLRawParametersFromParameters(screenViewReporter()->screenParameters());
}

void GWLAnalytics::logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                      const std::optional<GWLRawParameters>& parameters) {
  std::string checkedOrigin = cleanText(origin);
  std::string checkedName = cleanText(name);
  std::optional<GWLRawParameters> copy = cleanParameters(parameters);
  if (checkedName == kGWLScreenViewEventName) {
    // The reporter logs the screen view itself.
    screenViewReporter()->trackScreenWithParameters(copy.value_or(GWLRawParameters()), now());
    return;
  }
  // Everything but the time is made before the timestamp queue is entered,
  // so that callers hold it only to read the clock and take their place.
  struct Call {
    std::string origin;
    bool isPublicEvent;
    std::string name;
    std::optional<GWLRawParameters> parameters;
    std::optional<GWLRawParameters> addedScreenParameters;
    double timestamp = 0;
  };
  auto added = addedScreenParametersFor(copy);
  auto call = std::make_shared<Call>(Call{std::move(checkedOrigin), isPublicEvent, std::move(checkedName),
                                          std::move(copy), std::move(added), 0});
  Block block = [weak = weak_from_this(), call] {
    if (auto self = weak.lock()) {
      self->logEventOnSerialQueueWithOrigin(call->origin, call->isPublicEvent, call->name, call->parameters,
                                            call->timestamp, false, false, call->addedScreenParameters);
    }
  };
  // The time is taken and the call put in line under one serial queue, so
  // events reach GWLAnalyticsQueue in timestamp order from whichever threads
  // they come; the hold queue hands them on in that order afterwards.
  timestampQueue_->sync([&] {
    call->timestamp = now();
    operationQueue_->enqueue(std::move(block));
  });
  operationQueue_->handOn();
}

void GWLAnalytics::logInternalEventWithOrigin(const std::string& origin, const std::string& name, double timestamp,
                                              const std::optional<GWLRawParameters>& parameters) {
  auto copy = cleanParameters(parameters);
  auto added = addedScreenParametersFor(copy);
  queueOperationWithBlock([weak = weak_from_this(), checkedOrigin = cleanText(origin), checkedName = cleanText(name),
                           copy = std::move(copy), timestamp, added = std::move(added)] {
    if (auto self = weak.lock()) {
      self->logEventOnSerialQueueWithOrigin(checkedOrigin, false, checkedName, copy, timestamp, false, false, added);
    }
  });
}

void GWLAnalytics::logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                      const std::optional<GWLRawParameters>& parameters, double timestamp,
                                      bool ignoreEnabled, bool ignoreInterceptor) {
  queueOperationWithBlock([weak = weak_from_this(), checkedOrigin = cleanText(origin), isPublicEvent,
                           checkedName = cleanText(name), copy = cleanParameters(parameters), timestamp, ignoreEnabled,
                           ignoreInterceptor] {
    if (auto self = weak.lock()) {
      self->logEventOnSerialQueueWithOrigin(checkedOrigin, isPublicEvent, checkedName, copy, timestamp, ignoreEnabled,
                                            ignoreInterceptor, std::nullopt);
    }
  });
}

void GWLAnalytics::logEventOnSerialQueueWithOrigin(const std::string& origin, bool isPublicEvent,
                                                   const std::string& name,
                                                   const std::optional<GWLRawParameters>& parameters,
                                                   double timestamp, bool ignoreEnabled, bool ignoreInterceptor,
                                                   const std::optional<GWLRawParameters>& addedScreenParameters) {
  // The engine is made once and never released: kept once found.
  if (!eventEngine_) eventEngine_ = engine();
  if (!eventEngine_) return;  // no engine: dropped without a message
  // An event the tag-management library forwards carries its screen in its parameters.
  if (ignoreInterceptor && (!addedScreenParameters || addedScreenParameters->empty()) &&
      GWLDataTypeValidator::isValidForwardedEventOrigin(origin)) {
    std::optional<GWLRawParameters> eventParameters = parameters;
    GWLRawParameters screen;
    if (eventParameters) {
      for (const char* screenName : kScreenParameterNames) {
        auto found = eventParameters->find(screenName);
        if (found == eventParameters->end()) continue;
        screen.insert(*found);
        eventParameters->erase(found);
      }
    }
    eventEngine_->logEventWithOrigin(origin, isPublicEvent, name, eventParameters, timestamp,
                                     collectionEnabled_.load(), ignoreEnabled, ignoreInterceptor, logEventInterceptor_,
                                     screen);
    return;
  }
  eventEngine_->logEventWithOrigin(origin, isPublicEvent, name, parameters, timestamp, collectionEnabled_.load(),
                                   ignoreEnabled, ignoreInterceptor, logEventInterceptor_, addedScreenParameters);
}

void GWLAnalytics::logTransactionWithProductID(const GWLStoreTransactionValues& transaction) {
  GWLStoreTransactionValues copy = transaction;
  for (auto* text : {&copy.productID, &copy.transactionID, &copy.originalTransactionID, &copy.webOrderLineItemID,
                     &copy.environment}) {
    *text = cleanText(*text);
  }
  purchaseReporter()->reportTransactionWithProductID(copy);
}

void GWLAnalytics::setDefaultEventParameters(const std::optional<platform::Dictionary>& parameters) {
  std::optional<platform::Dictionary> copy;
  if (parameters) copy = platform::utf8::dictionaryReplacingInvalid(*parameters);
  queueOperationWithBlock([copy] {
    if (auto found = engine()) found->setDefaultEventParameters(copy);
  });
}

// ---------------------------------------------------------------------------
// Opened URLs

void GWLAnalytics::createAppDelegateProxy() {
  std::call_once(appDelegateProxyOnce_, [&] {
    swizzler_->proxyOriginalDelegate();
    (void)swizzler_->registerAppDelegateInterceptor(appDelegateInterceptor_);
  });
}

void GWLAnalytics::handleOpenURL(const std::string& url) {
  const std::string checked = cleanText(url);
  const double timestamp = now();
  GWLMeasurement::handleSVTPDebugModeWithURL(checked);
  queue_->async([weak = weak_from_this(), checked, timestamp] {
    auto self = weak.lock();
    if (!self) return;
    if (auto found = engine()) found->handleNonFirstOpenEventURL(checked, timestamp);
    if (self->openURLListener_) self->openURLListener_(checked);
  });
}

void GWLAnalytics::handleUserActivity(const platform::UserActivity& activity) {
  const double timestamp = now();
  platform::UserActivity copy = activity;
  copy.activityType = cleanText(copy.activityType);
  copy.webpageURL = cleanText(copy.webpageURL);
  copy.referrerURL = cleanText(copy.referrerURL);
  queue_->async([copy, timestamp] {
    auto link = GWLMeasurement::deepLinkFromUserActivity(copy);
    if (!link || link->empty()) return;
    if (auto found = engine()) found->handleNonFirstOpenEventURL(*link, timestamp, copy.referrerURL);
  });
}

void GWLAnalytics::setOpenURLListener(OpenURLListener listener) {
  queue_->async([weak = weak_from_this(), listener = std::move(listener)] {
    if (auto self = weak.lock()) self->openURLListener_ = listener;
  });
}

void GWLAnalytics::handleEventsForBackgroundURLSession(const std::string& identifier,
                                                       const std::function<void()>& completionHandler) {
  platform::HVUNetwork::handleEventsForBackgroundURLSessionID(identifier, completionHandler);
}

// ---------------------------------------------------------------------------
// User properties

void GWLAnalytics::setUserPropertyString(const platform::Object& value, const std::string& name) {
  const std::string checkedName = cleanText(name);
  const platform::Object checkedValue = platform::utf8::objectReplacingInvalid(value);
  if (checkedName == kGWLAllowPersonalizedAdsProperty) {
    // Only text and numbers carry a boolean; any other kind is refused here.
    if (!checkedValue.isNull() && !checkedValue.isString() && !checkedValue.isNumberOrBool()) {
      report(kGWLUserPropertyNotStringReport, checkedValue);
      return;
    }
    queueOperationWithBlock([weak = weak_from_this(), checkedValue] {
      if (auto self = weak.lock()) self->setPersonalizedAdsOnSerialQueue(checkedValue);
    });
    return;
  }
  if (checkedValue.isNull()) {
    removeUserAttributeForName(checkedName);
    return;
  }
  GWLValidatorFailureCode code = kGWLValidatorFailureNone;
  if (!GWLDataTypeValidator::isValidPublicUserAttributeName(checkedName, &code)) {
    logUserPropertyNameError(code, checkedName);
    return;
  }
  const std::string* text = checkedValue.stringValue();
  if (!text) {
    report(kGWLUserPropertyNotStringReport, checkedValue);
    return;
  }
  auto typed = GWLValue::initWithString(*text);
  if (!typed) return;
  if (GWLDataTypeValidator::isValidPublicUserAttributeValue(&*typed, &code)) {
    setInternalUserProperty(*typed, checkedName, kGWLOriginApp);
  } else if (code == kGWLValidatorFailureTooLong) {
    GWLLogErrorEventWithName(kGWLEventErrorUserPropertyValueTooLong, checkedName, kGWLUserPropertyErrorLimit, *text);
  }
}

void GWLAnalytics::setPersonalizedAdsOnSerialQueue(const platform::Object& value) {
  const bool enabled = collectionEnabled_.load();
  if (!enabled) report(kGWLPersonalizedAdsWhileDisabledReport);
  if (auto settings = persistedConfig()) {
    platform::Object allowed;
    if (const std::string* text = value.stringValue()) {
      allowed = platform::Object(platform::booleanValueOfText(*text));
    } else if (!value.isNull()) {
      allowed = platform::Object(numberBoolValue(value));
    }
    settings->setAllowPersonalizedAds(allowed);
  }
  if (value.isNull() && GWLConsentSettingsUtil::adPersonalization()) GWLConsentSettingsUtil::unsetAdPersonalization();
  if (!enabled) return;
  auto found = engine();
  if (!found) return;
  const std::optional<bool> disable = found->shouldDisableAdPersonalization();
  auto attribute = GWLUserAttribute::initWithOrigin(kGWLOriginAuto, kGWLNonPersonalizedAdsProperty,
                                                    GWLValue::initWithInt64(disable && *disable ? 1 : 0), now());
  if (disable) {
    found->setUserAttribute(attribute);
  } else {
    found->removeUserAttribute(attribute);
  }
}

void GWLAnalytics::setUserID(const platform::Object& userID) {
  const platform::Object checked = platform::utf8::objectReplacingInvalid(userID);
  if (checked.isNull()) {
    removeInternalUserAttributeForName(kGWLUserIDProperty);
    removeInternalUserAttributeForName(kGWLLastAdvertisingIDResetProperty);
  } else if (checked.isString()) {
    setInternalUserProperty(checked, kGWLUserIDProperty, kGWLOriginApp);
  } else {
    report(kGWLUserIDNotStringReport, checked);
  }
}

void GWLAnalytics::removeUserAttributeForName(const std::string& name) {
  const std::string checked = cleanText(name);
  if (GWLDataTypeValidator::isValidPublicUserAttributeName(checked)) removeInternalUserAttributeForName(checked);
}

void GWLAnalytics::setUserAttributeNumber(const platform::Object& value, const std::string& name) {
  const std::string checkedName = cleanText(name);
  GWLValidatorFailureCode code = kGWLValidatorFailureNone;
  if (!GWLDataTypeValidator::isValidPublicUserAttributeName(checkedName, &code)) {
    logUserPropertyNameError(code, checkedName);
    return;
  }
  std::optional<GWLValue> typed;
  if (auto real = value.doubleValue()) {
    typed = GWLValue::initWithDouble(*real);
  } else if (auto integer = value.intValue()) {
    typed = GWLValue::initWithInt64(*integer);
  } else if (auto flag = value.boolValue()) {
    typed = GWLValue::initWithInt64(*flag ? 1 : 0);
  }
  if (typed) setInternalUserProperty(*typed, checkedName, kGWLOriginAuto);
}

void GWLAnalytics::setInternalUserProperty(const GWLRawParameter& value, const std::string& name,
                                           const std::string& origin) {
  const std::string checkedName = cleanText(name);
  const std::string checkedOrigin = cleanText(origin);
  const GWLRawParameter checkedValue = cleanParameter(value);
  GWLValidatorFailureCode code = kGWLValidatorFailureNone;
  if (!GWLDataTypeValidator::isValidInternalUserAttributeName(checkedName, &code)) {
    GWLLogErrorEventWithName(kGWLEventErrorInvalidUserPropertyName, checkedName, kGWLUserPropertyErrorLimit,
                             std::nullopt);
    return;
  }
  const size_t originLength = platform::utf8::codePointCount(checkedOrigin);
  if (originLength == 0 || originLength > kGWLMaxUserPropertyOriginLength) {
    report(kGWLInvalidPropertyOriginReport, checkedOrigin, checkedName);
    return;
  }
  const auto* object = std::get_if<platform::Object>(&checkedValue);
  if (object && object->isNull()) {
    removeInternalUserAttributeForName(checkedName);
    return;
  }
  std::optional<GWLValue> typed = object ? GWLValue::valueFromObject(*object) : std::get<GWLValue>(checkedValue);
  if (!typed) return;
  if (GWLDataTypeValidator::isValidInternalUserAttributeValue(&*typed, checkedName, &code)) {
    auto attribute = GWLUserAttribute::initWithOrigin(checkedOrigin, checkedName, *typed, now());
    queueOperationWithBlock([attribute] {
      if (auto found = engine()) found->setUserAttribute(attribute);
    });
  } else if (code == kGWLValidatorFailureTooLong) {
    std::optional<std::string> text;
    if (const std::string* string = typed->stringValue()) {
      text = *string;
    } else if (typed->isInt64() || typed->isDouble()) {
      text = typed->description();
    }
    GWLLogErrorEventWithName(kGWLEventErrorUserPropertyValueTooLong, checkedName, kGWLUserPropertyErrorLimit, text);
  }
}

void GWLAnalytics::removeInternalUserAttributeForName(const std::string& name) {
  queueOperationWithBlock([weak = weak_from_this(), checked = cleanText(name)] {
    auto self = weak.lock();
    auto found = engine();
    if (!self || !found) return;
    found->removeUserAttribute(
        GWLUserAttribute::initWithOrigin(std::string(), checked, GWLValue::initWithDouble(0), self->now()));
  });
}

void GWLAnalytics::userPropertiesIncludingInternal(bool includingInternal, std::shared_ptr<platform::Queue> queue,
                                                   UserPropertiesCallback callback) {
  runInlineOrQueued([weak = weak_from_this(), includingInternal, queue, callback] {
    auto self = weak.lock();
    if (!self) return;
    if (!callback) {
      self->report(kGWLNilUserPropertiesCallbackReport);
      return;
    }
    if (!queue) {
      self->report(kGWLNilUserPropertiesQueueReport);
      self->mainQueue_->async([callback] { callback(platform::Dictionary()); });
      return;
    }
    if (!self->collectionEnabled_.load()) {
      self->report(kGWLUserPropertiesWhileDisabledReport);
      queue->async([callback] { callback(platform::Dictionary()); });
      return;
    }
    auto found = engine();
    if (!found) {
      // No engine to ask: an empty answer rather than none, so that a waiting caller goes on.
      queue->async([callback] { callback(platform::Dictionary()); });
      return;
    }
    found->userPropertiesIncludingInternal(includingInternal, [queue, callback](const platform::Dictionary& properties) {
      queue->async([callback, properties] { callback(properties); });
    });
  });
}

void GWLAnalytics::maxUserPropertiesForOrigin(const std::string& origin, std::shared_ptr<platform::Queue> queue,
                                              MaxUserPropertiesCallback callback) {
  const std::string checked = cleanText(origin);
  if (checked.empty()) {
    report(kGWLEmptyMaxUserPropertiesOriginReport);
    return;
  }
  if (!queue) {
    report(kGWLNilMaxUserPropertiesQueueReport, checked);
    return;
  }
  if (!callback) {
    report(kGWLNilMaxUserPropertiesCallbackReport, checked);
    return;
  }
  runInlineOrQueued([checked, queue, callback] {
    auto found = engine();
    if (!found) {
      // No engine to ask: 0, once, rather than no answer that a caller would wait for.
      queue->async([callback] { callback(0); });
      return;
    }
    found->maxUserPropertiesForOrigin(checked, [queue, callback](int32_t count) {
      queue->async([callback, count] { callback(count); });
    });
  });
}

// ---------------------------------------------------------------------------
// Interceptor and listeners

void GWLAnalytics::setLogEventInterceptor(GWLLogEventInterceptor interceptor) {
  runInlineOrQueued([weak = weak_from_this(), interceptor = std::move(interceptor)] {
    if (auto self = weak.lock()) self->logEventInterceptor_ = interceptor;
  });
}

std::optional<GWLLogEventListenerToken> GWLAnalytics::addLogEventListener(LogEventListener listener) {
  if (!listener) {
    report(kGWLNilListenerReport);
    return std::nullopt;
  }
  const GWLLogEventListenerToken token{nextListenerToken_.fetch_add(1)};
  auto registered = std::make_shared<const LogEventListener>(std::move(listener));
  runInlineOrQueued([weak = weak_from_this(), token, registered] {
    auto self = weak.lock();
    if (!self) return;
    if (!self->logEventListeners_) self->logEventListeners_.emplace();
    (*self->logEventListeners_)[token] = registered;
  });
  return token;
}

void GWLAnalytics::removeLogEventListener(const std::optional<GWLLogEventListenerToken>& token) {
  if (!token) {
    report(kGWLNilListenerTokenReport);
    return;
  }
  queueOperationWithBlock([weak = weak_from_this(), token = *token] {
    auto self = weak.lock();
    if (!self) return;
    if (!self->logEventListeners_) {
      self->report(kGWLNoListenersReport);
    } else if (self->logEventListeners_->erase(token) == 0) {
      self->report(kGWLUnknownListenerTokenReport);
    }
  });
}

void GWLAnalytics::notifyEventListeners(std::shared_ptr<const GWLEvent> event) {
  queueOperationWithBlock([weak = weak_from_this(), event = std::move(event)] {
    if (auto self = weak.lock()) self->notifyEventListenersOnSerialQueue(event);
  });
}

void GWLAnalytics::notifyEventListenersOnSerialQueue(const std::shared_ptr<const GWLEvent>& event) {
  if (!logEventListeners_ || !event) return;
  // A listener may add or remove listeners while it runs: call the ones registered now.
  std::vector<std::shared_ptr<const LogEventListener>> listeners;
  listeners.reserve(logEventListeners_->size());
  for (const auto& entry : *logEventListeners_) listeners.push_back(entry.second);
  for (const auto& listener : listeners) (*listener)(event);
}

// ---------------------------------------------------------------------------
// Purchases

void GWLAnalytics::paymentQueue(const std::shared_ptr<platform::PaymentQueue>& queue,
                                const std::vector<platform::PaymentTransaction>& updatedTransactions) {
  queueOperationWithBlock([weak = weak_from_this(), queue, transactions = updatedTransactions] {
    auto self = weak.lock();
    if (!self || !self->collectionEnabled_.load()) return;  // collection off: the transactions are dropped
    auto found = engine();
    if (!found) return;
    found->filterPurchaseTransactions(
        transactions, [reporter = self->purchaseReporter(), queue](const std::vector<platform::PaymentTransaction>& kept) {
          reporter->paymentQueue(queue, kept);
        });
  });
}
