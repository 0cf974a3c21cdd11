// GWLPFunctionEvaluator: runs every statement whose name no command
// evaluator holds, as a call of the script function bound to that name in
// the scope chain. Any other value, or no binding, answers undefined.
#pragma once

#include "analytics/audiences/interpreter/GWLPCommandEvaluator.h"

class GWLPFunctionEvaluator : public GWLPCommandEvaluator {
 public:
  GWLPValueRef evaluateCommand(const std::string& command, const GWLPValueList& arguments, const GWLPScopeRef& scope,
                               platform::Error* error = nullptr) override;
};
