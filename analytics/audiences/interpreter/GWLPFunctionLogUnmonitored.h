// GWLPFunctionLogUnmonitored: the "unmonitored" property of the logging
// module. Its "log" logs shown only; calling the value itself answers the
// value.
#pragma once

#include <memory>

#include "analytics/audiences/interpreter/GWLPFunctionValue.h"
#include "analytics/audiences/interpreter/GWLPLoggerDelegate.h"

class GWLPFunctionLogUnmonitored : public GWLPFunctionValue {
 public:
  explicit GWLPFunctionLogUnmonitored(std::shared_ptr<GWLPLoggerDelegate> logger);
  // Arguments are ignored.
  GWLPValueRef invokeWithArguments(const GWLPValueList& arguments, const GWLPScopeRef& scope,
                                   platform::Error* error = nullptr) override;
};
