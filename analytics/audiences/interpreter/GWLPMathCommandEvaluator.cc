#include "analytics/audiences/interpreter/GWLPMathCommandEvaluator.h"

GWLPMathCommandEvaluator::GWLPMathCommandEvaluator()
    : GWLPHandlerCommandEvaluator({"0", "10", "25", "26", "27", "32", "33", "34", "35", "37"},
                                  GWLPArgumentStyle::Values) {}
