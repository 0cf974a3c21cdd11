#include "analytics/audiences/interpreter/GWLPBooleanValue.h"

const GWLPValueRef& GWLPBooleanValue::booleanValueWithBool(bool value) {
  static const GWLPValueRef trueValue = std::make_shared<GWLPBooleanValue>(true);
  static const GWLPValueRef falseValue = std::make_shared<GWLPBooleanValue>(false);
  return value ? trueValue : falseValue;
}

std::string GWLPBooleanValue::stringValueOrError(platform::Error*) const { return value_ ? "true" : "false"; }

double GWLPBooleanValue::doubleValueOrError(platform::Error*) const { return value_ ? 1 : 0; }

bool GWLPBooleanValue::booleanValueOrError(platform::Error*) const { return value_; }

bool GWLPBooleanValue::isEqualToRuntimeValue(const GWLPRuntimeValue& other, GWLPEqualityContext&) const {
  if (this == &other) return true;
  return other.valueKind() == GWLPValueKind::Boolean && static_cast<const GWLPBooleanValue&>(other).value_ == value_;
}
