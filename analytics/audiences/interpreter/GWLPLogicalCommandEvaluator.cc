#include "analytics/audiences/interpreter/GWLPLogicalCommandEvaluator.h"

GWLPLogicalCommandEvaluator::GWLPLogicalCommandEvaluator()
    : GWLPHandlerCommandEvaluator({"1", "28", "30"}, GWLPArgumentStyle::Statements) {}
