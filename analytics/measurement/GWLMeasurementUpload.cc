// The upload schedule: when the engine uploads next and the alarm that
// starts it.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>

#include "analytics/foundation/config/GWLInstalledHook.h"
#include "analytics/foundation/config/GWLOnDeviceMeasurementHooks.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/config/GWLSKAdNetworkHooks.h"
#include "analytics/foundation/config/GWLServerStrings.h"
#include "analytics/foundation/core/GWLAlarm.h"
#include "analytics/foundation/core/GWLDataAdditions.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/foundation/values/GWLUserAttribute.h"
#include "analytics/measurement/GWLBundleConsent.h"
#include "analytics/measurement/GWLConsentSettingsUtil.h"
#include "analytics/measurement/GWLIdentity.h"
#include "analytics/measurement/GWLMeasurement.h"
#include "analytics/measurement/GWLUploadSchedule.h"
#include "analytics/wire/GWLPBMeasurementBatch.h"
#include "analytics/wire/GWLPBMeasurementBundle.h"
#include "analytics/wire/GWLPBUserAttribute.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/HTTPURLResponse.h"

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

bool GWLMeasurement::isUploadSuspended(bool quiet) {
  const double suspendedAt = suspendedUploadTimestamp();
  if (suspendedAt == 0) return false;
  const double elapsed = std::fabs(clock_->uptime() - suspendedAt);
  if (elapsed < kUploadSuspensionSeconds) {
    if (!quiet) report(kSuspendedReport, kUploadSuspensionSeconds - elapsed);
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
  GWLScheduler::checkOnBackgroundThreadWithMethodName("updateSchedule");
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

// ---------------------------------------------------------------------------
// Uploads.

namespace {

constexpr GWLAnalyticsReport kStartingUploadReport{kGWLLevelVerbose, 23033, "Starting data upload"};
constexpr GWLAnalyticsReport kUploadPendingReport{kGWLLevelVerbose, 23034,
                                                  "Network operation is pending. Ignoring upload request"};
constexpr GWLAnalyticsReport kUploadNotConnectedReport{kGWLLevelDebug, 23035,
                                                       "Network not connected, ignoring upload request"};
constexpr GWLAnalyticsReport kQueryBundlesFailedReport{kGWLLevelErrorSampled, 23036, "Failed to query bundles. Error"};
constexpr GWLAnalyticsReport kNothingQueuedReport{kGWLLevelVerbose, 23037, "No data to upload"};
constexpr GWLAnalyticsReport kElapsedSinceSuccessReport{
    kGWLLevelVerbose, 23038, "Uploading events. Elapsed time since last successful upload (s)"};
constexpr GWLAnalyticsReport kBatchSentReport{kGWLLevelDebug, 23039,
                                              "Measurement data sent to network. Timestamp (ms), data"};
constexpr GWLAnalyticsReport kNoSessionReport{kGWLLevelErrorSilent, 23040, "Unable to create network session."};
constexpr GWLAnalyticsReport kBothFiltersReport{
    kGWLLevelErrorSilent, 23042, "Bundle filter must not specify both resettableDeviceID and vendorDeviceID"};
constexpr GWLAnalyticsReport kUploadFailedReport{kGWLLevelDebug, 23043,
                                                 "Network upload failed. Will retry later. Code, error"};
constexpr GWLAnalyticsReport kUploadSucceededReport{kGWLLevelDebug, 23044,
                                                    "Successful upload. Got network response. Code, size"};
constexpr GWLAnalyticsReport kDeleteFailedSuspendingReport{
    kGWLLevelErrorSampled, 23045, "Unable to delete uploaded bundles. Uploads will be suspended for seconds"};
constexpr GWLAnalyticsReport kEmptyBundleListReport{kGWLLevelErrorSilent, 23046,
                                                    "Bundle list is empty. Cancelling upload"};
constexpr GWLAnalyticsReport kUploadAlreadyHeldReport{kGWLLevelErrorSilent, 23047,
                                                      "Set uploading progress before finishing the previous upload"};
constexpr GWLAnalyticsReport kDeleteBundlesFailedReport{kGWLLevelErrorSampled, 23122,
                                                        "Failed to delete bundles from database. Error"};
constexpr GWLAnalyticsReport kRetryCountFailedReport{kGWLLevelErrorSilent, 23166,
                                                     "Failed to update the bundles' retry counts. Error"};
constexpr GWLAnalyticsReport kNoSVTPURLReport{kGWLLevelErrorSampled, 23263,
                                              "Unable to get a valid SVTP upload URL."};

bool isBackoffStatus(int status) {
  return status == platform::kHVUNetworkHTTPStatusCodeUnavailable ||
         status == platform::kHVUNetworkHTTPStatusCodeCannotAcceptTraffic;
}

// Whether a bundle's identifier passes a device filter: no filter, no
// identifier, or the same one.
bool passesFilter(const std::optional<std::string>& identifier, const std::string& filter) {
  return filter.empty() || !identifier || identifier->empty() || *identifier == filter;
}

// The server's answer size for the log: its Content-Length, else the body's.
int64_t answerSize(const platform::HTTPURLResponse* response, size_t bodySize) {
  if (response) {
    if (auto length = response->valueForHTTPHeaderField("Content-Length")) {
      char* end = nullptr;
      const long long parsed = std::strtoll(length->c_str(), &end, 10);
      if (end && *end == '\0' && !length->empty()) return parsed;
    }
  }
  return static_cast<int64_t>(bodySize);
}

}  // namespace

void GWLMeasurement::uploadDataOrRegisterAlarm() {
  if (network_ && network_->isNetworkConnected() && hasDataToUpload()) {
    uploadData();
  } else {
    updateSchedule();
  }
}

void GWLMeasurement::recordRequestFailure(int status) {
  const double current = now();
  persistedConfig_->setLastFailedUploadTimestamp(current);
  if (isBackoffStatus(status)) persistedConfig_->setLastBackoffTimestamp(current);
}

void GWLMeasurement::uploadData() {
  GWLScheduler::checkOnBackgroundThreadWithMethodName("uploadData");
  if (isUploadSuspended(/*quiet=*/true)) {
    updateSchedule();
    return;
  }
  report(kStartingUploadReport);
  if (!isNetworkReadyForRequest()) {
    report(kUploadPendingReport);
    return;
  }
  if (!network_ || !network_->isNetworkConnected()) {
    report(kUploadNotConnectedReport);
    updateSchedule();
    return;
  }
  auto db = database();
  auto config = engineRemoteConfig();
  if (!db || !config) return;  // not started

  const bool expired = config->isExpired();
  if (!expired) {
    const int32_t passes = config->maxBundlesCreatedPerIteration();
    for (int32_t pass = 0; pass < passes && bundleRawEvents(); ++pass) {
    }
  }

  platform::Error error;
  std::optional<std::vector<GWLQueuedBundle>> queued =
      db->queryBundlesWithCountLimit(config->uploadMaxBundlesLimit(), config->uploadMaxSizeLimitBytes(), &error);
  if (!queued) {
    report(kQueryBundlesFailedReport, error);
    terminateBackgroundTask();
    return;
  }
  if (queued->empty()) {
    (void)config->activateNewSnapshot();
    report(kNothingQueuedReport);
    if (expired) {
      fetchRemoteConfig();
    } else {
      terminateBackgroundTask();
    }
    return;
  }

  // The endpoint: the collection service, or the app's server-side tagging
  // server (https only) with its headers and the preview headers.
  std::string url;
  Headers headers;
  std::optional<std::string> subdomain;
  if (config->SVTPUploadEnabled()) {
    std::optional<std::string> svtpURL = config->SVTPUploadURL();
    if (!svtpURL || !GWLIsHTTPSURL(*svtpURL)) {
      // Not a tight loop: the attempt counts as failed, so the retry schedule spaces the next one.
      report(kNoSVTPURLReport);
      recordRequestFailure(0);
      updateSchedule();
      terminateBackgroundTask();
      return;
    }
    url = *svtpURL;
    if (auto configured = config->SVTPUploadHTTPHeaders()) headers = *configured;
    if (auto preview = SVTPPreviewHeaders()) {
      for (const auto& [name, value] : *preview) headers.insert_or_assign(name, value);
    }
    headers = GWLValidServerHeaders(headers);
    subdomain = config->uploadSubdomain();
  } else {
    url = config->uploadURL();
  }

  std::optional<UploadBatch> batch = batchFromQueuedBundles(*queued, subdomain);
  if (!batch) return;

  setUploadInProgressWithBundleIDs(batch->bundleIDs);
  persistedConfig_->setLastFailedUploadTimestamp(now());
  setIsNetworkRequestPending(true);
  const uint64_t request = ++requestGeneration_;
  network_->setTimeoutInterval(config->networkTimeout());
  std::weak_ptr<GWLMeasurement> weak = weakSelf_;
  const std::string requestID = network_->postURL(
      url, headers, batch->body, scheduler_->workerQueue(), shouldUseBackgroundSession(),
      [weak, request](std::shared_ptr<const platform::HTTPURLResponse> response, std::vector<uint8_t> /*body*/,
                      std::optional<platform::Error> error) {
        auto self = weak.lock();
        if (!self || self->requestGeneration_ != request) return;  // gone, or given up already
        self->setIsNetworkRequestPending(false);
        self->networkUploadCompletionHandlerWithResponse(response, error);
      });
  if (requestID.empty()) {
    // The client made no request: its completion is ignored, and the
    // attempt ends here as a failed one.
    report(kNoSessionReport);
    ++requestGeneration_;
    uploadingBundleIDs_.clear();
    setIsNetworkRequestPending(false);
    updateSchedule();
  }
}

std::optional<GWLMeasurement::UploadBatch> GWLMeasurement::batchFromQueuedBundles(
    std::vector<GWLQueuedBundle>& queued, const std::optional<std::string>& uploadSubdomain) {
  auto config = remoteConfig();
  auto id = identity();
  auto db = database();
  if (!config || !id || !db) return std::nullopt;

  // Consent of the moment: the current signals overwrite a bundle's own
  // when they deny something, or from the first bundle holding a first open on.
  tcfClientSetConsentFromData();
  const std::string signals = GWLConsentSettingsUtil::consentSignals();
  const bool gate = config->gateIDFAOnATTMASEnabled();
  const std::string diagnostics = GWLConsentSettingsUtil::consentDiagnostics();
  const bool adUserDataDenied = GWLConsentSettingsUtil::isAdUserDataDenied();
  std::shared_ptr<GWLPBUserAttribute> storedNPA;
  if (auto npa = db->userAttributeWithName(kGWLBundleNPAPropertyName)) storedNPA = npa->protoUserAttribute();
  const GWLBundleIdentity deviceIdentity = GWLBundleIdentityOf(*id);
  bool refresh = signals.find('0') != std::string::npos;
  for (GWLQueuedBundle& entry : queued) {
    if (!entry.bundle) continue;
    refresh = refresh || GWLBundleHasFirstOpenEvent(*entry.bundle);
    GWLApplyAdIdentifierConsent(*entry.bundle, signals, gate, deviceIdentity, refresh);
    GWLApplyConsentDiagnostics(*entry.bundle, diagnostics, adUserDataDenied, storedNPA, *config, refresh);
  }

  const double current = now();
  const double lastSuccess = persistedConfig_->lastSuccessfulUploadTimestamp();
  if (lastSuccess != 0) report(kElapsedSinceSuccessReport, std::fabs(current - lastSuccess));

  // The device filter: the first bundle naming a device identifier decides.
  std::string appID;
  if (queued.front().bundle) appID = queued.front().bundle->appId().value_or("");
  std::string resettableFilter;
  std::string vendorFilter;
  for (const GWLQueuedBundle& entry : queued) {
    if (!entry.bundle) continue;
    resettableFilter = entry.bundle->resettableDeviceId().value_or("");
    vendorFilter = entry.bundle->vendorDeviceId().value_or("");
    if (!resettableFilter.empty() || !vendorFilter.empty()) break;
  }
  std::vector<GWLQueuedBundle> selected =
      filteredBundlesWithCompatibleAppID(appID, resettableFilter, vendorFilter, queued);
  if (selected.empty()) return std::nullopt;

  UploadBatch batch;
  batch.uploadTimestampMillis = static_cast<int64_t>(current * 1000);
  const int64_t libraryVersion = GWLIdentity::gaugewellLibraryVersion();
  const std::vector<std::string> dataControls = config->dataControls();
  const bool checksum = config->checksumEnabled();
  std::vector<std::shared_ptr<GWLPBMeasurementBundle>> bundles;
  const GWLPBMeasurementBundle* first = selected.front().bundle.get();
  for (const GWLQueuedBundle& entry : selected) {
    GWLPBMeasurementBundle& bundle = *entry.bundle;
    if (selected.size() > 1 && !GWLAreBundlesCompatible(first, &bundle)) break;
    bundle.setUploadingLibraryVersion(libraryVersion);
    bundle.setUploadTimestamp(batch.uploadTimestampMillis);
    GWLApplyDataControls(bundle, dataControls, *id);
    if (checksum) {
      if (auto bytes = bundle.protoBuffer()) bundle.setChecksum(static_cast<int64_t>(gwl_64LSBMD5(*bytes)));
    }
    batch.lastEventEndTimestampMillis = std::max(batch.lastEventEndTimestampMillis, bundle.endTimestamp());
    bundles.push_back(entry.bundle);
    batch.bundleIDs.push_back(entry.rowID);
  }
  lastEventEndTimestampMsec_ = std::max(lastEventEndTimestampMsec_, batch.lastEventEndTimestampMillis);

  auto message = GWLPBMeasurementBatch::initWithMessageInfo();
  if (!message) return std::nullopt;
  message->setBundles(bundles);
  if (uploadSubdomain && !uploadSubdomain->empty()) message->setUploadSubdomain(*uploadSubdomain);
  std::optional<std::vector<uint8_t>> body = message->protoBuffer();
  if (!body) return std::nullopt;
  batch.body = std::move(*body);
  report(kBatchSentReport, batch.uploadTimestampMillis, static_cast<int64_t>(batch.body.size()));
  return batch;
}

std::vector<GWLQueuedBundle> GWLMeasurement::filteredBundlesWithCompatibleAppID(
    const std::string& appID, const std::string& resettableDeviceID, const std::string& vendorDeviceID,
    const std::vector<GWLQueuedBundle>& bundles) {
  if (!resettableDeviceID.empty() && !vendorDeviceID.empty()) {
    report(kBothFiltersReport);
    return {};
  }
  std::vector<GWLQueuedBundle> selected;
  for (const GWLQueuedBundle& entry : bundles) {
    if (!entry.bundle || entry.bundle->appId().value_or("") != appID) break;
    if (!passesFilter(entry.bundle->resettableDeviceId(), resettableDeviceID)) break;
    if (!passesFilter(entry.bundle->vendorDeviceId(), vendorDeviceID)) break;
    selected.push_back(entry);
  }
  return selected;
}

void GWLMeasurement::setUploadInProgressWithBundleIDs(const std::vector<int64_t>& bundleIDs) {
  if (bundleIDs.empty()) {
    report(kEmptyBundleListReport);
    return;
  }
  if (!uploadingBundleIDs_.empty()) {
    report(kUploadAlreadyHeldReport);
    return;
  }
  uploadingBundleIDs_ = bundleIDs;
}

void GWLMeasurement::incrementRetryCounter() {
  auto db = database();
  if (!db || uploadingBundleIDs_.empty()) return;
  platform::Error error;
  if (!db->incrementRetryCounterForBundlesWithIDs(uploadingBundleIDs_, &error)) report(kRetryCountFailedReport, error);
}

bool GWLMeasurement::removeBundlesFromDatabaseWithIDs(const std::vector<int64_t>& bundleIDs) {
  auto db = database();
  if (!db) return false;
  platform::Error error;
  if (db->deleteBundlesWithRowIDs(bundleIDs, &error)) return true;
  report(kDeleteBundlesFailedReport, error);
  return false;
}

void GWLMeasurement::networkUploadCompletionHandlerWithResponse(
    const std::shared_ptr<const platform::HTTPURLResponse>& response, const std::optional<platform::Error>& error) {
  const int status = response ? response->statusCode : 0;
  if (status == platform::kHVUNetworkHTTPStatusOK || status == platform::kHVUNetworkHTTPStatusNoContent) {
    report(kUploadSucceededReport, static_cast<int64_t>(status), answerSize(response.get(), 0));
    persistedConfig_->setLastSuccessfulUploadTimestamp(now());
    persistedConfig_->setLastFailedUploadTimestamp(0);
    persistedConfig_->setLastBackoffTimestamp(0);
    persistedConfig_->setLastUploadedEventTimestampMillis(
        std::max(persistedConfig_->lastUploadedEventTimestampMillis(), lastEventEndTimestampMsec_));
    GWLInstalledHook<GWLSKAdNetworkHooks>::get()->resetSKANRetryCount();
    updateSchedule();
    if (removeBundlesFromDatabaseWithIDs(uploadingBundleIDs_)) {
      setSuspendedUploadTimestamp(0);
    } else {
      report(kDeleteFailedSuspendingReport, kUploadSuspensionSeconds);
      setSuspendedUploadTimestamp(clock_->uptime());
    }
    uploadingBundleIDs_.clear();
    auto config = engineRemoteConfig();
    const bool expired = config && config->isExpired();
    auto onDevice = GWLInstalledHook<GWLOnDeviceMeasurementHooks>::get();
    if ((network_ && network_->isNetworkConnected() && hasDataToUpload()) || expired) {
      uploadData();
    } else if (onDevice->isPSMRequestPostponed()) {
      // The on-device measurement query waited for this upload's network.
      onDevice->setIsPSMRequestPostponed(false);
      onDevice->retrievePSMResponse();
    } else {
      updateSchedule();
      GWLInstalledHook<GWLSKAdNetworkHooks>::get()->scheduleSKANCVFetchAfterDataUpload();
    }
    return;
  }
  recordRequestFailure(status);
  report(kUploadFailedReport, static_cast<int64_t>(status), error ? GWLLogContext(*error) : GWLLogContext());
  incrementRetryCounter();
  uploadingBundleIDs_.clear();
  updateSchedule();
}
