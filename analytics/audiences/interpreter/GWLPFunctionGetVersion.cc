#include "analytics/audiences/interpreter/GWLPFunctionGetVersion.h"

#include "analytics/audiences/interpreter/GWLPNumberValue.h"
#include "analytics/audiences/interpreter/GWLPRuntime.h"

GWLPFunctionGetVersion::GWLPFunctionGetVersion() : GWLPFunctionValue("getVersion") {}

GWLPValueRef GWLPFunctionGetVersion::invokeWithArguments(const GWLPValueList&, const GWLPScopeRef&,
                                                         platform::Error*) {
  return GWLPNumberValue::make(static_cast<double>(GWLPRuntime::runtimeVersion()));
}
