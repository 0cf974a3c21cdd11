// One bundle's audience work, as the engine does it in one transaction: a
// cache for the bundle, each of its 500 events (20 names) against the stored
// event filters of its name, each of its 25 user properties against theirs,
// then the results for the bundle. Beside it, bare SQLite doing the database
// part of the same work in one exclusive transaction, on its own connection
// to the same file with statements prepared once: reading the same filter
// rows and result rows, and writing the same number of result rows, of the
// sizes it read.
//
// The definitions: 100 audiences of 10 filters, 8 event filters (each on
// another of the 20 names) and 2 property filters (of the 25 properties).
// Every filter is dynamic, session scoped or sequence and every event and
// property carries what its conditions test, so that each evaluation gives a
// result and rewrites its audience's row: the evaluator writes exactly the
// rows the bare side writes. Argument 0: number and plain string conditions;
// 1: the string conditions are regular expressions (compiled once per
// bundle, in the bundle's cache).
//
// Counters: evaluator_ms and bare_ms per bundle, and evaluator/bare.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "analytics/audiences/GWLAudience.h"
#include "bench/analytics/audiences/BareStatements.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLASLLogger.h"
#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/core/GWLPaths.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/foundation/storage/GWLEventAggregates.h"
#include "analytics/wire/GWLPBAudience.h"
#include "analytics/wire/GWLPBEventFilter.h"
#include "analytics/wire/GWLPBFilter.h"
#include "analytics/wire/GWLPBNumberFilter.h"
#include "analytics/wire/GWLPBPropertyFilter.h"
#include "analytics/wire/GWLPBStringFilter.h"
#include "analytics/wire/GWLPBUserAttribute.h"
#include "analytics/wire/NANO.h"
#include "platform/dispatch/Clock.h"
#include "platform/storage/Paths.h"

