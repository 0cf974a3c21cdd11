#include "analytics/audiences/interpreter/GWLPEventContext.h"

#include <bit>
#include <cstdint>

#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPNumberValue.h"
#include "analytics/audiences/interpreter/GWLPRuntimeEntityConverter.h"
#include "analytics/audiences/interpreter/GWLPStringValue.h"

namespace {

// Names whose values parameterValue keeps at most.
constexpr size_t kMaxParameterValues = 256;

// Whether `made`, a value made from a parameter before, is what converting
// `value` makes now: the same text, or the same number to the bit (0 and -0
// differ).
bool stillConverts(const GWLPRuntimeValue& made, const platform::Object& value) {
  if (const std::string* text = value.stringValue()) {
    return made.isString() && static_cast<const GWLPStringValue&>(made).value() == *text;
  }
  const double number = *value.numberValue();
  return made.isNumber() &&
         std::bit_cast<uint64_t>(static_cast<const GWLPNumberValue&>(made).value()) == std::bit_cast<uint64_t>(number);
}

}  // namespace

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

GWLPValueRef GWLPEventContext::parameterValue(const std::string& name, const platform::Object& value,
                                              const GWLPScopeRef& scope, platform::Error* error) {
  if (!value.isString() && !value.isNumber()) {
    return GWLPRuntimeEntityConverter::runtimeValueFromNSObject(value, scope, error);
  }
  auto found = parameterValues_.find(name);
  if (found != parameterValues_.end()) {
    if (!stillConverts(*found->second, value)) {
      found->second = GWLPRuntimeEntityConverter::runtimeValueFromNSObject(value, scope, error);
    }
    return found->second;
  }
  GWLPValueRef made = GWLPRuntimeEntityConverter::runtimeValueFromNSObject(value, scope, error);
  if (parameterValues_.size() >= kMaxParameterValues) parameterValues_.clear();
  parameterValues_.emplace(name, made);
  return made;
}
