#include "analytics/audiences/interpreter/GWLPLogicalCommandEvaluator.h"

#include "analytics/audiences/interpreter/GWLPArguments.h"
#include "analytics/audiences/interpreter/GWLPBooleanValue.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPEvaluator.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"

namespace {

// Short-circuit: the first value itself when its boolean value is
// `stopWhen`, else the value of the second statement.
GWLPCommandHandler shortCircuit(bool stopWhen) {
  return [stopWhen](const GWLPValueList& statements, const GWLPScopeRef& scope,
                    platform::Error* error) -> GWLPValueRef {
    GWLPErrorOut out(error);
    if (!GWLPCheckArgumentCount(statements, 2, out)) return GWLPUndefinedValue::sharedInstance();
    GWLPValueRef first = GWLPEvaluator::evaluateStatement(statements[0], scope, out);
    if (out.failed()) return GWLPUndefinedValue::sharedInstance();
    bool truth = first->booleanValueOrError(out);
    if (out.failed()) return GWLPUndefinedValue::sharedInstance();
    if (truth == stopWhen) return first;
    GWLPValueRef second = GWLPEvaluator::evaluateStatement(statements[1], scope, out);
    return out.failed() ? GWLPUndefinedValue::sharedInstance() : second;
  };
}

}  // namespace

GWLPLogicalCommandEvaluator::GWLPLogicalCommandEvaluator()
    : GWLPHandlerCommandEvaluator({"1", "28", "30"}, GWLPArgumentStyle::Statements) {
  handlers_["1"] = shortCircuit(false);
  handlers_["30"] = shortCircuit(true);
  handlers_["28"] = [](const GWLPValueList& statements, const GWLPScopeRef& scope,
                       platform::Error* error) -> GWLPValueRef {
    GWLPErrorOut out(error);
    if (!GWLPCheckArgumentCount(statements, 1, out)) return GWLPUndefinedValue::sharedInstance();
    GWLPValueRef value = GWLPEvaluator::evaluateStatement(statements[0], scope, out);
    if (out.failed()) return GWLPUndefinedValue::sharedInstance();
    bool truth = value->booleanValueOrError(out);
    if (out.failed()) return GWLPUndefinedValue::sharedInstance();
    return GWLPBooleanValue::booleanValueWithBool(!truth);
  };
}
