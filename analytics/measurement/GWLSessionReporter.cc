#include "analytics/measurement/GWLSessionReporter.h"

#include <cmath>
#include <limits>

#include "analytics/foundation/config/GWLAdReportingHooks.h"
#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLAEU.h"
#include "analytics/foundation/core/GWLAlarm.h"
#include "analytics/foundation/core/GWLMilliseconds.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/values/GWLEvent.h"
#include "analytics/foundation/values/GWLScreen.h"
#include "analytics/foundation/values/GWLUserAttribute.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/NotificationCenter.h"
#include "platform/dispatch/Queue.h"

int64_t GWLEngagementMillisFromSeconds(double seconds) {
  return GWLInt64FromDouble(std::round(seconds * 1e6)) / 1000;
}

std::shared_ptr<GWLEvent> GWLSessionStartEvent(const GWLValue& sessionNumber, bool startedInBackground,
                                               double timestamp, const GWLParameters& screenParameters,
                                               const GWLValueLimits& limits) {
  GWLRawParameters parameters;
  parameters[kGWLSessionIDProperty] = GWLValue::initWithInt64(GWLInt64FromDouble(timestamp));
  parameters[kGWLSessionNumberProperty] = sessionNumber;
  if (startedInBackground) {
    parameters[kGWLAppInBackgroundParameter] = GWLValue::initWithInt64(1);
  } else {
    for (const auto& [name, value] : screenParameters) parameters.emplace(name, value);
  }
  return GWLEvent::initWithOrigin(std::string(kGWLOriginAuto), false, std::string(kGWLSessionStartEventName), timestamp,
                                  0, parameters, limits);
}

// ---------------------------------------------------------------------------
// Creation

std::shared_ptr<GWLSessionReporter> GWLSessionReporter::initWithPersistedConfig(
    std::shared_ptr<GWLPersistedConfig> persistedConfig, Dependencies dependencies) {
  return std::shared_ptr<GWLSessionReporter>(new GWLSessionReporter(std::move(persistedConfig), std::move(dependencies)));
}

namespace {

std::shared_ptr<platform::Clock> clockOf(const GWLSessionReporter::Dependencies& dependencies) {
  return dependencies.clock ? dependencies.clock : platform::Clock::system();
}

std::shared_ptr<GWLMonitor> monitorOf(const GWLSessionReporter::Dependencies& dependencies) {
  return dependencies.monitor ? dependencies.monitor : GWLMeasurementRegistry::monitor();
}

}  // namespace

GWLSessionReporter::GWLSessionReporter(std::shared_ptr<GWLPersistedConfig> persistedConfig, Dependencies dependencies)
    : persistedConfig_(std::move(persistedConfig)),
      dependencies_(std::move(dependencies)),
      clock_(clockOf(dependencies_)),
      monitor_(monitorOf(dependencies_)),
      notificationCenter_(dependencies_.notificationCenter ? dependencies_.notificationCenter
                                                           : platform::NotificationCenter::defaultCenter()),
      userEngagementTimer_(GWLAlarm::create(dependencies_.mainQueue ? dependencies_.mainQueue
                                                                    : platform::MainQueue::shared(),
                                            kGWLEngagementTimerName, clock_, monitor_)) {
  double timeout = remoteConfig()->sessionDefaultTimeoutInterval();
  if (persistedConfig_) {
    if (auto stored = persistedConfig_->sessionTimeoutValue()) {
      // Used once: whatever it holds, it goes. A value that is no finite
      // number would compare false with every gap and keep the session alive
      // for good, so the default stays in force then.
      const std::optional<double> number = stored->numberValue();
      if (number && std::isfinite(*number)) {
        timeout = *number;
        if (timeout < 0) {
          report(kGWLNegativeTimeoutSessionReport);
          timeout = 0;
        }
      }
      persistedConfig_->setSessionTimeoutValue(platform::Object());
    }
  }
  const double uptime = currentUptime();
  platform::MutexLock lock(mutex_);
  timeoutSessionInterval_ = timeout;
  engagementStartUptime_ = uptime;
  freerideEngagementStartUptime_ = uptime;
}

