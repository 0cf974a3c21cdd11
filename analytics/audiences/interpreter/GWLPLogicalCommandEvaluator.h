// GWLPLogicalCommandEvaluator: the evaluator of the logical commands, routed by
// command number.
#pragma once

#include "analytics/audiences/interpreter/GWLPHandlerCommandEvaluator.h"

class GWLPLogicalCommandEvaluator : public GWLPHandlerCommandEvaluator {
 public:
  GWLPLogicalCommandEvaluator();
};
