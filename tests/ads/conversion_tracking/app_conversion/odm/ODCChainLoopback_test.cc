// The conversion task chain against the local collection service, whose
// on-device measurement endpoint answers from the scenario with the real
// protocol (its PSM double), and the requests as the service captured them.
// Retries run on the manual clock; only the real I/O is waited for.
#ifdef TABULO_HAS_COLLECTION_SERVICE

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include <nlohmann/json.hpp>

#include "ODCChainTestSupport.h"
#include "absl/strings/escaping.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCCandidateFetcher.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCConfigFetcher.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCMatchValidator.h"
#include "analytics/attribution/testing/PSMWireTestCodecs.h"
#include "platform/core/Log.h"
#include "platform/text/PercentEncoding.h"
#include "tests/tools/CollectionServiceProcess.h"
#include "tests/tools/LoopbackHTTP.h"

namespace {

using tabulo::test::ChainFixture;
using tabulo::test::CollectionServiceProcess;

constexpr auto kIOWait = std::chrono::seconds(30);
constexpr const char* kConfig =
    R"("config": {"matching_id": "bWF0Y2gtMQ", "bucketed_date": "2024-05-01", "prefix_length": 12.9,
                  "extension_data": "ext-1"})";
constexpr const char* kEntries = R"("entries": [
    {"value": "mv-a", "order_key": 5, "kind": 2, "group": "g1"},
    {"value": "", "order_key": 9, "preferred": 1, "group": "g2"},
    {"value": "mv-b", "order_key": 5, "kind": 1, "group": "g1"},
    {"value": "mv-c", "order_key": 1, "group": "g2"}])";
constexpr const char* kValidate =
    R"("validate": {"values": ["mv-b", "mv-c"], "answer": {"mv_vexa": "vexa-1", "mv_aaps": "aaps-1"}})";

// One request as the service captured it.
struct Captured {
  std::string method;
  std::string path;
  std::string rawQuery;
  std::multimap<std::string, std::string> query;  // values percent-decoded
  std::string body;

  std::string value(const std::string& key) const {
    auto found = query.find(key);
    return found == query.end() ? "(absent)" : found->second;
  }
  nlohmann::json json() const { return nlohmann::json::parse(body, nullptr, false); }
};

Captured Parse(const std::string& text) {
  Captured captured;
  const size_t space = text.find(' ');
  const std::string target = text.substr(space + 1, text.find(' ', space + 1) - space - 1);
  captured.method = text.substr(0, space);
  captured.path = target.substr(0, target.find('?'));
  captured.rawQuery = target.find('?') == std::string::npos ? "" : target.substr(target.find('?') + 1);
  size_t start = 0;
  while (start < captured.rawQuery.size()) {
    size_t end = captured.rawQuery.find('&', start);
    if (end == std::string::npos) end = captured.rawQuery.size();
    const std::string pair = captured.rawQuery.substr(start, end - start);
    const size_t equals = pair.find('=');
    captured.query.emplace(pair.substr(0, equals),
                           platform::percent::decode(pair.substr(equals + 1)).value_or("(undecodable)"));
    start = end + 1;
  }
  captured.body = text.substr(text.find("\r\n\r\n") + 4);
  return captured;
}

class ODCChainLoopbackTest : public ::testing::Test {
 protected:
  // Starts the service with the scenario's "odm" section and a chain against it.
  void Start(const std::string& odm) {
    platform::testing::writeFile(directory_ / "scenario.json",
                                 R"({"bundle_id": "com.halcyra.tabulo", "odm": {)" + odm + "}}");
    std::filesystem::create_directories(directory_ / "capture");
    service_ = std::make_unique<CollectionServiceProcess>(std::vector<std::string>{
        "--psm-double", std::string(TABULO_BINARY_DIR) + "/tools/psm_double", "--attribution",
        directory_ / "scenario.json", "--capture", directory_ / "capture"});
    ASSERT_GT(service_->port(), 0);
    chain_ = std::make_unique<ChainFixture>(
        GWLServiceEndpoint{"http", "127.0.0.1", static_cast<uint16_t>(service_->port())});
    config_ = std::make_shared<ODCConfigFetcher>(chain_->context);
    candidates_ = std::make_shared<ODCCandidateFetcher>(chain_->context);
    validator_ = std::make_shared<ODCMatchValidator>(chain_->context);
    config_->setNextTask(candidates_);
    candidates_->setNextTask(validator_);
  }

