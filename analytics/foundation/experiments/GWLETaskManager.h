// GWLETaskManager — the worker behind the experiments manager: it owns the
// experiments database, loads the stored snapshots at start, decides when to
// fetch new snapshots, posts the request to the experiments service ("/sdk-exp"),
// stores what comes back, and persists activations and resets. Everything runs
// on its own serial worker queue; its delegate (the manager) hears of it there.
//
// Fetch schedule: 10 s after start at the earliest, then 4 hours after the last
// success; after a failure the attempts follow six back-off steps (30 min, 1 h,
// 2 h, ... measured on from the 4-hour point), after which nothing more is
// scheduled in this process. An answer saying the service is unavailable or
// cannot take traffic holds fetches off for 12 hours. The times live in the
// user-defaults suite "GWLExperimentSuiteName" so that they survive restarts.
//
// An answer that cannot be inflated or decoded counts as a failed fetch, and
// the inflated answer may hold at most kGWLEMaxExperimentAnswerBytes.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "analytics/foundation/config/GWLServiceHosts.h"
#include "analytics/foundation/experiments/GWLESnapshot.h"
#include "analytics/wire/GWLPBExperimentResponse.h"
#include "platform/core/Error.h"
#include "platform/net/HTTPURLResponse.h"
#include "platform/util/Mutex.h"

namespace platform {
class Clock;
class HVUNetwork;
class SerialQueue;
}  // namespace platform
class GWLAlarm;
class GWLEDatabase;
class GWLEExperimentRequestBuilder;
class GWLETaskManagerDelegate;
class GWLUserDefaults;

inline constexpr const char* kGWLExperimentSuiteName = "GWLExperimentSuiteName";
inline constexpr const char* kGWLExperimentFetchSuccessTimestampKey = "GWLExperimentFetchSuccessTimestamp";
inline constexpr const char* kGWLExperimentFetchFailureTimestampKey = "GWLExperimentFetchFailureTimestamp";
inline constexpr const char* kGWLExperimentFetchBackoffTimestampKey = "GWLExperimentFetchBackoffTimestamp";
inline constexpr const char* kGWLExperimentAlarmName = "GWLExperimentAlarm";
inline constexpr const char* kGWLExperimentWorkerQueueLabel = "GWLExperimentWorkerQueue";
inline constexpr const char* kGWLExperimentDatabaseFileName = "halcyra_experimentation_database.sql";
inline constexpr const char* kGWLExperimentFetchPath = "/sdk-exp";
inline constexpr const char* kGWLExperimentErrorDomain = "com.halcyra.qrx.measurement.experiment.ErrorDomain";

// Seconds from a success to the next fetch.
inline constexpr double kGWLEFetchInterval = 14400;
// The first back-off step (seconds); each further step doubles it.
inline constexpr double kGWLEBackoffStep = 1800;
inline constexpr int kGWLEBackoffStepCount = 6;
// How long an unavailable service is left alone (seconds).
inline constexpr double kGWLEServiceBackoffInterval = 43200;
// The first fetch of a process comes no sooner than this after start (seconds).
inline constexpr double kGWLEInitialFetchDelay = 10;
// The largest inflated answer taken (bytes).
inline constexpr size_t kGWLEMaxExperimentAnswerBytes = size_t{4} << 20;

class GWLETaskManager : public std::enable_shared_from_this<GWLETaskManager> {
 public:
  using Block = std::function<void()>;

  // The process's task manager: its own worker queue, alarm, network client
  // for the experiments service, defaults suite and database file.
  static std::shared_ptr<GWLETaskManager> init();
  static std::shared_ptr<GWLETaskManager> initWithQueue(
      std::shared_ptr<platform::SerialQueue> queue, std::shared_ptr<GWLAlarm> alarm,
      std::shared_ptr<platform::HVUNetwork> network, std::shared_ptr<GWLUserDefaults> persistedStorage,
      const std::string& databasePath, double initTimestamp, std::shared_ptr<platform::Clock> clock,
      GWLServiceEndpoint experimentsService, std::shared_ptr<GWLEExperimentRequestBuilder> requestBuilder);
  ~GWLETaskManager();

  // Opens the database, loads storage into the delegate and schedules the first fetch.
  void startTaskManager();

