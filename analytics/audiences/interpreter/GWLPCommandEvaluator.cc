#include "analytics/audiences/interpreter/GWLPCommandEvaluator.h"

#include "analytics/audiences/interpreter/GWLPStatementValue.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"

GWLPValueRef GWLPCommandEvaluator::evaluateCommand(const std::string&, const GWLPValueList&, const GWLPScopeRef&,
                                                   platform::Error*) {
  return GWLPUndefinedValue::sharedInstance();
}

GWLPValueRef GWLPCommandEvaluator::evaluateStatement(const GWLPStatementValue& statement, const GWLPScopeRef& scope,
                                                     platform::Error* error) {
  return evaluateCommand(statement.functionName(), statement.arguments(), scope, error);
}
