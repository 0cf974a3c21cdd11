#include "analytics/attribution/GWLMeasurementSKAdNetwork.h"

#include <limits>
#include <utility>

#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLAlarm.h"
#include "analytics/foundation/core/GWLError.h"
#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMilliseconds.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "analytics/foundation/values/GWLEvent.h"
#include "analytics/wire/GWLPBSkAdNetworkConversionValueRequest.h"
#include "analytics/wire/GWLPBSkAdNetworkConversionValueResponse.h"
#include "platform/compression/Gzip.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/env/AppEnvironment.h"
#include "platform/env/SystemVersion.h"
#include "platform/net/HVUNetwork.h"
#include "platform/text/UnicodeText.h"

namespace {

// Log lines: code, monitor level, message.
constexpr int64_t kRequestPostponedCode = 23240;  // level 7
constexpr const char* kRequestPostponedMessage =
    "Network operation is pending. Request to fetch SKAdNetwork conversion value postponed.";
constexpr int64_t kFetchFailedCode = 23241;  // level 7
constexpr const char* kFetchFailedMessage = "Network request failed to fetch SKAN conversion value. Code, Error";
constexpr int64_t kNoDataCode = 23242;  // level 1
constexpr const char* kNoDataMessage = "No SKAdNetwork conversion value data returned.";
constexpr int64_t kInvalidDataCode = 23243;  // level 1
constexpr const char* kInvalidDataMessage = "Invalid SKAdNetwork conversion value data returned.";
constexpr int64_t kMissingEventTimeCode = 23244;  // level 1
constexpr const char* kMissingEventTimeMessage = "SKAdNetwork conversion value data missing event time field.";
constexpr int64_t kInvalidFineValueCode = 23245;  // level 1
constexpr const char* kInvalidFineValueMessage = "Invalid SKAdNetwork fine conversion value. Fine value";
constexpr int64_t kExpiredCode = 23246;  // level 4
constexpr const char* kExpiredMessage = "SKAdNetwork conversion value expired.";
constexpr int64_t kOutdatedCode = 23247;  // level 4
constexpr const char* kOutdatedMessage = "Received outdated SKAdNetwork conversion value.";
constexpr int64_t kUpdatingCode = 23248;  // level 7
constexpr const char* kUpdatingMessage = "Updating SKAdNetwork postback conversion value.";
constexpr int64_t kUpdateFailedCode = 23249;  // level 1
constexpr const char* kUpdateFailedMessage = "SKAdNetwork postback conversion value update failed. Error";
constexpr int64_t kRetryLimitCode = 23250;  // level 4
constexpr const char* kRetryLimitMessage = "Reached retry limit for SKAdNetwork conversion value fetch.";
constexpr int64_t kNoValuesCode = 23251;  // level 1
constexpr const char* kNoValuesMessage = "SKAdNetwork fine and coarse conversion values missing.";
constexpr int64_t kMissingResultTimeCode = 23255;  // level 1
constexpr const char* kMissingResultTimeMessage = "SKAdNetwork conversion value data missing result time field.";

constexpr const char* kUpdateCompletionBlockID = "GWLMeasurement:429";
constexpr const char* kAcceptEncodingHeader = "Accept-Encoding";
constexpr const char* kContentEncodingHeader = "Content-Encoding";
constexpr const char* kGzipEncoding = "gzip";

constexpr int32_t kCoarseValueHigh = 3;
constexpr int32_t kCoarseValueMedium = 2;

// a + b, held at the int64 limits (stored and served times may be anything).
int64_t saturatingAdd(int64_t a, int64_t b) {
  int64_t sum = 0;
  if (!__builtin_add_overflow(a, b, &sum)) return sum;
  return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}

}  // namespace

std::shared_ptr<GWLMeasurementSKAdNetwork> GWLMeasurementSKAdNetwork::create(Dependencies dependencies) {
  return std::shared_ptr<GWLMeasurementSKAdNetwork>(new GWLMeasurementSKAdNetwork(std::move(dependencies)));
}

GWLMeasurementSKAdNetwork::GWLMeasurementSKAdNetwork(Dependencies dependencies)
    : dependencies_([&] {
        Dependencies d = std::move(dependencies);
        if (!d.adNetwork) d.adNetwork = platform::SKAdNetwork::defaultInstance();
        if (!d.clock) d.clock = platform::Clock::system();
        return d;
      }()) {}

