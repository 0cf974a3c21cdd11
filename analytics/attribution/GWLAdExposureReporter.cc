#include "analytics/attribution/GWLAdExposureReporter.h"

#include <utility>

#include "analytics/foundation/config/GWLAdReportingHooks.h"
#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLAEU.h"
#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMilliseconds.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/values/GWLScreen.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"

namespace {

// Slices shorter than this many milliseconds are not logged.
constexpr int64_t kMinimumExposureMilliseconds = 1000;

GWLValue textValue(const std::string& text) { return *GWLValue::initWithString(text); }

}  // namespace

std::shared_ptr<GWLAdExposureReporter> GWLAdExposureReporter::sharedInstance() {
  // Never destroyed: posted blocks and observers may still reach it during exit.
  static const auto* shared = new std::shared_ptr<GWLAdExposureReporter>(create());
  return *shared;
}

GWLAdExposureReporter::GWLAdExposureReporter(Dependencies dependencies)
    : dependencies_([&] {
        if (!dependencies.clock) dependencies.clock = platform::Clock::system();
        if (!dependencies.notificationCenter) dependencies.notificationCenter = platform::NotificationCenter::defaultCenter();
        if (!dependencies.isAppActive) dependencies.isAppActive = GWLIsAppActive;
        return std::move(dependencies);
      }()),
      queue_(platform::SerialQueue::create(kGWLAdExposureReporterQueueLabel)),
      adExposureStartTime_(currentTime()) {}

GWLAdExposureReporter::~GWLAdExposureReporter() = default;

void GWLAdExposureReporter::observeEngagementTimer() {
  std::weak_ptr<GWLAdExposureReporter> weakSelf = weak_from_this();
  engagementObserver_ = dependencies_.notificationCenter->addObserver(
      kGWLSessionReporterEngagementTimerDidFire, nullptr, [weakSelf](const platform::Notification& notification) {
        if (auto self = weakSelf.lock()) self->handleEngagementTimer(notification);
      });
}

std::shared_ptr<GWLMeasurementEngineCalls> GWLAdExposureReporter::engine() const {
  if (dependencies_.engine) return dependencies_.engine();
  return GWLMeasurementRegistry::sharedInstance();
}

std::shared_ptr<GWLMonitor> GWLAdExposureReporter::monitor() const {
  return dependencies_.monitor ? dependencies_.monitor : GWLLibraryMonitor::monitor();
}

double GWLAdExposureReporter::currentTime() const { return dependencies_.clock->uptime(); }

GWLParameters GWLAdExposureReporter::currentScreenParameters() const {
  auto current = engine();
  return current ? current->screenParameters() : GWLParameters{};
}

GWLParameters GWLAdExposureReporter::parametersOfScreen(const GWLScreen& screen) const {
  const GWLValueLimits limits =
      dependencies_.valueLimits ? dependencies_.valueLimits() : GWLMeasurementRegistry::remoteConfig()->valueLimits();
  return GWLScreenParameters(screen, limits, *monitor());
}

void GWLAdExposureReporter::logEvent(const char* name, GWLParameters parameters) const {
  if (auto current = engine()) {
    current->logInternalEventWithOrigin(kGWLAdExposureEventOrigin, name, GWLRawParametersFromParameters(parameters));
  }
}

// ---- ad libraries ----

void GWLAdExposureReporter::beginAdUnitExposure(const std::string& adUnitID) {
  if (adUnitID.empty()) {
    GWLLogAttributionLine(*monitor(), kGWLAdExposureBeginEmptyID);
    return;
  }
  const double now = currentTime();
  std::weak_ptr<GWLAdExposureReporter> weakSelf = weak_from_this();
  queue_->async([weakSelf, adUnitID, now] {
    if (auto self = weakSelf.lock()) self->beginOnSerialQueue(adUnitID, now);
  });
}

void GWLAdExposureReporter::endAdUnitExposure(const std::string& adUnitID) {
  if (adUnitID.empty()) {
    GWLLogAttributionLine(*monitor(), kGWLAdExposureEndEmptyID);
    return;
  }
  const double now = currentTime();
  const GWLParameters screenParameters = currentScreenParameters();
  queue_->sync([&] { endOnSerialQueue(adUnitID, now, screenParameters); });
}

void GWLAdExposureReporter::beginOnSerialQueue(const std::string& adUnitID, double now) {
  auto count = adUnitCounts_.find(adUnitID);
  if (count != adUnitCounts_.end()) {
    // A unit already tracked takes no new place, so the limit does not apply.
    ++count->second;
    return;
  }
  if (adUnitCounts_.size() >= kGWLAdExposureMaxAdUnits) {
    GWLLogAttributionLine(*monitor(), kGWLAdExposureLimitReached, adUnitID);
    return;
  }
  if (adUnitCounts_.empty()) adExposureStartTime_ = now;
  adUnitStartTimes_[adUnitID] = now;
  adUnitCounts_[adUnitID] = 1;
}

