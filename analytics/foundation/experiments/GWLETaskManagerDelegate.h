// GWLETaskManagerDelegate — what the experiments task manager tells its
// delegate, the experiments manager. Every call comes on the task manager's
// worker queue.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "analytics/foundation/experiments/GWLESnapshot.h"
#include "platform/core/Error.h"

class GWLETaskManager;

class GWLETaskManagerDelegate {
 public:
  virtual ~GWLETaskManagerDelegate() = default;

  // Whether a due fetch should go out; nullopt when the delegate has no opinion (it goes out).
  [[nodiscard]] virtual std::optional<bool> taskManagerShouldFetchExperiments(GWLETaskManager& /*taskManager*/) {
    return std::nullopt;
  }
  // (taskManager:didStartWithActivatedSnapshots:pendingSnapshots:launchedSnapshots:) Storage is loaded.
  virtual void taskManager(GWLETaskManager& taskManager, const std::vector<GWLESnapshot>& didStartWithActivatedSnapshots,
                           const std::vector<GWLESnapshot>& pendingSnapshots,
                           const std::vector<GWLESnapshot>& launchedSnapshots) = 0;
  // (taskManager:didFinishFetchingExperimentSnapshots:withErrors:) A fetch succeeded, with the
  // snapshots and the per-SDK errors of the answer.
  virtual void taskManager(GWLETaskManager& taskManager,
                           const std::vector<GWLESnapshot>& didFinishFetchingExperimentSnapshots,
                           const std::map<std::string, platform::Error>& withErrors) = 0;
  // (taskManager:didUpsertPendingSnapshots:) Snapshots were stored as pending.
  virtual void taskManager(GWLETaskManager& taskManager, const std::vector<GWLESnapshot>& didUpsertPendingSnapshots) = 0;
};
