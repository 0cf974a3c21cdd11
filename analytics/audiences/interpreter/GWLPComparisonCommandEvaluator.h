// GWLPComparisonCommandEvaluator: the evaluator of the equality and ordering commands, routed by
// command number.
#pragma once

#include "analytics/audiences/interpreter/GWLPHandlerCommandEvaluator.h"

class GWLPComparisonCommandEvaluator : public GWLPHandlerCommandEvaluator {
 public:
  GWLPComparisonCommandEvaluator();
};
