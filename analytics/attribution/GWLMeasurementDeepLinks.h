// GWLMeasurementDeepLinks — the measurement engine's deep links and
// campaigns: every road by which a URL opens the app ends in one campaign
// step, which logs the internal event "_cmp" (or "_cmpx") and keeps the ad
// click details for uploads.
//
//   1. a URL or web-browsing user activity opening the running app
//      (handleNonFirstOpenEventURL, called on the analytics serial queue);
//   2. the launch link, stored at launch (handleStoredURLAfterAppLaunch-
//      WithNotification) and reported by the engine later
//      (reportStoredCampaignEventOnWorkerQueue);
//   3. the deferred deep link: a one-time lookup after install that may
//      answer the link the user clicked before installing
//      (shouldAllowRequestDeferredDeepLink, requestDeferredDeepLink);
//   4. the server-side tagging debug switch of opened URLs
//      (handleSVTPDebugModeWithURL, SVTPPreviewHeaders).
//
// The campaign step (handleOpenURLOnWorkerQueue) reads the URL's query and
// the caller's extra parameters, keeps the recognised campaign parameters
// under their event names (GWLCampaignTables.h), drops the click identifiers
// the advertising-identifier consent does not allow, stores the ad click
// details as an encoded GWLPBAdCampaignInfo in the persisted settings, and
// hands the event to the engine.
//
// The engine is reached through its calls (GWLMeasurementEngineCalls) and is
// asked for at each use; posted blocks hold it, and this object, weakly and
// do nothing once either is gone. This object keeps no state of its own
// besides its collaborators; the preview headers are process-wide
// (GWLSVTPPreviewHeaders). Failures are logged through the monitor and end the
// step; none reaches a caller.
//
// Threads: the campaign step, the deferred deep link request and its answer,
// and the stored-link report run on the engine's worker queue; the app
// delegate gets a deferred deep link on the main queue; the launch capture
// and the debug switch run on their caller's thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "analytics/foundation/config/GWLDeepLinkHooks.h"
#include "analytics/foundation/config/GWLServiceHosts.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"

namespace platform {
class AppEnvironment;
class Clock;
class Queue;
}  // namespace platform
class GWLMeasurementEngine;
class GWLMonitor;
class GWLUserDefaults;

// ---- reports (level, code, message) ----
inline constexpr int64_t kGWLEmptyUserActivityCode = 23003;  // level 7
inline constexpr const char* kGWLEmptyUserActivityMessage = "User Activity is empty. User Activity";
inline constexpr int64_t kGWLDeepLinkNeedsNewerSystemCode = 23004;  // level 3
inline constexpr const char* kGWLDeepLinkNeedsNewerSystemMessage = "Deep Link is only supported on iOS 9 and above";
inline constexpr int64_t kGWLUserActivityUnsupportedCode = 23005;  // level 3
inline constexpr const char* kGWLUserActivityUnsupportedMessage = "NSUserActivity is not supported";
inline constexpr int64_t kGWLUserActivityWithoutDeepLinkCode = 23006;  // level 3
inline constexpr const char* kGWLUserActivityWithoutDeepLinkMessage =
    "User Activity does not have Deep Link. User Activity";
inline constexpr int64_t kGWLDeepLinkQueryEmptyCode = 23000;  // level 7
inline constexpr const char* kGWLDeepLinkQueryEmptyMessage = "Deep Link Web URL query is empty";
inline constexpr int64_t kGWLDeepLinkNotCampaignCode = 23001;  // level 3
inline constexpr const char* kGWLDeepLinkNotCampaignMessage =
    "Deep Link does not contain valid required params. URL params";
inline constexpr int64_t kGWLOpenURLOnWorkerQueueCode = 23163;  // level 2
inline constexpr const char* kGWLOpenURLOnWorkerQueueMessage =
    "Do not call handleNonFirstOpenOpenURL on the measurement worker queue";
