// CVNAnalytics — the library's public class. The app reaches the analytics
// core only through it, the core framework starts the library through it,
// and the maker's sibling libraries reach it through it and the interop
// connector (CVNAnalyticsConnector).
//
// Almost every method hands its arguments unchanged to the entry class
// (GWLAnalytics). What this class adds:
//   - events, string user properties and on-device conversion data are
//     refused until the core framework's default app is configured;
//   - event parameters are searched for values the app's language could not
//     bridge (reported, the event is logged all the same);
//   - hashed e-mail addresses and phone numbers given as 64 hexadecimal
//     characters become 32 bytes;
//   - the start the core framework calls while it configures itself;
//   - the installation identifier handed to the identity, again on each change.
//
// Beside it stand the exported `CVNA` subclasses, under which sibling
// libraries name core classes, and `CVNLogTransaction` and
// `LoggedAnalyticsModifier` for the app's UI layer.
//
// No state apart from the shared instance and the installation-ID
// observation; every method may be called from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "analytics/attribution/CVNAAdExposureReporter.h"
#include "analytics/audiences/GWLConditionalUserPropertyController.h"
#include "analytics/foundation/values/GWLConditionalUserProperty.h"
#include "analytics/foundation/values/GWLEvent.h"
#include "analytics/foundation/values/GWLUserAttribute.h"
#include "analytics/foundation/values/GWLValue.h"
#include "analytics/measurement/GWLAnalytics.h"
#include "analytics/measurement/GWLIdentifiers.h"
#include "analytics/measurement/GWLMeasurement.h"
#include "analytics/measurement/GWLScreenViewReporter.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"
#include "platform/ui/HostingController.h"

namespace platform {
class AppEnvironment;
class CVNAnalyticsConfiguration;
class CVNInstallations;
class NotificationCenter;
class Queue;
struct CVNOptions;
struct StoreTransaction;
}  // namespace platform
class GWLIdentity;

// The class the platform boxes values in that have no platform counterpart.
// Looked up as an app-environment component.
inline constexpr const char* kCVNBoxedValueClassName = "__SwiftValue";
inline constexpr const char* kCVNConsentKey = "consent_settings_3p";
inline constexpr const char* kCVNUserDataEmailKey = "email_address";
inline constexpr const char* kCVNUserDataPhoneKey = "phone_number";
inline constexpr const char* kCVNUserDataHashedEmailKey = "hashed_email_address";
inline constexpr const char* kCVNUserDataHashedPhoneKey = "hashed_phone_number";

inline constexpr GWLAnalyticsReport kCVNEventNotConfiguredReport{3, 25018, "Event not logged. CorvaneApp not configured."};
inline constexpr GWLAnalyticsReport kCVNUserPropertyNotConfiguredReport{
    3, 25019, "User property not set. CorvaneApp not configured."};
inline constexpr GWLAnalyticsReport kCVNInstallationIDFailedReport{4, 25038, "Failed to get Installation ID."};
inline constexpr GWLAnalyticsReport kCVNUnbridgeableValueReport{
    3, 25040,
    "Unbridgeable Swift type logged in parameters. Break on __CVNANALYTICS_UNBRIDGEABLE_SWIFT_VALUE_ERROR__ to debug."};
inline constexpr GWLAnalyticsReport kCVNEmailNotConfiguredReport{3, 25051, "Email address not set. CorvaneApp not configured."};
inline constexpr GWLAnalyticsReport kCVNPhoneNotConfiguredReport{3, 25052, "Phone number not set. CorvaneApp not configured."};
inline constexpr GWLAnalyticsReport kCVNHashedEmailNotConfiguredReport{
    3, 25053, "Hashed email address not set. CorvaneApp not configured."};
inline constexpr GWLAnalyticsReport kCVNHashedPhoneNotConfiguredReport{
    3, 25054, "Hashed phone number not set. CorvaneApp not configured."};
