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

namespace {

// An emptied return value ready for the next return on this thread. Its data
// is none while it waits, so that releasing it at thread exit releases
// nothing else.
thread_local std::shared_ptr<GWLPControlValue> spareReturnValue;

}  // namespace

GWLPValueRef GWLPControlValue::returnValueWithData(GWLPValueRef data) {
  if (!spareReturnValue) return std::make_shared<GWLPControlValue>(kGWLPControlTypeReturn, std::move(data));
  std::shared_ptr<GWLPControlValue> value = std::move(spareReturnValue);
  value->data_ = data ? std::move(data) : GWLPUndefinedValue::sharedInstance();
  return value;
}

GWLPValueRef GWLPControlValue::takeReturnData(GWLPValueRef result) {
  auto& control = static_cast<GWLPControlValue&>(*result);
  if (result.use_count() != 1 || spareReturnValue) return control.data_;
  GWLPValueRef data = std::move(control.data_);
  control.data_ = nullptr;
  spareReturnValue = std::static_pointer_cast<GWLPControlValue>(std::move(result));
  return data;
}

bool GWLPControlValue::isEqualToRuntimeValue(const GWLPRuntimeValue& other, GWLPEqualityContext& context) const {
  if (this == &other) return true;
  if (other.valueKind() != GWLPValueKind::Control) return false;
  const auto& control = static_cast<const GWLPControlValue&>(other);
  return control.type_ == type_ && data_->isEqualToRuntimeValue(*control.data_, context);
}
