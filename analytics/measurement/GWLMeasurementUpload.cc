// The upload schedule: when the engine uploads next and the alarm that
// starts it.
#include <algorithm>
#include <cfloat>
#include <cmath>

#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/config/GWLSKAdNetworkHooks.h"
#include "analytics/foundation/core/GWLAlarm.h"
#include "analytics/foundation/config/GWLInstalledHook.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/measurement/GWLMeasurement.h"
#include "analytics/measurement/GWLUploadSchedule.h"
#include "platform/dispatch/Clock.h"

namespace {

// How long a failed delete of uploaded bundles (or of the configuration's
// fetch time) holds uploads, in seconds of uptime.
constexpr double kUploadSuspensionSeconds = 3600;
// A next fire further ahead than this lets the app be suspended.
constexpr double kBackgroundTaskHorizonSeconds = 30;

constexpr GWLAnalyticsReport kSuspendedReport{kGWLLevelWarning, 23023,
                                              "Upload has been suspended. Will update scheduling later. Seconds"};
constexpr GWLAnalyticsReport kNoDataReport{kGWLLevelVerbose, 23024,
                                           "No data to upload. Upload task will not be scheduled"};
constexpr GWLAnalyticsReport kNoNextTimeReport{kGWLLevelVerbose, 23025,
                                               "No next uploading time. Upload task will not be scheduled"};
constexpr GWLAnalyticsReport kNoNetworkReport{kGWLLevelVerbose, 23026,
                                              "No network. Upload task will not be scheduled"};
constexpr GWLAnalyticsReport kTaskExistsReport{
    kGWLLevelVerbose, 23027, "Do not schedule an upload task. Task already exists. Will be executed in seconds"};
constexpr GWLAnalyticsReport kScheduledReport{kGWLLevelVerbose, 23028,
                                              "Upload task scheduled to be executed in approx. (s)"};
constexpr GWLAnalyticsReport kLatestRawEventFailedReport{kGWLLevelWarningSilent, 23029,
                                                         "Failed to query latest raw event time. Error"};
constexpr GWLAnalyticsReport kLatestBundleFailedReport{kGWLLevelWarningSilent, 23030,
                                                       "Failed to query latest bundle time. Error"};
constexpr GWLAnalyticsReport kRealtimeBundleFailedReport{kGWLLevelWarningSilent, 23031,
                                                         "Failed to query for real-time bundle indicator. Error"};
constexpr GWLAnalyticsReport kRealtimeRawEventFailedReport{kGWLLevelWarningSilent, 23032,
                                                           "Failed to query for real-time raw event indicator. Error"};
constexpr GWLAnalyticsReport kUploadingWithoutNetworkReport{kGWLLevelErrorSampled, 23041,
                                                            "Analytics is uploading but network is not uploading"};
constexpr GWLAnalyticsReport kQueueEmptyCheckFailedReport{kGWLLevelErrorSampled, 23117,
                                                          "Failed to check if queue table is empty. Error"};
constexpr GWLAnalyticsReport kRawEventsEmptyCheckFailedReport{kGWLLevelErrorSampled, 23118,
                                                              "Failed to check if raw events table is empty. Error"};

}  // namespace

double GWLNextUploadingTime(const GWLUploadScheduleInputs& in) {
  if (in.newestDataTimestamp < DBL_EPSILON) return 0;
  const double newest = in.now - std::fabs(in.newestDataTimestamp - in.now);
  const double success = in.lastSuccessfulUploadTimestamp;
  double next = std::fabs(in.now - success) < in.interval ? success + in.interval
                                                          : newest + in.initialDelayInterval;
  if (in.lastFailedUploadTimestamp >= newest) {
    for (int32_t retry = 0; retry < in.retryCount; ++retry) {
      next += in.retryInterval * std::ldexp(1.0, retry);
      if (next > in.lastFailedUploadTimestamp) return next;
    }
    return 0;
  }
  if (in.debugMode) next = std::min(next, newest + in.debugModeInterval);
  return next;
}

bool GWLMeasurement::isUploadSuspended() {
  const double suspendedAt = suspendedUploadTimestamp();
  if (suspendedAt == 0) return false;
  const double elapsed = std::fabs(clock_->uptime() - suspendedAt);
  if (elapsed < kUploadSuspensionSeconds) {
    report(kSuspendedReport, kUploadSuspensionSeconds - elapsed);
    return true;
  }
  setSuspendedUploadTimestamp(0);
  return false;
}

bool GWLMeasurement::hasDataToUpload() {
  auto db = database();
  if (!db) return false;
  platform::Error error;
  const std::optional<bool> queueEmpty = db->isQueuedBundleTableEmpty(&error);
  if (!queueEmpty) {
    report(kQueueEmptyCheckFailedReport, error);
    return false;
  }
  if (!*queueEmpty) return true;
  const std::optional<bool> rawEventsEmpty = db->isRawEventsTableEmpty(&error);
  if (!rawEventsEmpty) {
    report(kRawEventsEmptyCheckFailedReport, error);
    return false;
  }
  return !*rawEventsEmpty;
}