GWLSessionReporter::~GWLSessionReporter() { userEngagementTimer_->cancel(); }

std::shared_ptr<GWLRemoteConfig> GWLSessionReporter::remoteConfig() const {
  std::shared_ptr<GWLRemoteConfig> config =
      dependencies_.remoteConfig ? dependencies_.remoteConfig() : GWLMeasurementRegistry::remoteConfig();
  return config ? config : GWLRemoteConfig::defaultInstance();
}

std::shared_ptr<GWLAnalytics> GWLSessionReporter::analytics() const {
  return dependencies_.analytics ? dependencies_.analytics() : GWLAnalytics::sharedInstance();
}

void GWLSessionReporter::report(const GWLAnalyticsReport& report) const { GWLLogReport(*monitor_, report); }

// ---------------------------------------------------------------------------
// Switches and questions

bool GWLSessionReporter::isReportingEnabled() const {
  platform::MutexLock lock(mutex_);
  return reportingEnabled_;
}

void GWLSessionReporter::setReportingEnabled(bool enabled) {
  {
    platform::MutexLock lock(mutex_);
    reportingEnabled_ = enabled;
  }
  if (!enabled) {
    userEngagementTimer_->cancel();
    return;
  }
  if (GWLIsAppActive() && !userEngagementTimer_->scheduledTimestamp()) rescheduleUserEngagementTimer();
}

double GWLSessionReporter::timeoutSessionInterval() const {
  platform::MutexLock lock(mutex_);
  return timeoutSessionInterval_;
}

void GWLSessionReporter::setTimeoutSessionInterval(double seconds) {
  if (std::isnan(seconds)) return;
  if (seconds < 0) {
    report(kGWLNegativeTimeoutSessionReport);
    seconds = 0;
  }
  platform::MutexLock lock(mutex_);
  // A session that ran out under the old timeout ends before the new one applies.
  (void)isSessionExpiredLocked();
  timeoutSessionInterval_ = seconds;
}

bool GWLSessionReporter::hasReachedSessionTimeoutLocked() {
  const double gap = std::fabs(currentClockTime() - persistedConfig_->lastSessionActivityClockTime());
  return timeoutSessionInterval_ < gap;
}

bool GWLSessionReporter::hasReachedSessionTimeout() {
  if (!persistedConfig_) return true;
  platform::MutexLock lock(mutex_);
  return hasReachedSessionTimeoutLocked();
}

bool GWLSessionReporter::shouldStartNewSession() { return hasReachedSessionTimeout(); }

bool GWLSessionReporter::isSessionExpiredLocked() {
  if (GWLIsAppActive()) return false;
  if (!persistedConfig_) return true;
  if (!hasReachedSessionTimeoutLocked()) return false;
  if (persistedConfig_->lastSessionActivityClockTime() > 0) persistedConfig_->setLastSessionActivityClockTime(0);
  return true;
}

bool GWLSessionReporter::isSessionExpired() {
  platform::MutexLock lock(mutex_);
  return isSessionExpiredLocked();
}

bool GWLSessionReporter::extendSession() {
  platform::MutexLock lock(mutex_);
  if (isSessionExpiredLocked()) return false;
  persistedConfig_->setLastSessionActivityClockTime(currentClockTime());
  return true;
}

// ---------------------------------------------------------------------------
// Session properties

std::shared_ptr<GWLUserAttribute> GWLSessionReporter::sessionIDPropertyWithTimestamp(double timestamp) {
  return GWLUserAttribute::initWithOrigin(kGWLOriginAuto, kGWLSessionIDProperty,
                                          GWLValue::initWithInt64(GWLInt64FromDouble(timestamp)), timestamp);
}

std::shared_ptr<GWLUserAttribute> GWLSessionReporter::sessionNumberProperty() {
  const int64_t number = persistedConfig_ ? persistedConfig_->sessionNumber() : 0;
  return GWLUserAttribute::initWithOrigin(kGWLOriginAuto, kGWLSessionNumberProperty, GWLValue::initWithInt64(number),
                                          currentClockTime());
}

