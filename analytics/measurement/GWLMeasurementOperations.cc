#include "analytics/measurement/GWLMeasurementOperations.h"

#include <string_view>
#include <utility>

#include "analytics/attribution/GWLAdExposureReporter.h"
#include "analytics/attribution/GWLInAppPurchaseTransactionReporter.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLError.h"
#include "analytics/foundation/core/GWLKeychainWrapper.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/core/GWLMonitorLevels.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/foundation/values/GWLErrorEvents.h"
#include "analytics/foundation/values/GWLLogTexts.h"
#include "analytics/foundation/values/GWLNameTables.h"
#include "analytics/measurement/GWLAnalytics.h"
#include "analytics/measurement/GWLConsentSettingsUtil.h"
#include "analytics/measurement/GWLIdentity.h"
#include "analytics/measurement/GWLSessionReporter.h"
#include "platform/dispatch/Queue.h"
#include "platform/env/AppEnvironment.h"
#include "platform/text/BooleanText.h"

namespace {

using Report = GWLAnalyticsReport;

// ---- events ----
constexpr Report kNilEventReport{kGWLLevelWarningSampled, 23048, "Attempted to log nil event"};
constexpr Report kEventNotMadeReport{kGWLLevelErrorSampled, 23219,
                                     "Attempted to log nil event. Origin, name, parameters"};
// ---- user properties ----
constexpr Report kNilRemovedPropertyReport{kGWLLevelWarning, 23074, "Attempted to remove nil user property"};
constexpr Report kRemoveWhileDisabledReport{kGWLLevelDebug, 23076, "Analytics is disabled. User property not removed"};
constexpr Report kRemoveFailedReport{kGWLLevelErrorSampled, 23077, "Unable to remove user property. Name, error"};
constexpr Report kPropertyRemovedReport{kGWLLevelDebug, 23078, "User property removed. Name"};
constexpr Report kNilSetPropertyReport{kGWLLevelWarning, 23079, "Attempted to set nil user property"};
constexpr Report kSetWhileDisabledReport{kGWLLevelDebug, 23081, "Analytics is disabled. User property not set"};
constexpr Report kExistenceQueryFailedReport{kGWLLevelErrorSampled, 23082,
                                             "Unable to query existence of user property. Name, error"};
constexpr Report kCountQueryFailedReport{kGWLLevelErrorSampled, 23083,
                                         "Unable to query user property count. Origin, error"};
constexpr Report kPropertyLimitReport{
    kGWLLevelWarning, 23084,
    "Unable to set user property. Reached limit on set user properties for origin. Origin, name, value"};
constexpr Report kSetFailedReport{kGWLLevelErrorSampled, 23085, "Unable to set user property. Name, value, error"};
constexpr Report kPropertySetReport{kGWLLevelDebug, 23087, "User property set. Name, value"};
// ---- queries ----
constexpr Report kNilAttributeCallbackReport{kGWLLevelError, 23088, "userAttributeWithName callback is nil"};
constexpr Report kAttributeReadFailedReport{kGWLLevelErrorSampled, 23089, "Unable to get user attribute by name. Name"};
constexpr Report kNilPropertiesCallbackReport{kGWLLevelError, 23090,
                                              "Unable to retrieve user properties. Callback is nil"};
constexpr Report kPropertiesReadFailedReport{kGWLLevelErrorSampled, 23091, "Unable to retrieve user properties. Error"};
constexpr Report kInvalidPropertyReport{kGWLLevelWarning, 23092,
                                        "Cannot add invalid public user property name or value."};
constexpr Report kEmptyMaxOriginReport{kGWLLevelError, 23093, "Origin for querying MaxUserProperties cannot be nil"};
constexpr Report kNilMaxCallbackReport{kGWLLevelError, 23094, "MaxUserProperties callback cannot be nil. Origin"};
// ---- purchases ----
constexpr Report kNoFingerprintReport{
    kGWLLevelErrorSilent, 23139,
    "Purchase has nil or empty fingerprint. Purchase will not be checked for duplicates. Product ID"};
constexpr Report kFingerprintNotSavedReport{
    kGWLLevelErrorSampled, 23140,
    "Failed to save purchase fingerprint. Purchase will not be checked for duplicates. Product ID, error"};
constexpr Report kDuplicatePurchaseReport{kGWLLevelWarningSampled, 23141,
                                          "Purchase is a duplicate and will not be reported. Product ID"};

// Error event code of a refused property beyond its origin's limit.
constexpr int64_t kPropertyLimitErrorEventCode = 9;

// Descriptions of the session ID query's errors.
constexpr const char* kAnalyticsDeallocated = "Analytics deallocated";
constexpr const char* kAnalyticsDisabled = "Analytics disabled";
constexpr const char* kSessionExpired = "Session expired";
constexpr const char* kSessionIDNotFound = "Session ID not found";

// Names with a meaning here.
constexpr const char* kSessionIDProperty = kGWLSessionIDProperty;
constexpr const char* kFirstInstallProperty = "_fi";
constexpr const char* kPreviousFirstOpenParameter = "_pfo";
constexpr const char* kUninstalledWithoutAppParameter = "_uwa";

// Worker methods' names for the background-thread check.
constexpr const char* kSetUserAttributeMethod = "setUserAttributeOnWorkerQueue:";
constexpr const char* kRemoveUserAttributeMethod = "removeUserAttributeOnWorkerQueue:";
constexpr const char* kSetUserPropertyInDatabaseMethod = "setUserPropertyInDatabaseOnWorkerQueue:";
constexpr const char* kSetLastAdvertisingIDResetMethod = "setLastAdvertisingIDResetUserPropertyOnWorkerQueue";
constexpr const char* kHasUserIDMethod = "hasUserPropertyUserIDOnWorkerQueue";
constexpr const char* kSetUserDataMethod = "setUserDataOnWorkerQueue";

// The value's text form for a log line.
GWLLogContext valueContext(const GWLValue& value) { return GWLLogContext(value.description()); }

platform::Dictionary dictionaryFromRawParameters(const GWLRawParameters& parameters) {
  platform::Dictionary dictionary;
  for (const auto& [name, value] : parameters) {
    if (const auto* object = std::get_if<platform::Object>(&value)) {
      dictionary[name] = *object;
    } else {
      dictionary[name] = std::get<GWLValue>(value).objectValue();
    }
  }
  return dictionary;
}

// An ad-exposure event goes to the write pipeline whatever the interceptor says.
bool isAdExposureEvent(const GWLEvent& event) {
  return event.origin() == kGWLOriginInternal || event.name() == kGWLAdExposureEventName ||
         event.name() == kGWLAdUnitExposureEventName;
}

}  // namespace

