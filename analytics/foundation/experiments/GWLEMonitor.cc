#include "analytics/foundation/experiments/GWLEMonitor.h"

#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMonitor.h"

GWLEMonitor::GWLEMonitor(std::shared_ptr<GWLMonitor> monitor) : monitor_(std::move(monitor)) {}

std::shared_ptr<GWLMonitor> GWLEMonitor::monitor() const {
  return monitor_ ? monitor_ : GWLLibraryMonitor::monitor();
}

void GWLEMonitor::logWithLevel(int64_t level, int64_t messageCode, const std::string& message) {
  monitor()->logWithLevel(level, messageCode, message);
}

void GWLEMonitor::logWithLevel(int64_t level, int64_t messageCode, const std::string& message,
                               const std::optional<std::string>& context) {
  monitor()->logWithLevel(level, messageCode, message, context ? GWLLogContext(*context) : GWLLogContext());
}

void GWLEMonitor::logWithLevel(int64_t level, int64_t messageCode, const std::string& message,
                               const GWLLogContext& context) {
  monitor()->logWithLevel(level, messageCode, message, context);
}

void GWLEMonitor::logWithLevel(int64_t level, int64_t messageCode, const std::string& message,
                               const GWLLogContext& context1, const GWLLogContext& context2) {
  monitor()->logWithLevel(level, messageCode, message, context1, context2);
}

void GWLEMonitor::logWithLevel(int64_t level, int64_t messageCode, const std::string& message,
                               const GWLLogContext& context1, const GWLLogContext& context2,
                               const GWLLogContext& context3) {
  monitor()->logWithLevel(level, messageCode, message, context1, context2, context3);
}

void GWLEMonitor::clearMonitoringData() { monitor()->clearMonitoringData(); }
