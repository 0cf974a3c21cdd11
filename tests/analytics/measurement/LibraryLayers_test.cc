// The library's load call installs the attribution and audience layers
// behind the engine's seams, and a real engine over a real database reaches
// them: purchases add to their lifetime value, opened and launch URLs become
// campaign events, bundles carry audience results, conditional user
// properties of sibling libraries fire on their trigger, configuration
// programs edit events, the first postback window shortens the upload
// interval, the search-ads reporter is made at start, and the screen
// reporter's calls reach the ad exposure reporter.
#include <gtest/gtest.h>

#include "../audiences/AudienceFiltersTestSupport.h"
#include "../audiences/interpreter/EditingPrograms.h"
#include "PipelineTestSupport.h"
#include "analytics/attribution/GWLAdExposureReporter.h"
#include "analytics/attribution/GWLAdReporters.h"
#include "analytics/attribution/GWLMeasurementDeepLinks.h"
#include "analytics/attribution/GWLMeasurementSKAdNetwork.h"
#include "analytics/attribution/GWLPurchaseMeasurement.h"
#include "analytics/audiences/GWLAudience.h"
#include "analytics/foundation/config/GWLAdReportingHooks.h"
#include "analytics/foundation/config/GWLDeepLinkHooks.h"
#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/config/GWLSKAdNetworkHooks.h"
#include "analytics/foundation/values/GWLUserAttribute.h"
#include "analytics/measurement/CVNAnalyticsConnector.h"
#include "analytics/measurement/GWLLibraryLoad.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/measurement/GWLScreenViewReporter.h"
#include "analytics/wire/GWLPBAudienceLeafFilterResult.h"
#include "analytics/wire/GWLPBResultData.h"
#include "platform/appdelegate/LaunchOptions.h"
#include "platform/dispatch/NotificationCenter.h"

namespace measurement_test {
namespace {

using namespace script;
using namespace editing_test;

class LibraryLayersTest : public PipelineTest {
 protected:
  void SetUp() override {
    PipelineTest::SetUp();
    GWLLibraryLoadResetForTesting();
    GWLLibraryLoad(clock_);
    startShared();
  }
  void TearDown() override {
    PipelineTest::TearDown();
    GWLLibraryLoadResetForTesting();
  }


  std::shared_ptr<GWLUserAttribute> userProperty(const std::string& name) {
    std::shared_ptr<GWLUserAttribute> found;
    onWorker([&] { found = pipeline->database()->userAttributeWithName(name); });
    return found;
  }

  std::shared_ptr<GWLEvent> storedEvent(const std::string& name) {
    for (const auto& event : stored()) {
      if (event->name() == name) return event;
    }
    return nullptr;
  }

