// GWLAnalyticsOperationQueue — the entry class's hold queue, "GWLAnalyticsOperationQueue".
//
// A FIFO of operations, each of which does nothing but post its block,
// asynchronously, to a target queue (GWLAnalyticsQueue). While the queue is
// suspended operations wait; once it runs, they are handed on in the order
// they were added, one at a time, by whichever thread added or resumed
// (posting never blocks, so nothing waits for the target queue's blocks).
// Made suspended.
//
// `waitUntilAllOperationsAreFinished` blocks until every operation has been
// handed on; it returns at once while the queue is suspended, since nothing
// would be handed on then.
//
// Thread-safe: any thread may add, suspend, resume and wait.
#pragma once

#include <absl/base/thread_annotations.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "platform/util/Mutex.h"

namespace platform {
class Queue;
}

inline constexpr const char* kGWLAnalyticsOperationQueueName = "GWLAnalyticsOperationQueue";

class GWLAnalyticsOperationQueue {
 public:
  using Block = std::function<void()>;

  explicit GWLAnalyticsOperationQueue(std::shared_ptr<platform::Queue> target);

  const std::string& name() const { return name_; }
  // Adds an operation that posts `block` to the target queue.
  void addOperation(Block block);
  // The two halves of addOperation: `enqueue` only takes the operation's
  // place in line (cheap enough to do inside another lock that orders the
  // callers); `handOn` then posts what is waiting, unless the queue is
  // suspended or another thread is posting already (it takes these too).
  void enqueue(Block block);
  void handOn();
  void setSuspended(bool suspended);
  bool isSuspended() const;
  // Operations not yet handed on.
  size_t operationCount() const;
  void waitUntilAllOperationsAreFinished();

 private:
  const std::string name_ = kGWLAnalyticsOperationQueueName;
  const std::shared_ptr<platform::Queue> target_;
  mutable platform::Mutex mutex_;
  std::condition_variable_any finished_;
  std::deque<Block> operations_ ABSL_GUARDED_BY(mutex_);
  bool suspended_ ABSL_GUARDED_BY(mutex_) = true;
  bool running_ ABSL_GUARDED_BY(mutex_) = false;  // a thread is handing operations on
};
