#include "platform/dispatch/Queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/core/Log.h"

namespace platform {
namespace {

TEST(SerialQueue, RunsBlocksFromManyThreadsOneAtATimeInPostingOrder) {
  auto queue = SerialQueue::create("fifo");
  constexpr int kThreads = 4;
  constexpr int kPerThread = 500;
  std::vector<std::vector<int>> seen(kThreads);  // touched only on the queue
  std::atomic<int> running{0};
  std::atomic<bool> overlapped{false};
  std::atomic<bool> offQueue{false};

  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        queue->async([&, t, i] {
          if (running.fetch_add(1) != 0) overlapped = true;
          if (!queue->isCurrent()) offQueue = true;
          seen[t].push_back(i);
          running.fetch_sub(1);
        });
      }
    });
  }
  for (auto& poster : posters) poster.join();
  queue->flush();

  EXPECT_FALSE(overlapped);
  EXPECT_FALSE(offQueue);
  EXPECT_FALSE(queue->isCurrent());
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(seen[t].size(), size_t{kPerThread});
    for (int i = 0; i < kPerThread; ++i) ASSERT_EQ(seen[t][i], i) << "thread " << t;
  }
}

TEST(SerialQueue, SyncWaitsForTheBlockAndItsPredecessors) {
  auto queue = SerialQueue::create("sync");
  std::vector<int> order;
  queue->async([&] { order.push_back(1); });
  queue->sync([&] { order.push_back(2); });
  order.push_back(3);  // after sync returned, on the test thread
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(SerialQueue, SyncFromItsOwnThreadRunsInlineAndLogsOnce) {
  log::ScopedCapture capture;
  auto queue = SerialQueue::create("reentrant");
  std::vector<std::string> order;
  queue->sync([&] {
    queue->async([&] { order.push_back("posted earlier"); });
    queue->sync([&] { order.push_back("inline"); });
    order.push_back("after inline");
  });
  queue->flush();
  EXPECT_EQ(order, (std::vector<std::string>{"inline", "after inline", "posted earlier"}));
  auto records = capture.sink().records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].level, LogLevel::Warning);
  EXPECT_NE(records[0].message.find("reentrant"), std::string::npos);
}

TEST(SerialQueue, ExceptionsEscapingBlocksAreLoggedAndTheQueueGoesOn) {
  log::ScopedCapture capture;
  auto queue = SerialQueue::create("throwing");
  queue->async([] { throw std::runtime_error("boom"); });
  queue->sync([] { throw 42; });  // sync still returns
  bool ran = false;
  queue->sync([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_TRUE(capture.sink().contains("boom"));
  EXPECT_EQ(capture.sink().records().size(), 2u);
}

TEST(SerialQueue, DestructionRunsWhatWasPosted) {
  std::atomic<int> ran{0};
  {
    auto queue = SerialQueue::create("draining");
    queue->async([] { std::this_thread::yield(); });
    for (int i = 0; i < 100; ++i) queue->async([&] { ran.fetch_add(1); });
  }
  EXPECT_EQ(ran.load(), 100);
}

TEST(SerialQueue, LastOwnerReleasedOnItsOwnThreadFinishesTheRemainingBlocks) {
  auto queue = SerialQueue::create("self-release");
  std::promise<void> gate;
  std::shared_future<void> opened = gate.get_future().share();
  std::promise<bool> laterBlockRan;
  auto later = laterBlockRan.get_future();
  auto holder = std::make_shared<std::shared_ptr<SerialQueue>>(queue);
  queue->async([opened] { opened.wait(); });
  queue->async([holder] { holder->reset(); });  // the last owner goes away here
  queue->async([&laterBlockRan] { laterBlockRan.set_value(true); });
  queue.reset();
  holder.reset();
  gate.set_value();
  ASSERT_EQ(later.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_TRUE(later.get());
}

TEST(SerialQueue, FlushOnItsOwnThreadReturns) {
  auto queue = SerialQueue::create("flush");
  bool returned = false;
  queue->sync([&] {
    queue->flush();
    returned = true;
  });
  EXPECT_TRUE(returned);
}

TEST(ConcurrentQueue, RunsBlocksSideBySideAndWaitsUntilIdle) {
  auto queue = ConcurrentQueue::create("concurrent", 3);
  // Three blocks that can only finish together: they must run at the same time.
  std::mutex mutex;
  std::condition_variable cv;
  int arrived = 0;
  std::atomic<int> finished{0};
  for (int i = 0; i < 3; ++i) {
    queue->async([&] {
      EXPECT_TRUE(queue->isCurrent());
      std::unique_lock lock(mutex);
      ++arrived;
      cv.notify_all();
      cv.wait(lock, [&] { return arrived == 3; });
      finished.fetch_add(1);
    });
  }
  queue->waitUntilIdle();
  EXPECT_EQ(finished.load(), 3);
  EXPECT_FALSE(queue->isCurrent());
  int ran = 0;
  queue->sync([&] { queue->sync([&] { ++ran; }); });  // sync on its own thread runs inline
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(ConcurrentQueue::globalDefault(), ConcurrentQueue::globalDefault());
}

TEST(MainQueue, DrainRunsQueuedAndNestedBlocksOnTheMainThread) {
  auto mainQueue = MainQueue::create();
  auto worker = SerialQueue::create("worker");
  std::vector<int> order;
  bool workerIsMain = true;
  worker->sync([&] { workerIsMain = MainQueue::isMainThread(); });
  mainQueue->async([&] {
    order.push_back(1);
    mainQueue->async([&] { order.push_back(3); });
  });
  mainQueue->async([&] { order.push_back(2); });
  EXPECT_EQ(mainQueue->drain(), 3u);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(MainQueue::isMainThread());
  EXPECT_TRUE(mainQueue->isCurrent());
  EXPECT_FALSE(workerIsMain);
  EXPECT_EQ(mainQueue->drain(), 0u);
}

TEST(MainQueue, SyncFromAnotherThreadWaitsForTheLoop) {
  auto mainQueue = MainQueue::create();
  bool ranOnMain = false;
  std::thread other([&] {
    mainQueue->sync([&] { ranOnMain = MainQueue::isMainThread(); });
    mainQueue->stop();
  });
  mainQueue->run();  // returns once the other thread has been answered and stopped the loop
  other.join();
  EXPECT_TRUE(ranOnMain);
}

TEST(MainQueue, SyncOnTheMainThreadRunsInline) {
  log::ScopedCapture capture;
  auto mainQueue = MainQueue::create();
  mainQueue->drain();  // makes this thread the main thread
  bool ran = false;
  mainQueue->sync([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_EQ(capture.sink().records().size(), 1u);
}

TEST(MainQueue, StopBeforeRunReturnsAtOnceAndKeepsQueuedBlocks) {
  auto mainQueue = MainQueue::create();
  int ran = 0;
  mainQueue->async([&] { ++ran; });
  mainQueue->stop();
  mainQueue->run();
  EXPECT_EQ(ran, 0);
  EXPECT_EQ(mainQueue->drain(), 1u);
  EXPECT_EQ(ran, 1);
}

}  // namespace
}  // namespace platform
