// A fixture for the audience evaluator over a real measurement database in a
// data directory of the test's own: stored filter rows, result rows read back
// as messages, result messages built from words and times, and raw SQL on the
// file (to make reads or writes fail, or count row writes).
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "AudienceFiltersTestSupport.h"
#include "analytics/foundation/storage/DatabaseTestSupport.h"
#include "analytics/audiences/GWLAudience.h"
#include "analytics/audiences/GWLAudienceMessageDescription.h"
#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLPaths.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/foundation/storage/GWLEventAggregates.h"
#include "analytics/foundation/values/GWLUserAttribute.h"
#include "analytics/wire/GWLPBAudienceLeafFilterResult.h"
#include "analytics/wire/GWLPBDynamicFilterResultTimestamp.h"
#include "analytics/wire/GWLPBResultData.h"
#include "analytics/wire/GWLPBSequenceFilterResultTimestamp.h"
#include "analytics/wire/GWLPBUserAttribute.h"
#include "platform/dispatch/NotificationCenter.h"

namespace audience_test {

// Filter flags as the tables write them.
enum FilterKind : unsigned { kPlain = 0, kDynamic = 1, kSequence = 2, kSessionScoped = 4 };

inline std::shared_ptr<GWLPBEventFilter> withKind(std::shared_ptr<GWLPBEventFilter> filter, unsigned kind) {
  using F = GWLPBEventFilter::Field;
  if (kind & kDynamic) NANOSetBool(filter, F::dynamic, true);
  if (kind & kSequence) NANOSetBool(filter, F::sequence, true);
  if (kind & kSessionScoped) NANOSetBool(filter, F::session_scoped, true);
  return filter;
}

inline std::shared_ptr<GWLPBPropertyFilter> withKind(std::shared_ptr<GWLPBPropertyFilter> filter, unsigned kind) {
  using F = GWLPBPropertyFilter::Field;
  if (kind & kDynamic) NANOSetBool(filter, F::dynamic, true);
  if (kind & kSequence) NANOSetBool(filter, F::sequence, true);
  if (kind & kSessionScoped) NANOSetBool(filter, F::session_scoped, true);
  return filter;
}

// Times of one result message: filter ID to the latest time (dynamic) or to
// the times (sequence).
using DynamicTimes = std::map<int32_t, int64_t>;
using SequenceTimes = std::map<int32_t, std::vector<int64_t>>;

inline std::shared_ptr<GWLPBResultData> resultData(std::vector<uint64_t> status, std::vector<uint64_t> results,
                                                   DynamicTimes dynamic = {}, SequenceTimes sequence = {}) {
  auto data = GWLPBResultData::initWithMessageInfo();
  using F = GWLPBResultData::Field;
  NANOSetArray(data, F::status, std::vector<NANOValue>(status.begin(), status.end()));
  NANOSetArray(data, F::results, std::vector<NANOValue>(results.begin(), results.end()));
  std::vector<NANOValue> dynamicRecords;
  for (const auto& [filterID, time] : dynamic) {
    auto record = GWLPBDynamicFilterResultTimestamp::initWithMessageInfo();
    NANOSetInt32(record, GWLPBDynamicFilterResultTimestamp::Field::filter_id, filterID);
    NANOSetInt64(record, GWLPBDynamicFilterResultTimestamp::Field::timestamp, time);
    dynamicRecords.emplace_back(record);
  }
  NANOSetArray(data, F::dynamic_filter_timestamps, dynamicRecords);
  std::vector<NANOValue> sequenceRecords;
  for (const auto& [filterID, times] : sequence) {
    auto record = GWLPBSequenceFilterResultTimestamp::initWithMessageInfo();
    NANOSetInt32(record, GWLPBSequenceFilterResultTimestamp::Field::filter_id, filterID);
    NANOSetArray(record, GWLPBSequenceFilterResultTimestamp::Field::eval_timestamps,
                 std::vector<NANOValue>(times.begin(), times.end()));
    sequenceRecords.emplace_back(record);
  }
  NANOSetArray(data, F::sequence_filter_timestamps, sequenceRecords);
  return data;
}

inline std::vector<uint8_t> bytesOf(const std::shared_ptr<NANOMessageBase>& message) {
  return message ? message->protoBuffer().value_or(std::vector<uint8_t>{}) : std::vector<uint8_t>{};
}

// A message as a test failure shows it; null reads "(null)".
inline std::string describe(const std::shared_ptr<NANOMessageBase>& message) {
  return GWLAudienceMessageDescription(message.get());
}

class AudienceDatabaseTest : public AudienceFiltersTest {
 protected:
  static constexpr double kNow = 1'700'000'000;

  void SetUp() override {
    AudienceFiltersTest::SetUp();
    GWLMeasurementRegistry::resetForTesting(monitor_);
    GWLPersistedConfig::Dependencies settings;
    settings.clock = clock_;
    settings.monitor = monitor_;
    settings.notificationCenter = platform::NotificationCenter::create();
    settings.randomBelow = [](uint64_t bound) { return uint64_t{3'600'000} % bound; };
    settings_ = GWLPersistedConfig::create(kGWLPersistedConfigSuiteName, settings);
    GWLDatabase::Dependencies dependencies;
    dependencies.clock = clock_;
    dependencies.remoteConfig = [config = config_] { return config; };
    database_ = GWLDatabase::initWithDatabaseName(kGWLDatabaseFileName, settings_, dependencies);
    ASSERT_TRUE(database_);
    GWLAudience::Dependencies audienceDependencies;
    audienceDependencies.monitor = monitor_;
    audienceDependencies.remoteConfig = [config = config_] { return config; };
    audience_ = GWLAudience::initWithDatabase(database_, audienceDependencies);
    ASSERT_TRUE(audience_);
  }

