// Raw events written per second as the write pipeline does it (one event per
// exclusive transaction through GWLDatabase), against bare SQLite inserts of
// the same rows with a prepared statement, one transaction each, under the
// journal settings the store chooses (WAL, synchronous=NORMAL) and two others
// for comparison. items_per_second is events per second.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>

#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/core/GWLPaths.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/foundation/values/GWLEvent.h"
#include "analytics/wire/GWLPBEvent.h"
#include "analytics/wire/NANO.h"
#include "platform/dispatch/Clock.h"
#include "platform/storage/Paths.h"

namespace {

namespace fs = std::filesystem;

const fs::path& scratch() {
  static const fs::path root = [] {
    fs::path dir = fs::temp_directory_path() / ("database_bench." + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    platform::Paths::setCurrent(platform::Paths::open(dir.string()));
    GWLMonitor::Dependencies dependencies;  // no preferences: nothing is stored
    dependencies.clock = std::make_shared<platform::ManualClock>();
    GWLMeasurementRegistry::resetForTesting(GWLMonitor::create(6, nullptr, kGWLLibraryVersion, dependencies));
    return dir;
  }();
  return root;
}

std::shared_ptr<GWLEvent> sampleEvent(int64_t n) {
  return GWLEvent::initWithOrigin("app", true, "select_content", 1'700'000'000.0 + static_cast<double>(n), 0,
                                  platform::Dictionary{{"content_type", "sheet"},
                                                       {"item_id", "doc-" + std::to_string(n % 50)},
                                                       {"cells", int64_t{25}},
                                                       {"screen", "SheetEditor"}}, GWLValueLimits{});
}

void BM_RawEventWritesThroughDatabase(benchmark::State& state) {
  scratch();
  const std::string path = GWLMeasurementDirectoryPath(kGWLDatabaseFileName);
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(path + suffix);
  GWLDatabase::Dependencies dependencies;
  dependencies.clock = std::make_shared<platform::ManualClock>();
  auto db = GWLDatabase::initWithDatabaseName(kGWLDatabaseFileName, nullptr, dependencies);
  if (!db) {
    state.SkipWithError("cannot open the database");
    return;
  }
  int64_t n = 0;
  for (auto _ : state) {
    auto event = sampleEvent(n++);
    if (!db->performTransaction([&] { return db->insertRawEvent(event, 42, false); })) {
      state.SkipWithError("write failed");
      return;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RawEventWritesThroughDatabase)->Unit(benchmark::kMicrosecond);

// arg 0: WAL + NORMAL (the store's choice); 1: WAL + FULL; 2: rollback journal + FULL.
void BM_BareSqliteInserts(benchmark::State& state) {
  const char* settings[] = {"PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;",
                            "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;",
                            "PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL;"};
  const char* labels[] = {"WAL/NORMAL", "WAL/FULL", "DELETE/FULL"};
  const fs::path path = scratch() / "bare.sql";
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) fs::remove(path.string() + suffix);
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(db, settings[state.range(0)], nullptr, nullptr, nullptr);
  sqlite3_exec(db,
               "CREATE TABLE raw_events (name TEXT NOT NULL, timestamp REAL NOT NULL, metadata_fingerprint INTEGER "
               "NOT NULL, data BLOB NOT NULL, is_realtime INTEGER)",
               nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db,
                     "INSERT INTO raw_events (name, timestamp, metadata_fingerprint, data, is_realtime) "
                     "VALUES (?, ?, ?, ?, ?)",
                     -1, &insert, nullptr);
  // The same rows, encoded before timing: what is left is SQLite's own cost.
  std::vector<std::pair<std::shared_ptr<GWLEvent>, std::vector<uint8_t>>> rows;
  for (int64_t n = 0; n < 1000; ++n) {
    auto event = sampleEvent(n);
    auto proto = event->protoEvent();
    NANOClearField(proto, GWLPBEvent::Field::name);
    rows.emplace_back(event, *proto->protoBuffer());
  }
  size_t n = 0;
  for (auto _ : state) {
    const auto& [event, data] = rows[n++ % rows.size()];
    sqlite3_exec(db, "BEGIN EXCLUSIVE TRANSACTION", nullptr, nullptr, nullptr);
    sqlite3_bind_text(insert, 1, event->name().c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_double(insert, 2, event->timestamp());
    sqlite3_bind_int64(insert, 3, 42);
    sqlite3_bind_blob(insert, 4, data.data(), static_cast<int>(data.size()), SQLITE_STATIC);
    sqlite3_bind_int64(insert, 5, 0);
    const int result = sqlite3_step(insert);
    sqlite3_reset(insert);
    if (result != SQLITE_DONE || sqlite3_exec(db, "END TRANSACTION", nullptr, nullptr, nullptr) != SQLITE_OK) {
      state.SkipWithError("insert failed");
      break;
    }
  }
  sqlite3_finalize(insert);
  sqlite3_close(db);
  state.SetLabel(labels[state.range(0)]);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BareSqliteInserts)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

}  // namespace
