#include "analytics/audiences/interpreter/GWLPFunctionLogSilent.h"

#include "analytics/audiences/interpreter/GWLPFunctionLog.h"

GWLPFunctionLogSilent::GWLPFunctionLogSilent(std::shared_ptr<GWLPLoggerDelegate> logger)
    : GWLPFunctionValue("silent") {
  setValue(std::make_shared<GWLPFunctionLog>(std::move(logger), /*silent=*/true, /*monitored=*/true), "log");
}

GWLPValueRef GWLPFunctionLogSilent::invokeWithArguments(const GWLPValueList&, const GWLPScopeRef&, platform::Error*) {
  return shared_from_this();
}
