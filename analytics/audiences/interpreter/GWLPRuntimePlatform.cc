#include "analytics/audiences/interpreter/GWLPRuntimePlatform.h"

#include "analytics/audiences/interpreter/GWLPFunctionGetVersion.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"

GWLPRuntimePlatform::GWLPRuntimePlatform() : GWLPFunctionValue(kGWLPPlatformModuleName) {
  setValue(std::make_shared<GWLPFunctionGetVersion>(), "getVersion");
}

GWLPValueRef GWLPRuntimePlatform::invokeWithArguments(const GWLPValueList&, const GWLPScopeRef&, platform::Error*) {
  return GWLPUndefinedValue::sharedInstance();
}
