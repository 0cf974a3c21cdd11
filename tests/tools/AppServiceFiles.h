// The app's service file (HalcyraService-Info.plist) as the app's tests use
// it: the app ID it names, and a collection-service configuration directory
// that serves that app an empty measurement configuration.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "analytics/wire/GWLPBMeasurementConfig.h"
#include "platform/corvane/CVNApp.h"
#include "platform/storage/PropertyList.h"

namespace tabulo::test {

// The app ID the service file names; empty when it names none.
inline std::string serviceFileAppID(const std::filesystem::path& file) {
  auto plist = platform::PropertyList::readFile(file.string());
  const platform::Dictionary* dictionary = plist ? plist->dictionaryValue() : nullptr;
  if (!dictionary) return "";
  auto found = dictionary->find(platform::kCVNServiceAppIDKey);
  const std::string* id = found != dictionary->end() ? found->second.stringValue() : nullptr;
  return id ? *id : "";
}

// Writes the configuration the service serves the app of `serviceFile` into
// `configDirectory`; answers the app ID (empty, and nothing written, when the
// file names none).
inline std::string serveEmptyConfiguration(const std::filesystem::path& serviceFile,
                                           const std::filesystem::path& configDirectory) {
  const std::string id = serviceFileAppID(serviceFile);
  if (id.empty()) return id;
  auto config = GWLPBMeasurementConfig::initWithMessageInfo();
  config->setAppId(id);
  const auto bytes = *config->protoBuffer();
  std::ofstream(configDirectory / (id + ".pb"), std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return id;
}

}  // namespace tabulo::test
