#include "analytics/foundation/experiments/GWLETaskManager.h"

#include <cfloat>
#include <cmath>

#include "analytics/foundation/core/GWLAlarm.h"
#include "analytics/foundation/core/GWLPaths.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "analytics/foundation/core/GWLUserDefaults.h"
#include "analytics/foundation/experiments/GWLEDatabase.h"
#include "analytics/foundation/experiments/GWLEExperimentRequestBuilder.h"
#include "analytics/foundation/experiments/GWLEManager.h"
#include "analytics/foundation/experiments/GWLEMonitor.h"
#include "analytics/foundation/experiments/GWLETaskManagerDelegate.h"
#include "analytics/wire/GWLPBSdkResponse.h"
#include "analytics/wire/GWLPBSnapshot.h"
#include "analytics/wire/NANO.h"
#include "platform/compression/Gzip.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/HVUNetwork.h"

namespace {

constexpr int64_t kFetchingCode = 820001;
constexpr const char* kFetchingMessage = "Fetching new experiments. Request";
constexpr int64_t kFetchFailedCode = 820002;
constexpr const char* kFetchFailedMessage = "Network fetch failed. Will retry later. Code, error";
constexpr int64_t kFetchSucceededCode = 820003;
constexpr const char* kFetchSucceededMessage = "Successful fetch. Got network response. Code, data";
constexpr int64_t kDeleteStaleCode = 820006;
constexpr const char* kDeleteStaleMessage = "Cannot delete stale activated snapshots. Error";
constexpr int64_t kAutoActivateCode = 820007;
constexpr const char* kAutoActivateMessage = "Cannot activate pending snapshots automatically. Error";
constexpr int64_t kStartFailedCode = 820008;
constexpr const char* kStartFailedMessage = "Failed to start the task manager";
constexpr int64_t kStartedCode = 820009;
constexpr const char* kStartedMessage = "Successfully start the task manager";
constexpr int64_t kFetchActivatedCode = 820010;
constexpr const char* kFetchActivatedMessage = "Error in fetching all activated snapshots. Error";
constexpr int64_t kFetchPendingCode = 820011;
constexpr const char* kFetchPendingMessage = "Error in fetching all pending snapshots. Error";
constexpr int64_t kFetchLaunchedCode = 820012;
constexpr const char* kFetchLaunchedMessage = "Error in fetching all launched snapshots. Error";
constexpr int64_t kEmptySnapshotCode = 820013;
constexpr const char* kEmptySnapshotMessage = "Cannot activate an empty snapshot";
constexpr int64_t kActivateFailedCode = 820014;
constexpr const char* kActivateFailedMessage = "Cannot activate snapshot for SDK Name. Error";
constexpr int64_t kNilResponseCode = 820015;
constexpr const char* kNilResponseMessage = "Cannot create experiment snapshots from nil response";
constexpr int64_t kBadSnapshotCode = 820016;
constexpr const char* kBadSnapshotMessage = "Cannot create a snapshot from the proto";
constexpr int64_t kTaskExistsCode = 820017;
constexpr const char* kTaskExistsMessage =
    "Do not schedule a fetch task. Task already exists. Will be executed in seconds";
constexpr int64_t kEmptyResetNameCode = 820018;
constexpr const char* kEmptyResetNameMessage = "Cannot reset to defaults for empty SDK name";
constexpr int64_t kResetFailedCode = 820019;
constexpr const char* kResetFailedMessage = "Cannot reset to defaults in the database. SDK Name, error";
constexpr int64_t kEmptyUpsertCode = 820020;
constexpr const char* kEmptyUpsertMessage = "Cannot upsert empty pending snapshot list";
constexpr int64_t kUpsertFailedCode = 820021;
constexpr const char* kUpsertFailedMessage = "Cannot upsert pending snapshots into the database. Error";
constexpr int64_t kUpsertFetchedFailedCode = 820022;
constexpr const char* kUpsertFetchedFailedMessage = "Cannot upsert pending snapshots. Error, snapshots";
constexpr int64_t kInflateFailedCode = 820023;
constexpr const char* kInflateFailedMessage = "Cannot inflate downloaded experiment data. Error";
constexpr int64_t kTooManyAttemptsCode = 820024;
constexpr const char* kTooManyAttemptsMessage = "Network attempted too many times. Will not schedule new network.";
constexpr int64_t kEmptyDataCode = 820025;
constexpr const char* kEmptyDataMessage = "Cannot create experiment snapshots from empty data";
// An answer that arrived but could not be read.
constexpr int64_t kUndecodableAnswerCode = 820026;
constexpr const char* kUndecodableAnswerMessage = "Cannot decode downloaded experiment data";

std::shared_ptr<GWLEMonitor> monitor() { return GWLEManager::monitor(); }

}  // namespace

