// GWLDeepLinkHooks — what the engine and the entry class call on the deep
// links and campaigns (the attribution layer's GWLMeasurementDeepLinks, which
// the composition root installs with GWLInstalledHook<GWLDeepLinkHooks>).
//
// Every call has a do-nothing default: nothing is requested, stored, reported
// or switched, and the questions answer NO or nothing.
//
// Who calls what, and on which thread:
//
//   the engine's start block (worker queue), after the first-open report:
//     hasStoredDeepLink()                        a launch link is waiting
//       -> reportStoredCampaignEventOnWorkerQueue(nullopt)
//     else shouldAllowRequestDeferredDeepLink()
//       -> requestDeferredDeepLink() now, or after the next answered
//          configuration fetch when the configuration has expired
//   the first-open report (worker queue), right after storing F ms:
//     reportStoredCampaignEventOnWorkerQueue(F - 1)
//   collection switched off (any thread):  clearExpiredStoredDeepLink(config)
//   the did-finish-launching observer (the posting thread), when the
//     notification has user information:
//     handleStoredURLAfterAppLaunchWithNotification(notification)
//   the entry class's opened URL: handleSVTPDebugModeWithURL (caller's
//     thread), then handleNonFirstOpenEventURL (analytics serial queue)
//   the entry class's user activity and the app-delegate interceptor:
//     deepLinkFromUserActivity (any thread)
//   uploads (worker queue): SVTPPreviewHeaders()
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/appdelegate/UserActivity.h"
#include "platform/core/Object.h"
#include "platform/dispatch/NotificationCenter.h"

class GWLRemoteConfig;

class GWLDeepLinkHooks {
 public:
  using Headers = std::map<std::string, std::string>;

  virtual ~GWLDeepLinkHooks() = default;

  // ---- the engine's start block and first open (worker queue) ----
  // Whether a launch link is stored and waits to be reported.
  virtual bool hasStoredDeepLink() { return false; }
  // Reports the stored launch link as a campaign and clears it; nothing when
  // none is stored. `clickTimestampInMs`: none at start, F - 1 at first open.
  virtual void reportStoredCampaignEventOnWorkerQueue(std::optional<int64_t> /*clickTimestampInMs*/) {}
  // The campaign step of one URL (none: only the extra parameters count).
  virtual void handleOpenURLOnWorkerQueue(const std::optional<std::string>& /*url*/,
                                          std::optional<int64_t> /*clickTimestampInMs*/,
                                          double /*eventTimestampInSeconds*/,
                                          const platform::Dictionary& /*extraParameters*/) {}
  // Whether the one-time deferred deep link lookup may be made now.
  virtual bool shouldAllowRequestDeferredDeepLink() { return false; }
  // Makes the deferred deep link lookup; its answer arrives on the worker queue.
  virtual void requestDeferredDeepLink() {}

  // ---- collection switched off (any thread) ----
  // Clears the stored launch link when it is older than the configuration's
  // attribution cache time; answers whether it did.
  virtual bool clearExpiredStoredDeepLink(const GWLRemoteConfig& /*remoteConfig*/) { return false; }

  // ---- launch (the thread that posts the did-finish-launching notification) ----
  // Keeps the launch URL or user-activity link of the notification's user
  // information for the engine to report later.
  virtual void handleStoredURLAfterAppLaunchWithNotification(const platform::Notification& /*notification*/) {}

  // ---- opened URLs ----
  // A URL that opened the running app; refused on the worker queue.
  virtual void handleNonFirstOpenEventURL(const std::string& /*url*/, double /*eventTimestampInSeconds*/,
                                          const std::optional<std::string>& /*referrerURL*/) {}
  // The web page URL of a web-browsing activity, when it is not empty; none
  // otherwise (any thread).
  [[nodiscard]] virtual std::optional<std::string> deepLinkFromUserActivity(
      const std::optional<platform::UserActivity>& /*activity*/) {
    return std::nullopt;
  }
  // Switches the server-side tagging debug mode from an opened URL's query
  // (the caller's thread).
  virtual void handleSVTPDebugModeWithURL(const std::string& /*url*/) {}
  // The server-side tagging preview headers that uploads carry; none while
  // the debug mode has none (any thread).
  [[nodiscard]] virtual std::optional<Headers> SVTPPreviewHeaders() { return std::nullopt; }
};
