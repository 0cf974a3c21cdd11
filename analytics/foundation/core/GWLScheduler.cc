#include "analytics/foundation/core/GWLScheduler.h"

#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "platform/dispatch/Queue.h"

namespace {
constexpr int64_t kExceptionCode = 30000;
constexpr const char* kExceptionMessage = "Exception on worker queue. Block ID=%s. Exception";
constexpr int64_t kMainThreadCode = 30001;
constexpr const char* kMainThreadMessage = "Method %s should execute on background thread";
constexpr int64_t kNilSyncBlockCode = 30002;
constexpr const char* kNilSyncBlockMessage = "Nil block dispatched synchronously on worker queue. Block ID=%s.";
constexpr int64_t kSyncExceptionCode = 30003;
constexpr const char* kSyncExceptionMessage =
    "Exception on worker queue when processing sync block. Block ID=%s. Exception";
constexpr int64_t kSyncFailedCode = 30004;
constexpr const char* kSyncFailedMessage = "Synchronous task failed. Block ID=%s";
constexpr int64_t kNilAsyncBlockCode = 30005;
constexpr const char* kNilAsyncBlockMessage = "Nil block dispatched asynchronously on worker queue. Block ID=%s.";

// The message with the identifier in place of its one "%s".
std::string filledIn(const char* message, const std::string& value) {
  std::string text(message);
  auto at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, value);
  return text;
}
}  // namespace

bool GWLScheduler::checkOnBackgroundThreadWithMethodName(const std::string& methodName) {
  if (!platform::MainQueue::isMainThread()) return true;
  std::string name = methodName.empty() ? "<empty method name>" : methodName;
  GWLLibraryMonitor::monitor()->logWithLevel(kGWLLevelErrorSampled, kMainThreadCode, filledIn(kMainThreadMessage, name),
                                             GWLLogContext());
  return false;
}

GWLScheduler::GWLScheduler(const std::string& workerQueueLabel, std::shared_ptr<GWLMonitor> monitor)
    : workerQueue_(platform::SerialQueue::create(workerQueueLabel)), monitor_(std::move(monitor)) {}

GWLScheduler::~GWLScheduler() = default;

std::shared_ptr<GWLMonitor> GWLScheduler::monitor() const {
  return monitor_ ? monitor_ : GWLLibraryMonitor::monitor();
}

void GWLScheduler::scheduleOnWorkerQueueBlockID(const std::string& blockID, Block block) {
  if (!block) {
    monitor()->logWithLevel(kGWLLevelErrorSampled, kNilAsyncBlockCode, filledIn(kNilAsyncBlockMessage, blockID));
    return;
  }
  auto reporter = monitor();
  workerQueue_->async([reporter, blockID, block = std::move(block)] {
    try {
      block();
    } catch (...) {
      reporter->logWithLevel(kGWLLevelErrorSampled, kExceptionCode, filledIn(kExceptionMessage, blockID),
                             GWLException::fromCurrentException());
    }
  });
}

void GWLScheduler::dispatchSyncOnWorkerQueueBlockID(const std::string& blockID, Block block) {
  auto reporter = monitor();
  if (!block) {
    reporter->logWithLevel(kGWLLevelErrorSampled, kNilSyncBlockCode, filledIn(kNilSyncBlockMessage, blockID));
    return;
  }
  bool completed = false;
  workerQueue_->sync([&] {
    try {
      block();
      completed = true;
    } catch (...) {
      reporter->logWithLevel(kGWLLevelErrorSampled, kSyncExceptionCode, filledIn(kSyncExceptionMessage, blockID),
                             GWLException::fromCurrentException());
    }
  });
  if (!completed) {
    reporter->logWithLevel(kGWLLevelWarningSampled, kSyncFailedCode, filledIn(kSyncFailedMessage, blockID));
  }
}
