#include "analytics/foundation/GWLDatabase.h"

#include <cmath>
#include <limits>
#include <set>

#include "analytics/foundation/GWLDataAdditions.h"
#include "analytics/foundation/GWLDataTypeValidator.h"
#include "analytics/foundation/GWLError.h"
#include "analytics/foundation/GWLEvent.h"
#include "analytics/foundation/GWLMeasurementRegistry.h"
#include "analytics/foundation/GWLMonitor.h"
#include "analytics/foundation/GWLNameTables.h"
#include "analytics/foundation/GWLPaths.h"
#include "analytics/foundation/GWLPersistedConfig.h"
#include "analytics/foundation/GWLRawEventData.h"
#include "analytics/foundation/GWLRemoteConfig.h"
#include "analytics/foundation/GWLUserAttribute.h"
#include "analytics/wire/GWLPBEvent.h"
#include "analytics/wire/GWLPBEventFilter.h"
#include "analytics/wire/GWLPBEventParam.h"
#include "analytics/wire/GWLPBMeasurementBundle.h"
#include "analytics/wire/GWLPBMeasurementConfig.h"
#include "analytics/wire/GWLPBPropertyFilter.h"
#include "analytics/wire/NANO.h"
#include "platform/compression/Gzip.h"
#include "platform/dispatch/Clock.h"

namespace {

constexpr int64_t kArg = kGWLErrorCodeInvalidArgument;
constexpr int64_t kState = kGWLErrorCodeOperationFailed;
constexpr int64_t kData = kGWLErrorCodeStoredData;

constexpr const char* kAppMetadata = "app_metadata";
constexpr const char* kRawEventsMetadata = "raw_events_metadata";
constexpr const char* kRawEvents = "raw_events";
constexpr const char* kEvents = "events";
constexpr const char* kEventsSnapshot = "events_snapshot";
constexpr const char* kUserAttributes = "user_attributes";
constexpr const char* kQueue = "queue";
constexpr const char* kEventFilters = "event_filters";
constexpr const char* kPropertyFilters = "property_filters";
constexpr const char* kAudienceFilterValues = "audience_filter_values";
constexpr const char* kPurchaseTransactions = "purchase_transactions";
constexpr const char* kSubscriptions = "subscriptions";
constexpr const char* kConditionalProperties = "conditional_properties";
constexpr const char* kMainEventParams = "main_event_params";
constexpr const char* kODMValues = "odm_values";

constexpr int64_t kUserAttributesLimit = 1000;
constexpr int64_t kConditionalPropertiesLimit = 1000;
constexpr int64_t kODMValuesLimit = 10;
constexpr int64_t kPurchasesKept = 1000;
constexpr int64_t kMetadataLimit = 100000;
constexpr int64_t kRawEventsPerRead = 1000;
constexpr int32_t kMaxRetryCount = std::numeric_limits<int32_t>::max();

std::shared_ptr<GWLMonitor> monitor() { return GWLMeasurementRegistry::monitor(); }

bool fail(platform::Error* error, int64_t code, const std::string& message) {
  GWLSetError(error, code, message);
  return false;
}

const platform::Object* field(const platform::Dictionary& row, const char* name) {
  auto it = row.find(name);
  return it == row.end() || it->second.isNull() ? nullptr : &it->second;
}
int64_t intField(const platform::Dictionary& row, const char* name, int64_t fallback) {
  const platform::Object* value = field(row, name);
  if (!value) return fallback;
  if (value->isDouble()) return static_cast<int64_t>(*value->doubleValue());
  return value->intValue().value_or(fallback);
}
double doubleField(const platform::Dictionary& row, const char* name, double fallback) {
  const platform::Object* value = field(row, name);
  return value && value->isNumber() ? *value->numberValue() : fallback;
}
int32_t int32Of(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

// A LIKE pattern that matches `text` literally, with "!" as the escape character.
std::string escapedForLike(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == '!' || c == '%' || c == '_') escaped += '!';
    escaped += c;
  }
  return escaped;
}

platform::Array rowIDValues(const std::vector<int64_t>& rowIDs) {
  platform::Array values;
  for (int64_t id : rowIDs) values.emplace_back(id);
  return values;
}
std::string rowIDCondition(size_t count) {
  std::string placeholders = "?";
  for (size_t i = 1; i < count; ++i) placeholders += ",?";
  return "rowid IN (" + placeholders + ")";
}

std::optional<std::vector<uint8_t>> bytesOf(const NANOMessageBase& message) {
  auto bytes = message.protoBuffer();
  if (!bytes || bytes->empty()) return std::nullopt;
  return bytes;
}

// The stored form of an event: its wire message, without the name when asked.
std::optional<std::vector<uint8_t>> eventBlob(const GWLEvent& event, bool withoutName) {
  auto proto = event.protoEvent();
  if (!proto) return std::nullopt;
  if (withoutName) NANOClearField(proto, GWLPBEvent::Field::name);
  return proto->protoBuffer();
}

// The event stored in a blob column.
std::shared_ptr<GWLEvent> eventFromBlob(const platform::Object& value, platform::Error* error) {
  const platform::Bytes* bytes = value.bytesValue();
  if (!bytes) {
    GWLSetError(error, kState, "Failed to convert data to an event. Data must be a NSData instance");
    return nullptr;
  }
  auto proto = GWLPBEvent::initWithBuffer(std::span<const uint8_t>(*bytes));
  if (!proto) {
    GWLSetError(error, kState, "Failed to parse event from data");
    return nullptr;
  }
  auto event = GWLEvent::initWithEventProto(*proto);
  if (!event) GWLSetError(error, kState, "Failed to initialize event from proto data");
  return event;
}

// The scalar value of a wire parameter (string, integer or double), if any.
std::optional<platform::Object> scalarOf(const std::shared_ptr<GWLPBEventParam>& param) {
  if (NANOHasField(param, GWLPBEventParam::Field::string_value)) {
    auto text = NANOGetString(param, GWLPBEventParam::Field::string_value);
    if (text) return platform::Object(*text);
    return std::nullopt;
  }
  if (NANOHasField(param, GWLPBEventParam::Field::int_value)) {
    return platform::Object(NANOGetInt64(param, GWLPBEventParam::Field::int_value));
  }
  if (NANOHasField(param, GWLPBEventParam::Field::double_value)) {
    return platform::Object(NANOGetDouble(param, GWLPBEventParam::Field::double_value));
  }
  return std::nullopt;
}

// One item of an array parameter: its named scalar values. Values without a
// name (which the library never writes) are left out.
std::optional<platform::Dictionary> itemFromWire(const std::shared_ptr<GWLPBEventParam>& item,
                                                 platform::Error* error) {
  if (!item) {
    GWLSetError(error, kArg, "Failed to parse empty event params data");
    return std::nullopt;
  }
  auto nested = NANOGetMessageArray<GWLPBEventParam>(item, GWLPBEventParam::Field::param_value);
  if (!nested || nested->empty()) {
    GWLSetError(error, kState, "Failed to parse invalid event params data");
    return std::nullopt;
  }
  platform::Dictionary values;
  for (const auto& param : *nested) {
    auto name = NANOGetString(param, GWLPBEventParam::Field::name);
    auto value = scalarOf(param);
    if (name && !name->empty() && value) values.insert_or_assign(*name, std::move(*value));
  }
  return values;
}

// A top-level wire parameter as a typed value.
std::optional<GWLValue> valueFromWire(const std::shared_ptr<GWLPBEventParam>& param, platform::Error* error) {
  if (auto scalar = scalarOf(param)) {
    if (const std::string* text = scalar->stringValue()) return GWLValue::initWithString(*text);
    if (scalar->isInt()) return GWLValue::initWithInt64(*scalar->intValue());
    return GWLValue::initWithDouble(*scalar->doubleValue());
  }
  auto items = NANOGetMessageArray<GWLPBEventParam>(param, GWLPBEventParam::Field::param_value);
  if (!items || items->empty()) {
    GWLSetError(error, kState, "Failed to parse invalid event params data");
    return std::nullopt;
  }
  platform::Array elements;
  for (const auto& item : *items) {
    platform::Error ignored;
    if (auto values = itemFromWire(item, &ignored)) elements.emplace_back(std::move(*values));
  }
  return GWLValue::initWithArray(std::move(elements));
}

}  // namespace

// ============================================================================
// Opening
// ============================================================================

GWLDatabase::GWLDatabase(std::shared_ptr<GWLPersistedConfig> persistedConfig, Dependencies dependencies)
    : persistedConfig_(std::move(persistedConfig)), dependencies_(std::move(dependencies)) {
  if (!dependencies_.clock) dependencies_.clock = platform::Clock::system();
}

std::shared_ptr<GWLDatabase> GWLDatabase::initWithDatabaseName(const std::string& name,
                                                               std::shared_ptr<GWLPersistedConfig> persistedConfig,
                                                               platform::Error* error) {
  return initWithDatabaseName(name, std::move(persistedConfig), Dependencies{}, error);
}

std::shared_ptr<GWLDatabase> GWLDatabase::initWithDatabaseName(const std::string& name,
                                                               std::shared_ptr<GWLPersistedConfig> persistedConfig,
                                                               Dependencies dependencies, platform::Error* error) {
  if (name.empty()) {
    GWLSetError(error, kArg, "Received empty database name in init");
    return nullptr;
  }
  const std::string path = GWLMeasurementDirectoryPath(name);
  std::shared_ptr<GWLDatabase> database(new GWLDatabase(std::move(persistedConfig), std::move(dependencies)));
  if (!database->initializeDatabaseResourcesWithContext("Init", path, error)) return nullptr;
  return database;
}

double GWLDatabase::now() const { return dependencies_.clock->now(); }

std::shared_ptr<GWLRemoteConfig> GWLDatabase::remoteConfig() const {
  std::shared_ptr<GWLRemoteConfig> config;
  if (dependencies_.remoteConfig) config = dependencies_.remoteConfig();
  return config ? config : GWLMeasurementRegistry::remoteConfig();
}

bool GWLDatabase::storeFailed(platform::Error* error, const char* message) {
  if (store_) return false;
  GWLSetError(error, kState, message);
  return true;
}

bool GWLDatabase::reset(platform::Error* error) {
  if (!store_) return fail(error, kState, "Failed to delete database data");
  const std::string path = store_->databasePath();
  if (!store_->closeAndDeleteDatabase()) return fail(error, kState, "Failed to delete database data");
  return initializeDatabaseResourcesWithContext("Reset", path, error);
}