  // When the next fetch should go out, from the last success and failure
  // times (seconds since 1970, 0 when absent); 0 when the back-off is exhausted.
  double fetchTimeFromLastSuccessfulTimestamp(double lastSuccessfulTimestamp, double lastFailedTimestamp);
  void scheduleFetchingExperimentsOnWorkerQueue();
  // Counts now as a success, so that the next attempt comes 4 hours later.
  void postponeFetchExperiments();
  void fetchExperiments();
  // The answer of a fetch: `data` is the inflated body.
  void handleFetchingExperimentsResponse(const std::shared_ptr<const platform::HTTPURLResponse>& response,
                                         const std::optional<std::vector<uint8_t>>& data,
                                         const std::optional<platform::Error>& error);

  // Stores an activation that the manager made at `timestamp`.
  void activatePendingSnapshot(const std::optional<GWLESnapshot>& snapshot, double timestamp);
  void resetToDefaultsForSDKName(const std::string& SDKName);
  void upsertPendingSnapshots(const std::vector<GWLESnapshot>& snapshots);
  // Deletes and recreates the database, forgets the fetch times and schedules a fetch.
  void reset();
  // Deletes the database and forgets the fetch times; schedules nothing.
  void clearAndDelete();

  // The snapshots of an answer (created now), or nullopt for no answer.
  [[nodiscard]] std::optional<std::vector<GWLESnapshot>> experimentSnapshotsFromExperimentResponse(
      const GWLPBExperimentResponse* response) const;
  // The per-SDK errors of an answer, or nullopt for no answer.
  [[nodiscard]] std::optional<std::map<std::string, platform::Error>> errorsFromExperimentResponse(
      const GWLPBExperimentResponse* response) const;
  [[nodiscard]] std::optional<std::vector<GWLESnapshot>> experimentSnapshotsFromData(std::span<const uint8_t> data) const;
  // The inflated body of an answer, at most kGWLEMaxExperimentAnswerBytes; nullopt and an error otherwise.
  [[nodiscard]] static std::optional<std::vector<uint8_t>> inflateAnswer(std::span<const uint8_t> body,
                                                           platform::Error* error = nullptr);

  void dispatchAsyncOnWorkerQueue(Block block);
  void dispatchSyncOnWorkerQueue(Block block);

  std::shared_ptr<GWLETaskManagerDelegate> delegate() const;
  void setDelegate(std::weak_ptr<GWLETaskManagerDelegate> delegate);
  bool hasMadeInitialFetch() const { return hasMadeInitialFetch_.load(); }
  double initializationTimestamp() const { return initializationTimestamp_; }
  const std::shared_ptr<platform::SerialQueue>& workerQueue() const { return workerQueue_; }
  // The full URL of the fetch.
  std::string fetchURL() const;

 private:
  GWLETaskManager() = default;
  void startTaskManagerOnWorkerQueue();
  void fetchAllSnapshotsOnWorkerQueue();
  void handleFetchingExperimentsCompletion(const std::shared_ptr<const platform::HTTPURLResponse>& response,
                                           const std::vector<uint8_t>& body,
                                           const std::optional<platform::Error>& error);
  void recordFailedFetch(int status, const std::optional<platform::Error>& error);
  void setTimestamp(const char* key, std::optional<double> value);
  double now() const;

  std::shared_ptr<GWLAlarm> alarm_;
  std::shared_ptr<platform::HVUNetwork> network_;
  std::shared_ptr<GWLUserDefaults> persistedStorage_;
  std::shared_ptr<platform::SerialQueue> workerQueue_;
  std::unique_ptr<GWLEDatabase> database_;  // worker queue only
  std::string databasePath_;
  std::atomic<bool> hasMadeInitialFetch_{false};
  mutable platform::Mutex delegateMutex_;
  std::weak_ptr<GWLETaskManagerDelegate> delegate_ ABSL_GUARDED_BY(delegateMutex_);
  double initializationTimestamp_ = 0;
  std::shared_ptr<platform::Clock> clock_;
  GWLServiceEndpoint experimentsService_;
  std::shared_ptr<GWLEExperimentRequestBuilder> requestBuilder_;
};
