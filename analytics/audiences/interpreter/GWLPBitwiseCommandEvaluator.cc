#include "analytics/audiences/interpreter/GWLPBitwiseCommandEvaluator.h"

GWLPBitwiseCommandEvaluator::GWLPBitwiseCommandEvaluator()
    : GWLPHandlerCommandEvaluator({"56", "57", "58", "59", "60", "61", "62"}, GWLPArgumentStyle::Values) {}
