// The attribution scenarios end to end: each one reaches the library the way
// an app, an ad library or the platform does (the public calls, the app
// delegate proxy, the store and the ad platform's stand-ins), the collection
// service answers the attribution routes from the scenario, and the test reads
// what arrived in the batches the service recorded. The harness's teardown
// checks every request the service saw for the user's e-mail address.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "absl/strings/escaping.h"
#include "analytics/attribution/CVNAAdExposureReporter.h"
#include "analytics/attribution/GWLMeasurementDeepLinks.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/measurement/CVNAnalytics.h"
#include "analytics/wire/GWLPBAdCampaignInfo.h"
#include "analytics/wire/GWLPBEvent.h"
#include "analytics/wire/GWLPBMeasurementBundle.h"
#include "analytics/wire/GWLPBMeasurementConfig.h"
#include "analytics/wire/GWLPBOnDeviceMeasurementInfo.h"
#include "analytics/wire/GWLPBOnDeviceMeasurementValue.h"
#include "analytics/wire/GWLPBSetting.h"
#include "e2e/E2EHarness.h"
#include "platform/adservices/AAAttribution.h"
#include "platform/adsupport/AdvertisingServices.h"
#include "platform/appdelegate/HVUAppDelegateSwizzler.h"
#include "platform/dispatch/Queue.h"
#include "platform/storekit/Store.h"

namespace e2e {
namespace {

using WallClock = std::chrono::steady_clock;

// The user's address as the app hands it over, and as the client normalises it.
constexpr const char* kGivenEmail = "Ana.Lima@Example.com";
constexpr const char* kNormalisedEmail = "ana.lima@example.com";

std::shared_ptr<GWLPBMeasurementConfig> configWithSettings(
    const std::vector<std::pair<std::string, std::string>>& settings) {
  auto config = GWLPBMeasurementConfig::initWithMessageInfo();
  std::vector<std::shared_ptr<GWLPBSetting>> made;
  for (const auto& [name, value] : settings) {
    auto setting = GWLPBSetting::initWithMessageInfo();
    setting->setSettingName(name);
    setting->setSettingValue(value);
    made.push_back(setting);
  }
  config->setSettings(made);
  return config;
}

std::string webSafeBase64(const std::string& text) {
  std::string encoded;
  absl::WebSafeBase64Escape(text, &encoded);
  return encoded;
}

// How many uploaded events have that name.
size_t countOf(const std::vector<RecordedBatch>& batches, const std::string& name) {
  const auto names = eventNames(batches);
  return static_cast<size_t>(std::count(names.begin(), names.end(), name));
}

// The event's parameters of the names `expected` holds, as `parameter` gives
// them ("none" for one it lacks).
std::map<std::string, std::string> parametersOf(const std::optional<LoggedEvent>& logged,
                                                const std::map<std::string, std::string>& expected) {
  std::map<std::string, std::string> found;
  for (const auto& entry : expected) found[entry.first] = logged ? parameter(logged->event, entry.first) : "no event";
  return found;
}

std::string valueOf(const std::shared_ptr<GWLPBOnDeviceMeasurementValue>& value) {
  return value ? value->value().value_or("(no text)") : "(none)";
}

class AttributionScenarios : public E2ETest {
 protected:
  // The one "_cmp" of a campaign found as the engine starts (it may come with
  // the start's own uploads): it has the `expected` parameters.
  void expectOneStartCampaign(const std::map<std::string, std::string>& expected) {
    if (!eventNamed(allBatches(), "_cmp")) (void)waitForEvent("_cmp");
    const auto recorded = allBatches();
    const auto campaign = eventNamed(recorded, "_cmp");
    ASSERT_TRUE(campaign) << describeEvents(recorded);
    EXPECT_EQ(parametersOf(campaign, expected), expected);
    EXPECT_EQ(countOf(recorded, "_cmp"), 1u);
  }

