// The engine's ad reporting hooks as the attribution layer fills them: the
// screen calls reach the ad exposure reporter, and the search-ads reporter is
// made, started and switched with collection.
#include <gtest/gtest.h>

#include "AdReportingTestSupport.h"
#include "analytics/attribution/GWLAdReporters.h"
#include "analytics/foundation/config/GWLInstalledHook.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/values/GWLScreen.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/NotificationCenter.h"
#include "platform/dispatch/Queue.h"

namespace {

using attribution_test::RecordingEngine;

class AdReportersTest : public attribution_test::AdReportingTest {
 protected:
  void SetUp() override {
    AdReportingTest::SetUp();
    config_ = openPersistedConfig(clock_);
    ASSERT_TRUE(config_);

    GWLAdExposureReporter::Dependencies exposure;
    exposure.clock = clock_;
    exposure.monitor = monitor_;
    exposure.engine = [engine = engine_] { return engine; };
    exposure.notificationCenter = platform::NotificationCenter::create();
    exposure.isAppActive = [] { return true; };
    exposure.valueLimits = [] { return GWLValueLimits{}; };
    GWLAdReporters::Dependencies dependencies;
    dependencies.adExposureReporter = GWLAdExposureReporter::create(exposure);
    dependencies.searchAds.clock = clock_;
    dependencies.searchAds.monitor = monitor_;
    dependencies.searchAds.engine = exposure.engine;
    dependencies.searchAds.hasAdServices = [] { return true; };
    dependencies.searchAds.isSimulator = [] { return false; };
    dependencies.searchAds.attributionToken = [this](platform::Error* error) -> std::optional<std::string> {
      ++tokenCalls_;
      platform::setError(error, platform::Error("test", 1, "no token"));
      return std::nullopt;
    };
    exposureReporter_ = dependencies.adExposureReporter;
    GWLInstalledHook<GWLAdReportingHooks>::install(std::make_shared<GWLAdReporters>(dependencies));
  }
  void TearDown() override {
    queue_->sync([] { GWLInstalledHook<GWLAdReportingHooks>::resetForTesting(); });
    queue_->flush();
    AdReportingTest::TearDown();
  }

  std::shared_ptr<GWLAdReportingHooks> hooks() { return GWLInstalledHook<GWLAdReportingHooks>::get(); }
  GWLAdReporters& reporters() { return static_cast<GWLAdReporters&>(*hooks()); }
  void advance(double seconds) {
    clock_->advance(seconds);
    queue_->flush();
  }

  foundation_test::DataDirectory data_;
  std::shared_ptr<platform::ManualClock> clock_ = std::make_shared<platform::ManualClock>();
  std::shared_ptr<platform::SerialQueue> queue_ = platform::SerialQueue::create("test.worker");
  std::shared_ptr<RecordingEngine> engine_ = std::make_shared<RecordingEngine>();
  std::shared_ptr<GWLPersistedConfig> config_;
  std::shared_ptr<GWLAdExposureReporter> exposureReporter_;
  std::atomic<int> tokenCalls_{0};
};

TEST_F(AdReportersTest, ScreenCallsReachTheExposureReporter) {
  auto menu = std::make_shared<GWLScreen>("Menu", "MenuVC", 3);
  exposureReporter_->beginAdUnitExposure("banner");
  clock_->advance(2);
  hooks()->handleScreenDidChangeFromScreen(menu, nullptr);
  auto events = engine_->takeEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].parameters.at("_sn"), *GWLValue::initWithString("Menu"));
  clock_->advance(1000);
  hooks()->handleAppDidBecomeActive();
  clock_->advance(1.5);
  hooks()->handleAppWillResignActiveWithScreen(menu);
  events = engine_->takeEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1].parameters.at("_xt"), GWLValue::initWithInt64(1500));
}

TEST_F(AdReportersTest, StartMakesEnablesAndStartsTheSearchAdReporter) {
  queue_->sync([&] { hooks()->startSearchAdReporter(queue_, config_); });
  ASSERT_TRUE(reporters().searchAdReporter());
  EXPECT_TRUE(reporters().searchAdReporter()->isSearchAdReporterEnabled());
  advance(0);
  EXPECT_EQ(tokenCalls_.load(), 1);

  queue_->sync([&] { hooks()->setSearchAdReporterEnabled(false); });
  EXPECT_FALSE(reporters().searchAdReporter()->isSearchAdReporterEnabled());
  advance(86400);
  EXPECT_EQ(tokenCalls_.load(), 1);

  // Once a campaign value is stored, a later start makes no reporter and the
  // one it replaces stops.
  queue_->sync([&] { hooks()->setSearchAdReporterEnabled(true); });
  config_->setSearchAdCampaignValue(platform::Object(false));
  queue_->sync([&] { hooks()->startSearchAdReporter(queue_, config_); });
  EXPECT_FALSE(reporters().searchAdReporter());
  queue_->sync([&] { hooks()->setSearchAdReporterEnabled(true); });  // nothing to switch
  advance(2 * 86400);
  EXPECT_EQ(tokenCalls_.load(), 1);
}

}  // namespace
