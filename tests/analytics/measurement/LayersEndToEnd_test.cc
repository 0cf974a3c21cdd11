// The layers above the engine end to end: an engine made as the entry class
// makes it, with the layers the library's load call installs, uploading over
// loopback to the local collection service (a child process). The service
// serves the configuration (event-editing programs, audiences, settings, the
// tagging server), records every batch it accepts and captures every
// request; the tests decode what it recorded. The clock is the manual one;
// only the real I/O is waited for.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "../audiences/AudienceFiltersTestSupport.h"
#include "../audiences/interpreter/EditingPrograms.h"
#include "EndToEndTestSupport.h"
#include "analytics/attribution/GWLInAppPurchaseProductCache.h"
#include "analytics/attribution/GWLInAppPurchaseTransactionReporter.h"
#include "analytics/attribution/GWLMeasurementSKAdNetwork.h"
#include "analytics/attribution/GWLReceipt.h"
#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/config/GWLSKAdNetworkHooks.h"
#include "analytics/measurement/CVNAnalyticsConnector.h"
#include "analytics/measurement/GWLIdentity.h"
#include "analytics/measurement/GWLLibraryLoad.h"
#include "analytics/wire/GWLPBAudienceLeafFilterResult.h"
#include "analytics/wire/GWLPBEvent.h"
#include "analytics/wire/GWLPBEventParam.h"
#include "analytics/wire/GWLPBMeasurementBatch.h"
#include "analytics/wire/GWLPBResultData.h"
#include "analytics/wire/GWLPBSetting.h"
#include "analytics/wire/GWLPBSvtpSetting.h"
#include "analytics/wire/GWLPBUserAttribute.h"
#include "analytics/wire/WireValueText.h"
#include "platform/storekit/Store.h"
#include "tests/tools/CollectionServiceProcess.h"
#include "tests/tools/LoopbackHTTP.h"

namespace measurement_test {
namespace {

namespace fs = std::filesystem;
using namespace script;
using namespace editing_test;

constexpr const char* kAppID = "1:123:ios:abc";

using Bundles = std::vector<std::shared_ptr<GWLPBMeasurementBundle>>;

std::vector<std::string> eventNames(const Bundles& bundles) {
  std::vector<std::string> names;
  for (const auto& bundle : bundles) {
    for (const auto& event : bundle->events()) names.push_back(event->name().value_or(""));
  }
  return names;
}

std::shared_ptr<GWLPBEvent> eventNamed(const Bundles& bundles, const std::string& name) {
  for (const auto& bundle : bundles) {
    for (const auto& event : bundle->events()) {
      if (event->name() == name) return event;
    }
  }
  return nullptr;
}

std::string parameter(const std::shared_ptr<GWLPBEvent>& event, const std::string& name) {
  if (!event) return "no event";
  for (const auto& param : event->params()) {
    if (param->name() == name) return wire_test::describeWireValue(param);
  }
  return "none";
}

std::string userProperty(const Bundles& bundles, const std::string& name) {
  for (const auto& bundle : bundles) {
    for (const auto& property : bundle->userAttributes()) {
      if (property->name() == name) return wire_test::describeWireValue(property);
    }
  }
  return "none";
}

std::shared_ptr<GWLPBSetting> setting(const std::string& name, const std::string& value) {
  auto made = GWLPBSetting::initWithMessageInfo();
  made->setSettingName(name);
  made->setSettingValue(value);
  return made;
}

// How the collection service runs.
struct Service {
  bool tls = false;
  std::optional<std::string> attributionScenario;  // the attribution scenario, JSON
};

class LayersEndToEndTest : public EndToEndTest {
 protected:
  void SetUp() override {
    EndToEndTest::SetUp();
    GWLLibraryLoadResetForTesting();
    GWLLibraryLoad(clock_);
  }
  void TearDown() override {
    EndToEndTest::TearDown();
    GWLLibraryLoadResetForTesting();
  }

