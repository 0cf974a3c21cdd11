#include "platform/env/BackgroundTasks.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using platform::BackgroundTaskIdentifier;
using platform::BackgroundTasks;
using platform::kBackgroundTaskInvalid;

TEST(BackgroundTasks, TasksAreActiveFromBeginUntilEndAndEndingTwiceDoesNothing) {
  BackgroundTasks tasks;
  int expired = 0;
  const auto first = tasks.beginBackgroundTaskWithName("upload", [&] { ++expired; });
  const auto second = tasks.beginBackgroundTaskWithName("other", [&] { ++expired; });
  EXPECT_NE(first, kBackgroundTaskInvalid);
  EXPECT_NE(first, second);
  EXPECT_EQ(tasks.activeTasks(), (std::vector<BackgroundTaskIdentifier>{first, second}));
  EXPECT_EQ(tasks.nameOfTask(first), "upload");

  tasks.endBackgroundTask(first);
  tasks.endBackgroundTask(first);
  tasks.endBackgroundTask(kBackgroundTaskInvalid);
  EXPECT_EQ(tasks.activeTasks(), std::vector<BackgroundTaskIdentifier>{second});
  EXPECT_EQ(tasks.nameOfTask(first), std::nullopt);
  EXPECT_EQ(expired, 0);  // ending never runs the handler
}

TEST(BackgroundTasks, AnExpiredTaskRunsItsHandlerOnceAfterItEnded) {
  BackgroundTasks tasks;
  BackgroundTaskIdentifier identifier = kBackgroundTaskInvalid;
  std::vector<BackgroundTaskIdentifier> activeInHandler;
  int runs = 0;
  identifier = tasks.beginBackgroundTaskWithName("upload", [&] {
    ++runs;
    activeInHandler = tasks.activeTasks();  // no deadlock: the handler runs outside the lock
    tasks.endBackgroundTask(identifier);    // what a handler does; already ended
  });
  EXPECT_TRUE(tasks.expireBackgroundTask(identifier));
  EXPECT_FALSE(tasks.expireBackgroundTask(identifier));
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(activeInHandler.empty());
  EXPECT_TRUE(tasks.activeTasks().empty());
}

}  // namespace
