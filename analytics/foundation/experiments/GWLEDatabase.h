// GWLEDatabase — the experiments client's own SQLite file
// ("halcyra_experimentation_database.sql" in the library's directory), apart
// from the measurement database. Three tables with the same columns keep, per
// SDK, the pending (fetched, not yet activated) snapshot, the activated
// experiments and the launched experiment (ID 0):
//
//   sdk_name            TEXT NOT NULL PRIMARY KEY
//   snapshotProto       BLOB NOT NULL   the snapshot's wire encoding
//   timestamp           REAL NOT NULL   creation time (pending), activation time (others)
//   manually_activated  INTEGER         pending rows: 1 when the SDK's client activates them itself
//
// Used only from the task manager's worker queue; takes no lock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analytics/foundation/experiments/GWLESnapshot.h"
#include "analytics/wire/GWLPBSnapshot.h"
#include "platform/core/Error.h"

namespace platform {
class Clock;
}
class GWLSqliteStore;

inline constexpr const char* kGWLEPendingSnapshotTable = "pending_snapshot_table";
inline constexpr const char* kGWLEActivatedSnapshotTable = "activated_snapshot_table";
inline constexpr const char* kGWLELaunchedSnapshotTable = "launched_snapshot_table";
// Activated snapshots older than this (seconds) are deleted at start.
inline constexpr double kGWLEStaleSnapshotAge = 259200;

class GWLEDatabase {
 public:
  // Opens the file at `path` and ensures its tables; null, with a report, for
  // an empty path or when the file cannot be opened or validated (a file
  // that fails validation is deleted, so the next start begins anew).
  static std::unique_ptr<GWLEDatabase> initWithPath(const std::string& path, std::shared_ptr<platform::Clock> clock);
  ~GWLEDatabase();

  [[nodiscard]] bool initializeDatabaseResourcesWithContext(const std::string& context, const std::string& databasePath);
  [[nodiscard]] bool ensureAllTables();
  // Closes the connection and deletes the file; later operations fail until `reset`.
  void closeAndDelete();
  // Deletes the file and opens a new, empty one.
  void reset();
  // Runs `block` in one exclusive transaction; rolled back when it answers false.
  [[nodiscard]] bool performTransaction(const std::function<bool()>& block);

  [[nodiscard]] std::optional<std::vector<GWLESnapshot>> fetchAllActivatedSnapshots(platform::Error* error = nullptr);
  [[nodiscard]] std::optional<std::vector<GWLESnapshot>> fetchAllPendingSnapshots(platform::Error* error = nullptr);
  [[nodiscard]] std::optional<std::vector<GWLESnapshot>> fetchAllLaunchedSnapshots(platform::Error* error = nullptr);

  // Stores the activation of `pendingSnapshot` at `timestamp`: its experiment
  // 0 as the launched row, the others as the activated row, then deletes the
  // SDK's pending row when it is no newer than `timestamp`.
  [[nodiscard]] bool activateSnapshot(const std::optional<GWLESnapshot>& pendingSnapshot, double timestamp,
                        platform::Error* error = nullptr);
  [[nodiscard]] bool deleteActivatedExperimentsOfSDKName(const std::string& SDKName, platform::Error* error = nullptr);
  [[nodiscard]] bool deletePendingExperimentsOfSDKName(const std::string& SDKName, platform::Error* error = nullptr);
  [[nodiscard]] bool deleteLaunchedExperimentSDKName(const std::string& SDKName, platform::Error* error = nullptr);
  // Deletes activated rows activated at or before now − 3 days.
  [[nodiscard]] bool deleteStaleActivatedSnapshots(platform::Error* error = nullptr);
  [[nodiscard]] bool upsertPendingExperimentSnapshots(const std::vector<GWLESnapshot>& snapshots, platform::Error* error = nullptr);
  // Activates, at their own fetch times, the pending rows that no client activates itself.
  [[nodiscard]] bool activatePendingSnapshotsAutomatically(platform::Error* error = nullptr);
  [[nodiscard]] bool upsertSnapshot(const GWLPBSnapshot& snapshot, const std::string& tableName, double timestamp,
                      std::optional<bool> manuallyActivated, platform::Error* error = nullptr);

  // The file's path (empty while no file is open).
  std::string databasePath() const;

 private:
  explicit GWLEDatabase(std::shared_ptr<platform::Clock> clock);
  [[nodiscard]] std::optional<std::vector<GWLESnapshot>> fetchAllSnapshots(const std::string& table, platform::Error* error);
  [[nodiscard]] bool deleteExperimentsOfSDKName(const std::string& SDKName, const std::string& tableName, platform::Error* error);
  [[nodiscard]] bool hasStore(platform::Error* error) const;

  std::shared_ptr<platform::Clock> clock_;
  std::unique_ptr<GWLSqliteStore> sqliteStore_;
  std::string databasePath_;
};