  // Serves `config` as this app's configuration, starts the service, then an
  // engine uploading to it that has fetched the configuration.
  void serveAndStart(const std::shared_ptr<GWLPBMeasurementConfig>& config, const Service& options = Service()) {
    serve(config);
    std::vector<std::string> arguments;
    const std::string certificates = tabulo::test::testCertificatesDirectory();
    if (options.tls) {
      arguments.insert(arguments.end(), {"--tls", certificates + "/server.pem", certificates + "/server.key"});
    }
    if (options.attributionScenario) {
      std::ofstream(root_.path() / "scenario.json") << *options.attributionScenario;
      arguments.insert(arguments.end(), {"--attribution", (root_.path() / "scenario.json").string()});
    }
    ASSERT_NO_FATAL_FAILURE(startService(arguments, options.tls ? "https" : "http"));
    startShared();
    if (options.tls) pipeline->network()->setTrustFile(certificates + "/ca.pem");
    goOnline(kAppID);
    fetchConfiguration();
  }

  // Makes `config` this app's configuration on the service.
  void serve(const std::shared_ptr<GWLPBMeasurementConfig>& config) { EndToEndTest::serve(kAppID, *config); }
  void fetchConfiguration() {
    const size_t before = capturedRequests().size();
    onWorker([&] { pipeline->GWLMeasurement::fetchRemoteConfig(); });
    settle();
    const auto requests = capturedRequestLines();
    ASSERT_EQ(requests.size(), before + 1);
    ASSERT_EQ(requests.back().rfind("GET /config/app/", 0), 0u) << requests.back();
  }


