#include "analytics/audiences/GWLConditionalUserPropertyController.h"

#include <absl/base/thread_annotations.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <utility>

#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/foundation/values/GWLDataTypeValidator.h"
#include "analytics/foundation/values/GWLEvent.h"
#include "analytics/foundation/values/GWLLogTexts.h"
#include "analytics/foundation/values/GWLNameTables.h"
#include "analytics/foundation/values/GWLUserAttribute.h"
#include "platform/dispatch/Queue.h"
#include "platform/util/Mutex.h"

namespace {

// One log line of the controller: code, monitor level and message.
struct LogLine {
  int64_t code;
  int64_t level;
  const char* message;
};

// Processing a logged event.
constexpr LogLine kNilEvent{10000, 2, "Cannot process nil event for conditional user property"};
constexpr LogLine kTimedOutQueryFailed{10001, 1, "Cannot fetch timed out conditional user properties. Error"};
constexpr LogLine kTimedOut{10002, 7, "Conditional user property has timed out. Name"};
constexpr LogLine kTimedOutDeleteFailed{10003, 1, "Cannot delete timed out condition user property. Name, error"};
constexpr LogLine kExpiredQueryFailed{10004, 1, "Cannot fetch expired conditional user properties. Error"};
constexpr LogLine kExpired{10005, 7, "Conditional user property has expired. Name, expired event"};
constexpr LogLine kExpiredUserPropertyDeleteFailed{
    10006, 1, "Cannot remove conditional user property. Failed to delete the user property. Name, origin, error"};
constexpr LogLine kExpiredDeleteFailed{10007, 1, "Cannot delete expired condition user property. Name, error"};
constexpr LogLine kTriggerQueryFailed{10008, 1,
                                      "Cannot fetch triggering conditional user properties. Event name, error"};
constexpr LogLine kTriggerUserPropertyFailed{
    10009, 1, "Cannot update user property from conditional user property. Name, origin, error"};
constexpr LogLine kTriggerUserPropertyUpdated{10010, 7, "User property updated. Name, origin, value"};
constexpr LogLine kTriggerStoreFailed{10011, 1, "Cannot update conditional user property. Name, origin, error"};

// Requests and their worker-queue steps.
constexpr LogLine kInvalidTriggerTimeout{11000, 2, "Invalid conditional user property trigger timeout"};
constexpr LogLine kInvalidTimeToLive{11001, 2, "Invalid conditional user property time to live"};
constexpr LogLine kNilProperty{11002, 2, "Cannot set nil conditional user property"};
constexpr LogLine kPrefixNotText{
    11003, 2, "Cannot query for conditional user properties. Name prefix is not a string. Class"};
constexpr LogLine kOriginNotText{11004, 2,
                                 "Cannot query for conditional user properties. Origin is not a string. Class"};
constexpr LogLine kQueryDisabled{11005, 3, "Cannot query for conditional user properties. Analytics is disabled"};
constexpr LogLine kQueryFailed{11006, 2,
                               "Cannot query for conditional user properties. Name prefix, origin, error"};
constexpr LogLine kSetDisabled{11007, 3, "Cannot set conditional user property. Analytics is disabled"};
constexpr LogLine kNilPropertyOnWorkerQueue{11008, 2, "Cannot set nil conditional user property on worker queue"};
constexpr LogLine kSetReadFailed{11009, 1, "Cannot query conditional user property. Name, origin, error"};
constexpr LogLine kOriginChanged{
    11010, 5, "Updating a conditional user property with different origin. Name, origin, saved origin"};
constexpr LogLine kSetUserPropertyFailed{
    11011, 1, "Cannot update user property from conditional user property. Name, origin, error"};
constexpr LogLine kSetUserPropertyUpdated{11012, 7, "User property updated. Name, origin"};
constexpr LogLine kStored{11013, 7, "Conditional user property added. Name, origin"};
constexpr LogLine kStoreFailed{11014, 1,
                               "Cannot insert user property from conditional user property. Name, origin, error"};
constexpr LogLine kRemoveDisabled{11015, 3, "Cannot remove conditional user property. Analytics is disabled"};
constexpr LogLine kNilRemoval{11016, 0, "Cannot remove nil conditional user property on worker queue"};
constexpr LogLine kRemoveReadFailed{11017, 1,
                                    "Cannot query conditional user property to remove. Name, origin, error"};
constexpr LogLine kRemoveUnknown{11018, 4, "Cannot remove nonexistent conditional user property. Name, origin"};
constexpr LogLine kRemoveDeleteFailed{11019, 1, "Cannot delete conditional user property. Name, origin, error"};
constexpr LogLine kRemoveUserPropertyFailed{
    11020, 1, "Cannot remove conditional user property. Failed to delete the user property. Name, origin, error"};

template <class... Contexts>
void report(GWLMonitor& monitor, const LogLine& line, const Contexts&... contexts) {
  monitor.logWithLevel(line.level, line.code, std::string(line.message),
                       std::vector<GWLLogContext>{GWLLogContext(contexts)...});
}

// Block identifiers of the three requests.
constexpr const char* kSetBlockID = "GWLConditionalUserPropertyController:88";
constexpr const char* kClearBlockID = "GWLConditionalUserPropertyController:113";
constexpr const char* kQueryBlockID = "GWLConditionalUserPropertyController:161";

bool isWithinIntervalLimits(double seconds) {
  // Written so that NaN, which compares false both ways, is outside.
  return seconds >= kGWLConditionalUserPropertyMinimumInterval &&
         seconds <= kGWLConditionalUserPropertyMaximumInterval;
}

// A failed database read that answers an object: no object and an error.
bool readFailed(const void* answer, const platform::Error& error) { return !answer && !error.domain.empty(); }

// The event a property logs: the supplied event's name and parameters, the
// property's origin, not public, no previous time.
std::shared_ptr<GWLEvent> eventForProperty(const std::shared_ptr<GWLEvent>& supplied, const std::string& origin,
                                           double timestamp) {
  if (!supplied) return nullptr;
  return GWLEvent::initWithOrigin(origin, false, supplied->name(), timestamp, 0,
                                  GWLRawParametersFromParameters(supplied->parameters()), supplied->limits());
}

std::string valueForLog(const std::optional<GWLValue>& value) {
  return value ? value->description() : std::string("(nil)");
}

// What a query's caller and its worker block share. The caller may stop
// waiting before the block has run; the block then writes here all the same,
// and the state lives on until both are done with it.
struct QueryState {
  platform::Mutex mutex;
  std::condition_variable_any answered;
  bool done ABSL_GUARDED_BY(mutex) = false;
  std::optional<GWLConditionalUserPropertyControlling::Properties> result ABSL_GUARDED_BY(mutex);
  platform::Error error ABSL_GUARDED_BY(mutex);
};

// The text of a query argument; nullopt for nil. Anything else reports `line`
// with the object's kind and refuses the query.
bool queryText(const std::optional<platform::Object>& argument, GWLMonitor& monitor, const LogLine& line,
               std::optional<std::string>& text) {
  if (!argument) return true;
  if (const std::string* string = argument->stringValue()) {
    text = *string;
    return true;
  }
  report(monitor, line, std::string(platform::typeName(argument->type())));
  return false;
}

}  // namespace

