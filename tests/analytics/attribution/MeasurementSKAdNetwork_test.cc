// The ad network's conversion values against the local collection service on
// loopback, whose "/skan" endpoint answers from the scenario: a test engine
// (real worker queue, persisted settings and network object), a scripted ad
// network and a manual clock. Timers fire only when the test moves the clock;
// only the real I/O is waited for.
#ifdef TABULO_HAS_COLLECTION_SERVICE

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include <nlohmann/json.hpp>

#include "../foundation/values/ValuesTestSupport.h"
#include "SKANTestEngine.h"
#include "analytics/attribution/GWLMeasurementSKAdNetwork.h"
#include "analytics/foundation/config/GWLInstalledHook.h"
#include "analytics/foundation/core/GWLAlarm.h"
#include "analytics/wire/GWLPBSkAdNetworkConversionValueResponse.h"
#include "platform/env/AppEnvironment.h"
#include "tests/platform/TestSupport.h"
#include "tests/tools/CollectionServiceProcess.h"
#include "tests/tools/LoopbackHTTP.h"

namespace {

using skan_test::ScriptedAdNetwork;
using skan_test::SKANTestEngine;
using Coarse = platform::SKAdNetworkCoarseConversionValue;
using Update = ScriptedAdNetwork::Update;

constexpr double kNow = 1'700'000'000.0;
constexpr int64_t kNowMs = 1'700'000'000'000;
constexpr int64_t kDayMs = 86'400'000;
constexpr int64_t kLastUploadedMs = kNowMs - 60'000;
constexpr int64_t kSkanCodeFirst = 23240;
constexpr int64_t kSkanCodeLast = 23255;

std::string ms(int64_t value) { return std::to_string(value); }

// A response that passes every check: fine 12, coarse high, window locked,
// valid for ten minutes, evaluated at the last uploaded event, back-off 5 s.
const std::string kValidFields = R"("fine_value": 12, "coarse_value": 3, "lock_window": true, "skanm_value": "m-1",
    "result_time": )" + ms(kNowMs + 600'000) + R"(, "event_time": )" + ms(kLastUploadedMs) +
                                 R"(, "update_backoff": 5000)";
const std::string kValid = R"({"response": {"result_status": 1, )" + kValidFields + "}}";

enum class Outcome { kRetry, kReset, kUpdate };

class SKANLoopbackTest : public foundation_test::LibraryMonitorTest {
 protected:
  struct Setup {
    std::string answers = R"([{"status": 503}])";
    std::map<std::string, std::string> settings = {{kGWLSettingSKANUpdateConversionValueEnabled, "1"}};
    int64_t firstOpenMs = kNowMs - kDayMs;  // 0: none
    std::string systemVersion = "17.0";
    double now = kNow;
  };

  void SetUp() override {
    LibraryMonitorTest::SetUp();
    monitor_->setDebugModeEnabled(true);  // level 7 lines are printed too
  }
  void TearDown() override {
    if (engine_) engine_->flush();
    skan_.reset();
    engine_.reset();
    service_.reset();
    monitor_->setDebugModeEnabled(false);
    LibraryMonitorTest::TearDown();
  }

  void Start() { Start(Setup{}); }
  void Start(const Setup& setup) {
    if (engine_) engine_->flush();
    skan_.reset();
    engine_.reset();
    service_.reset();
    platform::testing::writeFile(directory_ / "scenario.json", R"({"skan": {"answers": )" + setup.answers + "}}");
    service_ = std::make_unique<tabulo::test::CollectionServiceProcess>(
        std::vector<std::string>{"--attribution", directory_ / "scenario.json"});
    ASSERT_GT(service_->port(), 0);
    engine_ = std::make_shared<SKANTestEngine>(
        monitor_, GWLServiceEndpoint{"http", "127.0.0.1", static_cast<uint16_t>(service_->port())});
    engine_->useSettings(setup.settings);
    engine_->persistedConfig()->clearValues();
    engine_->persistedConfig()->setFirstOpenTimestampMilliseconds(setup.firstOpenMs);
    engine_->persistedConfig()->setLastUploadedEventTimestampMillis(kLastUploadedMs);
    clock_ = std::make_shared<platform::ManualClock>(setup.now);
    adNetwork_ = std::make_shared<ScriptedAdNetwork>();
    platform::AppEnvironment::Configuration environment;
    environment.systemVersion = setup.systemVersion;
    GWLMeasurementSKAdNetwork::Dependencies dependencies;
    dependencies.engine = [engine = engine_] { return engine; };
    dependencies.adNetwork = adNetwork_;
    dependencies.clock = clock_;
    dependencies.monitor = monitor_;
    dependencies.environment = platform::AppEnvironment::create(environment);
    skan_ = GWLMeasurementSKAdNetwork::create(std::move(dependencies));
    reports();
  }

