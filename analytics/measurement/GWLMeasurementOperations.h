// GWLMeasurementOperations — the engine's operations behind the entry class:
// the hop of a logged event onto the worker queue and its routing, default
// event parameters with their backfill into stored events, the backfill of a
// new session's ID into the events written just before it began, user
// properties with their per-origin limits, the property queries, the
// ad-personalisation and ad-network decisions, the last-advertising-ID-reset
// property "_lair", the session ID query, user data, the de-duplication of
// store purchases and the keychain's previous first-open count.
//
// The engine class GWLMeasurement derives from this class and answers the
// protected accessors below with its own state (worker queue, database,
// settings, identity, ...). This class keeps only the two flags the
// operations own (`shouldUpdateNPAUserProperty` and whether the Info
// dictionary held the ad-personalisation default), both atomic.
//
// Threads:
// - The public hops (`logEventWithOrigin`, `setUserAttribute`, ...) may be
//   called on any thread (the entry class calls them on GWLAnalyticsQueue);
//   they post one block to the worker queue under the identifier named at
//   each ("GWLMeasurement:2536", ...) and return. Every block but the event
//   hop's holds the engine weakly and does nothing once it is gone (the
//   session ID query then answers "Analytics deallocated").
// - Methods whose names end in "OnWorkerQueue" run on the worker queue, which
//   owns the database; so a property's existence check, limit check and write
//   never interleave with another property write.
// - The query callbacks and the purchase filter's callback run on the
//   default-priority global queue (`globalQueue`); the session ID completion
//   and the event interceptor run on the worker queue.
// - `shouldDisableAdPersonalization`, `shouldAllowAdNetworkRegistration` and
//   the previous first-open count read settings only and may be called on any
//   thread.
//
// Failures are log lines; no operation returns an error except the session ID
// query. A database call that answers failure counts as a failure whether or
// not it filled its error: a property write answers NO, a removal logs its
// failure, and an unanswered "_id" or "_lair" question writes no "_lair".
// Without a database (none was opened) every database call counts as failed.
//
// For the engine class: this class is `enable_shared_from_this` of its own
// type; the engine takes its own pointer with
// `std::static_pointer_cast<GWLMeasurement>(shared_from_this())` and must be
// owned by a shared_ptr before any operation is called.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analytics/foundation/values/GWLEvent.h"
#include "analytics/foundation/values/GWLUserAttribute.h"
#include "analytics/foundation/values/GWLValue.h"
#include "analytics/measurement/GWLAnalyticsEngine.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"
#include "platform/storekit/PaymentQueue.h"

namespace platform {
class AppEnvironment;
class Queue;
}  // namespace platform
class GWLDatabase;
class GWLIdentity;
class GWLLogContext;
class GWLMonitor;
class GWLPersistedConfig;
class GWLRawEventData;
class GWLRemoteConfig;
class GWLScheduler;

// The most user properties one non-public origin may hold (a fixed number, not a setting).
inline constexpr int32_t kGWLMaxUserPropertiesPerOrigin = 25;
// Error code of the session ID query's failures.
inline constexpr int64_t kGWLSessionIDErrorCode = 13;
// Keychain item of the previous first-open count.
inline constexpr const char* kGWLPreviousFirstOpenCountKeychainIdentifier = "_pfo";
// Info dictionary keys read by the ad decisions.
inline constexpr const char* kGWLRegistrationWithAdNetworkEnabledInfoKey =
    "HALCYRA_ANALYTICS_REGISTRATION_WITH_AD_NETWORK_ENABLED";

