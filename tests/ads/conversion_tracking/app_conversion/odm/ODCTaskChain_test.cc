// The conversion task chain's requests and answer handling, without a
// network: the URLs each task builds, what the configuration answer becomes,
// and the retry schedule on the manual clock.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "ODCChainTestSupport.h"
#include "absl/strings/escaping.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCCandidateFetcher.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCConfigFetcher.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCError.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCMatchValidator.h"
#include "analytics/attribution/testing/PSMWireTestCodecs.h"
#include "platform/core/Log.h"

namespace {

using tabulo::test::ChainFixture;

std::span<const uint8_t> Span(const std::string& text) {
  return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

constexpr const char* kCommonVEXA =
    "version=1.2&bundle_id=com.halcyra.tabulo&app_version=1.0%20beta%26x%3D1&sdk_version=odm-sdk-i-v3.2.0"
    "&retry_count=0&odm2_count=3&source=vexa";

TEST(ODCTaskChainRequests, URLsCarryTheRunsFactsAsSingleQueryValues) {
  ChainFixture fixture;
  fixture.store->runs = 3;
  auto config = std::make_shared<ODCConfigFetcher>(fixture.context);
  auto candidates = std::make_shared<ODCCandidateFetcher>(fixture.context);
  auto validator = std::make_shared<ODCMatchValidator>(fixture.context);
  EXPECT_EQ(config->commonQueryParameters(), kCommonVEXA);
  EXPECT_EQ(config->configRequestURL(),
            std::string("https://odm.example/odm/config?") + kCommonVEXA +
                "&device_model=Model14%2C5&os_version=17.2%20beta&user_default_language=en-us"
                "&time_zone_offset_minutes=-300");
  EXPECT_EQ(candidates->PSMRequestURL(), std::string("https://odm.example/odm/psm?") + kCommonVEXA + "&tfo=120");
  EXPECT_EQ(validator->validationRequestURL(), std::string("https://odm.example/odm/validate?") + kCommonVEXA);

  fixture.context->setIsSourceVEXA(false);
  fixture.store->runs.reset();
  EXPECT_NE(validator->validationRequestURL().find("&odm2_count=0&source=aaps"), std::string::npos);

  // The first launch cut to the minute, plus one.
  const struct {
    std::optional<double> firstLaunch;
    const char* tfo;
  } launches[] = {{119.5, "&tfo=120"}, {120, "&tfo=180"}, {59.9, "&tfo=60"}, {std::nullopt, "&tfo=60"},
                  {1e300, "&tfo=9223372036854775807"}};
  for (const auto& launch : launches) {
    fixture.store->firstLaunch = launch.firstLaunch;
    const std::string url = candidates->PSMRequestURL();
    EXPECT_EQ(url.substr(url.rfind('&')), launch.tfo) << launch.firstLaunch.value_or(-1);
  }
}

TEST(ODCTaskChainRequests, AMissingLanguageIsSentEmpty) {
  ChainFixture fixture(GWLServiceEndpoint{"http", "127.0.0.1", 8080}, {"iPhone14,5", "17.0", std::nullopt, 60});
  auto config = std::make_shared<ODCConfigFetcher>(fixture.context);
  const std::string url = config->configRequestURL();
  EXPECT_EQ(url.rfind("http://127.0.0.1:8080/odm/config?", 0), 0u) << url;
  EXPECT_NE(url.find("&device_model=iPhone14%2C5&os_version=17.0&user_default_language=&time_zone_offset_minutes=60"),
            std::string::npos)
      << url;
}

TEST(ODCTaskChainRequests, OnlyOKAndNoContentPassTheStatusCheck) {
  platform::log::ScopedCapture capture;
  for (int status : {200, 204}) {
    platform::HTTPURLResponse response;
    response.statusCode = status;
    EXPECT_TRUE(ODCAsyncTask::checkHTTPResponse(&response, nullptr)) << status;
  }
  for (int status : {304, 500, 0}) {
    platform::HTTPURLResponse response;
    response.statusCode = status;
    platform::Error error;
    EXPECT_FALSE(ODCAsyncTask::checkHTTPResponse(status ? &response : nullptr, &error)) << status;
    EXPECT_EQ(error, platform::Error(kODCErrorDomain, 4000, "HTTP status code is not OK or NO_CONTENT."));
  }
}

TEST(ODCConfigFetcher, TurnsTheConfigurationIntoTheCandidatesRequest) {
  const std::string matchingID = absl::WebSafeBase64Escape("match-1");
  struct Case {
    std::string body;
    int64_t code;  // 0: success
    int32_t prefixLength = 0;
    std::optional<std::string> extensionData = std::nullopt;
  };
  const std::string prefix = R"({"matching_id":")" + matchingID + R"(","bucketed_date":"2024-05-01","prefix_length":)";
  const Case cases[] = {
      {prefix + R"(12.9,"extension_data":"ext-1"})", 0, 12, "ext-1"},
      {prefix + "-12.9}", 5000},  // truncated to -12, which the blinders client refuses
      {prefix + "0}", 0, 0},
      {prefix + "12,\"extension_data\":7}", 0, 12},
      {prefix + R"("12"})", 5004},
      {prefix + "true}", 5004},
      {prefix + "null}", 5004},
      {prefix + "2147483648}", 5004},
      {prefix + "-2147483649}", 5004},
      {prefix + "3e9}", 5004},
      {prefix + "2147483647.5}", 5001},  // in range, too long for a request
      {R"({"bucketed_date":"2024-05-01","prefix_length":12})", 5002},
      {R"({"matching_id":7,"bucketed_date":"2024-05-01","prefix_length":12})", 5002},
      {R"({"matching_id":")" + matchingID + R"(","prefix_length":12})", 5003},
      {R"({"matching_id":"a+b","bucketed_date":"d","prefix_length":12})", 5000},
      {"[]", 2001},
  };
  for (const Case& c : cases) {
    ChainFixture fixture;
    auto config = std::make_shared<ODCConfigFetcher>(fixture.context);
    platform::log::ScopedCapture capture;
    platform::Error error;
    const bool made = config->createPSMRequestWithData(Span(c.body), &error);
    ASSERT_EQ(made, c.code == 0) << c.body << ": " << error.toString();
    if (!made) {
      EXPECT_EQ(error.code, c.code) << c.body;
      EXPECT_FALSE(fixture.context->candidateRequestPayload()) << c.body;
      continue;
    }
    const ODCContext& context = *fixture.context;
    ASSERT_TRUE(context.PSMClient() && context.PSMRequest() && context.candidateRequestPayload()) << c.body;
    EXPECT_EQ(context.extensionData(), c.extensionData);
    std::string bytes;
    ASSERT_TRUE(absl::WebSafeBase64Unescape(*context.PSMRequest(), &bytes));
    EXPECT_EQ(context.PSMRequest()->find('='), std::string::npos);
    auto request = tabulo::psm_double::DeserializeBlindersRequest(bytes);
    ASSERT_TRUE(request.ok());
    EXPECT_EQ(request->use_case, 35);
    EXPECT_EQ(request->parameters.hashed_non_sensitive_id_prefix_bit_length, c.prefixLength) << c.body;
    const std::string payload(context.candidateRequestPayload()->begin(), context.candidateRequestPayload()->end());
    EXPECT_EQ(payload, R"({"psm_request":")" + *context.PSMRequest() + R"(","odmed":")" +
                           c.extensionData.value_or("") + R"("})");
    EXPECT_EQ(capture.sink().contains("Extension data is not a string."), !c.extensionData) << c.body;
  }
}

