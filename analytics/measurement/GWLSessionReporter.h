// GWLSessionReporter — sessions and engagement: decides when a session ends
// and a new one starts, numbers the sessions, reports the session start "_s"
// and the user engagement "_e" with its engaged time "_et" in milliseconds,
// and keeps the session properties "_sid" and "_sno".
//
// Two clocks, both from the injected platform::Clock: session activity is
// measured on wall time (seconds since 1970; the persisted last activity time,
// 0 for none), engagement spans on uptime, which no change of the device's
// date can move. A session lives while the app is active and afterwards until
// the timeout passes without activity (a session start, an engagement report,
// or an extension by a background event). It expires lazily: the first
// `isSessionExpired` after the timeout, while the app is not active, answers
// YES and clears the last activity time, so that every later check answers
// YES too until a new session starts.
//
// The engagement timer "Engagement timer" runs on the main queue every
// `sessionEventUserEngagementInterval` seconds while the app is active: it
// posts "kGWLSessionReporterEngagementTimerDidFire" (no object) and then
// reports the engagement since the last report, which arms it again. An
// interval of 0 or less arms no timer: engagement is then reported only when
// the app resigns active and when the screen changes.
//
// Events and the session properties leave through the entry class
// (GWLAnalytics: `logInternalEventWithOrigin`, `setInternalUserProperty`),
// which queues them for the engine's worker queue. With reporting off no "_s"
// or "_e" is made, but the session state keeps being tracked.
//
// Settings of the configuration in force: `sessionDefaultTimeoutInterval`,
// `sessionEventUserEngagementInterval`, `efficientEngagementReportingEnabled`,
// `redundantEngagementRemovalEnabled`. Whether the app is active comes from
// GWLIsAppActive.
//
// Threads: the foreground calls run on the main thread (relayed by the
// screen-view reporter; the timer fires on the main queue); the engine's
// worker queue asks for expiry, extends the session and counts sessions it
// starts itself. The reporter's state (engagement starts, the reporting
// switch, the timeout) and every read-modify-write of the persisted session
// values run under one mutex; nothing is called out (entry class,
// notification centre) while it is held.
#pragma once

#include <absl/base/thread_annotations.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "analytics/foundation/core/GWLMonitorLevels.h"
#include "analytics/foundation/values/GWLValue.h"
#include "analytics/measurement/GWLAnalytics.h"
#include "analytics/measurement/GWLSessionReporting.h"
#include "platform/util/Mutex.h"

namespace platform {
class Clock;
class NotificationCenter;
class Queue;
}  // namespace platform
class GWLAlarm;
class GWLEvent;
class GWLMonitor;
class GWLPersistedConfig;
class GWLRemoteConfig;
struct GWLValueLimits;

inline constexpr const char* kGWLEngagementTimerName = "Engagement timer";
inline constexpr const char* kGWLSessionStartEventName = "_s";
inline constexpr const char* kGWLUserEngagementEventName = "_e";
inline constexpr const char* kGWLSessionIDProperty = "_sid";
inline constexpr const char* kGWLSessionNumberProperty = "_sno";
inline constexpr const char* kGWLEngagementTimeParameter = "_et";
inline constexpr const char* kGWLFreerideParameter = "_fr";
inline constexpr const char* kGWLAppInBackgroundParameter = "_aib";
// The longest engagement one "_e" reports, in seconds.
inline constexpr double kGWLMaxEngagementTimeSeconds = 3600;
// A screen left after less engagement than this (seconds) reports none.
inline constexpr double kGWLMinScreenEngagementSeconds = 1;

inline constexpr GWLAnalyticsReport kGWLNegativeTimeoutSessionReport{
    kGWLLevelWarning, 33001, "Received negative timeout session duration. Setting to 0.0 instead."};
inline constexpr GWLAnalyticsReport kGWLNegativeEngagementTimeReport{
    kGWLLevelWarningSampled, 33004, "Incurred engagement time is negative. Setting to 0.0 instead"};
inline constexpr GWLAnalyticsReport kGWLSessionStartNotActiveReport{
    kGWLLevelDebug, 33005, "Session start event not logged. Application is not active"};
inline constexpr GWLAnalyticsReport kGWLEngagementNotActiveReport{
    kGWLLevelDebug, 33006, "User engagement event not logged. Application is not active"};

// Engagement seconds as whole milliseconds: the span is first taken to whole
// microseconds (the resolution of uptime), so 0.4 s gives 400 whatever
// rounding the subtraction of two uptimes left; saturating, NaN gives 0.
int64_t GWLEngagementMillisFromSeconds(double seconds);

// The "_s" event of a session the engine starts itself: origin "auto", not
// public, at `timestamp`, with "_sid" = the timestamp in whole seconds and
// "_sno" = `sessionNumber`, and "_aib" = 1 when it started in the background,
// else the current screen's parameters. Null when the event cannot be built.
std::shared_ptr<GWLEvent> GWLSessionStartEvent(const GWLValue& sessionNumber, bool startedInBackground,
                                               double timestamp, const GWLParameters& screenParameters,
                                               const GWLValueLimits& limits);

