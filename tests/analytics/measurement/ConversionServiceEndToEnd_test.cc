// The on-device conversion service end to end: a started engine with its real
// uploads and configuration fetch, the engine's hook-up of the service and the
// conversion layer's own service and task chain, all against the local
// collection service on 127.0.0.1 (its on-device measurement routes answer
// from the scenario). After a configuration fetch the service's value is the
// row "odm2_value", and the next uploaded bundle carries it at on-device info
// tag 3, with linkage bit 3 set; the test reads the recorded batch with the
// independent tag reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "EndToEndTestSupport.h"
#include "WireTagReader.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCConversionService.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCConversionStore.h"
#include "analytics/attribution/GWLClassRegistry.h"
#include "analytics/attribution/GWLMeasurementConversionService.h"
#include "analytics/attribution/GWLMeasurementOnDeviceMeasurement.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/measurement/GWLIdentity.h"
#include "analytics/wire/GWLPBSetting.h"
#include "platform/env/AppEnvironment.h"
#include "platform/storage/PropertyList.h"
#include "tests/tools/CollectionServiceProcess.h"

namespace measurement_test {
namespace {

namespace fs = std::filesystem;
constexpr const char* kAppID = "1:123:ios:abc";

// The service's class as the engine finds it: this test's instance.
class TestServiceClass : public ODCConversionServiceClass {
 public:
  explicit TestServiceClass(std::shared_ptr<ODCConversionService> service) : service_(std::move(service)) {}
  std::shared_ptr<ODCConversionServiceProtocol> sharedInstance() const override { return service_; }

 private:
  std::shared_ptr<ODCConversionService> service_;
};

class ConversionServiceEndToEndTest : public EndToEndTest {
 protected:
  void SetUp() override {
    EndToEndTest::SetUp();
    fs::create_directories(root_.path() / "support");
    serve(kAppID, *onDeviceConversionConfig());
    ASSERT_NO_FATAL_FAILURE(startService(attributionArguments(R"({"bundle_id": "com.halcyra.tabulo", "odm": {
      "config": {"matching_id": "bWF0Y2gtMQ", "bucketed_date": "2024-05-01", "prefix_length": 12},
      "entries": [{"value": "mv-b", "order_key": 5, "kind": 1, "group": "g1"},
                  {"value": "mv-c", "order_key": 1, "group": "g2"}],
      "validate": {"values": ["mv-b", "mv-c"], "answer": {"mv_vexa": "vexa-1", "mv_aaps": "aaps-1"}}}})")));
    start();
    goOnline(kAppID);

    // The conversion layer's service, first launched a day ago, registered by name.
    const std::string info = (root_.path() / "Info.plist").string();
    ASSERT_TRUE(platform::PropertyList::writeFile(info, platform::Dictionary{{"CFBundleIdentifier", "com.halcyra.tabulo"}},
                                                  platform::PropertyListFormat::XML));
    platform::AppEnvironment::Configuration app;
    app.infoDictionaryPath = info;
    auto environment = platform::AppEnvironment::create(app);
    ODCConversionService::Dependencies dependencies;
    dependencies.applicationSupportDirectory = [support = (root_.path() / "support").string()] {
      return std::optional<std::string>(support);
    };
    dependencies.loadDate = clock_->now() - 86'400;
    dependencies.installation.clock = clock_;
    dependencies.installation.endpoint = hosts->onDeviceMeasurement;
    dependencies.installation.app = environment;
    conversion_ = ODCConversionService::create(std::move(dependencies));
    GWLClassRegistry<ODCConversionServiceClass>::registerClass(kODCConversionServiceClassName,
                                                               std::make_shared<TestServiceClass>(conversion_));

    // The hook-up in front of the PSM runs, as the load call installs them.
    auto engine = [weak = std::weak_ptr<PipelineMeasurement>(pipeline)]() -> std::shared_ptr<GWLMeasurementEngine> {
      return weak.lock();
    };
    GWLMeasurementOnDeviceMeasurement::Dependencies psm;
    psm.engine = engine;
    psm.monitor = monitor_;
    psm.clock = clock_;
    GWLMeasurementConversionService::Dependencies hookup;
    hookup.onDeviceMeasurement = GWLMeasurementOnDeviceMeasurement::create(psm);
    hookup.engine = engine;
    hookup.monitor = monitor_;
    hookup.clock = clock_;
    hookup.environment = environment;
    GWLInstalledHook<GWLOnDeviceMeasurementHooks>::install(GWLMeasurementConversionService::create(hookup));
  }
  void TearDown() override {
    EndToEndTest::TearDown();
    GWLInstalledHook<GWLOnDeviceMeasurementHooks>::resetForTesting();
    GWLClassRegistry<ODCConversionServiceClass>::resetForTesting();
    conversion_.reset();
  }