GWLLogContext GWLMeasurementOperations::errorContext(const platform::Error& error) {
  if (error.domain.empty() && error.code == 0 && error.description.empty()) return GWLLogContext();
  return GWLLogContext(error);
}

GWLMeasurementOperations::GWLMeasurementOperations() = default;
GWLMeasurementOperations::~GWLMeasurementOperations() = default;

bool GWLMeasurementOperations::post(int line, std::function<void()> block) {
  auto worker = scheduler();
  if (!worker) return false;
  worker->scheduleOnWorkerQueueBlockID("GWLMeasurement:" + std::to_string(line), std::move(block));
  return true;
}

void GWLMeasurementOperations::answer(std::function<void()> block) const {
  if (auto queue = globalQueue()) {
    queue->async(std::move(block));
  } else {
    block();
  }
}

// ---------------------------------------------------------------------------
// Events

void GWLMeasurementOperations::logEventWithOrigin(const std::string& origin, bool isPublicEvent,
                                                  const std::string& name,
                                                  const std::optional<GWLRawParameters>& parameters, double timestamp,
                                                  bool enabled, bool ignoreEnabled, bool ignoreInterceptor,
                                                  const GWLLogEventInterceptor& interceptor,
                                                  const std::optional<GWLRawParameters>& addedScreenParameters) {
  // Strong: an event logged just before the engine goes is still written.
  post(2536, [self = shared_from_this(), origin, isPublicEvent, name, parameters, timestamp, enabled, ignoreEnabled,
              ignoreInterceptor, interceptor, addedScreenParameters] {
    self->logEventOnWorkerQueueWithOrigin(origin, isPublicEvent, name, parameters, timestamp, enabled, ignoreEnabled,
                                          ignoreInterceptor, interceptor, addedScreenParameters);
  });
}