GWLMeasurementSKAdNetwork::~GWLMeasurementSKAdNetwork() {
  std::shared_ptr<GWLAlarm> retry;
  std::shared_ptr<GWLAlarm> delay;
  {
    platform::MutexLock lock(mutex_);
    retry = std::move(retryAlarm_);
    delay = std::move(delayAlarm_);
  }
  // An armed alarm keeps itself alive; its block holds this object weakly and
  // would find it gone, so it is disarmed here.
  if (retry) retry->cancel();
  if (delay) delay->cancel();
}

std::shared_ptr<GWLMeasurementEngine> GWLMeasurementSKAdNetwork::engine() const {
  return dependencies_.engine ? dependencies_.engine() : GWLMeasurementRegistry::sharedInstance();
}

std::shared_ptr<GWLMonitor> GWLMeasurementSKAdNetwork::monitor() const {
  return dependencies_.monitor ? dependencies_.monitor : GWLLibraryMonitor::monitor();
}

std::shared_ptr<GWLRemoteConfig> GWLMeasurementSKAdNetwork::remoteConfig(
    const std::shared_ptr<GWLMeasurementEngine>& engine) const {
  std::shared_ptr<GWLRemoteConfig> config = engine ? engine->remoteConfig() : nullptr;
  return config ? config : GWLRemoteConfig::defaultInstance();
}

bool GWLMeasurementSKAdNetwork::isSystemVersionSupported() const {
  const std::string version = dependencies_.environment ? dependencies_.environment->systemVersion()
                                                        : platform::AppEnvironment::shared()->systemVersion();
  return platform::isSystemVersionAtLeast(version, kGWLSKANMinimumSystemVersion);
}

int64_t GWLMeasurementSKAdNetwork::nowMillis() const {
  return GWLMillisecondsFromSeconds(dependencies_.clock->now());
}

int64_t GWLMeasurementSKAdNetwork::firstOpenMillis() const {
  std::shared_ptr<GWLMeasurementEngine> engine = this->engine();
  std::shared_ptr<GWLPersistedConfig> persisted = engine ? engine->persistedConfig() : nullptr;
  return persisted ? persisted->firstOpenTimestampMilliseconds() : 0;
}

// ---- facts ----

std::string GWLMeasurementSKAdNetwork::SKANVersion() const {
  return isSystemVersionSupported() ? kGWLSKANVersion4 : kGWLSKANVersion3;
}

bool GWLMeasurementSKAdNetwork::isInFirstSKANPostbackWindow() { return inFirstWindow(); }

bool GWLMeasurementSKAdNetwork::inFirstWindow() const {
  return saturatingAdd(firstOpenMillis(), kGWLSKANFirstWindowMillis) >= nowMillis();
}

bool GWLMeasurementSKAdNetwork::isPastAllSKANPostbackWindows() const {
  const int64_t firstOpen = firstOpenMillis();
  return firstOpen == 0 || saturatingAdd(firstOpen, kGWLSKANAllWindowsMillis) < nowMillis();
}

bool GWLMeasurementSKAdNetwork::isValidFineConversionValue(int64_t value) {
  return value >= 0 && value <= platform::kSKAdNetworkMaxFineConversionValue;
}

platform::SKAdNetworkCoarseConversionValue GWLMeasurementSKAdNetwork::convertCoarseConversionValueFromProtoValue(
    int32_t value) {
  if (value == kCoarseValueHigh) return platform::SKAdNetworkCoarseConversionValue::kHigh;
  if (value == kCoarseValueMedium) return platform::SKAdNetworkCoarseConversionValue::kMedium;
  return platform::SKAdNetworkCoarseConversionValue::kLow;
}

