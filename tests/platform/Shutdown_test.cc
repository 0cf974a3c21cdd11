#include "platform/env/Shutdown.h"

#include <gtest/gtest.h>

#include <csignal>

#include "platform/TestSupport.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/NotificationCenter.h"
#include "platform/dispatch/Queue.h"
#include "platform/storage/PreferencesStore.h"
#include "platform/storage/PropertyList.h"

namespace platform {
namespace {

class ShutdownTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PreferencesStore::resetForTesting();
    PreferencesStore::Configuration config;
    config.directory = scratch.path();
    config.applicationDomain = "com.halcyra.tabulo";
    config.clock = clock;  // never advanced: only shutdown writes
    config.queue = writes;
    PreferencesStore::configure(config);
  }
  void TearDown() override { PreferencesStore::resetForTesting(); }

  testing::ScratchDirectory scratch;
  std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
  std::shared_ptr<SerialQueue> writes = SerialQueue::create("preferences");
  std::shared_ptr<MainQueue> mainQueue = MainQueue::create();
  std::shared_ptr<NotificationCenter> center = NotificationCenter::create();
};

TEST_F(ShutdownTest, ASignalNotifiesOwnersWritesPreferencesAndStopsTheLoop) {
  for (int signo : {SIGTERM, SIGINT}) {
    PreferencesStore::standard()->setInteger(signo, "pending");
    std::vector<std::string> steps;
    // An owner closing its database on the main queue, and one that runs during the post.
    auto onMain = center->addObserver(kApplicationWillTerminateNotification, mainQueue, [&](const Notification&) {
      steps.push_back("main-queue observer");
      PreferencesStore::standard()->setBool(true, "closed");
    });
    auto inline_ = center->addObserver(kApplicationWillTerminateNotification, nullptr,
                                       [&](const Notification&) { steps.push_back("observer"); });

    auto shutdown = Shutdown::install(mainQueue, center);
    ASSERT_TRUE(shutdown);
    EXPECT_FALSE(Shutdown::install(mainQueue, center));  // one at a time
    ASSERT_EQ(::raise(signo), 0);
    mainQueue->run();  // returns once shutdown stops the loop

    EXPECT_TRUE(shutdown->isTerminating());
    EXPECT_TRUE(shutdown->preferencesWritten());
    EXPECT_EQ(steps, (std::vector<std::string>{"observer", "main-queue observer"}));
    auto stored = PropertyList::readFile(scratch / "com.halcyra.tabulo.plist");
    ASSERT_TRUE(stored);
    EXPECT_EQ(*stored->find("pending"), Object(signo));
    EXPECT_EQ(*stored->find("closed"), Object(true));  // written after the owners ran
    shutdown.reset();
  }
}

TEST_F(ShutdownTest, TerminateRunsTheSameShutdownOnce) {
  auto shutdown = Shutdown::install(mainQueue, center);
  ASSERT_TRUE(shutdown);
  int notified = 0;
  auto token = center->addObserver(kApplicationWillTerminateNotification, nullptr,
                                   [&](const Notification&) { ++notified; });
  shutdown->terminate();
  shutdown->terminate();
  mainQueue->run();
  EXPECT_EQ(notified, 1);
  EXPECT_TRUE(shutdown->preferencesWritten());
}

}  // namespace
}  // namespace platform
