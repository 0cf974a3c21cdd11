// GWLPVariableCommandEvaluator: the evaluator of the variable, property and literal commands, routed by
// command number.
#pragma once

#include "analytics/audiences/interpreter/GWLPHandlerCommandEvaluator.h"

class GWLPVariableCommandEvaluator : public GWLPHandlerCommandEvaluator {
 public:
  GWLPVariableCommandEvaluator();
};

// The handler of getVariable: (name) -> the nearest declaration's value. A
// statement whose route ends here and whose name is a literal text reads the
// variable without running the handler (GWLPStatementValue::variableName).
GWLPValueRef GWLPGetVariable(GWLPValueSpan values, const GWLPScopeRef& scope, platform::Error* error);