void GWLSessionReporter::updatePropertiesForNewSessionStart() {
  if (!persistedConfig_) return;
  platform::MutexLock lock(mutex_);
  countNewSessionLocked();
}

bool GWLSessionReporter::startNewSessionIfDue() {
  if (!persistedConfig_) return true;  // no settings: every session is new, and none can be counted
  platform::MutexLock lock(mutex_);
  if (!hasReachedSessionTimeoutLocked()) return false;
  countNewSessionLocked();
  return true;
}

void GWLSessionReporter::countNewSessionLocked() {
  const int64_t number = persistedConfig_->sessionNumber();
  persistedConfig_->setSessionNumber(number < std::numeric_limits<int64_t>::max() ? number + 1 : number);
  persistedConfig_->setLastSessionActivityClockTime(currentClockTime());
}

void GWLSessionReporter::setSessionID(const std::optional<int64_t>& sessionID,
                                      const std::optional<int64_t>& sessionNumber) {
  auto entry = analytics();
  if (!entry) return;
  auto valueOf = [](const std::optional<int64_t>& number) -> GWLRawParameter {
    if (!number) return platform::Object();
    return GWLValue::initWithInt64(*number);
  };
  entry->setInternalUserProperty(valueOf(sessionID), kGWLSessionIDProperty, kGWLOriginAuto);
  entry->setInternalUserProperty(valueOf(sessionNumber), kGWLSessionNumberProperty, kGWLOriginAuto);
}

// ---------------------------------------------------------------------------
// Reports

void GWLSessionReporter::logSessionStartEvent() {
  if (!GWLIsAppActive()) {
    report(kGWLSessionStartNotActiveReport);
    return;
  }
  if (!isReportingEnabled()) return;
  updatePropertiesForNewSessionStart();
  logCountedSessionStartEvent();
}

void GWLSessionReporter::logCountedSessionStartEvent() {
  const int64_t sessionID = GWLInt64FromDouble(currentClockTime());
  const int64_t sessionNumber = persistedConfig_ ? persistedConfig_->sessionNumber() : 0;
  setSessionID(sessionID, sessionNumber);
  if (auto entry = analytics()) {
    entry->logInternalEventWithOrigin(kGWLOriginAuto, kGWLSessionStartEventName,
                                      GWLRawParameters{{kGWLSessionIDProperty, GWLValue::initWithInt64(sessionID)},
                                                       {kGWLSessionNumberProperty, GWLValue::initWithInt64(sessionNumber)}});
  }
}

void GWLSessionReporter::logUserEngagementEvent() { (void)logEngagementEventAndReturnTimeWithScreen(nullptr, false); }

int64_t GWLSessionReporter::logEngagementEventAndReturnTimeWithScreen(const std::shared_ptr<const GWLScreen>& screen,
                                                                      bool isRedundant) {
  if (!GWLIsAppActive()) {
    report(kGWLEngagementNotActiveReport);
    return 0;
  }
  auto config = remoteConfig();
  const bool efficient = config->efficientEngagementReportingEnabled();
  const double interval = config->sessionEventUserEngagementInterval();
  const double uptime = currentUptime();
  const double clockTime = currentClockTime();

  bool reporting = false;
  bool negative = false;
  double incurred = 0;
  {
    // The span is read and restarted in one step, so no engagement is counted twice.
    platform::MutexLock lock(mutex_);
    reporting = reportingEnabled_;
    if (reporting) incurred = incurredEngagementTimeLocked(efficient, uptime, &negative);
    engagementStartUptime_ = uptime;
    if (efficient && !isRedundant) freerideEngagementStartUptime_ = uptime;
    if (persistedConfig_) persistedConfig_->setLastSessionActivityClockTime(clockTime);
  }
  armTimer(interval);
  if (!reporting) return 0;
  if (negative) report(kGWLNegativeEngagementTimeReport);

  const int64_t engagement = GWLEngagementMillisFromSeconds(std::min(incurred, kGWLMaxEngagementTimeSeconds));
  GWLRawParameters parameters{{kGWLEngagementTimeParameter, GWLValue::initWithInt64(engagement)}};
  if (screen) {
    for (const auto& [name, value] : GWLScreenParameters(*screen, config->valueLimits(), *monitor_)) {
      parameters.emplace(name, value);
    }
  }
  if (efficient && isRedundant) parameters[kGWLFreerideParameter] = GWLValue::initWithInt64(1);
  if (auto entry = analytics()) entry->logInternalEventWithOrigin(kGWLOriginAuto, kGWLUserEngagementEventName, parameters);
  return engagement;
}

