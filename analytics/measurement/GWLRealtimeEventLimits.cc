#include "analytics/measurement/GWLRealtimeEventLimits.h"

#include "analytics/foundation/values/GWLEvent.h"

namespace {
constexpr const char* kConsentChangeEventName = "_dcu";
}  // namespace

bool GWLIsRealtimeLimitedEvent(const GWLEvent& event) {
  const std::string& name = event.name();
  return name != "_iap" && name != "_f" && name != kConsentChangeEventName && name != "_fx";
}

bool GWLIsDCURealtimeLimitedEvent(const GWLEvent& event) { return event.name() == kConsentChangeEventName; }
