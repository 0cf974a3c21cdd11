#include "analytics/attribution/GWLStoredDeepLink.h"

#include <cmath>
#include <limits>

#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLUserDefaults.h"
#include "platform/dispatch/Clock.h"

namespace {
constexpr int64_t kMillisecondsPerHour = 3600000;
}  // namespace

void GWLStoreDeepLink(GWLUserDefaults& defaults, const std::string& url, const std::optional<std::string>& referrer,
                      const platform::Clock& clock) {
  defaults.setObject(platform::Object(clock.now()), kGWLStoredDeepLinkTimestampKey);
  defaults.setObject(referrer ? platform::Object(*referrer) : platform::Object(), kGWLStoredDeepLinkReferrerKey);
  defaults.setObject(platform::Object(url), kGWLStoredDeepLinkKey);
}

void GWLClearStoredDeepLink(GWLUserDefaults& defaults) {
  defaults.removeObjectForKey(kGWLStoredDeepLinkKey);
  defaults.removeObjectForKey(kGWLStoredDeepLinkTimestampKey);
  defaults.removeObjectForKey(kGWLStoredDeepLinkReferrerKey);
}

bool GWLIsStoredDeepLinkOlderThan(const GWLUserDefaults& defaults, double seconds, const platform::Clock& clock) {
  auto stored = defaults.numberForKey(kGWLStoredDeepLinkTimestampKey);
  auto timestamp = stored ? stored->numberValue() : std::nullopt;
  if (!timestamp) return false;
  return std::fabs(clock.now() - *timestamp) > seconds;
}

bool GWLClearExpiredStoredDeepLink(const GWLRemoteConfig& remoteConfig, GWLUserDefaults& defaults,
                                   const platform::Clock& clock) {
  if (!GWLIsStoredDeepLinkOlderThan(defaults, remoteConfig.attributionCacheTTLInterval(), clock)) return false;
  GWLClearStoredDeepLink(defaults);
  return true;
}

int64_t GWLCoarseClickTimestampMillis(int64_t milliseconds) {
  const int64_t hourStart = milliseconds / kMillisecondsPerHour * kMillisecondsPerHour;
  if (hourStart < std::numeric_limits<int64_t>::min() + kMillisecondsPerHour) return std::numeric_limits<int64_t>::min();
  return hourStart - kMillisecondsPerHour;
}
