// The engine and the application's notifications: the background upload task
// of resigning active, the configuration refresh and the conversion-value
// fetch of becoming active, the launch observer, and the network object's
// reports.
#include <thread>

#include "MeasurementTestEngine.h"
#include "analytics/foundation/config/GWLDeepLinkHooks.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/measurement/GWLLibraryLoad.h"
#include "platform/appdelegate/LaunchOptions.h"

namespace measurement_test {
namespace {

bool contains(const std::vector<int64_t>& codes, int64_t code) {
  return std::find(codes.begin(), codes.end(), code) != codes.end();
}

class NotificationsTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    makeEngine();
    drain();
    ASSERT_TRUE(engine->didInitializeComponents());  // the observers are installed by the start
    engine->steps->take();
    codes();
  }

  // Posts on the test's thread, which is the main thread.
  void post(const char* name) {
    main_->async([this, name] { center_->post(name); });
    main_->drain();
  }
};

TEST_F(NotificationsTest, ResigningTwiceEndsTheFirstBackgroundTaskAndKeepsTheSecond) {
  post(platform::kApplicationWillResignActiveNotification);
  const auto first = engine->backgroundUpdateTask();
  ASSERT_NE(first, platform::kBackgroundTaskInvalid);
  EXPECT_EQ(tasks_->nameOfTask(first), "GWLAnalyticsMeasurementBackgroundTask");
  EXPECT_FALSE(contains(codes(), 23142));

  post(platform::kApplicationWillResignActiveNotification);
  const auto second = engine->backgroundUpdateTask();
  EXPECT_NE(second, first);
  EXPECT_EQ(tasks_->activeTasks(), std::vector<platform::BackgroundTaskIdentifier>{second});
  bool cancelled = false;
  for (const Report& report : reports()) {
    if (report.code == 23142) {
      EXPECT_EQ(report.message, "Cancelling background upload task. Task ID : " + std::to_string(first));
      cancelled = true;
    }
  }
  EXPECT_TRUE(cancelled);

  // Entering the foreground ends the task.
  post(platform::kApplicationWillEnterForegroundNotification);
  EXPECT_EQ(engine->backgroundUpdateTask(), platform::kBackgroundTaskInvalid);
  EXPECT_TRUE(tasks_->activeTasks().empty());

  // So does the platform's expiry of a task.
  post(platform::kApplicationWillResignActiveNotification);
  const auto third = engine->backgroundUpdateTask();
  EXPECT_TRUE(tasks_->expireBackgroundTask(third));
  EXPECT_EQ(engine->backgroundUpdateTask(), platform::kBackgroundTaskInvalid);
  EXPECT_TRUE(tasks_->activeTasks().empty());
}

TEST_F(NotificationsTest, TheUploadOfResigningActiveRunsAfterThePublicCallsQueuedBeforeIt) {
  // The entry class has not started: its hold queue keeps the calls in order.
  analytics_->queueOperationWithBlock(
      [this] { engine->scheduler()->scheduleOnWorkerQueueBlockID("call", [this] { engine->steps->add("call"); }); });
  post(platform::kApplicationWillResignActiveNotification);
  drain();
  EXPECT_EQ(engine->steps->take(), std::vector<std::string>{});

  analytics_->unsuspendOperationQueue();
  settle();
  drain();
  EXPECT_EQ(engine->steps->take(), (std::vector<std::string>{"call", "uploadData"}));
}

TEST_F(NotificationsTest, BecomingActiveFetchesAConfigurationAWeekOldOnlyWithTheSettingOn) {
  monitor_->setVerboseLoggingEnabled(true);  // the pending request's line is a verbose one
  enum Outcome { kNone, kFetch, kPending };
  struct Case {
    bool blocklistInternal;
    double age;  // seconds since the stored configuration's update
    bool networkReady;
    Outcome outcome;
  };
  const Case cases[] = {
      {true, 604800, true, kFetch},  {true, 604799, true, kNone},     {true, -604800, true, kFetch},
      {true, -604799, true, kNone},  {true, 604800, false, kPending}, {false, 604800, true, kNone},
      {false, 604800, false, kNone},
  };
  auto config = engine->engineRemoteConfig();
  auto database = engine->database();
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "blocklistInternal " << c.blocklistInternal << ", age " << c.age
                                      << ", network ready " << c.networkReady);
    config->replaceCachedValues({{kGWLSettingBlocklistInternal, c.blocklistInternal ? "1" : "0"}});
    onWorker([&] { ASSERT_TRUE(database->updateRemoteConfigSuccessfulTimestamp(clock_->now() - c.age)); });
    engine->networkReady = c.networkReady;
    codes();
    post(platform::kApplicationDidBecomeActiveNotification);
    drain();
    const auto steps = engine->steps->take();
    EXPECT_EQ(steps, c.outcome == kFetch ? std::vector<std::string>{"fetchRemoteConfig"} : std::vector<std::string>{});
    EXPECT_EQ(contains(codes(), 23143), c.outcome == kPending);
  }
}

