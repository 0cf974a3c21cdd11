#include <gtest/gtest.h>

#include <filesystem>

#include "DatabaseTestSupport.h"
#include "analytics/foundation/storage/GWLDatabaseRemoteConfigStore.h"
#include "analytics/foundation/storage/GWLRawEventData.h"
#include "analytics/foundation/values/GWLEvent.h"
#include "analytics/foundation/values/GWLUserAttribute.h"
#include "analytics/wire/GWLPBEvent.h"
#include "analytics/wire/GWLPBEventParam.h"
#include "analytics/wire/GWLPBMeasurementBundle.h"
#include "analytics/wire/GWLPBMeasurementConfig.h"
#include "analytics/wire/NANO.h"
#include "platform/compression/Gzip.h"

namespace {

namespace fs = std::filesystem;
using database_test::rawSQL;
using database_test::shell;
using platform::Array;
using platform::Dictionary;
using platform::Object;

constexpr double kNow = 1'700'000'000.0;  // 2023-11-14 22:13:20 UTC

std::shared_ptr<GWLEvent> event(const std::string& name, double timestamp, const Dictionary& parameters = {},
                                const std::string& origin = "app") {
  return GWLEvent::initWithOrigin(origin, false, name, timestamp, 0, parameters, GWLValueLimits{});
}

std::shared_ptr<GWLPBMeasurementBundle> bundle(const std::string& appID, int64_t endMillis,
                                               const std::string& padding = "") {
  auto made = GWLPBMeasurementBundle::initWithMessageInfo();
  NANOSetInt32(made, 0, 1);
  if (!appID.empty()) NANOSetString(made, GWLPBMeasurementBundle::Field::app_id, appID);
  if (endMillis) NANOSetInt64(made, GWLPBMeasurementBundle::Field::end_timestamp, endMillis);
  if (!padding.empty()) NANOSetString(made, GWLPBMeasurementBundle::Field::app_version, padding);
  return made;
}

std::string hex(const std::vector<uint8_t>& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string text;
  for (uint8_t b : bytes) {
    text += digits[b >> 4];
    text += digits[b & 15];
  }
  return text;
}

class MeasurementDatabaseTest : public database_test::DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    clock_->setNow(kNow);
  }
  GWLDatabase& db() { return *database_; }
  int64_t count(const std::string& table) {
    return db().sqliteStore()->rowCountForTableWithName(table).value_or(-1);
  }
};

// ---------------------------------------------------------------------------
// Opening, schema and migration

TEST_F(MeasurementDatabaseTest, FreshDatabaseHasEveryTableAndColumn) {
  ASSERT_TRUE(open());
  const std::string listing =
      "SELECT m.name || ':' || group_concat(p.name || ' ' || p.type, ', ') FROM sqlite_master m, "
      "pragma_table_info(m.name) p WHERE m.type = 'table' GROUP BY m.name ORDER BY m.name;";
  const std::string expected =
      "app_metadata:last_bundle_index INTEGER, last_bundle_end_timestamp REAL, last_bundle_start_timestamp REAL, "
      "day INTEGER, daily_conversions_count INTEGER, daily_events_count INTEGER, daily_public_events_count INTEGER, "
      "daily_error_events_count INTEGER, remote_config_data BLOB, remote_config_timestamp REAL, "
      "daily_real_time_conversion_events_count INTEGER, last_delivery_index INTEGER, "
      "daily_real_time_dcu_events_count INTEGER\n"
      "audience_filter_values:audience_id INTEGER, current_results BLOB, previous_results BLOB\n"
      "conditional_properties:name TEXT, origin TEXT, value BLOB, creation_timestamp REAL, active INTEGER, "
      "trigger_timeout REAL, triggered_timestamp REAL, time_to_live REAL, trigger_event_name TEXT, "
      "timed_out_event BLOB, triggered_event BLOB, expired_event BLOB\n"
      "event_filters:audience_id INTEGER, filter_id INTEGER, event_name TEXT, data BLOB, session_scoped INTEGER\n"
      "events:name TEXT, lifetime_count INTEGER, current_bundle_count INTEGER, last_fire_timestamp REAL, "
      "last_bundled_timestamp REAL, last_sampled_complex_event_id INTEGER, last_sampling_rate INTEGER, "
      "last_exempt_from_sampling INTEGER, last_bundled_day INTEGER, current_session_count INTEGER\n"
      "main_event_params:event_id INTEGER, children_to_process INTEGER, main_event BLOB\n"
      "odm_values:name TEXT, set_timestamp REAL, value TEXT\n"
      "property_filters:audience_id INTEGER, filter_id INTEGER, property_name TEXT, data BLOB, session_scoped INTEGER\n"
      "purchase_transactions:fingerprint TEXT\n"
      "queue:data BLOB, bundle_end_timestamp REAL, is_realtime INTEGER, retry_count INTEGER\n"
      "raw_events:name TEXT, timestamp REAL, metadata_fingerprint INTEGER, data BLOB, is_realtime INTEGER\n"
      "raw_events_metadata:metadata_fingerprint INTEGER, metadata BLOB\n"
      "subscriptions:subscription_id TEXT\n"
      "user_attributes:name TEXT, set_timestamp REAL, value BLOB, origin TEXT\n";
  const std::string command = "sqlite3 -batch '" + path() + "' \"" + listing + "\"";
  EXPECT_EQ(shell(command), expected);
  EXPECT_EQ(shell("sqlite3 -batch '" + path() +
                  "' 'SELECT rowid, last_bundle_index, last_delivery_index, last_bundle_start_timestamp, "
                  "last_bundle_end_timestamp FROM app_metadata'"),
            "1|0|0|0.0|0.0\n");
  EXPECT_EQ(shell("sqlite3 -batch '" + path() + "' 'PRAGMA journal_mode'"), "wal\n");
  // A second opening changes nothing.
  ASSERT_TRUE(open());
  EXPECT_EQ(shell(command), expected);
  EXPECT_EQ(count("app_metadata"), 1);
}

