#include "analytics/foundation/values/GWLScreen.h"

#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/values/GWLDataTypeValidator.h"
#include "analytics/foundation/values/GWLEventParameters.h"

namespace {
constexpr int64_t kWarningLevel = 3;
}  // namespace

GWLParameters GWLScreenParameters(const GWLScreen& screen, const GWLValueLimits& limits, GWLMonitor& monitor) {
  GWLParameters parameters;
  parameters.emplace(kGWLScreenIDParameter, GWLValue::initWithInt64(screen.instanceID()));

  const std::optional<std::string>& className = screen.className();
  if (!className || className->empty()) {
    monitor.logWithLevel(kWarningLevel, kGWLScreenClassEmptyCode, kGWLScreenClassEmptyMessage);
  }
  GWLDataTypeValidator::FailureCode failure = kGWLValidatorFailureNone;
  if (!GWLDataTypeValidator::isValidScreenParameterValue(className, limits, &failure)) {
    monitor.logWithLevel(kWarningLevel, kGWLScreenClassInvalidCode, kGWLScreenClassInvalidMessage,
                         static_cast<int64_t>(failure));
    return parameters;
  }
  parameters.emplace(kGWLScreenClassParameter, *GWLValue::initWithString(*className));

  const std::optional<std::string>& name = screen.name();
  if (name && GWLDataTypeValidator::isValidScreenParameterValue(*name, limits)) {
    parameters.emplace(kGWLScreenNameParameter, *GWLValue::initWithString(*name));
  }
  return parameters;
}