  void advance(double seconds) {
    clock_->advance(seconds);
    settle();
  }
  // Waits (at most 20 s) until `done` holds, letting the engine's queues run.
  bool waitUntil(const std::function<bool()>& done) {
    for (int round = 0; round < 4000; ++round) {
      drain();
      main_->drain();
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

  // One upload attempt now: bundles the raw events and sends the queue.
  void upload() {
    onWorker([&] { pipeline->GWLMeasurement::uploadData(); });
    settle();
  }

  // The batches the service recorded, in order, decoded.
  std::vector<Bundles> recordedBatches() {
    std::vector<Bundles> batches;
    for (const auto& file : filesIn(root_.path() / "record")) {
      const std::string bytes = readFile(file);
      auto batch = GWLPBMeasurementBatch::initWithBuffer(
          std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
      EXPECT_TRUE(batch) << file;
      if (batch) batches.push_back(batch->bundles());
    }
    return batches;
  }
  // The last recorded batch; fails when the service recorded none.
  Bundles lastBatch() {
    auto batches = recordedBatches();
    EXPECT_FALSE(batches.empty());
    return batches.empty() ? Bundles{} : batches.back();
  }

  // Every request the service captured, in order, as received.
  std::vector<std::string> capturedRequests() {
    return tabulo::test::capturedRequests(root_.path() / "capture");
  }
  std::vector<std::string> capturedRequestLines() {
    std::vector<std::string> lines;
    for (const auto& text : capturedRequests()) lines.push_back(text.substr(0, text.find("\r\n")));
    return lines;
  }

};

// ---------------------------------------------------------------------------
// Event editing

TEST_F(LayersEndToEndTest, TheServedProgramEditsAndCreatesEventsAndAFailingRuleLeavesItsEventAsLogged) {
  const double createdAt = clock_->now() - 30;
  // Every event gets "edited" = 1; "broken" makes the second rule fail (a
  // name that is not text); "open" creates "made".
  const GWLPProgram program = Program({
      Entry("edit", 1, {E("setParamValue", {S("edited"), N(1)}), Ret(N(0))}),
      Entry("edit", 2, {C(22, {C(20, {E("getEventName"), S("broken")}), List({E("setEventName")})}), Ret(N(0))}),
      Entry("create", std::nullopt,
            {C(22, {C(20, {E("getEventName"), S("open")}),
                    List({Let("log", Require("internal.eventLogger")),
                          Invoke("log", {S("made"), N(createdAt), Obj({S("kind"), S("created")})})})})}),
  });
  auto config = GWLPBMeasurementConfig::initWithMessageInfo();
  NANOSetArray(config, GWLPBMeasurementConfig::Field::dynamic_event_editing,
               std::vector<NANOValue>{std::shared_ptr<NANOMessageBase>(MessageOf(program))});
  ASSERT_NO_FATAL_FAILURE(serveAndStart(config));
  ASSERT_TRUE(pipeline->engineRemoteConfig()->eventEditing()) << "the served program is loaded";

  handle(event("open", {{"screen", "grid"}}));
  handle(event("broken", {{"screen", "grid"}}));
  upload();

  const Bundles sent = lastBatch();
  const auto names = eventNames(sent);
  EXPECT_EQ(std::count(names.begin(), names.end(), "open"), 1);
  EXPECT_EQ(std::count(names.begin(), names.end(), "made"), 1) << "created for \"open\" only";
  EXPECT_EQ(std::count(names.begin(), names.end(), "broken"), 1) << "a failing rule never loses the event";
  EXPECT_EQ(parameter(eventNamed(sent, "open"), "edited"), "double 1");
  EXPECT_EQ(parameter(eventNamed(sent, "open"), "screen"), "text grid");
  EXPECT_EQ(parameter(eventNamed(sent, "made"), "kind"), "text created");
  ASSERT_TRUE(eventNamed(sent, "made"));
  EXPECT_EQ(eventNamed(sent, "made")->timestamp(), static_cast<int64_t>(createdAt * 1000));
  EXPECT_EQ(parameter(eventNamed(sent, "broken"), "edited"), "none") << "the first rule's change is dropped too";
  EXPECT_EQ(parameter(eventNamed(sent, "broken"), "screen"), "text grid");
}

// ---------------------------------------------------------------------------
// Audiences

TEST_F(LayersEndToEndTest, ServedAudiencesPutTheirResultsAndLaterTheirPreviousResultsIntoUploads) {
  using namespace audience_test;
  auto config = GWLPBMeasurementConfig::initWithMessageInfo();
  config->setAudiences(std::vector{audience(3, {eventFilter(0, "level_up"), eventFilter(1, "share")}),
                                   audience(4, {eventFilter(0, "never_logged")})});
  ASSERT_NO_FATAL_FAILURE(serveAndStart(config));

  handle(event("level_up"));
  upload();
  Bundles sent = lastBatch();
  ASSERT_EQ(sent.size(), 1u);
  auto results = sent[0]->audienceEvaluationResults();
  ASSERT_EQ(results.size(), 1u) << "audience 4 was never evaluated to a result";
  EXPECT_EQ(results[0]->audienceId(), 3);
  ASSERT_TRUE(results[0]->currentResults());
  EXPECT_EQ(results[0]->currentResults()->results(), std::vector<uint64_t>{0b01});
  EXPECT_TRUE(results[0]->noPreviousResults()) << "the first results of the audience";
  EXPECT_FALSE(results[0]->previousResults());

  // A change: the second filter holds too, and the bundle carries what the
  // previous one reported as its previous results.
  advance(60);
  handle(event("share"));
  upload();
  ASSERT_EQ(recordedBatches().size(), 2u);
  sent = lastBatch();
  ASSERT_EQ(sent.size(), 1u);
  results = sent[0]->audienceEvaluationResults();
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0]->audienceId(), 3);
  ASSERT_TRUE(results[0]->currentResults());
  EXPECT_EQ(results[0]->currentResults()->results(), std::vector<uint64_t>{0b11});
  EXPECT_FALSE(results[0]->noPreviousResults());
  ASSERT_TRUE(results[0]->previousResults());
  EXPECT_EQ(results[0]->previousResults()->results(), std::vector<uint64_t>{0b01});
}

// ---------------------------------------------------------------------------
// Conditional user properties

TEST_F(LayersEndToEndTest, AConditionalPropertyReachesTheUploadAfterItsTriggerWithItsTriggeredEvent) {
  ASSERT_NO_FATAL_FAILURE(serveAndStart(GWLPBMeasurementConfig::initWithMessageInfo()));
  CVNAnalyticsConnector::Dependencies dependencies;
  dependencies.clock = clock_;
  auto connector = CVNAnalyticsConnector::create(dependencies);
  connector->setConditionalUserProperty(platform::Dictionary{
      {"name", "tier"},
      {"origin", "cvm"},
      {"value", "gold"},
      {"triggerEventName", "level_up"},
      {"triggerTimeout", 600},
      {"timeToLive", 3600},
      {"triggeredEvent", platform::Dictionary{{"origin", "cvm"}, {"name", "tier_set"}}},
  });
  drain();
  handle(event("open"));
  upload();
  Bundles sent = lastBatch();
  EXPECT_EQ(eventNames(sent), std::vector<std::string>{"open"});
  EXPECT_EQ(userProperty(sent, "tier"), "none") << "waits for its trigger";

  advance(60);
  handle(event("level_up"));
  upload();
  ASSERT_EQ(recordedBatches().size(), 2u);
  sent = lastBatch();
  EXPECT_EQ(eventNames(sent), (std::vector<std::string>{"level_up", "tier_set"}));
  EXPECT_EQ(userProperty(sent, "tier"), "text gold");
}

// ---------------------------------------------------------------------------
// Ad-network conversion values

TEST_F(LayersEndToEndTest, TheConversionValueFetchedAfterAnUploadIsLoggedAndUploadedNext) {
  // The conversion values on this test's clock; the app environment's system
  // version (17.0) has the version 4 postbacks.
  GWLMeasurementSKAdNetwork::Dependencies skanDependencies;
  skanDependencies.clock = clock_;
  skanDependencies.monitor = monitor_;
  GWLInstalledHook<GWLSKAdNetworkHooks>::install(GWLMeasurementSKAdNetwork::create(std::move(skanDependencies)));
  const double start = clock_->now();
  const int64_t eventMillis = static_cast<int64_t>(start * 1000);
  const std::string scenario = R"({"skan": {"answers": [{"response": {"result_status": 1, "skanm_value": "m-1",
      "fine_value": 12, "coarse_value": 2, "lock_window": true, "result_time": )" +
                               std::to_string(eventMillis + 86'400'000) + R"(, "event_time": )" +
                               std::to_string(eventMillis) + R"(, "update_backoff": 5000}}]}})";
  auto config = GWLPBMeasurementConfig::initWithMessageInfo();
  config->setSettings(std::vector{setting(kGWLSettingSKANUpdateConversionValueEnabled, "1"),
                                  setting(kGWLSettingSKANFirstWindowCVFetchDelay, "20")});
  ASSERT_NO_FATAL_FAILURE(serveAndStart(config, {.tls = false, .attributionScenario = scenario}));
  settings_->setFirstOpenTimestampMilliseconds(eventMillis - 3'600'000);

