// A downloaded configuration body: decoded, stored, parsed and loaded again
// as after a restart. Whatever the bytes, nothing crashes, the bounded
// getters stay in their bounds and the URLs stay well-formed.
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <span>
#include <string>

#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/config/GWLRemoteConfigStore.h"
#include "analytics/foundation/config/GWLServerStrings.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/wire/GWLPBMeasurementConfig.h"
#include "analytics/wire/NANO.h"
#include "platform/dispatch/Clock.h"

namespace {

constexpr const char* kAppID = "1:1:ios:fuzz";

std::shared_ptr<GWLMonitor> quietMonitor() {
  static std::shared_ptr<GWLMonitor> monitor = [] {
    GWLMonitor::Dependencies dependencies;  // no preferences: nothing is stored
    dependencies.clock = std::make_shared<platform::ManualClock>();
    return GWLMonitor::create(6, nullptr, 1, dependencies);
  }();
  return monitor;
}

class Store : public GWLRemoteConfigStore {
 public:
  bool updateRemoteConfig(const GWLPBMeasurementConfig& config, platform::Error*) override {
    auto encoded = config.protoBuffer();
    if (!encoded || encoded->empty()) return false;
    bytes = *encoded;
    return true;
  }
  std::shared_ptr<GWLPBMeasurementConfig> queryMeasurementConfig(platform::Error*) override {
    return bytes.empty() ? nullptr : GWLPBMeasurementConfig::initWithBuffer(bytes);
  }
  std::optional<double> lastRemoteConfigUpdateTimestamp(platform::Error*) override { return 0; }
  std::vector<uint8_t> bytes;
};

void check(bool condition) {
  if (!condition) std::abort();
}

void inspect(const GWLRemoteConfig& config) {
  check(GWLIsValidServerURL(config.uploadURL()));
  auto fetchURL = config.remoteConfigURLWithPlatform("ios", 1, 1);
  check(fetchURL && GWLIsValidServerURL(*fetchURL));
  if (auto url = config.SVTPUploadURL()) check(GWLIsValidServerURL(*url));
  if (auto headers = config.SVTPUploadHTTPHeaders()) {
    for (const auto& [name, value] : *headers) check(GWLIsValidHTTPHeaderValue(value));
  }
  int32_t email = config.hashPrefixBitLengthEmail();
  check(email >= 6 && email <= 20);
  int32_t phone = config.hashPrefixBitLengthPhone();
  check(phone >= 6 && phone <= 18);
  int32_t delay = config.maxSignInDelayInDays();
  check(delay >= 7 && delay <= 90);
  for (const char* name : {"_vs", "screen_view", "purchase", "_e"}) {
    int32_t rate = config.samplingRateForEvent(name);
    check(rate >= 1 && rate <= 65535);
    (void)config.isEventBlocklisted(name);
  }
  (void)config.consentDefaults();
  (void)config.dataControls();
  (void)config.version();
  (void)config.SVTPUploadEnabled();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  GWLRemoteConfig::Dependencies dependencies;
  dependencies.monitor = quietMonitor();
  dependencies.clock = std::make_shared<platform::ManualClock>();
  dependencies.infoDictionaryValue = [](const std::string&) { return std::optional<platform::Object>(true); };
  auto store = std::make_shared<Store>();
  auto config = GWLRemoteConfig::initWithAppID(kAppID, store, nullptr, dependencies);
  auto downloaded = config->measurementConfigFromData(std::span<const uint8_t>(data, size));
  if (!downloaded) return 0;
  // Parsed only for this app: take the body's fields under our identifier.
  NANOSetString(downloaded, GWLPBMeasurementConfig::Field::app_id, kAppID);
  if (!config->updateMeasurementConfig(downloaded)) return 0;
  inspect(*config);
  auto restarted = GWLRemoteConfig::initWithAppID(kAppID, store, nullptr, dependencies);
  check(restarted->version() == config->version());
  inspect(*restarted);
  return 0;
}