namespace {

namespace fs = std::filesystem;

constexpr double kStart = 1'700'000'000.0;
constexpr int kAudiences = 100;
constexpr int kEventFiltersPerAudience = 8;
constexpr int kPropertyFiltersPerAudience = 2;
constexpr int kEventNames = 20;
constexpr int kProperties = 25;
constexpr int kEvents = 500;

class SilentLogger : public GWLASLLogger {
 public:
  void logMessage(const std::string&, const std::string&, int64_t, int64_t) override {}
};

std::shared_ptr<GWLMonitor> quietMonitor() {
  static const std::shared_ptr<GWLMonitor> monitor = [] {
    GWLMonitor::Dependencies dependencies;  // no preferences: nothing is stored
    dependencies.clock = std::make_shared<platform::ManualClock>();
    auto made = GWLMonitor::create(6, std::make_shared<SilentLogger>(), kGWLLibraryVersion, dependencies);
    GWLLibraryMonitor::resetForTesting(made);
    return made;
  }();
  return monitor;
}

const std::string& databasePath() {
  static const std::string path = [] {
    const fs::path dir = fs::temp_directory_path() / ("audience_evaluation_bench." + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    platform::Paths::setCurrent(platform::Paths::open(dir.string()));
    return GWLMeasurementDirectoryPath(kGWLDatabaseFileName);
  }();
  return path;
}

std::string eventName(int n) { return "event_" + std::to_string(n % kEventNames); }
std::string propertyName(int n) { return "property_" + std::to_string(n % kProperties); }

std::shared_ptr<GWLPBFilter> textCondition(const std::string& parameter, int32_t matchType,
                                           const std::string& expression) {
  auto text = GWLPBStringFilter::initWithMessageInfo();
  NANOSetInt32(text, GWLPBStringFilter::Field::match_type, matchType);
  NANOSetString(text, GWLPBStringFilter::Field::expression, expression);
  auto condition = GWLPBFilter::initWithMessageInfo();
  NANOSetMessage(condition, GWLPBFilter::Field::string_filter, text);
  if (!parameter.empty()) NANOSetString(condition, GWLPBFilter::Field::parameter_name, parameter);
  return condition;
}

std::shared_ptr<GWLPBFilter> numberCondition(const std::string& parameter, int32_t type, const std::string& value) {
  auto number = GWLPBNumberFilter::initWithMessageInfo();
  NANOSetInt32(number, GWLPBNumberFilter::Field::comparison_type, type);
  NANOSetString(number, GWLPBNumberFilter::Field::comparison_value, value);
  auto condition = GWLPBFilter::initWithMessageInfo();
  NANOSetMessage(condition, GWLPBFilter::Field::number_filter, number);
  if (!parameter.empty()) NANOSetString(condition, GWLPBFilter::Field::parameter_name, parameter);
  return condition;
}

GWLAudienceEvaluating::Audiences definitions(bool regex) {
  GWLAudienceEvaluating::Audiences audiences;
  for (int a = 0; a < kAudiences; ++a) {
    auto audience = GWLPBAudience::initWithMessageInfo();
    NANOSetInt32(audience, GWLPBAudience::Field::audience_id, a);
    std::vector<NANOValue> events;
    std::vector<NANOValue> properties;
    for (int k = 0; k < kEventFiltersPerAudience + kPropertyFiltersPerAudience; ++k) {
      const int kind = (a + k) % 3;  // dynamic, session scoped, sequence
      const std::string sheet = regex ? "^sheet_[0-9]*" + std::to_string(k) + "$" : "sheet_" + std::to_string(k);
      if (k < kEventFiltersPerAudience) {
        using F = GWLPBEventFilter::Field;
        auto filter = GWLPBEventFilter::initWithMessageInfo();
        NANOSetInt32(filter, F::filter_id, k);
        NANOSetString(filter, F::event_name, eventName(a + k));
        NANOSetArray(filter, F::filters,
                     std::vector<NANOValue>{numberCondition("level", 2, std::to_string(a % 10)),
                                            textCondition("sheet", regex ? 1 : 5, sheet)});
        NANOSetBool(filter, kind == 0 ? F::dynamic : kind == 1 ? F::session_scoped : F::sequence, true);
        events.emplace_back(filter);
      } else {
        using F = GWLPBPropertyFilter::Field;
        auto filter = GWLPBPropertyFilter::initWithMessageInfo();
        NANOSetInt32(filter, F::filter_id, k);
        NANOSetString(filter, F::property_name, propertyName(a * kPropertyFiltersPerAudience + k));
        NANOSetMessage(filter, F::value_filter, textCondition("", regex ? 1 : 4, regex ? "^tier_[a-z]+$" : "gold"));
        NANOSetBool(filter, kind == 0 ? F::dynamic : kind == 1 ? F::session_scoped : F::sequence, true);
        properties.emplace_back(filter);
      }
    }
    NANOSetArray(audience, GWLPBAudience::Field::event_filters, events);
    NANOSetArray(audience, GWLPBAudience::Field::property_filters, properties);
    audiences.push_back(audience);
  }
  return audiences;
}

struct Bundle {
  struct Event {
    std::string name;
    GWLParameters parameters;
    std::shared_ptr<GWLEventAggregates> aggregates;
    double time;
  };
  std::vector<Event> events;
  std::vector<std::shared_ptr<GWLPBUserAttribute>> properties;
};

Bundle bundle(int number) {
  Bundle out;
  const double start = kStart + number * 3600.0;
  for (int e = 0; e < kEvents; ++e) {
    Bundle::Event event;
    event.name = eventName(e);
    event.time = start + e;
    event.parameters = {{"level", GWLValue::initWithInt64(e % 12)},
                        {"sheet", *GWLValue::initWithString("sheet_" + std::to_string(e % 9))},
                        {"value", GWLValue::initWithDouble(e * 0.5)}};
    event.aggregates = GWLEventAggregates::initWithName(event.name, 1 + number * kEvents + e, 1, 1 + e, event.time);
    out.events.push_back(std::move(event));
  }
  for (int p = 0; p < kProperties; ++p) {
    auto attribute = GWLPBUserAttribute::initWithMessageInfo();
    NANOSetString(attribute, GWLPBUserAttribute::Field::name, propertyName(p));
    NANOSetString(attribute, GWLPBUserAttribute::Field::string_value, p % 2 ? "tier_gold" : "tier_silver");
    NANOSetInt64(attribute, GWLPBUserAttribute::Field::set_timestamp, static_cast<int64_t>(start * 1000));
    out.properties.push_back(attribute);
  }
  return out;
}

// The database part of one bundle on a connection of its own.
class BareBundle {
 public:
  explicit BareBundle(const std::string& path)
      : statements_(path, {"SELECT rowid, * FROM event_filters WHERE event_name = ?",
                           "SELECT rowid, * FROM property_filters WHERE property_name = ?",
                           "SELECT rowid, * FROM audience_filter_values WHERE audience_id = ?",
                           "INSERT OR REPLACE INTO audience_filter_values (audience_id, current_results, "
                           "previous_results) VALUES (?, ?, ?)",
                           "SELECT rowid, * FROM audience_filter_values ORDER BY rowid",
                           "BEGIN EXCLUSIVE TRANSACTION", "END TRANSACTION"}) {}

  bool ok() const { return statements_.ok(); }

  // Every name's filters, each touched audience's row read and written
  // back; then every row read and written back. Answers the rows written.
  int64_t run(const Bundle& bundle) {
    int64_t written = 0;
    if (!done(statements_[kBegin])) return -1;
    for (const auto& event : bundle.events) {
      if (!evaluate(statements_[kEventFilters], event.name, written)) return -1;
    }
    for (const auto& property : bundle.properties) {
      auto name = NANOGetString(property, GWLPBUserAttribute::Field::name).value_or("");
      if (!evaluate(statements_[kPropertyFilters], name, written)) return -1;
    }
    std::vector<Row> rows;
    sqlite3_stmt* all = statements_[kAllResults];
    while (sqlite3_step(all) == SQLITE_ROW) rows.push_back(rowOf(all, 1));
    sqlite3_reset(all);
    for (const auto& row : rows) {
      if (!write(row)) return -1;
      ++written;
    }
    return done(statements_[kEnd]) ? written : -1;
  }

 private:
  // The statements in the order of the constructor's queries.
  enum { kEventFilters, kPropertyFilters, kResult, kWrite, kAllResults, kBegin, kEnd };
  struct Row {
    int64_t audienceID = 0;
    std::vector<uint8_t> current;
    std::vector<uint8_t> previous;
  };

  static std::vector<uint8_t> blob(sqlite3_stmt* statement, int column) {
    const auto* bytes = static_cast<const uint8_t*>(sqlite3_column_blob(statement, column));
    return std::vector<uint8_t>(bytes, bytes + sqlite3_column_bytes(statement, column));
  }
  static Row rowOf(sqlite3_stmt* statement, int first) {
    return {sqlite3_column_int64(statement, first), blob(statement, first + 1), blob(statement, first + 2)};
  }
  static bool done(sqlite3_stmt* statement) {
    const int result = sqlite3_step(statement);
    sqlite3_reset(statement);
    return result == SQLITE_DONE;
  }

  bool evaluate(sqlite3_stmt* filters, const std::string& name, int64_t& written) {
    std::vector<int64_t> audiences;
    sqlite3_bind_text(filters, 1, name.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(filters) == SQLITE_ROW) {
      audiences.push_back(sqlite3_column_int64(filters, 1));
      blob(filters, 4);  // the filter's data, as the evaluator reads it
    }
    sqlite3_reset(filters);
    for (int64_t audienceID : audiences) {
      sqlite3_stmt* read = statements_[kResult];
      sqlite3_bind_int64(read, 1, audienceID);
      Row row{audienceID, {1}, {}};
      if (sqlite3_step(read) == SQLITE_ROW) row = rowOf(read, 1);
      sqlite3_reset(read);
      if (!write(row)) return false;
      ++written;
    }
    return true;
  }

  bool write(const Row& row) {
    sqlite3_stmt* statement = statements_[kWrite];
    sqlite3_bind_int64(statement, 1, row.audienceID);
    sqlite3_bind_blob(statement, 2, row.current.data(), static_cast<int>(row.current.size()), SQLITE_STATIC);
    if (row.previous.empty()) {
      sqlite3_bind_null(statement, 3);
    } else {
      sqlite3_bind_blob(statement, 3, row.previous.data(), static_cast<int>(row.previous.size()), SQLITE_STATIC);
    }
    return done(statement);
  }

  bench_support::BareStatements statements_;
};

bool runBundle(GWLDatabase& database, GWLAudience& audience, const Bundle& bundle, size_t& reported) {
  return database.performTransaction([&] {
    auto cache = audience.newTimestampsCache();
    for (const auto& event : bundle.events) {
      if (!audience.evaluateFiltersForEventName(event.name, event.parameters, event.aggregates, event.time, cache)) {
        return false;
      }
    }
    const double bundleStart = bundle.events.front().time;
    for (const auto& property : bundle.properties) {
      if (!audience.evaluateFiltersForNanoUserProperty(property, cache, bundleStart)) return false;
    }
    auto results = audience.resultsForBundling();
    if (!results) return false;
    reported = results->size();
    return true;
  });
}

void BM_BundleVersusBareSQLite(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  const bool regex = state.range(0) != 0;
  const auto monitor = quietMonitor();
  const std::string& path = databasePath();
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) fs::remove(path + suffix);
  auto config = std::make_shared<GWLRemoteConfig>(monitor);
  GWLDatabase::Dependencies dependencies;
  dependencies.clock = std::make_shared<platform::ManualClock>(kStart);
  dependencies.remoteConfig = [config] { return config; };
  auto database = GWLDatabase::initWithDatabaseName(kGWLDatabaseFileName, nullptr, dependencies);
  GWLAudience::Dependencies audienceDependencies;
  audienceDependencies.monitor = monitor;
  audienceDependencies.remoteConfig = [config] { return config; };
  auto audience = database ? GWLAudience::initWithDatabase(database, audienceDependencies) : nullptr;
  if (!audience || !database->performTransaction([&] { return audience->updateAudiences(definitions(regex)); })) {
    state.SkipWithError("cannot store the definitions");
    return;
  }
  BareBundle bare(path);
  if (!bare.ok()) {
    state.SkipWithError("cannot prepare the bare statements");
    return;
  }
  // A first bundle makes every result row; the measured ones find them.
  size_t reported = 0;
  int number = 0;
  if (!runBundle(*database, *audience, bundle(number++), reported) || reported != kAudiences) {
    state.SkipWithError("the first bundle failed");
    return;
  }
  Clock::duration evaluatorTime{}, bareTime{};
  int64_t bundles = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const Bundle next = bundle(number++);
    state.ResumeTiming();
    const auto t0 = Clock::now();
    if (!runBundle(*database, *audience, next, reported) || reported != kAudiences) {
      state.SkipWithError("a bundle failed");
      return;
    }
    const auto t1 = Clock::now();
    if (bare.run(next) < 0) {
      state.SkipWithError("the bare bundle failed");
      return;
    }
    const auto t2 = Clock::now();
    evaluatorTime += t1 - t0;
    bareTime += t2 - t1;
    ++bundles;
  }
  const double evaluatorMs = std::chrono::duration<double, std::milli>(evaluatorTime).count() / bundles;
  const double bareMs = std::chrono::duration<double, std::milli>(bareTime).count() / bundles;
  state.counters["evaluator_ms"] = evaluatorMs;
  state.counters["bare_ms"] = bareMs;
  state.counters["evaluator/bare"] = evaluatorMs / bareMs;
}
BENCHMARK(BM_BundleVersusBareSQLite)->ArgName("regex")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
