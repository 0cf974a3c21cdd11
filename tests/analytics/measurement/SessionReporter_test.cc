// The session reporter inside a running engine: session timeouts, engaged
// time, screen changes, the engagement timer on the main queue, reporting
// switched off, and the reporter shared by the main queue and the worker queue.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

#include "SessionTestSupport.h"
#include "analytics/foundation/config/GWLAdReportingHooks.h"
#include "analytics/foundation/core/GWLAlarm.h"
#include "analytics/foundation/values/GWLScreen.h"

namespace measurement_test {
namespace {

using platform::Dictionary;
using platform::Object;

std::shared_ptr<GWLRemoteConfig> settings(const std::shared_ptr<GWLMonitor>& monitor,
                                          const std::map<std::string, std::string>& values) {
  return configWith(monitor, values);
}

int64_t intIn(const Dictionary& parameters, const std::string& name) {
  auto found = parameters.find(name);
  return found == parameters.end() ? std::numeric_limits<int64_t>::min() : found->second.integerValueOrZero();
}

// A clock whose uptime a test can move back, which no real uptime does.
class RewindableClock : public platform::Clock {
 public:
  explicit RewindableClock(std::shared_ptr<platform::ManualClock> clock) : clock_(std::move(clock)) {}
  double now() const override { return clock_->now(); }
  double uptime() const override { return clock_->uptime() - back_.load(); }
  uint64_t callAt(double deadline, std::function<void()> fire) override {
    return clock_->callAt(deadline + back_.load(), std::move(fire));
  }
  void cancelCall(uint64_t token) override { clock_->cancelCall(token); }
  void rewind(double seconds) { back_ = back_.load() + seconds; }

