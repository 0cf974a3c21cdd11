// GWLMeasurement — the measurement engine's class: its global access points,
// its creation, and the class-level services of opened URLs.
//
// The four accessors are how every component reaches the one engine, the
// library's monitor and the settings in force, also before the engine exists
// and after an attempt to create it failed; they forward to
// GWLMeasurementRegistry, which keeps the engine under the class mutex.
// `sharedInstance` answers the engine through the interface the entry class
// calls (GWLAnalyticsEngine.h).
//
// `initializeSharedInstanceWithAppID` makes the one engine of the process with
// a creation function: the first call records the attempt and, for a
// non-empty app ID, touches the monitor and runs the function under the class
// mutex; later calls change nothing, so an attempt without an engine is final.
// `defaultEngineFactory` is the creation function of the library itself; it
// makes no engine while the engine class is not built.
//
// The URL services run on the caller's thread and need no engine; they are
// the deep links' own (GWLMeasurementDeepLinks, on the monitor of this class):
// `deepLinkFromUserActivity` reads the web page of a web-browsing activity;
// `handleSVTPDebugModeWithURL` switches the monitor's server-side tagging
// debug mode from an opened URL's query and keeps the process-wide preview
// headers that uploads then carry (`SVTPPreviewHeaders`, read on any thread).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analytics/attribution/GWLMeasurementDeepLinks.h"
#include "analytics/measurement/GWLAnalyticsEngine.h"
#include "platform/appdelegate/ApplicationDelegate.h"

class GWLMonitor;
class GWLRemoteConfig;

class GWLMeasurement {
 public:
  using Headers = std::map<std::string, std::string>;

  // ---- the class accessors ----
  static bool hasSharedInstance();
  // The engine, or null (before any attempt with CVNAnalytics present, first
  // warns 23147 that the library has not been created).
  static std::shared_ptr<GWLAnalyticsEngine> sharedInstance();
  static std::shared_ptr<GWLMonitor> monitor();
  // The engine's configuration, or the default configuration.
  static std::shared_ptr<GWLRemoteConfig> remoteConfig();

  // ---- creation ----
  static void initializeSharedInstanceWithAppID(const std::string& appID, bool isAnalyticsCollectionEnabled,
                                                bool isAnalyticsCollectionDeactivated,
                                                const std::optional<std::vector<std::string>>& safelistedEvents,
                                                const GWLAnalyticsEngineFactory& factory = defaultEngineFactory());
  static GWLAnalyticsEngineFactory defaultEngineFactory();

  // ---- opened URLs ----
  // The web page URL of a web-browsing activity with a non-empty one; else
  // none (reported: 23003 without an activity, 23004 on a system before 9,
  // 23006 otherwise).
  static std::optional<std::string> deepLinkFromUserActivity(const std::optional<platform::UserActivity>& activity);
  // "svtp_debug_enable" = "1": debug mode on, and the preview headers are
  // {"X-Kxw-Server-Preview": "svtp_preview_key"} when that key is 1 to 256
  // printable ASCII characters, else none (a refused key is reported); "0":
  // debug mode off, no headers; anything else changes nothing.
  static void handleSVTPDebugModeWithURL(const std::string& url);
  static std::optional<Headers> SVTPPreviewHeaders();
  // Tests: forgets the preview headers.
  static void resetSVTPPreviewHeadersForTesting();
};