void GWLMeasurementOperations::logEventOnWorkerQueueWithOrigin(
    const std::string& origin, bool isPublicEvent, const std::string& name,
    const std::optional<GWLRawParameters>& parameters, double timestamp, bool enabled, bool ignoreEnabled,
    bool ignoreInterceptor, const GWLLogEventInterceptor& interceptor,
    const std::optional<GWLRawParameters>& addedScreenParameters) {
  std::optional<GWLRawParameters> merged = parameters;
  if (!ignoreInterceptor && name != kGWLErrorEventName) merged = parametersWithAddedDefaultEventParameters(parameters);

  auto config = remoteConfig();
  const GWLValueLimits limits = config ? config->valueLimits() : GWLValueLimits{};
  auto event =
      GWLEvent::initWithOrigin(origin, isPublicEvent, name, timestamp, 0, merged.value_or(GWLRawParameters{}), limits);
  if (!event) {
    GWLLogReport(*engineMonitor(), kEventNotMadeReport, origin,
        GWLEventNameForLog(name),
        GWLDescriptionForLog(platform::Object(dictionaryFromRawParameters(merged.value_or(GWLRawParameters{})))));
    return;
  }
  const bool hasScreenParameters = addedScreenParameters && !addedScreenParameters->empty();
  if (hasScreenParameters) (void)event->addScreenParameters(*addedScreenParameters);  // its own screen parameters win

  if (!(enabled || ignoreEnabled) || isAdExposureEvent(*event)) {
    logEventOnWorkerQueue(event, false);
    return;
  }
  if (interceptor && isPublicEvent && !ignoreInterceptor) {
    std::optional<GWLRawParameters> handed = merged;
    if (hasScreenParameters) {
      GWLRawParameters withScreen = merged.value_or(GWLRawParameters{});
      for (const auto& [key, value] : *addedScreenParameters) withScreen[key] = value;
      handed = std::move(withScreen);
    }
    interceptor(origin, name, handed, timestamp);
    return;
  }
  logEventOnWorkerQueue(event, true);
}

void GWLMeasurementOperations::logEventOnWorkerQueue(const std::shared_ptr<GWLEvent>& event,
                                                     bool notifyEventListeners) {
  if (!event) return;
  // The write pipeline may change the event; the listeners see it as it was logged.
  std::shared_ptr<const GWLEvent> copy = notifyEventListeners ? event->copy() : nullptr;
  handleEventOnWorkerQueue(event);
  if (copy) this->notifyEventListeners(copy);
}

void GWLMeasurementOperations::logEvent(const std::shared_ptr<GWLEvent>& event) {
  if (!event) {
    GWLLogReport(*engineMonitor(), kNilEventReport);
    return;
  }
  post(2642, [weak = weakSelf(), event] {
    if (auto self = weak.lock()) self->handleEventOnWorkerQueue(event);
  });
}

// ---------------------------------------------------------------------------
// First open

GWLParameters GWLMeasurementOperations::firstOpenConsentedEventParams() {
  // The count is kept as text; it reads as the platform reads an integer from text.
  const std::optional<std::string> text = previousFirstOpenCount();
  const int64_t count = text ? platform::integerValueOfText(*text) : 0;
  const int64_t previousFirstOpens = count >= 2 ? count - 1 : 0;
  int64_t uninstalledWithoutApp = 0;
  if (auto db = database()) {
    if (auto firstInstall = db->userAttributeWithName(kFirstInstallProperty)) {
      const GWLValue& value = firstInstall->value();
      const bool below1 = value.isDouble() ? value.doubleValue() < 1 : value.isInt64() && value.int64Value() < 1;
      if (below1) uninstalledWithoutApp = 1;
    }
  }
  return {{kPreviousFirstOpenParameter, GWLValue::initWithInt64(previousFirstOpens)},
          {kUninstalledWithoutAppParameter, GWLValue::initWithInt64(uninstalledWithoutApp)}};
}

