#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"

#include <cmath>

#include "analytics/audiences/interpreter/GWLPErrors.h"

std::string GWLPUndefinedValue::stringValueOrError(platform::Error*) const { return "undefined"; }

double GWLPUndefinedValue::doubleValueOrError(platform::Error*) const { return std::nan(""); }

bool GWLPUndefinedValue::booleanValueOrError(platform::Error*) const { return false; }

GWLPValueRef GWLPUndefinedValue::applyWithName(const std::string&, const GWLPValueList&, const GWLPScopeRef&,
                                               platform::Error* error) {
  platform::setError(error, GWLPRuntimeError(kGWLPErrorMethodOfNullOrUndefined));
  return sharedInstance();
}

bool GWLPUndefinedValue::isEqualToRuntimeValue(const GWLPRuntimeValue& other, GWLPEqualityContext&) const {
  return other.valueKind() == GWLPValueKind::Undefined;
}
