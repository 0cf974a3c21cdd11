#include "analytics/audiences/interpreter/GWLPRuntimeValue.h"

#include <cmath>

#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPStringValue.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"

std::string GWLPRuntimeValue::stringValueOrError(platform::Error* error) const {
  platform::setError(error, GWLPRuntimeError(kGWLPErrorNoStringValue));
  return {};
}

double GWLPRuntimeValue::doubleValueOrError(platform::Error* error) const {
  platform::setError(error, GWLPRuntimeError(kGWLPErrorNoNumberValue));
  return std::nan("");
}

bool GWLPRuntimeValue::booleanValueOrError(platform::Error* error) const {
  platform::setError(error, GWLPRuntimeError(kGWLPErrorNoBooleanValue));
  return false;
}

GWLPValueRef GWLPRuntimeValue::toStringMethod(const GWLPValueList&, const GWLPScopeRef&,
                                              platform::Error* error) const {
  GWLPErrorOut out(error);
  std::string text = stringValueOrError(out);
  if (out.failed()) return GWLPUndefinedValue::sharedInstance();
  return GWLPStringValue::make(std::move(text));
}

GWLPValueRef GWLPRuntimeValue::applyWithName(const std::string& name, const GWLPValueList& arguments,
                                             const GWLPScopeRef& scope, platform::Error* error) {
  if (name == "toString") return toStringMethod(arguments, scope, error);
  platform::setError(error, GWLPRuntimeError(kGWLPErrorNoSuchMethod));
  return GWLPUndefinedValue::sharedInstance();
}

bool GWLPRuntimeValue::isEqualToRuntimeValue(const GWLPRuntimeValue& other) const {
  GWLPEqualityContext context;
  return isEqualToRuntimeValue(other, context);
}

bool GWLPRuntimeValue::isEqualToRuntimeValue(const GWLPRuntimeValue& other, GWLPEqualityContext&) const {
  return this == &other;
}