TEST_F(MeasurementDatabaseTest, OlderVersionMigratesWithoutLosingRows) {
  auto stored = event("level_up", kNow - 10, {{"score", Object(12)}});
  auto blob = stored->protoEvent();
  NANOClearField(blob, GWLPBEvent::Field::name);
  const std::string eventHex = hex(*blob->protoBuffer());
  const std::string bundleHex = hex(*platform::gzip(*bundle("1:app", 5000)->protoBuffer()));
  fs::create_directories(fs::path(path()).parent_path());
  rawSQL(path(),
         "CREATE TABLE app_metadata (last_bundle_index INTEGER NOT NULL, last_bundle_end_timestamp REAL NOT NULL);"
         "INSERT INTO app_metadata (rowid, last_bundle_index, last_bundle_end_timestamp) VALUES (1, 7, 1234.5);"
         "CREATE TABLE raw_events (name TEXT NOT NULL, timestamp INTEGER NOT NULL, metadata_fingerprint INTEGER NOT "
         "NULL, data BLOB NOT NULL);"
         "INSERT INTO raw_events (rowid, name, timestamp, metadata_fingerprint, data) VALUES (5, 'level_up', " +
             std::to_string(static_cast<int64_t>(kNow) - 10) + ", 42, X'" + eventHex + "'), (9, 'level_up', " +
             std::to_string(static_cast<int64_t>(kNow) - 5) + ", 42, X'" + eventHex +
             "');"
             "CREATE TABLE events (name TEXT NOT NULL PRIMARY KEY, lifetime_count INTEGER NOT NULL, "
             "current_bundle_count INTEGER NOT NULL, last_fire_timestamp REAL NOT NULL);"
             "INSERT INTO events VALUES ('level_up', 3, 2, 1699999990.0);"
             "CREATE TABLE queue (data BLOB NOT NULL, bundle_end_timestamp REAL NOT NULL);"
             "INSERT INTO queue VALUES (X'" +
             bundleHex +
             "', 5.0);"
             "CREATE TABLE user_attributes (name TEXT NOT NULL PRIMARY KEY, set_timestamp REAL NOT NULL, value BLOB "
             "NOT NULL);"
             "INSERT INTO user_attributes VALUES ('plan', 1.0, 'pro');");
  platform::Error error;
  ASSERT_TRUE(open(&error)) << error.toString();
  auto metadata = db().queryAppMetadata();
  ASSERT_TRUE(metadata);
  EXPECT_EQ(metadata->lastBundleIndex(), 7);
  EXPECT_EQ(metadata->lastBundleEndTimestamp(), 1234.5);
  auto counts = db().dailyCounts();
  ASSERT_TRUE(counts);
  EXPECT_EQ(counts->day(), db().currentDayIndex());
  EXPECT_EQ(counts->allEventsCount(), 0);
  auto raw = db().allRawEventsWithError();
  ASSERT_TRUE(raw);
  ASSERT_EQ(raw->size(), 2u);
  EXPECT_EQ((*raw)[0]->rowID(), 5);
  EXPECT_EQ((*raw)[1]->rowID(), 9);
  EXPECT_EQ((*raw)[0]->rawEvent()->parameters().at("score"), GWLValue::initWithInt64(12));
  EXPECT_EQ(db().sqliteStore()->columnInfoForTableWithName("raw_events")->at("timestamp"), "REAL");
  EXPECT_EQ(db().eventAggregatesWithName("level_up")->lifetimeCount(), 3);
  auto queued = db().queryBundlesWithCountLimit(10, 1 << 20);
  ASSERT_TRUE(queued && queued->size() == 1);
  EXPECT_FALSE(NANOHasField(queued->front().bundle, GWLPBMeasurementBundle::Field::retry_count));
  // Rows written before the column existed keep a NULL retry count, which stays NULL.
  EXPECT_TRUE(db().incrementRetryCounterForBundlesWithIDs({queued->front().rowID}));
  EXPECT_EQ(db().userAttributeWithName("plan")->value(), *GWLValue::initWithString("pro"));
}

TEST_F(MeasurementDatabaseTest, UnusableTablesDeleteTheFileForTheNextOpening) {
  fs::create_directories(fs::path(path()).parent_path());
  rawSQL(path(), "CREATE TABLE queue (data BLOB NOT NULL, bundle_end_timestamp REAL NOT NULL, owner TEXT NOT NULL);");
  platform::Error error;
  EXPECT_FALSE(open(&error));
  EXPECT_EQ(error.code, 2);
  EXPECT_FALSE(fs::exists(path()));
  EXPECT_TRUE(open());
}

TEST_F(MeasurementDatabaseTest, ResetLeavesEveryTableEmpty) {
  ASSERT_TRUE(open());
  ASSERT_TRUE(db().insertRawEvent(event("level_up", kNow), 1, false));
  ASSERT_TRUE(db().updateODMValue("v", "odm1_value", kNow));
  auto metadata = db().queryAppMetadata();
  metadata->increaseLastBundleIndex(4);
  ASSERT_TRUE(db().updateAppMetadata(metadata));
  ASSERT_TRUE(db().reset());
  EXPECT_EQ(count("raw_events"), 0);
  EXPECT_EQ(count("odm_values"), 0);
  EXPECT_EQ(db().queryAppMetadata()->lastBundleIndex(), 0);
}

// ---------------------------------------------------------------------------
// App metadata and daily counts

TEST_F(MeasurementDatabaseTest, DayIndexTurnsAtTheInstallsMidnightOffset) {
  ASSERT_TRUE(open());
  // kNow is 22:13:20 UTC; with an offset of one hour the day turns at 01:00 UTC.
  const int32_t today = db().currentDayIndex();
  EXPECT_EQ(today, static_cast<int32_t>((kNow - 3600) / 86400));
  clock_->advance(2 * 3600 + 46 * 60 + 39);  // 00:59:59
  EXPECT_EQ(db().currentDayIndex(), today);
  clock_->advance(1);  // 01:00:00
  EXPECT_EQ(db().currentDayIndex(), today + 1);
}

TEST_F(MeasurementDatabaseTest, DailyCountsStartOverOnANewDay) {
  ASSERT_TRUE(open());
  auto counts = db().dailyCounts();
  ASSERT_TRUE(counts);
  const int32_t today = db().currentDayIndex();
  EXPECT_EQ(counts->day(), today);  // the column is NULL on a new database
  counts->incrementCountsForCurrentDay(today, true, true, 3);
  counts->incrementErrorEventsCountForCurrentDay(today);
  counts->incrementRealtimeCountsForCurrentDay(today);
  ASSERT_TRUE(db().updateDailyCounts(*counts));
  auto read = db().dailyCounts();
  EXPECT_EQ(read->conversionsCount(), 1);
  EXPECT_EQ(read->allEventsCount(), 4);
  EXPECT_EQ(read->publicEventsCount(), 3);
  EXPECT_EQ(read->errorEventsCount(), 1);
  EXPECT_EQ(read->realtimeCount(), 1);
  // The stored day is kept when read on the next day; the first increment resets.
  clock_->advance(86400);
  read = db().dailyCounts();
  EXPECT_EQ(read->day(), today);
  read->incrementCountsForCurrentDay(db().currentDayIndex(), false, false);
  EXPECT_EQ(read->day(), today + 1);
  EXPECT_EQ(read->allEventsCount(), 1);
  EXPECT_EQ(read->conversionsCount(), 0);
  EXPECT_EQ(read->errorEventsCount(), 0);
  read->decrementAllEventsCount();
  read->decrementAllEventsCount();
  EXPECT_EQ(read->allEventsCount(), 0);
}

