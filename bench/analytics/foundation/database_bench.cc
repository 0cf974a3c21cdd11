// Raw events written per second as the write pipeline does it (one event per
// exclusive transaction through GWLDatabase), against bare SQLite inserts of
// the same rows with a prepared statement, one transaction each, under the
// journal settings the store chooses (WAL, synchronous=NORMAL) and two others
// for comparison. items_per_second is events per second.
//
// Both sides write the same 1,000 events, built before timing. Inside the loop
// each side does the same work: the event is encoded into its row (as every
// write must) and inserted in its own exclusive transaction. The bare side
// prepares its insert and its BEGIN and END statements once.
// BM_RawEventWritesVsBareInserts runs both interleaved in one run and gives
// database/bare_rate, the database's write rate as a share of the bare one;
// database/preencoded_rate compares with bare inserts of rows encoded before
// timing, SQLite's own cost alone, which BM_BareSqliteInserts also measures
// under each journal setting.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

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
  // Made after `root`, so gone (with the directory) before it at exit: each run
  // leaves megabytes of database files behind otherwise.
  static const struct Remover {
    fs::path dir;
    ~Remover() {
      std::error_code ignored;
      fs::remove_all(dir, ignored);
    }
  } remover{root};
  return root;
}

constexpr int64_t kMetadataFingerprint = 42;

// The events both sides write, built once.
const std::vector<std::shared_ptr<GWLEvent>>& sampleEvents() {
  static const std::vector<std::shared_ptr<GWLEvent>> events = [] {
    scratch();
    std::vector<std::shared_ptr<GWLEvent>> built;
    for (int64_t n = 0; n < 1000; ++n) {
      built.push_back(GWLEvent::initWithOrigin("app", true, "select_content",
                                               1'700'000'000.0 + static_cast<double>(n), 0,
                                               platform::Dictionary{{"content_type", "sheet"},
                                                                    {"item_id", "doc-" + std::to_string(n % 50)},
                                                                    {"cells", int64_t{25}},
                                                                    {"screen", "SheetEditor"}},
                                               GWLValueLimits{}));
    }
    return built;
  }();
  return events;
}

// The stored form of an event: its encoding without the name, which has its own column.
std::vector<uint8_t> encodedRow(const GWLEvent& event) {
  auto proto = event.protoEvent();
  NANOClearField(proto, GWLPBEvent::Field::name);
  return *proto->protoBuffer();
}

// The measurement database in the scratch directory, emptied first.
std::shared_ptr<GWLDatabase> openDatabase() {
  scratch();
  const std::string path = GWLMeasurementDirectoryPath(kGWLDatabaseFileName);
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(path + suffix);
  GWLDatabase::Dependencies dependencies;
  dependencies.clock = std::make_shared<platform::ManualClock>();
  return GWLDatabase::initWithDatabaseName(kGWLDatabaseFileName, nullptr, dependencies);
}

bool writeThroughDatabase(GWLDatabase& db, const std::shared_ptr<GWLEvent>& event) {
  return db.performTransaction([&] { return db.insertRawEvent(event, kMetadataFingerprint, false); });
}

// A bare SQLite database file with the raw_events table and one prepared insert.
class BareDatabase {
 public:
  BareDatabase(const fs::path& path, const char* settings) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) fs::remove(path.string() + suffix);
    sqlite3_open(path.c_str(), &db_);
    sqlite3_exec(db_, settings, nullptr, nullptr, nullptr);
    sqlite3_exec(db_,
                 "CREATE TABLE raw_events (name TEXT NOT NULL, timestamp REAL NOT NULL, metadata_fingerprint "
                 "INTEGER NOT NULL, data BLOB NOT NULL, is_realtime INTEGER)",
                 nullptr, nullptr, nullptr);
    sqlite3_prepare_v2(db_,
                       "INSERT INTO raw_events (name, timestamp, metadata_fingerprint, data, is_realtime) "
                       "VALUES (?, ?, ?, ?, ?)",
                       -1, &insert_, nullptr);
    sqlite3_prepare_v2(db_, "BEGIN EXCLUSIVE TRANSACTION", -1, &begin_, nullptr);
    sqlite3_prepare_v2(db_, "END TRANSACTION", -1, &end_, nullptr);
  }
  ~BareDatabase() {
    sqlite3_finalize(insert_);
    sqlite3_finalize(begin_);
    sqlite3_finalize(end_);
    sqlite3_close(db_);
  }
  BareDatabase(const BareDatabase&) = delete;
  BareDatabase& operator=(const BareDatabase&) = delete;

  bool ok() const { return insert_ && begin_ && end_; }

  // One row in its own exclusive transaction, every statement prepared before.
  bool insert(const GWLEvent& event, const std::vector<uint8_t>& data) {
    if (!run(begin_)) return false;
    sqlite3_bind_text(insert_, 1, event.name().c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_double(insert_, 2, event.timestamp());
    sqlite3_bind_int64(insert_, 3, kMetadataFingerprint);
    sqlite3_bind_blob(insert_, 4, data.data(), static_cast<int>(data.size()), SQLITE_STATIC);
    sqlite3_bind_int64(insert_, 5, 0);
    return run(insert_) && run(end_);
  }

 private:
  static bool run(sqlite3_stmt* statement) {
    const int result = sqlite3_step(statement);
    sqlite3_reset(statement);
    return result == SQLITE_DONE;
  }

  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  sqlite3_stmt* begin_ = nullptr;
  sqlite3_stmt* end_ = nullptr;
};