int32_t GWLMeasurementSKAdNetwork::SKANFetchRetryLimit() const {
  std::shared_ptr<GWLMeasurementEngine> engine = this->engine();
  std::shared_ptr<GWLPersistedConfig> persisted = engine ? engine->persistedConfig() : nullptr;
  if (persisted) {
    const int64_t evaluationTime = persisted->SKANEvaluationEventTimeMillis();
    const int64_t backoff = persisted->SKANEvaluationUpdateBackoffMillis();
    if (evaluationTime > 0 && backoff > 0 && saturatingAdd(evaluationTime, backoff) >= nowMillis()) return 1;
  }
  std::shared_ptr<GWLRemoteConfig> config = remoteConfig(engine);
  return inFirstWindow() ? config->SKANFirstWindowCVFetchRetryLimit() : config->SKANCVFetchRetryLimit();
}

bool GWLMeasurementSKAdNetwork::shouldFetchSKANConversionValue() const {
  if (!isSystemVersionSupported()) return false;
  std::shared_ptr<GWLMeasurementEngine> engine = this->engine();
  if (!engine || !remoteConfig(engine)->SKANUpdateConversionValueEnabled()) return false;
  if (isPastAllSKANPostbackWindows() || isSKANRequestInProgress()) return false;
  std::optional<std::string> appInstanceID = engine->appInstanceID();
  return appInstanceID && !appInstanceID->empty();
}

// ---- alarms ----

void GWLMeasurementSKAdNetwork::armAlarm(bool retry, double delay) {
  std::shared_ptr<GWLMeasurementEngine> engine = this->engine();
  std::shared_ptr<GWLScheduler> scheduler = engine ? engine->scheduler() : nullptr;
  if (!scheduler) return;
  std::shared_ptr<GWLAlarm> armed;
  {
    // Made on first use, on the worker queue of the engine at that time.
    platform::MutexLock lock(mutex_);
    std::shared_ptr<GWLAlarm>& slot = retry ? retryAlarm_ : delayAlarm_;
    if (!slot) {
      slot = GWLAlarm::create(scheduler->workerQueue(), retry ? kGWLSKANRetryAlarmName : kGWLSKANDelayAlarmName,
                              dependencies_.clock, dependencies_.monitor);
    }
    armed = slot;
  }
  std::weak_ptr<GWLMeasurementSKAdNetwork> weakSelf = weak_from_this();
  armed->runAfterDelay(delay, [weakSelf] {
    if (auto self = weakSelf.lock()) self->fetchSKANCV();
  });
}

// ---- the engine's calls ----

void GWLMeasurementSKAdNetwork::scheduleSKANCVFetchAfterDataUpload() {
  if (!shouldFetchSKANConversionValue()) return;
  std::shared_ptr<GWLRemoteConfig> config = remoteConfig(engine());
  const double delay = inFirstWindow() ? config->SKANFirstWindowCVFetchDelay() : config->SKANInitialCVFetchDelay();
  armAlarm(/*retry=*/false, delay);
}

void GWLMeasurementSKAdNetwork::fetchSKANCV() {
  if (!shouldFetchSKANConversionValue()) return;
  std::shared_ptr<GWLMeasurementEngine> engine = this->engine();
  if (!engine) return;
  if (!engine->isNetworkReadyForRequest()) {
    monitor()->logWithLevel(kGWLLevelDebug, kRequestPostponedCode, kRequestPostponedMessage);
    return;
  }
  std::shared_ptr<platform::HVUNetwork> network = engine->network();
  std::shared_ptr<GWLScheduler> scheduler = engine->scheduler();
  std::optional<GWLServiceEndpoint> host = engine->uploadHost();
  // An engine without a network object, worker queue or upload host cannot
  // send anything: there is nothing to wait for either.
  if (!network || !scheduler || !host) return;
  if (!network->isNetworkConnected()) {
    platform::MutexLock lock(mutex_);
    fetchWhenNetworkConnected_ = true;
    return;
  }
  postFetch(engine, network, scheduler, *host);
}

