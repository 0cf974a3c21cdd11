// The search-ads attribution reporter on a manual clock and its own worker
// queue, with persisted settings in a data directory of the test's own and an
// engine that records the events it is asked to log. The attribution token is
// scripted; the loopback tests at the end send it to the local collection
// service, whose search-ads route answers from the scenario.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "AdReportingTestSupport.h"
#include "analytics/attribution/GWLSearchAdReporter.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/NotificationCenter.h"
#include "platform/dispatch/Queue.h"
#include "platform/env/AppEnvironment.h"
#include "platform/net/HTTPURLResponse.h"
#include "platform/storage/PreferencesStore.h"
#ifdef TABULO_HAS_COLLECTION_SERVICE
#include "platform/TestSupport.h"
#include "tests/tools/CollectionServiceProcess.h"
#include "tests/tools/LoopbackHTTP.h"
#endif

namespace {

using attribution_test::LoggedEvent;
using attribution_test::RecordingEngine;

constexpr double kDay = 86400;
constexpr int64_t kFirstOpenMilliseconds = 1'699'000'000'123;

GWLValue text(const std::string& value) { return *GWLValue::initWithString(value); }
GWLValue number(int64_t value) { return GWLValue::initWithInt64(value); }

class SearchAdReporterTest : public attribution_test::AdReportingTest {
 protected:
  void SetUp() override {
    AdReportingTest::SetUp();
    config_ = openPersistedConfig(clock_);
    ASSERT_TRUE(config_);
    config_->setFirstOpenTimestampMilliseconds(kFirstOpenMilliseconds);
  }
  void TearDown() override {
    if (reporter_) onWorker([this] { reporter_.reset(); });
    queue_->flush();
    config_.reset();
    AdReportingTest::TearDown();
  }

  // A device with the attribution framework whose token calls fail unless a
  // token is scripted.
  GWLSearchAdReporter::Dependencies dependencies() {
    GWLSearchAdReporter::Dependencies dependencies;
    dependencies.clock = clock_;
    dependencies.monitor = monitor_;
    dependencies.engine = [engine = engine_] { return engine; };
    dependencies.hasAdServices = [] { return true; };
    dependencies.isSimulator = [] { return false; };
    dependencies.attributionToken = [this](platform::Error* error) -> std::optional<std::string> {
      ++tokenCalls_;
      if (!token_) platform::setError(error, platform::Error("test", 1, "no token today"));
      return token_;
    };
    return dependencies;
  }

  // Makes the reporter on the worker queue, enables and starts it, as the engine does.
  bool startReporter(GWLSearchAdReporter::Dependencies with) {
    onWorker([&] {
      reporter_ = GWLSearchAdReporter::initWithWorkerQueue(queue_, config_, with);
      if (!reporter_) return;
      reporter_->setSearchAdReporterEnabled(true);
      reporter_->start();
    });
    return reporter_ != nullptr;
  }
  bool startReporter() { return startReporter(dependencies()); }

  void onWorker(const std::function<void()>& block) { queue_->sync(block); }
  // Moves the clock and waits for what the alarm posted to the worker queue.
  void advance(double seconds) {
    clock_->advance(seconds);
    queue_->flush();
  }
  void answer(int status, const std::string& body) {
    platform::HTTPURLResponse response;
    response.statusCode = status;
    const std::vector<uint8_t> bytes(body.begin(), body.end());
    onWorker([&] { reporter_->handleAttributionAnswer(&response, bytes, std::nullopt); });
  }