std::shared_ptr<GWLETaskManager> GWLETaskManager::init() {
  auto clock = platform::Clock::system();
  auto queue = platform::SerialQueue::create(kGWLExperimentWorkerQueueLabel);
  auto alarm = GWLAlarm::create(queue, kGWLExperimentAlarmName, clock);
  // The process's experiments service: the built-in one unless the host
  // program pointed the library at a local collection service.
  GWLServiceEndpoint service = GWLServiceHosts::forProcess().experiments;
  auto network = std::make_shared<platform::HVUNetwork>(service.host);
  return initWithQueue(queue, alarm, network, std::make_shared<GWLUserDefaults>(kGWLExperimentSuiteName),
                       GWLMeasurementDirectoryPath(kGWLExperimentDatabaseFileName), clock->now(), clock, service,
                       GWLEExperimentRequestBuilder::sharedInstance());
}

std::shared_ptr<GWLETaskManager> GWLETaskManager::initWithQueue(
    std::shared_ptr<platform::SerialQueue> queue, std::shared_ptr<GWLAlarm> alarm,
    std::shared_ptr<platform::HVUNetwork> network, std::shared_ptr<GWLUserDefaults> persistedStorage,
    const std::string& databasePath, double initTimestamp, std::shared_ptr<platform::Clock> clock,
    GWLServiceEndpoint experimentsService, std::shared_ptr<GWLEExperimentRequestBuilder> requestBuilder) {
  std::shared_ptr<GWLETaskManager> manager(new GWLETaskManager());
  manager->workerQueue_ = std::move(queue);
  manager->alarm_ = std::move(alarm);
  manager->network_ = std::move(network);
  manager->persistedStorage_ = std::move(persistedStorage);
  manager->databasePath_ = databasePath;
  manager->initializationTimestamp_ = initTimestamp;
  manager->clock_ = clock ? std::move(clock) : platform::Clock::system();
  manager->experimentsService_ = std::move(experimentsService);
  manager->requestBuilder_ =
      requestBuilder ? std::move(requestBuilder) : GWLEExperimentRequestBuilder::sharedInstance();
  return manager;
}

GWLETaskManager::~GWLETaskManager() {
  if (alarm_) alarm_->cancel();
}

double GWLETaskManager::now() const { return clock_->now(); }

std::string GWLETaskManager::fetchURL() const { return experimentsService_.origin() + kGWLExperimentFetchPath; }

std::shared_ptr<GWLETaskManagerDelegate> GWLETaskManager::delegate() const {
  platform::MutexLock lock(delegateMutex_);
  return delegate_.lock();
}

void GWLETaskManager::setDelegate(std::weak_ptr<GWLETaskManagerDelegate> delegate) {
  platform::MutexLock lock(delegateMutex_);
  delegate_ = std::move(delegate);
}

void GWLETaskManager::dispatchAsyncOnWorkerQueue(Block block) { workerQueue_->async(std::move(block)); }
void GWLETaskManager::dispatchSyncOnWorkerQueue(Block block) { workerQueue_->sync(std::move(block)); }

