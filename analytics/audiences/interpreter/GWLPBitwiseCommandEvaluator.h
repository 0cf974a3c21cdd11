// GWLPBitwiseCommandEvaluator: the evaluator of the bitwise and shift commands, routed by
// command number.
#pragma once

#include "analytics/audiences/interpreter/GWLPHandlerCommandEvaluator.h"

class GWLPBitwiseCommandEvaluator : public GWLPHandlerCommandEvaluator {
 public:
  GWLPBitwiseCommandEvaluator();
};