  void TearDown() override {
    // The tasks go first, so that no answer still on its way finds them.
    config_.reset();
    candidates_.reset();
    validator_.reset();
    chain_.reset();
  }

  // Starts the chain on the serial queue, as the conversion service does.
  void Run() {
    chain_->queue->async([this] {
      config_->startTaskWithCompletion([this](std::optional<platform::Error> error) {
        std::lock_guard<std::mutex> lock(mutex_);
        ++endings_;
        error_ = std::move(error);
        ended_.notify_all();
      });
    });
  }

  // Waits for the chain to end; false when it did not.
  bool WaitForEnd() {
    std::unique_lock<std::mutex> lock(mutex_);
    return ended_.wait_for(lock, kIOWait, [this] { return endings_ > 0; });
  }
  // Waits until a failed attempt has scheduled its retry, or the chain ended.
  bool WaitForRetryOrEnd() {
    const auto deadline = std::chrono::steady_clock::now() + kIOWait;
    while (std::chrono::steady_clock::now() < deadline) {
      if (chain_->clock->pendingCalls() > 0) return true;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (endings_ > 0) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
  }
  // Lets the pending retry go out after `seconds` and waits for its outcome.
  void Retry(double seconds) {
    // The retry's own attempt may fail and arm the next retry at once on the
    // serial queue, so the clock's count of calls run is what tells.
    ASSERT_EQ(chain_->clock->pendingCalls(), 1u);
    const uint64_t fired = chain_->clock->firedCalls();
    chain_->clock->advance(seconds - 1);
    EXPECT_EQ(chain_->clock->firedCalls(), fired) << "retried before " << seconds << " s";
    chain_->clock->advance(1);
    ASSERT_EQ(chain_->clock->firedCalls(), fired + 1) << "not retried after " << seconds << " s";
    ASSERT_TRUE(WaitForRetryOrEnd());
  }

  int Endings() {
    std::lock_guard<std::mutex> lock(mutex_);
    return endings_;
  }
  std::optional<platform::Error> Error() {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
  }
  // The context's two answers, read on the serial queue.
  std::pair<std::optional<std::string>, std::optional<std::string>> Answers() {
    std::pair<std::optional<std::string>, std::optional<std::string>> answers;
    chain_->queue->sync([&] {
      answers = {chain_->context->measurementInfo(), chain_->context->aggregateConversionInfo()};
    });
    return answers;
  }

  std::vector<Captured> Requests() const {
    std::vector<Captured> requests;
    for (const std::string& text : tabulo::test::capturedRequests(directory_ / "capture")) {
      requests.push_back(Parse(text));
    }
    return requests;
  }
  std::vector<std::string> Paths() const {
    std::vector<std::string> paths;
    for (const Captured& request : Requests()) paths.push_back(request.method + " " + request.path);
    return paths;
  }

  platform::log::ScopedCapture log_;
  platform::testing::ScratchDirectory directory_;
  std::unique_ptr<CollectionServiceProcess> service_;
  std::unique_ptr<ChainFixture> chain_;
  std::shared_ptr<ODCConfigFetcher> config_;
  std::shared_ptr<ODCCandidateFetcher> candidates_;
  std::shared_ptr<ODCMatchValidator> validator_;
  std::mutex mutex_;
  std::condition_variable ended_;
  int endings_ = 0;
  std::optional<platform::Error> error_;
};

TEST_F(ODCChainLoopbackTest, AFullRunEndsWithBothStringsInTheContext) {
  Start(std::string(kConfig) + "," + kEntries + "," + kValidate);
  Run();
  ASSERT_TRUE(WaitForEnd());
  EXPECT_EQ(Error(), std::nullopt);
  EXPECT_EQ(Answers(), std::make_pair(std::optional<std::string>("vexa-1"), std::optional<std::string>("aaps-1")));

  const auto requests = Requests();
  ASSERT_EQ(Paths(), (std::vector<std::string>{"GET /odm/config", "POST /odm/psm", "POST /odm/validate"}));
  for (const Captured& request : requests) {
    EXPECT_EQ(request.value("version"), "1.2");
    EXPECT_EQ(request.value("bundle_id"), "com.halcyra.tabulo");
    EXPECT_EQ(request.value("app_version"), "1.0 beta&x=1");  // one value, not split
    EXPECT_EQ(request.query.count("x"), 0u);
    EXPECT_EQ(request.value("sdk_version"), "odm-sdk-i-v3.2.0");
    EXPECT_EQ(request.value("retry_count"), "0");
    EXPECT_EQ(request.value("odm2_count"), "0");
    EXPECT_EQ(request.value("source"), "vexa");
  }
  const Captured& config = requests[0];
  EXPECT_NE(config.rawQuery.find("&device_model=Model14%2C5&"), std::string::npos) << config.rawQuery;
  EXPECT_EQ(config.value("os_version"), "17.2 beta");
  EXPECT_EQ(config.value("user_default_language"), "en-us");
  EXPECT_EQ(config.value("time_zone_offset_minutes"), "-300");
  EXPECT_EQ(config.body, "");

  const Captured& candidates = requests[1];
  EXPECT_EQ(candidates.value("tfo"), "120");
  const nlohmann::json psmBody = candidates.json();
  ASSERT_TRUE(psmBody.is_object()) << candidates.body;
  EXPECT_EQ(candidates.body.rfind(R"({"psm_request":")", 0), 0u) << candidates.body;
  EXPECT_EQ(psmBody.value("odmed", "(absent)"), "ext-1");
  std::string bytes;
  ASSERT_TRUE(absl::WebSafeBase64Unescape(psmBody.value("psm_request", ""), &bytes));
  auto request = tabulo::psm_double::DeserializeBlindersRequest(bytes);
  ASSERT_TRUE(request.ok());
  EXPECT_EQ(request->parameters.hashed_non_sensitive_id_prefix_bit_length, 12);  // 12.9 truncated

  const Captured& validation = requests[2];
  EXPECT_EQ(validation.body.rfind(R"({"mvs":")", 0), 0u) << validation.body;
  EXPECT_EQ(validation.json().value("odmed", "(absent)"), "ext-1");
}

TEST_F(ODCChainLoopbackTest, AnEmptyConfigurationEndsTheRunAtOnceWithNothing) {
  for (const char* config : {R"("config": null)", R"("config": "")"}) {
    Start(std::string(config) + "," + kEntries + "," + kValidate);
    chain_->queue->async([this] {
      chain_->context->setMeasurementInfo("old");
      chain_->context->setAggregateConversionInfo("old");
    });
    Run();
    ASSERT_TRUE(WaitForEnd()) << config;
    EXPECT_EQ(Error(), std::nullopt) << config;
    EXPECT_EQ(Answers(), std::make_pair(std::optional<std::string>(), std::optional<std::string>())) << config;
    EXPECT_EQ(Paths(), std::vector<std::string>{"GET /odm/config"}) << config;
    EXPECT_TRUE(log_.sink().contains("Skipping PSM. Received empty config.")) << config;
    TearDown();
    std::filesystem::remove_all(directory_ / "capture");
    std::lock_guard<std::mutex> lock(mutex_);
    endings_ = 0;
  }
}

TEST_F(ODCChainLoopbackTest, WithoutExtensionDataBothBodiesCarryAnEmptyOne) {
  Start(R"("config": {"matching_id": "bWF0Y2gtMQ", "bucketed_date": "2024-05-01", "prefix_length": 12},)" +
        std::string(kEntries) + "," + kValidate);
  chain_->queue->async([this] { chain_->context->setIsSourceVEXA(false); });
  Run();
  ASSERT_TRUE(WaitForEnd());
  EXPECT_EQ(Error(), std::nullopt);
  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 3u);
  for (const Captured& request : requests) EXPECT_EQ(request.value("source"), "aaps");
  EXPECT_EQ(requests[1].json().value("odmed", "(absent)"), "");
  EXPECT_EQ(requests[2].json().value("odmed", "(absent)"), "");
  bool warned = false;
  for (const auto& record : log_.sink().records()) {
    warned |= record.code == "I-ODC005009" && record.level == platform::LogLevel::Warning;
  }
  EXPECT_TRUE(warned);
}

TEST_F(ODCChainLoopbackTest, APrefixLengthGivenAsTextFailsAndIsRetriedAfterAMinute) {
  Start(R"("config": {"matching_id": "bWF0Y2gtMQ", "bucketed_date": "2024-05-01", "prefix_length": "12"},)" +
        std::string(kEntries) + "," + kValidate);
  Run();
  ASSERT_TRUE(WaitForRetryOrEnd());
  EXPECT_EQ(Endings(), 0);
  EXPECT_TRUE(log_.sink().contains("Prefix length is not a number."));
  Retry(60);
  const auto requests = Requests();
  ASSERT_EQ(Paths(), (std::vector<std::string>{"GET /odm/config", "GET /odm/config"}));
  EXPECT_EQ(requests[0].value("retry_count"), "0");
  EXPECT_EQ(requests[1].value("retry_count"), "1");
}

TEST_F(ODCChainLoopbackTest, AnAnswerWithoutMatchesIsRetriedFiveTimesThenEndsTheChain) {
  Start(std::string(kConfig) + R"(, "entries": [], )" + kValidate);
  Run();
  ASSERT_TRUE(WaitForRetryOrEnd());
  for (double delay : {60, 120, 240, 480, 960}) Retry(delay);
  ASSERT_TRUE(WaitForEnd());
  EXPECT_EQ(Endings(), 1);
  ASSERT_TRUE(Error());
  EXPECT_EQ(Error()->code, 6007);
  EXPECT_EQ(Error()->description, "Empty MVs from PSM response conversion.");
  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 7u);
  EXPECT_EQ(requests[0].path, "/odm/config");
  for (size_t attempt = 0; attempt < 6; ++attempt) {
    EXPECT_EQ(requests[attempt + 1].path, "/odm/psm");
    EXPECT_EQ(requests[attempt + 1].value("retry_count"), std::to_string(attempt));
  }
  EXPECT_EQ(Answers(), std::make_pair(std::optional<std::string>(), std::optional<std::string>()));
}

TEST_F(ODCChainLoopbackTest, AServerFailureOnValidationRepeatsOnlyValidation) {
  Start(std::string(kConfig) + "," + kEntries +
        R"(, "validate": {"values": ["mv-b", "mv-c"], "answer": {"mv_vexa": "vexa-1", "mv_aaps": "aaps-1"},
                          "fail_statuses": [500]})");
  Run();
  ASSERT_TRUE(WaitForRetryOrEnd());
  EXPECT_EQ(Endings(), 0);
  EXPECT_TRUE(log_.sink().contains("HTTP status code is not OK or NO_CONTENT."));
  Retry(60);
  ASSERT_TRUE(WaitForEnd());
  EXPECT_EQ(Error(), std::nullopt);
  EXPECT_EQ(Answers(), std::make_pair(std::optional<std::string>("vexa-1"), std::optional<std::string>("aaps-1")));
  EXPECT_EQ(Paths(), (std::vector<std::string>{"GET /odm/config", "POST /odm/psm", "POST /odm/validate",
                                               "POST /odm/validate"}));
  EXPECT_EQ(Requests().back().value("retry_count"), "1");
}

TEST_F(ODCChainLoopbackTest, AValidationAnswerWithoutAggregateInfoStoresNothing) {
  Start(std::string(kConfig) + "," + kEntries +
        R"(, "validate": {"values": ["mv-b", "mv-c"], "answer": {"mv_vexa": "vexa-1"}})");
  Run();
  ASSERT_TRUE(WaitForRetryOrEnd());
  EXPECT_TRUE(log_.sink().contains("Aggregate conversion info is not a string."));
  EXPECT_EQ(Answers(), std::make_pair(std::optional<std::string>(), std::optional<std::string>()));
  for (double delay : {60, 120, 240, 480, 960}) Retry(delay);
  ASSERT_TRUE(WaitForEnd());
  ASSERT_TRUE(Error());
  EXPECT_EQ(Error()->code, 7001);
  EXPECT_EQ(Answers(), std::make_pair(std::optional<std::string>(), std::optional<std::string>()));
  EXPECT_EQ(Requests().size(), 8u);  // the configuration, the candidates, six validations
}

}  // namespace

#endif  // TABULO_HAS_COLLECTION_SERVICE