bool GWLDatabase::initializeDatabaseResourcesWithContext(const std::string& context, const std::string& databasePath,
                                                         platform::Error* error) {
  platform::Error local;
  store_.reset();  // the old connection closes before the new one opens
  store_ = GWLSqliteStore::initWithDatabasePath(databasePath, &local);
  if (!store_) {
    platform::setError(error, local);
    return false;
  }
  if (!ensureAllTables()) {
    monitor()->logWithLevel(1, 12002, "Failed to create or validate required database tables (" + context + ")");
    // A file whose tables cannot be made is replaced on the next opening;
    // the store closes first so no connection writes into a removed file.
    store_->closeDatabase();
    platform::Error deleteError;
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
      const std::string file = databasePath + suffix;
      if (!GWLDeleteFileAtPath(file, &deleteError) && *suffix == '\0') {
        monitor()->logWithLevel(4, 12003,
                                "Failed to delete old database file after failed validation. Error (" + context + ")",
                                deleteError);
      }
    }
    store_.reset();
    return fail(error, kState, "Failed to create or validate required database tables (" + context + ")");
  }
  if (!initializeAppMetadata()) {
    monitor()->logWithLevel(1, 12004, "Failed to initialize App Metadata table (" + context + ")");
    return fail(error, kState, "Failed to initialize App Metadata table (" + context + ")");
  }
  return true;
}

bool GWLDatabase::ensureAllTables() {
  if (!store_) return false;
  const std::string key = "(audience_id, filter_id)";
  const std::vector<std::pair<std::string, GWLColumnInfo>> elementary = {
      {kAppMetadata, {{"last_bundle_index", "INTEGER NOT NULL"}, {"last_bundle_end_timestamp", "REAL NOT NULL"}}},
      {kRawEventsMetadata, {{"metadata_fingerprint", "INTEGER NOT NULL PRIMARY KEY"}, {"metadata", "BLOB NOT NULL"}}},
      {kRawEvents,
       {{"name", "TEXT NOT NULL"},
        {"timestamp", "INTEGER NOT NULL"},
        {"metadata_fingerprint", "INTEGER NOT NULL"},
        {"data", "BLOB NOT NULL"}}},
      {kEvents,
       {{"name", "TEXT NOT NULL PRIMARY KEY"},
        {"lifetime_count", "INTEGER NOT NULL"},
        {"current_bundle_count", "INTEGER NOT NULL"},
        {"last_fire_timestamp", "REAL NOT NULL"}}},
      {kUserAttributes,
       {{"name", "TEXT NOT NULL PRIMARY KEY"}, {"set_timestamp", "REAL NOT NULL"}, {"value", "BLOB NOT NULL"}}},
      {kQueue, {{"data", "BLOB NOT NULL"}, {"bundle_end_timestamp", "REAL NOT NULL"}}},
      {kEventFilters,
       {{"audience_id", "INTEGER NOT NULL"},
        {"filter_id", "INTEGER NOT NULL"},
        {"event_name", "TEXT NOT NULL"},
        {"data", "BLOB NOT NULL"},
        {"PRIMARY KEY", key}}},
      {kPropertyFilters,
       {{"audience_id", "INTEGER NOT NULL"},
        {"filter_id", "INTEGER NOT NULL"},
        {"property_name", "TEXT NOT NULL"},
        {"data", "BLOB NOT NULL"},
        {"PRIMARY KEY", key}}},
      {kAudienceFilterValues,
       {{"audience_id", "INTEGER NOT NULL PRIMARY KEY"}, {"current_results", "BLOB"}, {"previous_results", "BLOB"}}},
      {kPurchaseTransactions, {{"fingerprint", "TEXT NOT NULL PRIMARY KEY"}}},
      {kSubscriptions, {{"subscription_id", "TEXT NOT NULL PRIMARY KEY"}}},
      {kConditionalProperties,
       {{"name", "TEXT NOT NULL PRIMARY KEY"},
        {"origin", "TEXT NOT NULL"},
        {"value", "BLOB NOT NULL"},
        {"creation_timestamp", "REAL NOT NULL"},
        {"active", "INTEGER NOT NULL"},
        {"trigger_timeout", "REAL NOT NULL"},
        {"triggered_timestamp", "REAL NOT NULL"},
        {"time_to_live", "REAL NOT NULL"},
        {"trigger_event_name", "TEXT"},
        {"timed_out_event", "BLOB"},
        {"triggered_event", "BLOB"},
        {"expired_event", "BLOB"}}},
      {kMainEventParams,
       {{"event_id", "INTEGER NOT NULL PRIMARY KEY"},
        {"children_to_process", "INTEGER NOT NULL"},
        {"main_event", "BLOB NOT NULL"}}},
      {kODMValues,
       {{"name", "TEXT NOT NULL PRIMARY KEY"}, {"set_timestamp", "REAL NOT NULL"}, {"value", "TEXT NOT NULL"}}},
  };
  const std::map<std::string, GWLColumnInfo> addOns = {
      {kAppMetadata,
       {{"last_bundle_start_timestamp", "REAL"},
        {"day", "INTEGER"},
        {"daily_conversions_count", "INTEGER"},
        {"daily_events_count", "INTEGER"},
        {"daily_public_events_count", "INTEGER"},
        {"daily_error_events_count", "INTEGER"},
        {"remote_config_data", "BLOB"},
        {"remote_config_timestamp", "REAL"},
        {"daily_real_time_conversion_events_count", "INTEGER"},
        {"last_delivery_index", "INTEGER"},
        {"daily_real_time_dcu_events_count", "INTEGER"}}},
      {kRawEvents, {{"is_realtime", "INTEGER"}}},
      {kEvents,
       {{"last_bundled_timestamp", "REAL"},
        {"last_sampled_complex_event_id", "INTEGER"},
        {"last_sampling_rate", "INTEGER"},
        {"last_exempt_from_sampling", "INTEGER"},
        {"last_bundled_day", "INTEGER"},
        {"current_session_count", "INTEGER"}}},
      {kUserAttributes, {{"origin", "TEXT"}}},
      {kQueue, {{"is_realtime", "INTEGER"}, {"retry_count", "INTEGER"}}},
      {kEventFilters, {{"session_scoped", "INTEGER"}}},
      {kPropertyFilters, {{"session_scoped", "INTEGER"}}},
  };
  const std::map<std::string, GWLModifyColumnInfo> modify = {{kRawEvents, {{"timestamp", "REAL NOT NULL"}}}};
  for (const auto& [table, columns] : elementary) {
    auto addOn = addOns.find(table);
    auto changes = modify.find(table);
    platform::Error error;
    if (!store_->ensureTableWithName(table, columns, addOn == addOns.end() ? GWLColumnInfo{} : addOn->second,
                                     changes == modify.end() ? GWLModifyColumnInfo{} : changes->second, &error)) {
      monitor()->logWithLevel(1, 12047, std::string("Failed to ensure table. Table, error"), table, error);
      return false;
    }
  }
  return true;
}

bool GWLDatabase::initializeAppMetadata() {
  return performTransaction([this] {
    platform::Error error;
    if (queryAppMetadata(&error)) return true;
    if (!error.domain.empty()) {
      monitor()->logWithLevel(1, 12005, std::string("Failed to query app metadata"));
      return false;
    }
    auto metadata = GWLAppMetadata::initWithLastBundleIndex(0, 0, 0, 0);
    platform::Dictionary row = {{"rowid", "1"},
                                {"last_bundle_index", int64_t{0}},
                                {"last_delivery_index", int64_t{0}},
                                {"last_bundle_start_timestamp", 0.0},
                                {"last_bundle_end_timestamp", 0.0}};
    if (!upsertDataType(row, kAppMetadata, "rowid", "1", 1, &error)) {
      monitor()->logWithLevel(1, 12006, std::string("Unable to update the app metadata. Error"), error);
      return false;
    }
    return true;
  });
}

bool GWLDatabase::performTransaction(const std::function<bool()>& block) {
  platform::Error error;
  if (!store_) {
    monitor()->logWithLevel(1, 12056, std::string("Transaction failed. Database not open"));
    return false;
  }
  bool committed = false;
  try {
    committed = store_->performTransactionWithError(&error, block);
  } catch (...) {
    error = gwl_errorWithCode(kData, "Transaction failed");
  }
  if (!committed) monitor()->logWithLevel(1, 12056, "Transaction failed. " + error.description);
  return committed;
}

