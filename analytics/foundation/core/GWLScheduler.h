// GWLScheduler — the library's worker queue.
//
// One serial queue on which the engine does its database and upload work.
// Blocks are posted under a block identifier (the posting class's name, a
// colon and a line number, such as "GWLMeasurement:2536") that only appears in
// reports. A block that throws is reported with its identifier and the queue
// goes on with the next block. Methods that must run on the worker queue
// begin with `checkOnBackgroundThreadWithMethodName`, which complains when it
// is called on the main thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace platform {
class SerialQueue;
}
class GWLMonitor;

// Label of the engine's worker queue.
inline constexpr const char* kGWLWorkerQueueLabel = "com.halcyra.cvna.worker";

class GWLScheduler {
 public:
  using Block = std::function<void()>;

  // Answers false, with a report, on the main thread; true elsewhere.
  static bool checkOnBackgroundThreadWithMethodName(const std::string& methodName);

  // `monitor` receives the reports; the library's monitor when null.
  explicit GWLScheduler(const std::string& workerQueueLabel, std::shared_ptr<GWLMonitor> monitor = nullptr);
  ~GWLScheduler();

  // Runs `block` later on the worker queue and returns at once.
  void scheduleOnWorkerQueueBlockID(const std::string& blockID, Block block);
  // Runs `block` on the worker queue and returns when it has finished. Not
  // to be called from the worker queue itself.
  void dispatchSyncOnWorkerQueueBlockID(const std::string& blockID, Block block);

  const std::shared_ptr<platform::SerialQueue>& workerQueue() const { return workerQueue_; }

 private:
  std::shared_ptr<GWLMonitor> monitor() const;

  std::shared_ptr<platform::SerialQueue> workerQueue_;
  std::shared_ptr<GWLMonitor> monitor_;
};
