// GWLPEvaluator: evaluates one statement, or executes a statement list that
// ends early at the first failure or control value.
#pragma once

#include "analytics/audiences/interpreter/GWLPRuntimeValue.h"

class GWLPEvaluator {
 public:
  // The statement's result, or the value itself when it is no statement.
  static GWLPValueRef evaluateStatement(const GWLPValueRef& value, const GWLPScopeRef& scope,
                                        platform::Error* error = nullptr);
  // Runs the values in order in `scope` (never a new scope): the value of the
  // last one, the first control value met, or undefined on error.
  static GWLPValueRef executeStatements(const GWLPValueList& statements, const GWLPScopeRef& scope,
                                        platform::Error* error = nullptr);
};
