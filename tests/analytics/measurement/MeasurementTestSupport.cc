#include "MeasurementTestSupport.h"

#include <fstream>

#include "analytics/wire/GWLPBConsentConfig.h"
#include "analytics/wire/GWLPBConsentDefaultEntry.h"
#include "analytics/wire/GWLPBMeasurementConfig.h"
#include "analytics/wire/NANO.h"

namespace measurement_test {

std::shared_ptr<GWLRemoteConfig> configWith(const std::shared_ptr<GWLMonitor>& monitor,
                                            const std::map<std::string, std::string>& settings,
                                            const std::map<int32_t, int32_t>& consentDefaults) {
  auto config = std::make_shared<GWLRemoteConfig>(monitor);
  if (!consentDefaults.empty()) {
    auto measurementConfig = GWLPBMeasurementConfig::initWithMessageInfo();
    auto consent = GWLPBConsentConfig::initWithMessageInfo();
    std::vector<NANOValue> entries;
    for (auto [type, status] : consentDefaults) {
      auto entry = GWLPBConsentDefaultEntry::initWithMessageInfo();
      NANOSetInt32(entry, GWLPBConsentDefaultEntry::Field::consent_type, type);
      NANOSetInt32(entry, GWLPBConsentDefaultEntry::Field::consent_status, status);
      entries.emplace_back(std::shared_ptr<NANOMessageBase>(entry));
    }
    NANOSetArray(consent, GWLPBConsentConfig::Field::defaults, entries);
    NANOSetMessage(measurementConfig, GWLPBMeasurementConfig::Field::consent_config, consent);
    config->parseRemoteConfigFromMeasurementConfig(measurementConfig);
  }
  config->replaceCachedValues(settings);
  return config;
}

std::shared_ptr<platform::AppEnvironment> MeasurementTest::environmentWith(
    const platform::Dictionary& info, const std::optional<std::string>& serviceFileBytes) {
  const std::string infoPath = (app_.path() / "Info.plist").string();
  EXPECT_TRUE(platform::PropertyList::writeFile(infoPath, platform::Object(info), platform::PropertyListFormat::XML));
  const auto servicePath = app_.path() / "HalcyraService-Info.plist";
  std::filesystem::remove(servicePath);
  if (serviceFileBytes) std::ofstream(servicePath, std::ios::binary) << *serviceFileBytes;
  platform::AppEnvironment::Configuration configuration;
  configuration.infoDictionaryPath = infoPath;
  auto environment = platform::AppEnvironment::create(configuration);
  EXPECT_TRUE(environment);
  return environment;
}

}  // namespace measurement_test