// A task whose first `failures` attempts fail; every attempt is counted.
class FlakyTask : public ODCAsyncTask {
 public:
  FlakyTask(std::shared_ptr<ODCContext> context, int failures) : ODCAsyncTask(std::move(context)), failures_(failures) {}
  void executeTask() override {
    ++attempts;
    if (attempts <= failures_) return finishTaskWithError(platform::Error("test", attempts));
    finishTaskWithError(std::nullopt);
  }
  int attempts = 0;

 private:
  int failures_;
};

struct Ending {
  int calls = 0;
  std::optional<platform::Error> error;
};

TEST(ODCAsyncTask, RetriesAfterGrowingDelaysThenGivesUpWithTheLastError) {
  ChainFixture fixture;
  auto task = std::make_shared<FlakyTask>(fixture.context, 100);
  Ending ending;
  fixture.queue->async([&] {
    task->startTaskWithCompletion([&](std::optional<platform::Error> error) {
      ++ending.calls;
      ending.error = std::move(error);
    });
  });
  fixture.queue->flush();
  int expected = 1;
  EXPECT_EQ(task->attempts, expected);
  for (double delay : {60, 120, 240, 480, 960}) {
    fixture.clock->advance(delay - 0.001);
    fixture.queue->flush();
    EXPECT_EQ(task->attempts, expected) << "early at " << delay;
    fixture.clock->advance(0.001);
    fixture.queue->flush();
    EXPECT_EQ(task->attempts, ++expected) << delay;
  }
  EXPECT_EQ(task->attempts, 6);
  EXPECT_EQ(task->retryCount(), 5);
  EXPECT_EQ(fixture.clock->pendingCalls(), 0u);
  EXPECT_EQ(ending.calls, 1);
  EXPECT_EQ(ending.error, platform::Error("test", 6));
}

TEST(ODCAsyncTask, ASuccessStartsTheNextTaskAfreshAndTheLastEndsTheChain) {
  ChainFixture fixture;
  auto first = std::make_shared<FlakyTask>(fixture.context, 1);
  auto second = std::make_shared<FlakyTask>(fixture.context, 0);
  first->setNextTask(second);
  Ending ending;
  auto start = [&] {
    fixture.queue->async([&] {
      first->startTaskWithCompletion([&](std::optional<platform::Error> error) {
        ++ending.calls;
        ending.error = std::move(error);
      });
    });
    fixture.queue->flush();
  };
  start();
  EXPECT_EQ(second->attempts, 0);
  fixture.clock->advance(60);
  fixture.queue->flush();
  EXPECT_EQ(first->attempts, 2);
  EXPECT_EQ(second->attempts, 1);
  EXPECT_EQ(second->retryCount(), 0);
  EXPECT_EQ(ending.calls, 1);
  EXPECT_EQ(ending.error, std::nullopt);

  // A new run starts counting again.
  start();
  EXPECT_EQ(first->retryCount(), 0);
  EXPECT_EQ(ending.calls, 2);
}

TEST(ODCAsyncTask, ATaskGoneBeforeItsRetryIsNotRetried) {
  ChainFixture fixture;
  auto task = std::make_shared<FlakyTask>(fixture.context, 100);
  std::weak_ptr<FlakyTask> watch = task;
  int calls = 0;
  fixture.queue->async([&] { task->startTaskWithCompletion([&](std::optional<platform::Error>) { ++calls; }); });
  fixture.queue->flush();
  task.reset();
  EXPECT_TRUE(watch.expired());
  fixture.clock->advance(3600);
  fixture.queue->flush();
  EXPECT_EQ(calls, 0);
}

}  // namespace
