// The upload alarm of a started engine: the real schedule over a real
// database, with a manual clock and the network's reachability overridden.
// The engine's uploadData only records that it ran.
#include <gtest/gtest.h>

#include <algorithm>

#include "PipelineTestSupport.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/core/GWLAlarm.h"

namespace measurement_test {
namespace {

class UploadAlarmTest : public PipelineTest {
 protected:
  void SetUp() override {
    PipelineTest::SetUp();
    monitor_->setVerboseLoggingEnabled(true);  // the schedule's lines are verbose
    pipeline->network()->setReachabilityOverrideForTesting(true);  // the schedule arms only while online
  }
  void schedule() {
    onWorker([&] { pipeline->GWLMeasurement::updateSchedule(); });
    drain();
  }
  std::optional<double> alarmTime() { return pipeline->alarm()->scheduledTimestamp(); }
  bool logged(int64_t code) {
    const auto all = codes();
    return std::find(all.begin(), all.end(), code) != all.end();
  }
  void advance(double seconds) {
    clock_->advance(seconds);
    drain();
  }
  bool uploaded() {
    const auto steps = pipeline->steps->take();
    return std::find(steps.begin(), steps.end(), "uploadData") != steps.end();
  }
};

TEST_F(UploadAlarmTest, NoDataCancelsTheAlarmAndEndsTheTask) {
  pipeline->alarm()->runAfterDelay(100, [] {});
  pipeline->swapBackgroundTaskWithNewTaskID(tasks_->beginBackgroundTaskWithName("upload", nullptr));
  schedule();
  EXPECT_TRUE(logged(23024));
  EXPECT_FALSE(pipeline->alarm()->hasActiveTimer());
  EXPECT_EQ(pipeline->backgroundUpdateTask(), platform::kBackgroundTaskInvalid);
}

TEST_F(UploadAlarmTest, FirstUploadFifteenSecondsAfterTheNewestData) {
  const double t = clock_->now();
  handle(event("purchase"));
  schedule();
  EXPECT_TRUE(logged(23028));
  ASSERT_TRUE(alarmTime());
  EXPECT_DOUBLE_EQ(*alarmTime(), t + 15);
  pipeline->steps->take();
  advance(14);
  EXPECT_FALSE(uploaded());
  advance(1);
  EXPECT_TRUE(uploaded()) << "the alarm runs uploadData";
}

TEST_F(UploadAlarmTest, BackOffHoldsUntilItsIntervalHasPassed) {
  const double b = clock_->now();
  handle(event("purchase"));
  settings_->setLastBackoffTimestamp(b);
  schedule();
  ASSERT_TRUE(alarmTime());
  EXPECT_DOUBLE_EQ(*alarmTime(), b + 43200);
  // Once the back-off interval has passed it no longer holds anything.
  settings_->setLastBackoffTimestamp(b - 43200);
  pipeline->alarm()->cancel();
  schedule();
  EXPECT_DOUBLE_EQ(alarmTime().value_or(0), b + 15);
}

TEST_F(UploadAlarmTest, EarlierAlarmIsKept) {
  handle(event("purchase"));
  pipeline->alarm()->runAfterDelay(5, [] {});
  const double earlier = alarmTime().value_or(0);
  codes();
  schedule();
  EXPECT_TRUE(logged(23027));
  EXPECT_DOUBLE_EQ(alarmTime().value_or(0), earlier);
}

TEST_F(UploadAlarmTest, ADroppedEngineCancelsItsAlarm) {
  // An armed alarm keeps itself alive until it fires; the engine lets go of
  // it when the engine goes, instead of leaving it pending for nothing.
  handle(event("purchase"));
  schedule();
  const std::shared_ptr<GWLAlarm> alarm = pipeline->alarm();
  ASSERT_TRUE(alarm->hasActiveTimer());
  drain();
  pipeline.reset();
  dropEngine();
  EXPECT_FALSE(alarm->hasActiveTimer());
  EXPECT_EQ(alarm.use_count(), 1);
}

TEST_F(UploadAlarmTest, NoNetworkWatchesReachability) {
  handle(event("purchase"));
  pipeline->network()->setReachabilityOverrideForTesting(false);
  schedule();
  EXPECT_TRUE(logged(23026));
  EXPECT_FALSE(pipeline->alarm()->hasActiveTimer());
  pipeline->steps->take();

  // The network returns: the engine hears of it and schedules again.
  pipeline->network()->setReachabilityOverrideForTesting(true);
  (void)pipeline->network()->isNetworkConnected();
  drain();
  const auto steps = pipeline->steps->take();
  EXPECT_NE(std::find(steps.begin(), steps.end(), "updateSchedule"), steps.end());

  // Connected, the engine stops watching: a later change is not reported.
  schedule();
  pipeline->steps->take();
  pipeline->network()->setReachabilityOverrideForTesting(false);
  (void)pipeline->network()->isNetworkConnected();
  drain();
  const auto later = pipeline->steps->take();
  EXPECT_EQ(std::find(later.begin(), later.end(), "updateSchedule"), later.end());
}

// The suspension runs on uptime: moving the wall clock does not end it.
TEST_F(UploadAlarmTest, SuspensionHoldsForAnHourOfUptime) {
  handle(event("purchase"));
  pipeline->setSuspendedUploadTimestamp(clock_->uptime());
  clock_->setNow(clock_->now() + 7200);
  schedule();
  EXPECT_TRUE(logged(23023));
  EXPECT_FALSE(pipeline->alarm()->hasActiveTimer());
  advance(3599);
  schedule();
  EXPECT_FALSE(pipeline->alarm()->hasActiveTimer());
  advance(1);
  schedule();
  EXPECT_TRUE(pipeline->alarm()->hasActiveTimer());
  EXPECT_EQ(pipeline->suspendedUploadTimestamp(), 0);
}

}  // namespace
}  // namespace measurement_test
