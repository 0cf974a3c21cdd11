// GWLPObjectProvider: a module (such as "internal.appMetadata") that, when
// called, answers the host's value converted to a script value in the
// calling scope: a dictionary becomes a new object tracked by that scope's
// collector, nothing becomes null, a value without a script form fails with
// error 13. Each call makes a new object. Arguments are neither evaluated
// nor used.
#pragma once

#include <functional>
#include <string>

#include "analytics/audiences/interpreter/GWLPFunctionValue.h"
#include "platform/core/Object.h"

using GWLPObjectProviderBlock = std::function<platform::Object()>;

class GWLPObjectProvider : public GWLPFunctionValue {
 public:
  GWLPObjectProvider(std::string name, GWLPObjectProviderBlock objectProviderBlock);

  GWLPValueRef invokeWithArguments(const GWLPValueList& arguments, const GWLPScopeRef& scope,
                                   platform::Error* error = nullptr) override;

 private:
  GWLPObjectProviderBlock objectProviderBlock_;
};