  // Waits (for the service's real I/O) until the row "odm2_value" is stored.
  std::optional<platform::Dictionary> waitForStoredValue() {
    for (int round = 0; round < 4000; ++round) {
      drain();
      std::optional<platform::Dictionary> row;
      onWorker([&] { row = pipeline->database()->ODMValueWithName(kGWLODM2ValueRowName); });
      if (row) return row;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return std::nullopt;
  }

  std::shared_ptr<ODCConversionService> conversion_;
};

TEST_F(ConversionServiceEndToEndTest, TheServicesValueTravelsInTheNextUploadedBundle) {
  settings_->setFirstOpenTimestampMilliseconds(static_cast<int64_t>(clock_->now() * 1000) - 60'000);
  onWorker([&] { pipeline->GWLMeasurement::fetchRemoteConfig(); });
  settle();
  const auto row = waitForStoredValue();
  ASSERT_TRUE(row) << "the configuration fetch did not store the service's value";
  EXPECT_EQ(*row->at("value").stringValue(), "vexa-1");
  const double stored = row->at("set_timestamp").doubleValueOrZero();
  // The service was told the engine's first open and kept its answers.
  conversion_->serialQueue()->sync([&] {
    EXPECT_EQ(conversion_->conversionStore()->firstLaunchTimestamp(), clock_->now() - 60);
    EXPECT_EQ(conversion_->conversionStore()->measurementInfo(), "vexa-1");
  });

  handle(event("after_value"));
  clock_->advance(15);
  settle();

  std::optional<std::vector<uint8_t>> carried;
  for (const auto& file : filesIn(root_.path() / "record")) {
    const std::string bytes = readFile(file);
    for (const auto& bundle : lengthDelimited(std::vector<uint8_t>(bytes.begin(), bytes.end()), 1)) {
      for (const auto& e : lengthDelimited(bundle, 2)) {
        if (asText(lengthDelimited(e, 2).at(0)) == "after_value") carried = bundle;
      }
    }
  }
  ASSERT_TRUE(carried) << "no uploaded bundle holds the event written after the value";
  const auto info = lengthDelimited(*carried, 84);
  ASSERT_EQ(info.size(), 1u);
  EXPECT_TRUE(lengthDelimited(info[0], 1).empty());
  const auto value = lengthDelimited(info[0], 3);
  ASSERT_EQ(value.size(), 1u);
  EXPECT_EQ(topLevelFields(value[0])[1], std::vector<uint64_t>{static_cast<uint64_t>(stored * 1000)});
  EXPECT_EQ(asText(lengthDelimited(value[0], 2).at(0)), "vexa-1");
  const auto flags = topLevelFields(*carried)[87];
  ASSERT_EQ(flags.size(), 1u);
  EXPECT_TRUE(flags[0] & (1u << 3)) << flags[0];
  EXPECT_FALSE(flags[0] & (1u << 2)) << flags[0];
}

}  // namespace
}  // namespace measurement_test
