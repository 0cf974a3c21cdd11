// The ad exposure reporter on a manual clock, with an engine that records the
// events it is asked to log (AdReportingTestSupport.h).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "AdReportingTestSupport.h"
#include "analytics/attribution/CVNAAdExposureReporter.h"
#include "analytics/attribution/GWLAdExposureReporter.h"
#include "analytics/foundation/config/GWLAdReportingHooks.h"
#include "analytics/foundation/values/GWLScreen.h"
#include "platform/dispatch/Clock.h"

namespace {

using attribution_test::LoggedEvent;
using attribution_test::RecordingEngine;

GWLValue text(const std::string& value) { return *GWLValue::initWithString(value); }
GWLValue number(int64_t value) { return GWLValue::initWithInt64(value); }

const GWLParameters kCurrentScreen = {{"_si", number(5)}, {"_sc", text("SheetVC")}, {"_sn", text("Sheet")}};

class AdExposureReporterTest : public attribution_test::AdReportingTest {
 protected:
  void SetUp() override {
    AdReportingTest::SetUp();
    engine_->setScreenParameters(kCurrentScreen);
    reporter_ = make<GWLAdExposureReporter>();
  }

  template <class Reporter>
  std::shared_ptr<Reporter> make() {
    GWLAdExposureReporter::Dependencies dependencies;
    dependencies.clock = clock_;
    dependencies.monitor = monitor_;
    dependencies.engine = [engine = engine_] { return engine; };
    dependencies.notificationCenter = center_;
    dependencies.isAppActive = [active = active_] { return active->load(); };
    dependencies.valueLimits = [] { return GWLValueLimits{}; };
    return GWLAdExposureReporter::create<Reporter>(dependencies);
  }

  // The events as "name:_ai:_xt" (no "_ai" for "_xa"), checking origin and screen.
  std::vector<std::string> events(const GWLParameters& screen = kCurrentScreen) {
    std::vector<std::string> out;
    for (const LoggedEvent& event : engine_->takeEvents()) {
      EXPECT_EQ(event.origin, "gw");
      GWLParameters rest = event.parameters;
      std::string line = event.name;
      if (auto id = rest.find("_ai"); id != rest.end()) {
        line += ":" + *id->second.stringValue();
        rest.erase(id);
      }
      if (auto time = rest.find("_xt"); time != rest.end()) {
        EXPECT_TRUE(time->second.isInt64());
        line += ":" + std::to_string(time->second.int64Value());
        rest.erase(time);
      }
      EXPECT_EQ(rest, screen) << line;
      out.push_back(line);
    }
    return out;
  }

