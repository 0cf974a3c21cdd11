#include "analytics/foundation/experiments/GWLEDatabase.h"

#include "analytics/foundation/core/GWLError.h"
#include "analytics/foundation/experiments/GWLEManager.h"
#include "analytics/foundation/experiments/GWLEMonitor.h"
#include "analytics/foundation/storage/GWLSqliteStore.h"
#include "analytics/wire/NANO.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Clock.h"

namespace {

constexpr int64_t kInvalidPathCode = 810000;
constexpr const char* kInvalidPathMessage = "Cannot initialize the database with invalid path";
constexpr int64_t kOpenFailedCode = 810001;
constexpr const char* kOpenFailedMessage = "Failed to open database (%s)";
constexpr int64_t kTablesFailedCode = 810002;
constexpr const char* kTablesFailedMessage = "Failed to create or validate required database tables (%s)";
constexpr int64_t kDeleteAfterValidationCode = 810003;
constexpr const char* kDeleteAfterValidationMessage =
    "Failed to delete old database file after failed validation. Error (%s)";
constexpr int64_t kEnsureTableCode = 810004;
constexpr const char* kEnsureTableMessage = "Failed to ensure table. Table, error";
constexpr int64_t kDeleteDataCode = 810005;
constexpr const char* kDeleteDataMessage = "Failed to delete database data";
constexpr int64_t kReinitializeCode = 810006;
constexpr const char* kReinitializeMessage = "Cannot re-initialize the database";
constexpr int64_t kTransactionFailedCode = 810007;
constexpr const char* kTransactionFailedMessage = "Transaction failed. %s";

constexpr const char* kSDKNameColumn = "sdk_name";
constexpr const char* kSnapshotProtoColumn = "snapshotProto";
constexpr const char* kTimestampColumn = "timestamp";
constexpr const char* kManuallyActivatedColumn = "manually_activated";
constexpr long kTableLimit = 100000;

const GWLColumnInfo& snapshotColumns() {
  static const GWLColumnInfo columns = {
      {kSDKNameColumn, "TEXT NOT NULL PRIMARY KEY"},
      {kSnapshotProtoColumn, "BLOB NOT NULL"},
      {kTimestampColumn, "REAL NOT NULL"},
      {kManuallyActivatedColumn, "INTEGER"},
  };
  return columns;
}

std::shared_ptr<GWLEMonitor> monitor() { return GWLEManager::monitor(); }

// The stored form of a row back into a snapshot, or nullopt.
std::optional<GWLESnapshot> snapshotFromRow(const platform::Dictionary& row) {
  auto proto = row.find(kSnapshotProtoColumn);
  if (proto == row.end() || !proto->second.bytesValue()) return std::nullopt;
  auto message = GWLPBSnapshot::initWithBuffer(*proto->second.bytesValue());
  if (!message) return std::nullopt;
  double timestamp = 0;
  if (auto stamp = row.find(kTimestampColumn); stamp != row.end()) timestamp = stamp->second.numberValue().value_or(0);
  auto snapshot = GWLESnapshot::initWithProtobuf(*message, timestamp);
  if (!snapshot) return std::nullopt;
  if (auto flag = row.find(kManuallyActivatedColumn); flag != row.end() && flag->second.isNumber()) {
    snapshot->setManuallyActivated(flag->second.numberValue().value_or(0) != 0);
  }
  return snapshot;
}

}  // namespace

GWLEDatabase::GWLEDatabase(std::shared_ptr<platform::Clock> clock)
    : clock_(clock ? std::move(clock) : platform::Clock::system()) {}

GWLEDatabase::~GWLEDatabase() = default;

std::unique_ptr<GWLEDatabase> GWLEDatabase::initWithPath(const std::string& path,
                                                         std::shared_ptr<platform::Clock> clock) {
  if (path.empty()) {
    monitor()->logWithLevel(kGWLLevelErrorSampled, kInvalidPathCode, kInvalidPathMessage);
    return nullptr;
  }
  std::unique_ptr<GWLEDatabase> database(new GWLEDatabase(std::move(clock)));
  if (!database->initializeDatabaseResourcesWithContext("Init", path)) return nullptr;
  return database;
}

bool GWLEDatabase::initializeDatabaseResourcesWithContext(const std::string& context,
                                                          const std::string& databasePath) {
  platform::Error error;
  sqliteStore_ = GWLSqliteStore::initWithDatabasePath(databasePath, &error);
  if (!sqliteStore_) {
    monitor()->logWithLevel(kGWLLevelErrorSampled, kOpenFailedCode,
                            platform::formatString(kOpenFailedMessage, context.c_str()), GWLLogContext(error));
    return false;
  }
  databasePath_ = databasePath;
  if (!ensureAllTables()) {
    monitor()->logWithLevel(kGWLLevelErrorSampled, kTablesFailedCode,
                            platform::formatString(kTablesFailedMessage, context.c_str()));
    // The file and its companions go together, so the next start begins with a new file.
    if (!sqliteStore_->closeAndDeleteDatabase()) {
      monitor()->logWithLevel(kGWLLevelWarningSampled, kDeleteAfterValidationCode,
                              platform::formatString(kDeleteAfterValidationMessage, context.c_str()));
    }
    sqliteStore_.reset();
    databasePath_.clear();
    return false;
  }
  return true;
}

