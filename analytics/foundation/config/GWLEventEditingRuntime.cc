#include "analytics/foundation/config/GWLEventEditingRuntime.h"

#include "analytics/foundation/core/GWLError.h"

namespace {

constexpr const char* kDefaultOrigin = "app";
constexpr const char* kRefusedEditedEventMessage = "The edited event is not a valid event";

// The origin a created event carries in "_o", else the app's.
std::string originOf(const GWLEditableEvent& event) {
  auto given = event.parameters.find(kGWLEventOriginParameter);
  if (given != event.parameters.end()) {
    if (const std::string* text = given->second.stringValue()) return *text;
  }
  return kDefaultOrigin;
}

}  // namespace

GWLEventEditingOutcome GWLEditEvent(GWLEventEditingRuntime& editing, const std::shared_ptr<GWLEvent>& event,
                                    const GWLValueLimits& limits) {
  GWLEventEditingOutcome outcome;
  outcome.event = event;
  if (!event) {
    outcome.error = gwl_errorWithCode(kGWLErrorCodeInvalidArgument, "No event to edit");
    return outcome;
  }
  platform::Error error;
  if (!editing.handleEvent(event->editEvent(), &error)) {
    outcome.error = error.domain.empty() ? gwl_errorWithCode(kGWLErrorCodeOperationFailed, "Event editing failed")
                                         : std::move(error);
    return outcome;
  }
  if (editing.hasEdits()) {
    std::shared_ptr<GWLEvent> edited = GWLEvent::eventFromEditEvent(editing.outputEvent(), limits);
    if (!edited) {
      outcome.error = gwl_errorWithCode(kGWLErrorCodeInvalidArgument, kRefusedEditedEventMessage);
      return outcome;
    }
    outcome.event = std::move(edited);
  }
  if (editing.hasCreatedEvents()) {
    for (const GWLEditableEvent& created : editing.eventsToLog()) {
      auto createdEvent = GWLEvent::initWithOrigin(originOf(created), false, created.name, created.timestamp, 0,
                                                   created.parameters, limits);
      if (createdEvent) outcome.createdEvents.push_back(std::move(createdEvent));
    }
  }
  outcome.succeeded = true;
  return outcome;
}