bool GWLConditionalUserPropertyIsValid(const GWLConditionalUserProperty& property, GWLMonitor& monitor) {
  if (!GWLDataTypeValidator::isValidConditionalUserPropertyOrigin(property.origin)) return false;
  if (!GWLDataTypeValidator::isValidConditionalUserPropertyName(property.name)) return false;
  if (property.value) {
    if (!GWLDataTypeValidator::isValidConditionalUserPropertyValue(&*property.value)) return false;
    // SQLite stores NaN as NULL: the property would come back without a value.
    if (property.value->isDouble() && std::isnan(property.value->doubleValue())) return false;
  }
  // Nor could an active property's triggered time be kept: as NULL it never expires.
  if (property.active && std::isnan(property.triggeredTimestamp)) return false;
  if (!isWithinIntervalLimits(property.triggerTimeout)) {
    report(monitor, kInvalidTriggerTimeout, property.triggerTimeout);
    return false;
  }
  if (!isWithinIntervalLimits(property.timeToLive)) {
    report(monitor, kInvalidTimeToLive, property.timeToLive);
    return false;
  }
  return true;
}

// ---- construction ----

std::shared_ptr<GWLConditionalUserPropertyController> GWLConditionalUserPropertyController::sharedInstance() {
  // Never destroyed: posted blocks may still reach it during exit.
  static const auto* shared = new std::shared_ptr<GWLConditionalUserPropertyController>(create({}));
  return *shared;
}

