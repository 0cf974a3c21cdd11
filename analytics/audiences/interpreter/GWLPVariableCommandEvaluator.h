// GWLPVariableCommandEvaluator: the evaluator of the variable, property and literal commands, routed by
// command number.
#pragma once

#include "analytics/audiences/interpreter/GWLPHandlerCommandEvaluator.h"

class GWLPVariableCommandEvaluator : public GWLPHandlerCommandEvaluator {
 public:
  GWLPVariableCommandEvaluator();
};