GWLRawParameters GWLMeasurementOperations::paramsWithAddedFirstOpenConsentedEventParams(
    const GWLRawParameters& parameters) {
  GWLRawParameters result = GWLRawParametersFromParameters(firstOpenConsentedEventParams());
  for (const auto& [name, value] : parameters) result[name] = value;
  return result;
}

std::optional<std::string> GWLMeasurementOperations::previousFirstOpenCount() const {
  auto env = environment();
  if (!env) return std::nullopt;
  return GWLKeychainWrapper::keychainValueWithIdentifier(kGWLPreviousFirstOpenCountKeychainIdentifier,
                                                         env->bundleIdentifier());
}

void GWLMeasurementOperations::setPreviousFirstOpenCount(const std::optional<std::string>& count) {
  auto env = environment();
  if (!env) return;
  if (count) {
    (void)GWLKeychainWrapper::upsertKeychainValue(*count, kGWLPreviousFirstOpenCountKeychainIdentifier,
                                                  env->bundleIdentifier());
  } else {
    GWLKeychainWrapper::deleteKeychainValueWithIdentifier(kGWLPreviousFirstOpenCountKeychainIdentifier,
                                                          env->bundleIdentifier());
  }
}

// ---------------------------------------------------------------------------
// User properties

void GWLMeasurementOperations::setUserAttribute(const std::shared_ptr<GWLUserAttribute>& attribute) {
  if (!attribute) {
    GWLLogReport(*engineMonitor(), kNilSetPropertyReport);
    return;
  }
  post(3101, [weak = weakSelf(), attribute] {
    if (auto self = weak.lock()) self->setUserAttributeOnWorkerQueue(attribute);
  });
}

void GWLMeasurementOperations::removeUserAttribute(const std::shared_ptr<GWLUserAttribute>& attribute) {
  if (!attribute) {
    GWLLogReport(*engineMonitor(), kNilRemovedPropertyReport);
    return;
  }
  post(3056, [weak = weakSelf(), attribute] {
    if (auto self = weak.lock()) self->removeUserAttributeOnWorkerQueue(attribute);
  });
}

void GWLMeasurementOperations::setUserAttributeOnWorkerQueue(const std::shared_ptr<GWLUserAttribute>& attribute) {
  (void)storeUserAttributeOnWorkerQueue(attribute);
}

bool GWLMeasurementOperations::storeUserAttributeOnWorkerQueue(const std::shared_ptr<GWLUserAttribute>& attribute) {
  GWLScheduler::checkOnBackgroundThreadWithMethodName(kSetUserAttributeMethod);
  if (!attribute) return false;
  if (!isEnabled()) {
    GWLLogReport(*engineMonitor(), kSetWhileDisabledReport);
    return false;
  }
  return setUserPropertyInDatabaseOnWorkerQueue(attribute);
}

void GWLMeasurementOperations::removeUserAttributeOnWorkerQueue(const std::shared_ptr<GWLUserAttribute>& attribute) {
  GWLScheduler::checkOnBackgroundThreadWithMethodName(kRemoveUserAttributeMethod);
  if (!attribute) return;
  auto monitor = engineMonitor();
  if (!isEnabled()) {
    GWLLogReport(*monitor, kRemoveWhileDisabledReport);
    return;
  }
  const std::string& name = attribute->name();
  if (name == kGWLUserIDProperty) {
    if (auto id = identity()) id->resetSessionStitchingToken();
  }
  platform::Error error;
  auto db = database();
  if (db && db->deleteUserAttributeWithName(name, &error)) {
    GWLLogReport(*monitor, kPropertyRemovedReport,
                          GWLUserPropertyNameForLog(name));
  } else {
    // A removal that did not happen is reported as such, error or not.
    GWLLogReport(*monitor, kRemoveFailedReport,
                          GWLUserPropertyNameForLog(name), errorContext(error));
  }
}