int32_t GWLDatabase::currentDayIndex() const {
  const double offset = persistedConfig_ ? persistedConfig_->midnightOffset() : 0;
  const double day = std::floor((now() - offset) / 86400.0);
  if (!(day >= std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
  if (day > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(day);
}

// ============================================================================
// Generic row operations
// ============================================================================

std::optional<std::vector<platform::Dictionary>> GWLDatabase::rows(const std::string& query,
                                                                   const platform::Array& parameters,
                                                                   platform::Error* error) {
  if (storeFailed(error, "Database not open")) return std::nullopt;
  return store_->recordsForQuery(query, parameters, error);
}

std::optional<platform::Object> GWLDatabase::number(const std::string& query, const platform::Array& parameters,
                                                    platform::Error* error) {
  if (storeFailed(error, "Database not open")) return std::nullopt;
  return store_->numberForQuery(query, parameters, error);
}

std::optional<bool> GWLDatabase::flag(const std::string& query, const platform::Array& parameters,
                                      platform::Error* error) {
  platform::Error local;
  auto answer = number(query, parameters, &local);
  if (!answer) {
    if (local.domain.empty()) GWLSetError(&local, kData, "Query gave no number");
    platform::setError(error, local);
    return std::nullopt;
  }
  return answer->intValue().value_or(0) != 0;
}

bool GWLDatabase::deleteWhere(const std::string& table, const std::string& condition,
                              const platform::Array& parameters, platform::Error* error) {
  if (storeFailed(error, "Database not open")) return false;
  return store_->deleteRecordsFromTableWithName(table, condition, parameters, error).has_value();
}

bool GWLDatabase::insertDataType(const platform::Dictionary& dataType, const std::string& table,
                                 platform::Error* error) {
  if (table.empty()) return fail(error, kArg, "Received empty table name for inserting");
  if (dataType.empty()) return fail(error, kState, "Failed to insert empty record");
  if (storeFailed(error, "Database not open")) return false;
  return store_->upsertRecord(dataType, table, error);
}

bool GWLDatabase::upsertDataType(const platform::Dictionary& dataType, const std::string& table,
                                 const std::string& columnName, const platform::Object& columnValue,
                                 int64_t tableLimit, platform::Error* error) {
  if (dataType.empty()) return fail(error, kArg, "Received empty data type to upsert");
  if (table.empty()) return fail(error, kArg, "Received empty table name for checking upsert");
  if (storeFailed(error, "Database not open")) return false;
  if (tableLimit != -1) {
    auto keyed = store_->rowCountForTableWithName(table, columnName, columnValue, error);
    if (!keyed) return false;
    if (*keyed == 0) {
      auto all = store_->rowCountForTableWithName(table, error);
      if (!all) return false;
      if (tableLimit < 1 || *all >= tableLimit) return fail(error, kState, "Failed to insert data type. Table is full");
    }
  }
  return store_->upsertRecord(dataType, table, error);
}

bool GWLDatabase::updateDataType(const platform::Dictionary& dataType, const std::string& table,
                                 const std::string& columnName, const platform::Object& columnValue,
                                 platform::Error* error) {
  if (dataType.empty()) return fail(error, kArg, "Received empty data type to update");
  if (table.empty()) return fail(error, kArg, "Received empty table name for updating");
  if (storeFailed(error, "Database not open")) return false;
  auto keyed = store_->rowCountForTableWithName(table, columnName, columnValue, error);
  if (!keyed) return false;
  if (*keyed == 0) return fail(error, kState, "Failed to update record. Item doesn't exist");
  return store_->updateRecord(dataType, table, columnName, columnValue, error);
}

platform::Object GWLDatabase::objectForColumn(const GWLValue& value) {
  if (const std::string* text = value.stringValue()) return *text;
  if (value.isDouble()) return value.doubleValue();
  return value.int64Value();
}

// ============================================================================
// App metadata and daily counts
// ============================================================================

std::shared_ptr<GWLAppMetadata> GWLDatabase::queryAppMetadata(platform::Error* error) {
  auto found = dataTypesFromTableWithName<std::shared_ptr<GWLAppMetadata>>(
      kAppMetadata, "rowid", platform::Object("1"), error,
      [](const platform::Dictionary& row, platform::Error* error) -> std::optional<std::shared_ptr<GWLAppMetadata>> {
        if (row.empty()) {
          GWLSetError(error, kData, "Received empty dictionary for getting app metadata");
          return std::nullopt;
        }
        auto metadata = GWLAppMetadata::initWithLastBundleIndex(
            int32Of(intField(row, "last_bundle_index", 0)), int32Of(intField(row, "last_delivery_index", 0)),
            doubleField(row, "last_bundle_start_timestamp", 0), doubleField(row, "last_bundle_end_timestamp", 0));
        if (!metadata) return std::nullopt;
        return metadata;
      });
  if (!found || found->empty()) return nullptr;
  return found->front();
}

bool GWLDatabase::updateAppMetadata(const std::shared_ptr<GWLAppMetadata>& metadata, platform::Error* error) {
  if (!metadata) return fail(error, kData, "Received empty app metadata for getting dictionary representation");
  platform::Dictionary row = {{"rowid", "1"},
                              {"last_bundle_index", int64_t{metadata->lastBundleIndex()}},
                              {"last_delivery_index", int64_t{metadata->lastDeliveryIndex()}},
                              {"last_bundle_start_timestamp", metadata->lastBundleStartTimestamp()},
                              {"last_bundle_end_timestamp", metadata->lastBundleEndTimestamp()}};
  return updateDataType(row, kAppMetadata, "rowid", "1", error);
}

std::optional<GWLDailyCounts> GWLDatabase::dailyCounts(platform::Error* error) {
  const int32_t today = currentDayIndex();
  return [&]() -> std::optional<GWLDailyCounts> {
    auto found = dataTypesFromTableWithName<GWLDailyCounts>(
        kAppMetadata, "rowid", platform::Object("1"), error,
        [today](const platform::Dictionary& row, platform::Error* error) -> std::optional<GWLDailyCounts> {
          if (row.empty()) {
            GWLSetError(error, kData, "Received empty dictionary for getting daily counts");
            return std::nullopt;
          }
          auto count = [&](const char* name) { return int32Of(intField(row, name, 0)); };
          return GWLDailyCounts(int32Of(intField(row, "day", today)), count("daily_conversions_count"),
                                count("daily_events_count"), count("daily_public_events_count"),
                                count("daily_error_events_count"), count("daily_real_time_conversion_events_count"),
                                count("daily_real_time_dcu_events_count"));
        });
    if (!found) return std::nullopt;
    if (found->empty()) {
      GWLSetError(error, kState, "App metadata row is missing");
      return std::nullopt;
    }
    return found->front();
  }();
}

bool GWLDatabase::updateDailyCounts(const GWLDailyCounts& counts, platform::Error* error) {
  platform::Dictionary row = {{"day", int64_t{counts.day()}},
                              {"daily_conversions_count", int64_t{counts.conversionsCount()}},
                              {"daily_events_count", int64_t{counts.allEventsCount()}},
                              {"daily_public_events_count", int64_t{counts.publicEventsCount()}},
                              {"daily_error_events_count", int64_t{counts.errorEventsCount()}},
                              {"daily_real_time_conversion_events_count", int64_t{counts.realtimeCount()}},
                              {"daily_real_time_dcu_events_count", int64_t{counts.dcuRealtimeCount()}}};
  return updateDataType(row, kAppMetadata, "rowid", "1", error);
}

// ============================================================================
// Raw events
// ============================================================================

bool GWLDatabase::insertIfNotExistsRawEventMetadata(const GWLPBMeasurementBundle& metadata, platform::Error* error) {
  auto bytes = bytesOf(metadata);
  if (!bytes) {
    return fail(error, kData, "Received empty measurement bundle metadata for getting dictionary representation");
  }
  const auto fingerprint = static_cast<int64_t>(gwl_64LSBMD5(*bytes));
  platform::Error local;
  auto present = flag("SELECT EXISTS (SELECT 1 FROM raw_events_metadata WHERE metadata_fingerprint = ? LIMIT 1)",
                      {fingerprint}, &local);
  if (!present) {
    platform::setError(error, local);
    return false;
  }
  if (*present) return true;
  platform::Dictionary row = {{"metadata_fingerprint", fingerprint}, {"metadata", std::move(*bytes)}};
  return upsertDataType(row, kRawEventsMetadata, "metadata_fingerprint", fingerprint, kMetadataLimit, error);
}

std::shared_ptr<GWLPBMeasurementBundle> GWLDatabase::queryRawEventsMetadataWithFingerprint(int64_t fingerprint,
                                                                                           platform::Error* error) {
  auto found = dataTypesFromTableWithName<std::shared_ptr<GWLPBMeasurementBundle>>(
      kRawEventsMetadata, "metadata_fingerprint", platform::Object(fingerprint), error,
      [](const platform::Dictionary& row,
         platform::Error* error) -> std::optional<std::shared_ptr<GWLPBMeasurementBundle>> {
        const platform::Object* metadata = field(row, "metadata");
        if (!metadata || !metadata->bytesValue()) {
          GWLSetError(error, kData, "Event metadata should not be empty for getting measurement bundle");
          return std::nullopt;
        }
        auto bundle = GWLPBMeasurementBundle::initWithBuffer(std::span<const uint8_t>(*metadata->bytesValue()));
        if (!bundle) {
          GWLSetError(error, kState, "Unable to parse bundle metadata");
          return std::nullopt;
        }
        return bundle;
      });
  if (!found) return nullptr;
  if (found->empty()) {
    GWLSetError(error, kData, "Received empty dictionary for getting measurement bundle");
    return nullptr;
  }
  return found->front();
}

bool GWLDatabase::deleteRawEventMetadataWithMetadataFingerprint(int64_t fingerprint, platform::Error* error) {
  return deleteWhere(kRawEventsMetadata, "metadata_fingerprint == ?", {fingerprint}, error);
}

bool GWLDatabase::deleteUnusedRawEventsMetadata(platform::Error* error) {
  return deleteWhere(kRawEventsMetadata,
                     "metadata_fingerprint NOT IN (SELECT DISTINCT metadata_fingerprint FROM raw_events)", {}, error);
}

bool GWLDatabase::insertRawEvent(const std::shared_ptr<GWLEvent>& event, int64_t metadataFingerprint,
                                 bool isRealtime, platform::Error* error) {
  if (!event) return fail(error, kArg, "Received empty event for inserting in the database");
  auto data = eventBlob(*event, true);
  if (!data) return fail(error, kData, "Received empty raw event data for getting dictionary representation");
  platform::Dictionary row = {{"name", event->name()},
                              {"timestamp", event->timestamp()},
                              {"metadata_fingerprint", metadataFingerprint},
                              {"data", std::move(*data)},
                              {"is_realtime", int64_t{isRealtime ? 1 : 0}}};
  return insertDataType(row, kRawEvents, error);
}

bool GWLDatabase::updateRawEvent(const std::shared_ptr<GWLRawEventData>& rawEvent, platform::Error* error) {
  if (!rawEvent || !rawEvent->rawEvent()) {
    return fail(error, kData, "Received empty raw event data for getting dictionary representation");
  }
  const GWLEvent& event = *rawEvent->rawEvent();
  auto data = eventBlob(event, true);
  if (!data) return fail(error, kData, "Received empty raw event data for getting dictionary representation");
  platform::Dictionary row = {{"name", event.name()},
                              {"timestamp", event.timestamp()},
                              {"metadata_fingerprint", rawEvent->metadataFingerprint()},
                              {"data", std::move(*data)},
                              {"is_realtime", int64_t{event.isRealtime() ? 1 : 0}}};
  return updateDataType(row, kRawEvents, "rowid", rawEvent->rowID(), error);
}

std::shared_ptr<GWLRawEventData> GWLDatabase::rawEventDataFromDictionary(const platform::Dictionary& row,
                                                                         platform::Error* error) {
  if (row.empty()) {
    GWLSetError(error, kArg, "Received empty dictionary for getting raw event data");
    return nullptr;
  }
  const platform::Object* rowID = field(row, "rowid");
  const platform::Object* data = field(row, "data");
  const platform::Object* fingerprint = field(row, "metadata_fingerprint");
  if (!rowID || !rowID->intValue()) {
    GWLSetError(error, kArg, "Unable to find row ID in the database dictionary");
    return nullptr;
  }
  if (!data || !data->bytesValue()) {
    GWLSetError(error, kArg, "Unable to find event data in the database dictionary");
    return nullptr;
  }
  if (!fingerprint || !fingerprint->intValue()) {
    GWLSetError(error, kArg, "Unable to find event metadata in the database dictionary");
    return nullptr;
  }
  auto proto = GWLPBEvent::initWithBuffer(std::span<const uint8_t>(*data->bytesValue()));
  if (!proto) {
    GWLSetError(error, kData, "Failed to parse event from data");
    return nullptr;
  }
  const platform::Object* nameField = field(row, "name");
  const std::string name = nameField && nameField->stringValue() ? *nameField->stringValue() : std::string();
  const double timestamp = doubleField(row, "timestamp", 0);
  const double previous = static_cast<double>(NANOGetInt64(proto, GWLPBEvent::Field::previous_timestamp)) / 1000;
  std::optional<std::string> origin;
  GWLRawParameters parameters;
  auto params = NANOGetMessageArray<GWLPBEventParam>(proto, GWLPBEvent::Field::params);
  for (const auto& param : params.value_or(std::vector<std::shared_ptr<GWLPBEventParam>>{})) {
    auto paramName = NANOGetString(param, GWLPBEventParam::Field::name);
    if (paramName && *paramName == kGWLEventOriginParameter) {
      auto text = NANOHasField(param, GWLPBEventParam::Field::string_value)
                      ? NANOGetString(param, GWLPBEventParam::Field::string_value)
                      : std::nullopt;
      if (!text) {
        GWLSetError(error, kState, "Cannot create an event from database. Origin parameter is not a string");
        return nullptr;
      }
      origin = *text;
      continue;
    }
    if (!paramName || paramName->empty()) {
      GWLSetError(error, kArg, "Event parameter name is empty");
      return nullptr;
    }
    auto value = valueFromWire(param, error);
    if (!value) {
      GWLSetError(error, kState, "Failed to parse event params data");
      return nullptr;
    }
    parameters.insert_or_assign(*paramName, *value);
  }
  if (!origin || origin->empty()) {
    GWLSetError(error, kState, "Cannot create an event from database. Missing origin parameter");
    return nullptr;
  }
  auto event = GWLEvent::initWithOrigin(*origin, false, name, timestamp, previous, parameters);
  auto record = event ? GWLRawEventData::initWithRawEvent(event, *rowID->intValue(), *fingerprint->intValue())
                      : nullptr;
  if (!record) GWLSetError(error, kState, "Failed to initialize raw event data from dictionary");
  return record;
}

std::optional<std::vector<std::shared_ptr<GWLRawEventData>>> GWLDatabase::allRawEventsWithError(
    platform::Error* error) {
  return allDataTypesFromTableWithName<std::shared_ptr<GWLRawEventData>>(
      kRawEvents, remoteConfig()->maxEventsStored(), error,
      [this](const platform::Dictionary& row,
             platform::Error* error) -> std::optional<std::shared_ptr<GWLRawEventData>> {
        auto record = rawEventDataFromDictionary(row, error);
        if (!record) return std::nullopt;
        return record;
      });
}

std::optional<std::vector<std::shared_ptr<GWLRawEventData>>> GWLDatabase::rawEventsWithMetadataFingerprint(
    int64_t fingerprint, platform::Error* error, const GWLRowFilter& eventFilter) {
  if (storeFailed(error, "Database not open")) return std::nullopt;
  auto found = store_->recordsForQuery(
      "SELECT rowid, * FROM raw_events WHERE metadata_fingerprint = ? ORDER BY rowid ASC LIMIT ?",
      {fingerprint, kRawEventsPerRead}, error,
      eventFilter ? eventFilter : [](size_t, const platform::Dictionary&) { return true; });
  if (!found) return std::nullopt;
  std::vector<std::shared_ptr<GWLRawEventData>> records;
  for (const auto& row : *found) {
    if (auto record = rawEventDataFromDictionary(row, error)) records.push_back(std::move(record));
  }
  if (!found->empty() && records.empty()) return std::nullopt;
  return records;
}

std::optional<int64_t> GWLDatabase::nextMetadataFingerprintToProcess(platform::Error* error) {
  auto found = rows("SELECT metadata_fingerprint, MIN(rowid) FROM raw_events", {}, error);
  if (!found) return std::nullopt;
  if (found->size() != 1) {
    GWLSetError(error, kState, "Only one event metadata should be processed");
    return std::nullopt;
  }
  const platform::Object* fingerprint = field(found->front(), "metadata_fingerprint");
  if (!fingerprint || !fingerprint->intValue()) return std::nullopt;
  return *fingerprint->intValue();
}

std::optional<bool> GWLDatabase::containsRawEventWithMetadataFingerprint(int64_t fingerprint,
                                                                         platform::Error* error) {
  return flag("SELECT EXISTS (SELECT 1 FROM raw_events WHERE metadata_fingerprint = ? LIMIT 1)", {fingerprint},
              error);
}

std::optional<bool> GWLDatabase::isRawEventsTableEmpty(platform::Error* error) {
  return flag("SELECT NOT EXISTS (SELECT 1 FROM raw_events LIMIT 1)", {}, error);
}

std::optional<bool> GWLDatabase::containsRealtimeRawEventsWithError(platform::Error* error) {
  return flag("SELECT EXISTS (SELECT 1 FROM raw_events WHERE is_realtime = 1 LIMIT 1)", {}, error);
}

std::optional<double> GWLDatabase::queryLatestRawEventTime(platform::Error* error) {
  auto latest = number("SELECT MAX(timestamp) FROM raw_events", {}, error);
  if (!latest) return std::nullopt;
  return latest->numberValue();
}

bool GWLDatabase::deleteRawEventsWithMaxRowID(int64_t rowID, platform::Error* error) {
  return deleteWhere(kRawEvents, "rowid <= ?", {rowID}, error);
}

std::optional<int64_t> GWLDatabase::deleteRawEventsOverAbsoluteLimit(platform::Error* error) {
  if (storeFailed(error, "Database not open")) return std::nullopt;
  const int64_t keep = std::max<int64_t>(int64_t{remoteConfig()->maxEventsStored()} - 1, 0);
  return store_->deleteRecordsFromTableWithName(
      kRawEvents, "rowid IN (SELECT rowid FROM raw_events ORDER BY rowid DESC LIMIT -1 OFFSET ?)", {keep}, error);
}

bool GWLDatabase::deleteStaleRawEventsDataOlderThanMaxAge(double maxAge, platform::Error* error) {
  if (maxAge < 0) return fail(error, kArg, "Cannot delete stale raw events given negative time period");
  if (storeFailed(error, "Database not open")) return false;
  auto deleted = store_->deleteRecordsFromTableWithName(
      kRawEvents, "abs(timestamp - cast(? as REAL)) > cast(? as REAL)", {now(), maxAge}, error);
  if (!deleted) return false;
  return *deleted == 0 || deleteUnusedRawEventsMetadata(error);
}

// ============================================================================
// Upload queue
// ============================================================================

bool GWLDatabase::insertBundle(const GWLPBMeasurementBundle& bundle, bool isRealtime, platform::Error* error) {
  auto bytes = bytesOf(bundle);
  if (!bytes) return fail(error, kArg, "Failed to insert nil bundle");
  auto& message = const_cast<GWLPBMeasurementBundle&>(bundle);  // the accessors only read here
  auto appID = NANOGetString(message, GWLPBMeasurementBundle::Field::app_id);
  if (!appID || appID->empty()) return fail(error, kArg, "Failed to insert bundle without App ID");
  const int64_t endMillis = NANOGetInt64(message, GWLPBMeasurementBundle::Field::end_timestamp);
  if (endMillis <= 0) return fail(error, kArg, "Failed to insert bundle without valid timestamp");
  if (!maybeDeleteStaleData(error)) return false;
  const double endTimestamp = static_cast<double>(endMillis) / 1000;
  if (std::fabs(now() - endTimestamp) > remoteConfig()->maxQueueTime()) {
    monitor()->logWithLevel(4, 12016, std::string("Storing bundle outside of the max uploading time span"));
  }
  auto compressed = platform::hvu_dataByGzippingData(*bytes);
  if (!compressed || compressed->empty()) return fail(error, kState, "Failed to compress bundle");
  monitor()->logWithLevel(7, 12018, std::string("Saving bundle. size (bytes)"), std::to_string(compressed->size()));
  platform::Dictionary row = {
      {"bundle_end_timestamp", endTimestamp},
      {"data", std::move(*compressed)},
      {"is_realtime", int64_t{isRealtime ? 1 : 0}},
      {"retry_count", int64_t{NANOGetInt32(message, GWLPBMeasurementBundle::Field::retry_count)}}};
  if (storeFailed(error, "Database not open")) return false;
  return store_->upsertRecord(row, kQueue, error);
}

std::optional<GWLQueuedBundle> GWLDatabase::queuedBundleFromRow(const platform::Dictionary& row,
                                                                platform::Error* error) {
  if (row.empty()) {
    GWLSetError(error, kData, "Cannot process empty rowData");
    return std::nullopt;
  }
  const platform::Object* data = field(row, "data");
  if (!data || !data->bytesValue() || data->bytesValue()->empty()) {
    GWLSetError(error, kData, "Cannot decompress an empty bundle data");
    return std::nullopt;
  }
  platform::Error inflateError;
  auto inflated = platform::hvu_dataByInflatingGzippedData(*data->bytesValue(), &inflateError);
  if (!inflated || inflated->empty()) {
    GWLSetError(error, kState, inflated ? "Decompressed bundle data is empty" : inflateError.description);
    return std::nullopt;
  }
  auto bundle = GWLPBMeasurementBundle::initWithBuffer(std::span<const uint8_t>(*inflated));
  if (!bundle) {
    GWLSetError(error, kState, "Unable to parse bundle from decompressed data");
    return std::nullopt;
  }
  const int64_t retries = intField(row, "retry_count", 0);
  if (retries > 0) NANOSetInt32(bundle, GWLPBMeasurementBundle::Field::retry_count, int32Of(retries));
  const platform::Object* rowID = field(row, "rowid");
  if (!rowID || !rowID->intValue()) {
    GWLSetError(error, kData, "Cannot process a queued bundle without row ID");
    return std::nullopt;
  }
  return GWLQueuedBundle{bundle, *rowID->intValue()};
}

std::optional<std::vector<GWLQueuedBundle>> GWLDatabase::queryBundlesWithCountLimit(int64_t countLimit,
                                                                                    int64_t sizeLimit,
                                                                                    platform::Error* error) {
  auto found = rows("SELECT rowid, data, retry_count FROM queue ORDER BY rowid ASC LIMIT ?", {countLimit}, error);
  if (!found) return std::nullopt;
  std::vector<GWLQueuedBundle> taken;
  int64_t runningSize = 0;
  for (const auto& row : *found) {
    auto queued = queuedBundleFromRow(row, error);
    if (!queued) continue;
    auto bytes = queued->bundle->protoBuffer();
    const int64_t size = bytes ? static_cast<int64_t>(bytes->size()) : 0;
    if (!taken.empty() && runningSize + size > sizeLimit) break;
    taken.push_back(std::move(*queued));
    runningSize += size;
    if (runningSize > sizeLimit) break;
  }
  return taken;
}

std::optional<std::vector<GWLQueuedBundle>> GWLDatabase::queryBundlesWithRowIDs(const std::vector<int64_t>& rowIDs,
                                                                                platform::Error* error) {
  if (rowIDs.empty()) {
    GWLSetError(error, kData, "Received empty row IDs to process");
    return std::nullopt;
  }
  auto found = rows("SELECT rowid, data, retry_count FROM queue WHERE " + rowIDCondition(rowIDs.size()),
                    rowIDValues(rowIDs), error);
  if (!found) return std::nullopt;
  std::vector<GWLQueuedBundle> bundles;
  for (const auto& row : *found) {
    if (auto queued = queuedBundleFromRow(row, error)) bundles.push_back(std::move(*queued));
  }
  return bundles;
}

bool GWLDatabase::deleteBundlesWithRowIDs(const std::vector<int64_t>& rowIDs, platform::Error* error) {
  if (rowIDs.empty()) return fail(error, kData, "Received empty row IDs to process");
  return deleteWhere(kQueue, rowIDCondition(rowIDs.size()), rowIDValues(rowIDs), error);
}

bool GWLDatabase::incrementRetryCounterForBundlesWithIDs(const std::vector<int64_t>& rowIDs,
                                                         platform::Error* error) {
  if (rowIDs.empty()) return fail(error, kArg, "Failed to increment retry counter");
  auto atLimit = flag("SELECT EXISTS (SELECT 1 FROM queue WHERE retry_count = ? LIMIT 1)", {int64_t{kMaxRetryCount}},
                      error);
  if (!atLimit) return false;
  if (*atLimit) {
    monitor()->logWithLevel(1, 12054,
                            std::string("The number of upload retries exceeds the limit. Will remain unchanged."));
  }
  platform::Array parameters = rowIDValues(rowIDs);
  parameters.emplace_back(int64_t{kMaxRetryCount});
  if (storeFailed(error, "Database not open")) return false;
  return store_->increaseColumn("retry_count", 1, kQueue, rowIDCondition(rowIDs.size()) + " AND retry_count < ?",
                                parameters, error);
}

std::optional<bool> GWLDatabase::isQueuedBundleTableEmpty(platform::Error* error) {
  return flag("SELECT NOT EXISTS (SELECT 1 FROM queue LIMIT 1)", {}, error);
}

std::optional<bool> GWLDatabase::containsRealtimeBundlesWithError(platform::Error* error) {
  return flag("SELECT EXISTS (SELECT 1 FROM queue WHERE is_realtime = 1 LIMIT 1)", {}, error);
}

std::optional<double> GWLDatabase::queryLatestBundleTime(platform::Error* error) {
  auto latest = number("SELECT MAX(bundle_end_timestamp) FROM queue", {}, error);
  if (!latest) return std::nullopt;
  return latest->numberValue();
}

std::optional<bool> GWLDatabase::maybeDeleteStaleData(platform::Error* error) {
  const double current = now();
  const double last = persistedConfig_ ? persistedConfig_->lastDeleteStaleBundlesTimestamp() : 0;
  auto config = remoteConfig();
  if (std::fabs(current - last) <= config->databaseDeleteStaleBundlesInterval()) return false;
  const double maxAge = config->maxQueueTime();
  if (!deleteStaleRawEventsDataOlderThanMaxAge(maxAge, error) || !deleteStaleBundlesOlderThanMaxAge(maxAge, error)) {
    return std::nullopt;
  }
  if (persistedConfig_) persistedConfig_->setLastDeleteStaleBundlesTimestamp(current);
  return true;
}

bool GWLDatabase::deleteStaleBundlesOlderThanMaxAge(double maxAge, platform::Error* error) {
  if (maxAge < 0) return fail(error, kArg, "Cannot delete stale bundles after negative time period");
  return deleteWhere(kQueue, "abs(bundle_end_timestamp - cast(? as REAL)) > cast(? as REAL)", {now(), maxAge},
                     error);
}

// ============================================================================
// Event aggregates
// ============================================================================

namespace {
std::optional<std::shared_ptr<GWLEventAggregates>> aggregatesFromRow(const platform::Dictionary& row,
                                                                     platform::Error* error) {
  const platform::Object* name = field(row, "name");
  if (!name || !name->stringValue()) {
    GWLSetError(error, kData, "Received empty dictionary for getting event aggregates");
    return std::nullopt;
  }
  auto aggregates = GWLEventAggregates::initWithName(
      *name->stringValue(), int32Of(intField(row, "lifetime_count", -1)),
      int32Of(intField(row, "current_bundle_count", -1)), int32Of(intField(row, "current_session_count", 0)),
      doubleField(row, "last_fire_timestamp", 0));
  if (!aggregates) {
    GWLSetError(error, kState, "Failed to initialize event aggregates from dictionary");
    return std::nullopt;
  }
  aggregates->setLastBundledTimestamp(doubleField(row, "last_bundled_timestamp", 0));
  if (const platform::Object* id = field(row, "last_sampled_complex_event_id"); id && id->intValue()) {
    aggregates->setLastSampledComplexEventID(*id->intValue());
  }
  aggregates->setLastSamplingRate(int32Of(intField(row, "last_sampling_rate", 1)));
  aggregates->setLastExemptFromSampling(intField(row, "last_exempt_from_sampling", 0) != 0);
  aggregates->setLastBundledDay(int32Of(intField(row, "last_bundled_day", 0)));
  return aggregates;
}
}  // namespace

std::shared_ptr<GWLEventAggregates> GWLDatabase::eventAggregatesWithName(const std::string& name,
                                                                         platform::Error* error) {
  return eventAggregatesWithName(name, kEvents, error);
}

std::shared_ptr<GWLEventAggregates> GWLDatabase::eventAggregatesSnapshotWithName(const std::string& name,
                                                                                 platform::Error* error) {
  if (storeFailed(error, "Database not open")) return nullptr;
  auto exists = store_->tableExists(kEventsSnapshot, error);
  if (!exists || !*exists) return nullptr;
  return eventAggregatesWithName(name, kEventsSnapshot, error);
}

std::shared_ptr<GWLEventAggregates> GWLDatabase::eventAggregatesWithName(const std::string& name,
                                                                         const std::string& table,
                                                                         platform::Error* error) {
  auto found = dataTypesFromTableWithName<std::shared_ptr<GWLEventAggregates>>(table, "name", platform::Object(name),
                                                                               error, aggregatesFromRow);
  if (!found || found->empty()) return nullptr;
  return found->front();
}

std::optional<std::vector<std::shared_ptr<GWLEventAggregates>>> GWLDatabase::allEventAggregates(
    platform::Error* error) {
  return allDataTypesFromTableWithName<std::shared_ptr<GWLEventAggregates>>(kEvents, -1, error, aggregatesFromRow);
}

std::optional<int64_t> GWLDatabase::publicEventCount(platform::Error* error) {
  auto count = number("SELECT count(1) FROM events WHERE name NOT LIKE '!_%' ESCAPE '!'", {}, error);
  if (!count) return std::nullopt;
  return count->intValue();
}

bool GWLDatabase::updateEventAggregates(const std::shared_ptr<GWLEventAggregates>& aggregates,
                                        platform::Error* error) {
  if (!aggregates) {
    return fail(error, kData, "Received empty event aggregates object for getting dictionary representation");
  }
  if (aggregates->name().empty()) {
    return fail(error, kArg, "Received event aggregates object with empty name for getting dictionary representation");
  }
  platform::Dictionary row = {{"name", aggregates->name()},
                              {"lifetime_count", int64_t{aggregates->lifetimeCount()}},
                              {"current_bundle_count", int64_t{aggregates->currentBundleCount()}},
                              {"last_fire_timestamp", aggregates->lastFireTimestamp()},
                              {"last_bundled_timestamp", aggregates->lastBundledTimestamp()},
                              {"last_sampling_rate", int64_t{aggregates->lastSamplingRate()}},
                              {"last_exempt_from_sampling", int64_t{aggregates->lastExemptFromSampling() ? 1 : 0}},
                              {"last_bundled_day", int64_t{aggregates->lastBundledDay()}},
                              {"current_session_count", int64_t{aggregates->currentSessionCount()}}};
  if (aggregates->lastSampledComplexEventID()) {
    row.emplace("last_sampled_complex_event_id", *aggregates->lastSampledComplexEventID());
  }
  return upsertDataType(row, kEvents, "name", aggregates->name(), -1, error);
}

bool GWLDatabase::clearCurrentSessionCounts(platform::Error* error) {
  if (storeFailed(error, "Database not open")) return false;
  return store_->updateAllRecordsInTableWithName(kEvents, "current_session_count", platform::Object(int64_t{0}),
                                                 error);
}

bool GWLDatabase::deleteAllEventAggregates(platform::Error* error) {
  if (storeFailed(error, "Database not open")) return false;
  return store_->deleteAllRecordsFromTableWithName(kEvents, error);
}

bool GWLDatabase::deleteAllEventAggregatesInSnapshot(platform::Error* error) {
  if (storeFailed(error, "Database not open")) return false;
  return store_->deleteAllRecordsFromTableWithName(kEventsSnapshot, error);
}

bool GWLDatabase::createEventsSnapshotTable(platform::Error* error) {
  if (storeFailed(error, "Database not open")) return false;
  auto exists = store_->tableExists(kEventsSnapshot, error);
  if (!exists) return false;
  if (*exists) store_->dropTableWithName(kEventsSnapshot);
  if (!store_->createEmptyTable(kEventsSnapshot, kEvents, error)) {
    monitor()->logWithLevel(4, 12058, std::string("Failed to ensure event snapshot table"));
    return false;
  }
  return store_->copyContentsFromTable(kEvents, kEventsSnapshot, error);
}

bool GWLDatabase::restoreFromEventsSnapshotTable(platform::Error* error) {
  if (storeFailed(error, "Database not open")) return false;
  auto exists = store_->tableExists(kEventsSnapshot, error);
  if (!exists) return false;
  if (!*exists) return true;
  auto count = store_->rowCountForTableWithName(kEventsSnapshot, error);
  if (!count) return false;
  if (*count == 0) return true;
  platform::Error readError;
  auto currentFirstOpen = eventAggregatesWithName("_f", &readError);
  if (!currentFirstOpen && !readError.domain.empty()) {
    platform::setError(error, readError);
    return false;
  }
  if (!store_->deleteAllRecordsFromTableWithName(kEvents, error) ||
      !store_->copyContentsFromTable(kEventsSnapshot, kEvents, error)) {
    return false;
  }
  auto snapshotFirstOpen = eventAggregatesWithName("_f", kEventsSnapshot, &readError);
  if ((!snapshotFirstOpen || snapshotFirstOpen->lifetimeCount() == 0) && currentFirstOpen &&
      !updateEventAggregates(currentFirstOpen, error)) {
    return false;
  }
  return store_->deleteAllRecordsFromTableWithName(kEventsSnapshot, error);
}

// ============================================================================
// User attributes
// ============================================================================

namespace {
std::optional<std::shared_ptr<GWLUserAttribute>> userAttributeFromRow(const platform::Dictionary& row,
                                                                      platform::Error* error) {
  if (row.empty()) {
    GWLSetError(error, kData, "Received empty dictionary for getting user property");
    return std::nullopt;
  }
  const platform::Object* name = field(row, "name");
  const platform::Object* origin = field(row, "origin");
  const platform::Object* stored = field(row, "value");
  auto value = stored ? GWLValue::valueFromObject(*stored) : std::nullopt;
  if (!name || !name->stringValue() || !value) {
    GWLSetError(error, kState, "Failed to initialize user property from dictionary");
    return std::nullopt;
  }
  auto attribute =
      GWLUserAttribute::initWithOrigin(origin && origin->stringValue() ? *origin->stringValue() : std::string(),
                                       *name->stringValue(), *value, doubleField(row, "set_timestamp", 0));
  if (!attribute) {
    GWLSetError(error, kState, "Failed to initialize user property from dictionary");
    return std::nullopt;
  }
  return attribute;
}
}  // namespace

std::optional<int64_t> GWLDatabase::publicUserAttributeCount(platform::Error* error) {
  auto count = number("SELECT count(1) FROM user_attributes WHERE name NOT LIKE '!_%' ESCAPE '!'", {}, error);
  if (!count) return std::nullopt;
  return count->intValue();
}

std::optional<int64_t> GWLDatabase::userAttributeCountForOrigin(const std::string& origin, platform::Error* error) {
  if (origin.empty()) {
    GWLSetError(error, kArg, "Received empty user property origin for count query");
    return std::nullopt;
  }
  auto count = number("SELECT count(1) FROM user_attributes WHERE origin = ?", {origin}, error);
  if (!count) return std::nullopt;
  return count->intValue();
}

std::optional<bool> GWLDatabase::containsUserAttributeWithName(const std::string& name, platform::Error* error) {
  if (name.empty()) {
    GWLSetError(error, kArg, "Received empty user property name for exists query");
    return std::nullopt;
  }
  return flag("SELECT EXISTS (SELECT 1 FROM user_attributes WHERE name = ? LIMIT 1)", {name}, error);
}

std::shared_ptr<GWLUserAttribute> GWLDatabase::userAttributeWithName(const std::string& name,
                                                                     platform::Error* error) {
  auto found = dataTypesFromTableWithName<std::shared_ptr<GWLUserAttribute>>(
      kUserAttributes, "name", platform::Object(name), error, userAttributeFromRow);
  if (!found || found->empty()) return nullptr;
  return found->front();
}

std::optional<std::vector<std::shared_ptr<GWLUserAttribute>>> GWLDatabase::allLifetimeValueUserAttributes(
    platform::Error* error) {
  auto found =
      rows("SELECT * FROM user_attributes WHERE name LIKE '!_ltv!_%' ESCAPE '!' ORDER BY set_timestamp DESC", {}, error);
  if (!found) return std::nullopt;
  std::vector<std::shared_ptr<GWLUserAttribute>> attributes;
  for (const auto& row : *found) {
    auto attribute = userAttributeFromRow(row, error);
    if (!attribute) return std::nullopt;
    attributes.push_back(std::move(*attribute));
  }
  return attributes;
}

std::optional<std::vector<std::shared_ptr<GWLUserAttribute>>> GWLDatabase::userAttributesIncludingInternal(
    bool includeInternal, platform::Error* error) {
  auto all = allDataTypesFromTableWithName<std::shared_ptr<GWLUserAttribute>>(kUserAttributes, kUserAttributesLimit,
                                                                              error, userAttributeFromRow);
  if (!all) return std::nullopt;
  if (includeInternal) return all;
  const auto& internalNames = GWLPublicToInternalUserPropertyNameMap();
  std::vector<std::shared_ptr<GWLUserAttribute>> visible;
  for (auto& attribute : *all) {
    const std::string& name = attribute->name();
    if (name.starts_with("_") || GWLDataTypeValidator::hasReservedPrefixes(name) || internalNames.count(name)) continue;
    visible.push_back(std::move(attribute));
  }
  return visible;
}

bool GWLDatabase::updateUserAttribute(const std::shared_ptr<GWLUserAttribute>& attribute, platform::Error* error) {
  if (!attribute) return fail(error, kData, "Received empty user property for getting dictionary representation");
  if (attribute->origin().empty()) {
    return fail(error, kData, "Received user property with empty origin for getting dictionary representation");
  }
  if (attribute->name().empty()) {
    return fail(error, kArg, "Received user property with empty name for getting dictionary representation");
  }
  const std::string* text = attribute->value().stringValue();
  if (text && text->empty()) return fail(error, kArg, "Received empty string value for user property");
  platform::Dictionary row = {{"origin", attribute->origin()},
                              {"name", attribute->name()},
                              {"value", objectForColumn(attribute->value())},
                              {"set_timestamp", attribute->lastSetTimestamp()}};
  return upsertDataType(row, kUserAttributes, "name", attribute->name(), kUserAttributesLimit, error);
}

bool GWLDatabase::deleteUserAttributeWithName(const std::string& name, platform::Error* error) {
  if (storeFailed(error, "Database not open")) return false;
  return store_->deleteRecordFromTableWithName(kUserAttributes, "name", platform::Object(name), error);
}

// ============================================================================
// Audiences
// ============================================================================

namespace {
std::optional<std::shared_ptr<GWLFilterResult>> filterResultFromRow(const platform::Dictionary& row,
                                                                    platform::Error* error) {
  const platform::Object* audienceID = field(row, "audience_id");
  if (row.empty() || !audienceID || !audienceID->intValue()) {
    GWLSetError(error, kData, "Received empty dictionary for getting filter result");
    return std::nullopt;
  }
  auto bytes = [&](const char* name) -> std::optional<std::vector<uint8_t>> {
    const platform::Object* value = field(row, name);
    if (value && value->bytesValue()) return *value->bytesValue();
    return std::nullopt;
  };
  return std::make_shared<GWLFilterResult>(int32Of(*audienceID->intValue()), bytes("current_results"),
                                           bytes("previous_results"));
}

template <class Filter, class Message>
std::optional<std::shared_ptr<Filter>> filterFromRow(const platform::Dictionary& row, platform::Error* error,
                                                     const char* nameColumn, const char* emptyMessage,
                                                     int32_t sessionField, int32_t dynamicField,
                                                     int32_t sequenceField) {
  const platform::Object* audienceID = field(row, "audience_id");
  const platform::Object* filterID = field(row, "filter_id");
  const platform::Object* name = field(row, nameColumn);
  const platform::Object* data = field(row, "data");
  if (row.empty() || !audienceID || !audienceID->intValue() || !filterID || !filterID->intValue() || !name ||
      !name->stringValue() || !data || !data->bytesValue()) {
    GWLSetError(error, kData, emptyMessage);
    return std::nullopt;
  }
  auto message = Message::initWithBuffer(std::span<const uint8_t>(*data->bytesValue()));
  const bool session = message && NANOGetBool(message, sessionField);
  const bool dynamic = message && NANOGetBool(message, dynamicField);
  const bool sequence = message && NANOGetBool(message, sequenceField);
  return std::make_shared<Filter>(int32Of(*audienceID->intValue()), int32Of(*filterID->intValue()),
                                  *name->stringValue(), *data->bytesValue(), session, dynamic, sequence);
}

std::optional<std::shared_ptr<GWLEventFilter>> eventFilterFromRow(const platform::Dictionary& row,
                                                                  platform::Error* error) {
  return filterFromRow<GWLEventFilter, GWLPBEventFilter>(
      row, error, "event_name", "Received empty dictionary for getting event filter",
      GWLPBEventFilter::Field::session_scoped, GWLPBEventFilter::Field::dynamic, GWLPBEventFilter::Field::sequence);
}

std::optional<std::shared_ptr<GWLPropertyFilter>> propertyFilterFromRow(const platform::Dictionary& row,
                                                                        platform::Error* error) {
  return filterFromRow<GWLPropertyFilter, GWLPBPropertyFilter>(
      row, error, "property_name", "Received empty dictionary for getting property filter",
      GWLPBPropertyFilter::Field::session_scoped, GWLPBPropertyFilter::Field::dynamic,
      GWLPBPropertyFilter::Field::sequence);
}
}  // namespace

std::optional<std::map<int32_t, std::shared_ptr<GWLFilterResult>>> GWLDatabase::allFilterResults(
    platform::Error* error) {
  auto all = allDataTypesFromTableWithName<std::shared_ptr<GWLFilterResult>>(kAudienceFilterValues, -1, error,
                                                                             filterResultFromRow);
  if (!all) return std::nullopt;
  std::map<int32_t, std::shared_ptr<GWLFilterResult>> results;
  for (auto& result : *all) results[result->audienceID()] = result;
  return results;
}

std::optional<std::vector<int32_t>> GWLDatabase::allAudienceIDs(platform::Error* error) {
  auto found =
      rows("SELECT audience_id FROM event_filters UNION SELECT audience_id FROM property_filters", {}, error);
  if (!found) return std::nullopt;
  std::vector<int32_t> ids;
  for (const auto& row : *found) {
    const platform::Object* id = field(row, "audience_id");
    if (!id || !id->intValue()) {
      GWLSetError(error, kArg, "Received nil audience ID for querying all audience IDs");
      return std::nullopt;
    }
    ids.push_back(int32Of(*id->intValue()));
  }
  return ids;
}

std::optional<std::vector<std::shared_ptr<GWLEventFilter>>> GWLDatabase::eventFiltersForEventName(
    const std::string& name, platform::Error* error) {
  if (name.empty()) {
    GWLSetError(error, kArg, "Received empty event name for getting event filters");
    return std::nullopt;
  }
  return dataTypesFromTableWithName<std::shared_ptr<GWLEventFilter>>(kEventFilters, "event_name",
                                                                     platform::Object(name), error, eventFilterFromRow);
}

std::optional<std::vector<std::shared_ptr<GWLPropertyFilter>>> GWLDatabase::propertyFiltersForPropertyName(
    const std::string& name, platform::Error* error) {
  if (name.empty()) {
    GWLSetError(error, kArg, "Received empty property name for getting property filters");
    return std::nullopt;
  }
  return dataTypesFromTableWithName<std::shared_ptr<GWLPropertyFilter>>(
      kPropertyFilters, "property_name", platform::Object(name), error, propertyFilterFromRow);
}

std::shared_ptr<GWLFilterResult> GWLDatabase::filterResultForAudienceID(int32_t audienceID, platform::Error* error) {
  auto found = dataTypesFromTableWithName<std::shared_ptr<GWLFilterResult>>(
      kAudienceFilterValues, "audience_id", platform::Object(int64_t{audienceID}), error, filterResultFromRow);
  if (!found || found->empty()) return nullptr;
  return found->front();
}

std::optional<std::map<int32_t, std::vector<int32_t>>> GWLDatabase::allSessionScopedFilters(platform::Error* error) {
  auto found = rows(
      "SELECT audience_id, filter_id FROM event_filters WHERE session_scoped = 1 UNION SELECT audience_id, filter_id "
      "FROM property_filters WHERE session_scoped = 1",
      {}, error);
  if (!found) return std::nullopt;
  std::map<int32_t, std::vector<int32_t>> filters;
  for (const auto& row : *found) {
    const platform::Object* audienceID = field(row, "audience_id");
    const platform::Object* filterID = field(row, "filter_id");
    if (!audienceID || !filterID || !audienceID->intValue() || !filterID->intValue()) continue;
    filters[int32Of(*audienceID->intValue())].push_back(int32Of(*filterID->intValue()));
  }
  return filters;
}

bool GWLDatabase::updateEventFilters(const std::vector<std::shared_ptr<GWLEventFilter>>& filters,
                                     platform::Error* error) {
  if (filters.empty()) return fail(error, kArg, "Received empty event filters to update");
  if (storeFailed(error, "Database not open")) return false;
  for (const auto& filter : filters) {
    if (!filter) return fail(error, kData, "Received empty event filter for getting dictionary representation");
    if (filter->eventName().empty()) {
      return fail(error, kData, "Received event filter with empty event name for getting dictionary representation");
    }
    if (filter->data().empty()) {
      return fail(error, kData, "Received event filter with empty data for getting dictionary representation");
    }
    platform::Dictionary row = {{"audience_id", int64_t{filter->audienceID()}},
                                {"filter_id", int64_t{filter->filterID()}},
                                {"event_name", filter->eventName()},
                                {"data", filter->data()},
                                {"session_scoped", int64_t{filter->isSessionScoped() ? 1 : 0}}};
    if (!store_->upsertRecord(row, kEventFilters, error)) return false;
  }
  return true;
}

bool GWLDatabase::updatePropertyFilters(const std::vector<std::shared_ptr<GWLPropertyFilter>>& filters,
                                        platform::Error* error) {
  if (filters.empty()) return fail(error, kArg, "Received empty property filters to update");
  if (storeFailed(error, "Database not open")) return false;
  for (const auto& filter : filters) {
    if (!filter) return fail(error, kData, "Received empty property filter for getting dictionary representation");
    if (filter->propertyName().empty()) {
      return fail(error, kData,
                  "Received property filter with empty property name for getting dictionary representation");
    }
    if (filter->data().empty()) {
      return fail(error, kData, "Received property filter with empty data for getting dictionary representation");
    }
    platform::Dictionary row = {{"audience_id", int64_t{filter->audienceID()}},
                                {"filter_id", int64_t{filter->filterID()}},
                                {"property_name", filter->propertyName()},
                                {"data", filter->data()},
                                {"session_scoped", int64_t{filter->isSessionScoped() ? 1 : 0}}};
    if (!store_->upsertRecord(row, kPropertyFilters, error)) return false;
  }
  return true;
}

bool GWLDatabase::updateFilterResults(const std::vector<std::shared_ptr<GWLFilterResult>>& results,
                                      platform::Error* error) {
  if (results.empty()) return fail(error, kArg, "Received empty filter results to update");
  if (storeFailed(error, "Database not open")) return false;
  for (const auto& result : results) {
    if (!result) return fail(error, kData, "Received empty filter result for getting dictionary representation");
    if (!result->currentResults() || result->currentResults()->empty()) {
      return fail(error, kData, "Received filter result with empty data for getting dictionary representation");
    }
    platform::Dictionary row = {{"audience_id", int64_t{result->audienceID()}},
                                {"current_results", *result->currentResults()}};
    const auto& previous = result->previousResults();
    row.emplace("previous_results", previous && !previous->empty() ? platform::Object(*previous) : platform::Object());
    if (!store_->upsertRecord(row, kAudienceFilterValues, error)) return false;
  }
  return true;
}

bool GWLDatabase::deleteFilterResults(const std::vector<std::shared_ptr<GWLFilterResult>>& results,
                                      platform::Error* error) {
  if (results.empty()) return fail(error, kArg, "Received empty filter results to delete");
  std::set<int32_t> ids;
  for (const auto& result : results) {
    if (!result) return fail(error, kArg, "Received unknown type to delete filter result");
    ids.insert(result->audienceID());
  }
  std::string list;
  for (int32_t id : ids) list += (list.empty() ? "" : ",") + std::to_string(id);
  return deleteWhere(kAudienceFilterValues, "audience_id IN (" + list + ")", {}, error);
}

namespace {
template <class Filter>
std::optional<std::string> filterKeyCondition(const std::vector<std::shared_ptr<Filter>>& filters) {
  std::string condition;
  for (const auto& filter : filters) {
    if (!filter) return std::nullopt;
    condition += (condition.empty() ? "" : " OR ") + std::string("(audience_id=") +
                 std::to_string(filter->audienceID()) + " AND filter_id=" + std::to_string(filter->filterID()) + ")";
  }
  return condition;
}
}  // namespace

bool GWLDatabase::deleteEventFilters(const std::vector<std::shared_ptr<GWLEventFilter>>& filters,
                                     platform::Error* error) {
  if (filters.empty()) return fail(error, kArg, "Received empty event filters to delete");
  auto condition = filterKeyCondition(filters);
  if (!condition) return fail(error, kArg, "Received unknown type to delete event filter");
  return deleteWhere(kEventFilters, *condition, {}, error);
}

bool GWLDatabase::deletePropertyFilters(const std::vector<std::shared_ptr<GWLPropertyFilter>>& filters,
                                        platform::Error* error) {
  if (filters.empty()) return fail(error, kArg, "Received empty property filters to delete");
  auto condition = filterKeyCondition(filters);
  if (!condition) return fail(error, kArg, "Received unknown type to delete property filter");
  return deleteWhere(kPropertyFilters, *condition, {}, error);
}

bool GWLDatabase::deleteAllEventFilters(platform::Error* error) {
  if (storeFailed(error, "Database not open")) return false;
  return store_->deleteAllRecordsFromTableWithName(kEventFilters, error);
}

bool GWLDatabase::deleteAllPropertyFilters(platform::Error* error) {
  if (storeFailed(error, "Database not open")) return false;
  return store_->deleteAllRecordsFromTableWithName(kPropertyFilters, error);
}

// ============================================================================
// Stored configuration
// ============================================================================

bool GWLDatabase::updateRemoteConfig(const GWLPBMeasurementConfig& config, platform::Error* error) {
  auto bytes = bytesOf(config);
  if (!bytes) return fail(error, kArg, "Invalid measurement config data");
  auto appID = NANOGetString(const_cast<GWLPBMeasurementConfig&>(config), GWLPBMeasurementConfig::Field::app_id);
  if (!appID || appID->empty()) return fail(error, kArg, "Missing Halcyra app ID in measurement configuration");
  platform::Dictionary row = {{"remote_config_data", std::move(*bytes)}, {"remote_config_timestamp", now()}};
  return updateDataType(row, kAppMetadata, "rowid", "1", error);
}

bool GWLDatabase::updateRemoteConfigSuccessfulTimestamp(double timestamp, platform::Error* error) {
  return updateDataType({{"remote_config_timestamp", timestamp}}, kAppMetadata, "rowid", "1", error);
}

std::shared_ptr<GWLPBMeasurementConfig> GWLDatabase::queryMeasurementConfigWithError(platform::Error* error) {
  auto found = rows("SELECT remote_config_data FROM app_metadata LIMIT 1", {}, error);
  if (!found || found->empty()) return nullptr;
  const platform::Object* data = field(found->front(), "remote_config_data");
  if (!data || !data->bytesValue() || data->bytesValue()->empty()) return nullptr;
  auto config = GWLPBMeasurementConfig::initWithBuffer(std::span<const uint8_t>(*data->bytesValue()));
  if (!config) GWLSetError(error, kState, "Remote config data is corrupted");
  return config;
}

std::optional<double> GWLDatabase::lastRemoteConfigUpdateTimestamp(platform::Error* error) {
  auto timestamp = number("SELECT remote_config_timestamp FROM app_metadata LIMIT 1", {}, error);
  if (!timestamp) return std::nullopt;
  return timestamp->numberValue();
}

// ============================================================================
// Purchases and subscriptions
// ============================================================================

// Whether the value was new. A failed look-up is a failure, never "absent":
// a purchase must not be reported twice because a query failed.
std::optional<bool> GWLDatabase::insertIfNotDuplicate(const std::string& table, const std::string& column,
                                                      const std::string& value, platform::Error* error) {
  if (value.empty()) return false;
  auto present =
      flag("SELECT EXISTS (SELECT 1 FROM " + table + " WHERE " + column + " = ? LIMIT 1)", {value}, error);
  if (!present) return std::nullopt;
  if (*present) return false;
  if (storeFailed(error, "Database not open")) return std::nullopt;
  if (!store_->upsertRecord({{column, value}}, table, error)) return std::nullopt;
  return true;
}

std::optional<bool> GWLDatabase::insertIfNotDuplicatePurchaseFingerprint(const std::string& fingerprint,
                                                                         platform::Error* error) {
  auto inserted = insertIfNotDuplicate(kPurchaseTransactions, "fingerprint", fingerprint, error);
  if (!inserted || !*inserted) return inserted;
  if (!deleteWhere(kPurchaseTransactions,
                   "rowid IN (SELECT rowid FROM purchase_transactions ORDER BY rowid DESC LIMIT -1 OFFSET ?)",
                   {kPurchasesKept}, error)) {
    return std::nullopt;
  }
  return true;
}

std::optional<bool> GWLDatabase::insertIfNotDuplicateSubscriptionID(const std::string& subscriptionID,
                                                                    platform::Error* error) {
  return insertIfNotDuplicate(kSubscriptions, "subscription_id", subscriptionID, error);
}

std::optional<int64_t> GWLDatabase::deleteSubscriptionsOverLimit(platform::Error* error) {
  if (storeFailed(error, "Database not open")) return std::nullopt;
  return store_->deleteRecordsFromTableWithName(
      kSubscriptions, "rowid IN (SELECT rowid FROM subscriptions ORDER BY rowid DESC LIMIT -1 OFFSET ?)",
      {kPurchasesKept}, error);
}

// ============================================================================
// Conditional user properties
// ============================================================================

std::shared_ptr<GWLConditionalUserProperty> GWLDatabase::conditionalUserPropertyFromRow(
    const platform::Dictionary& row, platform::Error* error) {
  if (row.empty()) return nullptr;
  auto property = std::make_shared<GWLConditionalUserProperty>();
  const platform::Object* name = field(row, "name");
  const platform::Object* origin = field(row, "origin");
  const platform::Object* value = field(row, "value");
  if (name && name->stringValue()) property->name = *name->stringValue();
  if (origin && origin->stringValue()) property->origin = *origin->stringValue();
  if (value) property->value = GWLValue::valueFromObject(*value);
  property->triggerTimeout = doubleField(row, "trigger_timeout", 0);
  property->timeToLive = doubleField(row, "time_to_live", 0);
  if (const platform::Object* trigger = field(row, "trigger_event_name"); trigger && trigger->stringValue()) {
    property->triggerEventName = *trigger->stringValue();
  }
  // A stored event that cannot be read fails the row, whatever the caller
  // passed for the error.
  const std::pair<const char*, std::shared_ptr<GWLEvent> GWLConditionalUserProperty::*> events[] = {
      {"triggered_event", &GWLConditionalUserProperty::triggeredEvent},
      {"timed_out_event", &GWLConditionalUserProperty::timedOutEvent},
      {"expired_event", &GWLConditionalUserProperty::expiredEvent}};
  for (const auto& [column, member] : events) {
    const platform::Object* blob = field(row, column);
    if (!blob) continue;
    auto event = eventFromBlob(*blob, error);
    if (!event) return nullptr;
    (*property).*member = event;
  }
  property->active = intField(row, "active", 0) != 0;
  property->creationTimestamp = doubleField(row, "creation_timestamp", 0);
  property->triggeredTimestamp = doubleField(row, "triggered_timestamp", 0);
  return property;
}

std::shared_ptr<GWLConditionalUserProperty> GWLDatabase::conditionalUserPropertyWithName(const std::string& name,
                                                                                         platform::Error* error) {
  auto found = dataTypesFromTableWithName<std::shared_ptr<GWLConditionalUserProperty>>(
      kConditionalProperties, "name", platform::Object(name), error,
      [this](const platform::Dictionary& row,
             platform::Error* error) -> std::optional<std::shared_ptr<GWLConditionalUserProperty>> {
        auto property = conditionalUserPropertyFromRow(row, error);
        if (!property) return std::nullopt;
        return property;
      });
  if (!found || found->empty()) return nullptr;
  return found->front();
}

bool GWLDatabase::updateConditionalUserProperty(const std::shared_ptr<GWLConditionalUserProperty>& property,
                                                platform::Error* error) {
  if (!property) {
    return fail(error, kData, "Received empty conditional user property for getting dictionary representation");
  }
  if (property->name.empty()) {
    return fail(error, kData,
                "Received conditional user property with empty name for getting dictionary representation");
  }
  if (property->origin.empty()) {
    return fail(error, kData,
                "Received conditional user property with empty origin for getting dictionary representation");
  }
  if (!property->value) {
    return fail(error, kData,
                "Received conditional user property with nil value for getting dictionary representation");
  }
  platform::Dictionary row = {{"name", property->name},
                              {"origin", property->origin},
                              {"value", objectForColumn(*property->value)},
                              {"creation_timestamp", property->creationTimestamp},
                              {"active", int64_t{property->active ? 1 : 0}},
                              {"trigger_timeout", property->triggerTimeout},
                              {"triggered_timestamp", property->triggeredTimestamp},
                              {"time_to_live", property->timeToLive}};
  if (!property->triggerEventName.empty()) row.emplace("trigger_event_name", property->triggerEventName);
  const std::pair<const char*, const std::shared_ptr<GWLEvent>*> events[] = {
      {"triggered_event", &property->triggeredEvent},
      {"timed_out_event", &property->timedOutEvent},
      {"expired_event", &property->expiredEvent}};
  for (const auto& [column, event] : events) {
    if (!*event) continue;
    auto blob = eventBlob(**event, false);
    if (!blob) return fail(error, kData, "Cannot create the event blob of a conditional user property");
    row.emplace(column, std::move(*blob));
  }
  return upsertDataType(row, kConditionalProperties, "name", property->name, kConditionalPropertiesLimit, error);
}

bool GWLDatabase::deleteConditionalUserPropertyWithName(const std::string& name, platform::Error* error) {
  if (storeFailed(error, "Database not open")) return false;
  return store_->deleteRecordFromTableWithName(kConditionalProperties, "name", platform::Object(name), error);
}

std::optional<GWLDatabase::ConditionalUserProperties> GWLDatabase::timedOutConditionalUserPropertiesWithError(
    platform::Error* error) {
  return conditionalUserPropertiesWithCondition("active=0 and abs(? - creation_timestamp) > trigger_timeout", {now()},
                                                error);
}

std::optional<GWLDatabase::ConditionalUserProperties> GWLDatabase::expiredConditionalUserPropertiesWithError(
    platform::Error* error) {
  return conditionalUserPropertiesWithCondition("active=1 and abs(? - triggered_timestamp) > time_to_live", {now()},
                                                error);
}

std::optional<GWLDatabase::ConditionalUserProperties> GWLDatabase::triggeredConditionalUserPropertiesWithEventName(
    const std::string& eventName, platform::Error* error) {
  if (eventName.empty()) {
    GWLSetError(error, kArg, "Received nil/empty event name for querying triggered conditional user properties");
    return std::nullopt;
  }
  return conditionalUserPropertiesWithCondition(
      "active=0 and trigger_event_name=? and abs(? - creation_timestamp) <= trigger_timeout", {eventName, now()},
      error);
}

std::optional<GWLDatabase::ConditionalUserProperties> GWLDatabase::conditionalUserPropertiesWithPrefix(
    const std::optional<std::string>& prefix, const std::optional<std::string>& origin, platform::Error* error) {
  std::vector<std::string> terms;
  platform::Array values;
  if (origin && !origin->empty()) {
    terms.push_back("origin LIKE ? ESCAPE '!'");
    values.emplace_back(escapedForLike(*origin));
  }
  if (prefix && !prefix->empty()) {
    terms.push_back("name LIKE ? || '%' ESCAPE '!'");
    values.emplace_back(escapedForLike(*prefix));
  }
  std::string condition;
  for (const auto& term : terms) condition += (condition.empty() ? "" : " AND ") + term;
  if (condition.empty()) condition = "1 == 1";
  return conditionalUserPropertiesWithCondition(condition, values, error);
}

std::optional<GWLDatabase::ConditionalUserProperties> GWLDatabase::conditionalUserPropertiesWithCondition(
    const std::string& condition, const platform::Array& parameterValues, platform::Error* error) {
  if (condition.empty()) {
    GWLSetError(error, kArg, "Received empty condition for querying a conditional user property");
    return std::nullopt;
  }
  auto found = rows("SELECT rowid, * FROM conditional_properties WHERE " + condition, parameterValues, error);
  if (!found) return std::nullopt;
  ConditionalUserProperties properties;
  for (const auto& row : *found) {
    platform::Error rowError;
    auto property = conditionalUserPropertyFromRow(row, &rowError);
    if (!property) {
      if (rowError.domain.empty()) GWLSetError(&rowError, kData, "Failed to read a conditional user property");
      platform::setError(error, rowError);
      return std::nullopt;
    }
    properties.push_back(std::move(property));
  }
  return properties;
}

// ============================================================================
// Complex events
// ============================================================================

std::optional<std::pair<std::shared_ptr<GWLEvent>, int64_t>> GWLDatabase::mainEventAndChildCountPairWithEventID(
    int64_t eventID, platform::Error* error) {
  auto found = rows("SELECT * FROM main_event_params WHERE event_id=? LIMIT 1", {eventID}, error);
  if (!found || found->empty()) return std::nullopt;
  const platform::Dictionary& row = found->front();
  const platform::Object* blob = field(row, "main_event");
  std::shared_ptr<GWLEvent> event = blob ? eventFromBlob(*blob, error) : nullptr;
  if (!event) {
    if (!blob) GWLSetError(error, kData, "Main event blob is nil in database");
    return std::nullopt;
  }
  const platform::Object* children = field(row, "children_to_process");
  if (!children || !children->intValue()) {
    GWLSetError(error, kData, "Complex event does not have children count in database");
    return std::nullopt;
  }
  return std::make_pair(event, *children->intValue());
}

bool GWLDatabase::updateComplexEventForAudienceEvaluationWithEventID(int64_t eventID, int64_t childEventCount,
                                                                     const std::shared_ptr<GWLEvent>& mainEvent,
                                                                     platform::Error* error) {
  if (!mainEvent) return fail(error, kArg, "Received nil main event");
  auto blob = eventBlob(*mainEvent, false);
  if (!blob || blob->empty()) return fail(error, kArg, "Cannot create the main event blob");
  return insertDataType(
      {{"main_event", std::move(*blob)}, {"event_id", eventID}, {"children_to_process", childEventCount}},
      kMainEventParams, error);
}

bool GWLDatabase::deleteComplexEventForAudienceEvaluationWithEventID(int64_t eventID, platform::Error* error) {
  return deleteWhere(kMainEventParams, "event_id=?", {eventID}, error);
}

// ============================================================================
// On-device measurement values
// ============================================================================

std::optional<platform::Dictionary> GWLDatabase::ODMValueWithName(const std::string& name, platform::Error* error) {
  if (name.empty()) {
    GWLSetError(error, kArg, "Received ODM value with empty name for query");
    return std::nullopt;
  }
  auto found = dataTypesFromTableWithName<platform::Dictionary>(
      kODMValues, "name", platform::Object(name), error,
      [](const platform::Dictionary& row, platform::Error*) -> std::optional<platform::Dictionary> { return row; });
  if (!found || found->empty()) return std::nullopt;
  return found->front();
}

bool GWLDatabase::updateODMValue(const std::string& value, const std::string& name, double setTimestamp,
                                 platform::Error* error) {
  if (value.empty()) return fail(error, kArg, "Received empty ODM value for update");
  if (name.empty()) return fail(error, kArg, "Received ODM value with empty name for update");
  return upsertDataType({{"name", name}, {"value", value}, {"set_timestamp", setTimestamp}}, kODMValues, "name", name,
                        kODMValuesLimit, error);
}

bool GWLDatabase::deleteODMValueWithName(const std::string& name, platform::Error* error) {
  if (name.empty()) return fail(error, kArg, "Received ODM value with empty name for delete");
  if (storeFailed(error, "Database not open")) return false;
  return store_->deleteRecordFromTableWithName(kODMValues, "name", platform::Object(name), error);
}