bool GWLEDatabase::ensureAllTables() {
  for (const char* table : {kGWLEPendingSnapshotTable, kGWLEActivatedSnapshotTable, kGWLELaunchedSnapshotTable}) {
    platform::Error error;
    if (!sqliteStore_ || !sqliteStore_->ensureTableWithName(table, snapshotColumns(), {}, {}, &error)) {
      monitor()->logWithLevel(kGWLLevelErrorSampled, kEnsureTableCode, kEnsureTableMessage, GWLLogContext(table),
                              GWLLogContext(error));
      return false;
    }
  }
  return true;
}

void GWLEDatabase::closeAndDelete() {
  if (!sqliteStore_) return;
  if (!sqliteStore_->closeAndDeleteDatabase()) {
    monitor()->logWithLevel(kGWLLevelWarningSampled, kDeleteDataCode, kDeleteDataMessage);
  }
}

void GWLEDatabase::reset() {
  std::string path = databasePath_;
  closeAndDelete();
  sqliteStore_.reset();
  if (path.empty() || !initializeDatabaseResourcesWithContext("Reset", path)) {
    monitor()->logWithLevel(kGWLLevelErrorSampled, kReinitializeCode, kReinitializeMessage);
  }
}

std::string GWLEDatabase::databasePath() const { return sqliteStore_ ? databasePath_ : std::string(); }

bool GWLEDatabase::hasStore(platform::Error* error) const {
  if (sqliteStore_) return true;
  GWLSetError(error, kGWLErrorCodeOperationFailed, "Database not open");
  return false;
}

bool GWLEDatabase::performTransaction(const std::function<bool()>& block) {
  platform::Error error;
  if (hasStore(&error) && sqliteStore_->performTransactionWithError(&error, block)) return true;
  monitor()->logWithLevel(kGWLLevelErrorSampled, kTransactionFailedCode,
                          platform::formatString(kTransactionFailedMessage, error.description.c_str()));
  return false;
}

std::optional<std::vector<GWLESnapshot>> GWLEDatabase::fetchAllSnapshots(const std::string& table,
                                                                         platform::Error* error) {
  platform::Error local;
  if (!hasStore(&local)) {
    platform::setError(error, local);
    return std::nullopt;
  }
  auto rows = sqliteStore_->recordsForQuery(
      "SELECT rowid, * FROM " + table + " ORDER BY rowid LIMIT " + std::to_string(kTableLimit), {}, &local);
  if (!rows) {
    platform::setError(error, local);
    return std::nullopt;
  }
  std::vector<GWLESnapshot> snapshots;
  snapshots.reserve(rows->size());
  for (const auto& row : *rows) {
    auto snapshot = snapshotFromRow(row);
    if (!snapshot) return std::nullopt;
    snapshots.push_back(std::move(*snapshot));
  }
  return snapshots;
}

std::optional<std::vector<GWLESnapshot>> GWLEDatabase::fetchAllActivatedSnapshots(platform::Error* error) {
  return fetchAllSnapshots(kGWLEActivatedSnapshotTable, error);
}
std::optional<std::vector<GWLESnapshot>> GWLEDatabase::fetchAllPendingSnapshots(platform::Error* error) {
  return fetchAllSnapshots(kGWLEPendingSnapshotTable, error);
}
std::optional<std::vector<GWLESnapshot>> GWLEDatabase::fetchAllLaunchedSnapshots(platform::Error* error) {
  return fetchAllSnapshots(kGWLELaunchedSnapshotTable, error);
}

bool GWLEDatabase::activateSnapshot(const std::optional<GWLESnapshot>& pendingSnapshot, double timestamp,
                                    platform::Error* error) {
  if (!pendingSnapshot) {
    GWLSetError(error, kGWLErrorCodeInvalidArgument, "Received nil pending snapshot");
    return false;
  }
  std::optional<GWLEExperiment> launched;
  std::vector<GWLEExperiment> activated;
  for (const auto& [id, experiment] : pendingSnapshot->experimentsByExperimentID()) {
    if (id == 0) {
      launched = experiment;
    } else {
      activated.push_back(experiment);
    }
  }
  const std::string& name = pendingSnapshot->SDKName();
  if (launched) {
    auto snapshot = GWLESnapshot::initWithSDKName(name, std::vector<GWLEExperiment>{*launched}, timestamp);
    if (!snapshot || !upsertSnapshot(*snapshot->proto(), kGWLELaunchedSnapshotTable, timestamp, std::nullopt, error)) {
      return false;
    }
  }
  if (!activated.empty()) {
    auto snapshot = GWLESnapshot::initWithSDKName(name, activated, timestamp);
    if (!snapshot || !upsertSnapshot(*snapshot->proto(), kGWLEActivatedSnapshotTable, timestamp, std::nullopt, error)) {
      return false;
    }
  }
  // A snapshot fetched after the activation stays pending.
  platform::Error local;
  if (!hasStore(&local)) {
    platform::setError(error, local);
    return false;
  }
  auto deleted = sqliteStore_->deleteRecordsFromTableWithName(
      kGWLEPendingSnapshotTable, std::string(kSDKNameColumn) + " = ? AND " + kTimestampColumn + " <= ?",
      {platform::Object(name), platform::Object(timestamp)}, &local);
  if (!deleted) platform::setError(error, local);
  return deleted.has_value();
}

