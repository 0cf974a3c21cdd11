// GWLAnalyticsEngine — the measurement engine as the entry class GWLAnalytics
// calls it: exactly the operations the entry class hands on, and the function
// that creates the engine.
//
// The engine class GWLMeasurement implements this interface; GWLMeasurement's
// class accessors (GWLMeasurement.h) answer the one engine of the process.
// Every method may be called on GWLAnalyticsQueue (and the state getters on
// any thread); the operations hop onto the engine's worker queue themselves
// and answer through their callbacks on the queues their descriptions name.
//
//   GWLAnalytics                      engine
//   start                             creation (GWLAnalyticsEngineFactory), wasEnabledDuringInitialization
//   events                            logEventWithOrigin
//   collection switch                 setEnabled
//   default event parameters          setDefaultEventParameters
//   user properties                   setUserAttribute, removeUserAttribute, shouldDisableAdPersonalization
//   user-property queries             userPropertiesIncludingInternal, maxUserPropertiesForOrigin
//   session timeout and ID            didInitializeComponents, setSessionTimeoutInterval, sessionIDWithCompletion
//   reset                             resetAnalyticsDataWithAppInstanceID
//   user data                         setUserData
//   purchases                         filterPurchaseTransactions
//   opened URLs, user activities      handleNonFirstOpenEventURL
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/values/GWLUserAttribute.h"
#include "analytics/foundation/values/GWLValue.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"
#include "platform/storekit/PaymentQueue.h"

// The app's event interceptor: takes a public event in place of the write
// pipeline (origin, name, parameters with the screen parameters merged over
// them, timestamp). Called on the engine's worker queue.
using GWLLogEventInterceptor = std::function<void(const std::string& origin, const std::string& name,
                                                  const std::optional<GWLRawParameters>& parameters, double timestamp)>;

// What the entry class hands to the engine's creation.
struct GWLAnalyticsEngineConfiguration {
  std::string appID;
  bool isAnalyticsCollectionEnabled = true;
  bool isAnalyticsCollectionDeactivated = false;
  // Events that pass the safelist; none when the start options gave no valid list.
  std::optional<std::vector<std::string>> safelistedEvents;
};

class GWLAnalyticsEngine : public GWLMeasurementEngine {
 public:
  // ---- state ----
  // Whether collection was on once the engine was made (the persisted state
  // and the start options decide).
  virtual bool wasEnabledDuringInitialization() const = 0;
  // Whether the engine's components have been started once (its worker
  // block at start has completed). Any thread.
  virtual bool didInitializeComponents() const = 0;
  // Switches collection on or off (posted to the worker queue).
  virtual void setEnabled(bool enabled) = 0;

  // ---- events ----
  // Hands one event to the worker queue: `enabled` is the entry class's
  // collection flag, `interceptor` its event interceptor (or none).
  virtual void logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                  const std::optional<GWLRawParameters>& parameters, double timestamp, bool enabled,
                                  bool ignoreEnabled, bool ignoreInterceptor, const GWLLogEventInterceptor& interceptor,
                                  const std::optional<GWLRawParameters>& addedScreenParameters) = 0;
  // The default event parameters; none clears them all, a null value removes its name.
  virtual void setDefaultEventParameters(const std::optional<platform::Dictionary>& parameters) = 0;

  // ---- user properties ----
  // A null attribute is refused with a report.
  virtual void setUserAttribute(const std::shared_ptr<GWLUserAttribute>& attribute) = 0;
  virtual void removeUserAttribute(const std::shared_ptr<GWLUserAttribute>& attribute) = 0;
  // The stored user properties (name -> string or number); the callback runs on a global queue.
  virtual void userPropertiesIncludingInternal(bool includingInternal,
                                               std::function<void(const platform::Dictionary&)> callback) = 0;
  // The most user properties the origin may hold; the callback runs on a global queue.
  virtual void maxUserPropertiesForOrigin(const std::string& origin, std::function<void(int32_t)> callback) = 0;
  // YES to turn ad personalisation off, NO to allow it, none for no decision. Any thread.
  virtual std::optional<bool> shouldDisableAdPersonalization() = 0;

  // ---- sessions ----
  // Seconds of inactivity that end a session (not negative, a number).
  virtual void setSessionTimeoutInterval(double seconds) = 0;
  // (session ID, error): 0 and an error of code 13 when there is none.
  using SessionIDCompletion = std::function<void(int64_t sessionID, const std::optional<platform::Error>& error)>;
  virtual void sessionIDWithCompletion(SessionIDCompletion completion) = 0;

  // ---- reset, user data, purchases ----
  // Wipes the analytics data and takes the new app instance ID (none while
  // analytics storage is denied); blocks until the worker queue has done it.
  // Answers whether the wipe succeeded.
  [[nodiscard]] virtual bool resetAnalyticsDataWithAppInstanceID(const std::optional<std::string>& appInstanceID) = 0;
  // User data for on-device conversion measurement (one entry: an e-mail
  // address, a phone number, or a hashed one).
  virtual void setUserData(const platform::Dictionary& userData) = 0;
  // The purchased transactions that are not duplicates, in their order; the
  // callback runs on a global queue.
  virtual void filterPurchaseTransactions(
      const std::vector<platform::PaymentTransaction>& transactions,
      std::function<void(const std::vector<platform::PaymentTransaction>&)> callback) = 0;

  // ---- opened URLs ----
  // A URL that opened the running app, handled as a deep link; never called
  // on the worker queue.
  virtual void handleNonFirstOpenEventURL(const std::string& url, double eventTimestampInSeconds,
                                          const std::optional<std::string>& referrerURL) = 0;
  void handleNonFirstOpenEventURL(const std::string& url, double eventTimestampInSeconds) {
    handleNonFirstOpenEventURL(url, eventTimestampInSeconds, std::nullopt);
  }
};

// Creates the engine for the entry class's start; null leaves the process
// without an engine.
using GWLAnalyticsEngineFactory =
    std::function<std::shared_ptr<GWLAnalyticsEngine>(const GWLAnalyticsEngineConfiguration& configuration)>;
