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
#include "analytics/wire/GWLPBMeasurementConfig.h"
#include "analytics/wire/GWLPBSetting.h"

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

class EndToEndTest : public PipelineTest {
 protected:
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
};

}  // namespace measurement_test
