#include <gtest/gtest.h>

#include "../FoundationTestSupport.h"
#include "analytics/foundation/core/GWLAlarm.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Queue.h"

namespace {

class AlarmTest : public ::testing::Test {
 protected:
  // Moves the clock and waits until what became due has run on the queue.
  void advance(double seconds) {
    setup_.clock->advance(seconds);
    queue_->flush();
  }
  std::vector<std::string> lines() {
    queue_->flush();
    monitor_->flush();
    return capture_.sink().lines();
  }
  std::shared_ptr<GWLAlarm> alarm(const std::string& name) {
    return GWLAlarm::create(queue_, name, setup_.clock, monitor_);
  }

  platform::log::ScopedCapture capture_;
  foundation_test::MonitorSetup setup_;
  std::shared_ptr<GWLMonitor> monitor_ = setup_.make();
  std::shared_ptr<platform::SerialQueue> queue_ = platform::SerialQueue::create("alarm test");
};

TEST_F(AlarmTest, ArmingTwiceKeepsOnlyTheSecondTimer) {
  auto timer = alarm("Measurement timer");
  std::vector<std::string> fired;
  const double start = setup_.clock->now();
  timer->runAfterDelay(5, [&] { fired.push_back("first"); });
  timer->runAfterDelay(20, [&] { fired.push_back("second"); });
  EXPECT_EQ(timer->scheduledTimestamp(), start + 20);
  EXPECT_TRUE(timer->hasActiveTimer());

  advance(10);
  EXPECT_TRUE(fired.empty()) << "the first timer never fires";
  advance(10);
  EXPECT_EQ(fired, std::vector<std::string>{"second"});
  EXPECT_EQ(lines(), (std::vector<std::string>{
                         "I-ACS002002 Measurement timer scheduled to fire in approx. (s): 5",
                         "I-ACS002003 Measurement timer canceled",
                         "I-ACS002002 Measurement timer scheduled to fire in approx. (s): 20",
                         "I-ACS002001 Measurement timer fired",
                         "I-ACS002003 Measurement timer canceled",
                     }));
}

TEST_F(AlarmTest, FiringAlarmIsIdleInsideItsBlockAndMayArmAgain) {
  auto timer = alarm("Engagement timer");
  int runs = 0;
  std::function<void()> block = [&] {
    ++runs;
    EXPECT_FALSE(timer->scheduledTimestamp());
    EXPECT_FALSE(timer->hasActiveTimer());
    if (runs < 3) timer->runAfterDelay(1, block);
  };
  timer->runAfterDelay(1, block);
  for (int i = 0; i < 5; ++i) advance(1);
  EXPECT_EQ(runs, 3);
  EXPECT_FALSE(timer->hasActiveTimer());
  EXPECT_FALSE(timer->scheduledTimestamp());
}

TEST_F(AlarmTest, CancelAndEmptyNames) {
  auto timer = alarm("");
  EXPECT_EQ(timer->name(), "Timer");
  timer->cancel();  // idle: nothing to say
  timer->runAfterDelay(3, nullptr);
  bool fired = false;
  timer->runAfterDelay(3, [&] { fired = true; });
  timer->cancel();
  EXPECT_FALSE(timer->hasActiveTimer());
  advance(5);
  EXPECT_FALSE(fired);
  EXPECT_EQ(lines(), (std::vector<std::string>{"I-ACS002000 Timer tried to schedule an empty block",
                                               "I-ACS002002 Timer scheduled to fire in approx. (s): 3",
                                               "I-ACS002003 Timer canceled"}));
}

TEST_F(AlarmTest, ArmedAlarmLivesUntilItFires) {
  bool fired = false;
  std::weak_ptr<GWLAlarm> weak;
  {
    auto timer = alarm("Search Ad campaign report alarm");
    weak = timer;
    timer->runAfterDelay(2, [&] { fired = true; });
  }
  EXPECT_FALSE(weak.expired());
  advance(2);
  EXPECT_TRUE(fired);
  EXPECT_TRUE(weak.expired()) << "an idle alarm nobody holds is gone";

  auto idle = alarm("Idle");
  weak = idle;
  idle->runAfterDelay(2, [] {});
  idle->cancel();
  idle.reset();
  EXPECT_TRUE(weak.expired());
}

TEST_F(AlarmTest, ArmingFromAnotherThreadWhileTheClockRuns) {
  auto timer = alarm("Race");
  std::atomic<int> fired{0};
  std::thread armer([&] {
    for (int i = 0; i < 100; ++i) timer->runAfterDelay(0.5, [&] { ++fired; });
  });
  for (int i = 0; i < 100; ++i) setup_.clock->advance(0.01);
  armer.join();
  advance(1);
  EXPECT_GE(fired.load(), 1);
  EXPECT_FALSE(timer->hasActiveTimer());
}

}  // namespace
