// GWLMeasurementEngineCalls — what the layers above the foundation (the
// conditional user properties today) call back on the engine, which lives in
// the measurement layer above them. The engine implements these calls; its
// callers reach them through `GWLMeasurementRegistry::sharedInstance()`, whose
// engine is one of these (GWLMeasurementEngine derives from this class).
//
// Every call has a do-nothing default, so an engine that does not implement a
// call (and every test engine) still links: collection reads as off, there is
// no database or scheduler, the clock reads 0 and writes are dropped. A caller
// that finds no database or scheduler does nothing with it.
//
// Threads: `isEnabled`, `database`, `scheduler` and `now` may be called on any
// thread; the two writes only on the engine's worker queue (the scheduler's);
// each later block names its thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "analytics/foundation/config/GWLServiceHosts.h"
#include "analytics/foundation/values/GWLValue.h"

namespace platform {
class HVUNetwork;
}
class GWLDatabase;
class GWLEvent;
class GWLPersistedConfig;
class GWLScheduler;
class GWLUserAttribute;

class GWLMeasurementEngineCalls {
 public:
  virtual ~GWLMeasurementEngineCalls() = default;

  // Whether collection is enabled.
  virtual bool isEnabled() const { return false; }
  // The engine's measurement database; used only on the worker queue.
  virtual std::shared_ptr<GWLDatabase> database() const { return nullptr; }
  // The engine's scheduler, whose worker queue owns the database.
  virtual std::shared_ptr<GWLScheduler> scheduler() const { return nullptr; }
  // Now, in seconds since 1970, on the clock the database reads: times
  // stamped here are compared with it in the database's own queries.
  virtual double now() const { return 0; }

  // The full path of an event on the worker queue: conditional user property
  // processing, then the filtered write of the event and of every event that
  // processing answered.
  virtual void writeEventOnWorkerQueue(const std::shared_ptr<GWLEvent>& /*event*/) {}
  // The write of an event without conditional user property processing
  // (blocklist, daily limits, storage), on the worker queue.
  virtual void writeFilteredEventOnWorkerQueue(const std::shared_ptr<GWLEvent>& /*event*/) {}

  // ---- shared by the conversion values and the deep links ----
  // The engine's persisted settings: first open time, last uploaded event
  // time, the conversion-value settings, the deferred deep link state and the
  // ad campaign info live there (any thread; each access runs on their own queue).
  virtual std::shared_ptr<GWLPersistedConfig> persistedConfig() const { return nullptr; }
  // The engine's upload network object; it also reports connectivity, and the
  // caller may set its timeout (worker queue).
  virtual std::shared_ptr<platform::HVUNetwork> network() const { return nullptr; }
  // Marks that a network request of the engine is in flight; uploads wait
  // while it is set (worker queue).
  virtual void setIsNetworkRequestPending(bool /*pending*/) {}
  // The identity's app ID (the service configuration's); nullopt when there
  // is none (any thread).
  [[nodiscard]] virtual std::optional<std::string> appID() const { return std::nullopt; }
  // Writes an internal event through the engine's event pipeline: default
  // parameters, editing, storage, then the event listeners (worker queue).
  virtual void handleInternalEventOnWorkerQueue(const std::shared_ptr<GWLEvent>& /*event*/) {}

  // ---- user properties and the first open (worker queue) ----
  // Sets or removes a user property as the entry class's calls do once they
  // reach the worker queue (nothing while collection is off).
  virtual void setUserAttributeOnWorkerQueue(const std::shared_ptr<GWLUserAttribute>& /*attribute*/) {}
  virtual void removeUserAttributeOnWorkerQueue(const std::shared_ptr<GWLUserAttribute>& /*attribute*/) {}
  // The parameters of a consented first open ("_pfo", "_uwa") under
  // `parameters` (the given ones win).
  virtual GWLRawParameters paramsWithAddedFirstOpenConsentedEventParams(const GWLRawParameters& parameters) {
    return parameters;
  }

  // When the engine was made, seconds since 1970 (any thread).
  virtual double initTimestamp() const { return 0; }

  // ---- SKAdNetwork conversion values (all on the worker queue) ----
  // The collection service host that uploads go to.
  [[nodiscard]] virtual std::optional<GWLServiceEndpoint> uploadHost() const { return std::nullopt; }
  // Whether no request of the engine is pending and no upload is in progress.
  virtual bool isNetworkReadyForRequest() const { return false; }
  // The identity's app instance ID; nullopt when there is none.
  [[nodiscard]] virtual std::optional<std::string> appInstanceID() const { return std::nullopt; }

  // ---- deep links and campaigns ----
  // Defaults: no identifier, nothing denied.
  // Whether requests should use a background session (worker queue).
  virtual bool shouldUseBackgroundSession() const { return false; }
  // Re-arms the upload alarm for the next upload time (worker queue).
  virtual void updateSchedule() {}
  // The identity (any thread): the advertising identifier, whether the
  // platform tells limited ad tracking and whether tracking is limited (no
  // usable identifier), the tracking-authorisation status (3: authorised), and
  // whether the system is 14 or above.
  [[nodiscard]] virtual std::optional<std::string> resettableDeviceID() const { return std::nullopt; }
  virtual bool hasLimitedAdTracking() const { return false; }
  virtual bool limitedAdTracking() const { return true; }
  virtual int64_t appleConsentStatus() const { return 0; }
  virtual bool iOS14OrAbove() const { return true; }
  // The consent in force (any thread): ad storage and ad user data denied, ad
  // personalisation (none when not set), the consent signals (none when none).
  virtual bool isAdStorageDenied() const { return false; }
  virtual bool isAdUserDataDenied() const { return false; }
  [[nodiscard]] virtual std::optional<bool> adPersonalization() const { return std::nullopt; }
  [[nodiscard]] virtual std::optional<std::string> consentSignals() const { return std::nullopt; }

  // ---- ad exposure and search-ads attribution ----
  // Logs an internal (not public) event through the entry class's event path,
  // as `GWLAnalytics::logInternalEventWithOrigin` does: "_xu" and "_xa" with
  // origin "gw", "_cmp" with origin "auto". Any thread; returns at once.
  virtual void logInternalEventWithOrigin(const std::string& /*origin*/, const std::string& /*name*/,
                                          const GWLRawParameters& /*parameters*/) {}
  // The current screen's parameters ("_sn", "_sc", "_si") as the screen-view
  // reporter answers them; empty when screen reporting does not apply. Any
  // thread but the screen-view reporter's queue.
  virtual GWLParameters screenParameters() const { return {}; }
};
