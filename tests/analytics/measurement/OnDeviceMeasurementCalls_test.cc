// The engine's calls into on-device measurement that its other tests do not
// reach: the app's user data, and the query that waited for an upload's
// network, run by the upload's completion when nothing more is to be sent.
// And the load call installs the library's own implementation.
#include <gtest/gtest.h>

#include "UploadTestSupport.h"
#include "analytics/attribution/GWLClassRegistry.h"
#include "analytics/attribution/GWLMeasurementConversionService.h"
#include "analytics/attribution/GWLMeasurementOnDeviceMeasurement.h"
#include "analytics/foundation/config/GWLInstalledHook.h"
#include "analytics/foundation/config/GWLOnDeviceMeasurementHooks.h"
#include "analytics/measurement/GWLLibraryLoad.h"

namespace measurement_test {
namespace {

class RecordingQueryHooks : public GWLOnDeviceMeasurementHooks {
 public:
  void initiateODM1ProtocolWithUserData(const platform::Dictionary& userData) override {
    std::lock_guard<std::mutex> lock(mutex);
    userDataSeen.push_back(userData);
  }
  bool isPSMRequestPostponed() override { return postponed.load(); }
  void setIsPSMRequestPostponed(bool value) override { postponed = value; }
  void retrievePSMResponse() override { ++retrieved; }
  void updateAdsOnDeviceConversionMeasurement() override {
    std::lock_guard<std::mutex> lock(mutex);
    configCalls.push_back("update");
  }
  void initiateODMGroupIDProtocol() override {
    std::lock_guard<std::mutex> lock(mutex);
    configCalls.push_back("group");
  }

  std::mutex mutex;
  std::vector<platform::Dictionary> userDataSeen;
  std::vector<std::string> configCalls;  // the calls after a configuration fetch, in order
  std::atomic<bool> postponed{false};
  std::atomic<int> retrieved{0};
};

std::shared_ptr<const platform::HTTPURLResponse> answer(int status) {
  auto response = std::make_shared<platform::HTTPURLResponse>();
  response->statusCode = status;
  return response;
}

class OnDeviceMeasurementCallsTest : public UploadTest {
 protected:
  void SetUp() override {
    UploadTest::SetUp();
    configure({});  // a fresh configuration: nothing makes the completion upload again
    GWLInstalledHook<GWLOnDeviceMeasurementHooks>::install(hooks_);
  }
  void TearDown() override {
    GWLInstalledHook<GWLOnDeviceMeasurementHooks>::resetForTesting();
    UploadTest::TearDown();
  }
  // A successful upload of the oldest queued bundle.
  void completeUpload() {
    const int64_t first = queuedIDs().front();
    onWorker([&] {
      engine->setUploadInProgressWithBundleIDs({first});
      engine->networkUploadCompletionHandlerWithResponse(answer(200), std::nullopt);
    });
    drain();
  }
  std::shared_ptr<RecordingQueryHooks> hooks_ = std::make_shared<RecordingQueryHooks>();
};

TEST_F(OnDeviceMeasurementCallsTest, UserDataReachTheQueryRun) {
  const platform::Dictionary data{{"email_address", "user@example.com"}};
  engine->setUserData(data);
  drain();
  std::lock_guard<std::mutex> lock(hooks_->mutex);
  EXPECT_EQ(hooks_->userDataSeen, std::vector<platform::Dictionary>{data});
}

// Every answered configuration fetch asks the conversion service, before the
// group-identifier trigger; a failed one does not.
TEST_F(OnDeviceMeasurementCallsTest, AnsweredConfigurationFetchesAskTheConversionService) {
  for (int status : {200, 204, 304, 404, 500}) {
    SCOPED_TRACE(status);
    {
      std::lock_guard<std::mutex> lock(hooks_->mutex);
      hooks_->configCalls.clear();
    }
    onWorker([&] { engine->networkRemoteConfigFetchCompletionHandler(answer(status), {}, std::nullopt); });
    drain();
    std::lock_guard<std::mutex> lock(hooks_->mutex);
    EXPECT_EQ(hooks_->configCalls,
              status == 500 ? std::vector<std::string>{} : (std::vector<std::string>{"update", "group"}));
  }
}

TEST_F(OnDeviceMeasurementCallsTest, APostponedQueryRunsAfterTheLastUploadOnly) {
  hooks_->postponed = true;
  enqueue(makeBundle());
  enqueue(makeBundle());
  completeUpload();  // one bundle is left to send
  EXPECT_EQ(hooks_->retrieved.load(), 0);
  EXPECT_TRUE(hooks_->postponed.load());

  onWorker([&] { (void)engine->database()->deleteBundlesWithRowIDs(queuedIDs()); });
  enqueue(makeBundle());
  completeUpload();
  EXPECT_EQ(hooks_->retrieved.load(), 1);
  EXPECT_FALSE(hooks_->postponed.load());

  enqueue(makeBundle());
  completeUpload();
  EXPECT_EQ(hooks_->retrieved.load(), 1) << "nothing postponed";
}

TEST(OnDeviceMeasurementLoad, TheLoadCallInstallsTheQueryRunAndTheConversionServiceAndRegistersTheirClasses) {
  GWLLibraryLoadResetForTesting();
  GWLLibraryLoad(std::make_shared<platform::ManualClock>());
  auto conversion =
      std::dynamic_pointer_cast<GWLMeasurementConversionService>(GWLInstalledHook<GWLOnDeviceMeasurementHooks>::get());
  ASSERT_TRUE(conversion);
  EXPECT_TRUE(std::dynamic_pointer_cast<GWLMeasurementOnDeviceMeasurement>(conversion->onDeviceMeasurement()));
  EXPECT_TRUE(GWLMeasurementOnDeviceMeasurement::PSMClientClass());
  EXPECT_TRUE(GWLMeasurementOnDeviceMeasurement::PSMGroupClientClass());
  EXPECT_TRUE(conversion->isHalcyraAdsOnDeviceConversionLinked());
  GWLLibraryLoadResetForTesting();
  EXPECT_FALSE(GWLInstalledHook<GWLOnDeviceMeasurementHooks>::isInstalled());
  EXPECT_FALSE(GWLMeasurementOnDeviceMeasurement::PSMClientClass());
  EXPECT_FALSE(GWLMeasurementOnDeviceMeasurement::PSMGroupClientClass());
  EXPECT_FALSE(GWLMeasurementConversionService::isAdsOnDeviceConversionLinked());
}

}  // namespace
}  // namespace measurement_test