  handle(event("level_up"));
  upload();
  ASSERT_EQ(recordedBatches().size(), 1u);
  auto requested = [&] {
    return nlohmann::json::parse(
        tabulo::test::exchange("GET", service_->url("/control/skan/requests")).text(), nullptr, false);
  };
  EXPECT_EQ(requested(), nlohmann::json::array()) << "the fetch waits for its delay";

  advance(20);
  const nlohmann::json requests = requested();
  ASSERT_TRUE(requests.is_array() && requests.size() == 1u) << requests.dump();
  const nlohmann::json expected = {
      {"library_version", 120500},
      {"app_id", environment_->bundleIdentifier()},  // the identity's app ID
      {"app_instance_id", *pipeline->appInstanceID()},
      {"skan_version", "4.0"},
      {"evaluation_event_time", 0},
      {"last_uploaded_event_time", eventMillis},
      {"accept_encoding", "gzip"},
  };
  EXPECT_EQ(requests[0], expected);
  const auto lines = capturedRequestLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2].rfind("POST /skan ", 0), 0u) << lines[2];

  // The platform took the value: "_skan" is logged and goes with the next upload.
  upload();
  ASSERT_EQ(recordedBatches().size(), 2u);
  const Bundles sent = lastBatch();
  const auto skan = eventNamed(sent, "_skan");
  ASSERT_TRUE(skan) << ::testing::PrintToString(eventNames(sent));
  EXPECT_EQ(parameter(skan, "_skanm"), "text m-1");
  EXPECT_EQ(parameter(skan, "_skanf"), "int 12");
  EXPECT_EQ(parameter(skan, "_skanc"), "int 2");
  EXPECT_EQ(parameter(skan, "_skanl"), "int 1");
  EXPECT_EQ(parameter(skan, "_skane"), "int " + std::to_string(eventMillis));
}

// ---------------------------------------------------------------------------
// Opened URLs