inline constexpr GWLAnalyticsReport kCVNHashedEmailLengthReport{4, 25056, "Hashed email address should be 32 bytes (256 bits)"};
inline constexpr GWLAnalyticsReport kCVNHashedPhoneLengthReport{4, 25057, "Hashed phone number should be 32 bytes (256 bits)"};

// Reports the unbridged value and nothing else, so that a debugger can stop here.
void __CVNANALYTICS_UNBRIDGEABLE_SWIFT_VALUE_ERROR__();
// Whether `object` holds (as itself, a dictionary key or value, or an array
// element, at any depth) an instance `isInstance` accepts.
bool CVNContainsObjectOfClass(const platform::Object& object, const std::function<bool(const platform::Object&)>& isInstance);
// Whether the parameters hold a boxed value; false while no boxed class exists.
bool CVNHasUnbridgeableSwiftValue(const std::optional<GWLRawParameters>& parameters);
// 64 hexadecimal characters as 32 bytes; none when any character is no
// hexadecimal digit or the length is not 64.
std::optional<platform::Bytes> CVNDataFromHexString(const platform::Bytes& text);

class CVNAnalytics {
 public:
  // Collaborators; each empty one is the process's own.
  struct Dependencies {
    std::shared_ptr<platform::AppEnvironment> environment;
    std::shared_ptr<platform::NotificationCenter> notificationCenter;
    std::function<std::shared_ptr<platform::CVNInstallations>()> installations;
    std::function<std::shared_ptr<GWLIdentity>()> identity;
    // Whether an object is an instance of the boxed class (present only where
    // that class is registered as a component).
    std::function<bool(const platform::Object&)> isBoxedValue;
  };
  // Tests: replaces the collaborators (empty ones: the process's own).
  static void setDependenciesForTesting(Dependencies dependencies);

  // ---- the app ----
  static void logEventWithName(const std::string& name, const std::optional<GWLRawParameters>& parameters);
  static void logEventWithOrigin(const std::string& origin, const std::string& name,
                                 const std::optional<GWLRawParameters>& parameters);
  static void setUserPropertyString(const platform::Object& value, const std::string& name);
  static void setUserID(const platform::Object& userID);
  static void setDefaultEventParameters(const std::optional<platform::Dictionary>& parameters);
  static void setAnalyticsCollectionEnabled(bool enabled);
  static void setSessionTimeoutInterval(double seconds);
  static void sessionIDWithCompletion(GWLAnalytics::SessionIDCompletion completion);
  static std::optional<std::string> appInstanceID();
  static void resetAnalyticsData();
  static void setConsent(const platform::Dictionary& consent);
  static void initiateOnDeviceConversionMeasurementWithEmailAddress(const std::optional<std::string>& emailAddress);
  static void initiateOnDeviceConversionMeasurementWithPhoneNumber(const std::optional<std::string>& phoneNumber);
  static void initiateOnDeviceConversionMeasurementWithHashedEmailAddress(const std::optional<platform::Bytes>& hashed);
  static void initiateOnDeviceConversionMeasurementWithHashedPhoneNumber(const std::optional<platform::Bytes>& hashed);
  static void logTransactionWithProductID(const GWLStoreTransactionValues& transaction);
  static void handleOpenURL(const std::string& url);
  static void handleUserActivity(const platform::UserActivity& activity);
  static void handleEventsForBackgroundURLSession(const std::string& identifier,
                                                  const std::function<void()>& completionHandler);
  static std::string topLevelVersion();