std::shared_ptr<GWLConditionalUserPropertyController> GWLConditionalUserPropertyController::create(
    Dependencies dependencies) {
  return std::shared_ptr<GWLConditionalUserPropertyController>(
      new GWLConditionalUserPropertyController(std::move(dependencies)));
}

GWLConditionalUserPropertyController::GWLConditionalUserPropertyController(Dependencies dependencies)
    : dependencies_(std::move(dependencies)) {}

std::shared_ptr<GWLMeasurementEngineCalls> GWLConditionalUserPropertyController::engine() const {
  if (dependencies_.engine) return dependencies_.engine();
  return GWLMeasurementRegistry::sharedInstance();
}

std::shared_ptr<GWLMonitor> GWLConditionalUserPropertyController::monitor() const {
  return dependencies_.monitor ? dependencies_.monitor : GWLLibraryMonitor::monitor();
}

// ---- requests (any thread) ----

void GWLConditionalUserPropertyController::setConditionalUserProperty(
    const std::shared_ptr<GWLConditionalUserProperty>& property, const std::string& name) {
  auto log = monitor();
  if (!property) {
    report(*log, kNilProperty);
    return;
  }
  auto copy = std::make_shared<GWLConditionalUserProperty>(*property);
  copy->name = name;
  if (!GWLConditionalUserPropertyIsValid(*copy, *log)) return;
  auto calls = engine();
  auto scheduler = calls ? calls->scheduler() : nullptr;
  if (!scheduler) return;
  copy->creationTimestamp = calls->now();
  std::weak_ptr<GWLConditionalUserPropertyController> weakSelf = weak_from_this();
  scheduler->scheduleOnWorkerQueueBlockID(kSetBlockID, [weakSelf, copy] {
    auto self = weakSelf.lock();
    if (!self) return;
    if (copy->value) {
      self->setConditionalUserPropertyOnWorkerQueue(copy);
    } else {
      self->removeConditionalUserPropertyOnWorkerQueue(copy);
    }
  });
}

void GWLConditionalUserPropertyController::clearConditionalUserPropertyWithClearEvent(
    const std::shared_ptr<GWLEvent>& clearEvent, const std::string& name) {
  if (!GWLDataTypeValidator::isValidConditionalUserPropertyName(name)) return;
  auto request = std::make_shared<GWLConditionalUserProperty>();
  request->name = name;
  request->expiredEvent = clearEvent;
  auto calls = engine();
  auto scheduler = calls ? calls->scheduler() : nullptr;
  if (!scheduler) return;
  std::weak_ptr<GWLConditionalUserPropertyController> weakSelf = weak_from_this();
  scheduler->scheduleOnWorkerQueueBlockID(kClearBlockID, [weakSelf, request] {
    if (auto self = weakSelf.lock()) self->removeConditionalUserPropertyOnWorkerQueue(request);
  });
}