TEST_F(LayersEndToEndTest, AnOpenedCampaignURLGivesACampaignEventInTheUpload) {
  ASSERT_NO_FATAL_FAILURE(serveAndStart(GWLPBMeasurementConfig::initWithMessageInfo()));
  analytics_->handleOpenURL("tabulo://open?utm_source=news&utm_medium=email&utm_campaign=spring");
  ASSERT_TRUE(waitUntil([&] {
    const auto names = storedNames();
    return std::find(names.begin(), names.end(), "_cmp") != names.end();
  }));
  upload();
  const auto campaign = eventNamed(lastBatch(), "_cmp");
  ASSERT_TRUE(campaign);
  EXPECT_EQ(parameter(campaign, "source"), "text news");
  EXPECT_EQ(parameter(campaign, "medium"), "text email");
  EXPECT_EQ(parameter(campaign, "campaign"), "text spring");
}

// The preview switch of an opened URL against the tagging server (https):
// a key with a line break adds no header to any request, a valid one goes
// with the upload as the preview header.
TEST_F(LayersEndToEndTest, OnlyAValidPreviewKeyReachesTheTaggingServerUpload) {
  const auto previous = platform::AppEnvironment::shared();
  platform::AppEnvironment::setShared(environmentWith({{kGWLSVTPUploadEnabledInfoKey, true}}));
  struct Restore {
    std::shared_ptr<platform::AppEnvironment> environment;
    ~Restore() { platform::AppEnvironment::setShared(environment); }
  } restore{previous};

  // The tagging server (on the same service) is named by a configuration
  // served once the service's port is known.
  ASSERT_NO_FATAL_FAILURE(serveAndStart(GWLPBMeasurementConfig::initWithMessageInfo(),
                                        {.tls = true, .attributionScenario = std::nullopt}));
  auto config = GWLPBMeasurementConfig::initWithMessageInfo();
  auto svtp = GWLPBSvtpSetting::initWithMessageInfo();
  NANOSetString(svtp, GWLPBSvtpSetting::Field::upload_url, service_->url("/a", "https"));
  NANOSetInt32(svtp, GWLPBSvtpSetting::Field::sample_percent, 0);  // only the preview switch chooses it
  NANOSetMessage(config, GWLPBMeasurementConfig::Field::svtp_setting, svtp);
  serve(config);
  ASSERT_NO_FATAL_FAILURE(fetchConfiguration());
  bool tagging = true;
  onWorker([&] { tagging = pipeline->engineRemoteConfig()->SVTPUploadEnabled(); });
  ASSERT_FALSE(tagging) << "no instance is sampled in";

  analytics_->handleOpenURL("tabulo://open?svtp_debug_enable=1&svtp_preview_key=a%0D%0AX-Evil:1");
  settle();
  EXPECT_FALSE(GWLMeasurement::SVTPPreviewHeaders());
  handle(event("first"));
  upload();
  ASSERT_EQ(recordedBatches().size(), 1u) << "sent to the collection service, as without the switch";

  analytics_->handleOpenURL("tabulo://open?svtp_debug_enable=1&svtp_preview_key=preview-7");
  settle();
  handle(event("second"));
  upload();
  ASSERT_EQ(recordedBatches().size(), 2u);
  EXPECT_EQ(eventNames(lastBatch()), std::vector<std::string>{"second"});

  // The header lines of each request, each line ending in CR LF.
  std::vector<std::string> heads;
  for (const auto& request : capturedRequests()) heads.push_back(request.substr(0, request.find("\r\n\r\n") + 2));
  for (const auto& head : heads) EXPECT_EQ(head.find("X-Evil"), std::string::npos) << head;
  ASSERT_EQ(heads.size(), 4u) << "two configuration fetches, two uploads";
  EXPECT_EQ(heads[2].rfind("POST /a ", 0), 0u) << heads[2];
  EXPECT_EQ(heads[2].find("X-Kxw-Server-Preview"), std::string::npos) << heads[2];
  EXPECT_EQ(heads[3].rfind("POST /a ", 0), 0u) << heads[3];
  EXPECT_NE(heads[3].find("\r\nX-Kxw-Server-Preview: preview-7\r\n"), std::string::npos) << heads[3];
}

