// One upload pass against the encoding it ends in: reading 100 queued bundles
// (gunzip and decode), applying consent, data controls and checksums and
// encoding them as one batch, beside encoding the same batch of already
// prepared bundles with the codec alone.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/foundation/values/GWLEvent.h"
#include "analytics/measurement/GWLMeasurement.h"
#include "analytics/measurement/testing/StandaloneMeasurement.h"
#include "analytics/wire/GWLPBDataControl.h"
#include "analytics/wire/GWLPBEvent.h"
#include "analytics/wire/GWLPBMeasurementBatch.h"
#include "analytics/wire/GWLPBMeasurementBundle.h"
#include "analytics/wire/GWLPBMeasurementConfig.h"

namespace {

constexpr double kNow = 1767610740;  // 2026-01-05 10:59:00 UTC
constexpr int kBundles = 100;
constexpr int kEventsPerBundle = 10;

struct Setup {
  std::shared_ptr<GWLMeasurement> engine;
  std::shared_ptr<GWLDatabase> database;

  Setup() {
    engine = measurement_testing::makeStandaloneMeasurementInTemporaryDirectory(
                 "upload_bench", kNow, measurement_testing::installQuietBenchmarkMonitor())
                 .engine;
    if (!engine) return;
    database = engine->database();
    bool ready = false;
    onWorker([&] {
      auto config = GWLPBMeasurementConfig::initWithMessageInfo();
      config->setAppId("1:123:ios:abc");
      auto control = GWLPBDataControl::initWithMessageInfo();
      control->setControlName("os_version");
      config->setDataControls(std::vector{control});
      if (!engine->engineRemoteConfig()->updateMeasurementConfig(config)) return;
      engine->engineRemoteConfig()->replaceCachedValues({{kGWLSettingChecksumEnabled, "1"}});
      ready = database->performTransaction([&] {
        for (int i = 0; i < kBundles; ++i) {
          if (!database->insertBundle(*bundle(i), false)) return false;
        }
        return true;
      });
    });
    if (!ready) engine.reset();  // the benchmark then reports that nothing could be set up
  }

  static std::shared_ptr<GWLPBMeasurementBundle> bundle(int i) {
    auto bundle = GWLPBMeasurementBundle::initWithMessageInfo();
    bundle->setProtocolVersion(1);
    bundle->setPlatform("ios");
    bundle->setAppId("1:123:ios:abc");
    bundle->setOsVersion("17.4.1");
    bundle->setConsentSignals("G111");
    bundle->setAppInstanceId("0123456789ABCDEF0123456789ABCDEF");
    std::vector<std::shared_ptr<GWLPBEvent>> events;
    for (int e = 0; e < kEventsPerBundle; ++e) {
      const platform::Dictionary parameters{{"item", "sku-" + std::to_string((i * 7 + e) % 97)},
                                            {"level", int64_t{e}},
                                            {"score", e * 0.25}};
      auto event = GWLEvent::initWithOrigin("app", false, "level_up", kNow + i, 0, parameters, GWLValueLimits{});
      events.push_back(event->protoEvent());
    }
    bundle->setEvents(events);
    bundle->setEndTimestamp(static_cast<int64_t>((kNow + i) * 1000));
    return bundle;
  }

  void onWorker(const std::function<void()>& block) {
    engine->scheduler()->dispatchSyncOnWorkerQueueBlockID("upload_bench", block);
  }
};

Setup& setup() {
  static Setup* made = new Setup();
  return *made;
}

void BM_UploadPassOverQueuedBundles(benchmark::State& state) {
  Setup& s = setup();
  if (!s.engine) {
    state.SkipWithError("the engine did not start or its bundles could not be stored");
    return;
  }
  size_t bytes = 0;
  size_t sent = 0;
  for (auto _ : state) {
    s.onWorker([&] {
      auto queued = s.database->queryBundlesWithCountLimit(kBundles, 64 << 20);
      auto batch = s.engine->batchFromQueuedBundles(*queued, std::nullopt);
      bytes += batch->body.size();
      sent += batch->bundleIDs.size();
    });
  }
  state.SetItemsProcessed(state.iterations() * kBundles);
  state.counters["bundles"] = benchmark::Counter(static_cast<double>(sent) / state.iterations());
  state.counters["bytes"] = benchmark::Counter(static_cast<double>(bytes) / state.iterations());
}
BENCHMARK(BM_UploadPassOverQueuedBundles)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_EncodeTheSameBatchAlone(benchmark::State& state) {
  std::vector<std::shared_ptr<GWLPBMeasurementBundle>> bundles;
  for (int i = 0; i < kBundles; ++i) bundles.push_back(Setup::bundle(i));
  size_t bytes = 0;
  for (auto _ : state) {
    auto batch = GWLPBMeasurementBatch::initWithMessageInfo();
    batch->setBundles(bundles);
    auto encoded = batch->protoBuffer();
    bytes += encoded->size();
    benchmark::DoNotOptimize(encoded);
  }
  state.SetItemsProcessed(state.iterations() * kBundles);
  benchmark::DoNotOptimize(bytes);
}
BENCHMARK(BM_EncodeTheSameBatchAlone)->Unit(benchmark::kMillisecond);

}  // namespace
