// Texts of the downloaded configuration's settings: every typed getter must
// answer a value within its bounds or its default, whatever the text.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "platform/dispatch/Clock.h"

namespace {
std::shared_ptr<GWLMonitor> quietMonitor() {
  static std::shared_ptr<GWLMonitor> monitor = [] {
    GWLMonitor::Dependencies dependencies;  // no preferences: nothing is stored
    dependencies.clock = std::make_shared<platform::ManualClock>();
    return GWLMonitor::create(6, nullptr, 1, dependencies);
  }();
  return monitor;
}

void check(bool condition) {
  if (!condition) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  GWLRemoteConfig config(quietMonitor());
  config.replaceCachedValues({{kGWLSettingUploadingInterval, text},
                              {kGWLSettingUploadingRetryCount, text},
                              {kGWLSettingUploadMaxSizeLimitBytes, text},
                              {kGWLSettingChecksumEnabled, text},
                              {kGWLSettingMaxBundlesCreatedPerIteration, text},
                              {kGWLSettingAnalyticsAccountTimeZoneOffsetMinutes, text}});
  double interval = config.uploadingInterval();
  check(interval == 3600 || (interval >= 15 && interval <= 86400));
  int32_t retries = config.uploadingRetryCount();
  check(retries >= 1 && retries <= 24);
  int64_t bytes = config.uploadMaxSizeLimitBytes();
  check(bytes >= 0 && bytes <= 10485760);
  int32_t bundles = config.maxBundlesCreatedPerIteration();
  check(bundles >= 1 && bundles <= 10000);
  int32_t offset = config.analyticsAccountTimeZoneOffsetMinutes();
  check(offset >= -900 && offset <= 900);
  (void)config.checksumEnabled();
  (void)config.int64ValueFromCacheWithKey(kGWLSettingUploadingInterval, 0);
  return 0;
}