  void TearDown() override {
    audience_.reset();
    database_.reset();
    GWLMeasurementRegistry::resetForTesting();
    AudienceFiltersTest::TearDown();
  }

  void useSettings(const std::map<std::string, std::string>& settings) { config_->replaceCachedValues(settings); }

  // ---- stored filters ----
  void storeEventFilter(int32_t audienceID, const std::shared_ptr<GWLPBEventFilter>& filter) {
    using F = GWLPBEventFilter::Field;
    auto row = std::make_shared<GWLEventFilter>(audienceID, NANOGetInt32(filter, F::filter_id),
                                                NANOGetString(filter, F::event_name).value_or(""), bytesOf(filter),
                                                NANOGetBool(filter, F::session_scoped), NANOGetBool(filter, F::dynamic),
                                                NANOGetBool(filter, F::sequence));
    ASSERT_TRUE(database_->updateEventFilters({row}));
  }
  void storePropertyFilter(int32_t audienceID, const std::shared_ptr<GWLPBPropertyFilter>& filter) {
    using F = GWLPBPropertyFilter::Field;
    auto row = std::make_shared<GWLPropertyFilter>(
        audienceID, NANOGetInt32(filter, F::filter_id), NANOGetString(filter, F::property_name).value_or(""),
        bytesOf(filter), NANOGetBool(filter, F::session_scoped), NANOGetBool(filter, F::dynamic),
        NANOGetBool(filter, F::sequence));
    ASSERT_TRUE(database_->updatePropertyFilters({row}));
  }

  // ---- result rows ----
  void storeResults(int32_t audienceID, const std::optional<std::vector<uint8_t>>& current,
                    const std::optional<std::vector<uint8_t>>& previous = std::nullopt) {
    ASSERT_TRUE(database_->updateFilterResults({std::make_shared<GWLFilterResult>(audienceID, current, previous)}));
  }
  std::shared_ptr<GWLFilterResult> row(int32_t audienceID) { return database_->filterResultForAudienceID(audienceID); }
  // The row's current results as a message (null without a row).
  std::shared_ptr<GWLPBResultData> current(int32_t audienceID) {
    auto found = row(audienceID);
    if (!found || !found->currentResults()) return nullptr;
    return GWLPBResultData::initWithBuffer(*found->currentResults());
  }
  std::shared_ptr<GWLPBResultData> previous(int32_t audienceID) {
    auto found = row(audienceID);
    if (!found || !found->previousResults()) return nullptr;
    return GWLPBResultData::initWithBuffer(*found->previousResults());
  }

  // ---- what the evaluator is handed ----
  std::shared_ptr<GWLEventAggregates> aggregates(const std::string& name, int32_t lifetime = 1, int32_t session = 1) {
    return GWLEventAggregates::initWithName(name, lifetime, 1, session, kNow);
  }
  bool event(const std::string& name, double time, GWLParameters parameters = {},
             const std::shared_ptr<GWLAudienceTimestampsCache>& cache = nullptr) {
    return audience_->evaluateFiltersForEventName(name, parameters, aggregates(name), time, cache);
  }
  bool property(const std::string& name, GWLValue value, double time,
                const std::shared_ptr<GWLAudienceTimestampsCache>& cache = nullptr) {
    return audience_->evaluateFiltersForUserProperty(GWLUserAttribute::initWithOrigin("app", name, value, time), cache,
                                                     time);
  }
  static GWLValue text(const std::string& value) { return *GWLValue::initWithString(value); }

  // ---- raw SQL ----
  std::string path() const { return GWLMeasurementDirectoryPath(kGWLDatabaseFileName); }
  void sql(const std::string& statements) { database_test::rawSQL(path(), statements); }
  // From now on, counts the writes of result rows (writeCount()).
  void countResultWrites() {
    sql("CREATE TABLE result_writes (audience_id INTEGER);"
        "CREATE TRIGGER count_result_writes AFTER INSERT ON audience_filter_values "
        "BEGIN INSERT INTO result_writes VALUES (NEW.audience_id); END;");
  }
  int64_t writeCount() {
    platform::Error error;
    auto rows = database_->sqliteStore()->recordsForQuery("SELECT COUNT(*) AS n FROM result_writes", {}, &error);
    if (!rows || rows->empty()) return -1;
    const platform::Object* n = &rows->front().at("n");
    return n->intValue().value_or(-1);
  }
  // Writes of result rows of `audienceID` fail from now on.
  void failResultWrites(int32_t audienceID) {
    sql("CREATE TRIGGER fail_result_writes BEFORE INSERT ON audience_filter_values WHEN NEW.audience_id = " +
        std::to_string(audienceID) + " BEGIN SELECT RAISE(ABORT, 'refused'); END;");
  }

  std::shared_ptr<platform::ManualClock> clock_ = std::make_shared<platform::ManualClock>(kNow);
  foundation_test::DataDirectory data_;
  std::shared_ptr<GWLRemoteConfig> config_ = std::make_shared<GWLRemoteConfig>();
  std::shared_ptr<GWLPersistedConfig> settings_;
  std::shared_ptr<GWLDatabase> database_;
  std::shared_ptr<GWLAudience> audience_;
};

// The health sample's key of a level 2 or 5 line, which is never printed:
// the sample shows the last of them (lastSampledKey()).
inline std::string silent(const GWLAudienceLogLine& line) {
  return std::string(line.level <= 2 ? "1E_120500:" : "1W_120500:") + line.message;
}

}  // namespace audience_test
