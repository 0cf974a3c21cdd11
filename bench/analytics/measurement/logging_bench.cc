// From the app's event call to a committed raw event: a batch of events logged
// through the process's entry class (GWLAnalytics::sharedInstance(), its
// logEventWithName as the app calls it) with a started engine over a real
// database, timed until the last of them is stored; against the database's
// own raw-event insert of the very events the engine stored, each in its own
// transaction as the engine commits them. Items are events.
#include <benchmark/benchmark.h>

#include <filesystem>

#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/foundation/storage/GWLRawEventData.h"
#include "analytics/foundation/values/GWLEvent.h"
#include "analytics/measurement/GWLAnalytics.h"
#include "analytics/measurement/GWLMeasurement.h"
#include "analytics/measurement/testing/StandaloneEntryClass.h"
#include "analytics/measurement/testing/StandaloneMeasurement.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"

namespace {

constexpr double kNow = 1767610740;  // 2026-01-05 10:59:00 UTC
constexpr int kBatch = 200;
constexpr const char* kName = "purchase_item";

const platform::Dictionary kParameters{{"item", "pro"}, {"value", 9.99}, {"quantity", 1}};

struct Started {
  std::shared_ptr<GWLMeasurement> engine;
  std::shared_ptr<platform::ManualClock> clock;
  std::shared_ptr<GWLDatabase> database;

  Started() {
    auto standalone = measurement_testing::makeStandaloneMeasurementInTemporaryDirectory(
        "logging_bench", kNow, measurement_testing::installQuietBenchmarkMonitor());
    if (!standalone.engine) return;
    clock = standalone.clock;
    auto analytics = measurement_testing::makeStandaloneEntryClass(
        clock, platform::MainQueue::create(), platform::ConcurrentQueue::create("global", 1), standalone.engine);
    GWLAnalytics::setSharedInstanceForTesting(analytics);
    analytics->startWithAppID("1:123:ios:abc", "cz", {});
    engine = standalone.engine;
    database = engine->database();
    // The clock stands still: the day's event limits at their largest, so
    // that no run reaches them.
    onWorker([&] {
      engine->engineRemoteConfig()->replaceCachedValues(
          {{kGWLSettingMaxEventsPerDay, "1000000"}, {kGWLSettingMaxPublicEventsPerDay, "1000000"}});
    });
    settle();
    clear();
  }

  // Returns once every call made so far has been handed to the engine and its
  // worker queue has stored what they asked for.
  void settle() {
    GWLAnalytics::sharedInstance()->queue()->flush();
    onWorker([] {});
  }
  void onWorker(const std::function<void()>& block) {
    engine->scheduler()->dispatchSyncOnWorkerQueueBlockID("logging_bench", block);
  }
  // The stored raw events of the app's event.
  std::vector<std::shared_ptr<GWLRawEventData>> stored() {
    std::vector<std::shared_ptr<GWLRawEventData>> rows;
    onWorker([&] {
      for (const auto& row : database->allRawEventsWithError().value_or(rows)) {
        if (row->rawEvent()->name() == kName) rows.push_back(row);
      }
    });
    return rows;
  }
  void clear() {
    onWorker([&] { (void)database->deleteRawEventsWithMaxRowID(std::numeric_limits<int64_t>::max()); });
  }
};

Started& started() {
  static Started* instance = new Started();
  return *instance;
}

void BM_LogEventToCommittedRawEvent(benchmark::State& state) {
  Started& s = started();
  if (!s.engine) {
    state.SkipWithError("the engine did not start");
    return;
  }
  for (auto _ : state) {
    auto analytics = GWLAnalytics::sharedInstance();
    for (int i = 0; i < kBatch; ++i) analytics->logEventWithName(kName, kParameters);
    s.settle();
    state.PauseTiming();
    const size_t count = s.stored().size();
    s.clear();
    state.ResumeTiming();
    if (count != kBatch) {
      state.SkipWithError(("stored " + std::to_string(count) + " of " + std::to_string(kBatch) + " events").c_str());
      return;
    }
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_LogEventToCommittedRawEvent)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DatabaseRawEventInsert(benchmark::State& state) {
  Started& s = started();
  if (!s.engine) {
    state.SkipWithError("the engine did not start");
    return;
  }
  // The events as the engine stored them (with its metadata row in place).
  auto analytics = GWLAnalytics::sharedInstance();
  for (int i = 0; i < kBatch; ++i) analytics->logEventWithName(kName, kParameters);
  s.settle();
  const auto rows = s.stored();
  if (rows.size() != kBatch) {
    state.SkipWithError("the engine did not store the events to insert");
    return;
  }
  s.onWorker([&] { (void)s.database->deleteRawEventsWithMaxRowID(std::numeric_limits<int64_t>::max()); });
  for (auto _ : state) {
    bool inserted = true;
    s.onWorker([&] {
      for (const auto& row : rows) {
        inserted = inserted && s.database->insertRawEvent(row->rawEvent(), row->metadataFingerprint(), false);
      }
    });
    state.PauseTiming();
    s.onWorker([&] { (void)s.database->deleteRawEventsWithMaxRowID(std::numeric_limits<int64_t>::max()); });
    state.ResumeTiming();
    if (!inserted) {
      state.SkipWithError("an insert failed");
      return;
    }
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_DatabaseRawEventInsert)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
