#include "analytics/measurement/CVNAnalytics.h"

#include <mutex>

#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/values/GWLLogTexts.h"
#include "analytics/measurement/GWLIdentity.h"
#include "platform/corvane/CVNApp.h"
#include "platform/corvane/CVNInstallations.h"
#include "platform/dispatch/NotificationCenter.h"
#include "platform/env/AppEnvironment.h"
#include "platform/env/SystemVersion.h"
#include "platform/storekit/StoreTransaction.h"
#include "platform/util/Mutex.h"

namespace {

struct PublicState {
  platform::Mutex mutex;
  CVNAnalytics::Dependencies dependencies ABSL_GUARDED_BY(mutex);
  platform::ObserverToken installationIDObservation ABSL_GUARDED_BY(mutex);
};

PublicState& publicState() {
  static auto* state = new PublicState();  // never destroyed: read until the process ends
  return *state;
}

CVNAnalytics::Dependencies dependencies() {
  auto& state = publicState();
  platform::MutexLock lock(state.mutex);
  return state.dependencies;
}

std::shared_ptr<GWLAnalytics> entry() { return GWLAnalytics::sharedInstance(); }

void report(const GWLAnalyticsReport& report) { GWLLogReport(*GWLMeasurement::monitor(), report); }
void report(const GWLAnalyticsReport& report, const GWLLogContext& context) {
  GWLLogReport(*GWLMeasurement::monitor(), report, context);
}

// The configured check: false, with `refusal` reported, before the default app exists.
bool configured(const GWLAnalyticsReport& refusal) {
  if (platform::CVNApp::isDefaultAppConfigured()) return true;
  report(refusal);
  return false;
}

int hexDigit(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The bytes sent for a hashed identifier: 64 hexadecimal characters as their
// 32 bytes, anything else unchanged; a length other than 32 is warned about.
platform::Bytes hashedIdentifier(const std::optional<platform::Bytes>& hashed, const GWLAnalyticsReport& lengthReport) {
  platform::Bytes bytes = hashed.value_or(platform::Bytes());
  if (bytes.size() != 32) report(lengthReport);
  if (bytes.size() == 64) {
    // Text with a character that is no hexadecimal digit would otherwise turn
    // into made-up bytes: it is sent as it came.
    if (auto converted = CVNDataFromHexString(bytes)) return *converted;
  }
  return bytes;
}

}  // namespace

void __CVNANALYTICS_UNBRIDGEABLE_SWIFT_VALUE_ERROR__() { report(kCVNUnbridgeableValueReport); }

bool CVNContainsObjectOfClass(const platform::Object& object,
                              const std::function<bool(const platform::Object&)>& isInstance) {
  if (isInstance(object)) return true;
  if (const auto* dictionary = object.dictionaryValue()) {
    for (const auto& [key, value] : *dictionary) {
      if (isInstance(platform::Object(key)) || CVNContainsObjectOfClass(value, isInstance)) return true;
    }
    return false;
  }
  if (const auto* array = object.arrayValue()) {
    for (const auto& element : *array) {
      if (CVNContainsObjectOfClass(element, isInstance)) return true;
    }
  }
  return false;
}

bool CVNHasUnbridgeableSwiftValue(const std::optional<GWLRawParameters>& parameters) {
  if (!parameters) return false;
  const auto found = dependencies();
  const auto environment = found.environment ? found.environment : platform::AppEnvironment::shared();
  if (!environment || !environment->hasComponent(kCVNBoxedValueClassName) || !found.isBoxedValue) return false;
  for (const auto& [name, value] : *parameters) {
    if (found.isBoxedValue(platform::Object(name))) return true;
    const platform::Object object =
        std::holds_alternative<platform::Object>(value) ? std::get<platform::Object>(value)
                                                          : std::get<GWLValue>(value).objectValue();
    if (CVNContainsObjectOfClass(object, found.isBoxedValue)) return true;
  }
  return false;
}

std::optional<platform::Bytes> CVNDataFromHexString(const platform::Bytes& text) {
  if (text.size() != 64) return std::nullopt;
  platform::Bytes bytes;
  bytes.reserve(32);
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = hexDigit(text[i]);
    const int low = hexDigit(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(high * 16 + low));
  }
  return bytes;
}

void CVNAnalytics::setDependenciesForTesting(Dependencies replacement) {
  auto& state = publicState();
  platform::MutexLock lock(state.mutex);
  state.dependencies = std::move(replacement);
  state.installationIDObservation.reset();
}

