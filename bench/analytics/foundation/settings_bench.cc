// The costs the library pays on every call: a report that is neither printed
// nor sampled, a typed setting read from the cache, and a persisted setting
// read behind its queue hop.
#include <benchmark/benchmark.h>

#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Clock.h"

namespace {

std::shared_ptr<GWLMonitor> quietMonitor() {
  GWLMonitor::Dependencies dependencies;  // no preferences: nothing is stored
  dependencies.clock = std::make_shared<platform::ManualClock>();
  auto monitor = GWLMonitor::create(6, nullptr, 1, dependencies);
  monitor->flush();
  return monitor;
}

void BM_FilteredReport(benchmark::State& state) {
  auto monitor = quietMonitor();
  platform::HVUSetLoggerLevel(5);  // notice: debug reports are filtered out
  for (auto _ : state) monitor->logWithLevel(kGWLLevelDebug, 23000, "Debug detail", 12345);
}
BENCHMARK(BM_FilteredReport);

void BM_CachedSettingRead(benchmark::State& state) {
  GWLRemoteConfig config(quietMonitor());
  config.replaceCachedValues({{kGWLSettingUploadingInterval, "60000"}});
  for (auto _ : state) benchmark::DoNotOptimize(config.uploadingInterval());
}
BENCHMARK(BM_CachedSettingRead);

void BM_PersistedSettingRead(benchmark::State& state) {
  GWLMeasurementRegistry::resetForTesting(quietMonitor());  // reports of the missing data directory stay quiet
  GWLPersistedConfig::Dependencies dependencies;
  dependencies.monitor = GWLMeasurementRegistry::monitor();
  auto config = GWLPersistedConfig::create("bench", dependencies);  // no data directory: in memory
  for (auto _ : state) benchmark::DoNotOptimize(config->sessionNumber());
}
BENCHMARK(BM_PersistedSettingRead);

}  // namespace
