#include "analytics/audiences/interpreter/GWLPNullValue.h"

#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"

const GWLPValueRef& GWLPNullValue::sharedInstance() {
  static const GWLPValueRef instance = std::make_shared<GWLPNullValue>();
  return instance;
}

std::string GWLPNullValue::stringValueOrError(platform::Error*) const { return "null"; }

double GWLPNullValue::doubleValueOrError(platform::Error*) const { return 0; }

bool GWLPNullValue::booleanValueOrError(platform::Error*) const { return false; }

GWLPValueRef GWLPNullValue::applyWithName(const std::string&, const GWLPValueList&, const GWLPScopeRef&,
                                          platform::Error* error) {
  platform::setError(error, GWLPRuntimeError(kGWLPErrorMethodOfNullOrUndefined));
  return GWLPUndefinedValue::sharedInstance();
}

bool GWLPNullValue::isEqualToRuntimeValue(const GWLPRuntimeValue& other, GWLPEqualityContext&) const {
  return other.valueKind() == GWLPValueKind::Null;
}
