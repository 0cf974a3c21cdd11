// GWLAdExposureReporter — measures how long ad units are on screen.
//
// An ad library marks the start and end of each ad unit's exposure with
// `beginAdUnitExposure` and `endAdUnitExposure`. The reporter logs one
// internal event "_xu" per ad unit ("_ai" the ad unit ID, "_xt" the exposure
// in milliseconds) and one "_xa" for the time during which any ad unit was
// exposed ("_xt" again), both with origin "gw" and the parameters of the
// screen the time was spent on ("_sn", "_sc", "_si"). Open exposures are cut
// into slices at every screen change, engagement-timer tick and resign-active,
// so each slice goes to its own screen; the time between resign-active and
// become-active is not counted. Slices shorter than a second, and everything
// while the app is not active or reporting is off, are dropped with a log line.
//
//   untracked --begin--> tracked (count 1, slice start = now)
//   tracked --begin--> count + 1            tracked --end, count > 1--> count - 1
//   tracked --end, count 1--> "_xu" logged, untracked; the last one also logs "_xa"
//
// At most kGWLAdExposureMaxAdUnits distinct ad units are tracked at once; a
// begin for a new one beyond that is refused (1002), a begin for one already
// tracked always counts. Nothing is persisted.
//
// Time base: the clock's uptime (seconds since boot, counting suspend), which
// never goes backwards, so a change of the wall clock during an exposure does
// not change "_xt".
//
// Events leave through the engine's calls (GWLMeasurementEngineCalls::
// logInternalEventWithOrigin); the current screen parameters come from there
// too. Without an engine, slices are still cut but their events go nowhere.
//
// Threads: every piece of exposure state lives on the reporter's serial queue
// "GWLAdExposureReporter". `beginAdUnitExposure` posts to it and returns;
// `endAdUnitExposure`, the slice cut and the app-state handlers run their work
// on it synchronously (the caller waits). Time and screen parameters are taken
// on the caller's thread before the hop. None of these may be called from the
// reporter's own queue. `setReportingEnabled` may be called on any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "analytics/attribution/GWLAttributionLog.h"
#include "analytics/foundation/config/GWLMeasurementEngineCalls.h"
#include "analytics/foundation/values/GWLValue.h"
#include "analytics/foundation/values/GWLValueLimits.h"
#include "platform/dispatch/NotificationCenter.h"

namespace platform {
class Clock;
class SerialQueue;
}  // namespace platform
class GWLMonitor;
class GWLScreen;

inline constexpr const char* kGWLAdExposureReporterQueueLabel = "GWLAdExposureReporter";
inline constexpr size_t kGWLAdExposureMaxAdUnits = 100;
inline constexpr const char* kGWLAdExposureEventOrigin = "gw";
inline constexpr const char* kGWLAdUnitExposureEventName = "_xu";
inline constexpr const char* kGWLAdExposureEventName = "_xa";
inline constexpr const char* kGWLAdUnitIDParameter = "_ai";
inline constexpr const char* kGWLExposureTimeParameter = "_xt";

// The reporter's log lines.
inline constexpr GWLAttributionLogLine kGWLAdExposureBeginEmptyID{
    1000, 5, "Ignoring call to begin ad unit exposure. Received empty ad unit ID"};
inline constexpr GWLAttributionLogLine kGWLAdExposureLimitReached{
    1002, 5, "Reached limit on ad units. Ignoring ad unit with ID"};
inline constexpr GWLAttributionLogLine kGWLAdExposureEndEmptyID{
    1003, 5, "Ignoring call to end ad unit exposure. Received empty ad unit ID"};
inline constexpr GWLAttributionLogLine kGWLAdExposureUnknownAdUnit{
    1004, 5, "Unknown ad unit. Ignoring ad unit with ID"};
inline constexpr GWLAttributionLogLine kGWLAdExposureReportingDisabled{
    1005, 5, "Ad exposure not logged. Reporting is disabled."};
inline constexpr GWLAttributionLogLine kGWLAdExposureTooShort{
    1006, 8, "Ad exposure not logged. Exposure time was less than 1 sec"};
inline constexpr GWLAttributionLogLine kGWLAdUnitExposureReportingDisabled{
    1007, 5, "Ad unit exposure not logged. Reporting is disabled."};
inline constexpr GWLAttributionLogLine kGWLAdUnitExposureEmptyID{
    1008, 5, "Ad unit exposure not logged. Received empty ad unit ID"};
inline constexpr GWLAttributionLogLine kGWLAdUnitExposureTooShort{
    1009, 8, "Ad unit exposure not logged. Exposure time was less than 1 sec"};
