#include "analytics/measurement/GWLAnalyticsOperationQueue.h"

#include "platform/dispatch/Queue.h"

GWLAnalyticsOperationQueue::GWLAnalyticsOperationQueue(std::shared_ptr<platform::Queue> target)
    : target_(std::move(target)) {}

void GWLAnalyticsOperationQueue::addOperation(Block block) {
  enqueue(std::move(block));
  handOn();
}

void GWLAnalyticsOperationQueue::enqueue(Block block) {
  platform::MutexLock lock(mutex_);
  operations_.push_back(std::move(block));
}

void GWLAnalyticsOperationQueue::setSuspended(bool suspended) {
  {
    platform::MutexLock lock(mutex_);
    suspended_ = suspended;
  }
  if (!suspended) handOn();
  finished_.notify_all();
}

bool GWLAnalyticsOperationQueue::isSuspended() const {
  platform::MutexLock lock(mutex_);
  return suspended_;
}

size_t GWLAnalyticsOperationQueue::operationCount() const {
  platform::MutexLock lock(mutex_);
  return operations_.size();
}

void GWLAnalyticsOperationQueue::waitUntilAllOperationsAreFinished() {
  platform::MutexLock lock(mutex_);
  while (!suspended_ && (running_ || !operations_.empty())) finished_.wait(mutex_);
}

void GWLAnalyticsOperationQueue::handOn() {
  {
    platform::MutexLock lock(mutex_);
    if (running_) return;  // that thread takes what was just added too
    running_ = true;
  }
  for (;;) {
    Block block;
    {
      platform::MutexLock lock(mutex_);
      if (suspended_ || operations_.empty()) {
        running_ = false;
        break;
      }
      block = std::move(operations_.front());
      operations_.pop_front();
    }
    // The operation: post the block. Outside the lock, so that a target that
    // runs the block at once may add operations itself.
    if (target_) target_->async(std::move(block));
  }
  finished_.notify_all();
}