// ---------------------------------------------------------------------------
// Purchases

// Hands the store's transactions to the purchase reporter through the
// engine's duplicate filter, as the entry class does while it collects.
class EntryClassForwarder : public platform::PaymentTransactionObserver {
 public:
  EntryClassForwarder(std::shared_ptr<GWLMeasurement> engine,
                      std::shared_ptr<GWLInAppPurchaseTransactionReporter> reporter)
      : engine_(std::move(engine)), reporter_(std::move(reporter)) {}
  void paymentQueue(const std::shared_ptr<platform::PaymentQueue>& queue,
                    const std::vector<platform::PaymentTransaction>& transactions) override {
    engine_->filterPurchaseTransactions(
        transactions, [reporter = reporter_, queue](const std::vector<platform::PaymentTransaction>& kept) {
          reporter->paymentQueue(queue, kept);
        });
  }

 private:
  std::shared_ptr<GWLMeasurement> engine_;
  std::shared_ptr<GWLInAppPurchaseTransactionReporter> reporter_;
};

TEST_F(LayersEndToEndTest, AStorePurchaseIsUploadedWithItsMicrosAndItsCurrencysLifetimeValue) {
  ASSERT_NO_FATAL_FAILURE(serveAndStart(GWLPBMeasurementConfig::initWithMessageInfo()));
  struct Reset {
    ~Reset() {
      platform::Store::setShared(nullptr);
      GWLResetReceiptAppVersionCurrentForTesting();
    }
  } reset;

  auto paymentQueue = platform::PaymentQueue::create(main_);
  platform::Store::Configuration storeConfiguration;
  storeConfiguration.directory = (root_.path() / "Store").string();
  storeConfiguration.originalApplicationVersion = "1.0";
  storeConfiguration.clock = clock_;
  storeConfiguration.paymentQueue = paymentQueue;
  auto store = platform::Store::create(storeConfiguration);
  ASSERT_TRUE(store);
  platform::Product coins;
  coins.productIdentifier = "coins";
  coins.price = "0.99";
  coins.currencyCode = "USD";
  coins.localizedTitle = "Coins";
  coins.type = platform::ProductType::Consumable;
  store->setProducts({coins});
  platform::Store::setShared(store);

  GWLInAppPurchaseTransactionReporter::Dependencies reporterDependencies;
  reporterDependencies.productCache = GWLInAppPurchaseProductCache::create(store);
  reporterDependencies.monitor = monitor_;
  // The reporter's events take the entry class's way into the engine.
  reporterDependencies.logInternalEvent = [this](const std::string& origin, const std::string& name,
                                                 const GWLParameters& parameters) {
    pipeline->logEventWithOrigin(origin, false, name, GWLRawParametersFromParameters(parameters), clock_->now(),
                                 true, false, false, nullptr, std::nullopt);
  };
  auto reporter = GWLInAppPurchaseTransactionReporter::create(reporterDependencies);
  auto forwarder = std::make_shared<EntryClassForwarder>(pipeline, reporter);
  paymentQueue->addTransactionObserver(forwarder);

  platform::Store::PurchaseRequest request;
  request.productIdentifier = "coins";
  request.quantity = 3;
  ASSERT_TRUE(store->purchase(request));
  ASSERT_TRUE(waitUntil([&] {
    const auto names = storedNames();
    return std::find(names.begin(), names.end(), "_iap") != names.end();
  })) << ::testing::PrintToString(storedNames());
  paymentQueue->removeTransactionObserver(forwarder.get());

  upload();
  const Bundles sent = lastBatch();
  const auto purchase = eventNamed(sent, "_iap");
  ASSERT_TRUE(purchase) << ::testing::PrintToString(eventNames(sent));
  EXPECT_EQ(parameter(purchase, "price"), "int 990000");
  EXPECT_EQ(parameter(purchase, "value"), "int 2970000");
  EXPECT_EQ(parameter(purchase, "currency"), "text USD");
  EXPECT_EQ(parameter(purchase, "quantity"), "int 3");
  EXPECT_EQ(userProperty(sent, "_ltv_USD"), "int 2970000");
}

}  // namespace
}  // namespace measurement_test
