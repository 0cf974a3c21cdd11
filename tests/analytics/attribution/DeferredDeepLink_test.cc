// The deferred deep link: the gate, the lookup's URL, its answers over
// loopback from the local collection service, and the hand-over to the app
// delegate.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "DeepLinksTestSupport.h"
#include "analytics/wire/GWLPBConsentConfig.h"
#include "analytics/wire/GWLPBCorePlatformServiceEntry.h"
#include "analytics/wire/GWLPBMeasurementConfig.h"
#include "platform/appdelegate/HVUAppDelegateSwizzler.h"
#include "tests/platform/TestSupport.h"
#ifdef TABULO_HAS_COLLECTION_SERVICE
#include "tests/tools/CollectionServiceProcess.h"
#include "tests/tools/LoopbackHTTP.h"
#endif

namespace deeplink_test {
namespace {

constexpr const char* kDeviceID = "6D92078A-8246-4BA4-AE5B-76104861E7DC";
constexpr const char* kDeferredDisabledKey = "1W_120500:Deferred Deep Link feature disabled";

Facts withAdvertisingIdentifier() {
  Facts facts;
  facts.resettableDeviceID = kDeviceID;
  facts.limitedAdTracking = false;
  return facts;
}

// A configuration of the test app with the DMA flag and core platform services.
std::shared_ptr<GWLPBMeasurementConfig> consentConfiguration(bool dmaRegion, std::vector<std::string> services) {
  auto consent = GWLPBConsentConfig::initWithMessageInfo();
  consent->setIsDmaRegion(dmaRegion);
  std::vector<std::shared_ptr<GWLPBCorePlatformServiceEntry>> entries;
  for (const auto& name : services) {
    entries.push_back(GWLPBCorePlatformServiceEntry::initWithMessageInfo());
    entries.back()->setServiceName(name);
  }
  consent->setCorePlatformServices(entries);
  auto config = GWLPBMeasurementConfig::initWithMessageInfo();
  config->setAppId(kTestAppID);
  config->setConsentConfig(*consent);
  return config;
}

class DeferredDeepLinkTest : public DeepLinksTest {
 public:
  void SetUp() override {
    DeepLinksTest::SetUp();
    engine_->setFacts(withAdvertisingIdentifier());
    reports();
  }
  bool gate() {
    bool allowed = false;
    engine_->onWorkerQueue([&] { allowed = deepLinks_->shouldAllowRequestDeferredDeepLink(); });
    return allowed;
  }
  std::optional<std::string> lookupURL() {
    std::optional<std::string> url;
    engine_->onWorkerQueue([&] { url = deepLinks_->deferredDeepLinkURL(); });
    return url;
  }
};

TEST_F(DeferredDeepLinkTest, GateAsksInItsOrder) {
  const struct {
    const char* name;
    std::function<void(DeferredDeepLinkTest&)> arrange;
    bool allowed;
    std::vector<int64_t> printed;
    std::string sampled = {};  // the health sample's key afterwards, for the silent level
  } cases[] = {
      {"allowed with an advertising identifier", [](DeferredDeepLinkTest&) {}, true,
       {kGWLDeferredDeepLinkEnabledCode}},
      {"switched off remotely",
       [](DeferredDeepLinkTest& t) { t.engine_->remoteConfig()->replaceCachedValues({{"measurement.ddl.enabled", "0"}}); },
       false, {}, kDeferredDisabledKey},
      {"no Info switch", [](DeferredDeepLinkTest& t) { t.setInfo({}); }, false, {}},
      {"Info switch is text",
       [](DeferredDeepLinkTest& t) { t.setInfo({{kGWLDeferredDeepLinkEnabledInfoKey, "YES"}}); }, false, {}},
      {"Info switch is false",
       [](DeferredDeepLinkTest& t) { t.setInfo({{kGWLDeferredDeepLinkEnabledInfoKey, int64_t{0}}}); }, false, {}},
      {"already retrieved",
       [](DeferredDeepLinkTest& t) { t.persistedConfig_->setDeferredDeepLinkRetrievalComplete(int64_t{0}); }, false,
       {kGWLDeferredDeepLinkAlreadyRetrievedCode}},
      {"retry limit reached",
       [](DeferredDeepLinkTest& t) { t.persistedConfig_->setDeferredDeepLinkRetryCount(5); }, false,
       {kGWLDeferredDeepLinkRetryLimitCode}},
      {"ad storage denied",
       [](DeferredDeepLinkTest& t) {
         Facts facts = withAdvertisingIdentifier();
         facts.isAdStorageDenied = true;
         t.engine_->setFacts(facts);
       },
       false, {kGWLDeferredDeepLinkAdStorageDeniedCode}},
      {"tracking limited",
       [](DeferredDeepLinkTest& t) { t.engine_->setFacts(Facts{}); }, false, {kGWLDeferredDeepLinkNoIDFACode}},
      {"no advertising-identifier service",
       [](DeferredDeepLinkTest& t) {
         Facts facts = withAdvertisingIdentifier();
         facts.hasLimitedAdTracking = false;
         t.engine_->setFacts(facts);
       },
       false, {kGWLDeferredDeepLinkNoIDFACode}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    persistedConfig_->clearValues();
    engine_->remoteConfig()->replaceCachedValues({});
    engine_->setFacts(withAdvertisingIdentifier());
    setInfo({{kGWLDeferredDeepLinkEnabledInfoKey, true}});
    c.arrange(*this);
    reports();
    EXPECT_EQ(gate(), c.allowed);
    EXPECT_EQ(codes(), c.printed);
    if (!c.sampled.empty()) {
      EXPECT_EQ(lastSampledKey(), c.sampled);
    }
  }
}

TEST_F(DeferredDeepLinkTest, RetryLimitCompletesTheLookupForGood) {
  engine_->remoteConfig()->replaceCachedValues({{"measurement.ddl.retry_count", "2"}});
  persistedConfig_->setDeferredDeepLinkRetryCount(1);
  EXPECT_TRUE(gate());
  persistedConfig_->setDeferredDeepLinkRetryCount(2);
  EXPECT_FALSE(gate());
  EXPECT_EQ(persistedConfig_->deferredDeepLinkRetrievalComplete(), platform::Object(int64_t{1}));
  reports();
  EXPECT_FALSE(gate());
  EXPECT_EQ(codes(), std::vector<int64_t>{kGWLDeferredDeepLinkAlreadyRetrievedCode});
}

TEST_F(DeferredDeepLinkTest, LookupURLForAFixedState) {
  persistedConfig_->setDeferredDeepLinkRetryCount(2);
  const std::string base = std::string("https://adconversion.halcyra.com/adconv/app/deeplink?sdk_version=120500&rdid=") +
                           kDeviceID + "&id_type=idfa&bundleid=1:1234:ios:abcd&retry=2";
  EXPECT_EQ(lookupURL(), base + "&dma=1");

  const struct {
    const char* name;
    std::function<void(DeferredDeepLinkTest&, Facts&)> arrange;
    std::string suffix;
  } cases[] = {
      {"debug launch argument",
       [](DeferredDeepLinkTest& t, Facts&) { t.setInfo({}, {"tabulo", "-DebugDeferredDeepLink"}); }, "&ddl_test=1&dma=1"},
      {"debug launch argument in a store build",
       [](DeferredDeepLinkTest& t, Facts&) {
         t.setInfo({}, {"tabulo", "-DebugDeferredDeepLink"});
         t.appStoreInstallation_ = true;
       },
       "&dma=1"},
      {"consent signals", [](DeferredDeepLinkTest&, Facts& f) { f.consentSignals = "G111"; }, "&zcs=G111&dma=1"},
      {"outside the DMA region",
       [](DeferredDeepLinkTest& t, Facts&) {
         t.engine_->remoteConfig()->parseRemoteConfigFromMeasurementConfig(consentConfiguration(false, {"b", "a"}));
       },
       "&dma=0"},
      {"core platform services, sorted and joined",
       [](DeferredDeepLinkTest& t, Facts&) {
         t.engine_->remoteConfig()->parseRemoteConfigFromMeasurementConfig(consentConfiguration(true, {"gw", "az"}));
       },
       "&dma=1&dma_cps=azgw"},
      {"ad user data denied",
       [](DeferredDeepLinkTest& t, Facts& f) {
         t.engine_->remoteConfig()->parseRemoteConfigFromMeasurementConfig(consentConfiguration(true, {"gw"}));
         f.isAdUserDataDenied = true;
       },
       "&dma=1&dma_cps=-"},
      {"ad personalisation on", [](DeferredDeepLinkTest&, Facts& f) { f.adPersonalization = true; }, "&dma=1&npa=0"},
      {"ad personalisation off", [](DeferredDeepLinkTest&, Facts& f) { f.adPersonalization = false; }, "&dma=1&npa=1"},
      {"everything",
       [](DeferredDeepLinkTest& t, Facts& f) {
         t.setInfo({}, {"tabulo", "-DebugDeferredDeepLink"});
         f.consentSignals = "G1--";
         f.adPersonalization = false;
       },
       "&ddl_test=1&zcs=G1--&dma=1&npa=1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    appStoreInstallation_ = false;
    setInfo({});
    engine_->remoteConfig()->parseRemoteConfigFromMeasurementConfig(consentConfiguration(true, {}));
    Facts facts = withAdvertisingIdentifier();
    c.arrange(*this, facts);
    engine_->setFacts(facts);
    EXPECT_EQ(lookupURL(), base + c.suffix);
  }
}

TEST_F(DeferredDeepLinkTest, LookupValuesAreEncodedForTheQuery) {
  Facts facts = withAdvertisingIdentifier();
  facts.resettableDeviceID = "id&retry=9 #x";
  facts.appID = "app/ä";
  facts.consentSignals = "G1&npa=0";
  engine_->setFacts(facts);
  EXPECT_EQ(lookupURL(),
            "https://adconversion.halcyra.com/adconv/app/deeplink?sdk_version=120500&rdid=id%26retry%3D9%20%23x"
            "&id_type=idfa&bundleid=app/%C3%A4&retry=0&zcs=G1%26npa%3D0&dma=1");
}

TEST_F(DeferredDeepLinkTest, AnswerBodies) {
  const struct {
    std::string body;
    bool hasLink;
    std::vector<int64_t> printed;
  } cases[] = {
      {"", false, {kGWLDeferredDeepLinkEmptyResponseCode}},
      {"not json", false, {kGWLDeferredDeepLinkBadJSONCode}},
      {R"(["tabulo://open"])", false, {kGWLDeferredDeepLinkBadJSONCode}},
      {R"({"hclid": "h"})", false, {}},
      {R"({"deeplink": 7})", false, {}},
      {R"({"deeplink": "no url here"})", false, {}},
      {R"({"deeplink": ""})", false, {}},
      {R"({"deeplink": "tabulo://open?utm_source=x", "timestamp": 17})", true, {}},
      {std::string(R"({"deeplink": "tabulo://x", "deep": )") + std::string(5000, '[') + std::string(5000, ']') + "}",
       true, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body.substr(0, 60));
    const std::vector<uint8_t> bytes(c.body.begin(), c.body.end());
    auto info = deepLinks_->deepLinkInfoFromResponseData(bytes);
    EXPECT_EQ(info.has_value(), c.hasLink);
    EXPECT_EQ(codes(), c.printed);
  }
}

TEST_F(DeferredDeepLinkTest, UnformableURLIsNotCounted) {
  GWLServiceHosts hosts = GWLServiceHosts::builtIn();
  hosts.adConversion.host = "bad host";
  deepLinks_ = makeDeepLinks(hosts);
  engine_->onWorkerQueue([&] { deepLinks_->requestDeferredDeepLink(); });
  EXPECT_EQ(codes(), std::vector<int64_t>{kGWLDeferredDeepLinkInvalidURLCode});
  EXPECT_TRUE(engine_->pendingMarks().empty());
  EXPECT_EQ(persistedConfig_->deferredDeepLinkRetryCount(), 0);
  EXPECT_FALSE(persistedConfig_->deferredDeepLinkRetrievalComplete());
}

#ifdef TABULO_HAS_COLLECTION_SERVICE

// The lookup against the local collection service, which answers as its
// scenario says and captures every request.
class DeferredDeepLinkLoopbackTest : public DeferredDeepLinkTest {
 protected:
  void startService(const std::string& scenario) {
    platform::testing::writeFile(directory_ / "scenario.json", scenario);
    std::filesystem::create_directories(directory_ / "capture");
    service_ = std::make_unique<tabulo::test::CollectionServiceProcess>(std::vector<std::string>{
        "--attribution", directory_ / "scenario.json", "--capture", directory_ / "capture"});
    ASSERT_GT(service_->port(), 0);
    deepLinks_ = makeDeepLinks(GWLServiceHosts::local("http", "127.0.0.1", static_cast<uint16_t>(service_->port())));
  }

  // Makes the lookup and waits for its answer on the worker queue (real
  // socket I/O), then runs what it posted to the main queue and the worker queue.
  void lookUp() {
    const size_t before = engine_->pendingMarks().size();
    engine_->onWorkerQueue([&] { deepLinks_->requestDeferredDeepLink(); });
    ASSERT_TRUE(engine_->waitFor([&] { return engine_->pendingMarkCountLocked() >= before + 2; }));
    engine_->flush();
    mainQueue_->drain();
    engine_->flush();
  }

  std::vector<std::string> captured() const { return tabulo::test::capturedRequests(directory_ / "capture"); }

  void failNext(int status) {
    ASSERT_EQ(tabulo::test::exchange("POST", service_->url("/control/fail?status=" + std::to_string(status) + "&count=1"))
                  .status,
              204);
  }

  platform::testing::ScratchDirectory directory_;
  std::unique_ptr<tabulo::test::CollectionServiceProcess> service_;
};

TEST_F(DeferredDeepLinkLoopbackTest, LinkReachesTheAppDelegateThenTheCampaign) {
  startService(R"({"deeplink": {"answer": {"deeplink": "tabulo://open?utm_campaign=spring&vrt_k=v",
                   "hclid": "hc-1", "hbraid": "hb-1", "timestamp": 1699990000}}})");
  persistedConfig_->setDeferredDeepLinkRetryCount(1);
  setInfo({{kGWLDeferredDeepLinkEnabledInfoKey, true}}, {"tabulo", "-DebugDeferredDeepLink"});
  deepLinks_ = makeDeepLinks(GWLServiceHosts::local("http", "127.0.0.1", static_cast<uint16_t>(service_->port())));
  setup_.clock->setNow(kNow + 30);
  lookUp();

  const auto requests = captured();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].rfind(std::string("GET /adconv/app/deeplink?sdk_version=120500&rdid=") + kDeviceID +
                                  "&id_type=idfa&bundleid=1:1234:ios:abcd&retry=1&ddl_test=1&dma=1 HTTP/1.1\r\n",
                              0),
            0u)
      << requests[0];
  EXPECT_EQ(engine_->pendingMarks(), (std::vector<bool>{true, false}));
  EXPECT_EQ(persistedConfig_->deferredDeepLinkRetrievalComplete(), platform::Object(int64_t{0}));
  EXPECT_EQ(persistedConfig_->deferredDeepLinkRetryCount(), 1);

  const auto calls = delegateCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].url, "tabulo://open?utm_campaign=spring&vrt_k=v");
  EXPECT_EQ(calls[0].options, (platform::Dictionary{{"timestamp", int64_t{1699990000}}}));
  EXPECT_TRUE(calls[0].onMainThread);