std::optional<bool> GWLMeasurementOperations::containsUserAttribute(const std::string& name) {
  auto db = database();
  if (!db) return std::nullopt;
  return db->containsUserAttributeWithName(name);
}

bool GWLMeasurementOperations::setUserPropertyInDatabaseOnWorkerQueue(
    const std::shared_ptr<GWLUserAttribute>& attribute) {
  GWLScheduler::checkOnBackgroundThreadWithMethodName(kSetUserPropertyInDatabaseMethod);
  if (!attribute) return false;
  auto monitor = engineMonitor();
  auto db = database();
  const std::string& name = attribute->name();

  platform::Error error;
  std::optional<bool> stored = db ? db->containsUserAttributeWithName(name, &error) : std::nullopt;
  if (!stored) {
    GWLLogReport(*monitor, kExistenceQueryFailedReport, GWLUserPropertyNameForLog(name), errorContext(error));
    return false;
  }

  if (*stored && name == kGWLUserIDProperty) {
    // A stored ID that cannot be read is not known to differ: the token and "_lair" stay.
    auto previous = db->userAttributeWithName(name);
    if (previous && previous->value().description() != attribute->value().description()) {
      if (auto id = identity()) id->resetSessionStitchingToken();
      (void)db->deleteUserAttributeWithName(kGWLLastAdvertisingIDResetProperty);
    }
  }

  if (name == kGWLNonPersonalizedAdsProperty)
    updateAdPersonalizationConsentFromNPAValue(attribute->value().int64Value());

  if (!*stored) {
    const bool isPublic = !name.starts_with("_");
    platform::Error countError;
    std::optional<int64_t> count;
    int64_t limit = kGWLMaxUserPropertiesPerOrigin;
    if (isPublic) {
      count = db->publicUserAttributeCount(&countError);
      auto config = remoteConfig();
      limit = config ? config->maxPublicUserProperties() : 100;
    } else {
      count = db->userAttributeCountForOrigin(attribute->origin(), &countError);
    }
    if (!count || *count >= limit) {
      if (!count) {
        GWLLogReport(*monitor, kCountQueryFailedReport, attribute->origin(), errorContext(countError));
      } else {
        GWLLogReport(*monitor, kPropertyLimitReport,
                              attribute->origin(), GWLUserPropertyNameForLog(name), valueContext(attribute->value()));
        GWLLogErrorEvent(kPropertyLimitErrorEventCode);
      }
      return false;
    }
  }

  platform::Error writeError;
  if (!db->updateUserAttribute(attribute, &writeError)) {
    // A write that did not happen is a failure, whether or not an error came back.
    GWLLogReport(*monitor, kSetFailedReport,
                          GWLUserPropertyNameForLog(name), valueContext(attribute->value()), errorContext(writeError));
    return false;
  }
  GWLLogReport(*monitor, kPropertySetReport,
                        GWLUserPropertyNameForLog(name), valueContext(attribute->value()));
  return true;
}

// ---------------------------------------------------------------------------
// Queries

void GWLMeasurementOperations::userAttributeWithName(const std::string& name, UserAttributeCallback callback) {
  if (!callback) {
    GWLLogReport(*engineMonitor(), kNilAttributeCallbackReport);
    return;
  }
  post(3242, [weak = weakSelf(), name, callback = std::move(callback)] {
    auto self = weak.lock();
    if (!self) return;
    std::shared_ptr<GWLUserAttribute> attribute;
    if (auto db = self->database()) {
      platform::Error error;
      attribute = db->userAttributeWithName(name, &error);
      if (!attribute && !errorContext(error).isNull()) {
        GWLLogReport(*self->engineMonitor(), kAttributeReadFailedReport, GWLUserPropertyNameForLog(name));
      }
    }
    self->answer([callback, attribute] { callback(attribute); });
  });
}