void GWLETaskManager::setTimestamp(const char* key, std::optional<double> value) {
  if (value) {
    persistedStorage_->setDouble(*value, key);
  } else {
    persistedStorage_->removeObjectForKey(key);
  }
}

// ---- start ----

void GWLETaskManager::startTaskManager() {
  std::weak_ptr<GWLETaskManager> weak = weak_from_this();
  dispatchAsyncOnWorkerQueue([weak] {
    if (auto self = weak.lock()) self->startTaskManagerOnWorkerQueue();
  });
}

void GWLETaskManager::startTaskManagerOnWorkerQueue() {
  GWLScheduler::checkOnBackgroundThreadWithMethodName("startTaskManagerOnWorkerQueue");
  database_ = GWLEDatabase::initWithPath(databasePath_, clock_);
  // Without storage there is nothing to load and nowhere to keep what a fetch brings.
  if (!database_) return;
  fetchAllSnapshotsOnWorkerQueue();
  scheduleFetchingExperimentsOnWorkerQueue();
}

void GWLETaskManager::fetchAllSnapshotsOnWorkerQueue() {
  GWLScheduler::checkOnBackgroundThreadWithMethodName("fetchAllSnapshotsOnWorkerQueue");
  bool started = database_->performTransaction([this] {
    platform::Error error;
    if (!database_->deleteStaleActivatedSnapshots(&error)) {
      monitor()->logWithLevel(kGWLLevelErrorSampled, kDeleteStaleCode, kDeleteStaleMessage, GWLLogContext(error));
      return false;
    }
    if (!database_->activatePendingSnapshotsAutomatically(&error)) {
      monitor()->logWithLevel(kGWLLevelErrorSampled, kAutoActivateCode, kAutoActivateMessage, GWLLogContext(error));
      return false;
    }
    return true;
  });
  if (!started) {
    monitor()->logWithLevel(kGWLLevelErrorSilent, kStartFailedCode, kStartFailedMessage);
    return;
  }
  monitor()->logWithLevel(kGWLLevelVerbose, kStartedCode, kStartedMessage);
  auto listener = delegate();
  if (!listener) return;
  auto load = [this](std::optional<std::vector<GWLESnapshot>> (GWLEDatabase::*fetch)(platform::Error*),
                     int64_t code, const char* message) {
    platform::Error error;
    auto snapshots = ((*database_).*fetch)(&error);
    if (!snapshots && !error.domain.empty()) {
      monitor()->logWithLevel(kGWLLevelErrorSilent, code, message, GWLLogContext(error));
    }
    return snapshots.value_or(std::vector<GWLESnapshot>{});
  };
  auto activated = load(&GWLEDatabase::fetchAllActivatedSnapshots, kFetchActivatedCode, kFetchActivatedMessage);
  auto pending = load(&GWLEDatabase::fetchAllPendingSnapshots, kFetchPendingCode, kFetchPendingMessage);
  auto launched = load(&GWLEDatabase::fetchAllLaunchedSnapshots, kFetchLaunchedCode, kFetchLaunchedMessage);
  listener->taskManager(*this, activated, pending, launched);
}

// ---- schedule ----

double GWLETaskManager::fetchTimeFromLastSuccessfulTimestamp(double lastSuccessfulTimestamp,
                                                             double lastFailedTimestamp) {
  const double nowTime = now();
  // A success time in the future (the clock was set back) counts as that far in the past.
  const double effectiveSuccess = lastSuccessfulTimestamp == 0
                                      ? 0
                                      : nowTime - std::fabs(lastSuccessfulTimestamp - nowTime);
  const double candidate = effectiveSuccess + kGWLEFetchInterval;
  if (!hasMadeInitialFetch_.exchange(true)) return std::max(nowTime + kGWLEInitialFetchDelay, candidate);
  if (!(lastFailedTimestamp > 0)) return candidate;
  double base = effectiveSuccess == 0 ? initializationTimestamp_ : candidate;
  for (int step = 0; step < kGWLEBackoffStepCount; ++step) {
    base += kGWLEBackoffStep * std::ldexp(1.0, step);
    if (base > lastFailedTimestamp) return base;
  }
  return 0;
}