// ---------------------------------------------------------------------------
// Foreground life

void GWLSessionReporter::handleAppDidBecomeActive() {
  const double uptime = currentUptime();
  {
    platform::MutexLock lock(mutex_);
    engagementStartUptime_ = uptime;
    freerideEngagementStartUptime_ = uptime;
  }
  rescheduleUserEngagementTimer();
  if (GWLIsAppActive() && isReportingEnabled() && startNewSessionIfDue()) {
    setSessionID(std::nullopt, std::nullopt);
    logCountedSessionStartEvent();
  }
}

void GWLSessionReporter::handleAppWillResignActiveWithScreen(const std::shared_ptr<const GWLScreen>& screen) {
  (void)logEngagementEventAndReturnTimeWithScreen(screen, false);
  userEngagementTimer_->cancel();
}

void GWLSessionReporter::handleScreenDidChangeFromScreen(const std::shared_ptr<const GWLScreen>& previous,
                                                         const std::shared_ptr<const GWLScreen>& /*next*/) {
  if (!previous) return;
  if (incurredEngagementTime() < kGWLMinScreenEngagementSeconds) return;
  auto config = remoteConfig();
  const bool efficient = config->efficientEngagementReportingEnabled();
  if (efficient && config->redundantEngagementRemovalEnabled()) return;
  (void)logEngagementEventAndReturnTimeWithScreen(previous, efficient);
}

int64_t GWLSessionReporter::cutFreerideEngagementTimeMillis() {
  const bool efficient = remoteConfig()->efficientEngagementReportingEnabled();
  if (!efficient) return 0;
  const double uptime = currentUptime();
  bool negative = false;
  double incurred = 0;
  {
    platform::MutexLock lock(mutex_);
    incurred = incurredEngagementTimeLocked(true, uptime, &negative);
    freerideEngagementStartUptime_ = uptime;
  }
  if (negative) report(kGWLNegativeEngagementTimeReport);
  return GWLEngagementMillisFromSeconds(incurred);
}

// ---------------------------------------------------------------------------
// Timer and clocks

void GWLSessionReporter::rescheduleUserEngagementTimer() {
  armTimer(remoteConfig()->sessionEventUserEngagementInterval());
}

void GWLSessionReporter::armTimer(double interval) {
  // A zero delay would fire again at once and flood the main queue with
  // empty engagement reports: without a positive interval no timer runs.
  if (!(interval > 0)) {
    userEngagementTimer_->cancel();
    return;
  }
  std::weak_ptr<GWLSessionReporter> weak = weak_from_this();
  userEngagementTimer_->runAfterDelay(interval, [weak] {
    auto self = weak.lock();
    if (!self) return;
    self->notificationCenter_->post(kGWLSessionReporterEngagementTimerDidFire);
    self->logUserEngagementEvent();
  });
}

double GWLSessionReporter::currentUptime() const { return clock_->uptime(); }

double GWLSessionReporter::currentClockTime() const { return clock_->now(); }

double GWLSessionReporter::incurredEngagementTimeLocked(bool efficient, double uptime, bool* negative) const {
  const double start = efficient ? freerideEngagementStartUptime_ : engagementStartUptime_;
  const double incurred = uptime - start;
  *negative = incurred < 0;
  return *negative ? 0 : incurred;
}

double GWLSessionReporter::incurredEngagementTime() {
  const bool efficient = remoteConfig()->efficientEngagementReportingEnabled();
  const double uptime = currentUptime();
  bool negative = false;
  double incurred = 0;
  {
    platform::MutexLock lock(mutex_);
    incurred = incurredEngagementTimeLocked(efficient, uptime, &negative);
  }
  if (negative) report(kGWLNegativeEngagementTimeReport);
  return incurred;
}
