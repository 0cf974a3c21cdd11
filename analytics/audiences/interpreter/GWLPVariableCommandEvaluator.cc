#include "analytics/audiences/interpreter/GWLPVariableCommandEvaluator.h"

GWLPVariableCommandEvaluator::GWLPVariableCommandEvaluator()
    : GWLPHandlerCommandEvaluator({"3", "7", "8", "15", "16", "17", "40", "41", "43", "44", "45", "52"},
                                  GWLPArgumentStyle::Values) {}
