// The app's event call from four threads at once: GWLAnalytics' logEventWithName
// (name check, screen parameters, the timestamp queue's synchronous block, the
// hold queue, GWLAnalyticsQueue, a recording engine) against posting the same
// call of the engine to a bare serial queue. Each thread's last iteration
// waits until everything posted has reached the engine, so both sides count
// delivery, not only the caller's share.
#include <benchmark/benchmark.h>

#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/core/GWLUserDefaults.h"
#include "analytics/measurement/GWLAnalytics.h"
#include "analytics/measurement/GWLIdentifiers.h"
#include "analytics/measurement/testing/RecordingAnalyticsEngine.h"
#include "platform/appdelegate/HVUAppDelegateSwizzler.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/env/AppEnvironment.h"
#include "platform/storage/PreferencesStore.h"

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
    auto main = platform::MainQueue::create();
    GWLAnalytics::Dependencies dependencies;
    dependencies.clock = platform::Clock::system();
    dependencies.defaults = std::make_shared<GWLUserDefaults>(
        platform::PreferencesStore::create(kGWLAnalyticsSuiteName, std::string(), nullptr, nullptr),
        kGWLAnalyticsSuiteName);
    dependencies.persistedConfig = [] { return nullptr; };
    dependencies.identity = [] { return nullptr; };
    GWLIdentifiers::Dependencies identifiers;
    identifiers.engineIdentity = [] { return nullptr; };
    identifiers.sharedIdentity = [] { return nullptr; };
    identifiers.adEventIDStart = 1;
    dependencies.identifiers = std::make_shared<GWLIdentifiers>(identifiers);
    dependencies.environment = platform::AppEnvironment::create({});
    dependencies.notificationCenter = platform::NotificationCenter::create();
    dependencies.mainQueue = main;
    dependencies.paymentQueue = platform::PaymentQueue::create(main);
    dependencies.appDelegateSwizzler = platform::HVUAppDelegateSwizzler::create({dependencies.environment, main});
    dependencies.engineFactory = [engine = engine](const GWLAnalyticsEngineConfiguration&) { return engine; };
    analytics = GWLAnalytics::create(dependencies);
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