// The store's own choice of journal settings.
constexpr const char* kStoreSettings = "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;";

void BM_RawEventWritesThroughDatabase(benchmark::State& state) {
  const auto& events = sampleEvents();
  auto db = openDatabase();
  if (!db) {
    state.SkipWithError("cannot open the database");
    return;
  }
  size_t n = 0;
  for (auto _ : state) {
    if (!writeThroughDatabase(*db, events[n++ % events.size()])) {
      state.SkipWithError("write failed");
      return;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RawEventWritesThroughDatabase)->Unit(benchmark::kMicrosecond);

// The three in one run, interleaved in batches, with the same events and
// settings: the database, bare SQLite encoding each event as the database must
// (the same work), and bare SQLite inserting rows encoded before timing.
void BM_RawEventWritesVsBareInserts(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  const auto& events = sampleEvents();
  std::vector<std::vector<uint8_t>> rows;
  for (const auto& event : events) rows.push_back(encodedRow(*event));
  auto db = openDatabase();
  BareDatabase bare(scratch() / "bare-interleaved.sql", kStoreSettings);
  BareDatabase encoded(scratch() / "bare-encoded.sql", kStoreSettings);
  if (!db || !bare.ok() || !encoded.ok()) {
    state.SkipWithError("cannot open the databases");
    return;
  }
  constexpr size_t kBatch = 16;
  Clock::duration database_time{}, bare_time{}, encoded_time{};
  size_t n = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    for (size_t k = n; k < n + kBatch; ++k) {
      if (!writeThroughDatabase(*db, events[k % events.size()])) {
        state.SkipWithError("write failed");
        return;
      }
    }
    const auto t1 = Clock::now();
    for (size_t k = n; k < n + kBatch; ++k) {
      const GWLEvent& event = *events[k % events.size()];
      if (!bare.insert(event, encodedRow(event))) {
        state.SkipWithError("insert failed");
        return;
      }
    }
    const auto t2 = Clock::now();
    for (size_t k = n; k < n + kBatch; ++k) {
      if (!encoded.insert(*events[k % events.size()], rows[k % rows.size()])) {
        state.SkipWithError("insert failed");
        return;
      }
    }
    const auto t3 = Clock::now();
    n += kBatch;
    database_time += t1 - t0;
    bare_time += t2 - t1;
    encoded_time += t3 - t2;
  }
  const double writes = static_cast<double>(n);
  const double database_s = std::chrono::duration<double>(database_time).count();
  const double bare_s = std::chrono::duration<double>(bare_time).count();
  const double encoded_s = std::chrono::duration<double>(encoded_time).count();
  state.counters["database_writes/s"] = writes / database_s;
  state.counters["bare_writes/s"] = writes / bare_s;
  state.counters["database/bare_rate"] = bare_s / database_s;
  state.counters["database/preencoded_rate"] = encoded_s / database_s;
}
BENCHMARK(BM_RawEventWritesVsBareInserts)->Unit(benchmark::kMillisecond);

// arg 0: WAL + NORMAL (the store's choice); 1: WAL + FULL; 2: rollback journal + FULL.
void BM_BareSqliteInserts(benchmark::State& state) {
  const char* settings[] = {kStoreSettings, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;",
                            "PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL;"};
  const char* labels[] = {"WAL/NORMAL", "WAL/FULL", "DELETE/FULL"};
  BareDatabase bare(scratch() / "bare.sql", settings[state.range(0)]);
  if (!bare.ok()) {
    state.SkipWithError("cannot open the database");
    return;
  }
  // The same rows, encoded before timing: what is left is SQLite's own cost.
  std::vector<std::vector<uint8_t>> rows;
  for (const auto& event : sampleEvents()) rows.push_back(encodedRow(*event));
  size_t n = 0;
  for (auto _ : state) {
    const size_t k = n++ % rows.size();
    if (!bare.insert(*sampleEvents()[k], rows[k])) {
      state.SkipWithError("insert failed");
      break;
    }
  }
  state.SetLabel(labels[state.range(0)]);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BareSqliteInserts)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

}  // namespace