void GWLMeasurementSKAdNetwork::postFetch(const std::shared_ptr<GWLMeasurementEngine>& engine,
                                          const std::shared_ptr<platform::HVUNetwork>& network,
                                          const std::shared_ptr<GWLScheduler>& scheduler,
                                          const GWLServiceEndpoint& host) {
  std::shared_ptr<GWLPersistedConfig> persisted = engine->persistedConfig();
  auto request = GWLPBSkAdNetworkConversionValueRequest::initWithMessageInfo();
  request->setLibraryVersion(kGWLLibraryVersion);
  if (auto appID = engine->appID()) request->setAppId(*appID);
  if (auto appInstanceID = engine->appInstanceID()) request->setAppInstanceId(*appInstanceID);
  request->setSkanVersion(SKANVersion());
  request->setEvaluationEventTime(persisted ? persisted->SKANEvaluationEventTimeMillis() : 0);
  request->setLastUploadedEventTime(persisted ? persisted->lastUploadedEventTimestampMillis() : 0);
  std::optional<std::vector<uint8_t>> payload = request->protoBuffer();
  if (!payload) {
    // Nothing went out: handled as a request that failed.
    handleSKANFetchResponse(nullptr, {}, gwl_errorWithCode(kGWLErrorCodeOperationFailed, "cannot encode the request"));
    return;
  }

  std::shared_ptr<GWLAlarm> retry;
  std::shared_ptr<GWLAlarm> delay;
  {
    platform::MutexLock lock(mutex_);
    requestInProgress_ = true;
    fetchWhenNetworkConnected_ = false;
    retry = retryAlarm_;
    delay = delayAlarm_;
  }
  engine->setIsNetworkRequestPending(true);
  network->setTimeoutInterval(remoteConfig(engine)->networkTimeout());
  if (retry) retry->cancel();
  if (delay) delay->cancel();

  std::weak_ptr<GWLMeasurementSKAdNetwork> weakSelf = weak_from_this();
  std::weak_ptr<GWLMeasurementEngine> weakEngine = engine;
  network->postURL(
      host.origin() + kGWLSKANPath, {{kAcceptEncodingHeader, kGzipEncoding}}, *payload, scheduler->workerQueue(),
      /*usingBackgroundSession=*/false,
      [weakSelf, weakEngine](std::shared_ptr<const platform::HTTPURLResponse> response, std::vector<uint8_t> data,
                             std::optional<platform::Error> error) {
        // The engine's flag is cleared even when this object is gone, so that
        // uploads do not wait for an answer nobody handles.
        std::shared_ptr<GWLMeasurementEngine> engine = weakEngine.lock();
        if (!engine) return;
        auto self = weakSelf.lock();
        if (self) {
          platform::MutexLock lock(self->mutex_);
          self->requestInProgress_ = false;
          self->fetchWhenNetworkConnected_ = false;
        }
        engine->setIsNetworkRequestPending(false);
        if (self) self->handleSKANFetchResponse(response, std::move(data), error);
      });
}

void GWLMeasurementSKAdNetwork::maybeFetchSKANCVAfterReachabilityChange() {
  {
    platform::MutexLock lock(mutex_);
    if (!fetchWhenNetworkConnected_) return;
  }
  std::shared_ptr<GWLMeasurementEngine> engine = this->engine();
  std::shared_ptr<platform::HVUNetwork> network = engine ? engine->network() : nullptr;
  if (network && network->isNetworkConnected()) fetchSKANCV();
}

void GWLMeasurementSKAdNetwork::resetSKANRetryCount() {
  platform::MutexLock lock(mutex_);
  retryCount_ = 0;
}

// ---- the steps ----

void GWLMeasurementSKAdNetwork::handleSKANFetchResponse(
    const std::shared_ptr<const platform::HTTPURLResponse>& response, std::vector<uint8_t> data,
    const std::optional<platform::Error>& error) {
  const int status = response ? response->statusCode : 0;
  if (status == platform::kHVUNetworkHTTPStatusCodeNotModified) {
    stopProcessingSKANResponseAndResetRetryCount();
    return;
  }
  if (status != platform::kHVUNetworkHTTPStatusOK) {
    monitor()->logWithLevel(kGWLLevelDebug, kFetchFailedCode, kFetchFailedMessage, GWLLogContext(status),
                            error ? GWLLogContext(*error) : GWLLogContext());
    maybeScheduleSKANCVFetchRetry();
    return;
  }
  std::optional<std::string> encoding = response->valueForHTTPHeaderField(kContentEncodingHeader);
  if (encoding && platform::unicode::lowercased(*encoding) == kGzipEncoding) {
    // A body that does not inflate is read as it came.
    if (auto inflated = platform::hvu_dataByInflatingGzippedData(data)) data = std::move(*inflated);
  }
  if (data.empty()) {
    monitor()->logWithLevel(kGWLLevelErrorSampled, kNoDataCode, kNoDataMessage);
    stopProcessingSKANResponseAndResetRetryCount();
    return;
  }
  auto message = GWLPBSkAdNetworkConversionValueResponse::initWithBuffer(data);
  if (!message) {
    monitor()->logWithLevel(kGWLLevelErrorSampled, kInvalidDataCode, kInvalidDataMessage);
    stopProcessingSKANResponseAndResetRetryCount();
    return;
  }
  switch (message->hasResultStatus() ? message->resultStatus() : 0) {
    case kGWLSKANResultStatusUpdate:
      updateSKANPostbackConversionValueFromResponse(message);
      return;
    case kGWLSKANResultStatusStop:
      stopProcessingSKANResponseAndResetRetryCount();
      return;
    default:
      maybeScheduleSKANCVFetchRetry();
      return;
  }
}