void GWLMeasurementOperations::userPropertiesIncludingInternal(bool includingInternal,
                                                               UserPropertiesCallback callback) {
  if (!callback) {
    GWLLogReport(*engineMonitor(), kNilPropertiesCallbackReport);
    return;
  }
  post(3297, [weak = weakSelf(), includingInternal, callback = std::move(callback)] {
    auto self = weak.lock();
    if (!self) return;
    auto monitor = self->engineMonitor();
    platform::Dictionary properties;
    platform::Error error;
    auto db = self->database();
    auto attributes = db ? db->userAttributesIncludingInternal(includingInternal, &error) : std::nullopt;
    if (!attributes) {
      GWLLogReport(*monitor, kPropertiesReadFailedReport, errorContext(error));
    } else {
      for (const auto& attribute : *attributes) {
        if (!attribute || attribute->name().empty()) {
          GWLLogReport(*monitor, kInvalidPropertyReport);
          continue;
        }
        const GWLValue& value = attribute->value();
        if (value.isString()) {
          properties[attribute->name()] = *value.stringValue();
        } else if (value.isDouble()) {
          properties[attribute->name()] = value.doubleValue();
        } else if (value.isInt64()) {
          properties[attribute->name()] = value.int64Value();
        }
      }
    }
    self->answer([callback, properties = std::move(properties)] { callback(properties); });
  });
}

void GWLMeasurementOperations::maxUserPropertiesForOrigin(const std::string& origin,
                                                          MaxUserPropertiesCallback callback) {
  auto monitor = engineMonitor();
  if (origin.empty()) {
    GWLLogReport(*monitor, kEmptyMaxOriginReport);
    return;
  }
  if (!callback) {
    GWLLogReport(*monitor, kNilMaxCallbackReport,
                          origin);
    return;
  }
  answer([callback = std::move(callback)] { callback(kGWLMaxUserPropertiesPerOrigin); });
}

bool GWLMeasurementOperations::hasUserPropertyUserIDOnWorkerQueue() {
  GWLScheduler::checkOnBackgroundThreadWithMethodName(kHasUserIDMethod);
  return containsUserAttribute(kGWLUserIDProperty).value_or(false);
}

// ---------------------------------------------------------------------------
// Ad decisions

std::optional<bool> GWLMeasurementOperations::shouldDisableAdPersonalization() {
  if (auto settings = persistedConfig()) {
    if (auto allowed = settings->allowPersonalizedAds()) {
      if (auto flag = allowed->boolValue()) return !*flag;
      if (auto number = allowed->numberValue()) return *number == 0;
    }
  }
  if (auto current = GWLConsentSettingsUtil::consentSettings();
      current && current->count(kGWLConsentTypeAdPersonalization)) {
    if (auto granted = GWLConsentSettingsUtil::adPersonalization()) return !*granted;
  }
  if (auto env = environment()) {
    if (const platform::Object* flag =
            env->objectForInfoDictionaryKey(kGWLDefaultAllowAdPersonalizationSignalsInfoKey)) {
      if (flag->isBool() || flag->isNumber()) {
        foundAdPersonalizationPlistFlag_.store(true);
        const bool allow = flag->isBool() ? *flag->boolValue() : flag->numberValue().value_or(0) != 0;
        return !allow;
      }
      return false;
    }
  }
  if (auto defaults = GWLConsentSettingsUtil::defaultSettings()) {
    auto found = defaults->find(kGWLConsentTypeAdPersonalization);
    if (found != defaults->end() && found->second.stringValue()) {
      std::string value = *found->second.stringValue();
      for (char& c : value) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (value == kGWLConsentStatusDenied) return true;
      if (value == kGWLConsentStatusGranted) return false;
    }
  }
  return std::nullopt;
}

bool GWLMeasurementOperations::shouldAllowAdNetworkRegistration() const {
  if (auto env = environment()) {
    if (const platform::Object* flag = env->objectForInfoDictionaryKey(kGWLRegistrationWithAdNetworkEnabledInfoKey)) {
      if (flag->isBool()) return *flag->boolValue();
      if (flag->isNumber()) return flag->numberValue().value_or(0) != 0;
    }
  }
  return true;
}

