// One event through the engine's filtered write (blocklist, identifiers, one
// exclusive transaction with lifetime value, daily counters, real-time
// decision, aggregates, metadata bundle and raw event) against the bare
// insert of the same event's raw-event row, both on the worker queue of one
// started engine over a database in a temporary directory. Each reports the
// SQL statements it ran per event.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/measurement/GWLMeasurement.h"
#include "analytics/measurement/testing/StandaloneMeasurement.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Clock.h"

namespace {

const platform::Dictionary kParameters{{"item", "pro"}, {"value", int64_t{3}}, {"label", "level three"}};

struct Started {
  std::shared_ptr<platform::ManualClock> clock;
  std::shared_ptr<GWLMeasurement> engine;

  Started() {
    platform::HVUSetLoggerLevel(3);
    const auto root = std::filesystem::temp_directory_path() / ("pipeline_bench." + std::to_string(::getpid()));
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root);
    // The run's database goes with the process.
    static const std::filesystem::path kRoot = root;
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(kRoot, ignored);
    });
    GWLMonitor::Dependencies dependencies;  // no preferences: nothing is stored
    dependencies.clock = std::make_shared<platform::ManualClock>();
    auto monitor = GWLMonitor::create(6, nullptr, 1, dependencies);
    GWLMeasurementRegistry::resetForTesting(monitor);
    auto standalone = measurement_testing::makeStandaloneMeasurement(root.string(), 1'700'000'000.0, monitor);
    if (!standalone.engine) std::abort();
    engine = standalone.engine;
    clock = standalone.clock;
    // No daily limit stops the run.
    engine->engineRemoteConfig()->replaceCachedValues(
        {{kGWLSettingMaxEventsPerDay, "1000000"}, {kGWLSettingMaxPublicEventsPerDay, "1000000"}});
  }
};

Started& started() {
  static Started* instance = new Started();
  return *instance;
}

// Counts the statements the database's connection starts.
int countStatement(unsigned, void* context, void*, void*) {
  ++*static_cast<int64_t*>(context);
  return 0;
}

std::shared_ptr<GWLEvent> makeEvent(double timestamp) {
  return GWLEvent::initWithOrigin("app", true, "level_up", timestamp, 0, kParameters, GWLValueLimits{});
}

// Runs the benchmark's loop on the worker queue, counting statements.
void runOnWorker(benchmark::State& state, const std::function<void(GWLMeasurement&, GWLDatabase&)>& write) {
  Started& s = started();
  auto database = s.engine->database();
  sqlite3* handle = database->sqliteStore()->sqliteHandle();
  int64_t statements = 0;
  s.engine->scheduler()->dispatchSyncOnWorkerQueueBlockID("bench", [&] {
    sqlite3_trace_v2(handle, SQLITE_TRACE_STMT, &countStatement, &statements);
    for (auto _ : state) write(*s.engine, *database);
    sqlite3_trace_v2(handle, 0, nullptr, nullptr);
  });
  state.SetItemsProcessed(state.iterations());
  state.counters["statements_per_event"] =
      benchmark::Counter(static_cast<double>(statements) / static_cast<double>(state.iterations()));
}

void BM_WriteFilteredEvent(benchmark::State& state) {
  runOnWorker(state, [](GWLMeasurement& engine, GWLDatabase&) {
    auto event = makeEvent(started().clock->now());
    engine.writeFilteredEventOnWorkerQueue(event);
  });
}
BENCHMARK(BM_WriteFilteredEvent)->UseRealTime();

void BM_BareInsertRawEvent(benchmark::State& state) {
  runOnWorker(state, [](GWLMeasurement&, GWLDatabase& database) {
    auto event = makeEvent(started().clock->now());
    benchmark::DoNotOptimize(database.insertRawEvent(event, 42, false));
  });
}
BENCHMARK(BM_BareInsertRawEvent)->UseRealTime();

}  // namespace
