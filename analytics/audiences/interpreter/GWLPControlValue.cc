#include "analytics/audiences/interpreter/GWLPControlValue.h"

#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"

GWLPControlValue::GWLPControlValue(std::string type, GWLPValueRef data)
    : GWLPRuntimeValue(GWLPValueKind::Control),
      type_(std::move(type)),
      data_(data ? std::move(data) : GWLPUndefinedValue::sharedInstance()) {}

GWLPControlValue::~GWLPControlValue() { GWLPDeferRelease(std::move(data_)); }

const GWLPValueRef& GWLPControlValue::breakValue() {
  static const GWLPValueRef instance = std::make_shared<GWLPControlValue>(kGWLPControlTypeBreak, nullptr);
  return instance;
}

const GWLPValueRef& GWLPControlValue::continueValue() {
  static const GWLPValueRef instance = std::make_shared<GWLPControlValue>(kGWLPControlTypeContinue, nullptr);
  return instance;
}

GWLPValueRef GWLPControlValue::returnValueWithData(GWLPValueRef data) {
  return std::make_shared<GWLPControlValue>(kGWLPControlTypeReturn, std::move(data));
}

bool GWLPControlValue::isEqualToRuntimeValue(const GWLPRuntimeValue& other, GWLPEqualityContext& context) const {
  if (this == &other) return true;
  if (other.valueKind() != GWLPValueKind::Control) return false;
  const auto& control = static_cast<const GWLPControlValue&>(other);
  return control.type_ == type_ && data_->isEqualToRuntimeValue(*control.data_, context);
}