bool GWLMeasurement::isNetworkReadyForRequest() const {
  const bool networkBusy = network_ && network_->hasUploadInProgress();
  if (!isNetworkRequestPending()) return !networkBusy;
  if (!networkBusy) report(kUploadingWithoutNetworkReport);
  return false;
}

bool GWLMeasurement::shouldUseBackgroundSession() const {
  auto config = remoteConfig();
  return config && config->isNetworkBackgroundSessionEnabled() &&
         backgroundUpdateTask() != platform::kBackgroundTaskInvalid;
}

double GWLMeasurement::nextUploadingTime() {
  auto db = database();
  auto config = remoteConfig();
  if (!db || !config) return 0;

  GWLUploadScheduleInputs in;
  in.now = now();
  in.lastSuccessfulUploadTimestamp = persistedConfig_->lastSuccessfulUploadTimestamp();
  in.lastFailedUploadTimestamp = persistedConfig_->lastFailedUploadTimestamp();

  platform::Error error;
  const std::optional<double> latestRawEvent = db->queryLatestRawEventTime(&error);
  if (!latestRawEvent) report(kLatestRawEventFailedReport, error);
  error = platform::Error();
  const std::optional<double> latestBundle = db->queryLatestBundleTime(&error);
  if (!latestBundle) report(kLatestBundleFailedReport, error);
  in.newestDataTimestamp = std::max(latestRawEvent.value_or(0), latestBundle.value_or(0));
  if (in.newestDataTimestamp < DBL_EPSILON) return 0;

  in.debugMode = monitor_ && monitor_->isDebugModeEnabled();
  if (in.debugMode) {
    in.interval = config->uploadingRealTimeInterval();
  } else {
    error = platform::Error();
    const std::optional<bool> realtimeBundles = db->containsRealtimeBundlesWithError(&error);
    if (!realtimeBundles) report(kRealtimeBundleFailedReport, error);
    bool realtime = realtimeBundles.value_or(false);
    if (!realtime) {
      error = platform::Error();
      const std::optional<bool> realtimeRawEvents = db->containsRealtimeRawEventsWithError(&error);
      if (!realtimeRawEvents) report(kRealtimeRawEventFailedReport, error);
      realtime = realtimeRawEvents.value_or(false);
    }
    if (realtime) {
      in.interval = config->uploadingRealTimeInterval();
    } else if (config->SKANUpdateConversionValueEnabled() &&
               GWLInstalledHook<GWLSKAdNetworkHooks>::get()->isInFirstSKANPostbackWindow()) {
      in.interval = config->SKANFirstWindowUploadInterval();
    } else {
      in.interval = config->uploadingInterval();
    }
  }
  in.initialDelayInterval = config->uploadingInitialDelayInterval();
  in.retryCount = config->uploadingRetryCount();
  in.retryInterval = config->uploadingRetryInterval();
  in.debugModeInterval = config->uploadingDebugModeInterval();
  return GWLNextUploadingTime(in);
}

void GWLMeasurement::updateSchedule() {
  const auto stopWatching = [this] {
    alarm_->cancel();
    if (network_) network_->setReachabilityDelegate({});
    terminateBackgroundTask();
  };
  if (isUploadSuspended()) {
    stopWatching();
    return;
  }
  if (!hasDataToUpload()) {
    if (auto config = remoteConfig()) (void)config->activateNewSnapshot();
    report(kNoDataReport);
    stopWatching();
    return;
  }
  double next = nextUploadingTime();
  if (next == 0) {
    report(kNoNextTimeReport);
    stopWatching();
    return;
  }
  if (!network_ || !network_->isNetworkConnected()) {
    report(kNoNetworkReport);
    if (network_) network_->setReachabilityDelegate(weakSelf_);
    alarm_->cancel();
    terminateBackgroundTask();
    return;
  }
  network_->setReachabilityDelegate({});

  const double current = now();
  const double backoff = persistedConfig_->lastBackoffTimestamp();
  const double backoffInterval = remoteConfig()->uploadingBackoffInterval();
  if (backoff != 0 && current - backoff < backoffInterval) next = std::max(next, backoff + backoffInterval);

  const std::optional<double> scheduled = alarm_->scheduledTimestamp();
  if (scheduled && *scheduled != 0 && *scheduled <= next) {
    report(kTaskExistsReport, *scheduled - current);
    if (*scheduled - current > kBackgroundTaskHorizonSeconds) terminateBackgroundTask();
    return;
  }

  double delay = next - current;
  if (std::fabs(delay) < DBL_EPSILON) delay = 0.001;
  std::weak_ptr<GWLMeasurement> weak = weakSelf_;
  alarm_->runAfterDelay(delay, [weak] {
    if (auto self = weak.lock()) {
      self->scheduleWeakly("GWLMeasurement:1807", [](GWLMeasurement& engine) { engine.uploadData(); });
    }
  });
  report(kScheduledReport, delay);
  if (delay > kBackgroundTaskHorizonSeconds) terminateBackgroundTask();
}
