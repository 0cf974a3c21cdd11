#include "platform/dispatch/Clock.h"

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <thread>
#include <unordered_map>

namespace platform {
namespace {

double readClock(clockid_t id) {
  timespec ts{};
  clock_gettime(id, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// The real clock. Scheduled calls wait on one timer thread, started on the
// first callAt, which sleeps on a condition variable until the earliest
// deadline.
class SystemClock final : public Clock {
 public:
  ~SystemClock() override {
    std::thread thread;
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
      calls_.clear();
      byToken_.clear();
      thread = std::move(thread_);
    }
    wake_.notify_all();
    if (!thread.joinable()) return;
    if (thread.get_id() == std::this_thread::get_id()) {
      thread.detach();
    } else {
      thread.join();
    }
  }

  double now() const override { return readClock(CLOCK_REALTIME); }
  double uptime() const override { return readClock(CLOCK_BOOTTIME); }

  uint64_t callAt(double uptimeDeadline, std::function<void()> fire) override {
    if (std::isnan(uptimeDeadline)) uptimeDeadline = 0;
    uint64_t token;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return 0;
      token = nextToken_++;
      auto it = calls_.emplace(uptimeDeadline, std::make_pair(token, std::move(fire)));
      byToken_.emplace(token, it);
      if (!thread_.joinable()) thread_ = std::thread([this] { runTimerThread(); });
    }
    wake_.notify_all();
    return token;
  }

  void cancelCall(uint64_t token) override {
    std::lock_guard lock(mutex_);
    auto found = byToken_.find(token);
    if (found == byToken_.end()) return;
    calls_.erase(found->second);
    byToken_.erase(found);
  }

 private:
  using Calls = std::multimap<double, std::pair<uint64_t, std::function<void()>>>;

  void runTimerThread() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
      if (calls_.empty()) {
        wake_.wait(lock);
        continue;
      }
      double remaining = calls_.begin()->first - uptime();
      if (remaining > 0) {
        // The condition variable waits on the monotonic clock, which stops
        // while the machine sleeps; uptime does not. Long waits are sliced
        // so that a deadline passed during sleep fires soon after waking.
        double slice = std::min(remaining, kMaxWaitSeconds);
        wake_.wait_for(lock, std::chrono::duration<double>(slice));
        continue;
      }
      auto first = calls_.begin();
      std::function<void()> fire = std::move(first->second.second);
      byToken_.erase(first->second.first);
      calls_.erase(first);
      lock.unlock();
      fire();
      fire = nullptr;  // release what the call captured outside the lock
      lock.lock();
    }
  }

  static constexpr double kMaxWaitSeconds = 1.0;

  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  uint64_t nextToken_ = 1;
  Calls calls_;
  std::unordered_map<uint64_t, Calls::iterator> byToken_;
  std::thread thread_;
};

}  // namespace

std::shared_ptr<Clock> Clock::system() {
  static const std::shared_ptr<Clock> clock = std::make_shared<SystemClock>();
  return clock;
}

ManualClock::ManualClock(double now, double uptime) : now_(now), uptime_(uptime) {}

double ManualClock::now() const {
  std::lock_guard lock(mutex_);
  return now_;
}

double ManualClock::uptime() const {
  std::lock_guard lock(mutex_);
  return uptime_;
}

uint64_t ManualClock::callAt(double uptimeDeadline, std::function<void()> fire) {
  if (std::isnan(uptimeDeadline)) uptimeDeadline = 0;
  std::lock_guard lock(mutex_);
  uint64_t token = nextToken_++;
  calls_.emplace(uptimeDeadline, std::make_pair(token, std::move(fire)));
  return token;
}

void ManualClock::cancelCall(uint64_t token) {
  std::lock_guard lock(mutex_);
  for (auto it = calls_.begin(); it != calls_.end(); ++it) {
    if (it->second.first == token) {
      calls_.erase(it);
      return;
    }
  }
}

void ManualClock::advance(double seconds) {
  if (!(seconds >= 0)) seconds = 0;  // negative and NaN move nothing
  std::unique_lock lock(mutex_);
  const double target = uptime_ + seconds;
  while (!calls_.empty() && calls_.begin()->first <= target) {
    auto first = calls_.begin();
    // Time moves to the call's deadline (never backwards) while it runs.
    if (first->first > uptime_) {
      now_ += first->first - uptime_;
      uptime_ = first->first;
    }
    std::function<void()> fire = std::move(first->second.second);
    calls_.erase(first);
    lock.unlock();
    fire();
    fire = nullptr;
    lock.lock();
  }
  if (target > uptime_) {
    now_ += target - uptime_;
    uptime_ = target;
  }
}

void ManualClock::setNow(double now) {
  std::lock_guard lock(mutex_);
  now_ = now;
}

size_t ManualClock::pendingCalls() const {
  std::lock_guard lock(mutex_);
  return calls_.size();
}

}  // namespace platform
