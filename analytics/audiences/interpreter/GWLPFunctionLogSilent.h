// GWLPFunctionLogSilent: the "silent" property of the logging module. Its
// "log" logs recorded only; calling the value itself answers the value, so
// `silent().log` and `silent.log` reach the same function.
#pragma once

#include <memory>

#include "analytics/audiences/interpreter/GWLPFunctionValue.h"
#include "analytics/audiences/interpreter/GWLPLoggerDelegate.h"

class GWLPFunctionLogSilent : public GWLPFunctionValue {
 public:
  explicit GWLPFunctionLogSilent(std::shared_ptr<GWLPLoggerDelegate> logger);
  // Arguments are ignored.
  GWLPValueRef invokeWithArguments(const GWLPValueList& arguments, const GWLPScopeRef& scope,
                                   platform::Error* error = nullptr) override;
};