  // Waits for the answers of the requests made so far and for what they set off.
  void Settle() {
    engine_->flush();
    ASSERT_TRUE(engine_->waitUntilRequestsAnswered());
    engine_->flush();
  }
  // The app becoming active.
  void Fetch() {
    engine_->onWorkerQueue([this] { skan_->fetchSKANCV(); });
    Settle();
  }
  void Advance(double seconds) {
    clock_->advance(seconds);
    Settle();
  }
  // One failed fetch behind: the retry count is 1 and the retry alarm armed.
  void Prime() {
    engine_->onWorkerQueue([this] { skan_->maybeScheduleSKANCVFetchRetry(); });
    ASSERT_EQ(skan_->SKANRetryCount(), 1);
  }

  bool RetryArmed() const { return skan_->SKANRetryAlarm() && skan_->SKANRetryAlarm()->hasActiveTimer(); }
  // Seconds from now until the alarm fires; -1 when it is not armed.
  double Armed(const std::shared_ptr<GWLAlarm>& alarm) const {
    if (!alarm || !alarm->hasActiveTimer() || !alarm->scheduledTimestamp()) return -1;
    return *alarm->scheduledTimestamp() - clock_->now();
  }

  // What came of a primed fetch.
  std::optional<Outcome> OutcomeAfterPrime() {
    const bool updated = !adNetwork_->updates().empty();
    if (skan_->SKANRetryCount() == 2 && RetryArmed() && !updated) return Outcome::kRetry;
    if (skan_->SKANRetryCount() == 0 && !RetryArmed()) return updated ? Outcome::kUpdate : Outcome::kReset;
    return std::nullopt;
  }

  // The codes of this area's lines printed since the last call.
  std::vector<int64_t> Codes() {
    std::vector<int64_t> codes;
    for (const auto& report : reports()) {
      if (report.code >= kSkanCodeFirst && report.code <= kSkanCodeLast) codes.push_back(report.code);
    }
    return codes;
  }

  // The conversion-value requests the service decoded, in order.
  nlohmann::json Requests() {
    return nlohmann::json::parse(tabulo::test::exchange("GET", service_->url("/control/skan/requests")).text(),
                                 nullptr, false);
  }
  size_t RequestCount() {
    nlohmann::json requests = Requests();
    return requests.is_array() ? requests.size() : 0;
  }

  foundation_test::DataDirectory data_;
  platform::testing::ScratchDirectory directory_;
  std::unique_ptr<tabulo::test::CollectionServiceProcess> service_;
  std::shared_ptr<platform::ManualClock> clock_;
  std::shared_ptr<ScriptedAdNetwork> adNetwork_;
  std::shared_ptr<SKANTestEngine> engine_;
  std::shared_ptr<GWLMeasurementSKAdNetwork> skan_;
};

