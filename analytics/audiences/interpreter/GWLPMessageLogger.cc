#include "analytics/audiences/interpreter/GWLPMessageLogger.h"

#include "analytics/audiences/interpreter/GWLPFunctionLog.h"
#include "analytics/audiences/interpreter/GWLPFunctionLogSilent.h"
#include "analytics/audiences/interpreter/GWLPFunctionLogUnmonitored.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"

GWLPMessageLogger::GWLPMessageLogger(std::shared_ptr<GWLPLoggerDelegate> logger)
    : GWLPFunctionValue(kGWLPLoggerModuleName) {
  setValue(std::make_shared<GWLPFunctionLog>(logger, /*silent=*/false, /*monitored=*/true), "log");
  setValue(std::make_shared<GWLPFunctionLogSilent>(logger), "silent");
  setValue(std::make_shared<GWLPFunctionLogUnmonitored>(logger), "unmonitored");
}

GWLPValueRef GWLPMessageLogger::invokeWithArguments(const GWLPValueList&, const GWLPScopeRef&, platform::Error*) {
  return GWLPUndefinedValue::sharedInstance();
}
