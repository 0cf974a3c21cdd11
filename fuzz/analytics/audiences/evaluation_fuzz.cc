// The audience evaluator over a temporary measurement database, fed with
// definitions from a configuration, damaged stored rows, events and the user
// properties of a bundle, the way the engine calls it: the definitions are
// replaced, rows of the database's own are put beside them, then two bundles
// run (an optional session reset, each event, each user property with the
// bundle's cache, the results for the bundle), each step in a transaction.
//
// Whatever the bytes: nothing crashes or hangs; every filter row stored from
// the definitions names a filter ID within the limit; every bundled result
// names its audience and has an evaluated filter; and every result row the
// evaluator wrote decodes with status and results of equal length (a row it
// only carried, or rolled without change, keeps the bytes it had).
//
// Input: one flags byte, then length-prefixed chunks (two bytes, little
// endian), as far as the bytes go: up to four audiences; up to three stored
// rows (an audience byte, current and previous results); a damaged filter row
// (audience byte, filter ID byte, data); a counts byte; up to seven events (a
// name chooser byte, a time byte and a value chunk each); up to three wire
// user properties.
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "analytics/audiences/GWLAudience.h"
#include "analytics/audiences/GWLAudienceEvaluation.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLPaths.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/foundation/storage/GWLEventAggregates.h"
#include "analytics/foundation/values/GWLNameTables.h"
#include "analytics/wire/GWLPBAudience.h"
#include "analytics/wire/GWLPBAudienceLeafFilterResult.h"
#include "analytics/wire/GWLPBEventFilter.h"
#include "analytics/wire/GWLPBFilter.h"
#include "analytics/wire/GWLPBResultData.h"
#include "analytics/wire/GWLPBUserAttribute.h"
#include "analytics/wire/NANO.h"
#include "fuzz/analytics/audiences/ChunkReader.h"
#include "fuzz/analytics/foundation/QuietLibraryMonitor.h"
#include "platform/dispatch/Clock.h"
#include "platform/storage/Paths.h"
#include "platform/text/Utf8.h"
#include "fuzz/ScratchDirectory.h"