void GWLAdExposureReporter::endOnSerialQueue(const std::string& adUnitID, double now,
                                             const GWLParameters& screenParameters) {
  auto count = adUnitCounts_.find(adUnitID);
  if (count == adUnitCounts_.end()) {
    GWLLogAttributionLine(*monitor(), kGWLAdExposureUnknownAdUnit, adUnitID);
    return;
  }
  if (count->second >= 2) {
    --count->second;
    return;
  }
  logAdUnitExposureEventOnSerialQueueWithID(adUnitID, now, screenParameters);
  adUnitCounts_.erase(count);
  adUnitStartTimes_.erase(adUnitID);
  if (adUnitCounts_.empty()) {
    logAdExposureEventOnSerialQueueWithEndTime(now, screenParameters);
    adExposureStartTime_ = now;
  }
}

// ---- slices ----

void GWLAdExposureReporter::logExposureEventsWithScreenParameters(const GWLParameters& screenParameters) {
  const double now = currentTime();
  queue_->sync([&] { logExposureEventsOnSerialQueueWithEndTime(now, screenParameters); });
}

void GWLAdExposureReporter::handleScreenDidChangeFromScreen(const std::shared_ptr<const GWLScreen>& previous,
                                                            const std::shared_ptr<const GWLScreen>& /*next*/) {
  if (!previous) return;
  logExposureEventsWithScreenParameters(parametersOfScreen(*previous));
}

void GWLAdExposureReporter::handleEngagementTimer(const platform::Notification& /*notification*/) {
  logExposureEventsWithScreenParameters(currentScreenParameters());
}

void GWLAdExposureReporter::handleAppDidBecomeActive() {
  const double now = currentTime();
  queue_->sync([&] { updateStartTimesOnSerialQueue(now); });
}

void GWLAdExposureReporter::handleAppWillResignActiveWithScreen(const std::shared_ptr<const GWLScreen>& screen) {
  GWLParameters screenParameters = screen ? parametersOfScreen(*screen) : GWLParameters{};
  if (screenParameters.empty()) screenParameters = currentScreenParameters();
  const double now = currentTime();
  queue_->sync([&] { logExposureEventsOnSerialQueueWithEndTime(now, screenParameters); });
}

void GWLAdExposureReporter::logExposureEventsOnSerialQueueWithEndTime(double endTime,
                                                                      const GWLParameters& screenParameters) {
  for (const auto& [adUnitID, count] : adUnitCounts_) {
    logAdUnitExposureEventOnSerialQueueWithID(adUnitID, endTime, screenParameters);
  }
  if (!adUnitCounts_.empty()) logAdExposureEventOnSerialQueueWithEndTime(endTime, screenParameters);
  updateStartTimesOnSerialQueue(endTime);
}

void GWLAdExposureReporter::updateStartTimesOnSerialQueue(double startTime) {
  if (adUnitCounts_.empty()) return;
  for (auto& [adUnitID, start] : adUnitStartTimes_) start = startTime;
  adExposureStartTime_ = startTime;
}

void GWLAdExposureReporter::logAdUnitExposureEventOnSerialQueueWithID(const std::string& adUnitID, double endTime,
                                                                      const GWLParameters& screenParameters) {
  if (!isReportingEnabled()) {
    GWLLogAttributionLine(*monitor(), kGWLAdUnitExposureReportingDisabled);
    return;
  }
  if (adUnitID.empty()) {
    GWLLogAttributionLine(*monitor(), kGWLAdUnitExposureEmptyID);
    return;
  }
  if (!dependencies_.isAppActive()) {
    GWLLogAttributionLine(*monitor(), kGWLAdUnitExposureAppNotActive);
    return;
  }
  auto start = adUnitStartTimes_.find(adUnitID);
  const double startTime = start == adUnitStartTimes_.end() ? endTime : start->second;
  const int64_t milliseconds = GWLInt64FromDouble((endTime - startTime) * 1000);
  if (milliseconds < kMinimumExposureMilliseconds) {
    GWLLogAttributionLine(*monitor(), kGWLAdUnitExposureTooShort);
    return;
  }
  GWLParameters parameters = screenParameters;
  parameters.insert_or_assign(kGWLAdUnitIDParameter, textValue(adUnitID));
  parameters.insert_or_assign(kGWLExposureTimeParameter, GWLValue::initWithInt64(milliseconds));
  logEvent(kGWLAdUnitExposureEventName, std::move(parameters));
}

void GWLAdExposureReporter::logAdExposureEventOnSerialQueueWithEndTime(double endTime,
                                                                       const GWLParameters& screenParameters) {
  if (!isReportingEnabled()) {
    GWLLogAttributionLine(*monitor(), kGWLAdExposureReportingDisabled);
    return;
  }
  if (!dependencies_.isAppActive()) {
    GWLLogAttributionLine(*monitor(), kGWLAdExposureAppNotActive);
    return;
  }
  const int64_t milliseconds = GWLInt64FromDouble((endTime - adExposureStartTime_) * 1000);
  if (milliseconds < kMinimumExposureMilliseconds) {
    GWLLogAttributionLine(*monitor(), kGWLAdExposureTooShort);
    return;
  }
  GWLParameters parameters = screenParameters;
  parameters.insert_or_assign(kGWLExposureTimeParameter, GWLValue::initWithInt64(milliseconds));
  logEvent(kGWLAdExposureEventName, std::move(parameters));
}
