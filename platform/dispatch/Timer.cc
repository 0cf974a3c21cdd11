#include "platform/dispatch/Timer.h"

#include <cmath>
#include <utility>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"

namespace platform {

Timer::Timer(std::shared_ptr<Clock> clock, std::shared_ptr<Queue> queue, double deadline,
             std::function<void()> block)
    : clock_(clock), queue_(queue), deadline_(deadline), block_(std::move(block)) {}

std::shared_ptr<Timer> Timer::schedule(std::shared_ptr<Clock> clock, std::shared_ptr<Queue> queue,
                                       double delaySeconds, std::function<void()> block) {
  if (!(delaySeconds > 0)) delaySeconds = 0;  // negative and NaN fire at once
  const double deadline = clock->uptime() + delaySeconds;
  auto timer = std::make_shared<Timer>(clock, std::move(queue), deadline, std::move(block));
  // The pending call owns the timer until it runs or is cancelled.
  timer->token_ = clock->callAt(deadline, [timer] { timer->post(); });
  return timer;
}

void Timer::post() {
  if (cancelled_) return;
  std::shared_ptr<Queue> queue = queue_.lock();
  if (!queue) {
    // The queue is gone: the block can never run, so let go of what it holds.
    std::function<void()> dropped;
    std::lock_guard lock(mutex_);
    dropped.swap(block_);
    return;
  }
  queue->async([self = shared_from_this()] { self->fire(); });
}

void Timer::fire() {
  std::function<void()> block;
  {
    std::lock_guard lock(mutex_);
    if (cancelled_ || fired_) return;
    fired_ = true;
    block.swap(block_);
  }
  if (block) block();
}

void Timer::cancel() {
  std::function<void()> dropped;  // destroyed outside the lock
  {
    std::lock_guard lock(mutex_);
    if (fired_ || cancelled_) return;
    cancelled_ = true;
    dropped.swap(block_);
  }
  if (auto clock = clock_.lock()) clock->cancelCall(token_);
}

}  // namespace platform
