// platform::Timer — a one-shot timer that runs a block on a queue at a clock
// deadline. With a ManualClock, advancing the clock past the deadline posts
// the block to the queue; nothing sleeps.
#pragma once

#include <atomic>
#include <functional>
#include <memory>

namespace platform {

class Clock;
class Queue;

class Timer : public std::enable_shared_from_this<Timer> {
 public:
  // Schedules `block` on `queue` after `delaySeconds` (negative counts as 0)
  // of `clock` uptime. The timer stays scheduled whether or not the caller
  // keeps the returned pointer; keep it to cancel.
  static std::shared_ptr<Timer> schedule(std::shared_ptr<Clock> clock, std::shared_ptr<Queue> queue,
                                         double delaySeconds, std::function<void()> block);

  // Cancels the timer; a block already posted to the queue does not run.
  void cancel();
  // The uptime at which the block is due.
  double deadline() const { return deadline_; }
  bool isCancelled() const { return cancelled_.load(); }
  bool hasFired() const { return fired_.load(); }

  Timer(std::shared_ptr<Clock> clock, std::shared_ptr<Queue> queue, double deadline, std::function<void()> block);

 private:
  std::shared_ptr<Clock> clock_;
  std::weak_ptr<Queue> queue_;
  double deadline_;
  std::function<void()> block_;
  std::atomic<uint64_t> token_{0};
  std::atomic<bool> cancelled_{false};
  std::atomic<bool> fired_{false};
};

}  // namespace platform
