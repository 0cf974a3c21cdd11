// GWLAlarm — a one-shot timer that runs a block on a given queue.
//
// Arming an alarm cancels the timer it had, so at most one is ever armed.
// When the timer fires the alarm becomes idle first and then runs the block,
// so the block may arm it again. An armed alarm keeps itself alive until it
// fires or is cancelled; dropping an idle alarm needs nothing else. The delay
// runs on the clock's uptime, which keeps counting while the device sleeps.
//
// Alarms of the library: "Measurement timer" (uploads, on the worker queue),
// "Engagement timer" (sessions, on the main queue), "GWLExperimentAlarm", and
// the attribution alarms on the worker queue.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include "platform/util/Mutex.h"

namespace platform {
class Clock;
class Queue;
class Timer;
}  // namespace platform
class GWLMonitor;

class GWLAlarm : public std::enable_shared_from_this<GWLAlarm> {
 public:
  using Block = std::function<void()>;

  // An idle alarm firing on `queue`; an empty name becomes "Timer". The
  // system clock and the library's monitor are used when none are given.
  static std::shared_ptr<GWLAlarm> create(std::shared_ptr<platform::Queue> queue, const std::string& name,
                                          std::shared_ptr<platform::Clock> clock = nullptr,
                                          std::shared_ptr<GWLMonitor> monitor = nullptr);
  ~GWLAlarm();

  // Arms the alarm to run `block` on its queue after `delay` seconds (NaN
  // counts as 0), cancelling the timer it had. An empty block changes nothing.
  void runAfterDelay(double delay, Block block);
  // Disarms the alarm; does nothing when it is idle.
  void cancel();
  bool hasActiveTimer() const;
  // The wall time (seconds since 1970) at which the armed alarm fires.
  [[nodiscard]] std::optional<double> scheduledTimestamp() const;
  const std::string& name() const { return name_; }

 private:
  GWLAlarm(std::shared_ptr<platform::Queue> queue, std::string name, std::shared_ptr<platform::Clock> clock,
           std::shared_ptr<GWLMonitor> monitor);
  void fire(uint64_t generation, const Block& block);
  std::shared_ptr<GWLMonitor> monitor() const;

  const std::shared_ptr<platform::Queue> queue_;
  const std::string name_;
  const std::shared_ptr<platform::Clock> clock_;
  const std::shared_ptr<GWLMonitor> monitor_;

  mutable platform::Mutex mutex_;
  std::shared_ptr<platform::Timer> timer_ ABSL_GUARDED_BY(mutex_);
  std::optional<double> scheduledTimestamp_ ABSL_GUARDED_BY(mutex_);
  uint64_t generation_ ABSL_GUARDED_BY(mutex_) = 0;
  // Keeps an armed alarm alive until it fires or is cancelled.
  std::shared_ptr<GWLAlarm> selfWhileArmed_ ABSL_GUARDED_BY(mutex_);
};