// ---- the app ----

void CVNAnalytics::logEventWithName(const std::string& name, const std::optional<GWLRawParameters>& parameters) {
  logEventWithOrigin(kGWLOriginApp, name, parameters);
}

void CVNAnalytics::logEventWithOrigin(const std::string& origin, const std::string& name,
                                      const std::optional<GWLRawParameters>& parameters) {
  if (!platform::CVNApp::isDefaultAppConfigured()) {
    report(kCVNEventNotConfiguredReport, GWLEventNameForLog(name));
    return;
  }
  if (CVNHasUnbridgeableSwiftValue(parameters)) __CVNANALYTICS_UNBRIDGEABLE_SWIFT_VALUE_ERROR__();
  entry()->logEventWithOrigin(origin, name, parameters);
}

void CVNAnalytics::setUserPropertyString(const platform::Object& value, const std::string& name) {
  if (!platform::CVNApp::isDefaultAppConfigured()) {
    report(kCVNUserPropertyNotConfiguredReport, GWLUserPropertyNameForLog(name));
    return;
  }
  entry()->setUserPropertyString(value, name);
}

void CVNAnalytics::setUserID(const platform::Object& userID) { entry()->setUserID(userID); }
void CVNAnalytics::setDefaultEventParameters(const std::optional<platform::Dictionary>& parameters) {
  entry()->setDefaultEventParameters(parameters);
}
void CVNAnalytics::setAnalyticsCollectionEnabled(bool enabled) { entry()->setAnalyticsEnabled(enabled, true); }
void CVNAnalytics::setSessionTimeoutInterval(double seconds) { entry()->setSessionTimeoutInterval(seconds); }
void CVNAnalytics::sessionIDWithCompletion(GWLAnalytics::SessionIDCompletion completion) {
  entry()->sessionIDWithCompletion(std::move(completion));
}
std::optional<std::string> CVNAnalytics::appInstanceID() { return entry()->appInstanceID(); }
void CVNAnalytics::resetAnalyticsData() { entry()->resetAnalyticsData(); }
void CVNAnalytics::setConsent(const platform::Dictionary& consent) {
  entry()->consent()->setConsent(consent, kCVNConsentKey);
}

void CVNAnalytics::initiateOnDeviceConversionMeasurementWithEmailAddress(const std::optional<std::string>& emailAddress) {
  if (!configured(kCVNEmailNotConfiguredReport)) return;
  entry()->setUserData({{kCVNUserDataEmailKey, emailAddress.value_or("")}});
}

void CVNAnalytics::initiateOnDeviceConversionMeasurementWithPhoneNumber(const std::optional<std::string>& phoneNumber) {
  if (!configured(kCVNPhoneNotConfiguredReport)) return;
  entry()->setUserData({{kCVNUserDataPhoneKey, phoneNumber.value_or("")}});
}

void CVNAnalytics::initiateOnDeviceConversionMeasurementWithHashedEmailAddress(
    const std::optional<platform::Bytes>& hashed) {
  if (!configured(kCVNHashedEmailNotConfiguredReport)) return;
  entry()->setUserData({{kCVNUserDataHashedEmailKey, hashedIdentifier(hashed, kCVNHashedEmailLengthReport)}});
}

void CVNAnalytics::initiateOnDeviceConversionMeasurementWithHashedPhoneNumber(
    const std::optional<platform::Bytes>& hashed) {
  if (!configured(kCVNHashedPhoneNotConfiguredReport)) return;
  entry()->setUserData({{kCVNUserDataHashedPhoneKey, hashedIdentifier(hashed, kCVNHashedPhoneLengthReport)}});
}

void CVNAnalytics::logTransactionWithProductID(const GWLStoreTransactionValues& transaction) {
  entry()->logTransactionWithProductID(transaction);
}
void CVNAnalytics::handleOpenURL(const std::string& url) { entry()->handleOpenURL(url); }
void CVNAnalytics::handleUserActivity(const platform::UserActivity& activity) { entry()->handleUserActivity(activity); }
void CVNAnalytics::handleEventsForBackgroundURLSession(const std::string& identifier,
                                                       const std::function<void()>& completionHandler) {
  entry()->handleEventsForBackgroundURLSession(identifier, completionHandler);
}
std::string CVNAnalytics::topLevelVersion() { return platform::kCVNCorvaneVersion; }