  foundation_test::DataDirectory data_;
  std::shared_ptr<platform::ManualClock> clock_ = std::make_shared<platform::ManualClock>();
  std::shared_ptr<platform::SerialQueue> queue_ = platform::SerialQueue::create("test.worker");
  std::shared_ptr<RecordingEngine> engine_ = std::make_shared<RecordingEngine>();
  std::shared_ptr<GWLPersistedConfig> config_;
  std::shared_ptr<GWLSearchAdReporter> reporter_;
  std::atomic<int> tokenCalls_{0};
  std::optional<std::string> token_;
};

TEST_F(SearchAdReporterTest, ReportersAreMadeOnlyWhileAttemptsRemainAndNothingIsStored) {
  std::shared_ptr<GWLSearchAdReporter> made;
  onWorker([&] { made = GWLSearchAdReporter::initWithWorkerQueue(nullptr, config_, dependencies()); });
  EXPECT_FALSE(made);
  EXPECT_EQ(lastSampledKey(), sampleKey(kGWLSearchAdNoQueue));
  onWorker([&] { made = GWLSearchAdReporter::initWithWorkerQueue(queue_, nullptr, dependencies()); });
  EXPECT_FALSE(made);
  EXPECT_EQ(lastSampledKey(), sampleKey(kGWLSearchAdNoPersistedConfig));

  reports();
  const struct {
    int64_t attempts;
    std::optional<platform::Object> stored;
    bool made;
    std::vector<int64_t> codes;
  } cases[] = {
      {0, std::nullopt, true, {}},
      {9, std::nullopt, true, {}},
      {10, std::nullopt, false, {}},
      {0, platform::Object(false), false, {kGWLSearchAdAlreadyReportedAtInit.code}},
      {0, platform::Object(true), false, {kGWLSearchAdAlreadyReportedAtInit.code}},
  };
  for (const auto& c : cases) {
    config_->clearValues();
    config_->setSearchAdRetryCount(c.attempts);
    if (c.stored) config_->setSearchAdCampaignValue(*c.stored);
    onWorker([&] { made = GWLSearchAdReporter::initWithWorkerQueue(queue_, config_, dependencies()); });
    EXPECT_EQ(made != nullptr, c.made) << c.attempts;
    EXPECT_EQ(printedCodes(), c.codes) << c.attempts;
    onWorker([&] { made.reset(); });
  }
}

TEST_F(SearchAdReporterTest, NothingIsRequestedWithoutTheFrameworkOrInTheSimulator) {
  const auto previous = platform::AppEnvironment::shared();
  const struct {
    const char* what;
    bool component;
    const char* deviceModel;
    std::vector<int64_t> codes;
    int attempts;
  } cases[] = {
      {"no framework", false, platform::kDefaultDeviceModel, {kGWLSearchAdNoAdServices.code}, 0},
      {"simulator", true, "x86_64", {kGWLSearchAdSimulator.code}, 0},
      // The first attempt, then the next one a day later.
      {"device", true, platform::kDefaultDeviceModel, {kGWLSearchAdScheduling.code, kGWLSearchAdScheduling.code}, 1},
  };
  for (const auto& c : cases) {
    platform::AppEnvironment::Configuration configuration;
    configuration.deviceModel = c.deviceModel;
    auto environment = platform::AppEnvironment::create(configuration);
    if (c.component) environment->registerComponent("AAAttribution");
    platform::AppEnvironment::setShared(environment);
    GWLSearchAdReporter::Dependencies with = dependencies();
    with.hasAdServices = nullptr;  // the app environment's components
    with.isSimulator = nullptr;    // the app environment's device model
    tokenCalls_ = 0;
    reports();
    ASSERT_TRUE(startReporter(with)) << c.what;
    advance(0);
    // The reporter's own lines but the failed token of the scripted attempt.
    std::vector<int64_t> codes = printedCodes();
    codes.erase(std::remove_if(codes.begin(), codes.end(),
                               [](int64_t code) {
                                 return code < 32000 || code > 32099 || code == kGWLSearchAdTokenFailed.code;
                               }),
                codes.end());
    EXPECT_EQ(codes, c.codes) << c.what;
    EXPECT_EQ(tokenCalls_.load(), c.attempts) << c.what;
    onWorker([&] { reporter_.reset(); });
    config_->clearValues();
  }
  platform::AppEnvironment::setShared(previous);
}

TEST_F(SearchAdReporterTest, AttemptsRunDailyAndAtMostTenTimes) {
  ASSERT_TRUE(startReporter());
  advance(0);  // the first attempt fires at once
  EXPECT_EQ(tokenCalls_.load(), 1);
  EXPECT_EQ(config_->searchAdRetryCount(), 1);
  EXPECT_EQ(config_->lastSearchAdLookUpTimestamp(), clock_->now());
  EXPECT_TRUE(printed(kGWLSearchAdTokenFailed));
  advance(kDay - 1);
  EXPECT_EQ(tokenCalls_.load(), 1);
  advance(1);
  EXPECT_EQ(tokenCalls_.load(), 2);
  for (int attempt = 3; attempt <= 10; ++attempt) {
    advance(kDay);
    EXPECT_EQ(tokenCalls_.load(), attempt);
  }
  EXPECT_EQ(config_->searchAdRetryCount(), 10);
  EXPECT_EQ(lastSampledKey(), sampleKey(kGWLSearchAdTooManyAttempts));
  advance(3 * kDay);
  EXPECT_EQ(tokenCalls_.load(), 10);
  onWorker([this] { reporter_->scheduleSearchAdReport(); });
  EXPECT_EQ(lastSampledKey(), sampleKey(kGWLSearchAdAlarmCanceled));
  // The next launch makes no reporter.
  onWorker([this] { reporter_.reset(); });
  EXPECT_FALSE(startReporter());
}

TEST_F(SearchAdReporterTest, AnAttemptWaitsADayAfterTheLastOne) {
  config_->setLastSearchAdLookUpTimestamp(clock_->now() - 3 * 3600);
  ASSERT_TRUE(startReporter());
  advance(21 * 3600 - 1);
  EXPECT_EQ(tokenCalls_.load(), 0);
  advance(1);
  EXPECT_EQ(tokenCalls_.load(), 1);
  // Scheduling again while armed changes nothing.
  onWorker([this] { reporter_->scheduleSearchAdReport(); });
  EXPECT_EQ(lastSampledKey(), sampleKey(kGWLSearchAdAlreadyScheduled));
  advance(kDay);
  EXPECT_EQ(tokenCalls_.load(), 2);
}

TEST_F(SearchAdReporterTest, NoAttemptWhileCollectionIsOff) {
  ASSERT_TRUE(startReporter());
  reporter_->setSearchAdReporterEnabled(false);  // collection switched off with the alarm armed
  advance(0);
  EXPECT_EQ(tokenCalls_.load(), 0);
  EXPECT_EQ(config_->searchAdRetryCount(), 0);
  advance(2 * kDay);
  EXPECT_EQ(tokenCalls_.load(), 0);
  reporter_->setSearchAdReporterEnabled(true);
  onWorker([this] { reporter_->scheduleSearchAdReport(); });
  advance(0);
  EXPECT_EQ(tokenCalls_.load(), 1);
}

TEST_F(SearchAdReporterTest, OnlyABooleanAttributionOfASuccessfulAnswerIsStored) {
  const std::vector<std::pair<std::string, GWLValue>> campaignEvent = {
      {"source", text("Apple")}, {"medium", text("search")}, {"campaign", text("1234")}, {"term", text("77")},
      {"click_timestamp", number(kFirstOpenMilliseconds - 1)}};
  const struct {
    const char* what;
    int status;
    std::string body;
    std::optional<platform::Object> stored;  // none: left unset, the next daily attempt runs
    GWLParameters event;                     // empty: no "_cmp"
    std::optional<int64_t> printedCode;
  } cases[] = {
      {"attributed", 200, R"({"attribution": true, "campaignId": 1234, "keywordId": "77", "adId": 5})", true,
       GWLParameters(campaignEvent.begin(), campaignEvent.end()), std::nullopt},
      {"attributed without campaign or keyword", 200, R"({"attribution": true, "campaignId": "", "keywordId": null})",
       true, GWLParameters{{"source", text("Apple")}, {"medium", text("search")},
                           {"click_timestamp", number(kFirstOpenMilliseconds - 1)}},
       std::nullopt},
      {"not attributed", 201, R"({"attribution": false, "campaignId": 1234})", false, {}, std::nullopt},
      {"test data", 200, R"({"attribution": true, "adId": 1234567890, "campaignId": "1234567890"})", std::nullopt, {},
       kGWLSearchAdTestData.code},
      {"server failure with a JSON body", 500, R"({"attribution": false})", std::nullopt, {},
       kGWLSearchAdRequestFailed.code},
      {"not JSON", 200, "<html>", std::nullopt, {}, kGWLSearchAdUnparsableAnswer.code},
      {"empty body", 200, "", std::nullopt, {}, kGWLSearchAdUnparsableAnswer.code},
      {"empty object", 200, "{}", std::nullopt, {}, kGWLSearchAdRequestFailed.code},
      {"attribution as text", 200, R"({"attribution": "true"})", std::nullopt, {}, kGWLSearchAdRequestFailed.code},
      {"not an object", 200, "[true]", std::nullopt, {}, kGWLSearchAdRequestFailed.code},
  };
  for (const auto& c : cases) {
    config_->clearValues();
    config_->setFirstOpenTimestampMilliseconds(kFirstOpenMilliseconds);
    tokenCalls_ = 0;
    ASSERT_TRUE(startReporter()) << c.what;
    advance(0);
    reports();
    answer(c.status, c.body);
    EXPECT_EQ(config_->searchAdCampaignValue(), c.stored) << c.what;
    const std::vector<LoggedEvent> events = engine_->takeEvents();
    if (c.event.empty()) {
      EXPECT_TRUE(events.empty()) << c.what;
    } else {
      ASSERT_EQ(events.size(), 1u) << c.what;
      EXPECT_EQ(events[0].origin, "auto");
      EXPECT_EQ(events[0].name, "_cmp");
      EXPECT_EQ(events[0].parameters, c.event) << c.what;
    }
    if (c.printedCode) {
      EXPECT_EQ(printedCodes(), std::vector<int64_t>{*c.printedCode}) << c.what;
    }
    advance(kDay);
    EXPECT_EQ(tokenCalls_.load(), c.stored ? 1 : 2) << c.what;
    onWorker([&] { reporter_.reset(); });
  }
}

TEST_F(SearchAdReporterTest, AFirstOpenBelowTwoMillisecondsHasNoClickTimestamp) {
  const struct {
    int64_t firstOpen;
    std::optional<int64_t> clickTimestamp;
  } cases[] = {{0, std::nullopt}, {1, std::nullopt}, {2, 1}};
  for (const auto& c : cases) {
    config_->clearValues();
    config_->setFirstOpenTimestampMilliseconds(c.firstOpen);
    ASSERT_TRUE(startReporter());
    onWorker([this] { reporter_->logCampaignEventWithSearchAdCampaign(true, "c", "t"); });
    const auto events = engine_->takeEvents();
    ASSERT_EQ(events.size(), 1u);
    const auto click = events[0].parameters.find("click_timestamp");
    if (c.clickTimestamp) {
      ASSERT_NE(click, events[0].parameters.end());
      EXPECT_EQ(click->second, number(*c.clickTimestamp));
    } else {
      EXPECT_EQ(click, events[0].parameters.end()) << c.firstOpen;
      EXPECT_EQ(lastSampledKey(), sampleKey(kGWLSearchAdNoClickTimestamp));
    }
    onWorker([&] { reporter_.reset(); });
  }
}

TEST_F(SearchAdReporterTest, RacingAnswersLogOneCampaign) {
  ASSERT_TRUE(startReporter());
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([this, i] { reporter_->logCampaignEventWithSearchAdCampaign(true, std::to_string(i), "t"); });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(engine_->takeEvents().size(), 1u);
  EXPECT_EQ(config_->searchAdCampaignValue(), platform::Object(true));
  EXPECT_EQ(lastSampledKey(), sampleKey(kGWLSearchAdAlreadyTracked));
}

TEST(SearchAdAnswer, MembersAreReadAsText) {
  platform::HTTPURLResponse ok;
  ok.statusCode = 299;
  const struct {
    std::string body;
    std::optional<std::string> campaign;
    std::optional<std::string> term;
  } cases[] = {
      {R"({"attribution": true, "campaignId": 42, "keywordId": "k"})", "42", "k"},
      {R"({"attribution": true, "campaignId": -7, "keywordId": 1.5})", "-7", "1.5"},
      {R"({"attribution": true, "campaignId": true, "keywordId": false})", "1", "0"},
      {R"({"attribution": true, "campaignId": [1], "keywordId": {}})", std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    const std::vector<uint8_t> body(c.body.begin(), c.body.end());
    const GWLSearchAdAnswer answer = GWLReadSearchAdAnswer(&ok, body, std::nullopt);
    EXPECT_EQ(answer.kind, GWLSearchAdAnswer::Kind::kAccepted) << c.body;
    EXPECT_EQ(answer.campaign, c.campaign) << c.body;
    EXPECT_EQ(answer.term, c.term) << c.body;
  }
  // No answer at all, or a network error, is a failed attempt.
  EXPECT_EQ(GWLReadSearchAdAnswer(nullptr, {}, std::nullopt).kind, GWLSearchAdAnswer::Kind::kFailed);
  const platform::Error timedOut("com.halcyra.HVUNetwork.ErrorDomain", 4, "timed out");
  const GWLSearchAdAnswer failed = GWLReadSearchAdAnswer(&ok, {}, timedOut);
  EXPECT_EQ(failed.kind, GWLSearchAdAnswer::Kind::kFailed);
  EXPECT_EQ(failed.error, timedOut);
}

#ifdef TABULO_HAS_COLLECTION_SERVICE

// One request as the collection service captured it.
struct Captured {
  std::string requestLine;
  std::vector<std::string> headerLines;
  std::string body;
};

class SearchAdLoopbackTest : public SearchAdReporterTest {
 protected:
  void Serve(const std::string& searchAds) {
    platform::testing::writeFile(scratch_ / "scenario.json", R"({"search_ads": )" + searchAds + "}");
    std::filesystem::create_directories(scratch_ / "capture");
    service_ = std::make_unique<tabulo::test::CollectionServiceProcess>(
        std::vector<std::string>{"--attribution", scratch_ / "scenario.json", "--capture", scratch_ / "capture"});
    ASSERT_GT(service_->port(), 0);
    token_ = "tok-1";
  }
  GWLSearchAdReporter::Dependencies dependencies() {
    GWLSearchAdReporter::Dependencies with = SearchAdReporterTest::dependencies();
    with.endpoint = GWLServiceEndpoint{"http", "127.0.0.1", static_cast<uint16_t>(service_->port())};
    return with;
  }
  std::vector<Captured> requests() const {
    std::vector<Captured> out;
    for (const std::string& text : tabulo::test::capturedRequests(scratch_ / "capture")) {
      const size_t headEnd = text.find("\r\n\r\n");
      Captured captured;
      captured.body = text.substr(headEnd + 4);
      size_t start = 0;
      while (start < headEnd) {
        const size_t end = text.find("\r\n", start);
        const std::string line = text.substr(start, std::min(end, headEnd) - start);
        if (captured.requestLine.empty()) {
          captured.requestLine = line;
        } else {
          captured.headerLines.push_back(line);
        }
        start = end + 2;
      }
      out.push_back(std::move(captured));
    }
    return out;
  }
  // Waits until a printed report of `line` arrives.
  bool waitForPrinted(const GWLAttributionLogLine& line) {
    return waitUntil([&] { return printed(line); });
  }

  platform::testing::ScratchDirectory scratch_;
  std::unique_ptr<tabulo::test::CollectionServiceProcess> service_;
};

TEST_F(SearchAdLoopbackTest, TheTokenGoesOutAndTheCampaignIsLoggedOnce) {
  Serve(R"({"answer": {"attribution": true, "campaignId": 1234, "keywordId": 77, "adId": 5}})");
  ASSERT_TRUE(startReporter(dependencies()));
  advance(0);
  ASSERT_TRUE(engine_->waitForEvents(1));
  queue_->flush();
  const auto events = engine_->takeEvents();
  EXPECT_EQ(events[0].name, "_cmp");
  EXPECT_EQ(events[0].parameters.at("campaign"), text("1234"));
  EXPECT_EQ(events[0].parameters.at("term"), text("77"));
  EXPECT_EQ(config_->searchAdCampaignValue(), platform::Object(true));

  const auto sent = requests();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].requestLine, "POST /api/v1/ HTTP/1.1");
  EXPECT_EQ(sent[0].body, "tok-1");
  auto hasHeader = [&](const std::string& line) {
    return std::find(sent[0].headerLines.begin(), sent[0].headerLines.end(), line) != sent[0].headerLines.end();
  };
  EXPECT_TRUE(hasHeader("Content-Type: text/plain"));
  EXPECT_TRUE(hasHeader("cache-control: no-cache"));
  EXPECT_TRUE(hasHeader("Content-Length: 5"));