  const auto events = engine_->takeEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0]->name(), "_cmp");
  EXPECT_EQ(parameter(*events[0], "_cis"), platform::Object("ddp"));
  EXPECT_EQ(parameter(*events[0], "campaign"), platform::Object("spring"));
  EXPECT_EQ(parameter(*events[0], "hclid"), platform::Object("hc-1"));
  EXPECT_EQ(parameter(*events[0], "hbraid"), platform::Object("hb-1"));
  EXPECT_DOUBLE_EQ(events[0]->timestamp(), kNow + 30);
  ASSERT_TRUE(storedCampaignInfo());
  EXPECT_EQ(storedCampaignInfo()->hclid(), "hc-1");
  EXPECT_EQ(storedCampaignInfo()->deepLinkVrtParamsCount(), 1u);
  EXPECT_EQ(engine_->scheduleUpdates(), 0);
}

TEST_F(DeferredDeepLinkLoopbackTest, NoContentCompletesTheLookupForGood) {
  startService(R"({"deeplink": {}})");
  lookUp();
  EXPECT_EQ(captured().size(), 1u);
  EXPECT_EQ(persistedConfig_->deferredDeepLinkRetrievalComplete(), platform::Object(int64_t{0}));
  EXPECT_EQ(engine_->scheduleUpdates(), 1);
  EXPECT_TRUE(delegateCalls().empty());
  EXPECT_TRUE(engine_->takeEvents().empty());
  reports();
  EXPECT_FALSE(gate());
  EXPECT_EQ(codes(), std::vector<int64_t>{kGWLDeferredDeepLinkAlreadyRetrievedCode});
}