// ---- the core framework and sibling libraries ----

void CVNAnalytics::startWithConfiguration(const std::shared_ptr<platform::CVNAnalyticsConfiguration>& configuration,
                                          const platform::CVNOptions& options) {
  platform::Dictionary startOptions{
      {kGWLStartOptionCollectionDeactivated, options.isAnalyticsCollectionDeactivated},
      {kGWLStartOptionCollectionEnabled, options.isAnalyticsCollectionEnabled},
      {kGWLStartOptionLogTag, platform::kCVNLoggerAnalytics},
  };
  // The configuration object travels beside the value dictionary, which cannot hold it.
  entry()->startWithAppID(options.halcyraAppID, kGWLOriginCorvane, startOptions, configuration);
  updateCorvaneInstallationID();
  observeCorvaneInstallationIDChanges();
}

void CVNAnalytics::logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                              const std::optional<GWLRawParameters>& parameters) {
  entry()->logInternalEventWithOrigin(origin, name, parameters);
}
void CVNAnalytics::logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                      const std::optional<GWLRawParameters>& parameters, double timestamp,
                                      bool ignoreEnabled, bool ignoreInterceptor) {
  entry()->logEventWithOrigin(origin, isPublicEvent, name, parameters, timestamp, ignoreEnabled, ignoreInterceptor);
}
void CVNAnalytics::userPropertiesIncludingInternal(bool includingInternal, std::shared_ptr<platform::Queue> queue,
                                                   GWLAnalytics::UserPropertiesCallback callback) {
  entry()->userPropertiesIncludingInternal(includingInternal, std::move(queue), std::move(callback));
}
void CVNAnalytics::setLogEventInterceptor(GWLLogEventInterceptor interceptor) {
  entry()->setLogEventInterceptor(std::move(interceptor));
}
std::optional<GWLLogEventListenerToken> CVNAnalytics::addLogEventListener(GWLAnalytics::LogEventListener listener) {
  return entry()->addLogEventListener(std::move(listener));
}
void CVNAnalytics::removeLogEventListener(const std::optional<GWLLogEventListenerToken>& token) {
  entry()->removeLogEventListener(token);
}
void CVNAnalytics::notifyEventListeners(std::shared_ptr<const GWLEvent> event) {
  entry()->notifyEventListeners(std::move(event));
}
void CVNAnalytics::setOpenURLListener(GWLAnalytics::OpenURLListener listener) {
  entry()->setOpenURLListener(std::move(listener));
}
void CVNAnalytics::dispatchAsyncOnSerialQueue(GWLAnalytics::Block block) {
  entry()->dispatchAsyncOnSerialQueue(std::move(block));
}
void CVNAnalytics::queueOperationWithBlock(GWLAnalytics::Block block) { entry()->queueOperationWithBlock(std::move(block)); }
void CVNAnalytics::unsuspendOperationQueue() { entry()->unsuspendOperationQueue(); }
double CVNAnalytics::loadTimestamp() { return entry()->loadTimestamp(); }

void CVNAnalytics::updateCorvaneInstallationID() {
  const auto found = dependencies();
  auto installations = found.installations ? found.installations() : platform::CVNInstallations::installations();
  if (!installations) return;
  installations->installationIDWithCompletion(
      [identityLookup = found.identity](const std::optional<std::string>& installationID,
                                        const std::optional<platform::Error>& error) {
        if (!installationID && error) report(kCVNInstallationIDFailedReport, *error);
        auto identity = identityLookup ? identityLookup() : GWLIdentity::sharedInstance();
        if (identity) identity->setCorvaneInstallationID(installationID);
      });
}

void CVNAnalytics::observeCorvaneInstallationIDChanges() {
  auto& state = publicState();
  platform::MutexLock lock(state.mutex);
  auto center = state.dependencies.notificationCenter ? state.dependencies.notificationCenter
                                                      : platform::NotificationCenter::defaultCenter();
  // One observation however often this is called: the earlier one goes first.
  state.installationIDObservation.reset();
  state.installationIDObservation = center->addObserver(
      platform::kCVNInstallationIDDidChangeNotification, nullptr,
      [](const platform::Notification&) { updateCorvaneInstallationID(); });
}

std::shared_ptr<CVNAnalytics> CVNAnalytics::sharedInstance() {
  static const auto* shared = new std::shared_ptr<CVNAnalytics>(new CVNAnalytics());  // made once, never destroyed
  return *shared;
}