inline constexpr GWLAttributionLogLine kGWLAdExposureAppNotActive{
    1010, 8, "Ad exposure not logged. App is not active."};
inline constexpr GWLAttributionLogLine kGWLAdUnitExposureAppNotActive{
    1011, 8, "Ad unit exposure not logged. App is not active."};

class GWLAdExposureReporter : public std::enable_shared_from_this<GWLAdExposureReporter> {
 public:
  using EngineLookup = std::function<std::shared_ptr<GWLMeasurementEngineCalls>()>;

  struct Dependencies {
    std::shared_ptr<platform::Clock> clock;  // the system clock when null
    std::shared_ptr<GWLMonitor> monitor;     // the library's monitor when null
    // Answers the engine (null while there is none); the registry's shared engine when empty.
    EngineLookup engine;
    // Where the engagement-timer notification is observed; the default center when null.
    std::shared_ptr<platform::NotificationCenter> notificationCenter;
    // Whether the app is active; GWLIsAppActive when empty.
    std::function<bool()> isAppActive;
    // The limits a screen's class and name are checked against; the
    // registry's configuration's when empty.
    std::function<GWLValueLimits()> valueLimits;
  };

  // The process's reporter, over the registry's engine; made once.
  static std::shared_ptr<GWLAdExposureReporter> sharedInstance();
  // A reporter (of this class or a subclass that adds nothing) that observes
  // the engagement-timer notification until it goes.
  template <class Reporter = GWLAdExposureReporter>
  static std::shared_ptr<Reporter> create(Dependencies dependencies = {}) {
    std::shared_ptr<Reporter> reporter(new Reporter(std::move(dependencies)));
    reporter->observeEngagementTimer();
    return reporter;
  }
  virtual ~GWLAdExposureReporter();

  // ---- ad libraries ----
  void beginAdUnitExposure(const std::string& adUnitID);
  void endAdUnitExposure(const std::string& adUnitID);

  // ---- slices ----
  // Cuts a slice now, attributed to the screen of `screenParameters`.
  void logExposureEventsWithScreenParameters(const GWLParameters& screenParameters);
  // A screen change: the slice up to now goes to `previous` (nothing without one).
  void handleScreenDidChangeFromScreen(const std::shared_ptr<const GWLScreen>& previous,
                                       const std::shared_ptr<const GWLScreen>& next);
  // The engagement timer fired: the slice goes to the current screen.
  void handleEngagementTimer(const platform::Notification& notification);
  // The app became active: every open slice starts now (the inactive time is skipped).
  void handleAppDidBecomeActive();
  // The app will resign active: the slice up to now goes to `screen` when it
  // yields parameters, else to the current screen.
  void handleAppWillResignActiveWithScreen(const std::shared_ptr<const GWLScreen>& screen);

  bool isReportingEnabled() const { return reportingEnabled_.load(); }
  void setReportingEnabled(bool enabled) { reportingEnabled_.store(enabled); }

  // Seconds since boot on the reporter's clock.
  double currentTime() const;

 protected:
  explicit GWLAdExposureReporter(Dependencies dependencies);

 private:
  void observeEngagementTimer();
  std::shared_ptr<GWLMeasurementEngineCalls> engine() const;
  std::shared_ptr<GWLMonitor> monitor() const;
  GWLParameters currentScreenParameters() const;
  GWLParameters parametersOfScreen(const GWLScreen& screen) const;
  void logEvent(const char* name, GWLParameters parameters) const;

  // ---- the reporter's queue only ----
  void beginOnSerialQueue(const std::string& adUnitID, double now);
  void endOnSerialQueue(const std::string& adUnitID, double now, const GWLParameters& screenParameters);
  void logExposureEventsOnSerialQueueWithEndTime(double endTime, const GWLParameters& screenParameters);
  void logAdExposureEventOnSerialQueueWithEndTime(double endTime, const GWLParameters& screenParameters);
  void logAdUnitExposureEventOnSerialQueueWithID(const std::string& adUnitID, double endTime,
                                                 const GWLParameters& screenParameters);
  void updateStartTimesOnSerialQueue(double startTime);

  const Dependencies dependencies_;
  const std::shared_ptr<platform::SerialQueue> queue_;
  std::atomic<bool> reportingEnabled_{true};
  platform::ObserverToken engagementObserver_;  // set once by create

  // Begin calls not yet matched by an end, by ad unit ID (queue only).
  std::map<std::string, int64_t> adUnitCounts_;
  // Start of the current slice of each tracked ad unit, seconds since boot (queue only).
  std::map<std::string, double> adUnitStartTimes_;
  // Start of the current slice of the total exposure (queue only).
  double adExposureStartTime_ = 0;
};
