#include "platform/env/BackgroundTasks.h"

namespace platform {

std::shared_ptr<BackgroundTasks> BackgroundTasks::shared() {
  static auto* shared = new std::shared_ptr<BackgroundTasks>(std::make_shared<BackgroundTasks>());  // never destroyed
  return *shared;
}

BackgroundTaskIdentifier BackgroundTasks::beginBackgroundTaskWithName(const std::string& name,
                                                                      ExpirationHandler expirationHandler) {
  MutexLock lock(mutex_);
  const BackgroundTaskIdentifier identifier = nextIdentifier_++;
  tasks_.emplace(identifier, Task{name, std::move(expirationHandler)});
  return identifier;
}

void BackgroundTasks::endBackgroundTask(BackgroundTaskIdentifier identifier) {
  ExpirationHandler dropped;  // released outside the lock: it may own anything
  MutexLock lock(mutex_);
  auto found = tasks_.find(identifier);
  if (found == tasks_.end()) return;
  dropped = std::move(found->second.expirationHandler);
  tasks_.erase(found);
}

bool BackgroundTasks::expireBackgroundTask(BackgroundTaskIdentifier identifier) {
  ExpirationHandler handler;
  {
    MutexLock lock(mutex_);
    auto found = tasks_.find(identifier);
    if (found == tasks_.end()) return false;
    handler = std::move(found->second.expirationHandler);
    tasks_.erase(found);
  }
  if (handler) handler();
  return true;
}

std::vector<BackgroundTaskIdentifier> BackgroundTasks::activeTasks() const {
  MutexLock lock(mutex_);
  std::vector<BackgroundTaskIdentifier> identifiers;
  for (const auto& [identifier, task] : tasks_) identifiers.push_back(identifier);
  return identifiers;
}

std::optional<std::string> BackgroundTasks::nameOfTask(BackgroundTaskIdentifier identifier) const {
  MutexLock lock(mutex_);
  auto found = tasks_.find(identifier);
  if (found == tasks_.end()) return std::nullopt;
  return found->second.name;
}

}  // namespace platform
