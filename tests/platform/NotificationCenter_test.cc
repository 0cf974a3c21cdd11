#include "platform/dispatch/NotificationCenter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/core/Log.h"
#include "platform/dispatch/Queue.h"

namespace platform {
namespace {

TEST(NotificationCenter, CallsTheObserversOfTheNameInOrderWithTheUserInfo) {
  auto center = NotificationCenter::create();
  std::vector<std::string> calls;
  auto first = center->addObserver("A", nullptr, [&](const Notification& n) {
    calls.push_back("first " + n.name + " " + n.userInfo.at("k").description());
  });
  auto second = center->addObserver("A", nullptr, [&](const Notification& n) { calls.push_back("second " + n.name); });
  auto other = center->addObserver("B", nullptr, [&](const Notification&) { calls.push_back("other"); });

  center->post("A", {{"k", 7}});
  center->post("nobody listens");
  EXPECT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].rfind("first A ", 0), 0u);
  EXPECT_NE(calls[0].find('7'), std::string::npos);
  EXPECT_EQ(calls[1], "second A");
}

TEST(NotificationCenter, ObserversWithAQueueRunOnIt) {
  auto center = NotificationCenter::create();
  auto mainQueue = MainQueue::create();
  auto worker = SerialQueue::create("poster");
  int calls = 0;
  bool onMain = false;
  auto token = center->addObserver("Ping", mainQueue, [&](const Notification&) {
    ++calls;
    onMain = MainQueue::isMainThread();
  });
  worker->sync([&] { center->post("Ping"); });
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(mainQueue->drain(), 1u);
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(onMain);
}

TEST(NotificationCenter, TokensUnregisterWhenResetDestroyedOrReplaced) {
  auto center = NotificationCenter::create();
  int a = 0, b = 0, c = 0;
  auto tokenA = center->addObserver("N", nullptr, [&](const Notification&) { ++a; });
  std::optional<ObserverToken> tokenB = center->addObserver("N", nullptr, [&](const Notification&) { ++b; });
  ObserverToken tokenC = center->addObserver("N", nullptr, [&](const Notification&) { ++c; });
  ObserverToken moved = std::move(tokenC);  // moving keeps the registration
  EXPECT_FALSE(tokenC);
  EXPECT_TRUE(moved);
  center->post("N");
  EXPECT_EQ(a + b + c, 3);

  tokenA.reset();
  tokenB.reset();  // destroys the token
  moved = ObserverToken();  // assigning over a token drops its registration
  center->post("N");
  EXPECT_EQ(a + b + c, 3);
}

TEST(NotificationCenter, AnObserverRemovedWhileAPostWaitsOnItsQueueIsNotCalled) {
  auto center = NotificationCenter::create();
  auto mainQueue = MainQueue::create();
  int calls = 0;
  auto token = center->addObserver("N", mainQueue, [&](const Notification&) { ++calls; });
  center->post("N");
  token.reset();
  mainQueue->drain();
  EXPECT_EQ(calls, 0);
}

TEST(NotificationCenter, TokensOutliveTheirCenter) {
  auto center = NotificationCenter::create();
  auto mainQueue = MainQueue::create();
  int calls = 0;
  auto token = center->addObserver("N", mainQueue, [&](const Notification&) { ++calls; });
  center->post("N");
  center.reset();  // the post is still waiting on the queue
  token.reset();   // cannot reach the center, still stops the observer
  mainQueue->drain();
  EXPECT_EQ(calls, 0);
}

TEST(NotificationCenter, ObserversMayPostAndUnregisterDuringAPost) {
  log::ScopedCapture capture;
  auto center = NotificationCenter::create();
  std::vector<std::string> calls;
  ObserverToken self;
  auto thrower = center->addObserver("First", nullptr, [](const Notification&) { throw std::runtime_error("oops"); });
  self = center->addObserver("First", nullptr, [&](const Notification&) {
    calls.push_back("first");
    self.reset();
    center->post("Second");
  });
  auto second = center->addObserver("Second", nullptr, [&](const Notification&) { calls.push_back("second"); });
  center->post("First");
  center->post("First");
  EXPECT_EQ(calls, (std::vector<std::string>{"first", "second"}));
  EXPECT_TRUE(capture.sink().contains("oops"));
}

TEST(NotificationCenter, PostsAndRegistrationsFromManyThreads) {
  auto center = NotificationCenter::create();
  auto queue = SerialQueue::create("observers");
  std::atomic<int> kept{0};
  auto keeper = center->addObserver("N", queue, [&](const Notification&) { kept.fetch_add(1); });
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        auto transient = center->addObserver("N", nullptr, [](const Notification&) {});
        center->post("N", {{"i", i}});
      }
    });
  }
  for (auto& thread : threads) thread.join();
  queue->flush();
  EXPECT_EQ(kept.load(), 800);
}

TEST(NotificationCenter, AnObserverOfOneSenderHearsOnlyThatSender) {
  auto center = NotificationCenter::create();
  auto sender = std::make_shared<int>(1);
  auto other = std::make_shared<int>(2);
  int fromSender = 0;
  int fromAnyone = 0;
  auto one = center->addObserver("N", sender, nullptr, [&](const Notification& n) {
    EXPECT_EQ(n.sender, sender);
    ++fromSender;
  });
  auto any = center->addObserver("N", nullptr, [&](const Notification&) { ++fromAnyone; });
  center->post("N", {}, sender);
  center->post("N", {}, other);
  center->post("N");
  EXPECT_EQ(fromSender, 1);
  EXPECT_EQ(fromAnyone, 3);

  // A sender that is gone posts nothing more, even from the same address.
  std::weak_ptr<int> gone = sender;
  sender.reset();
  ASSERT_TRUE(gone.expired());
  center->post("N", {}, std::make_shared<int>(1));
  EXPECT_EQ(fromSender, 1);
}

TEST(NotificationCenter, DefaultCenterIsOneInstance) {
  EXPECT_EQ(NotificationCenter::defaultCenter(), NotificationCenter::defaultCenter());
}

}  // namespace
}  // namespace platform
