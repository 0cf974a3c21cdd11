// platform::Clock — the only source of time in the project.
//
// Nothing reads the system clock directly: a Clock is injected. `now()` is
// wall time in seconds since 1970; `uptime()` is monotonic time in seconds
// that keeps counting while the machine sleeps. Timers are scheduled against
// uptime through `callAt`.
//
// ManualClock is the test double: time moves only when a test calls
// `advance`, which runs every call whose deadline has been reached, in
// deadline order (calls with the same deadline in the order they were
// scheduled), on the calling thread. Tests never sleep to wait for a timer.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace platform {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual double now() const = 0;
  virtual double uptime() const = 0;

  // Runs `fire` once, as soon as uptime() >= `uptimeDeadline`: on the clock's
  // own timer thread (system clock) or inside advance() (manual clock).
  // Answers a token for cancelCall; tokens are never 0. An exception escaping
  // `fire` is logged.
  virtual uint64_t callAt(double uptimeDeadline, std::function<void()> fire) = 0;
  // Cancels a pending call; a call that already ran or is running is not affected.
  virtual void cancelCall(uint64_t token) = 0;

  // The process-wide real clock.
  static std::shared_ptr<Clock> system();
};

class ManualClock : public Clock {
 public:
  explicit ManualClock(double now = 1'700'000'000.0, double uptime = 1'000.0);

  double now() const override;
  double uptime() const override;
  uint64_t callAt(double uptimeDeadline, std::function<void()> fire) override;
  void cancelCall(uint64_t token) override;

  // Moves wall time and uptime forward by `seconds` (negative and NaN values
  // are ignored) and runs the calls that became due, earliest first. While a
  // call runs, the clock reads that call's deadline, so a call scheduled by a
  // running call is measured from there and runs too when it falls due within
  // the advance. A call whose deadline had already passed when it was
  // scheduled runs at the next advance (advance(0) runs just those).
  void advance(double seconds);
  // Sets wall time only (a user changing the device's date); runs nothing.
  void setNow(double now);
  // Number of calls still waiting.
  size_t pendingCalls() const;
  // Number of calls run so far. Unlike pendingCalls, it cannot be confused by a
  // call that runs and at once schedules the next one from another thread.
  uint64_t firedCalls() const;

 private:
  mutable std::mutex mutex_;
  double now_;
  double uptime_;
  uint64_t nextToken_ = 1;
  uint64_t firedCalls_ = 0;
  std::multimap<double, std::pair<uint64_t, std::function<void()>>> calls_;
};

}  // namespace platform
