// Bundling against the wire codec it is built on: draining 10,000 raw events
// stored under 5 metadata fingerprints (runs of 100 rows each) into the
// upload queue, beside decoding and re-encoding the same 10,000 stored events
// with the codec alone; and sampling's write-back, which re-reads and rewrites
// every event name's aggregates, with 2,000 names stored.
#include <benchmark/benchmark.h>

#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLDataAdditions.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/foundation/storage/GWLEventAggregates.h"
#include "analytics/foundation/values/GWLEvent.h"
#include "analytics/measurement/GWLMeasurement.h"
#include "analytics/measurement/testing/StandaloneMeasurement.h"
#include "analytics/wire/GWLPBEvent.h"
#include "analytics/wire/GWLPBEventConfig.h"
#include "analytics/wire/GWLPBMeasurementBundle.h"
#include "analytics/wire/GWLPBMeasurementConfig.h"
#include "platform/util/Random.h"

namespace {

constexpr double kNow = 1767610740;  // 2026-01-05 10:59:00 UTC
constexpr int kEvents = 10000;
constexpr int kFingerprints = 5;
constexpr int kRun = 100;
constexpr int kAggregateNames = 2000;

struct Setup {
  std::shared_ptr<GWLMeasurement> engine;
  std::shared_ptr<GWLDatabase> database;

  Setup() {
    engine = measurement_testing::makeStandaloneMeasurementInTemporaryDirectory(
                 "bundling_bench", kNow, measurement_testing::installQuietBenchmarkMonitor())
                 .engine;
    if (engine) database = engine->database();
  }

  void onWorker(const std::function<void()>& block) {
    engine->scheduler()->dispatchSyncOnWorkerQueueBlockID("bundling_bench", block);
  }
};

Setup& setup() {
  static Setup* made = new Setup();
  return *made;
}

// An event as the app logs it, with a handful of parameters.
std::shared_ptr<GWLEvent> sampleEvent(int i) {
  const platform::Dictionary parameters{{"item", "sku-" + std::to_string(i % 97)},
                                        {"level", int64_t{i % 13}},
                                        {"score", i * 0.25},
                                        {"screen", std::string("settings")}};
  return GWLEvent::initWithOrigin("app", false, "level_up", kNow + (i % 60) * 0.5, 0, parameters, GWLValueLimits{});
}

std::vector<int64_t> storeMetadata(GWLDatabase& database) {
  std::vector<int64_t> fingerprints;
  for (int which = 0; which < kFingerprints; ++which) {
    auto metadata = GWLPBMeasurementBundle::initWithMessageInfo();
    metadata->setProtocolVersion(1);
    metadata->setPlatform("ios");
    metadata->setAppId("1:123:ios:abc");
    metadata->setAppVersion("1." + std::to_string(which));
    // Setup of a benchmark fixture on a fresh database: a refusal would show in the measured counts.
    (void)database.insertIfNotExistsRawEventMetadata(*metadata);
    fingerprints.push_back(static_cast<int64_t>(gwl_64LSBMD5(*metadata->protoBuffer())));
  }
  return fingerprints;
}

void BM_BundleRawEventsIntoTheQueue(benchmark::State& state) {
  Setup& s = setup();
  if (!s.engine) {
    state.SkipWithError("the engine did not start");
    return;
  }
  int64_t bundles = 0;
  for (auto _ : state) {
    state.PauseTiming();
    s.onWorker([&] {
      (void)s.database->reset();
      (void)s.database->performTransaction([&] {
        auto fingerprints = storeMetadata(*s.database);
        for (int i = 0; i < kEvents; ++i) {
          (void)s.database->insertRawEvent(sampleEvent(i), fingerprints[(i / kRun) % kFingerprints], false);
        }
        return true;
      });
    });
    state.ResumeTiming();
    s.onWorker([&] {
      while (s.engine->bundleRawEvents()) ++bundles;
    });
  }
  state.SetItemsProcessed(state.iterations() * kEvents);
  state.counters["bundles"] = benchmark::Counter(static_cast<double>(bundles) / state.iterations());
}
BENCHMARK(BM_BundleRawEventsIntoTheQueue)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

void BM_DecodeAndEncodeTheSameEventsWithTheCodec(benchmark::State& state) {
  std::vector<std::vector<uint8_t>> stored;
  for (int i = 0; i < kEvents; ++i) {
    auto proto = sampleEvent(i)->protoEvent();
    NANOClearField(proto, GWLPBEvent::Field::name);
    stored.push_back(*proto->protoBuffer());
  }
  size_t bytes = 0;
  for (auto _ : state) {
    for (const auto& blob : stored) {
      auto decoded = GWLPBEvent::initWithBuffer(std::span<const uint8_t>(blob));
      decoded->setName("level_up");
      auto encoded = decoded->protoBuffer();
      bytes += encoded->size();
      benchmark::DoNotOptimize(encoded);
    }
  }
  state.SetItemsProcessed(state.iterations() * kEvents);
  benchmark::DoNotOptimize(bytes);
}
BENCHMARK(BM_DecodeAndEncodeTheSameEventsWithTheCodec)->Unit(benchmark::kMillisecond);

// Rolls that keep every event.
class KeepEverything : public platform::Random {
 public:
  uint64_t nextUInt64() override { return 0; }
};

void BM_SamplingWriteBackOverManyNames(benchmark::State& state) {
  Setup& s = setup();
  if (!s.engine) {
    state.SkipWithError("the engine did not start");
    return;
  }
  s.onWorker([&] {
    (void)s.database->reset();
    s.engine->setRandomSource(std::make_shared<KeepEverything>());
    auto config = GWLPBMeasurementConfig::initWithMessageInfo();
    config->setAppId("1:123:ios:abc");
    auto entry = GWLPBEventConfig::initWithMessageInfo();
    entry->setEventName("name_0");
    entry->setSamplingRate(4);
    std::vector<std::shared_ptr<GWLPBEventConfig>> entries{entry};
    config->setEventConfig(entries);
    (void)s.engine->engineRemoteConfig()->updateMeasurementConfig(config);
    s.engine->engineRemoteConfig()->replaceCachedValues({{kGWLSettingIsEventSamplingEnabled, "1"}});
    (void)s.database->performTransaction([&] {
      for (int i = 0; i < kAggregateNames; ++i) {
        (void)s.database->updateEventAggregates(
            GWLEventAggregates::initWithName("name_" + std::to_string(i), 3, 1, 1, kNow));
      }
      return true;
    });
  });
  for (auto _ : state) {
    state.PauseTiming();
    GWLMeasurement::ProtoEvents events;
    for (int i = 0; i < 20; ++i) {
      events.push_back(sampleEvent(i)->protoEvent());
      events.back()->setName("name_" + std::to_string(i % 7));
    }
    state.ResumeTiming();
    s.onWorker([&] {
      (void)s.database->performTransaction([&] { return s.engine->sampleEvents(events).has_value(); });
    });
  }
  state.SetItemsProcessed(state.iterations() * kAggregateNames);
}
BENCHMARK(BM_SamplingWriteBackOverManyNames)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