class GWLSessionReporter : public GWLSessionReporting, public std::enable_shared_from_this<GWLSessionReporter> {
 public:
  struct Dependencies {
    std::shared_ptr<platform::Clock> clock;                            // the system clock
    std::shared_ptr<GWLMonitor> monitor;                               // the library's monitor
    std::shared_ptr<platform::Queue> mainQueue;                        // the main queue
    std::shared_ptr<platform::NotificationCenter> notificationCenter;  // the default centre
    // The configuration in force; GWLMeasurementRegistry::remoteConfig when empty.
    std::function<std::shared_ptr<GWLRemoteConfig>()> remoteConfig;
    // The entry class; GWLAnalytics::sharedInstance when empty.
    std::function<std::shared_ptr<GWLAnalytics>()> analytics;
  };

  // A reporter with reporting off. The timeout is the one the entry class
  // stored before the reporter existed (used once: it is removed from the
  // settings; one that is not a finite number is only removed, a negative
  // one becomes 0 with 33001), else the configuration's default.
  static std::shared_ptr<GWLSessionReporter> initWithPersistedConfig(std::shared_ptr<GWLPersistedConfig> persistedConfig,
                                                                     Dependencies dependencies = {});
  // Cancels the engagement timer.
  ~GWLSessionReporter() override;
  GWLSessionReporter(const GWLSessionReporter&) = delete;
  GWLSessionReporter& operator=(const GWLSessionReporter&) = delete;

  // ---- switches and questions ----
  bool isReportingEnabled() const;
  // Off cancels the timer; on, while the app is active and no timer is armed, arms it.
  void setReportingEnabled(bool enabled) override;
  double timeoutSessionInterval() const;
  // A negative timeout becomes 0 (33001), NaN changes nothing; the expiry
  // check runs once with the old timeout before the new one applies.
  void setTimeoutSessionInterval(double seconds) override;
  // The timeout is smaller than the time (either way) since the last activity.
  bool hasReachedSessionTimeout();
  bool shouldStartNewSession() override;
  bool isSessionExpired() override;
  bool extendSession() override;

  // ---- session properties (origin "auto") ----
  std::shared_ptr<GWLUserAttribute> sessionIDPropertyWithTimestamp(double timestamp) override;
  std::shared_ptr<GWLUserAttribute> sessionNumberProperty() override;
  void updatePropertiesForNewSessionStart() override;
  bool startNewSessionIfDue() override;
  // Sets (or, for none, removes) "_sid" and "_sno" through the entry class.
  void setSessionID(const std::optional<int64_t>& sessionID, const std::optional<int64_t>& sessionNumber);

  // ---- reports ----
  void logSessionStartEvent();
  // An engagement report with no screen, not redundant.
  void logUserEngagementEvent();
  // Reports the engagement since the last report (capped, in ms) with the
  // screen's parameters; answers the reported "_et" (0 when nothing was
  // reported). Restarts the engagement span and the timer, and marks
  // activity, whenever the app is active.
  int64_t logEngagementEventAndReturnTimeWithScreen(const std::shared_ptr<const GWLScreen>& screen,
                                                    bool isRedundant);

  // ---- foreground life (main thread) ----
  void handleAppDidBecomeActive() override;
  void handleAppWillResignActiveWithScreen(const std::shared_ptr<const GWLScreen>& screen) override;
  void handleScreenDidChangeFromScreen(const std::shared_ptr<const GWLScreen>& previous,
                                       const std::shared_ptr<const GWLScreen>& next) override;
  int64_t cutFreerideEngagementTimeMillis() override;

  // ---- timer and clocks ----
  void rescheduleUserEngagementTimer();
  double currentUptime() const;
  double currentClockTime() const;
  // Seconds of engagement not reported yet (since the free-ride start when
  // efficient engagement reporting is on); a negative span gives 0 (33004).
  double incurredEngagementTime();
  const std::shared_ptr<GWLAlarm>& userEngagementTimer() const { return userEngagementTimer_; }

 private:
  GWLSessionReporter(std::shared_ptr<GWLPersistedConfig> persistedConfig, Dependencies dependencies);
  std::shared_ptr<GWLRemoteConfig> remoteConfig() const;
  std::shared_ptr<GWLAnalytics> analytics() const;
  void report(const GWLAnalyticsReport& report) const;
  bool hasReachedSessionTimeoutLocked() ABSL_EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  bool isSessionExpiredLocked() ABSL_EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  void countNewSessionLocked() ABSL_EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  // "_sid", "_sno" and "_s" for a session already counted.
  void logCountedSessionStartEvent();
  // The engagement span up to `uptime`; `negative` tells whether it was below 0.
  double incurredEngagementTimeLocked(bool efficient, double uptime, bool* negative) const
      ABSL_EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  // Arms the timer for the configured interval (none for 0 or less).
  void armTimer(double interval);

  const std::shared_ptr<GWLPersistedConfig> persistedConfig_;
  const Dependencies dependencies_;
  const std::shared_ptr<platform::Clock> clock_;
  const std::shared_ptr<GWLMonitor> monitor_;
  const std::shared_ptr<platform::NotificationCenter> notificationCenter_;
  const std::shared_ptr<GWLAlarm> userEngagementTimer_;

  mutable platform::Mutex mutex_;
  double engagementStartUptime_ ABSL_GUARDED_BY(mutex_) = 0;
  double freerideEngagementStartUptime_ ABSL_GUARDED_BY(mutex_) = 0;
  bool reportingEnabled_ ABSL_GUARDED_BY(mutex_) = false;
  double timeoutSessionInterval_ ABSL_GUARDED_BY(mutex_) = 0;
};
