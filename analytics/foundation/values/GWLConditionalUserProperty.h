// GWLConditionalUserProperty — a user property that takes effect when a
// trigger event is logged within a timeout, and lives for a given time after.
// A plain value: the conditional property controller fills it, the
// measurement database stores it. Times are seconds (since 1970 for stamps).
//
// Threads: a plain value; each holder owns its copy.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "analytics/foundation/values/GWLValue.h"

class GWLEvent;

class GWLConditionalUserProperty {
 public:
  std::string name;
  std::string origin;
  std::optional<GWLValue> value;
  std::string triggerEventName;
  double triggerTimeout = 0;
  double timeToLive = 0;
  double creationTimestamp = 0;
  double triggeredTimestamp = 0;
  std::shared_ptr<GWLEvent> triggeredEvent;
  std::shared_ptr<GWLEvent> timedOutEvent;
  std::shared_ptr<GWLEvent> expiredEvent;
  bool active = false;

  bool isActive() const { return active; }
};