  static std::optional<std::string> text(const GWLEvent& event, const std::string& name) {
    auto found = event.parameters().find(name);
    if (found == event.parameters().end() || !found->second.stringValue()) return std::nullopt;
    return *found->second.stringValue();
  }
};

TEST_F(LibraryLayersTest, TheLoadCallInstallsEachLayersImplementationOnce) {
  const auto deepLinks = GWLInstalledHook<GWLDeepLinkHooks>::get();
  EXPECT_TRUE(std::dynamic_pointer_cast<GWLMeasurementDeepLinks>(deepLinks));
  EXPECT_TRUE(std::dynamic_pointer_cast<GWLMeasurementSKAdNetwork>(GWLInstalledHook<GWLSKAdNetworkHooks>::get()));
  EXPECT_TRUE(std::dynamic_pointer_cast<GWLPurchaseMeasurement>(GWLInstalledHook<GWLPurchaseHooks>::get()));
  EXPECT_TRUE(std::dynamic_pointer_cast<GWLAdReporters>(GWLInstalledHook<GWLAdReportingHooks>::get()));
  EXPECT_TRUE(std::dynamic_pointer_cast<GWLAudience::Maker>(GWLInstalledHook<GWLAudienceEvaluatorMaker>::get()));
  EXPECT_TRUE(std::dynamic_pointer_cast<GWLAudience>(pipeline->audience())) << "the engine's evaluator";

  GWLLibraryLoad(clock_);  // a second call changes nothing
  EXPECT_EQ(GWLInstalledHook<GWLDeepLinkHooks>::get(), deepLinks);

  GWLLibraryLoadResetForTesting();
  EXPECT_FALSE(GWLInstalledHook<GWLDeepLinkHooks>::isInstalled());
  EXPECT_FALSE(GWLInstalledHook<GWLSKAdNetworkHooks>::isInstalled());
  EXPECT_FALSE(GWLInstalledHook<GWLPurchaseHooks>::isInstalled());
  EXPECT_FALSE(GWLInstalledHook<GWLAdReportingHooks>::isInstalled());
  EXPECT_FALSE(GWLInstalledHook<GWLAudienceEvaluatorMaker>::isInstalled());
}

TEST_F(LibraryLayersTest, PurchaseEventsAddToTheirCurrencysLifetimeValue) {
  handle(event("purchase", {{"currency", "usd"}, {"value", 9.99}}));
  handle(event("refund", {{"currency", "usd"}, {"value", int64_t{2}}}));
  auto lifetime = userProperty("_ltv_USD");
  ASSERT_TRUE(lifetime);
  EXPECT_EQ(lifetime->value(), GWLValue::initWithInt64(7'990'000));
  EXPECT_EQ(storedNames(), (std::vector<std::string>{"purchase", "refund"}));
}

TEST_F(LibraryLayersTest, AnOpenedURLBecomesACampaignEvent) {
  analytics_->queue()->sync([&] {
    pipeline->handleNonFirstOpenEventURL("tabulo://open?utm_source=news&utm_medium=email&utm_campaign=spring",
                                         clock_->now(), std::nullopt);
  });
  drain();
  auto campaign = storedEvent("_cmp");
  ASSERT_TRUE(campaign) << "stored: " << ::testing::PrintToString(storedNames());
  EXPECT_EQ(text(*campaign, "source"), "news");
  EXPECT_EQ(text(*campaign, "medium"), "email");
  EXPECT_EQ(text(*campaign, "campaign"), "spring");
}

TEST_F(LibraryLayersTest, TheLaunchURLIsReportedByTheNextStart) {
  const platform::Dictionary options{{platform::kLaunchOptionsURLKey, "tabulo://open?utm_source=launch&utm_medium=cpc"}};
  platform::NotificationCenter::defaultCenter()->post(platform::kApplicationDidFinishLaunchingNotification, options);
  EXPECT_TRUE(GWLInstalledHook<GWLDeepLinkHooks>::get()->hasStoredDeepLink());
  startShared();
  auto campaign = storedEvent("_cmp");
  ASSERT_TRUE(campaign) << "stored: " << ::testing::PrintToString(storedNames());
  EXPECT_EQ(text(*campaign, "source"), "launch");
  EXPECT_FALSE(GWLInstalledHook<GWLDeepLinkHooks>::get()->hasStoredDeepLink()) << "reported once";
}

TEST_F(LibraryLayersTest, BundlesCarryTheResultsOfTheStoredAudiences) {
  using namespace audience_test;
  onWorker([&] {
    ASSERT_TRUE(pipeline->database()->performTransaction([&] {
      return pipeline->audience()->updateAudiences(
          {audience(3, {eventFilter(0, "level_up")}), audience(4, {eventFilter(0, "never_logged")})});
    }));
  });
  handle(event("level_up"));
  onWorker([&] { (void)pipeline->bundleRawEvents(); });
  std::vector<std::shared_ptr<GWLPBAudienceLeafFilterResult>> results;
  onWorker([&] {
    auto queued = pipeline->database()->queryBundlesWithCountLimit(10, std::numeric_limits<int32_t>::max());
    ASSERT_TRUE(queued && queued->size() == 1u);
    results = queued->front().bundle->audienceEvaluationResults();
  });
  // Audience 4 was never evaluated: it has no results yet.
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0]->audienceId(), 3);
  EXPECT_EQ(results[0]->currentResults()->results(), std::vector<uint64_t>{1});
}

TEST_F(LibraryLayersTest, AConditionalPropertyFromASiblingLibraryTakesEffectWithItsTrigger) {
  CVNAnalyticsConnector::Dependencies dependencies;
  dependencies.clock = clock_;
  auto connector = CVNAnalyticsConnector::create(dependencies);  // over the controller's shared instance
  connector->setConditionalUserProperty(platform::Dictionary{
      {"name", "tier"},
      {"origin", "cvm"},
      {"value", "gold"},
      {"triggerEventName", "level_up"},
      {"triggerTimeout", 60},
      {"timeToLive", 3600},
      {"triggeredEvent", platform::Dictionary{{"origin", "cvm"}, {"name", "tier_set"}}},
  });
  drain();
  EXPECT_FALSE(userProperty("tier")) << "waits for its trigger";
  handle(event("level_up"));
  auto tier = userProperty("tier");
  ASSERT_TRUE(tier);
  EXPECT_EQ(tier->value(), *GWLValue::initWithString("gold"));
  EXPECT_EQ(storedNames(), (std::vector<std::string>{"level_up", "tier_set"}));
}

