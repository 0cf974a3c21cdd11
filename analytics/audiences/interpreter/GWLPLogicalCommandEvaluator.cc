#include "analytics/audiences/interpreter/GWLPLogicalCommandEvaluator.h"

#include "analytics/audiences/interpreter/GWLPArguments.h"
#include "analytics/audiences/interpreter/GWLPBooleanValue.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPEvaluator.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"

namespace {

// Short-circuit: the first value itself when its boolean value is
// `StopWhen`, else the value of the second statement.
template <bool StopWhen>
GWLPValueRef shortCircuit(GWLPValueSpan statements, const GWLPScopeRef& scope, platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckArgumentCount(statements, 2, out)) return GWLPUndefinedValue::sharedInstance();
  GWLPValueRef first = GWLPEvaluate(statements[0], scope, out);
  if (out.failed()) return GWLPUndefinedValue::sharedInstance();
  bool truth = first->booleanValueOrError(out);
  if (out.failed()) return GWLPUndefinedValue::sharedInstance();
  if (truth == StopWhen) return first;
  GWLPValueRef second = GWLPEvaluate(statements[1], scope, out);
  return out.failed() ? GWLPUndefinedValue::sharedInstance() : second;
}

GWLPValueRef logicalNot(GWLPValueSpan statements, const GWLPScopeRef& scope, platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckArgumentCount(statements, 1, out)) return GWLPUndefinedValue::sharedInstance();
  GWLPValueRef value = GWLPEvaluate(statements[0], scope, out);
  if (out.failed()) return GWLPUndefinedValue::sharedInstance();
  bool truth = value->booleanValueOrError(out);
  if (out.failed()) return GWLPUndefinedValue::sharedInstance();
  return GWLPBooleanValue::booleanValueWithBool(!truth);
}

}  // namespace

GWLPLogicalCommandEvaluator::GWLPLogicalCommandEvaluator()
    : GWLPHandlerCommandEvaluator(GWLPCommandEvaluatorKind::Logical, GWLPArgumentStyle::Statements) {
  setHandler(GWLPCommand::LogicalAnd, shortCircuit<false>);
  setHandler(GWLPCommand::LogicalOr, shortCircuit<true>);
  setHandler(GWLPCommand::LogicalNot, logicalNot);
}