std::optional<GWLConditionalUserPropertyControlling::Properties>
GWLConditionalUserPropertyController::conditionalUserPropertiesWithNamePrefix(
    const std::optional<platform::Object>& prefix, const std::optional<platform::Object>& origin) {
  auto log = monitor();
  std::optional<std::string> prefixText;
  std::optional<std::string> originText;
  if (!queryText(prefix, *log, kPrefixNotText, prefixText)) return std::nullopt;
  if (!queryText(origin, *log, kOriginNotText, originText)) return std::nullopt;

  auto calls = engine();
  auto scheduler = calls ? calls->scheduler() : nullptr;
  // Without a worker queue no answer can come: none is waited for.
  if (!scheduler) return std::nullopt;

  std::optional<Properties> result;
  platform::Error error;
  if (scheduler->workerQueue()->isCurrent()) {
    // Called from a worker block: waiting for a block behind this one could
    // only time out, so the query runs here.
    result = queryOnWorkerQueue(prefixText, originText, error);
  } else {
    auto state = std::make_shared<QueryState>();
    std::weak_ptr<GWLConditionalUserPropertyController> weakSelf = weak_from_this();
    scheduler->scheduleOnWorkerQueueBlockID(kQueryBlockID, [weakSelf, state, prefixText, originText] {
      std::optional<Properties> answer;
      platform::Error failure;
      if (auto self = weakSelf.lock()) answer = self->queryOnWorkerQueue(prefixText, originText, failure);
      {
        platform::MutexLock lock(state->mutex);
        state->result = std::move(answer);
        state->error = std::move(failure);
        state->done = true;
      }
      state->answered.notify_all();
    });
    const auto deadline =
        std::chrono::steady_clock::now() +
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(std::max(0.0, dependencies_.queryWaitLimit)));
    platform::MutexLock lock(state->mutex);
    // The predicate runs with the mutex held (the analysis does not follow it into the wait).
    state->answered.wait_until(state->mutex, deadline, [&]() ABSL_NO_THREAD_SAFETY_ANALYSIS { return state->done; });
    // After a time-out nothing has been answered yet: the result is nil.
    if (!state->done) return std::nullopt;
    result = std::move(state->result);
    error = std::move(state->error);
  }
  if (result) return result;
  if (!error.domain.empty()) {
    report(*log, kQueryFailed, prefixText ? GWLLogContext(*prefixText) : GWLLogContext(),
           originText ? GWLLogContext(*originText) : GWLLogContext(), error);
  }
  return std::nullopt;
}

std::optional<GWLConditionalUserPropertyControlling::Properties>
GWLConditionalUserPropertyController::queryOnWorkerQueue(const std::optional<std::string>& prefix,
                                                         const std::optional<std::string>& origin,
                                                         platform::Error& error) {
  auto calls = engine();
  if (!calls || !calls->isEnabled()) {
    report(*monitor(), kQueryDisabled);
    return std::nullopt;
  }
  auto database = calls->database();
  if (!database) return std::nullopt;
  return database->conditionalUserPropertiesWithPrefix(prefix, origin, &error);
}

// ---- worker queue ----

void GWLConditionalUserPropertyController::setConditionalUserPropertyOnWorkerQueue(
    const std::shared_ptr<GWLConditionalUserProperty>& property) {
  (void)GWLScheduler::checkOnBackgroundThreadWithMethodName("setConditionalUserPropertyOnWorkerQueue");
  auto log = monitor();
  auto calls = engine();
  if (!calls || !calls->isEnabled()) {
    report(*log, kSetDisabled);
    return;
  }
  if (!property) {
    report(*log, kNilPropertyOnWorkerQueue);
    return;
  }
  auto database = calls->database();
  if (!database) return;

  auto p = std::make_shared<GWLConditionalUserProperty>(*property);
  std::shared_ptr<GWLEvent> triggeredEvent;
  const bool committed = database->performTransaction([&] {
    triggeredEvent.reset();
    const std::string nameForLog = GWLUserPropertyNameForLog(p->name);
    platform::Error error;
    auto stored = database->conditionalUserPropertyWithName(p->name, &error);
    if (readFailed(stored.get(), error)) {
      report(*log, kSetReadFailed, nameForLog, p->origin, error);
      return false;
    }
    bool activatedNow = false;
    if (stored && stored->origin != p->origin) report(*log, kOriginChanged, nameForLog, p->origin, stored->origin);
    if (stored && stored->active) {
      // An active property keeps who set it first, when and by which trigger.
      p->origin = stored->origin;
      p->creationTimestamp = stored->creationTimestamp;
      p->triggerEventName = stored->triggerEventName;
      p->triggeredEvent = stored->triggeredEvent;
      p->triggerTimeout = stored->triggerTimeout;
    } else if (p->triggerEventName.empty()) {
      p->active = true;
      p->triggeredTimestamp = p->creationTimestamp;
      activatedNow = true;
    }
    if (p->active) {
      auto attribute =
          p->value ? GWLUserAttribute::initWithOrigin(p->origin, p->name, *p->value, p->triggeredTimestamp) : nullptr;
      platform::Error attributeError;
      if (database->updateUserAttribute(attribute, &attributeError)) {
        report(*log, kSetUserPropertyUpdated, nameForLog, p->origin);
      } else {
        // The property is stored as active all the same.
        report(*log, kSetUserPropertyFailed, nameForLog, p->origin, attributeError);
      }
      if (activatedNow) triggeredEvent = eventForProperty(p->triggeredEvent, p->origin, p->triggeredTimestamp);
    }
    if (stored && stored->active) {
      p->active = stored->active;
      p->triggeredTimestamp = stored->triggeredTimestamp;
    }
    platform::Error storeError;
    if (!database->updateConditionalUserProperty(p, &storeError)) {
      // Without its row nothing would ever end the user property written
      // above: the whole step is undone and no event goes out.
      report(*log, kStoreFailed, nameForLog, p->origin, storeError);
      return false;
    }
    report(*log, kStored, nameForLog, p->origin);
    return true;
  });
  if (committed && triggeredEvent) calls->writeEventOnWorkerQueue(triggeredEvent);
}

