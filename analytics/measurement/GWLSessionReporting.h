// GWLSessionReporting — the session reporter as the engine and the
// screen-view reporter drive it: made at start and again at every wipe-out of
// the analytics data, its reporting switched with collection, asked whether
// the session has expired or a new one is due, counting the sessions the
// engine starts itself, and told about the app's foreground life.
//
// This base class is the do-nothing reporter: it reports nothing, its session
// never expires, no new session is ever due and it makes no session
// properties. The engine makes its reporters with a GWLSessionReporterFactory;
// its default one makes a GWLSessionReporter.
//
// Threads: `setReportingEnabled`, `isSessionExpired`, `extendSession`,
// `shouldStartNewSession`, `updatePropertiesForNewSessionStart`, `startNewSessionIfDue`, the property
// builders and `setTimeoutSessionInterval` are called on the engine's worker
// queue; the foreground calls (`handleAppDidBecomeActive`,
// `handleAppWillResignActiveWithScreen`, `handleScreenDidChangeFromScreen`,
// `cutFreerideEngagementTimeMillis`) on the main thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

class GWLPersistedConfig;
class GWLScreen;
class GWLUserAttribute;

class GWLSessionReporting {
 public:
  virtual ~GWLSessionReporting() = default;

  // ---- the engine (worker queue) ----
  virtual void setReportingEnabled(bool /*enabled*/) {}
  virtual bool isSessionExpired() { return false; }
  // Marks activity now when the session has not expired; answers whether it did.
  virtual bool extendSession() { return false; }
  virtual void setTimeoutSessionInterval(double /*seconds*/) {}
  // Whether the time since the last activity is longer than the timeout.
  virtual bool shouldStartNewSession() { return false; }
  // Counts a new session (the persisted session number grows by one) and
  // marks activity now.
  virtual void updatePropertiesForNewSessionStart() {}
  // When a new session is due, counts it as `updatePropertiesForNewSessionStart`
  // does and answers YES; otherwise answers NO. The check and the count are one
  // step, so of two callers asking at once (the worker queue for a background
  // event, the main thread for an activation) only one starts the session.
  virtual bool startNewSessionIfDue() {
    if (!shouldStartNewSession()) return false;
    updatePropertiesForNewSessionStart();
    return true;
  }
  // "_sid" for a session started at `timestamp` (seconds since 1970); null here.
  virtual std::shared_ptr<GWLUserAttribute> sessionIDPropertyWithTimestamp(double /*timestamp*/) { return nullptr; }
  // "_sno" with the persisted session number; null here.
  virtual std::shared_ptr<GWLUserAttribute> sessionNumberProperty() { return nullptr; }

  // ---- the screen-view reporter (main thread) ----
  virtual void handleAppDidBecomeActive() {}
  virtual void handleAppWillResignActiveWithScreen(const std::shared_ptr<const GWLScreen>& /*screen*/) {}
  virtual void handleScreenDidChangeFromScreen(const std::shared_ptr<const GWLScreen>& /*previous*/,
                                               const std::shared_ptr<const GWLScreen>& /*next*/) {}
  // The engagement time (ms) a screen view carries when efficient engagement
  // reporting is on; 0 here.
  virtual int64_t cutFreerideEngagementTimeMillis() { return 0; }
};

// Makes a new session reporter over the persisted settings.
using GWLSessionReporterFactory =
    std::function<std::shared_ptr<GWLSessionReporting>(const std::shared_ptr<GWLPersistedConfig>& persistedConfig)>;
