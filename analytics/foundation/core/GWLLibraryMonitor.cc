#include "analytics/foundation/core/GWLLibraryMonitor.h"

#include <mutex>
#include <string>

#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/core/GWLPaths.h"

namespace {

struct MonitorState {
  std::mutex mutex;
  std::shared_ptr<GWLMonitor> monitor;
};

// Never destroyed: components may report during exit.
MonitorState& monitorState() {
  static MonitorState* state = new MonitorState();
  return *state;
}

// The path functions sit below the monitor (the monitor's preferences suites
// use them), so they report through a callback; this one hands their reports
// to the library's monitor, made on demand as any other report would.
[[maybe_unused]] const bool kPathsReportThroughMonitor = [] {
  GWLSetPathsReporter([](int64_t level, int64_t code, const std::string& message) {
    GWLLibraryMonitor::monitor()->logWithLevel(level, code, message);
  });
  return true;
}();

}  // namespace

std::shared_ptr<GWLMonitor> GWLLibraryMonitor::monitor() {
  auto& state = monitorState();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (!state.monitor) state.monitor = GWLMonitor::create(kGWLLibraryVersion);
  return state.monitor;
}

void GWLLibraryMonitor::resetForTesting(std::shared_ptr<GWLMonitor> monitor) {
  auto& state = monitorState();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.monitor = std::move(monitor);
}
