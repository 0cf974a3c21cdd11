#include "platform/dispatch/Timer.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"

namespace platform {
namespace {

class TimerTest : public ::testing::Test {
 protected:
  std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>(1'700'000'000.0, 100.0);
  std::shared_ptr<MainQueue> queue = MainQueue::create();
  std::vector<int> fired;

  std::function<void()> record(int value) {
    return [this, value] { fired.push_back(value); };
  }
};

TEST_F(TimerTest, FiresOnTheQueueInDeadlineOrderOnlyOnceDue) {
  auto third = Timer::schedule(clock, queue, 3, record(3));
  Timer::schedule(clock, queue, 1, record(1));  // kept scheduled without an owner
  queue->after(clock, 2, record(2));
  Timer::schedule(clock, queue, -4, record(0));  // negative delay: due now
  EXPECT_DOUBLE_EQ(third->deadline(), 103);

  clock->advance(0);
  queue->drain();
  EXPECT_EQ(fired, (std::vector<int>{0}));

  clock->advance(2.5);
  EXPECT_EQ(fired, (std::vector<int>{0}));  // posted to the queue, not yet run
  queue->drain();
  EXPECT_EQ(fired, (std::vector<int>{0, 1, 2}));
  EXPECT_FALSE(third->hasFired());

  clock->advance(0.5);
  queue->drain();
  EXPECT_EQ(fired, (std::vector<int>{0, 1, 2, 3}));
  EXPECT_TRUE(third->hasFired());
  EXPECT_EQ(clock->pendingCalls(), 0u);
}

TEST_F(TimerTest, CancelBeforeTheDeadlineOrAfterPostingStopsTheBlock) {
  auto early = Timer::schedule(clock, queue, 1, record(1));
  auto posted = Timer::schedule(clock, queue, 1, record(2));
  auto ran = Timer::schedule(clock, queue, 1, record(3));

  early->cancel();
  EXPECT_EQ(clock->pendingCalls(), 2u);
  clock->advance(1);  // `posted` and `ran` are now waiting on the queue
  posted->cancel();
  queue->drain();
  EXPECT_EQ(fired, (std::vector<int>{3}));

  ran->cancel();  // already fired: stays a fired timer
  EXPECT_TRUE(early->isCancelled());
  EXPECT_TRUE(posted->isCancelled());
  EXPECT_FALSE(ran->isCancelled());
  EXPECT_TRUE(ran->hasFired());
}

TEST_F(TimerTest, ATimerScheduledFromAFiringTimerFiresAtItsOwnDeadline) {
  Timer::schedule(clock, queue, 1, [this] {
    fired.push_back(1);
    Timer::schedule(clock, queue, 1, record(2));
  });
  clock->advance(1);
  queue->drain();
  EXPECT_EQ(fired, (std::vector<int>{1}));
  clock->advance(0.9);
  queue->drain();
  EXPECT_EQ(fired, (std::vector<int>{1}));
  clock->advance(0.1);
  queue->drain();
  EXPECT_EQ(fired, (std::vector<int>{1, 2}));
}

TEST_F(TimerTest, ATimerWhoseQueueIsGoneDropsItsBlock) {
  auto serial = SerialQueue::create("short-lived");
  auto captured = std::make_shared<int>(0);
  std::weak_ptr<int> watch = captured;
  auto timer = Timer::schedule(clock, serial, 1, [this, captured] { fired.push_back(*captured); });
  captured.reset();
  serial.reset();
  clock->advance(5);
  EXPECT_TRUE(fired.empty());
  EXPECT_FALSE(timer->hasFired());
  EXPECT_TRUE(watch.expired());  // what the block held is released
}

TEST_F(TimerTest, AClockThatGoesAwayReleasesItsPendingTimers) {
  auto captured = std::make_shared<int>(0);
  std::weak_ptr<int> watch = captured;
  std::weak_ptr<Timer> timer = Timer::schedule(clock, queue, 10, [captured] {});
  captured.reset();
  EXPECT_FALSE(timer.expired());
  clock.reset();
  EXPECT_TRUE(timer.expired());
  EXPECT_TRUE(watch.expired());
}

TEST(TimerOnSystemClock, FiresOnASerialQueueAfterAShortDelay) {
  auto queue = SerialQueue::create("timer");
  std::mutex mutex;
  std::condition_variable cv;
  bool fired = false;
  bool onQueue = false;
  auto clock = Clock::system();
  const double start = clock->uptime();
  auto timer = Timer::schedule(clock, queue, 0.010, [&] {
    std::lock_guard lock(mutex);
    onQueue = queue->isCurrent();
    fired = true;
    cv.notify_all();
  });
  std::unique_lock lock(mutex);
  ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return fired; }));
  EXPECT_TRUE(onQueue);
  EXPECT_GE(clock->uptime(), start + 0.010);
  EXPECT_TRUE(timer->hasFired());
}

}  // namespace
}  // namespace platform
