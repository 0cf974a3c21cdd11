#include "analytics/audiences/interpreter/GWLPObjectProvider.h"

#include "analytics/audiences/interpreter/GWLPRuntimeEntityConverter.h"

GWLPObjectProvider::GWLPObjectProvider(std::string name, GWLPObjectProviderBlock objectProviderBlock)
    : GWLPFunctionValue(std::move(name)), objectProviderBlock_(std::move(objectProviderBlock)) {}

GWLPValueRef GWLPObjectProvider::invokeWithArguments(const GWLPValueList&, const GWLPScopeRef& scope,
                                                     platform::Error* error) {
  platform::Object object = objectProviderBlock_ ? objectProviderBlock_() : platform::Object();
  return GWLPRuntimeEntityConverter::runtimeValueFromNSObject(object, scope, error);
}