TEST_F(MeasurementDatabaseTest, GenericRowsRespectLimitsAndExistence) {
  ASSERT_TRUE(open());
  platform::Error error;
  EXPECT_FALSE(db().upsertDataType({{"rowid", "2"}, {"last_bundle_index", 1}, {"last_bundle_end_timestamp", 0.0}},
                                   "app_metadata", "rowid", "2", 1, &error));
  EXPECT_EQ(error.description, "Failed to insert data type. Table is full");
  EXPECT_TRUE(db().upsertDataType({{"rowid", "1"}, {"last_bundle_index", 3}, {"last_bundle_end_timestamp", 0.0}},
                                  "app_metadata", "rowid", "1", 1));
  error = {};
  EXPECT_FALSE(db().updateDataType({{"value", "x"}}, "odm_values", "name", "missing", &error));
  EXPECT_EQ(error.description, "Failed to update record. Item doesn't exist");
}

// ---------------------------------------------------------------------------
// Raw events

TEST_F(MeasurementDatabaseTest, RawEventsRoundTrip) {
  ASSERT_TRUE(open());
  Array items = {Dictionary{{"item_id", Object("sku1")}, {"price", Object(2.5)}, {"quantity", Object(3)}},
                 Dictionary{{"item_id", Object("sku2")}}};
  auto written = GWLEvent::initWithOrigin("app", false, "purchase", kNow + 0.25, kNow - 1.5,
                                          Dictionary{{"currency", Object("EUR")},
                                                     {"value", Object(9.75)},
                                                     {"count", Object(4)},
                                                     {"items", Object(items)}}, GWLValueLimits{});
  ASSERT_TRUE(written);
  auto metadata = bundle("1:app", 0, "1.0");
  ASSERT_TRUE(db().insertIfNotExistsRawEventMetadata(*metadata));
  ASSERT_TRUE(db().insertIfNotExistsRawEventMetadata(*metadata));
  EXPECT_EQ(count("raw_events_metadata"), 1);
  auto next = db().nextMetadataFingerprintToProcess();
  EXPECT_FALSE(next);  // no raw events yet
  auto fingerprintRow = db().sqliteStore()->numberForQuery("SELECT metadata_fingerprint FROM raw_events_metadata", {});
  ASSERT_TRUE(fingerprintRow);
  const int64_t print = *fingerprintRow->intValue();
  ASSERT_TRUE(db().queryRawEventsMetadataWithFingerprint(print));
  ASSERT_TRUE(db().insertRawEvent(written, print, true));
  ASSERT_TRUE(db().insertRawEvent(event("level_up", kNow), print, false));
  EXPECT_EQ(db().nextMetadataFingerprintToProcess(), print);
  EXPECT_EQ(db().containsRealtimeRawEventsWithError(), true);
  EXPECT_EQ(db().queryLatestRawEventTime(), kNow + 0.25);
  auto read = db().rawEventsWithMetadataFingerprint(print, nullptr, nullptr);
  ASSERT_TRUE(read && read->size() == 2);
  const auto& first = read->front();
  EXPECT_EQ(first->rowID(), 1);
  EXPECT_EQ(first->metadataFingerprint(), print);
  const GWLEvent& back = *first->rawEvent();
  EXPECT_EQ(back.name(), "purchase");
  EXPECT_EQ(back.origin(), "app");
  EXPECT_EQ(back.timestamp(), kNow + 0.25);
  EXPECT_EQ(back.previousTimestamp(), kNow - 1.5);
  EXPECT_EQ(back.parameters(), written->parameters());
  ASSERT_TRUE(db().deleteRawEventsWithMaxRowID(1));
  EXPECT_EQ(count("raw_events"), 1);
}

// The write paths bind their rows directly; what they store is the row of the
// record (dictionary) form, column for column.
TEST_F(MeasurementDatabaseTest, WritePathsStoreTheRowsOfTheRecordForm) {
  ASSERT_TRUE(open());
  auto written = event("select_content", kNow + 0.5, Dictionary{{"item_id", Object("doc-1")}, {"cells", Object(25)}});
  auto proto = written->protoEvent();
  NANOClearField(proto, GWLPBEvent::Field::name);
  ASSERT_TRUE(db().insertRawEvent(written, 77, true));
  ASSERT_TRUE(db().insertDataType({{"name", "select_content"},
                                   {"timestamp", kNow + 0.5},
                                   {"metadata_fingerprint", 77},
                                   {"data", *proto->protoBuffer()},
                                   {"is_realtime", 1}},
                                  "raw_events"));
  auto events = db().sqliteStore()->recordsForQuery(
      "SELECT name, timestamp, typeof(timestamp) AS t, metadata_fingerprint, data, is_realtime FROM raw_events "
      "ORDER BY rowid",
      {});
  ASSERT_TRUE(events && events->size() == 2);
  EXPECT_EQ((*events)[0], (*events)[1]);

  auto queued = bundle("1:app", static_cast<int64_t>(kNow) * 1000 + 250);
  NANOSetInt32(queued, GWLPBMeasurementBundle::Field::retry_count, 5);
  ASSERT_TRUE(db().insertBundle(*queued, true));
  auto row = db().sqliteStore()->recordsForQuery(
      "SELECT data, bundle_end_timestamp, typeof(bundle_end_timestamp) AS t, is_realtime, retry_count FROM queue", {});
  ASSERT_TRUE(row && row->size() == 1);
  const Dictionary& stored = row->front();
  auto inflated = platform::hvu_dataByInflatingGzippedData(*stored.at("data").bytesValue());
  ASSERT_TRUE(inflated);
  EXPECT_EQ(*inflated, *queued->protoBuffer());
  EXPECT_EQ(stored.at("bundle_end_timestamp"), Object(kNow + 0.25));
  EXPECT_EQ(stored.at("t"), Object("real"));
  EXPECT_EQ(stored.at("is_realtime"), Object(1));
  EXPECT_EQ(stored.at("retry_count"), Object(5));
}

