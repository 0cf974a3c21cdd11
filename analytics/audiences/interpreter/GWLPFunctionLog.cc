#include "analytics/audiences/interpreter/GWLPFunctionLog.h"

#include "analytics/audiences/interpreter/GWLPArguments.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPObjectManager.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"
#include "analytics/audiences/interpreter/GWLPValueOperations.h"

GWLPFunctionLog::GWLPFunctionLog(std::shared_ptr<GWLPLoggerDelegate> logger, bool silent, bool monitored)
    : GWLPFunctionValue("log"), silent_(silent), monitored_(monitored), logger_(std::move(logger)) {}

GWLPValueRef GWLPFunctionLog::invokeWithArguments(const GWLPValueList& arguments, const GWLPScopeRef& scope,
                                                  platform::Error* error) {
  GWLPErrorOut out(error);
  const GWLPValueRef& undefined = GWLPUndefinedValue::sharedInstance();
  if (!GWLPCheckMinimumArgumentCount(arguments, 1, out)) return undefined;
  GWLPValueList values = GWLPEvaluateArguments(arguments, scope, out);
  if (out.failed()) return undefined;
  int64_t level = kGWLPDefaultLogLevel;
  std::string message;
  std::vector<std::string> contexts;
  if (values.size() == 1) {
    message = values[0]->stringValueOrError(out);
  } else {
    level = GWLPToInt64(values[0]->doubleValueOrError(out));
    if (!out.failed()) message = values[1]->stringValueOrError(out);
    for (size_t i = 2; i < values.size() && contexts.size() < kGWLPMaxLogContexts && !out.failed(); ++i) {
      contexts.push_back(values[i]->stringValueOrError(out));
    }
  }
  if (out.failed()) return undefined;
  if (logger_ && GWLPTakeLogLine(scope)) logger_->logWithLevel(level, message, contexts, silent_, monitored_);
  return undefined;
}
