#include "analytics/audiences/interpreter/GWLPControlCommandEvaluator.h"

GWLPControlCommandEvaluator::GWLPControlCommandEvaluator()
    : GWLPHandlerCommandEvaluator({"2", "4", "5", "6", "9", "13", "22", "36", "38", "39", "46", "50", "51", "53"},
                                  GWLPArgumentStyle::Statements) {}