void GWLMeasurementSKAdNetwork::updateSKANPostbackConversionValueFromResponse(
    const std::shared_ptr<GWLPBSkAdNetworkConversionValueResponse>& response) {
  if (!response || !isSystemVersionSupported()) return;
  if (!response->hasEventTime()) {
    monitor()->logWithLevel(kGWLLevelErrorSampled, kMissingEventTimeCode, kMissingEventTimeMessage);
    maybeScheduleSKANCVFetchRetry();
    return;
  }
  if (!response->hasFineValue() && !response->hasCoarseValue()) {
    monitor()->logWithLevel(kGWLLevelErrorSampled, kNoValuesCode, kNoValuesMessage);
    stopProcessingSKANResponseAndResetRetryCount();
    return;
  }
  const int32_t fineValue = response->fineValue();
  if (!isValidFineConversionValue(fineValue)) {
    monitor()->logWithLevel(kGWLLevelErrorSampled, kInvalidFineValueCode, kInvalidFineValueMessage,
                            GWLLogContext(fineValue));
    stopProcessingSKANResponseAndResetRetryCount();
    return;
  }
  if (!response->hasResultTime()) {
    monitor()->logWithLevel(kGWLLevelErrorSampled, kMissingResultTimeCode, kMissingResultTimeMessage);
    maybeScheduleSKANCVFetchRetry();
    return;
  }
  // Compared in whole seconds: the expiry's milliseconds are dropped.
  const int64_t expirySeconds = response->resultTime() / 1000;
  if (dependencies_.clock->now() > static_cast<double>(expirySeconds)) {
    monitor()->logWithLevel(kGWLLevelWarningSampled, kExpiredCode, kExpiredMessage);
    maybeScheduleSKANCVFetchRetry();
    return;
  }
  std::shared_ptr<GWLMeasurementEngine> engine = this->engine();
  std::shared_ptr<GWLPersistedConfig> persisted = engine ? engine->persistedConfig() : nullptr;
  const int64_t lastUploaded = persisted ? persisted->lastUploadedEventTimestampMillis() : 0;
  if (response->eventTime() < lastUploaded) {
    monitor()->logWithLevel(kGWLLevelWarningSampled, kOutdatedCode, kOutdatedMessage);
    maybeScheduleSKANCVFetchRetry();
    return;
  }

  // Accepted. The evaluation time and back-off are stored once the platform
  // has taken the value (handleSKANUpdatePostbackCompletion).
  {
    platform::MutexLock lock(mutex_);
    retryCount_ = 0;
  }
  monitor()->logWithLevel(kGWLLevelDebug, kUpdatingCode, kUpdatingMessage);
  std::weak_ptr<GWLMeasurementSKAdNetwork> weakSelf = weak_from_this();
  dependencies_.adNetwork->updatePostbackConversionValue(
      fineValue, convertCoarseConversionValueFromProtoValue(response->coarseValue()), response->lockWindow(),
      [weakSelf, response](std::optional<platform::Error> error) {
        auto self = weakSelf.lock();
        std::shared_ptr<GWLMeasurementEngine> engine = self ? self->engine() : nullptr;
        std::shared_ptr<GWLScheduler> scheduler = engine ? engine->scheduler() : nullptr;
        if (!scheduler) return;
        scheduler->scheduleOnWorkerQueueBlockID(kUpdateCompletionBlockID, [weakSelf, response, error] {
          if (auto self = weakSelf.lock()) self->handleSKANUpdatePostbackCompletion(response, error);
        });
      });
}