void GWLMeasurementOperations::setLastAdvertisingIDResetUserPropertyOnWorkerQueue() {
  GWLScheduler::checkOnBackgroundThreadWithMethodName(kSetLastAdvertisingIDResetMethod);
  // Either question unanswered: nothing is known, so nothing is written.
  const std::optional<bool> hasUserID = containsUserAttribute(kGWLUserIDProperty);
  if (!hasUserID || !*hasUserID) return;
  const std::optional<bool> hasReset = containsUserAttribute(kGWLLastAdvertisingIDResetProperty);
  if (!hasReset || *hasReset) return;
  auto attribute = GWLUserAttribute::initWithOrigin(kGWLOriginAuto, kGWLLastAdvertisingIDResetProperty,
                                                    GWLValue::initWithInt64(1), now());
  // The flag asks for the property: it is cleared only once the property is stored.
  if (!storeUserAttributeOnWorkerQueue(attribute)) return;
  if (auto id = identity()) id->setShouldSetLastAdvertisingIDResetUserProperty(false);
}

// ---------------------------------------------------------------------------
// Session ID, user data, purchases

void GWLMeasurementOperations::sessionIDWithCompletion(SessionIDCompletion completion) {
  if (!completion) return;
  post(3450, [weak = weakSelf(), completion = std::move(completion)] {
    auto fail = [&completion](const char* description) {
      completion(0, gwl_errorWithCode(kGWLSessionIDErrorCode, description));
    };
    auto self = weak.lock();
    if (!self) return fail(kAnalyticsDeallocated);
    if (!self->isEnabled()) return fail(kAnalyticsDisabled);
    if (self->isSessionExpired()) return fail(kSessionExpired);
    auto db = self->database();
    auto stored = db ? db->userAttributeWithName(kSessionIDProperty) : nullptr;
    if (!stored) return fail(kSessionIDNotFound);
    completion(stored->value().int64Value(), std::nullopt);
  });
}

void GWLMeasurementOperations::setUserData(const platform::Dictionary& userData) {
  post(3457, [weak = weakSelf(), userData] {
    if (auto self = weak.lock()) self->setUserDataOnWorkerQueue(userData);
  });
}

void GWLMeasurementOperations::setUserDataOnWorkerQueue(const platform::Dictionary& userData) {
  GWLScheduler::checkOnBackgroundThreadWithMethodName(kSetUserDataMethod);
  initiateODM1ProtocolWithUserData(userData);
}

void GWLMeasurementOperations::filterPurchaseTransactions(const std::vector<platform::PaymentTransaction>& transactions,
                                                          PurchasesCallback callback) {
  post(3935, [weak = weakSelf(), transactions, callback] {
    auto self = weak.lock();
    if (!self) return;
    auto monitor = self->engineMonitor();
    auto db = self->database();
    std::vector<platform::PaymentTransaction> passing;
    for (const auto& transaction : transactions) {
      if (transaction.transactionState != platform::PaymentTransactionState::Purchased) continue;
      const std::string& productID = transaction.payment.productIdentifier;
      auto fingerprint = GWLInAppPurchaseTransactionReporter::transactionFingerprint(&transaction);
      if (!fingerprint || fingerprint->empty()) {
        GWLLogReport(*monitor, kNoFingerprintReport,
                              productID);
        passing.push_back(transaction);
        continue;
      }
      platform::Error error;
      auto isNew = db ? db->insertIfNotDuplicatePurchaseFingerprint(*fingerprint, &error) : std::nullopt;
      if (!isNew) {
        GWLLogReport(*monitor, kFingerprintNotSavedReport, productID, errorContext(error));
        passing.push_back(transaction);
      } else if (*isNew) {
        passing.push_back(transaction);
      } else {
        GWLLogReport(*monitor, kDuplicatePurchaseReport, productID);
      }
    }
    if (callback) self->answer([callback, passing = std::move(passing)] { callback(passing); });
  });
}
