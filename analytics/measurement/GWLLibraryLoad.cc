#include "analytics/measurement/GWLLibraryLoad.h"

#include "analytics/measurement/CVNAnalyticsConnector.h"
#include "analytics/measurement/GWLMeasurement.h"
#include "analytics/measurement/GWLScreenViewReporter.h"
#include "platform/dispatch/Clock.h"
#include "platform/util/Mutex.h"

namespace {

struct LoadState {
  platform::Mutex mutex;
  std::optional<double> loadTimestamp ABSL_GUARDED_BY(mutex);
};

LoadState& loadState() {
  static auto* state = new LoadState();  // never destroyed: read until the process ends
  return *state;
}

}  // namespace

void GWLLibraryLoad(const std::shared_ptr<platform::Clock>& clock) {
  const double now = (clock ? clock : platform::Clock::system())->now();
  {
    auto& state = loadState();
    platform::MutexLock lock(state.mutex);
    if (state.loadTimestamp) return;
    state.loadTimestamp = now;
  }
  GWLScreenViewReporter::installAppActiveProvider();
  GWLMeasurement::subscribeForAppDidFinishLaunchingNotifications();
  CVNAnalyticsConnector::load();
}

std::optional<double> GWLLibraryLoadTimestamp() {
  auto& state = loadState();
  platform::MutexLock lock(state.mutex);
  return state.loadTimestamp;
}

void GWLLibraryLoadResetForTesting() {
  auto& state = loadState();
  platform::MutexLock lock(state.mutex);
  state.loadTimestamp.reset();
}