void GWLMeasurementSKAdNetwork::handleSKANUpdatePostbackCompletion(
    const std::shared_ptr<GWLPBSkAdNetworkConversionValueResponse>& response,
    const std::optional<platform::Error>& error) {
  if (!response) return;
  if (error) {
    const bool countedAsTaken = isSystemVersionSupported() && error->domain == platform::kSKANErrorDomain &&
                                error->code == kGWLSKANErrorCodeCountedAsTaken;
    if (!countedAsTaken) {
      monitor()->logWithLevel(kGWLLevelErrorSampled, kUpdateFailedCode, kUpdateFailedMessage, GWLLogContext(*error));
      return;
    }
  }
  std::shared_ptr<GWLMeasurementEngine> engine = this->engine();
  if (!engine) return;
  if (std::shared_ptr<GWLPersistedConfig> persisted = engine->persistedConfig()) {
    persisted->setSKANEvaluationEventTimeMillis(response->eventTime());
    persisted->setSKANEvaluationUpdateBackoffMillis(response->updateBackoff());
  }

  platform::Dictionary parameters;
  if (auto message = response->skanmValue()) parameters[kGWLSKANMessageParameter] = *message;
  if (response->hasFineValue()) parameters[kGWLSKANFineValueParameter] = static_cast<int64_t>(response->fineValue());
  if (response->hasCoarseValue()) {
    parameters[kGWLSKANCoarseValueParameter] = static_cast<int64_t>(response->coarseValue());
  }
  if (response->hasLockWindow()) parameters[kGWLSKANLockWindowParameter] = int64_t{response->lockWindow() ? 1 : 0};
  if (response->hasEventTime()) parameters[kGWLSKANEventTimeParameter] = response->eventTime();
  auto event = GWLEvent::initWithOrigin(kGWLSKANEventOrigin, false, kGWLSKANEventName, dependencies_.clock->now(), 0,
                                        parameters, remoteConfig(engine)->valueLimits());
  if (event) engine->handleInternalEventOnWorkerQueue(event);
}

void GWLMeasurementSKAdNetwork::maybeScheduleSKANCVFetchRetry() {
  const int32_t limit = SKANFetchRetryLimit();
  bool exceeded = false;
  {
    platform::MutexLock lock(mutex_);
    if (retryCount_ < std::numeric_limits<int32_t>::max()) ++retryCount_;
    exceeded = retryCount_ > limit;
  }
  if (exceeded) {
    monitor()->logWithLevel(kGWLLevelWarningSampled, kRetryLimitCode, kRetryLimitMessage);
    return;
  }
  std::shared_ptr<GWLRemoteConfig> config = remoteConfig(engine());
  const double interval =
      inFirstWindow() ? config->SKANFirstWindowCVFetchRetryInterval() : config->SKANCVFetchRetryInterval();
  armAlarm(/*retry=*/true, interval);
}

void GWLMeasurementSKAdNetwork::stopProcessingSKANResponseAndResetRetryCount() {
  platform::MutexLock lock(mutex_);
  retryCount_ = 0;
}

// ---- state ----

int32_t GWLMeasurementSKAdNetwork::SKANRetryCount() const {
  platform::MutexLock lock(mutex_);
  return retryCount_;
}

bool GWLMeasurementSKAdNetwork::isSKANRequestInProgress() const {
  platform::MutexLock lock(mutex_);
  return requestInProgress_;
}

bool GWLMeasurementSKAdNetwork::fetchSKANWhenNetworkConnected() const {
  platform::MutexLock lock(mutex_);
  return fetchWhenNetworkConnected_;
}

std::shared_ptr<GWLAlarm> GWLMeasurementSKAdNetwork::SKANRetryAlarm() const {
  platform::MutexLock lock(mutex_);
  return retryAlarm_;
}

std::shared_ptr<GWLAlarm> GWLMeasurementSKAdNetwork::SKANDelayAlarm() const {
  platform::MutexLock lock(mutex_);
  return delayAlarm_;
}