bool GWLEDatabase::deleteActivatedExperimentsOfSDKName(const std::string& SDKName, platform::Error* error) {
  if (SDKName.empty()) {
    GWLSetError(error, kGWLErrorCodeInvalidArgument, "Received empty SDK Name");
    return false;
  }
  return deleteExperimentsOfSDKName(SDKName, kGWLEActivatedSnapshotTable, error);
}

bool GWLEDatabase::deletePendingExperimentsOfSDKName(const std::string& SDKName, platform::Error* error) {
  return deleteExperimentsOfSDKName(SDKName, kGWLEPendingSnapshotTable, error);
}

bool GWLEDatabase::deleteLaunchedExperimentSDKName(const std::string& SDKName, platform::Error* error) {
  return deleteExperimentsOfSDKName(SDKName, kGWLELaunchedSnapshotTable, error);
}

bool GWLEDatabase::deleteExperimentsOfSDKName(const std::string& SDKName, const std::string& tableName,
                                              platform::Error* error) {
  platform::Error local;
  bool ok = hasStore(&local) &&
            sqliteStore_->deleteRecordFromTableWithName(tableName, kSDKNameColumn, platform::Object(SDKName), &local);
  if (!ok) platform::setError(error, local);
  return ok;
}

bool GWLEDatabase::deleteStaleActivatedSnapshots(platform::Error* error) {
  platform::Error local;
  bool ok = hasStore(&local) &&
            sqliteStore_
                ->deleteRecordsFromTableWithName(kGWLEActivatedSnapshotTable, std::string(kTimestampColumn) + " <= ?",
                                                 {platform::Object(clock_->now() - kGWLEStaleSnapshotAge)}, &local)
                .has_value();
  if (!ok) platform::setError(error, local);
  return ok;
}

bool GWLEDatabase::upsertPendingExperimentSnapshots(const std::vector<GWLESnapshot>& snapshots,
                                                    platform::Error* error) {
  for (const auto& snapshot : snapshots) {
    if (!upsertSnapshot(*snapshot.proto(), kGWLEPendingSnapshotTable, snapshot.timestamp(),
                        snapshot.manuallyActivated(), error)) {
      return false;
    }
  }
  return true;
}

bool GWLEDatabase::activatePendingSnapshotsAutomatically(platform::Error* error) {
  platform::Error local;
  if (!hasStore(&local)) {
    platform::setError(error, local);
    return false;
  }
  // Rows whose client activates them itself are left for the client.
  auto rows = sqliteStore_->recordsForQuery(
      std::string("SELECT rowid,* FROM ") + kGWLEPendingSnapshotTable + " WHERE NOT " + kManuallyActivatedColumn +
          " = ? ORDER BY rowid",
      {platform::Object(true)}, &local);
  if (!rows) {
    platform::setError(error, local);
    return false;
  }
  for (const auto& row : *rows) {
    auto snapshot = snapshotFromRow(row);
    if (!snapshot) {
      GWLSetError(error, kGWLErrorCodeOperationFailed, "Received an invalid snapshot from database");
      return false;
    }
    if (!activateSnapshot(snapshot, snapshot->timestamp(), error) ||
        !deletePendingExperimentsOfSDKName(snapshot->SDKName(), error)) {
      return false;
    }
  }
  return true;
}

bool GWLEDatabase::upsertSnapshot(const GWLPBSnapshot& snapshot, const std::string& tableName, double timestamp,
                                  std::optional<bool> manuallyActivated, platform::Error* error) {
  platform::Error local;
  if (!hasStore(&local)) {
    platform::setError(error, local);
    return false;
  }
  auto& message = const_cast<GWLPBSnapshot&>(snapshot);
  auto bytes = message.protoBuffer();
  if (!bytes) {
    GWLSetError(error, kGWLErrorCodeInvalidArgument, "Cannot encode the snapshot");
    return false;
  }
  platform::Dictionary record;
  if (auto name = NANOGetString(message, GWLPBSnapshot::Field::sdk_name)) record[kSDKNameColumn] = *name;
  record[kTimestampColumn] = timestamp;
  record[kSnapshotProtoColumn] = platform::Object(std::move(*bytes));
  if (manuallyActivated) record[kManuallyActivatedColumn] = static_cast<int64_t>(*manuallyActivated ? 1 : 0);
  bool ok = sqliteStore_->upsertRecord(record, tableName, &local);
  if (!ok) platform::setError(error, local);
  return ok;
}
