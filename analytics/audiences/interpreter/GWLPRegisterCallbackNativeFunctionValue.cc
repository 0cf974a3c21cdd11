#include "analytics/audiences/interpreter/GWLPRegisterCallbackNativeFunctionValue.h"

#include "analytics/audiences/interpreter/GWLPArguments.h"
#include "analytics/audiences/interpreter/GWLPEditingCallbackHandler.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPMapValue.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"
#include "analytics/audiences/interpreter/GWLPValueOperations.h"

namespace {

constexpr const char* kTypeOption = "type";
constexpr const char* kPriorityOption = "priority";

}  // namespace

GWLPRegisterCallbackNativeFunctionValue::GWLPRegisterCallbackNativeFunctionValue(
    std::shared_ptr<GWLPEditingCallbackHandler> callbackHandler)
    : GWLPFunctionValue(kGWLPRegisterCallbackModuleName), callbackHandler_(std::move(callbackHandler)) {}

GWLPValueRef GWLPRegisterCallbackNativeFunctionValue::invokeWithArguments(const GWLPValueList& arguments,
                                                                          const GWLPScopeRef& scope,
                                                                          platform::Error* error) {
  GWLPErrorOut out(error);
  const GWLPValueRef& undefined = GWLPUndefinedValue::sharedInstance();
  if (!GWLPCheckArgumentCount(arguments, 3, out)) return undefined;
  GWLPValueList values = GWLPEvaluateArguments(arguments, scope, out);
  if (out.failed()) return undefined;
  if (!values[1]->isFunction() || !values[2]->isMap()) {
    out.fail(kGWLPErrorArgumentType);
    return undefined;
  }
  const auto& options = static_cast<const GWLPMapValue&>(*values[2]);
  if (!options.hasProperty(kTypeOption)) {
    out.fail(GWLPEditingError(kGWLPEditingErrorMissingRuleType));
    return undefined;
  }
  std::string ruleType = options.valueForProperty(kTypeOption)->stringValueOrError(out);
  if (out.failed()) return undefined;
  int64_t priority = kGWLPDefaultRulePriority;
  if (options.hasProperty(kPriorityOption)) {
    double number = options.valueForProperty(kPriorityOption)->doubleValueOrError(out);
    if (out.failed()) return undefined;
    priority = GWLPToInt32(number);
  }
  if (!callbackHandler_) return undefined;
  callbackHandler_->registerWithPriority(priority, std::static_pointer_cast<GWLPFunctionValue>(values[1]), ruleType,
                                         out);
  return undefined;
}
