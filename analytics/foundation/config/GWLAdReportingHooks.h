// GWLAdReportingHooks — the engine's calls into the ad reporters of the
// attribution layer: the ad exposure reporter, which the screen-view reporter
// tells about screen changes and the app's active state, and the search-ads
// attribution reporter, which the engine makes at start and switches with
// collection.
//
// The attribution layer implements this interface (GWLAdReporters) and the
// composition root installs it with GWLInstalledHook<GWLAdReportingHooks>;
// until then every call does nothing.
//
// Threads:
// - The three screen calls come from the screen-view reporter on the thread
//   it runs them on (the main thread), never from the ad exposure reporter's
//   queue; each returns once the exposure slices are cut.
// - `startSearchAdReporter` and `setSearchAdReporterEnabled` come from the
//   engine's worker queue.
#pragma once

#include <memory>

namespace platform {
class Queue;
}
class GWLPersistedConfig;
class GWLScreen;

// Posted by the session reporter on the main queue, without an object, each
// time its engagement timer fires; the ad exposure reporter observes it.
inline constexpr const char* kGWLSessionReporterEngagementTimerDidFire = "kGWLSessionReporterEngagementTimerDidFire";

class GWLAdReportingHooks {
 public:
  virtual ~GWLAdReportingHooks() = default;

  // ---- screen-view reporter ----
  // Posting a screen change while the app is active (`previous` may be null:
  // nothing is cut then).
  virtual void handleScreenDidChangeFromScreen(std::shared_ptr<const GWLScreen> /*previous*/,
                                               std::shared_ptr<const GWLScreen> /*next*/) {}
  // The app became active (after the session reporter was told).
  virtual void handleAppDidBecomeActive() {}
  // The app will resign active; `screen` is the current screen when automatic
  // reporting is on and the app is active, else null.
  virtual void handleAppWillResignActiveWithScreen(std::shared_ptr<const GWLScreen> /*screen*/) {}

  // ---- engine start and collection switch (worker queue) ----
  // Makes the engine's search-ads reporter on the worker queue with the
  // engine's persisted settings (it may decline to make one), enables it and
  // starts it; replaces a reporter an earlier start made.
  virtual void startSearchAdReporter(std::shared_ptr<platform::Queue> /*workerQueue*/,
                                     std::shared_ptr<GWLPersistedConfig> /*persistedConfig*/) {}
  // Collection was switched on (true) or off (false).
  virtual void setSearchAdReporterEnabled(bool /*enabled*/) {}
};
