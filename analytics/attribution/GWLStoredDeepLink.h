// The stored deep link: the URL (or user-activity link) the app was launched
// with, kept in the app's shared preferences until the engine reports it as a
// campaign.
//
//   "/halcyra/measurement/deep_link"                    string  the link's absolute string
//   "/halcyra/measurement/deep_link_timestamp_seconds"  double  when it was stored, seconds since 1970
//   "/halcyra/measurement/deep_link_referrer"           string  the referrer's absolute string; absent without one
//
// The three keys hold at most one link: a newer launch link replaces the
// older. They are written on the thread that posts the launch notification
// and read and cleared on the worker queue. Each write goes straight to the
// preferences store; the link's own key is written last and cleared first,
// so a reader that finds a link finds its time and referrer with it.
//
// Also the coarse click time reported with a stored link.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {
class Clock;
}
class GWLRemoteConfig;
class GWLUserDefaults;

inline constexpr const char* kGWLStoredDeepLinkKey = "/halcyra/measurement/deep_link";
inline constexpr const char* kGWLStoredDeepLinkTimestampKey = "/halcyra/measurement/deep_link_timestamp_seconds";
inline constexpr const char* kGWLStoredDeepLinkReferrerKey = "/halcyra/measurement/deep_link_referrer";

// Stores `url` with the clock's current time and `referrer` (none removes the
// referrer key).
void GWLStoreDeepLink(GWLUserDefaults& defaults, const std::string& url, const std::optional<std::string>& referrer,
                      const platform::Clock& clock);

// Removes the three keys.
void GWLClearStoredDeepLink(GWLUserDefaults& defaults);

// Whether the stored link's time lies more than `seconds` away from now
// (strictly; either direction, for a clock set back). NO without a stored time.
bool GWLIsStoredDeepLinkOlderThan(const GWLUserDefaults& defaults, double seconds, const platform::Clock& clock);

// Clears the stored link when it is older than the configuration's
// attribution cache time; answers whether it did.
bool GWLClearExpiredStoredDeepLink(const GWLRemoteConfig& remoteConfig, GWLUserDefaults& defaults,
                                   const platform::Clock& clock);

// The start of the hour one hour before the click's hour:
// (ms / 3600000) x 3600000 - 3600000, the division truncating toward zero
// (saturating at the lowest int64 rather than wrapping).
int64_t GWLCoarseClickTimestampMillis(int64_t milliseconds);
