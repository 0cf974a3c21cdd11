// GWLPMathCommandEvaluator: the evaluator of the arithmetic commands, routed by
// command number.
#pragma once

#include "analytics/audiences/interpreter/GWLPHandlerCommandEvaluator.h"

class GWLPMathCommandEvaluator : public GWLPHandlerCommandEvaluator {
 public:
  GWLPMathCommandEvaluator();
};