TEST_F(LibraryLayersTest, TheConfigurationsProgramEditsLoggedEvents) {
  auto configure = [&](const std::vector<GWLPProgram>& programs) {
    auto config = GWLPBMeasurementConfig::initWithMessageInfo();
    NANOSetString(config, GWLPBMeasurementConfig::Field::app_id, std::string("1:123:ios:abc"));
    std::vector<NANOValue> messages;
    for (const auto& program : programs) messages.emplace_back(std::shared_ptr<NANOMessageBase>(MessageOf(program)));
    NANOSetArray(config, GWLPBMeasurementConfig::Field::dynamic_event_editing, messages);
    onWorker([&] { ASSERT_TRUE(pipeline->engineRemoteConfig()->updateMeasurementConfig(config)); });
    reports();
  };
  auto editedParameter = [&](const std::string& name) -> std::optional<GWLValue> {
    auto found = storedEvent(name);
    if (!found || !found->parameters().contains("edited")) return std::nullopt;
    return found->parameters().at("edited");
  };

  configure({Program(
      {Entry("edit", std::nullopt, {E("setParamValue", {S("edited"), N(1)}), Ret(N(0))}),
       Entry("create", std::nullopt,
             {Let("log", Require("internal.eventLogger")), Invoke("log", {S("made"), N(clock_->now()), Obj({})})})})});
  handle(event("open"));
  EXPECT_EQ(storedNames(), (std::vector<std::string>{"open", "made"}));
  EXPECT_EQ(editedParameter("open"), GWLValue::initWithDouble(1));

  // A rule that fails keeps the event as it was logged.
  configure({Program({Entry("edit", std::nullopt, {E("setParamValue", {S("edited"), N(2)}), Ret(N(0))}),
                      Entry("edit", std::nullopt, {E("setEventName")})})});
  handle(event("second"));
  EXPECT_EQ(editedParameter("second"), std::nullopt);
  EXPECT_EQ(codeCounts()[23223], 1);

  // The server withdrew the program: events are stored as logged.
  configure({});
  EXPECT_FALSE(pipeline->engineRemoteConfig()->eventEditing());
  handle(event("third"));
  EXPECT_EQ(storedNames(), (std::vector<std::string>{"open", "made", "second", "third"}));
}

// The window is measured on the clock the library was loaded with, the
// engine's (years away from the system clock's time here).
TEST_F(LibraryLayersTest, TheFirstPostbackWindowShortensTheUploadInterval) {
  pipeline->engineRemoteConfig()->replaceCachedValues({{kGWLSettingSKANUpdateConversionValueEnabled, "1"}});
  handle(event("open"));
  settings_->setLastSuccessfulUploadTimestamp(clock_->now() - 10);
  const int64_t nowMillis = static_cast<int64_t>(clock_->now() * 1000);
  auto nextUploadWithFirstOpen = [&](int64_t firstOpenMillis) {
    settings_->setFirstOpenTimestampMilliseconds(firstOpenMillis);
    double next = 0;
    onWorker([&] { next = pipeline->nextUploadingTime(); });
    return next;
  };
  const double inWindow = nextUploadWithFirstOpen(nowMillis - 86'400'000);
  const double afterWindow = nextUploadWithFirstOpen(nowMillis - 3 * 86'400'000);
  EXPECT_EQ(afterWindow - inWindow, 3600 - 1800);
}

// The conversion values are POSTed to the engine's upload host; an engine
// that answered none would never fetch them.
TEST_F(LibraryLayersTest, TheEngineAnswersItsUploadHostToTheLayers) {
  hosts = std::nullopt;  // an engine given no hosts answers the process's, the built-in ones here
  startShared();
  const GWLMeasurementEngineCalls& calls = *pipeline;
  ASSERT_TRUE(calls.uploadHost());
  EXPECT_EQ(calls.uploadHost()->origin(), GWLServiceHosts::builtIn().upload.origin());
  hosts = GWLServiceHosts::local("http", "127.0.0.1", 8080);
  startShared();
  const GWLMeasurementEngineCalls& local = *pipeline;
  ASSERT_TRUE(local.uploadHost());
  EXPECT_EQ(local.uploadHost()->origin(), "http://127.0.0.1:8080");
}

TEST_F(LibraryLayersTest, TheStartMakesTheSearchAdsReporter) {
  // The app environment of these tests has no attribution framework: the
  // reporter made at start says so and schedules nothing.
  startShared();
  auto printed = codes();
  EXPECT_NE(std::find(printed.begin(), printed.end(), 32014), printed.end());
}

TEST_F(LibraryLayersTest, TheScreenReporterTellsTheAdExposureReporter) {
  // The process's exposure reporter with reporting off: the cut it makes when
  // the app resigns active says so in the health sample.
  auto exposures = GWLAdExposureReporter::sharedInstance();
  exposures->setReportingEnabled(false);
  exposures->beginAdUnitExposure("banner");
  GWLScreenViewReporter::Dependencies dependencies;
  dependencies.monitor = monitor_;
  dependencies.notifications = center_;
  dependencies.isMainThread = [] { return true; };
  auto screens = GWLScreenViewReporter::create(std::move(dependencies));
  const std::string before = lastSampledKey();
  center_->post(platform::kApplicationWillResignActiveNotification);
  const std::string after = lastSampledKey();
  exposures->endAdUnitExposure("banner");
  exposures->setReportingEnabled(true);
  const GWLAttributionLogLine& line = kGWLAdExposureReportingDisabled;
  EXPECT_NE(before, after);
  EXPECT_EQ(after, GWLMonitor::monitoringDataKeyWithMessage(line.message, line.level, kGWLLibraryVersion));
}

}  // namespace
}  // namespace measurement_test
