#include "platform/dispatch/Clock.h"

#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <future>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/core/Log.h"

namespace platform {
namespace {

TEST(ManualClock, AdvanceRunsDueCallsInDeadlineOrderAtTheirDeadlines) {
  ManualClock clock(5000.0, 100.0);
  std::vector<std::string> log;
  auto record = [&](std::string name) {
    return [&, name] { log.push_back(name + "@" + std::to_string(static_cast<int>(clock.uptime()))); };
  };
  clock.callAt(103, record("c"));
  clock.callAt(101, record("a1"));
  clock.callAt(101, record("a2"));  // same deadline: scheduling order
  clock.callAt(150, record("late"));

  clock.advance(0.5);
  EXPECT_TRUE(log.empty());
  clock.advance(9.5);
  EXPECT_EQ(log, (std::vector<std::string>{"a1@101", "a2@101", "c@103"}));
  EXPECT_DOUBLE_EQ(clock.uptime(), 110.0);
  EXPECT_DOUBLE_EQ(clock.now(), 5010.0);
  EXPECT_EQ(clock.pendingCalls(), 1u);
}

TEST(ManualClock, CallsScheduledByARunningCallAreMeasuredFromItsDeadline) {
  ManualClock clock(0, 0);
  std::vector<double> firedAt;
  std::function<void()> rearm = [&] {
    firedAt.push_back(clock.uptime());
    if (firedAt.size() < 5) clock.callAt(clock.uptime() + 2, rearm);
  };
  clock.callAt(2, rearm);
  clock.advance(7);
  EXPECT_EQ(firedAt, (std::vector<double>{2, 4, 6}));
  EXPECT_EQ(clock.firedCalls(), 3u);
  clock.advance(100);
  EXPECT_EQ(firedAt, (std::vector<double>{2, 4, 6, 8, 10}));
  EXPECT_EQ(clock.pendingCalls(), 0u);
  EXPECT_EQ(clock.firedCalls(), 5u);
}

TEST(ManualClock, CancelNegativeAdvanceAndSetNow) {
  ManualClock clock(1000, 10);
  int ran = 0;
  uint64_t cancelled = clock.callAt(11, [&] { ran += 100; });
  uint64_t kept = clock.callAt(11, [&] { ran += 1; });
  EXPECT_NE(cancelled, 0u);
  EXPECT_NE(cancelled, kept);
  clock.cancelCall(cancelled);
  clock.cancelCall(cancelled);  // twice is harmless
  clock.cancelCall(12345);      // so is an unknown token

  clock.advance(-5);
  clock.advance(std::numeric_limits<double>::quiet_NaN());
  clock.setNow(2000);
  EXPECT_DOUBLE_EQ(clock.uptime(), 10);
  EXPECT_DOUBLE_EQ(clock.now(), 2000);
  EXPECT_EQ(ran, 0);

  clock.advance(1);
  EXPECT_EQ(ran, 1);
  clock.cancelCall(kept);  // already ran: nothing to undo
  EXPECT_EQ(ran, 1);
}

TEST(ManualClock, APastDeadlineRunsAtTheNextAdvanceWithoutMovingTimeBack) {
  ManualClock clock(0, 50);
  double seenUptime = -1;
  clock.callAt(20, [&] { seenUptime = clock.uptime(); });
  EXPECT_EQ(seenUptime, -1);  // never inside callAt
  clock.advance(0);
  EXPECT_EQ(seenUptime, 50);
}

TEST(ManualClock, AThrowingCallIsLoggedAndLaterCallsStillRun) {
  log::ScopedCapture capture;
  ManualClock clock(0, 0);
  bool later = false;
  clock.callAt(1, [] { throw std::runtime_error("bad call"); });
  clock.callAt(2, [&] { later = true; });
  clock.advance(2);
  EXPECT_TRUE(later);
  EXPECT_TRUE(capture.sink().contains("bad call"));
}

double readClock(clockid_t id) {
  timespec ts{};
  clock_gettime(id, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

TEST(SystemClock, ReadsWallTimeAndUptimeThatCountsSleep) {
  auto clock = Clock::system();
  EXPECT_NEAR(clock->now(), static_cast<double>(time(nullptr)), 2.0);
  // Boot time includes suspended time, so it never trails the monotonic clock.
  EXPECT_GE(clock->uptime(), readClock(CLOCK_MONOTONIC));
  EXPECT_EQ(Clock::system(), clock);
}

TEST(SystemClock, FiresCallsOnItsTimerThreadAndSkipsCancelledOnes) {
  auto clock = Clock::system();
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<std::string> fired;
  auto record = [&](std::string name) {
    return [&, name] {
      std::lock_guard lock(mutex);
      fired.push_back(name);
      cv.notify_all();
    };
  };
  // The first call holds the timer thread until the test has cancelled, so
  // the cancelled call cannot fire first however slowly the test runs.
  std::promise<void> gate;
  std::shared_future<void> opened = gate.get_future().share();
  const double start = clock->uptime();
  clock->callAt(start, [opened, first = record("first")] {
    opened.wait();
    first();
  });
  uint64_t cancelled = clock->callAt(start + 0.001, record("cancelled"));
  clock->callAt(start + 0.010, record("second"));
  clock->cancelCall(cancelled);
  gate.set_value();

  std::unique_lock lock(mutex);
  ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return fired.size() == 2; }));
  EXPECT_EQ(fired, (std::vector<std::string>{"first", "second"}));
  EXPECT_GE(clock->uptime(), start + 0.010);
}

}  // namespace
}  // namespace platform
