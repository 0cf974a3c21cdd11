#include "analytics/audiences/interpreter/GWLPFunctionLogUnmonitored.h"

#include "analytics/audiences/interpreter/GWLPFunctionLog.h"

GWLPFunctionLogUnmonitored::GWLPFunctionLogUnmonitored(std::shared_ptr<GWLPLoggerDelegate> logger)
    : GWLPFunctionValue("unmonitored") {
  setValue(std::make_shared<GWLPFunctionLog>(std::move(logger), /*silent=*/false, /*monitored=*/false), "log");
}

GWLPValueRef GWLPFunctionLogUnmonitored::invokeWithArguments(const GWLPValueList&, const GWLPScopeRef&,
                                                             platform::Error*) {
  return shared_from_this();
}
