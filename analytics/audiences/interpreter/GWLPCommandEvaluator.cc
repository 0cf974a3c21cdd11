#include "analytics/audiences/interpreter/GWLPCommandEvaluator.h"

#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"

GWLPValueRef GWLPCommandEvaluator::evaluateCommand(const std::string&, const GWLPValueList&, const GWLPScopeRef&,
                                                   platform::Error*) {
  return GWLPUndefinedValue::sharedInstance();
}