void GWLConditionalUserPropertyController::removeConditionalUserPropertyOnWorkerQueue(
    const std::shared_ptr<GWLConditionalUserProperty>& request) {
  (void)GWLScheduler::checkOnBackgroundThreadWithMethodName("removeConditionalUserPropertyOnWorkerQueue:");
  auto log = monitor();
  auto calls = engine();
  if (!calls || !calls->isEnabled()) {
    report(*log, kRemoveDisabled);
    return;
  }
  if (!request) {
    report(*log, kNilRemoval);
    return;
  }
  auto database = calls->database();
  if (!database) return;

  std::shared_ptr<GWLEvent> clearEvent;
  const bool committed = database->performTransaction([&] {
    clearEvent.reset();
    const std::string nameForLog = GWLUserPropertyNameForLog(request->name);
    platform::Error error;
    auto stored = database->conditionalUserPropertyWithName(request->name, &error);
    if (readFailed(stored.get(), error)) {
      report(*log, kRemoveReadFailed, nameForLog, request->origin, error);
      return false;
    }
    if (!stored) {
      report(*log, kRemoveUnknown, nameForLog, request->origin);
      return true;
    }
    if (!database->deleteConditionalUserPropertyWithName(request->name, &error)) {
      report(*log, kRemoveDeleteFailed, nameForLog, stored->origin, error);
      return false;
    }
    if (stored->active && !database->deleteUserAttributeWithName(request->name, &error)) {
      report(*log, kRemoveUserPropertyFailed, nameForLog, stored->origin, error);
      return false;
    }
    clearEvent = eventForProperty(request->expiredEvent, stored->origin, calls->now());
    return true;
  });
  if (committed && clearEvent) calls->writeEventOnWorkerQueue(clearEvent);
}

std::optional<GWLConditionalUserPropertyControlling::Events>
GWLConditionalUserPropertyController::processEventOnWorkerQueue(const std::shared_ptr<GWLEvent>& event) {
  (void)GWLScheduler::checkOnBackgroundThreadWithMethodName("processEventOnWorkerQueue:");
  if (!event) {
    report(*monitor(), kNilEvent);
    return std::nullopt;
  }
  auto calls = engine();
  auto database = calls ? calls->database() : nullptr;
  if (!database) return std::nullopt;

  Events ended;
  std::optional<Events> triggered;
  const bool committed = database->performTransaction([&] {
    ended.clear();
    triggered.reset();
    if (!removeTimedOutCUPWithTimedOutEvents(ended)) return false;
    if (!removeExpiredCUPWithExpiredEvents(ended)) return false;
    triggered = updateConditionalUserPropertiesWithEventNameOnWorkerQueue(event->name());
    return triggered.has_value();
  });
  if (!committed) return std::nullopt;
  for (const auto& endedEvent : ended) calls->writeFilteredEventOnWorkerQueue(endedEvent);
  return triggered;
}

bool GWLConditionalUserPropertyController::removeTimedOutCUPWithTimedOutEvents(Events& events) {
  (void)GWLScheduler::checkOnBackgroundThreadWithMethodName("removeTimedOutCUPWithTimedOutEvents:");
  auto log = monitor();
  auto calls = engine();
  auto database = calls ? calls->database() : nullptr;
  if (!database) return false;
  platform::Error error;
  auto timedOut = database->timedOutConditionalUserPropertiesWithError(&error);
  if (!timedOut) {
    report(*log, kTimedOutQueryFailed, error);
    return false;
  }
  Events built;
  for (const auto& property : *timedOut) {
    const std::string nameForLog = GWLUserPropertyNameForLog(property->name);
    report(*log, kTimedOut, nameForLog);
    if (!database->deleteConditionalUserPropertyWithName(property->name, &error)) {
      report(*log, kTimedOutDeleteFailed, nameForLog, error);
      return false;
    }
    if (auto event = eventForProperty(property->timedOutEvent, property->origin, calls->now())) {
      built.push_back(std::move(event));
    }
  }
  events.insert(events.end(), built.begin(), built.end());
  return true;
}

