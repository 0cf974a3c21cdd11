#include "analytics/audiences/interpreter/GWLPFunctionEvaluator.h"

#include "analytics/audiences/interpreter/GWLPFunctionValue.h"
#include "analytics/audiences/interpreter/GWLPScope.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"

GWLPValueRef GWLPFunctionEvaluator::evaluateCommand(const std::string& command, const GWLPValueList& arguments,
                                                    const GWLPScopeRef& scope, platform::Error* error) {
  if (!scope) return GWLPUndefinedValue::sharedInstance();
  GWLPValueRef value = scope->valueForName(command);
  if (!value->isFunction()) return GWLPUndefinedValue::sharedInstance();
  return std::static_pointer_cast<GWLPFunctionValue>(value)->invokeWithArguments(arguments, scope, error);
}
