#include "analytics/foundation/storage/GWLDatabase.h"

#include <cmath>
#include <limits>

#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLDataAdditions.h"
#include "analytics/foundation/core/GWLError.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/core/GWLPaths.h"
#include "analytics/foundation/storage/GWLDatabaseInternal.h"
#include "analytics/wire/GWLPBMeasurementConfig.h"
#include "analytics/wire/NANO.h"
#include "platform/dispatch/Clock.h"

using namespace gwl_database;

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
    monitor()->logWithLevel(kGWLLevelErrorSampled, kTablesFailedCode,
                            std::string(kTablesFailedMessage) + " (" + context + ")");
    // A file whose tables cannot be made is replaced on the next opening;
    // the store closes first so no connection writes into a removed file.
    store_->closeDatabase();
    platform::Error deleteError;
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
      const std::string file = databasePath + suffix;
      if (!GWLDeleteFileAtPath(file, &deleteError) && *suffix == '\0') {
        monitor()->logWithLevel(kGWLLevelWarningSampled, kDeleteAfterValidationFailedCode,
                                std::string(kDeleteAfterValidationFailedMessage) + " (" + context + ")", deleteError);
      }
    }
    store_.reset();
    return fail(error, kState, std::string(kTablesFailedMessage) + " (" + context + ")");
  }
  if (!initializeAppMetadata()) {
    monitor()->logWithLevel(kGWLLevelErrorSampled, kAppMetadataInitFailedCode,
                            std::string(kAppMetadataInitFailedMessage) + " (" + context + ")");
    return fail(error, kState, std::string(kAppMetadataInitFailedMessage) + " (" + context + ")");
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
      monitor()->logWithLevel(kGWLLevelErrorSampled, kEnsureTableFailedCode, std::string(kEnsureTableFailedMessage),
                              table, error);
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
      monitor()->logWithLevel(kGWLLevelErrorSampled, kAppMetadataQueryFailedCode,
                              std::string(kAppMetadataQueryFailedMessage));
      return false;
    }
    auto metadata = GWLAppMetadata::initWithLastBundleIndex(0, 0, 0, 0);
    platform::Dictionary row = {{"rowid", "1"},
                                {"last_bundle_index", int64_t{0}},
                                {"last_delivery_index", int64_t{0}},
                                {"last_bundle_start_timestamp", 0.0},
                                {"last_bundle_end_timestamp", 0.0}};
    if (!upsertDataType(row, kAppMetadata, "rowid", "1", 1, &error)) {
      monitor()->logWithLevel(kGWLLevelErrorSampled, kAppMetadataUpdateFailedCode,
                              std::string(kAppMetadataUpdateFailedMessage), error);
      return false;
    }
    return true;
  });
}

bool GWLDatabase::performTransaction(const std::function<bool()>& block) {
  platform::Error error;
  if (!store_) {
    monitor()->logWithLevel(kGWLLevelErrorSampled, kTransactionFailedCode,
                            std::string(kTransactionFailedMessage) + kDatabaseNotOpenReason);
    return false;
  }
  bool committed = false;
  try {
    committed = store_->performTransactionWithError(&error, block);
  } catch (...) {
    error = gwl_errorWithCode(kData, "Transaction failed");
  }
  if (!committed) {
    monitor()->logWithLevel(kGWLLevelErrorSampled, kTransactionFailedCode,
                            std::string(kTransactionFailedMessage) + error.description);
  }
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