TEST_F(MeasurementDatabaseTest, StoredEventWithoutOriginReadsAsNoRecord) {
  ASSERT_TRUE(open());
  auto proto = GWLPBEvent::initWithMessageInfo();
  NANOSetInt64(proto, GWLPBEvent::Field::timestamp, 1000);
  auto bytes = *proto->protoBuffer();
  ASSERT_TRUE(db().insertDataType({{"name", "x"}, {"timestamp", 1.0}, {"metadata_fingerprint", 1}, {"data", bytes}},
                                  "raw_events"));
  auto row = db().sqliteStore()->recordsForQuery("SELECT rowid, * FROM raw_events", {});
  platform::Error error;
  EXPECT_FALSE(db().rawEventDataFromDictionary(row->front(), &error));
  EXPECT_EQ(error.code, 2);
  EXPECT_EQ(error.description, "Cannot create an event from database. Missing origin parameter");
}

TEST_F(MeasurementDatabaseTest, RawEventReadsStopAtLimitAndFilter) {
  ASSERT_TRUE(open());
  ASSERT_TRUE(db().performTransaction([&] {
    for (int i = 0; i < 1500; ++i) {
      if (!db().insertRawEvent(event("level_up", kNow + i), 7, false)) return false;
    }
    return true;
  }));
  auto all = db().rawEventsWithMetadataFingerprint(7, nullptr, nullptr);
  ASSERT_TRUE(all);
  EXPECT_EQ(all->size(), 1000u);
  EXPECT_EQ(all->back()->rowID(), 1000);
  auto four = db().rawEventsWithMetadataFingerprint(7, nullptr, [](size_t index, const Dictionary&) {
    return index < 4;
  });
  ASSERT_TRUE(four);
  EXPECT_EQ(four->size(), 4u);
  setSettings({{kGWLSettingMaxEventsStored, "5"}});
  EXPECT_EQ(db().deleteRawEventsOverAbsoluteLimit(), 1496);
  EXPECT_EQ(count("raw_events"), 4);
}

// The raw-event paths the upload and cleanup use one by one: queries by
// fingerprint, the deletion of metadata (by fingerprint, or when no raw event
// uses it), the stale-row deletion and the update of a stored event.
TEST_F(MeasurementDatabaseTest, RawEventMetadataAndStaleRowsGoByTheirOwnPaths) {
  ASSERT_TRUE(open());
  EXPECT_EQ(db().isRawEventsTableEmpty(), true);
  ASSERT_TRUE(db().insertIfNotExistsRawEventMetadata(*bundle("1:app", 0, "used")));
  ASSERT_TRUE(db().insertIfNotExistsRawEventMetadata(*bundle("1:app", 0, "unused")));
  auto prints = db().sqliteStore()->recordsForQuery("SELECT metadata_fingerprint FROM raw_events_metadata ORDER BY rowid", {});
  ASSERT_TRUE(prints && prints->size() == 2);
  const int64_t used = *(*prints)[0].at("metadata_fingerprint").intValue();
  const int64_t unused = *(*prints)[1].at("metadata_fingerprint").intValue();
  ASSERT_TRUE(db().insertRawEvent(event("kept", kNow - 10), used, false));
  ASSERT_TRUE(db().insertRawEvent(event("old", kNow - 100), used, false));
  EXPECT_EQ(db().isRawEventsTableEmpty(), false);
  EXPECT_EQ(db().containsRawEventWithMetadataFingerprint(used), true);
  EXPECT_EQ(db().containsRawEventWithMetadataFingerprint(unused), false);

  ASSERT_TRUE(db().deleteUnusedRawEventsMetadata());
  EXPECT_EQ(count("raw_events_metadata"), 1);
  EXPECT_TRUE(db().queryRawEventsMetadataWithFingerprint(used));

  platform::Error error;
  EXPECT_FALSE(db().deleteStaleRawEventsDataOlderThanMaxAge(-1, &error));
  EXPECT_EQ(error.code, kGWLErrorCodeInvalidArgument);
  ASSERT_TRUE(db().deleteStaleRawEventsDataOlderThanMaxAge(50));
  EXPECT_EQ(count("raw_events"), 1);
  EXPECT_EQ(count("raw_events_metadata"), 1) << "its fingerprint is still in use";

  auto stored = db().allRawEventsWithError();
  ASSERT_TRUE(stored && stored->size() == 1);
  auto renamed = GWLRawEventData::initWithRawEvent(event("renamed", kNow - 5), stored->front()->rowID(), used);
  ASSERT_TRUE(db().updateRawEvent(renamed));
  stored = db().allRawEventsWithError();
  ASSERT_TRUE(stored && stored->size() == 1);
  EXPECT_EQ(stored->front()->rawEvent()->name(), "renamed");
  EXPECT_EQ(stored->front()->rawEvent()->timestamp(), kNow - 5);

  ASSERT_TRUE(db().deleteRawEventMetadataWithMetadataFingerprint(used));
  EXPECT_EQ(count("raw_events_metadata"), 0);
  EXPECT_EQ(count("raw_events"), 1) << "the raw events stay";
}

// ---------------------------------------------------------------------------
// Upload queue and clean-up

TEST_F(MeasurementDatabaseTest, QueueRefusesIncompleteBundles) {
  ASSERT_TRUE(open());
  struct Case {
    std::shared_ptr<GWLPBMeasurementBundle> bundle;
    const char* description;
  };
  const std::vector<Case> cases = {
      {GWLPBMeasurementBundle::initWithMessageInfo(), "Failed to insert nil bundle"},
      {bundle("", 5000), "Failed to insert bundle without App ID"},
      {bundle("1:app", 0), "Failed to insert bundle without valid timestamp"},
  };
  for (const auto& c : cases) {
    platform::Error error;
    EXPECT_FALSE(db().insertBundle(*c.bundle, false, &error));
    EXPECT_EQ(error.code, 1);
    EXPECT_EQ(error.description, c.description);
  }
  EXPECT_EQ(count("queue"), 0);
}

