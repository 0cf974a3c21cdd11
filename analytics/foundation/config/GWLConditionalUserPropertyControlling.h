// GWLConditionalUserPropertyControlling — what the engine and the public
// interface need of the conditional user property controller, which lives in
// the audiences layer above the foundation. The controller
// (GWLConditionalUserPropertyController) implements it; the composition root
// hands the engine that controller.
//
// This base class is also the do-nothing default, for an engine that was given
// no controller: events pass unchanged (no events to add), requests are
// dropped and queries answer nothing.
//
// Threads: `processEventOnWorkerQueue` runs on the engine's worker queue; the
// three requests may come from any thread.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Object.h"

class GWLConditionalUserProperty;
class GWLEvent;

class GWLConditionalUserPropertyControlling {
 public:
  using Events = std::vector<std::shared_ptr<GWLEvent>>;
  using Properties = std::vector<std::shared_ptr<GWLConditionalUserProperty>>;

  virtual ~GWLConditionalUserPropertyControlling() = default;

  // The shared do-nothing controller (never destroyed).
  static std::shared_ptr<GWLConditionalUserPropertyControlling> passThrough() {
    static const auto* shared =
        new std::shared_ptr<GWLConditionalUserPropertyControlling>(std::make_shared<GWLConditionalUserPropertyControlling>());
    return *shared;
  }

  // Advances the stored properties for one event the engine is writing. The
  // answer is the triggered events, to be written after the event, in order;
  // nullopt when nothing could be processed (the engine reports that and
  // still writes the event). The controller itself writes the timed-out and
  // expired events before it answers.
  [[nodiscard]] virtual std::optional<Events> processEventOnWorkerQueue(const std::shared_ptr<GWLEvent>& /*event*/) {
    return Events{};
  }

  // Checks a copy of `property` named `name` and posts its storing (or, for
  // a property without a value, its removal) to the worker queue.
  virtual void setConditionalUserProperty(const std::shared_ptr<GWLConditionalUserProperty>& /*property*/,
                                          const std::string& /*name*/) {}
  // Posts the removal of the property `name`; `clearEvent` (may be null) is
  // logged once it is gone.
  virtual void clearConditionalUserPropertyWithClearEvent(const std::shared_ptr<GWLEvent>& /*clearEvent*/,
                                                          const std::string& /*name*/) {}
  // The stored properties whose name begins with `prefix` and whose origin is
  // `origin` (each only when given and non-empty). Both come from callers as
  // objects: anything but text is refused. Waits a bounded time for the
  // worker queue; nullopt when no answer came.
  [[nodiscard]] virtual std::optional<Properties> conditionalUserPropertiesWithNamePrefix(
      const std::optional<platform::Object>& /*prefix*/, const std::optional<platform::Object>& /*origin*/) {
    return std::nullopt;
  }
};