TEST_F(DeferredDeepLinkLoopbackTest, FailureIsCountedAndTriedAgainLater) {
  startService(R"({"deeplink": {"answer": {"deeplink": "tabulo://open?utm_source=x"}}})");
  failNext(503);
  reports();
  lookUp();
  EXPECT_EQ(codes(), std::vector<int64_t>{kGWLDeferredDeepLinkFailedCode});
  EXPECT_EQ(persistedConfig_->deferredDeepLinkRetryCount(), 1);
  EXPECT_FALSE(persistedConfig_->deferredDeepLinkRetrievalComplete());
  EXPECT_EQ(engine_->scheduleUpdates(), 1);
  EXPECT_TRUE(delegateCalls().empty());
  EXPECT_TRUE(gate());
  // The next launch's lookup sends the count and succeeds.
  lookUp();
  const auto requests = captured();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_NE(requests[1].find("&retry=1&"), std::string::npos) << requests[1];
  EXPECT_EQ(engine_->takeEvents().size(), 1u);
}

// An app delegate that answers the open-URL operation and records what it was handed.
class OpeningDelegate : public platform::ApplicationDelegate {
 public:
  explicit OpeningDelegate(bool handles) : handles_(handles) {}
  bool openURL(const std::string& url, const platform::Dictionary&) override {
    handed.push_back(url);
    return handles_;
  }
  std::vector<std::string> handed;

 private:
  bool handles_;
};

TEST_F(DeferredDeepLinkLoopbackTest, DelegateWithoutTheOperationGetsNoCampaign) {
  startService(R"({"deeplink": {"answer": {"deeplink": "tabulo://open?utm_source=x"}}})");
  const auto hosts = GWLServiceHosts::local("http", "127.0.0.1", static_cast<uint16_t>(service_->port()));
  auto swizzler = platform::HVUAppDelegateSwizzler::sharedInstance();
  deepLinks_ = makeDeepLinks(hosts, /*platformAppDelegate=*/true);

  // No app delegate, and one that keeps the platform's operation (which handles nothing).
  using Delegate = std::shared_ptr<platform::ApplicationDelegate>;
  for (const Delegate& delegate : {Delegate(), std::make_shared<platform::ApplicationDelegate>()}) {
    swizzler->setAppDelegate(delegate);
    persistedConfig_->clearValues();
    reports();
    lookUp();
    const auto printed = codes();
    EXPECT_EQ(std::count(printed.begin(), printed.end(), kGWLDeferredDeepLinkNoAppDelegateCode), 1);
    EXPECT_TRUE(engine_->takeEvents().empty());
    EXPECT_EQ(persistedConfig_->deferredDeepLinkRetrievalComplete(), platform::Object(int64_t{0}));
  }

  // One that declines the link counts the same; one that handles it gets the campaign.
  for (bool handles : {false, true}) {
    auto delegate = std::make_shared<OpeningDelegate>(handles);
    swizzler->setAppDelegate(delegate);
    persistedConfig_->clearValues();
    reports();
    lookUp();
    swizzler->setAppDelegate({});
    EXPECT_EQ(delegate->handed, std::vector<std::string>{"tabulo://open?utm_source=x"});
    const auto printed = codes();
    EXPECT_EQ(std::count(printed.begin(), printed.end(), kGWLDeferredDeepLinkNoAppDelegateCode), handles ? 0 : 1);
    EXPECT_EQ(engine_->takeEvents().size(), handles ? 1u : 0u);
  }
}

#endif  // TABULO_HAS_COLLECTION_SERVICE

}  // namespace
}  // namespace deeplink_test
