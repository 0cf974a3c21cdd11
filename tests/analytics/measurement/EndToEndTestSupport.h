// End-to-end tests of a started engine against the local collection service
// (tests/tools/CollectionServiceProcess.h): the files the service records,
// the configuration it serves, and a fixture that waits for the engine's
// request in flight.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "PipelineTestSupport.h"
#include "analytics/foundation/FoundationTestSupport.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/wire/GWLPBMeasurementConfig.h"
#include "analytics/wire/GWLPBSetting.h"
#include "tests/tools/CollectionServiceProcess.h"

namespace measurement_test {

inline std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The files of a directory in name order (the service numbers its batches); none when it does not exist.
inline std::vector<std::filesystem::path> filesIn(const std::filesystem::path& directory) {
  std::vector<std::filesystem::path> files;
  if (!std::filesystem::exists(directory)) return files;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

inline std::string asText(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The configuration's settings from (name, value) pairs.
inline std::vector<std::shared_ptr<GWLPBSetting>> servedSettings(
    const std::vector<std::pair<std::string, std::string>>& pairs) {
  std::vector<std::shared_ptr<GWLPBSetting>> settings;
  for (const auto& [name, value] : pairs) {
    auto setting = GWLPBSetting::initWithMessageInfo();
    setting->setSettingName(name);
    setting->setSettingValue(value);
    settings.push_back(setting);
  }
  return settings;
}

// Puts `config` where the service started with `--config-dir directory` serves it for `appID`.
inline void writeServedConfigFile(const std::filesystem::path& directory, const std::string& appID,
                                  const GWLPBMeasurementConfig& config) {
  const auto bytes = *config.protoBuffer();
  std::ofstream(directory / (appID + ".pb"), std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A day-long configuration with the on-device conversion feature on.
inline std::shared_ptr<GWLPBMeasurementConfig> onDeviceConversionConfig() {
  auto config = GWLPBMeasurementConfig::initWithMessageInfo();
  config->setSettings(servedSettings({{kGWLSettingRemoteConfigCacheTimeInterval, "86400000"},
                                      {kGWLSettingAdsOnDeviceConversionFeatureEnabled, "1"}}));
  return config;
}

// An engine against the local collection service, which records batches in
// root_/record, serves configurations from root_/config and captures every
// request in root_/capture.
class EndToEndTest : public PipelineTest {
 protected:
  void SetUp() override {
    PipelineTest::SetUp();
    for (const char* directory : {"config", "record", "capture"}) {
      std::filesystem::create_directories(root_.path() / directory);
    }
  }
  void TearDown() override {
    if (pipeline) {
      settle();
      pipeline->realUploads = false;
    }
    PipelineTest::TearDown();
    service_.reset();
  }

  // Starts the service on this test's directories with `arguments` besides,
  // and points the engine's hosts at it.
  void startService(const std::vector<std::string>& arguments = {}, const std::string& scheme = "http") {
    std::vector<std::string> all = {"--record",     (root_.path() / "record").string(),
                                    "--config-dir", (root_.path() / "config").string(),
                                    "--capture",    (root_.path() / "capture").string()};
    all.insert(all.end(), arguments.begin(), arguments.end());
    service_ = std::make_unique<tabulo::test::CollectionServiceProcess>(all);
    ASSERT_GT(service_->port(), 0);
    hosts = GWLServiceHosts::local(scheme, "127.0.0.1", static_cast<uint16_t>(service_->port()));
  }
  // The service's arguments for the attribution routes: the PSM double and
  // `scenario` (JSON text) as the attribution scenario.
  std::vector<std::string> attributionArguments(const std::string& scenario) {
    const auto file = root_.path() / "scenario.json";
    std::ofstream(file) << scenario;
    return {"--psm-double", std::string(TABULO_BINARY_DIR) + "/tools/psm_double", "--attribution", file.string()};
  }
  // Serves `config` as the configuration of `appID`.
  void serve(const std::string& appID, GWLPBMeasurementConfig& config) {
    config.setAppId(appID);
    writeServedConfigFile(root_.path() / "config", appID, config);
  }
  // The started engine, known as `appID`, uploads to the service for real.
  void goOnline(const std::string& appID) {
    identity_->setAppIDFromQRX(appID);
    pipeline->realUploads = true;
    pipeline->network()->setReachabilityOverrideForTesting(true);
  }

  // Waits for the engine's request in flight (if any) and what its answer starts.
  void settle() {
    for (int round = 0; round < 4000; ++round) {
      drain();
      if (!pipeline->isNetworkRequestPending()) {
        drain();
        if (!pipeline->isNetworkRequestPending()) return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ADD_FAILURE() << "a request did not finish";
  }

  foundation_test::ScratchDirectory root_;
  std::unique_ptr<tabulo::test::CollectionServiceProcess> service_;
};

}  // namespace measurement_test
