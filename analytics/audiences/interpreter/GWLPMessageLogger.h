// GWLPMessageLogger: the module "internal.logger". Its "log" logs shown and
// recorded; its "silent" and "unmonitored" properties carry the other two
// "log" functions, all over the same logger. Calling the module itself
// answers undefined.
#pragma once

#include <memory>

#include "analytics/audiences/interpreter/GWLPFunctionValue.h"
#include "analytics/audiences/interpreter/GWLPLoggerDelegate.h"

inline constexpr const char* kGWLPLoggerModuleName = "internal.logger";

class GWLPMessageLogger : public GWLPFunctionValue {
 public:
  explicit GWLPMessageLogger(std::shared_ptr<GWLPLoggerDelegate> logger);
  // Arguments are ignored.
  GWLPValueRef invokeWithArguments(const GWLPValueList& arguments, const GWLPScopeRef& scope,
                                   platform::Error* error = nullptr) override;
};
