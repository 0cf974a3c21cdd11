#include "platform/dispatch/Clock.h"

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <thread>
#include <exception>
#include <unordered_map>

#include "platform/core/Log.h"

namespace platform {
namespace {

// Runs a scheduled call; an exception escaping it is logged, never rethrown.
void runCall(const std::function<void()>& fire) {
  try {
    fire();
  } catch (const std::exception& e) {
    log::write(LogLevel::Error, "platform", "dispatch", "", std::string("Exception escaped a clock call: ") + e.what());
  } catch (...) {
    log::write(LogLevel::Error, "platform", "dispatch", "", "Exception escaped a clock call");
  }
}

double readClock(clockid_t id) {
  timespec ts{};
  clock_gettime(id, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// The real clock. Scheduled calls wait on one timer thread, started on the
// first callAt, which sleeps on a condition variable until the earliest
// deadline. The thread shares the clock's state, so the clock may go away
// even inside one of its own calls.
class SystemClock final : public Clock {
 public:
  ~SystemClock() override {
    std::thread thread;
    Calls dropped;  // pending calls are released outside the lock
    {
      std::lock_guard lock(state_->mutex);
      state_->stopping = true;
      dropped.swap(state_->calls);
      state_->byToken.clear();
      thread = std::move(state_->thread);
    }
    state_->wake.notify_all();
    if (!thread.joinable()) return;
    if (thread.get_id() == std::this_thread::get_id()) {
      thread.detach();  // the last owner let go inside a call; the thread ends by itself
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
      std::lock_guard lock(state_->mutex);
      token = state_->nextToken++;
      if (state_->stopping) return token;  // the clock is going away: the call never runs
      auto it = state_->calls.emplace(uptimeDeadline, std::make_pair(token, std::move(fire)));
      state_->byToken.emplace(token, it);
      if (!state_->thread.joinable()) state_->thread = std::thread([state = state_] { State::run(*state); });
    }
    state_->wake.notify_all();
    return token;
  }

  void cancelCall(uint64_t token) override {
    std::function<void()> dropped;  // destroyed outside the lock
    std::lock_guard lock(state_->mutex);
    auto found = state_->byToken.find(token);
    if (found == state_->byToken.end()) return;
    dropped = std::move(found->second->second.second);
    state_->calls.erase(found->second);
    state_->byToken.erase(found);
  }

 private:
  using Calls = std::multimap<double, std::pair<uint64_t, std::function<void()>>>;

  struct State {
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    uint64_t nextToken = 1;
    Calls calls;
    std::unordered_map<uint64_t, Calls::iterator> byToken;
    std::thread thread;

    static void run(State& state) {
      std::unique_lock lock(state.mutex);
      while (!state.stopping) {
        if (state.calls.empty()) {
          state.wake.wait(lock);
          continue;
        }
        double remaining = state.calls.begin()->first - readClock(CLOCK_BOOTTIME);
        if (remaining > 0) {
          // The condition variable waits on the monotonic clock, which stops
          // while the machine sleeps; uptime does not. Long waits are sliced
          // so that a deadline passed during sleep fires soon after waking.
          double slice = std::min(remaining, kMaxWaitSeconds);
          state.wake.wait_for(lock, std::chrono::duration<double>(slice));
          continue;
        }
        auto first = state.calls.begin();
        std::function<void()> fire = std::move(first->second.second);
        state.byToken.erase(first->second.first);
        state.calls.erase(first);
        lock.unlock();
        runCall(fire);
        fire = nullptr;  // release what the call captured outside the lock
        lock.lock();
      }
    }
  };

  static constexpr double kMaxWaitSeconds = 1.0;

  std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace

std::shared_ptr<Clock> Clock::system() {
  // Never destroyed: threads may still read time while the process exits.
  static const auto* clock = new std::shared_ptr<Clock>(std::make_shared<SystemClock>());
  return *clock;
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
  std::function<void()> dropped;  // destroyed outside the lock
  std::lock_guard lock(mutex_);
  for (auto it = calls_.begin(); it != calls_.end(); ++it) {
    if (it->second.first == token) {
      dropped = std::move(it->second.second);
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
    ++firedCalls_;
    lock.unlock();
    runCall(fire);
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

uint64_t ManualClock::firedCalls() const {
  std::lock_guard lock(mutex_);
  return firedCalls_;
}

}  // namespace platform