void CVNAnalytics::logInternalEvent(const std::string& origin, const std::string& name,
                                    const std::optional<GWLRawParameters>& parameters) const {
  entry()->logInternalEventConvertingAdEventID(origin, name, parameters);
}
void CVNAnalytics::setInternalUserProperty(const GWLRawParameter& value, const std::string& name,
                                           const std::string& origin) const {
  entry()->setInternalUserProperty(value, name, origin);
}
void CVNAnalytics::maxUserPropertiesForOrigin(const std::string& origin, std::shared_ptr<platform::Queue> queue,
                                              GWLAnalytics::MaxUserPropertiesCallback callback) const {
  entry()->maxUserPropertiesForOrigin(origin, std::move(queue), std::move(callback));
}

// ---- store transactions ----

GWLStoreTransactionValues CVNTransactionValues(const platform::StoreTransaction& transaction,
                                               const std::string& systemVersion) {
  using Transaction = platform::StoreTransaction;
  GWLStoreTransactionValues values;
  values.productID = transaction.productID;
  values.transactionID = std::to_string(transaction.id);
  values.originalTransactionID = std::to_string(transaction.originalID);
  values.webOrderLineItemID = transaction.webOrderLineItemID;
  switch (transaction.productType) {
    case Transaction::ProductType::Consumable: values.productType = 1; break;
    case Transaction::ProductType::NonRenewable: values.productType = 2; break;
    case Transaction::ProductType::AutoRenewable: values.productType = 3; break;
    default: values.productType = 0; break;
  }
  if (platform::isSystemVersionAtLeast(systemVersion, "17.2") && transaction.offer) {
    values.isFreeTrial = transaction.offer->paymentMode == Transaction::OfferPaymentMode::FreeTrial;
    values.isIntroductoryOffer = transaction.offer->type == Transaction::OfferType::Introductory;
  }
  values.paymentQuantity = transaction.purchasedQuantity;
  values.purchaseDate = transaction.purchaseDate;
  values.originalPurchaseDate = transaction.originalPurchaseDate;
  values.subscriptionExpirationDate = transaction.expirationDate;
  values.cancellationDate = transaction.revocationDate;
  if (platform::isSystemVersionAtLeast(systemVersion, "16.0")) values.environment = transaction.environment;
  values.isVerified = transaction.verification == Transaction::VerificationResult::Verified;
  return values;
}

void CVNLogTransaction(const platform::StoreTransaction& transaction, const std::string& systemVersion) {
  std::string version = systemVersion;
  if (version.empty()) {
    if (auto environment = platform::AppEnvironment::shared()) version = environment->systemVersion();
  }
  CVNAnalytics::logTransactionWithProductID(CVNTransactionValues(transaction, version));
}

// ---- screens ----

void LoggedAnalyticsModifier::onAppear() const {
  platform::Dictionary parameters = extraParameters;
  parameters["screen_name"] = screenName;
  parameters["screen_class"] = screenClass;
  CVNAnalytics::logEventWithName(kGWLScreenViewEventName, GWLRawParametersFromDictionary(parameters));
}

std::shared_ptr<platform::HostingController> LoggedAnalyticsModifier::body(
    std::shared_ptr<platform::HostingController> content) const {
  if (content) content->addOnAppearAction([modifier = *this] { modifier.onAppear(); });
  return content;
}

LoggedAnalyticsModifier loggedAnalyticsScreen(std::string screenName, std::string screenClass,
                                              platform::Dictionary extraParameters) {
  return LoggedAnalyticsModifier{std::move(screenName), std::move(screenClass), std::move(extraParameters)};
}

std::shared_ptr<platform::HostingController> loggedAnalyticsScreen(std::shared_ptr<platform::HostingController> content,
                                                                   std::string screenName, std::string screenClass,
                                                                   platform::Dictionary extraParameters) {
  return loggedAnalyticsScreen(std::move(screenName), std::move(screenClass), std::move(extraParameters))
      .body(std::move(content));
}

// ---- kept entry points ----

void CVNAnalytics::notCalled() {
  void (*const keep[])() = {&CVNAnalytics::updateCorvaneInstallationID, &CVNAnalytics::observeCorvaneInstallationIDChanges,
                            &CVNAnalytics::unsuspendOperationQueue, &__CVNANALYTICS_UNBRIDGEABLE_SWIFT_VALUE_ERROR__};
  (void)keep;
}
