// GWLPFunctionGetVersion: the native function "getVersion" of the platform
// module; it answers the script runtime's version number.
#pragma once

#include "analytics/audiences/interpreter/GWLPFunctionValue.h"

class GWLPFunctionGetVersion : public GWLPFunctionValue {
 public:
  GWLPFunctionGetVersion();
  // Arguments are ignored.
  GWLPValueRef invokeWithArguments(const GWLPValueList& arguments, const GWLPScopeRef& scope,
                                   platform::Error* error = nullptr) override;
};
