// GWLEManager — the process-wide experiments manager.
//
// SDKs register once under a name with their default flags and get a client
// handle (GWLEClient). Per SDK the manager keeps the activated snapshot, the
// pending (fetched, not yet activated) snapshot and the launched snapshot
// (experiment 0, the values for everybody), and answers a flag from the
// activated snapshot, then the launched snapshot, then the defaults; a
// pending snapshot counts only once it is activated. Fetching, storage and
// the schedule belong to the task manager, whose delegate the manager is.
//
// Threads: the maps belong to the manager's serial queue
// ("GWLEExperimentSerialQueue") and are read and written only there:
// registration, resets and the task manager's notices asynchronously;
// lookups, activation and status synchronously, so those must not be called
// from that queue. The queue never waits for another queue, so the task
// manager's queue may wait for it (the fetch decision, new-snapshot notices).
// Every other member is set at creation.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analytics/foundation/config/GWLExperimentsClient.h"
#include "analytics/foundation/experiments/GWLESnapshot.h"
#include "analytics/foundation/experiments/GWLETaskManagerDelegate.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"

namespace platform {
class Clock;
class Queue;
class SerialQueue;
}  // namespace platform
class GWLEClient;
class GWLEExperimentRequestBuilder;
class GWLEMonitor;
class GWLESDKProperty;
class GWLETaskManager;

inline constexpr const char* kGWLEManagerQueueLabel = "GWLEExperimentSerialQueue";

class GWLEManager final : public GWLETaskManagerDelegate,
                          public GWLExperimentsManaging,
                          public std::enable_shared_from_this<GWLEManager> {
 public:
  // The process's manager, made once; its task manager is started on creation.
  static std::shared_ptr<GWLEManager> sharedInstance();
  // The experiments client's monitor, made once around the library's monitor
  // and installed as the wire layer's flag log sink.
  static std::shared_ptr<GWLEMonitor> monitor();
  // The experiments client's version, 10000.
  static int64_t version();

  // A manager over `taskManager`, whose delegate it becomes (not started).
  // `mainQueue` takes snapshot notices for delegates without a queue.
  static std::shared_ptr<GWLEManager> initWithTaskManager(
      std::shared_ptr<GWLETaskManager> taskManager, std::shared_ptr<platform::Clock> clock = nullptr,
      std::shared_ptr<platform::Queue> mainQueue = nullptr,
      std::shared_ptr<GWLEExperimentRequestBuilder> requestBuilder = nullptr);
  ~GWLEManager() override;

  // Registers an SDK with its default flags (flag name to number or string);
  // answers its client at once, null (registering nothing) for a missing
  // property, an empty name or a default that cannot be a flag.
  std::shared_ptr<GWLEClient> registerSDKProperty(const std::shared_ptr<GWLESDKProperty>& property,
                                                  const platform::Dictionary& defaultFlags);
  // GWLExperimentsManaging: registers a component that knows the experiments
  // client only through GWLExperimentsClient. Its SDK property carries `version`
  // and offers no dynamic custom properties; the answer wraps the client and
  // passes the client's notices on to `observer`.
  std::shared_ptr<GWLExperimentsClient> registerSDKProperty(const std::string& SDKName, int64_t version,
                                                            std::weak_ptr<GWLExperimentsObserver> observer) override;
  std::shared_ptr<GWLEClient> clientForSDKName(const platform::Object& SDKName);
  // The IDs of the activated experiments of SDKs without their own diversion key, ascending.
  std::vector<int32_t> experimentIDs() override;
  // The flag's value (number or string) from the activated snapshot, the
  // launched snapshot or the defaults; nullopt when there is none.
  [[nodiscard]] std::optional<platform::Object> flagValueForFlagName(const platform::Object& flagName,
                                                       const platform::Object& SDKName);
  // Activates the SDK's pending snapshot now; false without error when there is none.
  [[nodiscard]] bool activateSnapshotOfSDK(const std::string& SDKName, platform::Error* error = nullptr);
  // -1 unregistered (or empty name), -2 no activated snapshot, 1 stale (more
  // than three days from now), 0 fresh.
  int64_t activatedSnapshotStatusOfSDKName(const std::string& SDKName);
  void resetToDefaultsOfSDKName(const std::string& SDKName);
  // Deletes the stored snapshots and fetch times and forgets every snapshot;
  // registrations stay. `clearAndDelete` leaves no database file behind.
  void reset() override;
  void clearAndDelete();

  void dispatchAsyncOnSerialQueue(std::function<void()> block);
  void dispatchSyncOnSerialQueue(std::function<void()> block);

  // GWLETaskManagerDelegate
  [[nodiscard]] std::optional<bool> taskManagerShouldFetchExperiments(GWLETaskManager& taskManager) override;
  void taskManager(GWLETaskManager& taskManager, const std::vector<GWLESnapshot>& didStartWithActivatedSnapshots,
                   const std::vector<GWLESnapshot>& pendingSnapshots,
                   const std::vector<GWLESnapshot>& launchedSnapshots) override;
  void taskManager(GWLETaskManager& taskManager, const std::vector<GWLESnapshot>& didFinishFetchingExperimentSnapshots,
                   const std::map<std::string, platform::Error>& withErrors) override;
  void taskManager(GWLETaskManager& taskManager, const std::vector<GWLESnapshot>& didUpsertPendingSnapshots) override;

  const std::shared_ptr<GWLETaskManager>& taskManager() const { return taskManager_; }
  const std::shared_ptr<platform::SerialQueue>& queue() const { return queue_; }

 private:
  GWLEManager() = default;
  // On the manager's queue.
  std::shared_ptr<GWLEClient> registeredClient(const std::string& SDKName) const;
  double now() const;

  // On the manager's queue only.
  std::map<std::string, GWLESnapshot> activatedSnapshotsBySDKName_;
  std::map<std::string, GWLESnapshot> pendingSnapshotsBySDKName_;
  std::map<std::string, GWLESnapshot> launchedSnapshotsBySDKName_;
  std::map<std::string, std::shared_ptr<GWLEClient>> registeredClientsBySDKName_;
  std::map<std::string, std::map<std::string, std::shared_ptr<const GWLPBFlag>>> defaultFlagsBySDKName_;

  std::shared_ptr<GWLETaskManager> taskManager_;
  std::shared_ptr<platform::SerialQueue> queue_;
  std::shared_ptr<platform::Clock> clock_;
  std::shared_ptr<platform::Queue> mainQueue_;
  std::shared_ptr<GWLEExperimentRequestBuilder> requestBuilder_;
};
