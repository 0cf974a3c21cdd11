// GWLPRuntimePlatform: the module "internal.platform" that every runtime
// registers. Calling it answers undefined; its property "getVersion" holds a
// GWLPFunctionGetVersion.
#pragma once

#include "analytics/audiences/interpreter/GWLPFunctionValue.h"

inline constexpr const char* kGWLPPlatformModuleName = "internal.platform";

class GWLPRuntimePlatform : public GWLPFunctionValue {
 public:
  GWLPRuntimePlatform();
  // Arguments are ignored.
  GWLPValueRef invokeWithArguments(const GWLPValueList& arguments, const GWLPScopeRef& scope,
                                   platform::Error* error = nullptr) override;
};