TEST_F(SKANLoopbackTest, EachAnswerUpdatesStopsOrRetries) {
  const struct {
    const char* name;
    std::string answer;
    Outcome outcome;
    std::vector<int64_t> codes;
  } cases[] = {
      {"status 1, gzip body", kValid, Outcome::kUpdate, {23248}},
      {"status 1, identity body", R"({"response": {"result_status": 1, )" + kValidFields + R"(}, "encoding": "identity"})",
       Outcome::kUpdate, {23248}},
      {"status 2", R"({"response": {"result_status": 2}})", Outcome::kReset, {}},
      {"status 0", R"({"response": {"result_status": 0, )" + kValidFields + "}}", Outcome::kRetry, {}},
      {"status 7", R"({"response": {"result_status": 7, )" + kValidFields + "}}", Outcome::kRetry, {}},
      {"no status", R"({"response": {)" + kValidFields + "}}", Outcome::kRetry, {}},
      {"304", R"({"status": 304})", Outcome::kReset, {}},
      {"empty 200", R"({"status": 200})", Outcome::kReset, {23242}},
      {"gzip body inflating to nothing", R"({"response": {}})", Outcome::kReset, {23242}},
      {"undecodable body", R"({"body": "undecodable"})", Outcome::kReset, {23243}},
      {"gzip body that does not inflate, read as received", R"({"response": {"result_status": 2}, "encoding": "broken_gzip"})",
       Outcome::kReset, {23243}},
      {"503", R"({"status": 503})", Outcome::kRetry, {23241}},
      {"404", R"({"status": 404})", Outcome::kRetry, {23241}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Start({.answers = "[" + c.answer + "]"});
    Prime();
    Fetch();
    EXPECT_EQ(RequestCount(), 1u);
    EXPECT_EQ(OutcomeAfterPrime(), c.outcome);
    EXPECT_EQ(Codes(), c.codes);
    if (c.outcome == Outcome::kUpdate) {
      EXPECT_EQ(adNetwork_->updates().back(), (Update{12, Coarse::kHigh, true}));
    }
  }
}

TEST_F(SKANLoopbackTest, UpdateChecksRunInOrder) {
  const std::string expiry = R"("result_time": )" + ms(kNowMs + 600'000);
  const std::string eventTime = R"("event_time": )" + ms(kLastUploadedMs);
  const auto response = [](const std::string& fields) { return R"({"response": {"result_status": 1, )" + fields + "}}"; };
  const struct {
    const char* name;
    std::string answer;
    Outcome outcome;
    std::vector<int64_t> codes;
    std::optional<Update> update = std::nullopt;
    double now = kNow;
  } cases[] = {
      {"no event time", response(R"("fine_value": 5, )" + expiry), Outcome::kRetry, {23244}},
      {"no event time comes first", response(R"("fine_value": 64)"), Outcome::kRetry, {23244}},
      {"neither value", response(eventTime + ", " + expiry), Outcome::kReset, {23251}},
      {"fine 64", response(R"("fine_value": 64, )" + eventTime), Outcome::kReset, {23245}},
      {"fine -1", response(R"("fine_value": -1, )" + eventTime + ", " + expiry), Outcome::kReset, {23245}},
      {"fine 63", response(R"("fine_value": 63, )" + eventTime + ", " + expiry), Outcome::kUpdate, {23248},
       Update{63, Coarse::kLow, false}},
      {"no expiry", response(R"("fine_value": 5, )" + eventTime), Outcome::kRetry, {23255}},
      {"expired in whole seconds", response(R"("fine_value": 5, "result_time": 1700000000900, )" + eventTime),
       Outcome::kRetry, {23246}, std::nullopt, 1'700'000'000.5},
      {"expiring this second", response(R"("fine_value": 5, "result_time": 1700000000900, )" + eventTime),
       Outcome::kUpdate, {23248}, Update{5, Coarse::kLow, false}, 1'700'000'000.0},
      {"event time equal to the last upload",
       response(R"("fine_value": 5, )" + expiry + R"(, "event_time": )" + ms(kLastUploadedMs)), Outcome::kUpdate,
       {23248}, Update{5, Coarse::kLow, false}},
      {"event time 1 ms before the last upload",
       response(R"("fine_value": 5, )" + expiry + R"(, "event_time": )" + ms(kLastUploadedMs - 1)), Outcome::kRetry,
       {23247}},
      {"coarse 3", response(R"("fine_value": 1, "coarse_value": 3, )" + eventTime + ", " + expiry), Outcome::kUpdate,
       {23248}, Update{1, Coarse::kHigh, false}},
      {"coarse 2", response(R"("fine_value": 1, "coarse_value": 2, )" + eventTime + ", " + expiry), Outcome::kUpdate,
       {23248}, Update{1, Coarse::kMedium, false}},
      {"coarse 1", response(R"("fine_value": 1, "coarse_value": 1, )" + eventTime + ", " + expiry), Outcome::kUpdate,
       {23248}, Update{1, Coarse::kLow, false}},
      {"coarse 0", response(R"("fine_value": 1, "coarse_value": 0, )" + eventTime + ", " + expiry), Outcome::kUpdate,
       {23248}, Update{1, Coarse::kLow, false}},
      {"only a coarse value", response(R"("coarse_value": 2, "lock_window": true, )" + eventTime + ", " + expiry),
       Outcome::kUpdate, {23248}, Update{0, Coarse::kMedium, true}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Start({.answers = "[" + c.answer + "]", .now = c.now});
    Prime();
    Fetch();
    EXPECT_EQ(OutcomeAfterPrime(), c.outcome);
    EXPECT_EQ(Codes(), c.codes);
    if (c.update) {
      EXPECT_EQ(adNetwork_->updates().back(), *c.update);
    }
  }
}

TEST_F(SKANLoopbackTest, FourRetriesThenTheLimitUntilAnUploadResetsTheCount) {
  Start();
  Fetch();
  for (int retry = 1; retry <= 4; ++retry) {
    EXPECT_EQ(skan_->SKANRetryCount(), retry);
    ASSERT_EQ(Armed(skan_->SKANRetryAlarm()), 120) << "retry " << retry;
    Advance(120);
  }
  EXPECT_EQ(RequestCount(), 5u);
  EXPECT_EQ(skan_->SKANRetryCount(), 5);
  EXPECT_FALSE(RetryArmed());
  std::vector<int64_t> codes = Codes();
  EXPECT_EQ(std::count(codes.begin(), codes.end(), 23241), 5);
  EXPECT_EQ(codes.back(), 23250);

  // Having given up, the next activation still fetches and ends at once.
  Fetch();
  EXPECT_EQ(RequestCount(), 6u);
  EXPECT_EQ(Codes(), (std::vector<int64_t>{23241, 23250}));
  EXPECT_FALSE(RetryArmed());

  // A successful upload forgets the failures: retries are armed again.
  engine_->onWorkerQueue([this] { skan_->resetSKANRetryCount(); });
  EXPECT_EQ(skan_->SKANRetryCount(), 0);
  Fetch();
  EXPECT_EQ(skan_->SKANRetryCount(), 1);
  EXPECT_TRUE(RetryArmed());
}

TEST_F(SKANLoopbackTest, DuringABackOffOneRetryThenTheLimit) {
  Start();
  auto persisted = engine_->persistedConfig();
  persisted->setSKANEvaluationEventTimeMillis(kNowMs - 1000);
  persisted->setSKANEvaluationUpdateBackoffMillis(3'600'000);
  Fetch();
  EXPECT_EQ(skan_->SKANRetryCount(), 1);
  EXPECT_TRUE(RetryArmed());
  Advance(120);
  EXPECT_EQ(skan_->SKANRetryCount(), 2);
  EXPECT_FALSE(RetryArmed());
  EXPECT_EQ(Codes(), (std::vector<int64_t>{23241, 23241, 23250}));

  // The back-off runs while evaluation time + back-off >= now.
  const struct {
    int64_t evaluationTime, backoff;
    int32_t limit;
  } limits[] = {
      {kNowMs + 120'000 - 1000, 1000, 1},  // ends exactly now
      {kNowMs + 120'000 - 1001, 1000, 4},  // ended 1 ms ago
      {0, 3'600'000, 4},                   // no value taken yet
      {kNowMs, 0, 4},                      // no back-off
  };
  for (const auto& l : limits) {
    persisted->setSKANEvaluationEventTimeMillis(l.evaluationTime);
    persisted->setSKANEvaluationUpdateBackoffMillis(l.backoff);
    int32_t limit = 0;
    engine_->onWorkerQueue([&] { limit = skan_->SKANFetchRetryLimit(); });
    EXPECT_EQ(limit, l.limit) << l.evaluationTime << " + " << l.backoff;
  }
}

TEST_F(SKANLoopbackTest, FirstWindowAndUsualDelaysIntervalsAndLimits) {
  const std::map<std::string, std::string> settings = {
      {kGWLSettingSKANUpdateConversionValueEnabled, "1"},
      {kGWLSettingSKANFirstWindowCVFetchDelay, "5000"},
      {kGWLSettingSKANInitialCVFetchDelay, "60000"},
      {kGWLSettingSKANFirstWindowCVFetchRetryInterval, "40000"},
      {kGWLSettingSKANCVFetchRetryInterval, "300000"},
      {kGWLSettingSKANFirstWindowCVFetchRetryLimit, "2"},
      {kGWLSettingSKANCVFetchRetryLimit, "3"},
  };
  const struct {
    const char* name;
    int64_t firstOpenAgoMs;
    bool firstWindow;
    double delay, interval;
    int32_t limit;
  } cases[] = {
      {"a day after first open", kDayMs, true, 5, 40, 2},
      {"two days after first open", 2 * kDayMs, true, 5, 40, 2},
      {"two days and 1 ms after first open", 2 * kDayMs + 1, false, 60, 300, 3},
      {"34 days after first open", 34 * kDayMs, false, 60, 300, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Start({.answers = R"([{"response": {"result_status": 2}}])", .settings = settings,
           .firstOpenMs = kNowMs - c.firstOpenAgoMs});
    bool firstWindow = false;
    int32_t limit = 0;
    engine_->onWorkerQueue([&] {
      firstWindow = skan_->isInFirstSKANPostbackWindow();
      limit = skan_->SKANFetchRetryLimit();
      skan_->scheduleSKANCVFetchAfterDataUpload();
      skan_->maybeScheduleSKANCVFetchRetry();
    });
    EXPECT_EQ(firstWindow, c.firstWindow);
    EXPECT_EQ(limit, c.limit);
    EXPECT_EQ(Armed(skan_->SKANDelayAlarm()), c.delay);
    EXPECT_EQ(Armed(skan_->SKANRetryAlarm()), c.interval);
    EXPECT_EQ(skan_->SKANDelayAlarm()->name(), kGWLSKANDelayAlarmName);
    EXPECT_EQ(skan_->SKANRetryAlarm()->name(), kGWLSKANRetryAlarmName);

    // The delay alarm fetches; the fetch disarms the retry alarm.
    Advance(c.delay);
    EXPECT_EQ(RequestCount(), 1u);
    EXPECT_FALSE(RetryArmed());
  }
}

TEST_F(SKANLoopbackTest, FetchesOnlyWithinTheWindowsOnNewSystemsWhenSwitchedOn) {
  const struct {
    const char* name;
    int64_t firstOpenMs;
    std::string systemVersion;
    bool enabled;
    bool appInstanceID;
    bool fetches;
  } cases[] = {
      {"first window", kNowMs - kDayMs, "17.0", true, true, true},
      {"35 days after first open", kNowMs - 35 * kDayMs, "17.0", true, true, true},
      {"35 days and 1 ms after first open", kNowMs - 35 * kDayMs - 1, "17.0", true, true, false},
      {"no first open", 0, "17.0", true, true, false},
      {"system 16.1", kNowMs - kDayMs, "16.1", true, true, true},
      {"system 16.10", kNowMs - kDayMs, "16.10", true, true, true},
      {"system 17", kNowMs - kDayMs, "17", true, true, true},
      {"system 16.0.9", kNowMs - kDayMs, "16.0.9", true, true, false},
      {"system 9.9", kNowMs - kDayMs, "9.9", true, true, false},
      {"switched off", kNowMs - kDayMs, "17.0", false, true, false},
      {"no app instance ID", kNowMs - kDayMs, "17.0", true, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Start({.answers = R"([{"response": {"result_status": 2}}])",
           .settings = {{kGWLSettingSKANUpdateConversionValueEnabled, c.enabled ? "1" : "0"}},
           .firstOpenMs = c.firstOpenMs,
           .systemVersion = c.systemVersion});
    if (!c.appInstanceID) engine_->setAppInstanceIDForTesting(std::nullopt);
    engine_->onWorkerQueue([this] { skan_->scheduleSKANCVFetchAfterDataUpload(); });
    EXPECT_EQ(Armed(skan_->SKANDelayAlarm()) > 0, c.fetches);
    Fetch();
    EXPECT_EQ(RequestCount(), c.fetches ? 1u : 0u);
  }
}

TEST_F(SKANLoopbackTest, SkanEventOnlyOnceThePlatformTookTheValue) {
  const int64_t eventTime = kLastUploadedMs + 500;
  const std::string answer = R"({"response": {"result_status": 1, "fine_value": 12, "coarse_value": 3,
      "lock_window": true, "skanm_value": "m-1", "update_backoff": 5000, "result_time": )" +
                             ms(kNowMs + 600'000) + R"(, "event_time": )" + ms(eventTime) + "}}";
  const struct {
    const char* name;
    std::optional<platform::Error> error;
    bool taken;
  } cases[] = {
      {"no error", std::nullopt, true},
      {"the ad network's code 10", platform::Error(platform::kSKANErrorDomain, 10, "ignored"), true},
      {"the ad network's code 3", platform::Error(platform::kSKANErrorDomain, 3, "refused"), false},
      {"code 10 of another domain", platform::Error("NSCocoaErrorDomain", 10, "refused"), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Start({.answers = "[" + answer + R"(, {"response": {"result_status": 2}}])"});
    adNetwork_->answerNext(c.error);
    auto persisted = engine_->persistedConfig();
    persisted->setSKANEvaluationEventTimeMillis(1111);
    persisted->setSKANEvaluationUpdateBackoffMillis(2222);
    Fetch();
    EXPECT_EQ(Codes(), (c.taken ? std::vector<int64_t>{23248} : std::vector<int64_t>{23248, 23249}));
    EXPECT_EQ(skan_->SKANRetryCount(), 0);
    EXPECT_EQ(persisted->SKANEvaluationEventTimeMillis(), c.taken ? eventTime : 1111);
    EXPECT_EQ(persisted->SKANEvaluationUpdateBackoffMillis(), c.taken ? 5000 : 2222);

    auto events = engine_->takeEvents();
    ASSERT_EQ(events.size(), c.taken ? 1u : 0u);
    if (c.taken) {
      const auto& event = *events[0];
      EXPECT_EQ(event.name(), "_skan");
      EXPECT_EQ(event.origin(), "auto");
      EXPECT_EQ(event.timestamp(), kNow);
      EXPECT_EQ(event.previousTimestamp(), 0);
      const auto& parameters = event.parameters();
      ASSERT_TRUE(parameters.count("_skanm") && parameters.at("_skanm").stringValue());
      EXPECT_EQ(*parameters.at("_skanm").stringValue(), "m-1");
      for (const auto& [name, value] : std::map<std::string, int64_t>{
               {"_skanf", 12}, {"_skanc", 3}, {"_skanl", 1}, {"_skane", eventTime}}) {
        ASSERT_TRUE(parameters.count(name) && parameters.at(name).isInt64()) << name;
        EXPECT_EQ(parameters.at(name).int64Value(), value) << name;
      }
    }

    // The next fetch reports the evaluation time in force: after a refused
    // update the old one, so that the service offers the value again.
    Fetch();
    const nlohmann::json requests = Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1]["evaluation_event_time"], c.taken ? eventTime : 1111);
  }
}

TEST_F(SKANLoopbackTest, SkanEventCarriesOnlyTheFieldsPresent) {
  Start({.answers = R"([{"response": {"result_status": 1, "coarse_value": 1, "event_time": )" + ms(kNowMs) +
                    R"(, "result_time": )" + ms(kNowMs + 1000) + "}}]"});
  engine_->persistedConfig()->setSKANEvaluationUpdateBackoffMillis(7777);
  Fetch();
  auto events = engine_->takeEvents();
  ASSERT_EQ(events.size(), 1u);
  std::vector<std::string> names;
  for (const auto& [name, value] : events[0]->parameters()) {
    if (name.rfind("_skan", 0) == 0) names.push_back(name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"_skanc", "_skane"}));
  EXPECT_EQ(engine_->persistedConfig()->SKANEvaluationUpdateBackoffMillis(), 0);
}

TEST_F(SKANLoopbackTest, OfflineFetchWaitsForAReachabilityChangeWithConnectivity) {
  Start();
  engine_->network()->setReachabilityOverrideForTesting(false);
  Fetch();
  EXPECT_TRUE(skan_->fetchSKANWhenNetworkConnected());
  engine_->onWorkerQueue([this] { skan_->maybeFetchSKANCVAfterReachabilityChange(); });
  EXPECT_EQ(RequestCount(), 0u);

  engine_->network()->setReachabilityOverrideForTesting(true);
  engine_->onWorkerQueue([this] { skan_->maybeFetchSKANCVAfterReachabilityChange(); });
  Settle();
  EXPECT_EQ(RequestCount(), 1u);
  EXPECT_FALSE(skan_->fetchSKANWhenNetworkConnected());

  // Without a waiting fetch a reachability change fetches nothing.
  engine_->onWorkerQueue([this] { skan_->maybeFetchSKANCVAfterReachabilityChange(); });
  Settle();
  EXPECT_EQ(RequestCount(), 1u);
}

TEST_F(SKANLoopbackTest, AFetchWaitsForTheEnginesOtherRequestAndHoldsUploadsWhileInFlight) {
  Start({.answers = R"([{"response": {"result_status": 2}}])"});
  engine_->holdNetworkRequest(true);
  Fetch();
  EXPECT_EQ(Codes(), std::vector<int64_t>{23240});
  EXPECT_EQ(RequestCount(), 0u);
  EXPECT_FALSE(RetryArmed());

  engine_->holdNetworkRequest(false);
  Fetch();
  EXPECT_EQ(RequestCount(), 1u);
  EXPECT_EQ(engine_->pendingChanges(), (std::vector<bool>{true, false}));
  EXPECT_FALSE(skan_->isSKANRequestInProgress());
}

TEST_F(SKANLoopbackTest, TheServiceDecodesTheRequest) {
  Start({.answers = R"([{"response": {"result_status": 2}}])", .systemVersion = "16.1"});
  engine_->persistedConfig()->setSKANEvaluationEventTimeMillis(1'699'999'000'000);
  // The engine reaches the fetch through its installed hooks.
  EXPECT_FALSE(GWLInstalledHook<GWLSKAdNetworkHooks>::get()->isInFirstSKANPostbackWindow());
  GWLInstalledHook<GWLSKAdNetworkHooks>::install(skan_);
  engine_->onWorkerQueue([] { GWLInstalledHook<GWLSKAdNetworkHooks>::get()->fetchSKANCV(); });
  GWLInstalledHook<GWLSKAdNetworkHooks>::resetForTesting();
  Settle();
  const nlohmann::json expected = {
      {"library_version", 120500},
      {"app_id", skan_test::kAppID},
      {"app_instance_id", skan_test::kAppInstanceID},
      {"skan_version", "4.0"},
      {"evaluation_event_time", 1'699'999'000'000},
      {"last_uploaded_event_time", kLastUploadedMs},
      {"accept_encoding", "gzip"},
  };
  EXPECT_EQ(Requests(), nlohmann::json::array({expected}));
}

}  // namespace

#endif  // TABULO_HAS_COLLECTION_SERVICE