  // Waits (for the service's answers, at most 20 s) until the service has
  // been asked a request whose line starts with `prefix`.
  bool waitForRequest(const std::string& prefix) {
    const auto deadline = WallClock::now() + std::chrono::seconds(20);
    while (WallClock::now() < deadline) {
      for (const auto& line : requestLines()) {
        if (line.rfind(prefix, 0) == 0) return true;
      }
      (void)settle();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ADD_FAILURE() << "no request " << prefix << "; requests: " << ::testing::PrintToString(requestLines());
    return false;
  }

  // Waits (for the service's answers, at most 20 s, the clock standing) until
  // the library holds the user property `name`, asking it as a sibling
  // library does.
  bool waitForInternalProperty(const std::string& name) {
    const auto deadline = WallClock::now() + std::chrono::seconds(20);
    while (WallClock::now() < deadline) {
      auto answer = std::make_shared<std::optional<platform::Dictionary>>();
      CVNAnalytics::userPropertiesIncludingInternal(
          true, platform::MainQueue::shared(), [answer](const platform::Dictionary& properties) { *answer = properties; });
      for (int round = 0; round < 100 && !*answer; ++round) (void)settle();
      if (*answer && (*answer)->count(name)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ADD_FAILURE() << "the library holds no user property " << name;
    return false;
  }
};

// ---------------------------------------------------------------------------
// On-device conversion measurement

TEST_F(AttributionScenarios, EmailUserDataGivesTheMembershipValueItsGroupAndTheConversionServicesValue) {
  Scenario scenario;
  scenario.config = configWithSettings({{kGWLSettingAdsOnDeviceConversionFeatureEnabled, "1"}});
  scenario.attribution = std::string(R"({"app_id": ")") + kBundleID + R"(", "bundle_id": ")" + kBundleID + R"(",
      "psm": {"members": [{"identifier": ")" + kNormalisedEmail + R"(", "value": "v-1"}]},
      "group_ids": {"members": [{"identifier": ")" + kNormalisedEmail + R"(", "value": "group-7"}]},
      "odm": {
        "config": {"matching_id": "bWF0Y2gtMQ", "bucketed_date": "2024-05-01", "prefix_length": 12},
        "entries": [{"value": "mv-b", "order_key": 5, "kind": 1, "group": "g1"}],
        "validate": {"values": ["mv-b"], "answer": {"mv_vexa": "vexa-1", "mv_aaps": "aaps-1"}}}})";
  scenario.emailAddresses = {kGivenEmail, kNormalisedEmail};
  ASSERT_NO_FATAL_FAILURE(start(scenario));

  CVNAnalytics::initiateOnDeviceConversionMeasurementWithEmailAddress(std::string(kGivenEmail));
  // The library holds the calls after user data for a moment of its clock.
  advance(kGWLAnalyticsUserDataPause);
  // One "_fx" for the address's match, one for the value the conversion
  // service measured (over its own requests) once the configuration switched it on.
  // The latter may already have come with the start's uploads.
  ASSERT_TRUE(waitForInternalProperty("_psmvalue_vrts"));
  const size_t withTheStart = countOf(allBatches(), "_fx") - countOf(batches(), "_fx");
  ASSERT_LE(withTheStart, 1u);
  (void)waitForEvent("_fx", 2 - withTheStart);
  auto recorded = allBatches();
  std::map<std::string, LoggedEvent> matches;
  for (const auto& logged : eventsIn(recorded)) {
    if (logged.event->name() == "_fx") matches.emplace(parameter(logged.event, "_fxs"), logged);
  }
  ASSERT_EQ(matches.size(), 2u) << describeEvents(recorded);
  ASSERT_TRUE(matches.count("text psm") && matches.count("text psm_vrts")) << describeEvents(recorded);
  const LoggedEvent& match = matches.at("text psm");
  EXPECT_EQ(userProperty(match.bundle, "_psmvalue"), "text " + webSafeBase64("v-1"));
  ASSERT_TRUE(match.bundle->onDeviceMeasurementInfo());
  EXPECT_EQ(valueOf(match.bundle->onDeviceMeasurementInfo()->odm1Value()), webSafeBase64("v-1"));
  EXPECT_EQ(userProperty(matches.at("text psm_vrts").bundle, "_psmvalue_vrts"), "text vexa-1");
  // The ads library's conversion service is linked (the library's own membership client is not).
  EXPECT_EQ(match.bundle->onDeviceConversionFlags() & 0b1010, 0b1000);

  // The match starts the day's group query; an event logged once its answer
  // is in carries all three values in one info.
  ASSERT_TRUE(waitForRequest("POST /muf/psm/groupids"));
  std::shared_ptr<GWLPBOnDeviceMeasurementInfo> info;
  for (int probe = 0; probe < 10 && !(info && info->hasOdm1GroupId()); ++probe) {
    const std::string name = "after_match_" + std::to_string(probe);
    CVNAnalytics::logEventWithName(name, std::nullopt);
    recorded = waitForEvent(name);
    const auto after = eventNamed(recorded, name);
    ASSERT_TRUE(after);
    info = after->bundle->onDeviceMeasurementInfo();
  }
  ASSERT_TRUE(info);
  EXPECT_EQ(valueOf(info->odm1Value()), webSafeBase64("v-1"));
  EXPECT_EQ(valueOf(info->odm1GroupId()), webSafeBase64("group-7"));
  EXPECT_EQ(valueOf(info->odm2Value()), "vexa-1");
  EXPECT_EQ(countOf(allBatches(), "_fx"), 2u) << "one match each, never again";
}

// ---------------------------------------------------------------------------
// Ad-network conversion values

TEST_F(AttributionScenarios, AConversionValueTheServiceOffersAfterAnUploadIsLoggedAsSkan) {
  // The answer's times: valid for two days, its event after everything uploaded so far.
  const int64_t nowMillis = static_cast<int64_t>(platform::Clock::system()->now() * 1000);
  const int64_t eventMillis = nowMillis + 3'600'000;
  Scenario scenario;
  scenario.config = configWithSettings({{kGWLSettingSKANUpdateConversionValueEnabled, "1"},
                                        {kGWLSettingSKANFirstWindowCVFetchDelay, "20"}});
  scenario.attribution = R"({"skan": {"answers": [{"response": {"result_status": 1, "skanm_value": "m-1",
      "fine_value": 12, "coarse_value": 2, "lock_window": true, "result_time": )" +
                         std::to_string(nowMillis + 2 * 86'400'000) + R"(, "event_time": )" +
                         std::to_string(eventMillis) + R"(, "update_backoff": 5000}}]}})";
  // The start's upload arms the fetch; it asks after its delay.
  ASSERT_NO_FATAL_FAILURE(start(scenario));
  const auto recorded = waitForEvent("_skan");
  const auto skan = eventNamed(recorded, "_skan");
  ASSERT_TRUE(skan);
  const std::map<std::string, std::string> expected = {
      {"_skanm", "text m-1"},
      {"_skanf", "int 12"},
      {"_skanc", "int 2"},
      {"_skanl", "int 1"},
      {"_skane", "int " + std::to_string(eventMillis)}};
  EXPECT_EQ(parametersOf(skan, expected), expected);
  EXPECT_EQ(countOf(recorded, "_skan"), 1u);
  const auto [status, requests] = serviceRequest("GET", "/control/skan/requests");
  EXPECT_EQ(status, 200);
  EXPECT_NE(requests.find("\"skan_version\":\"4.0\""), std::string::npos) << requests;
}

// ---------------------------------------------------------------------------
// Campaigns

TEST_F(AttributionScenarios, AURLOpenedThroughTheAppDelegateGivesACampaignAndItsAdClickInfo) {
  ASSERT_NO_FATAL_FAILURE(start());
  const double opened = clock().now();
  // The click identifier needs an advertising identifier or tracking
  // consent, which this device has neither of; "hbraid" needs neither.
  (void)platform::HVUAppDelegateSwizzler::sharedInstance()->openURL(
      "tabulo://open?utm_source=news&utm_medium=email&utm_campaign=spring&hclid=hc-1&hbraid=hb-1");
  const auto recorded = waitForEvent("_cmp");
  const auto campaign = eventNamed(recorded, "_cmp");
  ASSERT_TRUE(campaign);
  const std::map<std::string, std::string> expected = {
      {"source", "text news"},
      {"medium", "text email"},
      {"campaign", "text spring"},
      {"hbraid", "text hb-1"},
      {"hclid", "none"}};
  EXPECT_EQ(parametersOf(campaign, expected), expected);
  const auto info = campaign->bundle->adCampaignInfo();
  ASSERT_TRUE(info);
  EXPECT_EQ(info->hbraid(), "hb-1");
  EXPECT_FALSE(info->hasHclid());
  EXPECT_EQ(info->campaignTimestamp(), static_cast<int64_t>(opened * 1000));
}

// The first start looks the install's deferred deep link up with the
// advertising identifier, which the device's identifier service answers once
// the user allowed tracking; the link the service knows becomes the install's
// campaign, with its click.
TEST_F(AttributionScenarios, ADeferredDeepLinkGivesTheInstallsCampaignAndItsAdClickInfo) {
  const platform::AdvertisingServicesResetOnExit reset;
  const std::string identifier = "6D9D2D1C-0B1E-4F5A-9C3D-1A2B3C4D5E6F";
  platform::ASIdentifierManager::setAnswers({identifier, true});
  platform::ATTrackingManager::setTrackingAuthorizationStatus(platform::ATTrackingAuthorizationStatus::Authorized);
  // The app opens the links it is handed.
  struct LinkOpeningApp : platform::ApplicationDelegate {
    std::mutex mutex;
    std::vector<std::string> opened;
    bool openURL(const std::string& url, const platform::Dictionary&) override {
      std::lock_guard lock(mutex);
      opened.push_back(url);
      return true;
    }
  };
  auto app = std::make_shared<LinkOpeningApp>();
  platform::HVUAppDelegateSwizzler::sharedInstance()->setAppDelegate(app);
  Scenario scenario;
  scenario.info = {{kGWLDeferredDeepLinkEnabledInfoKey, true}};
  scenario.components = {platform::kASIdentifierManagerComponentName, platform::kATTrackingManagerComponentName};
  scenario.attribution = R"({"deeplink": {"answer": {"deeplink": "tabulo://open?utm_source=ads&utm_campaign=launch",
      "hclid": "hc-1", "hbraid": "hb-1", "timestamp": 1699990000}}})";
  ASSERT_NO_FATAL_FAILURE(start(scenario));

  ASSERT_NO_FATAL_FAILURE(expectOneStartCampaign({{"_cis", "text ddp"},
                                                  {"source", "text ads"},
                                                  {"campaign", "text launch"},
                                                  {"hclid", "text hc-1"},
                                                  {"hbraid", "text hb-1"}}));
  size_t lookups = 0;
  for (const auto& line : requestLines()) {
    if (line.find(kGWLDeferredDeepLinkPath) == std::string::npos) continue;
    ++lookups;
    EXPECT_NE(line.find("rdid=" + identifier), std::string::npos) << line;
  }
  EXPECT_EQ(lookups, 1u);
  std::lock_guard lock(app->mutex);
  EXPECT_EQ(app->opened, std::vector<std::string>{"tabulo://open?utm_source=ads&utm_campaign=launch"});
}