  std::shared_ptr<platform::ManualClock> clock_ = std::make_shared<platform::ManualClock>();
  std::shared_ptr<RecordingEngine> engine_ = std::make_shared<RecordingEngine>();
  std::shared_ptr<platform::NotificationCenter> center_ = platform::NotificationCenter::create();
  std::shared_ptr<std::atomic<bool>> active_ = std::make_shared<std::atomic<bool>>(true);
  std::shared_ptr<GWLAdExposureReporter> reporter_;
};

TEST_F(AdExposureReporterTest, ExposuresOfASecondOrMoreAreLogged) {
  const struct {
    double seconds;
    std::vector<std::string> events;
    std::vector<int64_t> codes;
  } cases[] = {
      {0.8, {}, {kGWLAdUnitExposureTooShort.code, kGWLAdExposureTooShort.code}},
      {0.999, {}, {kGWLAdUnitExposureTooShort.code, kGWLAdExposureTooShort.code}},
      {1.0, {"_xu:banner:1000", "_xa:1000"}, {}},
      {1.5, {"_xu:banner:1500", "_xa:1500"}, {}},
  };
  for (const auto& c : cases) {
    reporter_->beginAdUnitExposure("banner");
    clock_->advance(c.seconds);
    reporter_->endAdUnitExposure("banner");
    EXPECT_EQ(events(), c.events) << c.seconds;
    EXPECT_EQ(printedCodes(), c.codes) << c.seconds;
  }
  // The exported subclass adds nothing.
  auto exported = make<CVNAAdExposureReporter>();
  exported->beginAdUnitExposure("banner");
  clock_->advance(1.5);
  exported->endAdUnitExposure("banner");
  EXPECT_EQ(events(), (std::vector<std::string>{"_xu:banner:1500", "_xa:1500"}));
}

TEST_F(AdExposureReporterTest, EachBeginNeedsItsEndAndTheTotalSpansAllUnits) {
  reporter_->beginAdUnitExposure("a");
  reporter_->beginAdUnitExposure("a");
  clock_->advance(2);
  reporter_->endAdUnitExposure("a");
  EXPECT_EQ(events(), std::vector<std::string>{});
  clock_->advance(1);
  reporter_->beginAdUnitExposure("b");
  clock_->advance(1.5);
  reporter_->endAdUnitExposure("a");
  EXPECT_EQ(events(), std::vector<std::string>{"_xu:a:4500"});
  clock_->advance(2);
  reporter_->endAdUnitExposure("b");
  EXPECT_EQ(events(), (std::vector<std::string>{"_xu:b:3500", "_xa:6500"}));
}

TEST_F(AdExposureReporterTest, EmptyAndUnknownIDsAreRefused) {
  reporter_->beginAdUnitExposure("");
  EXPECT_EQ(lastSampledKey(), sampleKey(kGWLAdExposureBeginEmptyID));
  reporter_->endAdUnitExposure("");
  EXPECT_EQ(lastSampledKey(), sampleKey(kGWLAdExposureEndEmptyID));
  reporter_->endAdUnitExposure("never-begun");
  EXPECT_EQ(lastSampledKey(), sampleKey(kGWLAdExposureUnknownAdUnit));
  EXPECT_EQ(events(), std::vector<std::string>{});
}

TEST_F(AdExposureReporterTest, AtMostAHundredDistinctAdUnits) {
  for (size_t i = 0; i < kGWLAdExposureMaxAdUnits; ++i) reporter_->beginAdUnitExposure("u" + std::to_string(i));
  reporter_->beginAdUnitExposure("extra");
  reporter_->endAdUnitExposure("extra");  // waits for the begins
  EXPECT_EQ(lastSampledKey(), sampleKey(kGWLAdExposureUnknownAdUnit));
  reporter_->beginAdUnitExposure("extra");
  reporter_->endAdUnitExposure("u0");  // flushes the begin before it
  EXPECT_EQ(lastSampledKey(), sampleKey(kGWLAdExposureLimitReached));

  // A unit already tracked still counts its begins at the limit.
  reporter_->beginAdUnitExposure("extra");  // takes the place u0 left
  reporter_->beginAdUnitExposure("u1");
  clock_->advance(1.5);
  reporter_->endAdUnitExposure("u1");
  EXPECT_EQ(events(), std::vector<std::string>{});
  reporter_->endAdUnitExposure("extra");
  reporter_->endAdUnitExposure("u1");
  EXPECT_EQ(events(), (std::vector<std::string>{"_xu:extra:1500", "_xu:u1:1500"}));
}

TEST_F(AdExposureReporterTest, AScreenChangeCutsTheSliceForThePreviousScreen) {
  auto previous = std::make_shared<GWLScreen>("Menu", "MenuVC", 3);
  auto next = std::make_shared<GWLScreen>("Sheet", "SheetVC", 5);
  reporter_->handleScreenDidChangeFromScreen(previous, next);  // nothing open: nothing logged
  reporter_->beginAdUnitExposure("banner");
  clock_->advance(2);
  reporter_->handleScreenDidChangeFromScreen(nullptr, next);  // no previous screen: no cut
  clock_->advance(1);
  reporter_->handleScreenDidChangeFromScreen(previous, next);
  EXPECT_EQ(events({{"_si", number(3)}, {"_sc", text("MenuVC")}, {"_sn", text("Menu")}}),
            (std::vector<std::string>{"_xu:banner:3000", "_xa:3000"}));
  clock_->advance(1.5);
  reporter_->endAdUnitExposure("banner");
  EXPECT_EQ(events(), (std::vector<std::string>{"_xu:banner:1500", "_xa:1500"}));
}

TEST_F(AdExposureReporterTest, EngagementTicksCutSlicesUntilTheReporterGoes) {
  reporter_->beginAdUnitExposure("banner");
  clock_->advance(2);
  center_->post(kGWLSessionReporterEngagementTimerDidFire);
  EXPECT_EQ(events(), (std::vector<std::string>{"_xu:banner:2000", "_xa:2000"}));
  clock_->advance(0.5);
  center_->post(kGWLSessionReporterEngagementTimerDidFire);  // too short, but the slice restarts
  clock_->advance(0.7);
  reporter_->endAdUnitExposure("banner");
  EXPECT_EQ(events(), std::vector<std::string>{});

  reporter_->beginAdUnitExposure("banner");
  clock_->advance(2);
  reporter_.reset();
  center_->post(kGWLSessionReporterEngagementTimerDidFire);
  EXPECT_EQ(events(), std::vector<std::string>{});
}

TEST_F(AdExposureReporterTest, InactiveTimeIsNotCounted) {
  const GWLParameters resigned = {{"_si", number(9)}, {"_sc", text("ListVC")}};
  reporter_->beginAdUnitExposure("banner");
  clock_->advance(2);
  reporter_->handleAppWillResignActiveWithScreen(std::make_shared<GWLScreen>(std::nullopt, "ListVC", 9));
  EXPECT_EQ(events(resigned), (std::vector<std::string>{"_xu:banner:2000", "_xa:2000"}));
  active_->store(false);
  clock_->advance(600);
  active_->store(true);
  reporter_->handleAppDidBecomeActive();
  clock_->advance(1.5);
  // Without a screen, or one that yields no parameters, the current screen's go.
  reporter_->handleAppWillResignActiveWithScreen(nullptr);
  EXPECT_EQ(events(), (std::vector<std::string>{"_xu:banner:1500", "_xa:1500"}));
}

TEST_F(AdExposureReporterTest, NothingIsLoggedWhileTheAppIsNotActive) {
  active_->store(false);
  reporter_->beginAdUnitExposure("banner");
  clock_->advance(2);
  reporter_->endAdUnitExposure("banner");
  EXPECT_EQ(events(), std::vector<std::string>{});
  EXPECT_EQ(printedCodes(),
            (std::vector<int64_t>{kGWLAdUnitExposureAppNotActive.code, kGWLAdExposureAppNotActive.code}));
}

TEST_F(AdExposureReporterTest, DisabledReportingKeepsCountsAndTimesButLogsNothing) {
  reporter_->setReportingEnabled(false);
  reporter_->beginAdUnitExposure("a");
  reporter_->beginAdUnitExposure("a");
  reporter_->beginAdUnitExposure("b");
  clock_->advance(2);
  reporter_->endAdUnitExposure("b");
  EXPECT_EQ(lastSampledKey(), sampleKey(kGWLAdUnitExposureReportingDisabled));
  reporter_->endAdUnitExposure("a");  // the second begin still counts
  reporter_->setReportingEnabled(true);
  clock_->advance(1.5);
  reporter_->endAdUnitExposure("a");
  EXPECT_EQ(events(), (std::vector<std::string>{"_xu:a:3500", "_xa:3500"}));

  reporter_->setReportingEnabled(false);
  reporter_->beginAdUnitExposure("c");
  clock_->advance(2);
  reporter_->endAdUnitExposure("c");
  EXPECT_EQ(lastSampledKey(), sampleKey(kGWLAdExposureReportingDisabled));
  EXPECT_EQ(events(), std::vector<std::string>{});
}

TEST_F(AdExposureReporterTest, AWallClockChangeDoesNotChangeTheExposure) {
  reporter_->beginAdUnitExposure("banner");
  clock_->setNow(clock_->now() - 86400);
  clock_->advance(1.5);
  clock_->setNow(clock_->now() + 7 * 86400);
  reporter_->endAdUnitExposure("banner");
  EXPECT_EQ(events(), (std::vector<std::string>{"_xu:banner:1500", "_xa:1500"}));
}

// Ad libraries on their own threads, slice cuts from the main thread and the
// engagement timer: every begin is matched by its end and nothing is lost.
TEST_F(AdExposureReporterTest, CallersOnManyThreads) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 200;
  std::atomic<bool> done{false};
  std::thread cutter([&] {
    auto screen = std::make_shared<GWLScreen>("Menu", "MenuVC", 3);
    while (!done.load()) {
      reporter_->handleScreenDidChangeFromScreen(screen, screen);
      center_->post(kGWLSessionReporterEngagementTimerDidFire);
      reporter_->handleAppDidBecomeActive();
    }
  });
  std::vector<std::thread> libraries;
  for (int t = 0; t < kThreads; ++t) {
    libraries.emplace_back([this, t] {
      const std::string id = "unit-" + std::to_string(t);
      for (int round = 0; round < kRounds; ++round) {
        reporter_->beginAdUnitExposure(id);
        reporter_->beginAdUnitExposure(id);
        clock_->advance(0.25);
        reporter_->endAdUnitExposure(id);
        reporter_->endAdUnitExposure(id);
      }
    });
  }
  for (auto& thread : libraries) thread.join();
  done.store(true);
  cutter.join();
  engine_->takeEvents();
  // Every unit ended: a further end finds none of them.
  for (int t = 0; t < kThreads; ++t) {
    reporter_->endAdUnitExposure("unit-" + std::to_string(t));
    EXPECT_EQ(lastSampledKey(), sampleKey(kGWLAdExposureUnknownAdUnit));
  }
}

}  // namespace
