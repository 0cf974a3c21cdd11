// GWLPUndefinedValue: the script's undefined, one shared instance.
#pragma once

#include <memory>

#include "analytics/audiences/interpreter/GWLPRuntimeValue.h"

class GWLPUndefinedValue final : public GWLPRuntimeValue {
 public:
  GWLPUndefinedValue() : GWLPRuntimeValue(GWLPValueKind::Undefined) {}
  static const GWLPValueRef& sharedInstance() {
    static const GWLPValueRef instance = std::make_shared<GWLPUndefinedValue>();
    return instance;
  }

  std::string stringValueOrError(platform::Error* error = nullptr) const override;
  double doubleValueOrError(platform::Error* error = nullptr) const override;
  bool booleanValueOrError(platform::Error* error = nullptr) const override;
  GWLPValueRef applyWithName(const std::string& name, const GWLPValueList& arguments, const GWLPScopeRef& scope,
                             platform::Error* error = nullptr) override;
  using GWLPRuntimeValue::isEqualToRuntimeValue;
  bool isEqualToRuntimeValue(const GWLPRuntimeValue& other, GWLPEqualityContext& context) const override;
};
