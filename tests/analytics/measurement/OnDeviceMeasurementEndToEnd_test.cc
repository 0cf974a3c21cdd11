// On-device measurement end to end: a started engine with its real uploads
// and configuration fetch, the library's on-device measurement and the
// conversion layer's clients, all against the local collection service on
// 127.0.0.1, whose PSM double answers the query. A value found for the app's
// user data travels in the next uploaded bundle; the test reads the recorded
// batch with the independent tag reader, and checks that no request the
// service saw carries the identifier.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

#include "EndToEndTestSupport.h"
#include "WireTagReader.h"
#include "absl/strings/escaping.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCPrivateSetMembershipFunctions.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCPrivateSetMembershipRegistration.h"
#include "analytics/attribution/GWLClassRegistry.h"
#include "analytics/attribution/GWLMeasurementOnDeviceMeasurement.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/measurement/GWLIdentity.h"
#include "analytics/wire/GWLPBSetting.h"
#include "tests/tools/CollectionServiceProcess.h"

namespace measurement_test {
namespace {

namespace fs = std::filesystem;
constexpr const char* kAppID = "1:123:ios:abc";
constexpr const char* kMember = "user@example.com";

std::string webSafe(const std::string& text) {
  std::string encoded;
  absl::WebSafeBase64Escape(text, &encoded);
  return encoded;
}

class OnDeviceMeasurementEndToEndTest : public EndToEndTest {
 protected:
  void SetUp() override {
    EndToEndTest::SetUp();
    serve(kAppID, *onDeviceConversionConfig());
    // Members are salted with the app ID the engine's identity answers.
    ASSERT_NO_FATAL_FAILURE(startService(attributionArguments(
        R"({"app_id": ")" + pipeline->appID().value_or("") + R"(",
      "psm": {"members": [{"identifier": ")" + kMember + R"(", "value": "v"}]}})")));
    // The conversion layer's client, also under the name of a linked membership client.
    ODCRegisterPrivateSetMembershipClients(*hosts);
    GWLClassRegistry<GWLPrivateSetMembershipClientClass>::registerClass(
        kGWLPSMClientClassName,
        GWLClassRegistry<GWLPrivateSetMembershipClientClass>::classNamed(kGWLPSMClientFallbackClassName));
    start();
    goOnline(kAppID);

    GWLMeasurementOnDeviceMeasurement::Dependencies dependencies;
    dependencies.engine = [weak = std::weak_ptr<PipelineMeasurement>(pipeline)]() -> std::shared_ptr<GWLMeasurementEngine> {
      return weak.lock();
    };
    dependencies.monitor = monitor_;
    dependencies.clock = clock_;
    odm_ = GWLMeasurementOnDeviceMeasurement::create(dependencies);
    GWLInstalledHook<GWLOnDeviceMeasurementHooks>::install(odm_);
    onWorker([&] { odm_->checkPSMDependencyOnWorkerQueue(); });
  }
  void TearDown() override {
    EndToEndTest::TearDown();
    odm_.reset();
    GWLClassRegistry<GWLPrivateSetMembershipClientClass>::resetForTesting();
    GWLClassRegistry<ODCPrivateSetMembershipGroupClientClass>::resetForTesting();
  }

  std::vector<std::string> capturedRequests() {
    std::vector<std::string> texts;
    for (const auto& file : filesIn(root_.path() / "capture")) texts.push_back(readFile(file));
    return texts;
  }

  std::shared_ptr<GWLMeasurementOnDeviceMeasurement> odm_;
};

TEST_F(OnDeviceMeasurementEndToEndTest, AFoundValueTravelsInTheNextUploadedBundle) {
  onWorker([&] { pipeline->GWLMeasurement::fetchRemoteConfig(); });
  settle();
  settings_->setFirstOpenTimestampMilliseconds(static_cast<int64_t>(clock_->now() * 1000) - 60'000);
  const double found = clock_->now();
  onWorker([&] { odm_->initiateODM1ProtocolWithUserData({{"email_address", std::string(kMember)}}); });
  settle();
  handle(event("after_match"));
  clock_->advance(15);
  settle();

  // The bundle of the events written after the match carries the value and the linkage flags.
  std::optional<std::vector<uint8_t>> matched;
  for (const auto& file : filesIn(root_.path() / "record")) {
    const std::string bytes = readFile(file);
    for (const auto& bundle : lengthDelimited(std::vector<uint8_t>(bytes.begin(), bytes.end()), 1)) {
      std::vector<std::string> names;
      for (const auto& e : lengthDelimited(bundle, 2)) names.push_back(asText(lengthDelimited(e, 2).at(0)));
      if (std::find(names.begin(), names.end(), "_fx") != names.end()) matched = bundle;
    }
  }
  ASSERT_TRUE(matched) << "no uploaded bundle holds the match event";
  const auto info = lengthDelimited(*matched, 84);
  ASSERT_EQ(info.size(), 1u);
  const auto value = lengthDelimited(info[0], 1);
  ASSERT_EQ(value.size(), 1u);
  EXPECT_EQ(topLevelFields(value[0])[1], std::vector<uint64_t>{static_cast<uint64_t>(found * 1000)});
  EXPECT_EQ(asText(lengthDelimited(value[0], 2).at(0)), webSafe("v"));
  // Bits 0 (app-data consent status) and 1 (a membership client is linked).
  EXPECT_EQ(topLevelFields(*matched)[87], std::vector<uint64_t>{3});

  // What left the device holds the address in no usable form.
  const std::vector<uint8_t> hash = ODCSHA256OfString(kMember);
  const std::string raw(hash.begin(), hash.end());
  const auto requests = capturedRequests();
  EXPECT_GE(requests.size(), 3u);  // configuration, query, upload
  for (const std::string& text : requests) {
    for (const std::string& identifier :
         {std::string(kMember), raw, absl::BytesToHexString(raw), webSafe(raw).substr(0, 40),
          absl::Base64Escape(raw).substr(0, 40)}) {
      EXPECT_EQ(text.find(identifier), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace measurement_test