  // ---- the core framework and sibling libraries ----
  static void startWithConfiguration(const std::shared_ptr<platform::CVNAnalyticsConfiguration>& configuration,
                                     const platform::CVNOptions& options);
  static void logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                         const std::optional<GWLRawParameters>& parameters);
  static void logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                 const std::optional<GWLRawParameters>& parameters, double timestamp,
                                 bool ignoreEnabled, bool ignoreInterceptor);
  static void userPropertiesIncludingInternal(bool includingInternal, std::shared_ptr<platform::Queue> queue,
                                              GWLAnalytics::UserPropertiesCallback callback);
  static void setLogEventInterceptor(GWLLogEventInterceptor interceptor);
  static std::optional<GWLLogEventListenerToken> addLogEventListener(GWLAnalytics::LogEventListener listener);
  static void removeLogEventListener(const std::optional<GWLLogEventListenerToken>& token);
  static void notifyEventListeners(std::shared_ptr<const GWLEvent> event);
  static void setOpenURLListener(GWLAnalytics::OpenURLListener listener);
  static void dispatchAsyncOnSerialQueue(GWLAnalytics::Block block);
  static void queueOperationWithBlock(GWLAnalytics::Block block);
  static void unsuspendOperationQueue();
  static double loadTimestamp();
  static void updateCorvaneInstallationID();
  static void observeCorvaneInstallationIDChanges();

  static std::shared_ptr<CVNAnalytics> sharedInstance();
  // The instance form of logInternalEventWithOrigin: for origin "gw" a
  // numeric "_aeid" becomes an integer.
  void logInternalEvent(const std::string& origin, const std::string& name,
                                  const std::optional<GWLRawParameters>& parameters) const;
  void setInternalUserProperty(const GWLRawParameter& value, const std::string& name, const std::string& origin) const;
  void maxUserPropertiesForOrigin(const std::string& origin, std::shared_ptr<platform::Queue> queue,
                                  GWLAnalytics::MaxUserPropertiesCallback callback) const;

  // Keeps the linker from dropping the entry points nothing in the library calls.
  static void notCalled();

 private:
  CVNAnalytics() = default;
};

// The exported names: core classes under the public prefix. None adds state
// or behaviour, so each is the core class itself.
using CVNAMeasurement = GWLMeasurement;
using CVNAScreenViewReporter = GWLScreenViewReporter;
using CVNAEvent = GWLEvent;
using CVNAValue = GWLValue;
using CVNAUserAttribute = GWLUserAttribute;
using CVNAIdentifiers = GWLIdentifiers;
using CVNAConditionalUserProperty = GWLConditionalUserProperty;
using CVNAConditionalUserPropertyController = GWLConditionalUserPropertyController;
// CVNAAdExposureReporter (included above) is a subclass of its own, made with
// GWLAdExposureReporter::create<CVNAAdExposureReporter>(), so that ad
// libraries keep a reporter under the public name.

// Logs a store transaction the app received from the newer store interface.
// `systemVersion`: the platform version (the app environment's when empty).
void CVNLogTransaction(const platform::StoreTransaction& transaction, const std::string& systemVersion = {});
// The values CVNLogTransaction hands on.
GWLStoreTransactionValues CVNTransactionValues(const platform::StoreTransaction& transaction,
                                               const std::string& systemVersion);

// A hosted screen's "screen_view" logging: `body` gives the hosted screen an
// on-appear action, which the UI layer runs each time the screen appears
// (nothing runs on disappearing).
struct LoggedAnalyticsModifier {
  std::string screenName;
  std::string screenClass;
  platform::Dictionary extraParameters;

  // Logs "screen_view" through the public class with the extra parameters,
  // "screen_name" and "screen_class" replacing entries of the same keys.
  void onAppear() const;
  // The content with this modifier's on-appear action added.
  std::shared_ptr<platform::HostingController> body(std::shared_ptr<platform::HostingController> content) const;
};

LoggedAnalyticsModifier loggedAnalyticsScreen(std::string screenName, std::string screenClass,
                                              platform::Dictionary extraParameters = {});
// The hosted screen `content`, modified to log "screen_view" each time it appears.
std::shared_ptr<platform::HostingController> loggedAnalyticsScreen(std::shared_ptr<platform::HostingController> content,
                                                                   std::string screenName, std::string screenClass,
                                                                   platform::Dictionary extraParameters = {});