namespace {

namespace fs = std::filesystem;
using fuzz_support::check;

const std::string& databasePath() {
  static const std::string path = [] {
    const fs::path root = fuzz_support::processScratchDirectory("audience_evaluation_fuzz");
    platform::Paths::setCurrent(platform::Paths::open(root.string()));
    return GWLMeasurementDirectoryPath(kGWLDatabaseFileName);
  }();
  return path;
}

// The default limits, or the widest a configuration may set.
std::shared_ptr<GWLRemoteConfig> configuration(bool widest) {
  static const auto defaults = std::make_shared<GWLRemoteConfig>(GWLLibraryMonitor::monitor());
  static const auto wide = [] {
    auto config = std::make_shared<GWLRemoteConfig>(GWLLibraryMonitor::monitor());
    config->replaceCachedValues({{kGWLSettingMaxFiltersPerAudience, "100"},
                                 {kGWLSettingMaxParametersPerFilter, "250"},
                                 {kGWLSettingMaxFilterResultCount, "1"}});
    return config;
  }();
  return widest ? wide : defaults;
}

std::string textOf(std::span<const uint8_t> bytes) {
  return platform::utf8::replacingInvalid(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// The event names and parameter names the stored definitions test, so that
// events reach their filters.
struct Names {
  std::vector<std::string> events{"level_up"};
  std::vector<std::string> parameters{"level"};
};

Names namesOf(GWLDatabase& database) {
  Names names;
  auto rows = database.sqliteStore()->recordsForQuery("SELECT event_name, data FROM event_filters", {});
  for (const auto& row : rows.value_or(std::vector<platform::Dictionary>{})) {
    auto name = row.find("event_name");
    if (name != row.end() && name->second.stringValue()) names.events.push_back(*name->second.stringValue());
    auto data = row.find("data");
    if (data == row.end() || !data->second.bytesValue()) continue;
    auto filter = GWLPBEventFilter::initWithBuffer(*data->second.bytesValue());
    for (const auto& condition : NANOGetMessageArray<GWLPBFilter>(filter, GWLPBEventFilter::Field::filters)
                                     .value_or(std::vector<std::shared_ptr<GWLPBFilter>>{})) {
      if (auto parameter = NANOGetString(condition, GWLPBFilter::Field::parameter_name)) {
        names.parameters.push_back(*parameter);
      }
    }
  }
  return names;
}

GWLValue valueOf(uint8_t kind, std::span<const uint8_t> bytes) {
  int64_t integer = 0;
  double real = 0;
  std::memcpy(&integer, bytes.data(), std::min(bytes.size(), sizeof integer));
  std::memcpy(&real, bytes.data(), std::min(bytes.size(), sizeof real));
  switch (kind & 3) {
    case 0: return *GWLValue::initWithString(textOf(bytes));
    case 1: return GWLValue::initWithDouble(real);
    case 2: return GWLValue::initWithInt64(integer);
    default: return *GWLValue::initWithArray(platform::Array{platform::Object(textOf(bytes))});
  }
}

std::shared_ptr<GWLPBResultData> decoded(const std::optional<std::vector<uint8_t>>& bytes) {
  if (!bytes || bytes->empty()) return nullptr;
  return GWLPBResultData::initWithBuffer(*bytes);
}

int testOneInput(const uint8_t* data, size_t size) {
  fuzz_support::ChunkReader reader(data, size);
  const uint8_t flags = reader.byte();
  const std::string& path = databasePath();
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) fs::remove(path + suffix);
  auto config = configuration(flags & 1);
  GWLDatabase::Dependencies dependencies;
  dependencies.clock = std::make_shared<platform::ManualClock>(1'700'000'000.0);
  dependencies.remoteConfig = [config] { return config; };
  auto database = GWLDatabase::initWithDatabaseName(kGWLDatabaseFileName, nullptr, dependencies);
  if (!database) return 0;
  GWLAudience::Dependencies audienceDependencies;
  audienceDependencies.monitor = GWLLibraryMonitor::monitor();
  audienceDependencies.remoteConfig = [config] { return config; };
  auto audience = GWLAudience::initWithDatabase(database, audienceDependencies);

  // Definitions, as a configuration brings them.
  GWLAudienceEvaluating::Audiences audiences;
  for (int i = (flags >> 1) & 3; i >= 0; --i) {
    auto bytes = reader.chunk();
    if (auto message = GWLPBAudience::initWithBuffer(bytes)) audiences.push_back(message);
  }
  check(database->performTransaction([&] { return audience->updateAudiences(audiences); }));
  auto filterIDs = database->sqliteStore()->recordsForQuery(
      "SELECT filter_id FROM event_filters UNION ALL SELECT filter_id FROM property_filters", {});
  for (const auto& row : filterIDs.value_or(std::vector<platform::Dictionary>{})) {
    const auto id = row.at("filter_id").intValue();
    check(id && *id >= 0 && *id < config->maxFiltersPerAudience());
  }
  const Names names = namesOf(*database);

  // Rows of the database's own: results, and a damaged filter row.
  std::set<std::vector<uint8_t>> carried;
  std::set<int32_t> injected;
  for (int i = (flags >> 3) & 3; i > 0; --i) {
    const int64_t audienceID = static_cast<int8_t>(reader.byte());
    injected.insert(static_cast<int32_t>(audienceID));
    auto current = reader.chunk();
    auto previous = reader.chunk();
    carried.emplace(current.begin(), current.end());
    carried.emplace(previous.begin(), previous.end());
    // A row the store refuses is simply not there: the evaluation must cope either way.
    (void)database->sqliteStore()->upsertRecord({{"audience_id", audienceID},
                                           {"current_results", platform::Bytes(current.begin(), current.end())},
                                           {"previous_results", platform::Bytes(previous.begin(), previous.end())}},
                                          "audience_filter_values");
  }
  {
    const int64_t audienceID = static_cast<int8_t>(reader.byte());
    const int64_t filterID = static_cast<int8_t>(reader.byte());
    auto bytes = reader.chunk();
    (void)database->sqliteStore()->upsertRecord({{"audience_id", audienceID},
                                           {"filter_id", filterID},
                                           {"event_name", names.events.back()},
                                           {"data", platform::Bytes(bytes.begin(), bytes.end())},
                                           {"session_scoped", int64_t{filterID & 1}}},
                                          "event_filters");
  }

  // Events and user properties of the bundles.
  struct Event {
    std::string name;
    GWLParameters parameters;
    double time;
  };
  const uint8_t counts = reader.byte();
  std::vector<Event> events;
  for (int i = counts & 7; i > 0; --i) {
    const uint8_t chooser = reader.byte();
    const double time = 1'700'000'000.0 + reader.byte() / 4.0;
    auto value = reader.chunk();
    GWLParameters parameters;
    parameters.insert_or_assign(names.parameters[chooser % names.parameters.size()], valueOf(chooser >> 4, value));
    events.push_back({names.events[(chooser >> 2) % names.events.size()], parameters, time});
  }
  std::vector<std::shared_ptr<GWLPBUserAttribute>> properties;
  for (int i = (counts >> 4) & 3; i > 0; --i) {
    if (auto property = GWLPBUserAttribute::initWithBuffer(reader.chunk())) properties.push_back(property);
  }

  for (int bundle = 0; bundle < 2; ++bundle) {
    if (flags & (0x20 << bundle)) {
      (void)database->performTransaction([&] { return audience->clearEvaluationResultsForSessionScopedFilters(); });
    }
    (void)database->performTransaction([&] {
      auto cache = audience->newTimestampsCache();
      for (const auto& event : events) {
        auto aggregates = GWLEventAggregates::initWithName(event.name, 1 + bundle, 1, 1, event.time);
        if (!audience->evaluateFiltersForEventName(event.name, event.parameters, aggregates, event.time, cache)) {
          return false;
        }
      }
      for (const auto& property : properties) {
        (void)audience->evaluateFiltersForNanoUserProperty(property, cache, 1'700'000'000.0);
      }
      auto results = audience->resultsForBundling();
      if (!results) return false;
      for (const auto& leaf : *results) {
        check(NANOHasField(leaf, GWLPBAudienceLeafFilterResult::Field::audience_id));
        auto current =
            NANOGetMessage<GWLPBResultData>(leaf, GWLPBAudienceLeafFilterResult::Field::current_results);
        check(current && GWLAudienceHasAnyResultBit(GWLAudienceResultWords::of(current).status));
      }
      return true;
    });
  }

  for (const auto& [audienceID, row] :
       database->allFilterResults().value_or(std::map<int32_t, std::shared_ptr<GWLFilterResult>>{})) {
    const auto& bytes = row->currentResults();
    // The evaluator never writes a row without current results.
    if (!bytes || bytes->empty()) {
      check(injected.count(audienceID));
      continue;
    }
    if (carried.count(*bytes)) continue;
    auto current = decoded(bytes);
    check(current != nullptr);
    const GWLAudienceResultWords words = GWLAudienceResultWords::of(current);
    if (words.status.size() == words.results.size()) continue;
    // Rolled unchanged but for its sequence times: the words are those of a carried row.
    bool wordsCarried = false;
    for (const auto& stored : carried) {
      const GWLAudienceResultWords before = GWLAudienceResultWords::of(decoded(stored));
      wordsCarried = wordsCarried || (before.status == words.status && before.results == words.results);
    }
    check(wordsCarried);
  }
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::runWithQuietLibraryMonitor(testOneInput, data, size);
}
