// GWLPLoopCommandEvaluator: the evaluator of the loop commands, routed by
// command number.
#pragma once

#include "analytics/audiences/interpreter/GWLPHandlerCommandEvaluator.h"

class GWLPLoopCommandEvaluator : public GWLPHandlerCommandEvaluator {
 public:
  GWLPLoopCommandEvaluator();
};
