// GWLConditionalUserPropertyController — keeps the conditional user
// properties: user properties that wait for a trigger event (at most their
// trigger timeout), become active when it is logged (or at once without a
// trigger), set the real user property, and go again once their time to live
// has passed or they are cleared. Each transition can log an event the
// requester supplied.
//
// States of one property name:
//
//   absent   --set, trigger name-->   waiting   --trigger event in time-->  active
//   absent   --set, no trigger--->    active    (user property set at once)
//   waiting  --any event after the trigger timeout--> absent (timed-out event)
//   active   --any event after the time to live-----> absent, user property
//                                                      deleted (expired event)
//   waiting/active --clear, or set without value--> absent (clear event)
//   active   --set again--> active, activation time and trigger data kept
//
// Times are checked only when an event is processed; there is no timer.
//
// The engine is reached through its calls (GWLMeasurementEngineCalls): the
// shared instance asks GWLMeasurementRegistry for the engine each time, so it
// may be made before the engine. The database's clock gives "now".
//
// Threads: the three requests (`setConditionalUserProperty`,
// `clearConditionalUserPropertyWithClearEvent`,
// `conditionalUserPropertiesWithNamePrefix`) may be called on any thread and
// only post blocks to the engine's worker queue (the query waits for its
// block, at most `queryWaitLimit` seconds; on the worker queue itself it runs
// at once). Every method ending in `OnWorkerQueue` and the two removal steps
// run on the worker queue only, each change inside one exclusive database
// transaction: a rolled-back step leaves properties and user properties as
// they were and writes none of its events. The controller keeps no state of
// its own after construction.
//
// Every log line (code, monitor level, message) stands in the table at the
// top of the implementation file.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analytics/foundation/config/GWLConditionalUserPropertyControlling.h"
#include "analytics/foundation/config/GWLMeasurementEngineCalls.h"
#include "analytics/foundation/values/GWLConditionalUserProperty.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"

class GWLEvent;
class GWLMonitor;

// The limits of a trigger timeout and of a time to live, in seconds (both
// included): a thousandth of a second to 180 days.
inline constexpr double kGWLConditionalUserPropertyMinimumInterval = 0.001;
inline constexpr double kGWLConditionalUserPropertyMaximumInterval = 15552000;

// Whether the property may be stored: origin, name and value (when present)
// pass the validator's conditional user property checks (which report
// themselves), and the trigger timeout (11000) and time to live (11001) are
// numbers within the limits. A double value, and the triggered time of a
// property its sender marked active, must not be NaN, which the database
// cannot keep.
bool GWLConditionalUserPropertyIsValid(const GWLConditionalUserProperty& property, GWLMonitor& monitor);

class GWLConditionalUserPropertyController
    : public GWLConditionalUserPropertyControlling,
      public std::enable_shared_from_this<GWLConditionalUserPropertyController> {
 public:
  using EngineLookup = std::function<std::shared_ptr<GWLMeasurementEngineCalls>()>;

  struct Dependencies {
    // Answers the engine (null while there is none); the registry's shared
    // engine when empty.
    EngineLookup engine;
    // Receives the log lines; the library's monitor when null.
    std::shared_ptr<GWLMonitor> monitor;
    // How long a query waits for the worker queue, in seconds.
    double queryWaitLimit = 30;
  };

  // The process's controller, over the registry's engine; made once.
  static std::shared_ptr<GWLConditionalUserPropertyController> sharedInstance();
  static std::shared_ptr<GWLConditionalUserPropertyController> create(Dependencies dependencies);

  // ---- any thread ----
  void setConditionalUserProperty(const std::shared_ptr<GWLConditionalUserProperty>& property,
                                  const std::string& name) override;
  void clearConditionalUserPropertyWithClearEvent(const std::shared_ptr<GWLEvent>& clearEvent,
                                                  const std::string& name) override;
  std::optional<Properties> conditionalUserPropertiesWithNamePrefix(
      const std::optional<platform::Object>& prefix, const std::optional<platform::Object>& origin) override;

  // ---- worker queue ----
  // Stores the property (a copy is changed, never `property`).
  void setConditionalUserPropertyOnWorkerQueue(const std::shared_ptr<GWLConditionalUserProperty>& property);
  // Removes the property of the request's name; the request's `expiredEvent`
  // is the clear event.
  void removeConditionalUserPropertyOnWorkerQueue(const std::shared_ptr<GWLConditionalUserProperty>& request);
  std::optional<Events> processEventOnWorkerQueue(const std::shared_ptr<GWLEvent>& event) override;
  // The steps of processing, inside its transaction: false (nullopt) means
  // roll back. The first two append the events they built to `events`.
  [[nodiscard]] bool removeTimedOutCUPWithTimedOutEvents(Events& events);
  [[nodiscard]] bool removeExpiredCUPWithExpiredEvents(Events& events);
  [[nodiscard]] std::optional<Events> updateConditionalUserPropertiesWithEventNameOnWorkerQueue(
      const std::string& eventName);

 private:
  explicit GWLConditionalUserPropertyController(Dependencies dependencies);
  std::shared_ptr<GWLMeasurementEngineCalls> engine() const;
  std::shared_ptr<GWLMonitor> monitor() const;
  // Runs the query on the worker queue: the answer, and the error of a failed one.
  std::optional<Properties> queryOnWorkerQueue(const std::optional<std::string>& prefix,
                                               const std::optional<std::string>& origin, platform::Error& error);

  const Dependencies dependencies_;
};