 private:
  std::shared_ptr<platform::ManualClock> clock_;
  std::atomic<double> back_{0};
};

// ---------------------------------------------------------------------------
// Timeouts

struct TimeoutCase {
  const char* what;
  std::optional<double> storedTimeout;  // stored by the entry class before the reporter existed
  double away;                          // seconds in the background
  bool newSession;
};

void PrintTo(const TimeoutCase& c, std::ostream* out) { *out << c.what; }

class SessionTimeoutTest : public SessionsTest, public ::testing::WithParamInterface<TimeoutCase> {};

TEST_P(SessionTimeoutTest, ANewSessionStartsOnlyAfterTheTimeoutHasPassed) {
  const TimeoutCase& c = GetParam();
  if (c.storedTimeout) settings_->setSessionTimeoutValue(Object(*c.storedTimeout));
  startEngine();
  becomeActive();
  const int64_t number = settings_->sessionNumber();
  const size_t starts = events("_s").size();
  ASSERT_EQ(number, 1) << "the first activation starts the first session";

  resignAndEnterBackground();
  clock_->advance(c.away);
  becomeActive();

  const auto sessionStarts = events("_s");
  if (c.newSession) {
    ASSERT_EQ(sessionStarts.size(), starts + 1);
    EXPECT_EQ(intIn(sessionStarts.back(), "_sno"), number + 1);
    EXPECT_EQ(intIn(sessionStarts.back(), "_sid"), static_cast<int64_t>(clock_->now()));
    EXPECT_EQ(intProperty("_sno"), number + 1);
    EXPECT_EQ(intProperty("_sid"), static_cast<int64_t>(clock_->now()));
  } else {
    EXPECT_EQ(sessionStarts.size(), starts);
    EXPECT_EQ(settings_->sessionNumber(), number);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Gaps, SessionTimeoutTest,
    ::testing::Values(TimeoutCase{"exactly the timeout", 60, 60, false},
                      TimeoutCase{"a second more", 60, 61, true},
                      TimeoutCase{"29 minutes with the default", std::nullopt, 29 * 60, false},
                      TimeoutCase{"31 minutes with the default", std::nullopt, 31 * 60, true}),
    [](const ::testing::TestParamInfo<TimeoutCase>& info) {
      std::string name = info.param.what;
      for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      }
      return name;
    });

TEST_F(SessionsTest, AStoredTimeoutIsUsedOnceAndOnlyWhenItIsAFiniteNumber) {
  struct Case {
    Object stored;
    double timeout;
    bool negativeReport;
  };
  const Case cases[] = {
      {Object(60.0), 60, false},
      {Object(-5.0), 0, true},
      {Object(std::nan("")), 1800, false},
      {Object(std::numeric_limits<double>::infinity()), 1800, false},
      {Object("600"), 1800, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored.description());
    settings_->setSessionTimeoutValue(c.stored);
    (void)codes();
    auto made = GWLSessionReporter::initWithPersistedConfig(settings_, reporterDependencies());
    EXPECT_EQ(made->timeoutSessionInterval(), c.timeout);
    EXPECT_FALSE(settings_->sessionTimeoutValue().has_value()) << "the stored value goes, used or not";
    EXPECT_EQ(sessionCodes(), c.negativeReport ? std::vector<int64_t>{33001} : std::vector<int64_t>{});
    auto next = GWLSessionReporter::initWithPersistedConfig(settings_, reporterDependencies());
    EXPECT_EQ(next->timeoutSessionInterval(), 1800) << "the next reporter takes the default";
  }
}

TEST_F(SessionsTest, ANegativeTimeoutEndsEverySessionThatGoesQuiet) {
  startEngine();
  becomeActive();
  (void)codes();
  reporter()->setTimeoutSessionInterval(-1);
  EXPECT_EQ(sessionCodes(), std::vector<int64_t>{33001});
  EXPECT_EQ(reporter()->timeoutSessionInterval(), 0);
  resignAndEnterBackground();
  EXPECT_FALSE(reporter()->isSessionExpired()) << "no time has passed";
  clock_->advance(0.5);
  EXPECT_TRUE(reporter()->isSessionExpired());
  EXPECT_EQ(settings_->lastSessionActivityClockTime(), 0) << "expiry clears the last activity";
  EXPECT_FALSE(reporter()->extendSession());
  EXPECT_TRUE(reporter()->isSessionExpired()) << "and stays expired until a new session starts";
}

TEST_F(SessionsTest, ANewTimeoutAppliesAfterTheOldOneHadItsSay) {
  startEngine();
  becomeActive();
  resignAndEnterBackground();
  clock_->advance(1900);
  reporter()->setTimeoutSessionInterval(3600);
  EXPECT_TRUE(reporter()->isSessionExpired()) << "the session ran out under the old timeout";
}

TEST_F(SessionsTest, ABackgroundEventExtendsALiveSessionOnly) {
  startEngine();
  becomeActive();
  resignAndEnterBackground();
  clock_->advance(1000);
  EXPECT_TRUE(reporter()->extendSession());
  EXPECT_EQ(settings_->lastSessionActivityClockTime(), clock_->now());
  clock_->advance(1000);
  EXPECT_TRUE(reporter()->extendSession()) << "measured from the extension";
  clock_->advance(1801);
  EXPECT_FALSE(reporter()->extendSession());
}

// ---------------------------------------------------------------------------
// Engagement

TEST_F(SessionsTest, EngagedTimeIsReportedInWholeMillisecondsAndCapped) {
  // The timer would report first at its interval: set above the longest span.
  startEngine({}, settings(monitor_, {{kGWLSettingSessionEventUserEngagementInterval, "7200000"}}));
  const std::pair<double, int64_t> cases[] = {{5000, 3600000}, {0.4, 400}, {0.0004, 0}, {1.5, 1500}};
  for (auto [span, expected] : cases) {
    SCOPED_TRACE(span);
    becomeActive();
    clock_->advance(span);
    resignAndEnterBackground();
    const auto engagements = events("_e");
    ASSERT_FALSE(engagements.empty());
    EXPECT_EQ(intIn(engagements.back(), "_et"), expected);
  }
}

TEST_F(SessionsTest, ANegativeEngagementSpanReportsZero) {
  startEngine();
  active = true;
  auto clock = std::make_shared<RewindableClock>(clock_);
  auto dependencies = reporterDependencies();
  dependencies.clock = clock;
  auto rewound = GWLSessionReporter::initWithPersistedConfig(settings_, dependencies);
  rewound->setReportingEnabled(true);
  const size_t before = events("_e").size();
  clock->rewind(2);
  (void)codes();
  EXPECT_EQ(rewound->logEngagementEventAndReturnTimeWithScreen(nullptr, false), 0);
  EXPECT_EQ(sessionCodes(), std::vector<int64_t>{33004});
  const auto engagements = events("_e");
  ASSERT_EQ(engagements.size(), before + 1);
  EXPECT_EQ(intIn(engagements.back(), "_et"), 0);
}

TEST_F(SessionsTest, NothingIsReportedWhileTheAppIsNotActive) {
  startEngine();
  reporter()->setReportingEnabled(true);
  const size_t engagements = events("_e").size();
  const size_t starts = events("_s").size();
  (void)codes();
  EXPECT_EQ(reporter()->logEngagementEventAndReturnTimeWithScreen(nullptr, false), 0);
  reporter()->logSessionStartEvent();
  EXPECT_EQ(sessionCodes(), (std::vector<int64_t>{33006, 33005}));
  EXPECT_EQ(events("_e").size(), engagements);
  EXPECT_EQ(events("_s").size(), starts);
}

struct ScreenCase {
  const char* what;
  bool efficient;
  bool redundantRemoval;
  bool reported;
  bool freeride;
};

void PrintTo(const ScreenCase& c, std::ostream* out) { *out << c.what; }

class ScreenChangeTest : public SessionsTest, public ::testing::WithParamInterface<ScreenCase> {};

TEST_P(ScreenChangeTest, LeavingAScreenReportsItsEngagementAfterASecond) {
  const ScreenCase& c = GetParam();
  startEngine({}, settings(monitor_, {{kGWLSettingEfficientEngagementReportingEnabled, c.efficient ? "1" : "0"},
                                      {kGWLSettingRedundantEngagementRemovalEnabled, c.redundantRemoval ? "1" : "0"}}));
  auto sheet = std::make_shared<const GWLScreen>("Sheet", "SheetViewController", 42);
  auto list = std::make_shared<const GWLScreen>("List", "MenuViewController", 43);
  becomeActive();
  const size_t before = events("_e").size();

  clock_->advance(0.5);
  reporter()->handleScreenDidChangeFromScreen(sheet, list);
  EXPECT_EQ(events("_e").size(), before) << "half a second is no engagement";

  clock_->advance(1.0);
  reporter()->handleScreenDidChangeFromScreen(nullptr, list);
  EXPECT_EQ(events("_e").size(), before) << "no screen was left";
  reporter()->handleScreenDidChangeFromScreen(sheet, list);
  const auto engagements = events("_e");
  if (!c.reported) {
    EXPECT_EQ(engagements.size(), before);
    return;
  }
  ASSERT_EQ(engagements.size(), before + 1);
  const Dictionary& e = engagements.back();
  EXPECT_EQ(intIn(e, "_et"), 1500);
  EXPECT_EQ(intIn(e, "_si"), 42);
  EXPECT_EQ(e.at("_sc"), Object("SheetViewController"));
  EXPECT_EQ(e.at("_sn"), Object("Sheet"));
  EXPECT_EQ(e.count("_fr"), c.freeride ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Settings, ScreenChangeTest,
                         ::testing::Values(ScreenCase{"Plain", false, false, true, false},
                                           ScreenCase{"Efficient", true, false, true, true},
                                           ScreenCase{"EfficientWithoutRedundant", true, true, false, false},
                                           ScreenCase{"RedundantRemovalAlone", false, true, true, false}),
                         [](const ::testing::TestParamInfo<ScreenCase>& info) { return info.param.what; });

TEST_F(SessionsTest, TheFreerideCutCountsFromTheLastCut) {
  startEngine({}, settings(monitor_, {{kGWLSettingEfficientEngagementReportingEnabled, "1"}}));
  becomeActive();
  clock_->advance(2.5);
  EXPECT_EQ(reporter()->cutFreerideEngagementTimeMillis(), 2500);
  clock_->advance(0.25);
  EXPECT_EQ(reporter()->cutFreerideEngagementTimeMillis(), 250);

  measurement->useConfig(settings(monitor_, {}));
  clock_->advance(1);
  EXPECT_EQ(reporter()->cutFreerideEngagementTimeMillis(), 0) << "nothing to cut without efficient reporting";
}

TEST_F(SessionsTest, WithReportingOffActivationAfterTheTimeoutReportsNothing) {
  startEngine();
  becomeActive();
  const int64_t number = settings_->sessionNumber();
  const size_t starts = events("_s").size();
  const size_t engagements = events("_e").size();
  reporter()->setReportingEnabled(false);
  resignAndEnterBackground();
  clock_->advance(1801);
  becomeActive();
  EXPECT_EQ(events("_s").size(), starts);
  EXPECT_EQ(events("_e").size(), engagements);
  EXPECT_EQ(settings_->sessionNumber(), number);
  EXPECT_TRUE(reporter()->userEngagementTimer()->hasActiveTimer()) << "the timer runs on, to no effect";
}

// ---------------------------------------------------------------------------
// The engagement timer

TEST_F(SessionsTest, TheTimerAnnouncesItselfBeforeEachReport) {
  startEngine();
  becomeActive();
  std::vector<size_t> seenAtNotification;
  auto token = center_->addObserver(kGWLSessionReporterEngagementTimerDidFire, nullptr,
                                    [&](const platform::Notification&) {
                                      // Whatever the reporter handed on so far is stored by now.
                                      analytics_->queue()->flush();
                                      size_t count = 0;
                                      onWorker([&] {
                                        const auto rows = measurement->database()->allRawEventsWithError();
                                        for (const auto& row : rows.value()) count += row->rawEvent()->name() == "_e";
                                      });
                                      seenAtNotification.push_back(count);
                                    });
  const size_t before = events("_e").size();
  for (int hour = 0; hour < 2; ++hour) {
    clock_->advance(3600);
    settleAll();
  }
  EXPECT_EQ(seenAtNotification, (std::vector<size_t>{before, before + 1}));
  const auto engagements = events("_e");
  ASSERT_EQ(engagements.size(), before + 2);
  EXPECT_EQ(intIn(engagements[before], "_et"), 3600000);
  EXPECT_EQ(intIn(engagements[before + 1], "_et"), 3600000);

  resignAndEnterBackground();
  EXPECT_FALSE(reporter()->userEngagementTimer()->hasActiveTimer()) << "resigning stops the timer";
}

TEST_F(SessionsTest, AnIntervalOfZeroArmsNoTimer) {
  startEngine({}, settings(monitor_, {{kGWLSettingSessionEventUserEngagementInterval, "0"}}));
  becomeActive();
  EXPECT_FALSE(reporter()->userEngagementTimer()->hasActiveTimer());
  const size_t before = events("_e").size();
  clock_->advance(3600);
  EXPECT_EQ(main_->drain(), 0u) << "nothing loops on the main queue";
  EXPECT_EQ(events("_e").size(), before);

  resignAndEnterBackground();
  const auto engagements = events("_e");
  ASSERT_EQ(engagements.size(), before + 1) << "resigning still reports the engagement";
  EXPECT_EQ(intIn(engagements.back(), "_et"), 3600000);
}

TEST_F(SessionsTest, SwitchingReportingOnArmsTheTimerOnlyForAnActiveApp) {
  startEngine();
  auto made = GWLSessionReporter::initWithPersistedConfig(settings_, reporterDependencies());
  made->setReportingEnabled(true);
  EXPECT_FALSE(made->userEngagementTimer()->hasActiveTimer());
  active = true;
  made->setReportingEnabled(true);
  EXPECT_TRUE(made->userEngagementTimer()->hasActiveTimer());
  made->setReportingEnabled(false);
  EXPECT_FALSE(made->userEngagementTimer()->hasActiveTimer());
}

TEST_F(SessionsTest, TheEngineMakesASessionReporterByDefault) {
  GWLMeasurement::Dependencies made = dependencies();
  made.sessionReporterFactory = nullptr;
  GWLAnalyticsEngineConfiguration configuration;
  configuration.appID = "1:123:ios:abc";
  auto plain = GWLMeasurement::create<SessionEngine>(configuration, made);
  plain->setEnabled(true);
  plain->scheduler()->workerQueue()->flush();
  EXPECT_TRUE(std::dynamic_pointer_cast<GWLSessionReporter>(plain->sessionReporter()));
  plain->scheduler()->workerQueue()->flush();
}

// ---------------------------------------------------------------------------
// One reporter, two threads

TEST_F(SessionsTest, TheTimerAndTheWorkerQueueShareOneReporter) {
  startEngine({}, settings(monitor_, {{kGWLSettingSessionEventUserEngagementInterval, "1000"}}));
  active = true;
  auto shared = reporter();
  shared->handleAppDidBecomeActive();
  const int64_t number = settings_->sessionNumber();
  std::thread mainThread([this] { main_->run(); });

  constexpr int kRounds = 200;
  for (int round = 0; round < kRounds; ++round) {
    measurement->scheduler()->workerQueue()->async([shared] {
      (void)shared->isSessionExpired();
      (void)shared->shouldStartNewSession();
      (void)shared->extendSession();
      shared->updatePropertiesForNewSessionStart();
      (void)shared->sessionNumberProperty();
    });
    clock_->advance(1);
  }
  measurement->scheduler()->workerQueue()->flush();
  main_->stop();
  mainThread.join();
  settleAll();
  EXPECT_EQ(settings_->sessionNumber(), number + kRounds) << "no count is lost";
  EXPECT_GT(events("_e").size(), 0u);
}

TEST_F(SessionsTest, OfTwoCallersAskingAtOnceOnlyOneStartsTheSession) {
  // The worker queue (a background event) and the main thread (an activation)
  // both find a session due; the check and the count are one step, so each
  // timed-out gap starts exactly one session.
  startEngine();
  auto shared = reporter();
  const int64_t number = settings_->sessionNumber();
  constexpr int kRounds = 200;
  std::atomic<int> started{0};
  for (int round = 0; round < kRounds; ++round) {
    clock_->advance(shared->timeoutSessionInterval() + 1);
    std::atomic<bool> go{false};
    auto claim = [&] {
      while (!go.load()) {
      }
      if (shared->startNewSessionIfDue()) started.fetch_add(1);
    };
    std::thread first(claim), second(claim);
    go.store(true);
    first.join();
    second.join();
  }
  EXPECT_EQ(started.load(), kRounds);
  EXPECT_EQ(settings_->sessionNumber(), number + kRounds);
  EXPECT_FALSE(shared->startNewSessionIfDue()) << "nothing is due right after a start";
}

}  // namespace
}  // namespace measurement_test