class GWLMeasurementOperations : public GWLAnalyticsEngine,
                                 public std::enable_shared_from_this<GWLMeasurementOperations> {
 public:
  using UserAttributeCallback = std::function<void(const std::shared_ptr<GWLUserAttribute>& attribute)>;
  using UserPropertiesCallback = std::function<void(const platform::Dictionary& properties)>;
  using MaxUserPropertiesCallback = std::function<void(int32_t maxUserProperties)>;
  using PurchasesCallback = std::function<void(const std::vector<platform::PaymentTransaction>& transactions)>;
  // Which stored raw events a backfill rewrites.
  using RawEventFilter = std::function<bool(const GWLRawEventData& row)>;
  // Per metadata fingerprint: whether that metadata carries a session ID.
  using FingerprintToSessionIDExistence = std::map<int64_t, bool>;

  ~GWLMeasurementOperations() override;

  // ---- events ----
  // Posts the event to the worker queue (block 2536, holding the engine
  // strongly so that an event logged at the end is not lost) and routes it there.
  void logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                          const std::optional<GWLRawParameters>& parameters, double timestamp, bool enabled,
                          bool ignoreEnabled, bool ignoreInterceptor, const GWLLogEventInterceptor& interceptor,
                          const std::optional<GWLRawParameters>& addedScreenParameters) override;
  // The worker-queue half: default parameters (unless `ignoreInterceptor` or
  // the error event), the event, the screen parameters, then the routing:
  //   not (`enabled` or `ignoreEnabled`), or an ad-exposure event (origin
  //   "gw", name "_xa" or "_xu")           -> write, no listeners
  //   interceptor, public, not ignored      -> the interceptor only
  //   otherwise                             -> write, then the listeners
  void logEventOnWorkerQueueWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                       const std::optional<GWLRawParameters>& parameters, double timestamp,
                                       bool enabled, bool ignoreEnabled, bool ignoreInterceptor,
                                       const GWLLogEventInterceptor& interceptor,
                                       const std::optional<GWLRawParameters>& addedScreenParameters);
  // Hands the event to the write pipeline; when `notifyEventListeners`, a
  // copy taken before the hand-over then goes to the event listeners.
  void logEventOnWorkerQueue(const std::shared_ptr<GWLEvent>& event, bool notifyEventListeners);
  // Posts the event's write (block 2642, weak); a null event is refused (23048).
  void logEvent(const std::shared_ptr<GWLEvent>& event);

  // ---- default event parameters ----
  // Posts (block 2650, weak) the decision whether to backfill, then the handler.
  void setDefaultEventParameters(const std::optional<platform::Dictionary>& parameters) override;
  // Folds `parameters` into the stored defaults (none starts from nothing,
  // which clears them): a name that is not text (23212) or a value that is
  // no null, number or text (23213; an array also logs error event 27) is
  // ignored, as is a refused public parameter name (23214); null removes the
  // name; a number or text is kept as given when it is a valid public value.
  // Beyond `maxPublicEventParams` the names last in ascending order go (error
  // event 26, 23215). With `backfillEvents` the result is applied to the
  // stored events since `initTimestamp` (23272, else 23216); then it is stored.
  void handleSetDefaultEventParametersOnWorkerQueue(const std::optional<platform::Dictionary>& parameters,
                                                    bool backfillEvents);
  // Whether stored events exist and none since `initTimestamp` comes from the
  // app ("app..." origins): defaults set before the app's first own event of
  // this process also reach what the library stored since it was loaded. A
  // failed read answers NO.
  bool shouldBackfillEvents();
  // Adds `parameters` (the events' own values win) to the stored raw events
  // that pass `eventFilter` (all without one) and rewrites them. A failed
  // read logs 23270; failed rewrites are counted and logged once (23271)
  // with the last error, and the other rows are still rewritten.
  void backfillEventsWithParameters(const GWLRawParameters& parameters, bool isPublic,
                                    const RawEventFilter& eventFilter);
  // The stored defaults under the event's own parameters (the event's values
  // win); the parameters unchanged while no defaults are stored. Worker queue.
  virtual std::optional<GWLRawParameters> parametersWithAddedDefaultEventParameters(
      const std::optional<GWLRawParameters>& parameters);

  // ---- session ID backfill (at a session start, worker queue) ----
  // The earliest event time that joins the new session: the stored first
  // open's time ("_f", the first in row order) when there is one, else 15
  // seconds before the session ID (its start time in seconds).
  double backfillStartTimestampForSessionID(const GWLValue& sessionID);
  // Whether a stored event joins the session: not before `startTimestamp`,
  // and written under metadata without a "_sid" user property. The metadata
  // answers are kept in `fingerprintToSessionIDExistence`; a metadata read
  // that fails logs 23273 and answers NO.
  bool shouldBackfillSessionID(const GWLValue& sessionID, double startTimestamp,
                               FingerprintToSessionIDExistence& fingerprintToSessionIDExistence,
                               const GWLRawEventData& row);
  // Adds "_sid" and "_sno" to the stored events that join the session that began.
  virtual void backfillSessionID(const GWLValue& sessionID, const GWLValue& sessionNumber);

  // ---- first open ----
  // "_pfo": the previous first-open count minus 1 (0 below 2 or without a
  // count); "_uwa": 1 when the stored "_fi" is below 1, else 0. Worker queue.
  GWLParameters firstOpenConsentedEventParams();
  // Those two under `parameters` (the given ones win). Worker queue.
  GWLRawParameters paramsWithAddedFirstOpenConsentedEventParams(const GWLRawParameters& parameters) override;
  // The count kept in the keychain for the app's bundle identifier; setting
  // none deletes it. Any thread.
  std::optional<std::string> previousFirstOpenCount() const;
  void setPreviousFirstOpenCount(const std::optional<std::string>& count);

  // ---- user properties ----
  // Null is refused here (23079 / 23074); else posted (blocks 3101 / 3056, weak).
  void setUserAttribute(const std::shared_ptr<GWLUserAttribute>& attribute) override;
  void removeUserAttribute(const std::shared_ptr<GWLUserAttribute>& attribute) override;
  // Nothing while collection is off (23081 / 23076).
  void setUserAttributeOnWorkerQueue(const std::shared_ptr<GWLUserAttribute>& attribute) override;
  void removeUserAttributeOnWorkerQueue(const std::shared_ptr<GWLUserAttribute>& attribute) override;
  // The checks and the write of one property: a changed "_id" resets the
  // session stitching token and removes "_lair"; "_npa" is handed to the
  // ad-personalisation consent; a new name must fit its origin's limit
  // (`maxPublicUserProperties` for public names, 25 per non-public origin).
  // Answers whether the property is stored.
  bool setUserPropertyInDatabaseOnWorkerQueue(const std::shared_ptr<GWLUserAttribute>& attribute);

  // ---- queries ----
  // The stored property (or null), on the global queue (block 3242, weak).
  void userAttributeWithName(const std::string& name, UserAttributeCallback callback);
  // name -> string, double or int64 number; on the global queue (block 3297, weak).
  void userPropertiesIncludingInternal(bool includingInternal, UserPropertiesCallback callback) override;
  // 25 for every non-empty origin, on the global queue.
  void maxUserPropertiesForOrigin(const std::string& origin, MaxUserPropertiesCallback callback) override;
  // Whether "_id" is stored (a failed query counts as NO). Worker queue.
  bool hasUserPropertyUserIDOnWorkerQueue();

  // ---- ad decisions and flags ----
  bool shouldUpdateNPAUserProperty() const { return shouldUpdateNPAUserProperty_.load(); }
  void setShouldUpdateNPAUserProperty(bool value) { shouldUpdateNPAUserProperty_.store(value); }
  // YES to disable, NO to allow, none for no decision; the first source with
  // a value wins: the persisted `allowPersonalizedAds`, the current consent's
  // "ad_personalization", the Info dictionary's default
  // (HALCYRA_ANALYTICS_DEFAULT_ALLOW_AD_PERSONALIZATION_SIGNALS), the default
  // consent's "ad_personalization".
  std::optional<bool> shouldDisableAdPersonalization() override;
  // Whether the last decision found a number under the Info dictionary's key.
  bool foundAdPersonalizationPlistFlag() const { return foundAdPersonalizationPlistFlag_.load(); }
  // The Info dictionary's HALCYRA_ANALYTICS_REGISTRATION_WITH_AD_NETWORK_ENABLED
  // when it is a number, else YES.
  bool shouldAllowAdNetworkRegistration() const;
  // Sets "_lair" = 1 (origin "auto", now) when "_id" is stored and "_lair" is
  // not, and once it is stored clears the identity's flag. An unanswered
  // question writes nothing. Worker queue.
  void setLastAdvertisingIDResetUserPropertyOnWorkerQueue();

  // ---- session ID, user data, purchases ----
  // Completion on the worker queue (block 3450, weak): the stored "_sid", or
  // 0 with error 13 "Analytics deallocated", "Analytics disabled", "Session
  // expired" or "Session ID not found".
  void sessionIDWithCompletion(SessionIDCompletion completion) override;
  // Posted (block 3457, weak) to the on-device conversion query.
  void setUserData(const platform::Dictionary& userData) override;
  void setUserDataOnWorkerQueue(const platform::Dictionary& userData);
  // The purchased transactions whose fingerprints are new (or that have no
  // fingerprint, or whose fingerprint could not be saved), in order, on the
  // global queue (block 3935, weak).
  void filterPurchaseTransactions(const std::vector<platform::PaymentTransaction>& transactions,
                                  PurchasesCallback callback) override;

 protected:
  GWLMeasurementOperations();

  // ---- the engine's state, answered by the engine class ----
  // The worker queue's owner; the operations do nothing without one.
  std::shared_ptr<GWLScheduler> scheduler() const override = 0;
  // The measurement database (worker queue only); null while none is open.
  std::shared_ptr<GWLDatabase> database() const override = 0;
  // The persisted settings (ad personalisation).
  std::shared_ptr<GWLPersistedConfig> persistedConfig() const override = 0;
  // (The configuration in force, GWLMeasurementEngine's pure `remoteConfig()`,
  // gives the value limits and maxPublicUserProperties; the defaults apply
  // while it answers none.)
  // The identity taken at start (session stitching token, the "_lair" flag).
  std::shared_ptr<GWLIdentity> identity() const override = 0;
  // Whether collection is on (`_enabled`).
  bool isEnabled() const override = 0;
  // Now, seconds since 1970.
  double now() const override = 0;
  // The monitor the operations report through (the library's monitor).
  virtual std::shared_ptr<GWLMonitor> engineMonitor() const = 0;
  // The default-priority global queue of the callbacks.
  virtual std::shared_ptr<platform::Queue> globalQueue() const = 0;
  // The app environment: its bundle identifier and Info dictionary.
  virtual std::shared_ptr<platform::AppEnvironment> environment() const = 0;
  // The write pipeline's entry for one event (worker queue).
  virtual void handleEventOnWorkerQueue(const std::shared_ptr<GWLEvent>& event) = 0;
  // When the library was loaded in this process (seconds since 1970): the
  // default event parameters' backfill reaches the events stored since then.
  double initTimestamp() const override = 0;
  // Whether the session reporter's session has expired.
  virtual bool isSessionExpired() const = 0;
  // The entry class's event listeners (`GWLAnalytics::notifyEventListeners`).
  virtual void notifyEventListeners(const std::shared_ptr<const GWLEvent>& event) = 0;

  // ---- steps that later parts of the engine fill ----
  // A new "_npa" value for the ad-personalisation consent. Default: nothing.
  virtual void updateAdPersonalizationConsentFromNPAValue(int64_t /*value*/) {}
  // Starts the on-device conversion query with the user data. Default: nothing.
  virtual void initiateODM1ProtocolWithUserData(const platform::Dictionary& /*userData*/) {}

 private:
  std::weak_ptr<GWLMeasurementOperations> weakSelf() { return weak_from_this(); }
  // Posts `block` to the worker queue under "GWLMeasurement:<line>"; false without a scheduler.
  bool post(int line, std::function<void()> block);
  // Posts `block` to the global queue (runs it at once without one).
  void answer(std::function<void()> block) const;
  // setUserAttributeOnWorkerQueue, answering whether the property is stored.
  bool storeUserAttributeOnWorkerQueue(const std::shared_ptr<GWLUserAttribute>& attribute);
  // Whether the name is stored: true, false, or none when the question failed.
  std::optional<bool> containsUserAttribute(const std::string& name);
  // A database call's error for a log line: the one it filled, else none.
  static GWLLogContext errorContext(const platform::Error& error);

  std::atomic<bool> shouldUpdateNPAUserProperty_{false};
  std::atomic<bool> foundAdPersonalizationPlistFlag_{false};
};