TEST_F(AttributionScenarios, ASearchAdsInstallGivesOneCampaign) {
  Scenario scenario;
  scenario.attribution = R"({"search_ads": {"answer": {"attribution": true, "campaignId": 1234, "keywordId": 77}}})";
  // The app links the ad platform's attribution framework, which has a token for it.
  scenario.components = {platform::kAAAttributionComponentName};
  platform::AAAttribution::setAnswerForTesting("token-e2e");
  ASSERT_NO_FATAL_FAILURE(start(scenario));

  // The reporter asks as the engine starts.
  ASSERT_NO_FATAL_FAILURE(expectOneStartCampaign(
      {{"source", "text Apple"}, {"medium", "text search"}, {"campaign", "text 1234"}, {"term", "text 77"}}));
  size_t tokens = 0;
  for (const auto& request : captured()) {
    if (request.requestLine.rfind("POST /api/v1/ ", 0) == 0) {
      ++tokens;
      EXPECT_EQ(request.body, "token-e2e");
    }
  }
  EXPECT_EQ(tokens, 1u);
}

// ---------------------------------------------------------------------------
// Purchases

TEST_F(AttributionScenarios, AStorePurchaseGivesAPurchaseEventAndItsCurrencysLifetimeValue) {
  ASSERT_NO_FATAL_FAILURE(start());
  // The store the app buys from, reporting on the device's payment queue.
  platform::Store::Configuration configuration;
  configuration.directory = (root() / "data" / "StoreKit").string();
  configuration.originalApplicationVersion = "1.0.0";
  configuration.clock = platform::Clock::system();
  platform::Error error;
  auto store = platform::Store::create(configuration, &error);
  ASSERT_TRUE(store) << error.toString();
  store->setProducts({{.productIdentifier = "coins", .price = "0.99", .currencyCode = "USD", .localizedTitle = "Coins",
                       .introductoryPrice = std::nullopt, .type = platform::ProductType::Consumable}});
  platform::Store::setShared(store);

  platform::Store::PurchaseRequest request;
  request.productIdentifier = "coins";
  request.quantity = 3;
  ASSERT_TRUE(store->purchase(request, &error)) << error.toString();
  const auto recorded = waitForEvent("_iap");
  const auto purchase = eventNamed(recorded, "_iap");
  ASSERT_TRUE(purchase);
  const std::map<std::string, std::string> expected = {
      {"price", "int 990000"},
      {"value", "int 2970000"},
      {"currency", "text USD"},
      {"quantity", "int 3"}};
  EXPECT_EQ(parametersOf(purchase, expected), expected);
  EXPECT_EQ(userProperty(purchase->bundle, "_ltv_USD"), "int 2970000");
  EXPECT_EQ(countOf(recorded, "_iap"), 1u);
  platform::Store::setShared(nullptr);
}

