// The app's event call from four threads at once: GWLAnalytics' logEventWithName
// (name check, screen parameters, the timestamp queue's synchronous block, the
// hold queue, GWLAnalyticsQueue, a recording engine) against posting the same
// call of the engine to a bare serial queue. Each thread's last iteration
// waits until everything posted has reached the engine, so both sides count
// delivery, not only the caller's share.
#include <benchmark/benchmark.h>

#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/measurement/GWLAnalytics.h"
#include "analytics/measurement/testing/RecordingAnalyticsEngine.h"
#include "analytics/measurement/testing/StandaloneEntryClass.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"

namespace {

using measurement_testing::RecordingAnalyticsEngine;

const platform::Dictionary kParameters{{"item", "pro"}, {"value", 9.99}, {"quantity", 1}};

std::shared_ptr<GWLMonitor> quietMonitor() {
  GWLMonitor::Dependencies dependencies;  // no preferences: nothing is stored
  dependencies.clock = std::make_shared<platform::ManualClock>();
  auto monitor = GWLMonitor::create(6, nullptr, 1, dependencies);
  monitor->flush();
  return monitor;
}

struct Started {
  std::shared_ptr<RecordingAnalyticsEngine> engine = std::make_shared<RecordingAnalyticsEngine>();
  std::shared_ptr<GWLAnalytics> analytics;

  Started() {
    platform::HVUSetLoggerLevel(3);
    GWLMeasurementRegistry::resetForTesting(quietMonitor());
    engine->setKeepsEvents(false);
    analytics = measurement_testing::makeStandaloneEntryClass(platform::Clock::system(), platform::MainQueue::create(),
                                                              platform::ConcurrentQueue::create("global", 1), engine);
    analytics->startWithAppID("1:1:ios:1", "cz", {{kGWLStartOptionLogTag, "<Bench>"}});
    analytics->queue()->flush();
  }
};

Started& started() {
  static Started* instance = new Started();
  return *instance;
}

void BM_EntryClassLogEvent(benchmark::State& state) {
  Started& entry = started();
  for (auto _ : state) entry.analytics->logEventWithName("purchase_item", kParameters);
  entry.analytics->queue()->flush();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EntryClassLogEvent)->Threads(4)->UseRealTime();

void BM_BareSerialQueue(benchmark::State& state) {
  static auto queue = platform::SerialQueue::create("bare");
  Started& entry = started();
  const auto parameters = GWLRawParametersFromDictionary(kParameters);
  for (auto _ : state) {
    queue->async([engine = entry.engine, parameters, timestamp = platform::Clock::system()->now()] {
      engine->logEventWithOrigin("app", true, "purchase_item", parameters, timestamp, true, false, false, nullptr,
                                 GWLRawParameters());
    });
  }
  queue->flush();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BareSerialQueue)->Threads(4)->UseRealTime();

}  // namespace
