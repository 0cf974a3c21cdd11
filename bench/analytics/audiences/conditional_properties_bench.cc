// The conditional user property work of one written event
// (processEventOnWorkerQueue) with 0, 25 and 100 stored properties, against
// bare SQLite running the same three queries in one exclusive transaction:
// what the database must do for every event, and nothing else.
//
// The stored properties are half waiting for a trigger and half active, with
// their events, none due: the event ("select_content") triggers nothing, and
// nothing times out or expires, so every event does the same work. The bare
// side uses its own connection to the same file, its statements prepared once.
// Both run interleaved in batches within one run; the counters give the time
// per event of each (µs) and controller/bare, the controller's time as a
// multiple of the bare one.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "analytics/audiences/GWLConditionalUserPropertyController.h"
#include "bench/analytics/audiences/BareStatements.h"
#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/core/GWLPaths.h"
#include "analytics/foundation/values/GWLUserAttribute.h"
#include "platform/storage/Paths.h"
#include "tests/analytics/audiences/RecordingEngine.h"

namespace {

namespace fs = std::filesystem;

constexpr double kNow = 1'700'000'000.0;

const fs::path& scratch() {
  static const fs::path root = [] {
    fs::path dir = fs::temp_directory_path() / ("conditional_properties_bench." + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    platform::Paths::setCurrent(platform::Paths::open(dir.string()));
    GWLMonitor::Dependencies dependencies;  // no preferences: nothing is stored
    dependencies.clock = std::make_shared<platform::ManualClock>();
    GWLLibraryMonitor::resetForTesting(GWLMonitor::create(6, nullptr, kGWLLibraryVersion, dependencies));
    return dir;
  }();
  return root;
}

std::shared_ptr<GWLEvent> event(const std::string& name) {
  return GWLEvent::initWithOrigin("app", false, name, kNow, 0, platform::Dictionary{{"sheet", "budget"}},
                                  GWLValueLimits{});
}

// A fresh database holding `count` properties, half of them active.
std::shared_ptr<cup_test::RecordingEngine> engineWithProperties(int64_t count) {
  const std::string path = (scratch(), GWLMeasurementDirectoryPath(kGWLDatabaseFileName));
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) fs::remove(path + suffix);
  auto engine = std::make_shared<cup_test::RecordingEngine>(std::make_shared<platform::ManualClock>(kNow));
  auto db = engine->database();
  if (!db) return nullptr;
  const bool stored = db->performTransaction([&] {
    for (int64_t n = 0; n < count; ++n) {
      auto p = std::make_shared<GWLConditionalUserProperty>();
      p->name = "prop_" + std::to_string(n);
      p->origin = "app";
      p->value = *GWLValue::initWithString("value " + std::to_string(n));
      p->triggerEventName = "level_up";
      p->triggerTimeout = 15552000;
      p->timeToLive = 15552000;
      p->creationTimestamp = kNow;
      p->triggeredEvent = event("cup_triggered");
      p->timedOutEvent = event("cup_timed_out");
      p->expiredEvent = event("cup_expired");
      if (n % 2) {
        p->active = true;
        p->triggeredTimestamp = kNow;
        if (!db->updateUserAttribute(GWLUserAttribute::initWithOrigin("app", p->name, *p->value, kNow))) return false;
      }
      if (!db->updateConditionalUserProperty(p)) return false;
    }
    return true;
  });
  return stored ? engine : nullptr;
}

// The three queries of one event on a connection of their own.
class BareQueries {
 public:
  explicit BareQueries(const std::string& path)
      : statements_(path,
                    {"SELECT rowid, * FROM conditional_properties WHERE active=0 and abs(? - creation_timestamp) > "
                     "trigger_timeout",
                     "SELECT rowid, * FROM conditional_properties WHERE active=1 and abs(? - triggered_timestamp) > "
                     "time_to_live",
                     "SELECT rowid, * FROM conditional_properties WHERE active=0 and trigger_event_name=? and "
                     "abs(? - creation_timestamp) <= trigger_timeout",
                     "BEGIN EXCLUSIVE TRANSACTION", "END TRANSACTION"}) {}

  bool ok() const { return statements_.ok(); }

  // One event: the three queries in one exclusive transaction; answers the rows found.
  int run(const std::string& eventName, double now) {
    int rows = 0;
    if (!step(statements_[3], rows)) return -1;
    sqlite3_bind_double(statements_[0], 1, now);
    sqlite3_bind_double(statements_[1], 1, now);
    sqlite3_bind_text(statements_[2], 1, eventName.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_double(statements_[2], 2, now);
    for (int i = 0; i < 3; ++i) {
      if (!step(statements_[i], rows)) return -1;
    }
    return step(statements_[4], rows) ? rows : -1;
  }

 private:
  static bool step(sqlite3_stmt* statement, int& rows) {
    int result;
    while ((result = sqlite3_step(statement)) == SQLITE_ROW) ++rows;
    sqlite3_reset(statement);
    return result == SQLITE_DONE;
  }

  bench_support::BareStatements statements_;
};

void BM_ProcessEventVsBareQueries(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  auto engine = engineWithProperties(state.range(0));
  if (!engine) {
    state.SkipWithError("cannot store the properties");
    return;
  }
  GWLConditionalUserPropertyController::Dependencies dependencies;
  dependencies.engine = [engine] { return engine; };
  auto controller = GWLConditionalUserPropertyController::create(std::move(dependencies));
  BareQueries bare(GWLMeasurementDirectoryPath(kGWLDatabaseFileName));
  if (!bare.ok()) {
    state.SkipWithError("cannot prepare the bare queries");
    return;
  }
  const auto written = event("select_content");
  constexpr int kBatch = 32;
  Clock::duration controllerTime{}, bareTime{};
  int64_t events = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    for (int k = 0; k < kBatch; ++k) {
      auto triggered = controller->processEventOnWorkerQueue(written);
      if (!triggered || !triggered->empty()) {
        state.SkipWithError("processing failed or triggered");
        return;
      }
    }
    const auto t1 = Clock::now();
    for (int k = 0; k < kBatch; ++k) {
      if (bare.run(written->name(), kNow) != 0) {
        state.SkipWithError("bare queries failed or found rows");
        return;
      }
    }
    const auto t2 = Clock::now();
    controllerTime += t1 - t0;
    bareTime += t2 - t1;
    events += kBatch;
  }
  const double controllerUs = std::chrono::duration<double, std::micro>(controllerTime).count() / events;
  const double bareUs = std::chrono::duration<double, std::micro>(bareTime).count() / events;
  state.counters["controller_us"] = controllerUs;
  state.counters["bare_us"] = bareUs;
  state.counters["controller/bare"] = controllerUs / bareUs;
}
BENCHMARK(BM_ProcessEventVsBareQueries)->Arg(0)->Arg(25)->Arg(100)->Unit(benchmark::kMillisecond);

}  // namespace
