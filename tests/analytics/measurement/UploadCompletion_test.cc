// The answers to an upload: what they do to the queue, the failure, back-off
// and success times, and the suspension after a failed delete.
#include <gtest/gtest.h>

#include "FailingStatements.h"
#include "UploadTestSupport.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"

namespace measurement_test {
namespace {

std::shared_ptr<const platform::HTTPURLResponse> answer(int status) {
  auto response = std::make_shared<platform::HTTPURLResponse>();
  response->statusCode = status;
  return response;
}

class UploadCompletionTest : public UploadTest {
 protected:
  void SetUp() override {
    UploadTest::SetUp();
    for (int i = 0; i < 3; ++i) enqueue(makeBundle());
    ids_ = queuedIDs();
    settings_->setLastFailedUploadTimestamp(kT0 - 100);
    settings_->setLastBackoffTimestamp(kT0 - 200);
  }
  // The answer to an upload of the first two bundles.
  void complete(std::shared_ptr<const platform::HTTPURLResponse> response,
                std::optional<platform::Error> error = std::nullopt) {
    onWorker([&] {
      engine->setUploadInProgressWithBundleIDs({ids_[0], ids_[1]});
      engine->networkUploadCompletionHandlerWithResponse(response, error);
    });
    drain();
  }
  std::vector<int64_t> ids_;
};

TEST_F(UploadCompletionTest, SuccessDeletesTheSentBundlesAndClearsTheFailureTimes) {
  for (int status : {200, 204}) {
    SCOPED_TRACE(status);
    engine->steps->take();
    complete(answer(status));
    EXPECT_EQ(settings_->lastSuccessfulUploadTimestamp(), clock_->now());
    EXPECT_EQ(settings_->lastFailedUploadTimestamp(), 0);
    EXPECT_EQ(settings_->lastBackoffTimestamp(), 0);
    EXPECT_TRUE(engine->uploadingBundleIDs().empty());
    EXPECT_EQ(engine->suspendedUploadTimestamp(), 0);
    settings_->setLastFailedUploadTimestamp(1);
  }
  EXPECT_EQ(queuedIDs(), std::vector<int64_t>{ids_[2]});
  // With data left and the network up, the next batch goes at once.
  const auto steps = engine->steps->take();
  EXPECT_NE(std::find(steps.begin(), steps.end(), "uploadData"), steps.end());
}

TEST_F(UploadCompletionTest, OtherAnswersCountARetryOfExactlyTheSentBundles) {
  struct Case {
    int status;
    bool backoff;
  };
  for (const Case& c : {Case{500, false}, Case{0, false}, Case{503, true}, Case{429, true}}) {
    SCOPED_TRACE(c.status);
    settings_->setLastBackoffTimestamp(0);
    const auto before = retryCounts();
    clock_->advance(10);
    if (c.status) {
      complete(answer(c.status));
    } else {
      complete(nullptr, platform::Error(platform::kHVUNetworkErrorDomain, platform::kHVUNetworkErrorTimedOut, "t"));
    }
    EXPECT_EQ(settings_->lastFailedUploadTimestamp(), clock_->now());
    EXPECT_EQ(settings_->lastBackoffTimestamp(), c.backoff ? clock_->now() : 0);
    EXPECT_EQ(settings_->lastSuccessfulUploadTimestamp(), 0);
    const auto after = retryCounts();
    ASSERT_EQ(after.size(), 3u) << "nothing is deleted";
    EXPECT_EQ(after[0], before[0] + 1);
    EXPECT_EQ(after[1], before[1] + 1);
    EXPECT_EQ(after[2], before[2]) << "a bundle that was not sent";
    EXPECT_TRUE(engine->uploadingBundleIDs().empty());
  }
}

// A delete that fails after a successful upload suspends uploads for an hour
// of uptime; the same bundles go again afterwards.
TEST_F(UploadCompletionTest, AFailedDeleteSuspendsUploadsForAnHour) {
  {
    std::unique_ptr<FailingStatements> failing;
    onWorker([&] { failing = std::make_unique<FailingStatements>(*database()); });
    failing->failNext("DELETE FROM queue");
    engine->steps->take();
    complete(answer(200));
    onWorker([&] { failing.reset(); });
  }
  EXPECT_EQ(engine->suspendedUploadTimestamp(), clock_->uptime());
  EXPECT_EQ(queuedIDs(), ids_);
  // The uploads asked for meanwhile only reschedule.
  onWorker([&] { engine->GWLMeasurement::uploadData(); });
  EXPECT_FALSE(printed(23033)) << "no upload started";
  clock_->advance(3599);
  onWorker([&] { engine->GWLMeasurement::uploadData(); });
  EXPECT_FALSE(printed(23033));
  clock_->advance(1);
  std::vector<GWLQueuedBundle> seen;
  auto batch = prepare(&seen);
  ASSERT_TRUE(batch);
  EXPECT_EQ(batch->bundleIDs, ids_) << "the same bundles go again";
  onWorker([&] { EXPECT_FALSE(engine->isUploadSuspended()); });
  EXPECT_EQ(engine->suspendedUploadTimestamp(), 0);
}

TEST_F(UploadCompletionTest, TheInFlightListIsHeldOnce) {
  onWorker([&] { engine->setUploadInProgressWithBundleIDs({}); });
  EXPECT_TRUE(sampled("Bundle list is empty"));
  onWorker([&] { engine->setUploadInProgressWithBundleIDs({ids_[0]}); });
  onWorker([&] { engine->setUploadInProgressWithBundleIDs({ids_[1]}); });
  EXPECT_TRUE(sampled("before finishing the previous upload"));
  EXPECT_EQ(engine->uploadingBundleIDs(), std::vector<int64_t>{ids_[0]});
}

}  // namespace
}  // namespace measurement_test
