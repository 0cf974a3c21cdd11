#include "analytics/audiences/interpreter/GWLPComparisonCommandEvaluator.h"

GWLPComparisonCommandEvaluator::GWLPComparisonCommandEvaluator()
    : GWLPHandlerCommandEvaluator({"12", "18", "19", "20", "21", "23", "24", "29"}, GWLPArgumentStyle::TwoValues) {}