void GWLETaskManager::scheduleFetchingExperimentsOnWorkerQueue() {
  GWLScheduler::checkOnBackgroundThreadWithMethodName("scheduleFetchingExperimentsOnWorkerQueue");
  double fetchTime = fetchTimeFromLastSuccessfulTimestamp(
      persistedStorage_->doubleForKey(kGWLExperimentFetchSuccessTimestampKey),
      persistedStorage_->doubleForKey(kGWLExperimentFetchFailureTimestampKey));
  if (std::fabs(fetchTime) < DBL_EPSILON) {
    setTimestamp(kGWLExperimentFetchSuccessTimestampKey, std::nullopt);
    (void)persistedStorage_->synchronize();  // reports its own failure; the values stay for the next write
    monitor()->logWithLevel(kGWLLevelErrorSilent, kTooManyAttemptsCode, kTooManyAttemptsMessage);
    return;
  }
  const double nowTime = now();
  if (auto scheduled = alarm_->scheduledTimestamp(); scheduled && *scheduled <= fetchTime) {
    monitor()->logWithLevel(kGWLLevelVerbose, kTaskExistsCode, kTaskExistsMessage, GWLLogContext(*scheduled - nowTime));
    return;
  }
  const double backoff = persistedStorage_->doubleForKey(kGWLExperimentFetchBackoffTimestampKey);
  if (std::fabs(backoff) >= DBL_EPSILON && nowTime - backoff < kGWLEServiceBackoffInterval) {
    fetchTime = std::max(fetchTime, backoff + kGWLEServiceBackoffInterval);
  }
  double delay = fetchTime - nowTime;
  if (delay < DBL_EPSILON) delay = 0.001;
  std::weak_ptr<GWLETaskManager> weak = weak_from_this();
  alarm_->runAfterDelay(delay, [weak] {
    auto self = weak.lock();
    if (!self) return;
    auto listener = self->delegate();
    auto should = listener ? listener->taskManagerShouldFetchExperiments(*self) : std::nullopt;
    if (should.value_or(true)) {
      self->fetchExperiments();
    } else {
      self->postponeFetchExperiments();
    }
  });
}

void GWLETaskManager::postponeFetchExperiments() {
  setTimestamp(kGWLExperimentFetchSuccessTimestampKey, now());
  setTimestamp(kGWLExperimentFetchFailureTimestampKey, std::nullopt);
  setTimestamp(kGWLExperimentFetchBackoffTimestampKey, std::nullopt);
  (void)persistedStorage_->synchronize();  // reports its own failure; the values stay for the next write
  scheduleFetchingExperimentsOnWorkerQueue();
}

// ---- fetch ----

void GWLETaskManager::fetchExperiments() {
  auto request = requestBuilder_->request();
  auto payload = request->protoBuffer();
  monitor()->logWithLevel(kGWLLevelVerbose, kFetchingCode, kFetchingMessage,
                          GWLLogContext(static_cast<int64_t>(payload ? payload->size() : 0)));
  if (!payload) {
    recordFailedFetch(0, std::nullopt);
    return;
  }
  std::weak_ptr<GWLETaskManager> weak = weak_from_this();
  network_->postURL(fetchURL(), *payload, workerQueue_, false,
                    [weak](std::shared_ptr<const platform::HTTPURLResponse> response, std::vector<uint8_t> body,
                           std::optional<platform::Error> error) {
                      if (auto self = weak.lock()) self->handleFetchingExperimentsCompletion(response, body, error);
                    });
}

