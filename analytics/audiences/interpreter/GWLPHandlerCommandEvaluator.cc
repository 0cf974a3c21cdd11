#include "analytics/audiences/interpreter/GWLPHandlerCommandEvaluator.h"

#include "analytics/audiences/interpreter/GWLPArguments.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"

GWLPValueRef GWLPHandlerCommandEvaluator::evaluateCommand(const std::string& command, const GWLPValueList& arguments,
                                                          const GWLPScopeRef& scope, platform::Error* error) {
  GWLPErrorOut out(error);
  if (style_ == GWLPArgumentStyle::TwoValues && !GWLPCheckArgumentCount(arguments, 2, out)) {
    return GWLPUndefinedValue::sharedInstance();
  }
  auto it = handlers_.find(command);
  if (it == handlers_.end()) return GWLPUndefinedValue::sharedInstance();
  if (style_ == GWLPArgumentStyle::Statements) return it->second(arguments, scope, out);
  GWLPValueList values = GWLPEvaluateArguments(arguments, scope, out);
  if (out.failed()) return GWLPUndefinedValue::sharedInstance();
  return it->second(values, scope, out);
}
