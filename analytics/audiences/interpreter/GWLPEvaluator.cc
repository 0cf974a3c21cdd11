#include "analytics/audiences/interpreter/GWLPEvaluator.h"

#include "analytics/audiences/interpreter/GWLPCommandRegistrar.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"

GWLPValueRef GWLPEvaluator::evaluateStatement(const GWLPValueRef& value, const GWLPScopeRef& scope,
                                              platform::Error* error) {
  return GWLPCommandRegistrar::sharedInstance().evaluateStatement(value, scope, error);
}

GWLPValueRef GWLPEvaluator::executeStatements(const GWLPValueList& statements, const GWLPScopeRef& scope,
                                              platform::Error* error) {
  GWLPErrorOut out(error);
  GWLPValueRef result = GWLPUndefinedValue::sharedInstance();
  for (const auto& statement : statements) {
    result = evaluateStatement(statement, scope, out);
    if (out.failed()) return GWLPUndefinedValue::sharedInstance();
    if (result->isControl()) return result;
  }
  return result;
}