void GWLETaskManager::handleFetchingExperimentsCompletion(
    const std::shared_ptr<const platform::HTTPURLResponse>& response, const std::vector<uint8_t>& body,
    const std::optional<platform::Error>& error) {
  std::optional<std::vector<uint8_t>> data;
  if (!body.empty()) {
    platform::Error inflateError;
    data = inflateAnswer(body, &inflateError);
    if (!data) {
      monitor()->logWithLevel(kGWLLevelErrorSilent, kInflateFailedCode, kInflateFailedMessage,
                              GWLLogContext(inflateError));
      // A body that arrived but cannot be read is no successful answer.
      if (response && (response->statusCode == platform::kHVUNetworkHTTPStatusOK ||
                       response->statusCode == platform::kHVUNetworkHTTPStatusNoContent)) {
        recordFailedFetch(response->statusCode, inflateError);
        return;
      }
    }
  }
  handleFetchingExperimentsResponse(response, data, error);
}

void GWLETaskManager::handleFetchingExperimentsResponse(
    const std::shared_ptr<const platform::HTTPURLResponse>& response, const std::optional<std::vector<uint8_t>>& data,
    const std::optional<platform::Error>& error) {
  const int status = response ? response->statusCode : 0;
  if (status != platform::kHVUNetworkHTTPStatusOK && status != platform::kHVUNetworkHTTPStatusNoContent) {
    recordFailedFetch(status, error);
    return;
  }
  std::shared_ptr<GWLPBExperimentResponse> message =
      data ? GWLPBExperimentResponse::initWithBuffer(std::span<const uint8_t>(*data))
           : GWLPBExperimentResponse::initWithMessageInfo();
  if (!message) {
    monitor()->logWithLevel(kGWLLevelErrorSilent, kUndecodableAnswerCode, kUndecodableAnswerMessage,
                            GWLLogContext(static_cast<int64_t>(data->size())));
    recordFailedFetch(status, error);
    return;
  }
  const double nowTime = now();
  monitor()->logWithLevel(kGWLLevelVerbose, kFetchSucceededCode, kFetchSucceededMessage, GWLLogContext(status),
                          GWLLogContext(static_cast<int64_t>(data ? data->size() : 0)));
  setTimestamp(kGWLExperimentFetchSuccessTimestampKey, nowTime);
  setTimestamp(kGWLExperimentFetchFailureTimestampKey, std::nullopt);
  setTimestamp(kGWLExperimentFetchBackoffTimestampKey, std::nullopt);
  (void)persistedStorage_->synchronize();  // reports its own failure; the values stay for the next write

  auto snapshots = experimentSnapshotsFromExperimentResponse(message.get()).value_or(std::vector<GWLESnapshot>{});
  auto errors = errorsFromExperimentResponse(message.get()).value_or(std::map<std::string, platform::Error>{});
  if (!snapshots.empty()) {
    platform::Error upsertError;
    if (!database_ || !database_->upsertPendingExperimentSnapshots(snapshots, &upsertError)) {
      monitor()->logWithLevel(kGWLLevelErrorSampled, kUpsertFetchedFailedCode, kUpsertFetchedFailedMessage,
                              GWLLogContext(upsertError), GWLLogContext(static_cast<int64_t>(snapshots.size())));
    }
  }
  if (auto listener = delegate()) listener->taskManager(*this, snapshots, errors);
  scheduleFetchingExperimentsOnWorkerQueue();
}

void GWLETaskManager::recordFailedFetch(int status, const std::optional<platform::Error>& error) {
  const double nowTime = now();
  setTimestamp(kGWLExperimentFetchFailureTimestampKey, nowTime);
  if (status == platform::kHVUNetworkHTTPStatusCodeUnavailable ||
      status == platform::kHVUNetworkHTTPStatusCodeCannotAcceptTraffic) {
    setTimestamp(kGWLExperimentFetchBackoffTimestampKey, nowTime);
  }
  (void)persistedStorage_->synchronize();  // reports its own failure; the values stay for the next write
  monitor()->logWithLevel(kGWLLevelErrorSampled, kFetchFailedCode, kFetchFailedMessage, GWLLogContext(status),
                          error ? GWLLogContext(*error) : GWLLogContext());
  scheduleFetchingExperimentsOnWorkerQueue();
}

