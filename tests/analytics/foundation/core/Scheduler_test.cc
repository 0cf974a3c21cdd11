#include <gtest/gtest.h>

#include <stdexcept>

#include "../FoundationTestSupport.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Queue.h"

namespace {

class SchedulerTest : public ::testing::Test {
 protected:
  void SetUp() override { GWLLibraryMonitor::resetForTesting(monitor_); }
  void TearDown() override { GWLLibraryMonitor::resetForTesting(); }

  std::vector<std::string> lines() {
    scheduler_.workerQueue()->flush();
    monitor_->flush();
    return capture_.sink().lines();
  }

  platform::log::ScopedCapture capture_;
  foundation_test::MonitorSetup setup_;
  std::shared_ptr<GWLMonitor> monitor_ = setup_.make();
  GWLScheduler scheduler_{kGWLWorkerQueueLabel, monitor_};
};

TEST_F(SchedulerTest, ThrowingBlockIsReportedAndTheQueueGoesOn) {
  bool laterBlockRan = false;
  scheduler_.scheduleOnWorkerQueueBlockID("GWLMeasurement:2536", [] { throw std::runtime_error("disk full"); });
  scheduler_.scheduleOnWorkerQueueBlockID("GWLMeasurement:2540", [&] { laterBlockRan = true; });
  EXPECT_EQ(lines(), std::vector<std::string>{
                         "I-ACS030000 Exception on worker queue. Block ID=GWLMeasurement:2536. Exception: "
                         "std::runtime_error: disk full"});
  EXPECT_TRUE(laterBlockRan);
}

TEST_F(SchedulerTest, SynchronousBlocks) {
  int result = 0;
  scheduler_.dispatchSyncOnWorkerQueueBlockID("GWLDatabase:10", [&] { result = 42; });
  EXPECT_EQ(result, 42);
  EXPECT_TRUE(lines().empty()) << "a block that finishes is not reported";

  scheduler_.dispatchSyncOnWorkerQueueBlockID("GWLDatabase:11", [] { throw 7; });
  EXPECT_EQ(lines(), (std::vector<std::string>{
                         "I-ACS030003 Exception on worker queue when processing sync block. Block ID=GWLDatabase:11. "
                         "Exception: UnknownException: unknown exception",
                         "I-ACS030004 Synchronous task failed. Block ID=GWLDatabase:11"}));
}

TEST_F(SchedulerTest, EmptyBlocksAreReportedAndNotRun) {
  scheduler_.scheduleOnWorkerQueueBlockID("A:1", nullptr);
  scheduler_.dispatchSyncOnWorkerQueueBlockID("B:2", nullptr);
  EXPECT_EQ(lines(), (std::vector<std::string>{
                         "I-ACS030005 Nil block dispatched asynchronously on worker queue. Block ID=A:1.",
                         "I-ACS030002 Nil block dispatched synchronously on worker queue. Block ID=B:2."}));
}

TEST_F(SchedulerTest, BlocksRunInPostingOrderOnTheWorkerQueue) {
  std::vector<int> order;
  for (int i = 0; i < 5; ++i) {
    scheduler_.scheduleOnWorkerQueueBlockID("T:" + std::to_string(i), [&order, i, this] {
      EXPECT_TRUE(scheduler_.workerQueue()->isCurrent());
      order.push_back(i);
    });
  }
  scheduler_.dispatchSyncOnWorkerQueueBlockID("T:5", [&] { order.push_back(5); });
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(scheduler_.workerQueue()->label(), "com.halcyra.cvna.worker");
}

TEST_F(SchedulerTest, MainThreadCheck) {
  EXPECT_TRUE(GWLScheduler::checkOnBackgroundThreadWithMethodName("uploadData"));
  auto mainQueue = platform::MainQueue::create();
  std::vector<bool> answers;
  mainQueue->async([&] {
    answers.push_back(GWLScheduler::checkOnBackgroundThreadWithMethodName("uploadData"));
    answers.push_back(GWLScheduler::checkOnBackgroundThreadWithMethodName(""));
  });
  mainQueue->drain();
  EXPECT_EQ(answers, (std::vector<bool>{false, false}));
  EXPECT_EQ(lines(), (std::vector<std::string>{
                         "I-ACS030001 Method uploadData should execute on background thread: (nil)",
                         "I-ACS030001 Method <empty method name> should execute on background thread: (nil)"}));
}

}  // namespace
