// GWLPBooleanValue: true or false. Two shared instances come from
// booleanValueWithBool; further instances behave alike.
#pragma once

#include "analytics/audiences/interpreter/GWLPRuntimeValue.h"

class GWLPBooleanValue final : public GWLPRuntimeValue {
 public:
  explicit GWLPBooleanValue(bool value) : GWLPRuntimeValue(GWLPValueKind::Boolean), value_(value) {}
  static const GWLPValueRef& booleanValueWithBool(bool value);

  bool value() const { return value_; }

  std::string stringValueOrError(platform::Error* error = nullptr) const override;
  double doubleValueOrError(platform::Error* error = nullptr) const override;
  bool booleanValueOrError(platform::Error* error = nullptr) const override;
  using GWLPRuntimeValue::isEqualToRuntimeValue;
  bool isEqualToRuntimeValue(const GWLPRuntimeValue& other, GWLPEqualityContext& context) const override;

 private:
  bool value_;
};
