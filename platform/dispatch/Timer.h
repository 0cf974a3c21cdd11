// platform::Timer — a one-shot timer that runs a block on a queue at a clock
// deadline. With a ManualClock, advancing the clock past the deadline posts
// the block to the queue; nothing sleeps.
//
// The timer holds its queue weakly: when the queue is gone by the deadline,
// the block is dropped without running. It holds its clock weakly too, so a
// clock that goes away takes its pending timers with it.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

namespace platform {

class Clock;
class Queue;

class Timer : public std::enable_shared_from_this<Timer> {
 public:
  // Schedules `block` on `queue` after `delaySeconds` (negative or NaN counts
  // as 0) of `clock` uptime. The timer stays scheduled whether or not the
  // caller keeps the returned pointer; keep it to cancel. `clock` must not be
  // null; a null `queue` behaves like a queue that is gone.
  static std::shared_ptr<Timer> schedule(std::shared_ptr<Clock> clock, std::shared_ptr<Queue> queue,
                                         double delaySeconds, std::function<void()> block);

  // Cancels the timer; a block already posted to the queue does not run.
  // Cancelling a timer whose block has started or finished changes nothing.
  void cancel();
  // The uptime at which the block is due.
  double deadline() const { return deadline_; }
  bool isCancelled() const { return cancelled_.load(); }
  // Whether the block has started running on the queue.
  bool hasFired() const { return fired_.load(); }

  Timer(std::shared_ptr<Clock> clock, std::shared_ptr<Queue> queue, double deadline, std::function<void()> block);

 private:
  // Called by the clock at the deadline: posts the block to the queue.
  void post();
  // Runs on the queue.
  void fire();

  std::weak_ptr<Clock> clock_;
  std::weak_ptr<Queue> queue_;
  double deadline_;
  std::mutex mutex_;  // guards block_ and the cancelled/fired transition
  std::function<void()> block_;
  std::atomic<uint64_t> token_{0};
  std::atomic<bool> cancelled_{false};
  std::atomic<bool> fired_{false};
};

}  // namespace platform