bool GWLConditionalUserPropertyController::removeExpiredCUPWithExpiredEvents(Events& events) {
  (void)GWLScheduler::checkOnBackgroundThreadWithMethodName("removeExpiredCUPWithExpiredEvents:");
  auto log = monitor();
  auto calls = engine();
  auto database = calls ? calls->database() : nullptr;
  if (!database) return false;
  platform::Error error;
  auto expired = database->expiredConditionalUserPropertiesWithError(&error);
  if (!expired) {
    report(*log, kExpiredQueryFailed, error);
    return false;
  }
  Events built;
  for (const auto& property : *expired) {
    const std::string nameForLog = GWLUserPropertyNameForLog(property->name);
    report(*log, kExpired, nameForLog,
           property->expiredEvent ? GWLLogContext(GWLEventNameForLog(property->expiredEvent->name()))
                                  : GWLLogContext());
    if (!database->deleteUserAttributeWithName(property->name, &error)) {
      report(*log, kExpiredUserPropertyDeleteFailed, nameForLog, property->origin, error);
      return false;
    }
    if (!database->deleteConditionalUserPropertyWithName(property->name, &error)) {
      report(*log, kExpiredDeleteFailed, nameForLog, error);
      return false;
    }
    if (auto event = eventForProperty(property->expiredEvent, property->origin, calls->now())) {
      built.push_back(std::move(event));
    }
  }
  events.insert(events.end(), built.begin(), built.end());
  return true;
}

std::optional<GWLConditionalUserPropertyControlling::Events>
GWLConditionalUserPropertyController::updateConditionalUserPropertiesWithEventNameOnWorkerQueue(
    const std::string& eventName) {
  (void)GWLScheduler::checkOnBackgroundThreadWithMethodName(
      "updateConditionalUserPropertiesBasedOnEventNameOnWorkerQueue:");
  auto log = monitor();
  auto calls = engine();
  auto database = calls ? calls->database() : nullptr;
  if (!database) return std::nullopt;
  platform::Error error;
  auto triggered = database->triggeredConditionalUserPropertiesWithEventName(eventName, &error);
  if (!triggered) {
    report(*log, kTriggerQueryFailed, GWLEventNameForLog(eventName), error);
    return std::nullopt;
  }
  if (triggered->empty()) {
    // "ad_impression" also triggers what waits for "_ai", when nothing waits
    // for the public name itself.
    const auto& alternatives = GWLAllowedReservedEventNameMap();
    if (auto alternative = alternatives.find(eventName); alternative != alternatives.end()) {
      auto other = database->triggeredConditionalUserPropertiesWithEventName(alternative->second, &error);
      if (other) triggered = std::move(other);
    }
  }
  Events events;
  for (const auto& property : *triggered) {
    const double now = calls->now();
    const std::string nameForLog = GWLUserPropertyNameForLog(property->name);
    auto attribute = property->value
                         ? GWLUserAttribute::initWithOrigin(property->origin, property->name, *property->value, now)
                         : nullptr;
    platform::Error attributeError;
    if (database->updateUserAttribute(attribute, &attributeError)) {
      report(*log, kTriggerUserPropertyUpdated, nameForLog, property->origin, valueForLog(property->value));
    } else {
      // The property becomes active all the same.
      report(*log, kTriggerUserPropertyFailed, nameForLog, property->origin, attributeError);
    }
    if (auto event = eventForProperty(property->triggeredEvent, property->origin, now)) {
      events.push_back(std::move(event));
    }
    property->active = true;
    property->triggeredTimestamp = now;
    platform::Error storeError;
    if (!database->updateConditionalUserProperty(property, &storeError)) {
      report(*log, kTriggerStoreFailed, nameForLog, property->origin, storeError);
      return std::nullopt;
    }
  }
  return events;
}
