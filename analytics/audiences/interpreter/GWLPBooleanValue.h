// GWLPBooleanValue: true or false. Two shared instances come from
// booleanValueWithBool; further instances behave alike.
#pragma once

#include "analytics/audiences/interpreter/GWLPRuntimeValue.h"

class GWLPBooleanValue final : public GWLPRuntimeValue {
 public:
  explicit GWLPBooleanValue(bool value) : value_(value) {}
  static GWLPValueRef booleanValueWithBool(bool value);

  bool value() const { return value_; }

  GWLPValueKind valueKind() const override { return GWLPValueKind::Boolean; }
  std::string stringValueOrError(platform::Error* error = nullptr) const override;
  double doubleValueOrError(platform::Error* error = nullptr) const override;
  bool booleanValueOrError(platform::Error* error = nullptr) const override;
  using GWLPRuntimeValue::isEqualToRuntimeValue;
  bool isEqualToRuntimeValue(const GWLPRuntimeValue& other, GWLPEqualityContext& context) const override;

 private:
  bool value_;
};