TEST_F(MeasurementDatabaseTest, QueuedBundlesAreReadOldestFirstWithinTheSizeLimit) {
  ASSERT_TRUE(open());
  const int64_t end = static_cast<int64_t>(kNow) * 1000;
  auto sized = bundle("1:app", end, std::string(280, 'v'));
  const int64_t size = static_cast<int64_t>(sized->protoBuffer()->size());
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(db().insertBundle(*sized, i == 2));
  // A row whose data do not inflate is skipped.
  ASSERT_TRUE(db().sqliteStore()->upsertRecord(
      {{"rowid", 2}, {"data", platform::Bytes{1, 2, 3}}, {"bundle_end_timestamp", kNow}}, "queue"));
  auto two = db().queryBundlesWithCountLimit(10, 2 * size + size / 2);
  ASSERT_TRUE(two);
  ASSERT_EQ(two->size(), 2u);
  EXPECT_EQ((*two)[0].rowID, 1);
  EXPECT_EQ((*two)[1].rowID, 3);
  auto one = db().queryBundlesWithCountLimit(10, 10);
  ASSERT_TRUE(one && one->size() == 1);  // the first is always taken
  EXPECT_EQ(db().containsRealtimeBundlesWithError(), true);
  EXPECT_EQ(db().queryLatestBundleTime(), kNow);
  // Retry counts rise by one and stop at the int32 maximum.
  ASSERT_TRUE(db().sqliteStore()->updateRecord({{"retry_count", 3}}, "queue", "rowid", Object(1)));
  ASSERT_TRUE(db().sqliteStore()->updateRecord({{"retry_count", 2147483647}}, "queue", "rowid", Object(3)));
  ASSERT_TRUE(db().incrementRetryCounterForBundlesWithIDs({1, 3}));
  auto retried = db().queryBundlesWithRowIDs({1, 3});
  ASSERT_TRUE(retried && retried->size() == 2);
  EXPECT_EQ(NANOGetInt32((*retried)[0].bundle, GWLPBMeasurementBundle::Field::retry_count), 4);
  EXPECT_EQ(NANOGetInt32((*retried)[1].bundle, GWLPBMeasurementBundle::Field::retry_count), 2147483647);
  EXPECT_FALSE(NANOHasField(one->front().bundle, GWLPBMeasurementBundle::Field::retry_count));
  ASSERT_TRUE(db().deleteBundlesWithRowIDs({1, 2, 3}));
  EXPECT_EQ(db().isQueuedBundleTableEmpty(), true);
}

TEST_F(MeasurementDatabaseTest, StaleDataGoAtMostOncePerInterval) {
  ASSERT_TRUE(open());
  setSettings({{kGWLSettingMaxQueueTime, "604800000"}, {kGWLSettingDatabaseDeleteStaleBundlesInterval, "3600000"}});
  const double week = 604800;
  auto metadata = bundle("1:app", 0, "stale");
  ASSERT_TRUE(db().insertIfNotExistsRawEventMetadata(*metadata));
  const int64_t print = *db().sqliteStore()->numberForQuery("SELECT metadata_fingerprint FROM raw_events_metadata", {})->intValue();
  ASSERT_TRUE(db().insertRawEvent(event("old", kNow - week - 1), print, false));
  ASSERT_TRUE(db().insertRawEvent(event("future", kNow + week + 1), print, false));
  ASSERT_TRUE(db().insertRawEvent(event("fresh", kNow - week + 7200), 99, false));
  ASSERT_TRUE(db().sqliteStore()->upsertRecord(
      {{"data", platform::Bytes{1}}, {"bundle_end_timestamp", kNow - week - 1}}, "queue"));
  EXPECT_EQ(db().maybeDeleteStaleData(), true);
  EXPECT_EQ(count("raw_events"), 1);
  EXPECT_EQ(count("raw_events_metadata"), 0);  // no raw event used it any more
  EXPECT_EQ(count("queue"), 0);
  ASSERT_TRUE(db().insertRawEvent(event("old", kNow - week - 1), print, false));
  clock_->advance(3600);
  EXPECT_EQ(db().maybeDeleteStaleData(), false);
  EXPECT_EQ(count("raw_events"), 2);
  clock_->advance(1);
  EXPECT_EQ(db().maybeDeleteStaleData(), true);
  EXPECT_EQ(count("raw_events"), 1);
}

TEST_F(MeasurementDatabaseTest, StaleBundlesAreThoseFartherThanTheMaxAgeEitherWay) {
  ASSERT_TRUE(open());
  for (double end : {kNow - 1000, kNow - 10, kNow + 1000}) {
    ASSERT_TRUE(db().sqliteStore()->upsertRecord({{"data", platform::Bytes{1}}, {"bundle_end_timestamp", end}}, "queue"));
  }
  platform::Error error;
  EXPECT_FALSE(db().deleteStaleBundlesOlderThanMaxAge(-1, &error));
  EXPECT_EQ(error.code, kGWLErrorCodeInvalidArgument);
  EXPECT_EQ(count("queue"), 3);
  ASSERT_TRUE(db().deleteStaleBundlesOlderThanMaxAge(100));
  auto left = db().sqliteStore()->recordsForQuery("SELECT bundle_end_timestamp FROM queue", {});
  ASSERT_TRUE(left && left->size() == 1);
  EXPECT_EQ(left->front().at("bundle_end_timestamp"), Object(kNow - 10));
}

// ---------------------------------------------------------------------------
// Event aggregates

TEST_F(MeasurementDatabaseTest, SnapshotRestoresAggregatesButKeepsANewFirstOpen) {
  ASSERT_TRUE(open());
  auto levelUp = GWLEventAggregates::initWithName("level_up", 5, 2, 1, kNow);
  ASSERT_TRUE(db().updateEventAggregates(levelUp));
  EXPECT_TRUE(db().restoreFromEventsSnapshotTable());  // no snapshot yet
  ASSERT_TRUE(db().createEventsSnapshotTable());
  levelUp->incrementLifetimeCount();
  ASSERT_TRUE(db().updateEventAggregates(levelUp));
  ASSERT_TRUE(db().updateEventAggregates(GWLEventAggregates::initWithName("_f", 1, 1, 1, kNow)));
  ASSERT_TRUE(db().updateEventAggregates(GWLEventAggregates::initWithName("_s", 1, 1, 1, kNow)));
  EXPECT_EQ(db().publicEventCount(), 1);
  ASSERT_TRUE(db().restoreFromEventsSnapshotTable());
  EXPECT_EQ(db().eventAggregatesWithName("level_up")->lifetimeCount(), 5);
  EXPECT_TRUE(db().eventAggregatesWithName("_f"));
  EXPECT_FALSE(db().eventAggregatesWithName("_s"));
  EXPECT_EQ(count("events_snapshot"), 0);
  ASSERT_TRUE(db().clearCurrentSessionCounts());
  EXPECT_EQ(db().eventAggregatesWithName("level_up")->currentSessionCount(), 0);
}

