// platform::BackgroundTasks — the platform's background tasks: a process
// that is about to lose the foreground asks for a little more time to finish
// some work (an upload) under a task with a name and an expiration handler,
// and ends the task when the work is done.
//
// `beginBackgroundTaskWithName` answers a new identifier (never
// kBackgroundTaskInvalid). `endBackgroundTask` ends an active task; ending an
// unknown, already ended or invalid identifier does nothing. When the time
// granted runs out, the platform calls the task's expiration handler, which
// is expected to end the task: `expireBackgroundTask` does exactly that (the
// handler runs once, on the calling thread, outside the object's lock, and
// the task counts as ended before the handler runs). This host grants time
// without a limit, so only its tests expire tasks.
//
// Any thread may call every method.
#pragma once

#include <absl/base/thread_annotations.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/util/Mutex.h"

namespace platform {

using BackgroundTaskIdentifier = uint64_t;
inline constexpr BackgroundTaskIdentifier kBackgroundTaskInvalid = 0;

class BackgroundTasks {
 public:
  using ExpirationHandler = std::function<void()>;

  // The process-wide instance (the shared application's).
  static std::shared_ptr<BackgroundTasks> shared();

  BackgroundTaskIdentifier beginBackgroundTaskWithName(const std::string& name, ExpirationHandler expirationHandler);
  void endBackgroundTask(BackgroundTaskIdentifier identifier);
  // The platform's expiry of an active task: ends it and runs its handler.
  // Answers false (and runs nothing) when the task is not active.
  [[nodiscard]] bool expireBackgroundTask(BackgroundTaskIdentifier identifier);

  // The active tasks' identifiers, oldest first.
  std::vector<BackgroundTaskIdentifier> activeTasks() const;
  // The name an active task was begun with.
  [[nodiscard]] std::optional<std::string> nameOfTask(BackgroundTaskIdentifier identifier) const;

 private:
  struct Task {
    std::string name;
    ExpirationHandler expirationHandler;
  };
  mutable Mutex mutex_;
  BackgroundTaskIdentifier nextIdentifier_ ABSL_GUARDED_BY(mutex_) = 1;
  std::map<BackgroundTaskIdentifier, Task> tasks_ ABSL_GUARDED_BY(mutex_);
};

}  // namespace platform