// ---- reading the answer ----

std::optional<std::vector<uint8_t>> GWLETaskManager::inflateAnswer(std::span<const uint8_t> body,
                                                                   platform::Error* error) {
  return platform::gunzip(body, kGWLEMaxExperimentAnswerBytes, error);
}

std::optional<std::vector<GWLESnapshot>> GWLETaskManager::experimentSnapshotsFromExperimentResponse(
    const GWLPBExperimentResponse* response) const {
  if (!response) {
    monitor()->logWithLevel(kGWLLevelErrorSilent, kNilResponseCode, kNilResponseMessage);
    return std::nullopt;
  }
  auto* message = const_cast<GWLPBExperimentResponse*>(response);
  auto protos = NANOGetMessageArray<GWLPBSnapshot>(message, GWLPBExperimentResponse::Field::snapshots)
                    .value_or(std::vector<std::shared_ptr<GWLPBSnapshot>>{});
  if (protos.empty()) {
    auto answers = NANOGetMessageArray<GWLPBSdkResponse>(message, GWLPBExperimentResponse::Field::sdk_responses)
                       .value_or(std::vector<std::shared_ptr<GWLPBSdkResponse>>{});
    for (const auto& answer : answers) {
      auto snapshot = NANOGetMessage<GWLPBSnapshot>(answer, GWLPBSdkResponse::Field::snapshot);
      if (!snapshot) continue;
      auto name = NANOGetString(answer, GWLPBSdkResponse::Field::sdk_name);
      if (name && !name->empty()) NANOSetString(snapshot, GWLPBSnapshot::Field::sdk_name, *name);
      protos.push_back(snapshot);
    }
  }
  const double nowTime = now();
  std::vector<GWLESnapshot> snapshots;
  for (const auto& proto : protos) {
    auto snapshot = GWLESnapshot::initWithProtobuf(*proto, nowTime);
    if (!snapshot) {
      monitor()->logWithLevel(kGWLLevelErrorSilent, kBadSnapshotCode, kBadSnapshotMessage);
      continue;
    }
    snapshots.push_back(std::move(*snapshot));
  }
  return snapshots;
}

std::optional<std::map<std::string, platform::Error>> GWLETaskManager::errorsFromExperimentResponse(
    const GWLPBExperimentResponse* response) const {
  if (!response) return std::nullopt;
  auto* message = const_cast<GWLPBExperimentResponse*>(response);
  std::map<std::string, platform::Error> errors;
  auto answers = NANOGetMessageArray<GWLPBSdkResponse>(message, GWLPBExperimentResponse::Field::sdk_responses)
                     .value_or(std::vector<std::shared_ptr<GWLPBSdkResponse>>{});
  for (const auto& answer : answers) {
    if (!NANOHasField(answer, GWLPBSdkResponse::Field::error_status)) continue;
    const int32_t status = NANOGetInt32(answer, GWLPBSdkResponse::Field::error_status);
    auto name = NANOGetString(answer, GWLPBSdkResponse::Field::sdk_name);
    if (status == 0 || !name || name->empty()) continue;
    const int64_t code = status >= 1 && status <= 3 ? -(static_cast<int64_t>(status) + 1) : -1;
    errors[*name] = platform::Error(kGWLExperimentErrorDomain, code);
  }
  return errors;
}

std::optional<std::vector<GWLESnapshot>> GWLETaskManager::experimentSnapshotsFromData(
    std::span<const uint8_t> data) const {
  if (data.empty()) {
    monitor()->logWithLevel(kGWLLevelErrorSilent, kEmptyDataCode, kEmptyDataMessage);
    return std::nullopt;
  }
  auto message = GWLPBExperimentResponse::initWithBuffer(data);
  return experimentSnapshotsFromExperimentResponse(message.get());
}

// ---- storage ----

