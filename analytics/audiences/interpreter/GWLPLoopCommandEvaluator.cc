#include "analytics/audiences/interpreter/GWLPLoopCommandEvaluator.h"

GWLPLoopCommandEvaluator::GWLPLoopCommandEvaluator()
    : GWLPHandlerCommandEvaluator({"42", "47", "54", "55", "63", "64", "65", "66"}, GWLPArgumentStyle::Statements) {}
