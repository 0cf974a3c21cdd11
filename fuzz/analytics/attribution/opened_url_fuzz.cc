// Opened URLs: the server-side tagging switch and the campaign step.
//
// Input: a flag byte, then the URL's text, a newline and an extra string (the
// referrer, or the value of an extra parameter). Flag bits: 0 tracking
// authorised, 1 the extra is the referrer "_ref" (else "utm_source"), 2 a
// first-open time, 3 "_cc" = 1 (a stored link: expired), 4 a click time,
// 5 the URL comes as a stored launch link reported by the engine, 6 the link
// is kept from launch options (the URL as the launch URL, the extra as a
// web-browsing activity's page).
//
// After each input: preview headers are none or exactly one header whose value
// is printable ASCII of 1 to 256 bytes; at most one campaign event, "_cmp" or
// "_cmpx" with origin "auto" or "hs"; stored click details decode. Nothing may
// crash or hang.
#include <cstdint>
#include <string>

#include "analytics/attribution/GWLStoredDeepLink.h"
#include "fuzz/analytics/attribution/DeepLinkFuzzSetup.h"
#include "platform/appdelegate/LaunchOptions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using deeplink_fuzz::check;
  auto& s = deeplink_fuzz::setup("attribution_opened_url_fuzz");
  s.reset();
  if (size == 0) return 0;
  const uint8_t flags = data[0];
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const size_t newline = text.find('\n');
  const std::string url = text.substr(0, newline);
  const std::string extra = newline == std::string::npos ? std::string() : text.substr(newline + 1);

  deeplink_test::Facts facts;
  if (flags & 1) facts.appleConsentStatus = 3;
  s.engine->setFacts(facts);
  if (flags & 4) s.persistedConfig->setFirstOpenTimestampMilliseconds(1'700'000'100'000);

  s.deepLinks->handleSVTPDebugModeWithURL(url);
  if (auto headers = GWLSVTPPreviewHeaders::current()) {
    check(headers->size() == 1 && headers->begin()->first == kGWLSVTPPreviewHeader &&
          GWLSVTPPreviewHeaders::isValidPreviewKey(headers->begin()->second));
  }

  if (flags & 32) {
    if (flags & 64) {
      platform::UserActivity activity{platform::kUserActivityTypeBrowsingWeb, extra, std::nullopt};
      s.deepLinks->handleStoredURLAfterAppLaunchWithNotification(
          {platform::kApplicationDidFinishLaunchingNotification,
           {{platform::kLaunchOptionsURLKey, url},
            {platform::kLaunchOptionsUserActivityDictionaryKey,
             platform::Dictionary{{platform::kLaunchOptionsUserActivityKey, activity.dictionary()}}}},
           nullptr});
    } else {
      GWLStoreDeepLink(*s.defaults, url, (flags & 2) ? std::optional<std::string>(extra) : std::nullopt, *s.clock);
    }
    s.clock->advance(flags & 8 ? 700000 : 10);
    s.engine->onWorkerQueue([&] {
      s.deepLinks->reportStoredCampaignEventOnWorkerQueue(flags & 16 ? std::optional<int64_t>(1) : std::nullopt);
    });
    // A link stored as text is reported and gone; only an empty one stays.
    auto left = s.defaults->stringForKey(kGWLStoredDeepLinkKey);
    check(!left || left->empty());
  } else {
    platform::Dictionary extras;
    extras[(flags & 2) ? kGWLReferrerParameter : "utm_source"] = extra;
    if (flags & 8) extras[kGWLCoarseClickParameter] = int64_t{1};
    s.engine->onWorkerQueue([&] {
      s.deepLinks->handleOpenURLOnWorkerQueue(url, flags & 16 ? std::optional<int64_t>(-1) : std::nullopt,
                                              1'700'000'000.0, extras);
    });
  }
  deeplink_fuzz::checkCampaignOutcome(s);
  return 0;
}
