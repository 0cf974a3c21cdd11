// GWLPControlCommandEvaluator: the evaluator of the control commands (method
// calls, statement lists, conditionals, functions, break, continue and
// return), routed by command number.
#pragma once

#include "analytics/audiences/interpreter/GWLPHandlerCommandEvaluator.h"

class GWLPControlCommandEvaluator : public GWLPHandlerCommandEvaluator {
 public:
  GWLPControlCommandEvaluator();
  bool buildsStatementList(GWLPCommand command) const override;
};
