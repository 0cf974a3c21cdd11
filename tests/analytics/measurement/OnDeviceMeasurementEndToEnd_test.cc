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
    PipelineTest::SetUp();
    for (const char* directory : {"config", "record", "capture"}) fs::create_directories(root_.path() / directory);
    writeServedConfig();
    // Members are salted with the app ID the engine's identity answers.
    std::ofstream(root_.path() / "scenario.json") << R"({"app_id": ")" << pipeline->appID().value_or("") << R"(",
      "psm": {"members": [{"identifier": ")" << kMember << R"(", "value": "v"}]}})";
    service_ = std::make_unique<tabulo::test::CollectionServiceProcess>(std::vector<std::string>{
        "--record", (root_.path() / "record").string(), "--config-dir", (root_.path() / "config").string(),
        "--capture", (root_.path() / "capture").string(), "--psm-double",
        std::string(TABULO_BINARY_DIR) + "/tools/psm_double", "--attribution",
        (root_.path() / "scenario.json").string()});
    ASSERT_GT(service_->port(), 0);
    hosts = GWLServiceHosts::local("http", "127.0.0.1", static_cast<uint16_t>(service_->port()));
    // The conversion layer's client, also under the name of a linked membership client.
    ODCRegisterPrivateSetMembershipClients(*hosts);
    GWLClassRegistry<GWLPrivateSetMembershipClientClass>::registerClass(
        kGWLPSMClientClassName,
        GWLClassRegistry<GWLPrivateSetMembershipClientClass>::classNamed(kGWLPSMClientFallbackClassName));
    start();
    identity_->setAppIDFromQRX(std::string(kAppID));
    pipeline->realUploads = true;
    pipeline->network()->setReachabilityOverrideForTesting(true);

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
    if (pipeline) {
      settle();
      pipeline->realUploads = false;
    }
    PipelineTest::TearDown();
    odm_.reset();
    service_.reset();
    GWLClassRegistry<GWLPrivateSetMembershipClientClass>::resetForTesting();
    GWLClassRegistry<ODCPrivateSetMembershipGroupClientClass>::resetForTesting();
  }

  // A day-long configuration with the on-device conversion feature on.
  void writeServedConfig() {
    auto config = GWLPBMeasurementConfig::initWithMessageInfo();
    config->setAppId(kAppID);
    config->setSettings(servedSettings({{kGWLSettingRemoteConfigCacheTimeInterval, "86400000"},
                                        {kGWLSettingAdsOnDeviceConversionFeatureEnabled, "1"}}));
    writeServedConfigFile(root_.path() / "config", kAppID, *config);
  }

  std::vector<std::string> capturedRequests() {
    std::vector<std::string> texts;
    for (const auto& file : filesIn(root_.path() / "capture")) texts.push_back(readFile(file));
    return texts;
  }

  foundation_test::ScratchDirectory root_;
  std::unique_ptr<tabulo::test::CollectionServiceProcess> service_;
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