inline constexpr int64_t kGWLDeferredDeepLinkDisabledCode = 23193;  // level 5
inline constexpr const char* kGWLDeferredDeepLinkDisabledMessage = "Deferred Deep Link feature disabled";
inline constexpr int64_t kGWLDeferredDeepLinkAlreadyRetrievedCode = 23194;  // level 7
inline constexpr const char* kGWLDeferredDeepLinkAlreadyRetrievedMessage =
    "Already retrieved Deferred Deep Link. Skipping";
inline constexpr int64_t kGWLDeferredDeepLinkRetryLimitCode = 23195;  // level 3
inline constexpr const char* kGWLDeferredDeepLinkRetryLimitMessage =
    "Failed to retrieve Deferred Deep Link. Reached retry limit";
inline constexpr int64_t kGWLDeferredDeepLinkNoIDFACode = 23196;  // level 3
inline constexpr const char* kGWLDeferredDeepLinkNoIDFAMessage =
    "IDFA unavailable to retrieve Deferred Deep Link. Skipping";
inline constexpr int64_t kGWLDeferredDeepLinkEnabledCode = 23197;  // level 7
inline constexpr const char* kGWLDeferredDeepLinkEnabledMessage = "Deferred Deep Link feature enabled";
inline constexpr int64_t kGWLDeferredDeepLinkInvalidURLCode = 23198;  // level 3
inline constexpr const char* kGWLDeferredDeepLinkInvalidURLMessage = "URL to retrieve Deferred Deep Link is invalid";
inline constexpr int64_t kGWLDeferredDeepLinkFailedCode = 23199;  // level 1
inline constexpr const char* kGWLDeferredDeepLinkFailedMessage =
    "Failed to retrieve Deferred Deep Link. Will retry on next launch. Code, error";
inline constexpr int64_t kGWLDeferredDeepLinkRetrievedCode = 23200;  // level 7
inline constexpr const char* kGWLDeferredDeepLinkRetrievedMessage = "Successfully retrieved Deferred Deep Link";
inline constexpr int64_t kGWLDeferredDeepLinkEmptyResponseCode = 23201;  // level 8
inline constexpr const char* kGWLDeferredDeepLinkEmptyResponseMessage = "Deferred Deep Link response is empty";
inline constexpr int64_t kGWLDeferredDeepLinkBadJSONCode = 23202;  // level 1
inline constexpr const char* kGWLDeferredDeepLinkBadJSONMessage = "Failed to parse Deferred Deep Link from JSON. Error";
inline constexpr int64_t kGWLDeferredDeepLinkSendingCode = 23203;  // level 8
inline constexpr const char* kGWLDeferredDeepLinkSendingMessage = "Sending Deferred Deep Link to app delegate";
inline constexpr int64_t kGWLDeferredDeepLinkNoAppDelegateCode = 23204;  // level 3
inline constexpr const char* kGWLDeferredDeepLinkNoAppDelegateMessage =
    "App delegate not configured to handle Deferred Deep Link";
inline constexpr int64_t kGWLDeferredDeepLinkAdStorageDeniedCode = 23252;  // level 3
inline constexpr const char* kGWLDeferredDeepLinkAdStorageDeniedMessage =
    "IDFA unavailable to retrieve Deferred Deep Link due to denied ad storage consent. Skipping";
inline constexpr int64_t kGWLSVTPPreviewKeyRefusedCode = 23205;  // level 3
inline constexpr const char* kGWLSVTPPreviewKeyRefusedMessage =
    "SVTP preview key is not 1 to 256 printable ASCII characters; no preview header is sent";

// ---- the campaign event and its parameters ----
inline constexpr const char* kGWLCampaignEventName = "_cmp";
inline constexpr const char* kGWLExpiredCampaignEventName = "_cmpx";
inline constexpr const char* kGWLCampaignOriginAuto = "auto";
inline constexpr const char* kGWLCampaignOriginSearch = "hs";
inline constexpr const char* kGWLCoarseClickParameter = "_cc";
inline constexpr const char* kGWLReferrerParameter = "_ref";
inline constexpr const char* kGWLClickTimestampParameter = "click_timestamp";
inline constexpr const char* kGWLNotSetValue = "(not set)";