TEST_F(NotificationsTest, EveryActivationFetchesTheConversionValueAndAReachabilityChangeReschedules) {
  post(platform::kApplicationDidBecomeActiveNotification);
  post(platform::kApplicationDidBecomeActiveNotification);
  drain();
  EXPECT_EQ(skan_->fetches, 2);

  engine->reachabilityDidChange();
  drain();
  EXPECT_EQ(engine->steps->take(), std::vector<std::string>{"updateSchedule"});
}

TEST_F(NotificationsTest, NetworkReportsKeepTheirCodeWithTheLevelMapped) {
  const std::pair<int, int64_t> levels[] = {{3, 1}, {4, 4}, {5, 3}, {6, 6}, {7, 7}, {0, 3}, {2, 3}, {8, 3}};
  for (const auto& [network, monitor] : levels) {
    EXPECT_EQ(GWLMeasurement::monitorLevelForNetworkLevel(network), monitor) << network;
  }
  engine->HVUNetwork_logWithLevel(4, 12345, "Request failed", {"https://example.test/upload"});
  EXPECT_EQ(reports(), (std::vector<Report>{{4, 12345, "Request failed: https://example.test/upload"}}));
}

// ---------------------------------------------------------------------------
// The launch observer of the process-load call

class RecordingLaunchLinks : public GWLDeepLinkHooks {
 public:
  void handleStoredURLAfterAppLaunchWithNotification(const platform::Notification& notification) override {
    std::lock_guard lock(mutex);
    launches.push_back(notification.userInfo);
  }
  std::mutex mutex;
  std::vector<platform::Dictionary> launches;
};

TEST_F(EngineTest, TheLoadCallObservesLaunchesAndHandsOnThoseWithLaunchOptions) {
  GWLLibraryLoadResetForTesting();
  GWLLibraryLoad(clock_);
  // In place of the deep links the load call installed.
  auto links = std::make_shared<RecordingLaunchLinks>();
  GWLInstalledHook<GWLDeepLinkHooks>::install(links);
  auto center = platform::NotificationCenter::defaultCenter();
  center->post(platform::kApplicationDidFinishLaunchingNotification);
  const platform::Dictionary options{{platform::kLaunchOptionsURLKey, "tabulo://open?x=1"}};
  center->post(platform::kApplicationDidFinishLaunchingNotification, options);
  GWLLibraryLoadResetForTesting();
  std::lock_guard lock(links->mutex);
  EXPECT_EQ(links->launches, std::vector<platform::Dictionary>{options});
}

// ---------------------------------------------------------------------------
// Threads

TEST_F(NotificationsTest, NotificationsOnTheMainThreadMeetAWipeOutOnTheWorkerQueue) {
  std::thread resetting([this] {
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(reset("ID" + std::to_string(i)));
  });
  for (int i = 0; i < 40; ++i) {
    post(platform::kApplicationWillResignActiveNotification);
    post(platform::kApplicationDidBecomeActiveNotification);
    post(platform::kApplicationWillEnterForegroundNotification);
    (void)engine->sessionReporter();
    (void)engine->remoteConfig();
    (void)engine->isEnabled();
  }
  resetting.join();
  drain();
  EXPECT_EQ(engine->backgroundUpdateTask(), platform::kBackgroundTaskInvalid);
  EXPECT_TRUE(tasks_->activeTasks().empty());
  EXPECT_EQ(settings_->appInstanceID(), "ID4");
}

}  // namespace
}  // namespace measurement_test