void GWLETaskManager::activatePendingSnapshot(const std::optional<GWLESnapshot>& snapshot, double timestamp) {
  if (!snapshot) {
    monitor()->logWithLevel(kGWLLevelError, kEmptySnapshotCode, kEmptySnapshotMessage);
    return;
  }
  std::weak_ptr<GWLETaskManager> weak = weak_from_this();
  dispatchAsyncOnWorkerQueue([weak, snapshot = *snapshot, timestamp] {
    auto self = weak.lock();
    if (!self || !self->database_) return;
    platform::Error error;
    bool ok = self->database_->performTransaction(
        [&] { return self->database_->activateSnapshot(snapshot, timestamp, &error); });
    if (!ok && !error.domain.empty()) {
      monitor()->logWithLevel(kGWLLevelErrorSampled, kActivateFailedCode, kActivateFailedMessage,
                              GWLLogContext(snapshot.SDKName()), GWLLogContext(error));
    }
  });
}

void GWLETaskManager::resetToDefaultsForSDKName(const std::string& SDKName) {
  if (SDKName.empty()) {
    monitor()->logWithLevel(kGWLLevelErrorSampled, kEmptyResetNameCode, kEmptyResetNameMessage);
    return;
  }
  std::weak_ptr<GWLETaskManager> weak = weak_from_this();
  dispatchAsyncOnWorkerQueue([weak, SDKName] {
    auto self = weak.lock();
    if (!self || !self->database_) return;
    platform::Error error;
    if (!self->database_->deleteActivatedExperimentsOfSDKName(SDKName, &error) && !error.domain.empty()) {
      monitor()->logWithLevel(kGWLLevelErrorSampled, kResetFailedCode, kResetFailedMessage, GWLLogContext(SDKName),
                              GWLLogContext(error));
    }
  });
}

void GWLETaskManager::upsertPendingSnapshots(const std::vector<GWLESnapshot>& snapshots) {
  if (snapshots.empty()) {
    monitor()->logWithLevel(kGWLLevelErrorSilent, kEmptyUpsertCode, kEmptyUpsertMessage);
    return;
  }
  std::weak_ptr<GWLETaskManager> weak = weak_from_this();
  dispatchAsyncOnWorkerQueue([weak, snapshots] {
    auto self = weak.lock();
    if (!self) return;
    platform::Error error;
    if (!self->database_ || !self->database_->upsertPendingExperimentSnapshots(snapshots, &error)) {
      monitor()->logWithLevel(kGWLLevelErrorSampled, kUpsertFailedCode, kUpsertFailedMessage, GWLLogContext(error));
      return;
    }
    if (auto listener = self->delegate()) listener->taskManager(*self, snapshots);
  });
}

void GWLETaskManager::reset() {
  auto self = shared_from_this();
  dispatchAsyncOnWorkerQueue([self] {
    if (self->database_) self->database_->reset();
    self->setTimestamp(kGWLExperimentFetchBackoffTimestampKey, std::nullopt);
    self->setTimestamp(kGWLExperimentFetchFailureTimestampKey, std::nullopt);
    self->setTimestamp(kGWLExperimentFetchSuccessTimestampKey, std::nullopt);
    (void)self->persistedStorage_->synchronize();  // reports its own failure; the values stay for the next write
    self->scheduleFetchingExperimentsOnWorkerQueue();
  });
}

void GWLETaskManager::clearAndDelete() {
  auto self = shared_from_this();
  dispatchAsyncOnWorkerQueue([self] {
    if (self->database_) self->database_->closeAndDelete();
    self->setTimestamp(kGWLExperimentFetchBackoffTimestampKey, std::nullopt);
    self->setTimestamp(kGWLExperimentFetchFailureTimestampKey, std::nullopt);
    self->setTimestamp(kGWLExperimentFetchSuccessTimestampKey, std::nullopt);
    (void)self->persistedStorage_->synchronize();  // reports its own failure; the values stay for the next write
  });
}
