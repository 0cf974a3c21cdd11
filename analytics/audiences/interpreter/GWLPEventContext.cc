#include "analytics/audiences/interpreter/GWLPEventContext.h"

#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPStringValue.h"

void GWLPEventContext::setInputEvent(const GWLPEvent& event) {
  inputEvent_ = event;
  outputEvent_ = event;
  eventsToLog_.clear();
}

bool GWLPEventContext::logEventWithName(std::string name, double timestamp, const platform::Dictionary& parameters,
                                        platform::Error* error) {
  if (eventsToLog_.size() >= kGWLPMaxCreatedEventsPerRun) {
    platform::setError(error, GWLPRuntimeError(kGWLPErrorResourceLimit));
    return false;
  }
  platform::Dictionary normalized;
  for (const auto& [key, value] : parameters) {
    normalized.emplace(key, GWLPNormalizedParameterValue(key, inputEvent_.parameterForName(key), value));
  }
  eventsToLog_.emplace_back(std::move(name), timestamp, std::move(normalized));
  return true;
}

const GWLPValueRef& GWLPEventContext::outputEventNameValue() {
  const std::string& name = outputEvent_.name();
  if (!outputNameValue_ || static_cast<const GWLPStringValue&>(*outputNameValue_).value() != name) {
    outputNameValue_ = GWLPStringValue::make(name);
  }
  return outputNameValue_;
}