// ---- the deferred deep link ----
inline constexpr const char* kGWLDeferredDeepLinkPath = "/adconv/app/deeplink";
inline constexpr const char* kGWLDeferredDeepLinkEnabledInfoKey = "HALCYRA_ANALYTICS_DEFERRED_DEEP_LINK_ENABLED";
inline constexpr const char* kGWLDebugDeferredDeepLinkArgument = "-DebugDeferredDeepLink";
// Answer members.
inline constexpr const char* kGWLDeferredDeepLinkKey = "deeplink";
inline constexpr const char* kGWLDeferredDeepLinkHclidKey = "hclid";
inline constexpr const char* kGWLDeferredDeepLinkHbraidKey = "hbraid";
inline constexpr const char* kGWLDeferredDeepLinkTimestampKey = "timestamp";
// The campaign source of a deferred deep link ("cis" becomes "_cis").
inline constexpr const char* kGWLDeferredDeepLinkCampaignSource = "ddp";

// ---- launch and the server-side tagging switch ----
inline constexpr const char* kGWLSVTPDebugEnableArgument = "svtp_debug_enable";
inline constexpr const char* kGWLSVTPPreviewKeyArgument = "svtp_preview_key";

class GWLMeasurementDeepLinks : public GWLDeepLinkHooks,
                                public std::enable_shared_from_this<GWLMeasurementDeepLinks> {
 public:
  struct Dependencies {
    // The engine, asked for at each use; GWLMeasurementRegistry::sharedInstance when empty.
    std::function<std::shared_ptr<GWLMeasurementEngine>()> engine;
    std::shared_ptr<GWLMonitor> monitor;             // the library's monitor when null
    std::shared_ptr<GWLUserDefaults> userDefaults;   // the shared user defaults when null
    std::shared_ptr<platform::Clock> clock;          // the system clock when null
    std::shared_ptr<platform::Queue> mainQueue;      // the main queue when null
    // The Info dictionary and launch arguments; the shared app environment (at each use) when null.
    std::shared_ptr<platform::AppEnvironment> environment;
    // Whether this is a store installation; GWLAEU::isFAS when empty.
    std::function<bool()> isAppStoreInstallation;
    // Where the deferred deep link is asked for; the built-in hosts when unset.
    std::optional<GWLServiceHosts> hosts;
    // Hands a URL to the app delegate's open-URL operation on the main queue
    // and answers whether the delegate handled it; when empty, the app's own
    // delegate (HVUAppDelegateSwizzler::appDelegate), NO without one.
    std::function<bool(const std::string& url, const platform::Dictionary& options)> openURLInAppDelegate;
    // Whether the platform's user activities tell their web page and type;
    // they always do here when empty.
    std::function<bool()> isUserActivitySupported;
  };

  static std::shared_ptr<GWLMeasurementDeepLinks> create(Dependencies dependencies = {});

  // ---- opened URLs ----
  // The web page URL of a web-browsing activity with a non-empty one; else
  // none, reported: 23003 without an activity, 23004 on a system before 9,
  // 23005 when activities cannot tell, 23006 for any other activity.
  std::optional<std::string> deepLinkFromUserActivity(const std::optional<platform::UserActivity>& activity) override;
  // A URL that opened the running app, as a campaign with no click time;
  // refused (23163) on the worker queue.
  void handleNonFirstOpenEventURL(const std::string& url, double eventTimestampInSeconds);
  void handleNonFirstOpenEventURL(const std::string& url, double eventTimestampInSeconds,
                                  const std::optional<std::string>& referrerURL) override;
  // Ignores an empty URL; otherwise the debug hook, then handleDeepLink.
  void handleOpenURL(const std::string& url, std::optional<int64_t> clickTimestampInMs, double eventTimestampInSeconds,
                     const std::optional<std::string>& referrerURL);
  // Posts the campaign step to the worker queue ("GWLMeasurement:549"), with
  // "_ref" = the referrer when it is not empty.
  void handleDeepLink(const std::string& url, std::optional<int64_t> clickTimestampInMs,
                      double eventTimestampInSeconds);
  void handleDeepLink(const std::string& url, std::optional<int64_t> clickTimestampInMs,
                      double eventTimestampInSeconds, const std::optional<std::string>& referrerURL);
  // Does nothing.
  void handleDebugModeWithURL(const std::string& url);

  // ---- the campaign step (worker queue) ----
  void handleOpenURLOnWorkerQueue(const std::optional<std::string>& url, std::optional<int64_t> clickTimestampInMs,
                                  double eventTimestampInSeconds, const platform::Dictionary& extraParameters) override;
  // YES when a required campaign key has a non-empty value, else YES when a
  // key begins with "vrt_", else NO.
  static bool isValidCampaignURLParamDictionary(const std::map<std::string, std::string>& parameters);
  // YES on a system before 14, with an advertising identifier, or with
  // tracking authorised; NO otherwise (and without an engine).
  bool shouldAllowClickID() const;

  // ---- the stored launch link ----
  // The launch options' user-activity link (with its referrer), else their
  // URL, stored for the engine to report; a launch URL also goes through the
  // debug switch. Runs on the thread that posts the notification.
  void handleStoredURLAfterAppLaunchWithNotification(const platform::Notification& notification) override;
  bool hasStoredDeepLink() override;
  void reportStoredCampaignEventOnWorkerQueue(std::optional<int64_t> clickTimestampInMs) override;
  bool clearExpiredStoredDeepLink(const GWLRemoteConfig& remoteConfig) override;

  // ---- the deferred deep link (worker queue) ----
  bool shouldAllowRequestDeferredDeepLink() override;
  void requestDeferredDeepLink() override;
  // The lookup's URL for the current state; none when no URL can be made.
  std::optional<std::string> deferredDeepLinkURL() const;
  // The answer's JSON object when its "deeplink" is a string a URL can be
  // made from; none otherwise (23201 for no body, 23202 for no JSON object).
  std::optional<platform::Dictionary> deepLinkInfoFromResponseData(std::span<const uint8_t> data) const;
  void handleDeferredDeepLinkInfo(const platform::Dictionary& info);
  // Main queue: hands the URL to the app delegate; answers whether it was handled.
  bool sendDeepLinkURLToAppDelegateOnMainThread(const std::string& url,
                                                const std::optional<platform::Dictionary>& extraInfo);

  // ---- the server-side tagging debug switch ----
  void handleSVTPDebugModeWithURL(const std::string& url) override;
  std::optional<Headers> SVTPPreviewHeaders() override;

 private:
  explicit GWLMeasurementDeepLinks(Dependencies dependencies) : dependencies_(std::move(dependencies)) {}

  std::shared_ptr<GWLMeasurementEngine> engine() const;
  std::shared_ptr<GWLMonitor> monitor() const;
  std::shared_ptr<GWLUserDefaults> userDefaults() const;
  std::shared_ptr<platform::Clock> clock() const;
  std::shared_ptr<platform::AppEnvironment> environment() const;
  // Posts the campaign step to the engine's worker queue under `blockID`.
  void scheduleCampaignStep(const char* blockID, std::optional<std::string> url,
                            std::optional<int64_t> clickTimestampInMs, double eventTimestampInSeconds,
                            platform::Dictionary extraParameters);
  void handleDeferredDeepLinkResponse(int status, const std::vector<uint8_t>& body,
                                      const std::optional<platform::Error>& error);

  const Dependencies dependencies_;
};
