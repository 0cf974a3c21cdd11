#include "analytics/audiences/interpreter/GWLPEventLogger.h"

#include "analytics/audiences/interpreter/GWLPArguments.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPEventContext.h"
#include "analytics/audiences/interpreter/GWLPMapValue.h"
#include "analytics/audiences/interpreter/GWLPObjectManager.h"
#include "analytics/audiences/interpreter/GWLPRuntimeEntityConverter.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"
#include "analytics/audiences/interpreter/GWLPValueOperations.h"

GWLPEventLogger::GWLPEventLogger(std::shared_ptr<GWLPEventContext> eventContext)
    : GWLPFunctionValue(kGWLPEventLoggerModuleName), eventContext_(std::move(eventContext)) {}

GWLPValueRef GWLPEventLogger::invokeWithArguments(const GWLPValueList& arguments, const GWLPScopeRef& scope,
                                                  platform::Error* error) {
  GWLPErrorOut out(error);
  const GWLPValueRef& undefined = GWLPUndefinedValue::sharedInstance();
  if (!GWLPCheckArgumentCount(arguments, 3, out)) return undefined;
  GWLPValueList values = GWLPEvaluateArguments(arguments, scope, out);
  if (out.failed()) return undefined;
  std::string name = values[0]->stringValueOrError(out);
  if (out.failed()) return undefined;
  double seconds = values[1]->doubleValueOrError(out);
  if (out.failed()) return undefined;
  const double timestamp = static_cast<double>(GWLPToInt64(GWLPToInteger(seconds)));
  if (!values[2]->isMap()) {
    out.fail(kGWLPErrorArgumentType);
    return undefined;
  }
  platform::Dictionary parameters =
      GWLPRuntimeEntityConverter::dictionaryFromMapValue(static_cast<const GWLPMapValue&>(*values[2]), out);
  if (out.failed()) return undefined;
  if (!GWLPReserveHeap(scope, name.size(), out) || !GWLPReserveNativeValue(scope, parameters, out)) return undefined;
  if (eventContext_) eventContext_->logEventWithName(std::move(name), timestamp, parameters, out);
  return undefined;
}
