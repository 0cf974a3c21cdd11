// GWLPRegisterCallbackNativeFunctionValue: the module
// "internal.registerCallback", a function of three arguments (label,
// callback, options) that registers an editing rule. The options object
// names the rule's "type" ("edit" or "create", editing error 2 when absent)
// and optionally its "priority" (a number, GWLPToInt32; 1000 when absent).
// The label is evaluated and not used. Answers undefined.
#pragma once

#include <memory>

#include "analytics/audiences/interpreter/GWLPFunctionValue.h"

class GWLPEditingCallbackHandler;

inline constexpr const char* kGWLPRegisterCallbackModuleName = "internal.registerCallback";

class GWLPRegisterCallbackNativeFunctionValue : public GWLPFunctionValue {
 public:
  explicit GWLPRegisterCallbackNativeFunctionValue(std::shared_ptr<GWLPEditingCallbackHandler> callbackHandler);

  // Exactly three arguments (error 9); a callback that is no function or
  // options that are no object fail with error 10; the registry's errors
  // pass through.
  GWLPValueRef invokeWithArguments(const GWLPValueList& arguments, const GWLPScopeRef& scope,
                                   platform::Error* error = nullptr) override;

 private:
  std::shared_ptr<GWLPEditingCallbackHandler> callbackHandler_;
};