// ---------------------------------------------------------------------------
// Ad exposure

TEST_F(AttributionScenarios, AdExposureGivesTheAdUnitsAndTheTotalExposureTime) {
  ASSERT_NO_FATAL_FAILURE(start());
  // An ad library's reporter on the app's time.
  GWLAdExposureReporter::Dependencies dependencies;
  dependencies.clock = std::shared_ptr<platform::Clock>(std::shared_ptr<void>(), &clock());  // the fixture outlives it
  auto exposure = GWLAdExposureReporter::create<CVNAAdExposureReporter>(dependencies);
  exposure->beginAdUnitExposure("banner-1");
  advance(2);
  exposure->beginAdUnitExposure("banner-2");
  advance(3);
  exposure->endAdUnitExposure("banner-1");
  exposure->endAdUnitExposure("banner-2");

  const auto recorded = waitForEvent("_xa");
  std::map<std::string, std::string> units;
  for (const auto& logged : eventsIn(recorded)) {
    if (logged.event->name() == "_xu") units[parameter(logged.event, "_ai")] = parameter(logged.event, "_xt");
  }
  EXPECT_EQ(units, (std::map<std::string, std::string>{{"text banner-1", "int 5000"}, {"text banner-2", "int 3000"}}));
  const auto total = eventNamed(recorded, "_xa");
  ASSERT_TRUE(total);
  EXPECT_EQ(parameter(total->event, "_xt"), "int 5000");
  EXPECT_EQ(countOf(recorded, "_xa"), 1u);
}

}  // namespace
}  // namespace e2e