  // Accepted: no further attempt, and no reporter at the next launch.
  advance(2 * kDay);
  EXPECT_EQ(tokenCalls_.load(), 1);
  onWorker([this] { reporter_.reset(); });
  EXPECT_FALSE(startReporter(dependencies()));
}

TEST_F(SearchAdLoopbackTest, AServerFailureIsRetriedADayLater) {
  Serve(R"({"answer": {"attribution": true, "campaignId": 9}, "fail_statuses": [500]})");
  ASSERT_TRUE(startReporter(dependencies()));
  advance(0);
  ASSERT_TRUE(waitForPrinted(kGWLSearchAdRequestFailed));
  queue_->flush();
  EXPECT_EQ(config_->searchAdCampaignValue(), std::nullopt);
  EXPECT_TRUE(engine_->takeEvents().empty());
  advance(kDay);
  ASSERT_TRUE(engine_->waitForEvents(1));
  EXPECT_EQ(engine_->takeEvents()[0].parameters.at("campaign"), text("9"));
  EXPECT_EQ(requests().size(), 2u);
}

TEST_F(SearchAdLoopbackTest, TwoAnswersInFlightLogOneCampaign) {
  Serve(R"({"answer": {"attribution": true, "campaignId": 9}})");
  ASSERT_TRUE(startReporter(dependencies()));
  onWorker([this] {
    reporter_->requestAttributionPayloadWithToken("tok-1");
    reporter_->requestAttributionPayloadWithToken("tok-2");
  });
  ASSERT_TRUE(waitUntil([this] { return lastSampledKey() == sampleKey(kGWLSearchAdAlreadyTracked); }));
  queue_->flush();
  EXPECT_EQ(engine_->takeEvents().size(), 1u);
  EXPECT_EQ(requests().size(), 2u);
}

// The library's load call makes the reporters' dependencies before the host
// program points the process at a local service; the reporter made at the
// engine's start must still ask that service.
TEST_F(SearchAdLoopbackTest, WithoutAnEndpointTheProcessHostsChosenAfterTheDependenciesAreUsed) {
  Serve(R"({"answer": {"attribution": true, "campaignId": 1234}})");
  const GWLSearchAdReporter::Dependencies madeAtLoad = SearchAdReporterTest::dependencies();
  GWLServiceHosts::setForProcess(GWLServiceHosts::local("http", "127.0.0.1", static_cast<uint16_t>(service_->port())));
  struct Restore {
    ~Restore() { GWLServiceHosts::setForProcess(std::nullopt); }
  } restore;

  ASSERT_TRUE(startReporter(madeAtLoad));
  advance(0);
  ASSERT_TRUE(engine_->waitForEvents(1));
  queue_->flush();
  EXPECT_EQ(engine_->takeEvents()[0].parameters.at("campaign"), text("1234"));
  ASSERT_EQ(requests().size(), 1u);
  EXPECT_EQ(requests()[0].requestLine, "POST /api/v1/ HTTP/1.1");
}

#endif  // TABULO_HAS_COLLECTION_SERVICE

}  // namespace
