#include "analytics/audiences/GWLBrindleLogger.h"

#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMonitor.h"

GWLBrindleLogger::GWLBrindleLogger(std::shared_ptr<GWLMonitor> monitor)
    : monitor_(monitor ? std::move(monitor) : GWLLibraryMonitor::monitor()) {}

int64_t GWLBrindleLogger::monitorLevel(int64_t scriptLevel, bool silent, bool monitored) {
  switch (scriptLevel) {
    case 2:
      return 8;
    case 3:
      return 7;
    case 5:
      return silent ? 5 : monitored ? 4 : 3;
    case 6:
      return silent ? 2 : monitored ? 1 : 0;
    default:
      return 6;
  }
}

void GWLBrindleLogger::logWithLevel(int64_t level, const std::string& message, const std::vector<std::string>& context,
                                    bool silent, bool monitored) {
  std::vector<GWLLogContext> contexts(context.begin(), context.end());
  monitor_->logWithLevel(monitorLevel(level, silent, monitored), kGWLScriptLogMessageCode, message, contexts);
}