TEST_F(MeasurementDatabaseTest, AggregatesAndTheirSnapshotAreReadAndEmptiedApart) {
  ASSERT_TRUE(open());
  ASSERT_TRUE(db().updateEventAggregates(GWLEventAggregates::initWithName("level_up", 5, 2, 1, kNow)));
  EXPECT_FALSE(db().eventAggregatesSnapshotWithName("level_up")) << "no snapshot table yet";
  ASSERT_TRUE(db().createEventsSnapshotTable());
  auto snapshot = db().eventAggregatesSnapshotWithName("level_up");
  ASSERT_TRUE(snapshot);
  EXPECT_EQ(snapshot->lifetimeCount(), 5);

  ASSERT_TRUE(db().deleteAllEventAggregatesInSnapshot());
  EXPECT_FALSE(db().eventAggregatesSnapshotWithName("level_up"));
  EXPECT_TRUE(db().eventAggregatesWithName("level_up")) << "the aggregates themselves stay";
  ASSERT_TRUE(db().deleteAllEventAggregates());
  EXPECT_FALSE(db().eventAggregatesWithName("level_up"));
  EXPECT_EQ(count("events"), 0);
}

// A snapshot table that cannot be dropped (another connection holds the write
// lock) stops the snapshot there, reported as a table that could not be made
// (12058), and fails with the drop's error.
TEST_F(MeasurementDatabaseTest, ASnapshotTableThatCannotBeDroppedIsReported) {
  ASSERT_TRUE(open());
  ASSERT_TRUE(db().createEventsSnapshotTable());
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(path().c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  {
    // Every sampled report replaces the one before: the health sample shows the last one.
    std::lock_guard<std::mutex> lock(setup_.draws->mutex);
    setup_.draws->answers.assign(100, 0);
  }
  platform::Error error;
  EXPECT_FALSE(db().createEventsSnapshotTable(&error));
  EXPECT_NE(error.description.find("locked"), std::string::npos) << error.description;
  monitor_->flush();
  auto sample = setup_.monitorDefaults->arrayForKey(kGWLMonitorHealthMonitorKey);
  ASSERT_TRUE(sample && sample->size() >= 3);
  EXPECT_EQ((*sample)[2], Object("1W_120500:Failed to ensure event snapshot table"));
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_TRUE(db().createEventsSnapshotTable());
}

// ---------------------------------------------------------------------------
// User attributes, purchases, configuration, conditional properties, ODM values

TEST_F(MeasurementDatabaseTest, UserAttributesAreLimitedToAThousandNames) {
  ASSERT_TRUE(open());
  ASSERT_TRUE(db().performTransaction([&] {
    for (int i = 0; i < 1000; ++i) {
      auto attribute = GWLUserAttribute::initWithOrigin("app", "p" + std::to_string(i), GWLValue::initWithInt64(0), kNow);
      if (!db().updateUserAttribute(attribute)) return false;
    }
    return true;
  }));
  platform::Error error;
  EXPECT_FALSE(db().updateUserAttribute(
      GWLUserAttribute::initWithOrigin("app", "another", GWLValue::initWithInt64(1), kNow), &error));
  EXPECT_EQ(error.code, 2);
  EXPECT_TRUE(db().updateUserAttribute(GWLUserAttribute::initWithOrigin("app", "p7", GWLValue::initWithDouble(2.5), kNow)));
  EXPECT_EQ(db().userAttributeWithName("p7")->value(), GWLValue::initWithDouble(2.5));
  EXPECT_EQ(db().publicUserAttributeCount(), 1000);
}

TEST_F(MeasurementDatabaseTest, UserAttributeQueriesByNamePattern) {
  ASSERT_TRUE(open());
  for (const char* name : {"a", "_ltv_USD", "_ltvX", "_id", "plan"}) {
    ASSERT_TRUE(db().updateUserAttribute(
        GWLUserAttribute::initWithOrigin("app", name, *GWLValue::initWithString("v"), kNow)));
  }
  EXPECT_EQ(db().publicUserAttributeCount(), 2);
  auto ltv = db().allLifetimeValueUserAttributes();
  ASSERT_TRUE(ltv && ltv->size() == 1);
  EXPECT_EQ(ltv->front()->name(), "_ltv_USD");
  auto visible = db().userAttributesIncludingInternal(false);
  ASSERT_TRUE(visible);
  EXPECT_EQ(visible->size(), 2u);
  EXPECT_EQ(db().userAttributesIncludingInternal(true)->size(), 5u);
}

TEST_F(MeasurementDatabaseTest, UserAttributeCountsByOriginAndExistence) {
  ASSERT_TRUE(open());
  for (auto [origin, name] : std::vector<std::pair<std::string, std::string>>{
           {"app", "color"}, {"app", "size"}, {"auto", "_fot"}}) {
    ASSERT_TRUE(db().updateUserAttribute(GWLUserAttribute::initWithOrigin(origin, name, GWLValue::initWithInt64(1), kNow)));
  }
  EXPECT_EQ(db().userAttributeCountForOrigin("app"), 2);
  EXPECT_EQ(db().userAttributeCountForOrigin("auto"), 1);
  EXPECT_EQ(db().userAttributeCountForOrigin("other"), 0);
  EXPECT_EQ(db().containsUserAttributeWithName("size"), true);
  EXPECT_EQ(db().containsUserAttributeWithName("shape"), false);
  platform::Error error;
  EXPECT_EQ(db().userAttributeCountForOrigin("", &error), std::nullopt) << "a refusal is not a count of 0";
  EXPECT_EQ(error.code, kGWLErrorCodeInvalidArgument);
  EXPECT_EQ(db().containsUserAttributeWithName("", &error), std::nullopt);
}

TEST_F(MeasurementDatabaseTest, PurchasesAreRecordedOnce) {
  ASSERT_TRUE(open());
  EXPECT_EQ(db().insertIfNotDuplicatePurchaseFingerprint(""), false);
  EXPECT_EQ(db().insertIfNotDuplicatePurchaseFingerprint("p0"), true);
  EXPECT_EQ(db().insertIfNotDuplicatePurchaseFingerprint("p0"), false);
  ASSERT_TRUE(db().performTransaction([&] {
    for (int i = 1; i <= 1000; ++i) {
      if (db().insertIfNotDuplicatePurchaseFingerprint("p" + std::to_string(i)) != true) return false;
    }
    return true;
  }));
  EXPECT_EQ(count("purchase_transactions"), 1000);
  EXPECT_EQ(db().insertIfNotDuplicatePurchaseFingerprint("p0"), true);  // the oldest one went
  EXPECT_EQ(db().insertIfNotDuplicateSubscriptionID(""), false);
  EXPECT_EQ(db().insertIfNotDuplicateSubscriptionID("s1"), true);
  EXPECT_EQ(db().insertIfNotDuplicateSubscriptionID("s1"), false);
  EXPECT_EQ(db().deleteSubscriptionsOverLimit(), 0);
}

// A look-up that fails is never taken for "not recorded yet", with or
// without an error out-parameter.
TEST_F(MeasurementDatabaseTest, FailedLookUpIsNotAbsent) {
  ASSERT_TRUE(open());
  ASSERT_TRUE(db().sqliteStore()->executeSQL("ALTER TABLE purchase_transactions RENAME TO elsewhere"));
  platform::Error error;
  EXPECT_EQ(db().insertIfNotDuplicatePurchaseFingerprint("p1", &error), std::nullopt);
  EXPECT_EQ(error.code, 3);
  EXPECT_EQ(db().insertIfNotDuplicatePurchaseFingerprint("p1"), std::nullopt);
  EXPECT_EQ(db().insertIfNotDuplicateSubscriptionID("s1"), true);
  EXPECT_EQ(db().sqliteStore()->rowCountForTableWithName("elsewhere"), 0);
}

TEST_F(MeasurementDatabaseTest, DatabaseServesAsTheRemoteConfigurationStore) {
  ASSERT_TRUE(open());
  GWLDatabaseRemoteConfigStore store(database_);
  platform::Error error;
  EXPECT_FALSE(store.queryMeasurementConfig(&error));
  EXPECT_TRUE(error.domain.empty());
  EXPECT_EQ(store.lastRemoteConfigUpdateTimestamp(&error), 0.0);
  auto config = GWLPBMeasurementConfig::initWithMessageInfo();
  NANOSetInt64(config, GWLPBMeasurementConfig::Field::version, 7);
  NANOSetString(config, GWLPBMeasurementConfig::Field::app_id, "1:123:ios:abc");
  ASSERT_TRUE(store.updateRemoteConfig(*config));
  EXPECT_EQ(store.lastRemoteConfigUpdateTimestamp(), kNow);
  auto stored = store.queryMeasurementConfig();
  ASSERT_TRUE(stored);
  EXPECT_EQ(NANOGetInt64(stored, GWLPBMeasurementConfig::Field::version), 7);
}

TEST_F(MeasurementDatabaseTest, ConfigurationBlobIsStoredWithItsTime) {
  ASSERT_TRUE(open());
  platform::Error error;
  EXPECT_FALSE(db().queryMeasurementConfigWithError(&error));
  EXPECT_TRUE(error.domain.empty());
  EXPECT_EQ(db().lastRemoteConfigUpdateTimestamp(), std::nullopt);
  auto config = GWLPBMeasurementConfig::initWithMessageInfo();
  NANOSetInt64(config, GWLPBMeasurementConfig::Field::version, 12);
  NANOSetString(config, GWLPBMeasurementConfig::Field::app_id, "1:123:ios:abc");
  ASSERT_TRUE(db().updateRemoteConfig(*config));
  EXPECT_EQ(db().lastRemoteConfigUpdateTimestamp(), kNow);
  auto withoutApp = GWLPBMeasurementConfig::initWithMessageInfo();
  NANOSetInt64(withoutApp, GWLPBMeasurementConfig::Field::version, 13);
  EXPECT_FALSE(db().updateRemoteConfig(*withoutApp, &error));
  EXPECT_EQ(error.description, "Missing Halcyra app ID in measurement configuration");
  auto stored = db().queryMeasurementConfigWithError();
  ASSERT_TRUE(stored);
  EXPECT_EQ(NANOGetInt64(stored, GWLPBMeasurementConfig::Field::version), 12);
  ASSERT_TRUE(db().updateRemoteConfigSuccessfulTimestamp(kNow + 60));
  EXPECT_EQ(db().lastRemoteConfigUpdateTimestamp(), kNow + 60);
  ASSERT_TRUE(db().sqliteStore()->updateRecord({{"remote_config_data", platform::Bytes{0xff, 0xff, 0xff}}},
                                               "app_metadata", "rowid", Object(1)));
  error = {};
  EXPECT_FALSE(db().queryMeasurementConfigWithError(&error));
  EXPECT_EQ(error.code, 2);
  EXPECT_EQ(error.description, "Remote config data is corrupted");
}

TEST_F(MeasurementDatabaseTest, ConditionalPropertiesByTimeAndPrefix) {
  ASSERT_TRUE(open());
  auto make = [&](const std::string& name, const std::string& origin) {
    auto property = std::make_shared<GWLConditionalUserProperty>();
    property->name = name;
    property->origin = origin;
    property->value = *GWLValue::initWithString("on");
    property->triggerEventName = "level_up";
    property->triggerTimeout = 5;
    property->timeToLive = 100;
    property->creationTimestamp = kNow;
    property->timedOutEvent = event("timed_out", kNow);
    return property;
  };
  for (const auto& [name, origin] : std::vector<std::pair<std::string, std::string>>{
           {"promo_a", "app"}, {"PROMO_b", "App"}, {"promoXa", "app"}, {"my_promo", "app"}, {"pro%mo", "auto"}}) {
    ASSERT_TRUE(db().updateConditionalUserProperty(make(name, origin)));
  }
  auto names = [](const std::optional<GWLDatabase::ConditionalUserProperties>& properties) {
    std::vector<std::string> result;
    for (const auto& p : properties.value_or(GWLDatabase::ConditionalUserProperties{})) result.push_back(p->name);
    std::sort(result.begin(), result.end());
    return result;
  };
  EXPECT_EQ(names(db().conditionalUserPropertiesWithPrefix(std::nullopt, std::nullopt)).size(), 5u);
  EXPECT_EQ(names(db().conditionalUserPropertiesWithPrefix("promo_", std::nullopt)),
            (std::vector<std::string>{"PROMO_b", "promo_a"}));
  EXPECT_EQ(names(db().conditionalUserPropertiesWithPrefix("pro%", std::nullopt)), (std::vector<std::string>{"pro%mo"}));
  EXPECT_EQ(names(db().conditionalUserPropertiesWithPrefix(std::nullopt, "_pp")), std::vector<std::string>{});
  EXPECT_EQ(names(db().conditionalUserPropertiesWithPrefix("promo", "APP")),
            (std::vector<std::string>{"PROMO_b", "promoXa", "promo_a"}));
  EXPECT_EQ(names(db().triggeredConditionalUserPropertiesWithEventName("level_up")).size(), 5u);
  clock_->advance(10);
  EXPECT_EQ(names(db().timedOutConditionalUserPropertiesWithError()).size(), 5u);
  EXPECT_TRUE(names(db().triggeredConditionalUserPropertiesWithEventName("level_up")).empty());
  auto read = db().conditionalUserPropertyWithName("promo_a");
  ASSERT_TRUE(read && read->timedOutEvent);
  EXPECT_EQ(read->timedOutEvent->name(), "timed_out");
  EXPECT_EQ(read->value, *GWLValue::initWithString("on"));
  // An event blob that cannot be read fails the whole answer.
  ASSERT_TRUE(db().sqliteStore()->updateRecord({{"expired_event", platform::Bytes{0xff, 0xff}}},
                                               "conditional_properties", "name", Object("my_promo")));
  EXPECT_FALSE(db().conditionalUserPropertiesWithPrefix(std::nullopt, std::nullopt));
}

TEST_F(MeasurementDatabaseTest, OnDeviceMeasurementValuesAreLimitedToTen) {
  ASSERT_TRUE(open());
  for (int i = 0; i < 9; ++i) ASSERT_TRUE(db().updateODMValue("v", "odm_" + std::to_string(i), kNow));
  ASSERT_TRUE(db().updateODMValue("first", "odm1_value", kNow));
  platform::Error error;
  EXPECT_FALSE(db().updateODMValue("v", "odm2_value", kNow, &error));
  EXPECT_EQ(error.description, "Failed to insert data type. Table is full");
  ASSERT_TRUE(db().updateODMValue("second", "odm1_value", kNow + 1));
  auto row = db().ODMValueWithName("odm1_value");
  ASSERT_TRUE(row);
  EXPECT_EQ(row->at("value"), Object("second"));
  EXPECT_EQ(row->at("set_timestamp"), Object(kNow + 1));
  ASSERT_TRUE(db().deleteODMValueWithName("odm1_value"));
  EXPECT_FALSE(db().ODMValueWithName("odm1_value"));
}

TEST_F(MeasurementDatabaseTest, AudienceFiltersAndResults) {
  ASSERT_TRUE(open());
  auto filter = [](int32_t audience, int32_t id, bool sessionScoped) {
    return std::make_shared<GWLEventFilter>(audience, id, "level_up", std::vector<uint8_t>{8, 1}, sessionScoped,
                                            false, false);
  };
  platform::Error error;
  EXPECT_FALSE(db().updateEventFilters(
      {filter(1, 1, true), std::make_shared<GWLEventFilter>(1, 2, "level_up", std::vector<uint8_t>{}, false, false,
                                                            false)},
      &error));
  EXPECT_EQ(error.code, 3);
  EXPECT_EQ(count("event_filters"), 1);  // the first row stays
  ASSERT_TRUE(db().updateEventFilters({filter(2, 1, false)}));
  EXPECT_EQ(db().eventFiltersForEventName("level_up")->size(), 2u);
  auto scoped = db().allSessionScopedFilters();
  ASSERT_TRUE(scoped);
  EXPECT_EQ(*scoped, (std::map<int32_t, std::vector<int32_t>>{{1, {1}}}));
  EXPECT_EQ(db().allAudienceIDs(), (std::vector<int32_t>{1, 2}));
  ASSERT_TRUE(db().updateFilterResults({std::make_shared<GWLFilterResult>(1, std::vector<uint8_t>{1}, std::nullopt),
                                        std::make_shared<GWLFilterResult>(2, std::vector<uint8_t>{2}, std::vector<uint8_t>{3})}));
  EXPECT_FALSE(db().filterResultForAudienceID(1)->previousResults());
  ASSERT_TRUE(db().deleteFilterResults({std::make_shared<GWLFilterResult>(1, std::nullopt, std::nullopt),
                                        std::make_shared<GWLFilterResult>(1, std::nullopt, std::nullopt)}));
  EXPECT_EQ(db().allFilterResults()->size(), 1u);
  ASSERT_TRUE(db().deleteEventFilters({filter(2, 1, false)}));
  EXPECT_EQ(count("event_filters"), 1);

  // Property filters go by their (audience, filter) keys; an empty list is refused, not a deletion of nothing.
  auto propertyFilter = [](int32_t audience, int32_t id) {
    return std::make_shared<GWLPropertyFilter>(audience, id, "tier", std::vector<uint8_t>{8, 1}, false, false, false);
  };
  ASSERT_TRUE(db().updatePropertyFilters({propertyFilter(1, 1), propertyFilter(1, 2), propertyFilter(2, 1)}));
  ASSERT_TRUE(db().deletePropertyFilters({propertyFilter(1, 2), propertyFilter(2, 1)}));
  auto left = db().propertyFiltersForPropertyName("tier");
  ASSERT_TRUE(left);
  ASSERT_EQ(left->size(), 1u);
  EXPECT_EQ((*left)[0]->audienceID(), 1);
  EXPECT_EQ((*left)[0]->filterID(), 1);
  platform::Error emptyError;
  EXPECT_FALSE(db().deletePropertyFilters({}, &emptyError));
  EXPECT_EQ(emptyError.code, kGWLErrorCodeInvalidArgument);
  EXPECT_EQ(count("property_filters"), 1);
}

TEST_F(MeasurementDatabaseTest, ComplexEventsRoundTrip) {
  ASSERT_TRUE(open());
  EXPECT_FALSE(db().mainEventAndChildCountPairWithEventID(3));
  ASSERT_TRUE(db().updateComplexEventForAudienceEvaluationWithEventID(3, 4, event("level_up", kNow)));
  auto pair = db().mainEventAndChildCountPairWithEventID(3);
  ASSERT_TRUE(pair);
  EXPECT_EQ(pair->first->name(), "level_up");
  EXPECT_EQ(pair->second, 4);
  ASSERT_TRUE(db().deleteComplexEventForAudienceEvaluationWithEventID(3));
  EXPECT_FALSE(db().mainEventAndChildCountPairWithEventID(3));
}

}  // namespace
