#include "ads/conversion_tracking/app_conversion/odm/ODCInstallationConversionService.h"

#include <utility>

#include "ads/conversion_tracking/app_conversion/odm/ODCCandidateFetcher.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCConfigFetcher.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCConversionStore.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCError.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCLog.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCMatchValidator.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/env/AppEnvironment.h"
#include "platform/net/HVUNetwork.h"

std::shared_ptr<platform::HVUNetwork> ODCInstallationConversionService::network() {
  return std::make_shared<platform::HVUNetwork>();
}

std::shared_ptr<ODCInstallationConversionService> ODCInstallationConversionService::create(
    Dependencies dependencies) {
  return std::shared_ptr<ODCInstallationConversionService>(
      new ODCInstallationConversionService(std::move(dependencies)));
}

ODCInstallationConversionService::ODCInstallationConversionService(Dependencies dependencies)
    : dependencies_(std::move(dependencies)) {
  if (!dependencies_.clock) dependencies_.clock = platform::Clock::system();
  if (!dependencies_.network) dependencies_.network = network();
  if (!dependencies_.completionQueue) dependencies_.completionQueue = platform::ConcurrentQueue::globalDefault();
  if (!dependencies_.app) dependencies_.app = platform::AppEnvironment::shared();
  ODCContext::Collaborators collaborators;
  collaborators.network = dependencies_.network;
  collaborators.serialQueue = dependencies_.serialQueue;
  collaborators.clock = dependencies_.clock;
  collaborators.conversionStore = dependencies_.conversionStore;
  collaborators.endpoint = dependencies_.endpoint;
  collaborators.environmentInfo = dependencies_.environmentInfo;
  context_ = std::make_shared<ODCContext>(std::move(collaborators), *dependencies_.app);
  configFetcher_ = std::make_shared<ODCConfigFetcher>(context_);
  candidateFetcher_ = std::make_shared<ODCCandidateFetcher>(context_);
  matchValidator_ = std::make_shared<ODCMatchValidator>(context_);
  configFetcher_->setNextTask(candidateFetcher_);
  candidateFetcher_->setNextTask(matchValidator_);
}

ODCInstallationConversionService::~ODCInstallationConversionService() = default;

double ODCInstallationConversionService::now() const { return dependencies_.clock->now(); }

void ODCInstallationConversionService::fetchAggregateConversionInfoWithCompletion(Completion completion) {
  fetchWithCompletion(std::move(completion), aggregateConversionInfoCompletions_, false);
}

void ODCInstallationConversionService::fetchMeasurementInfoWithCompletion(Completion completion) {
  fetchWithCompletion(std::move(completion), measurementInfoCompletions_, true);
}

void ODCInstallationConversionService::fetchWithCompletion(Completion completion,
                                                           std::vector<Completion>& completions,
                                                           bool isSourceVEXA) {
  if (completion) completions.push_back(std::move(completion));
  // A run in progress keeps the source it began with.
  if (!isMatching_) context_->setIsSourceVEXA(isSourceVEXA);
  retrievePSMValue();
}

void ODCInstallationConversionService::retrievePSMValue() {
  if (isMatching_) return;  // the running chain serves the completion when it ends
  if (!dependencies_.conversionStore) {
    // Nothing could be kept: tell the caller why instead of answering as if
    // there were simply no value.
    notifyCompletionsWithError(ODCMakeError(kODCCreateDirectoryFailedCode, kODCCreateDirectoryFailedMessage));
    return;
  }
  if (!shouldStartPSMMatching()) {
    completePSMMatchingWithError(std::nullopt);
    return;
  }
  isMatching_ = true;
  updateODM2RetryCount();
  std::weak_ptr<ODCInstallationConversionService> weakSelf = weak_from_this();
  configFetcher_->startTaskWithCompletion([weakSelf](std::optional<platform::Error> error) {
    if (auto self = weakSelf.lock()) self->completePSMMatchingWithError(std::move(error));
  });
}

bool ODCInstallationConversionService::shouldStartPSMMatching() {
  ODCConversionStore* store = dependencies_.conversionStore.get();
  if (!store) return false;
  if (store->matchFoundTimestamp()) {
    ODCLogDebug(kODCMatchAlreadyFoundCode, "%s", kODCMatchAlreadyFoundMessage);
    return false;
  }
  const std::optional<double> firstLaunch = store->firstLaunchTimestamp();
  if (!firstLaunch) {
    ODCLogDebug(kODCNoFirstLaunchCode, "%s", kODCNoFirstLaunchMessage);
    return false;
  }
  // Negative when the first launch lies in the future.
  if (now() - *firstLaunch < kODCFirstLaunchWindowSeconds) return true;
  ODCLogDebug(kODCFirstLaunchTooOldCode, "%s", kODCFirstLaunchTooOldMessage);
  return false;
}

void ODCInstallationConversionService::completePSMMatchingWithError(std::optional<platform::Error> error) {
  if (!error) persistPSMValue();
  removeExpiredPSMValue();
  notifyCompletionsWithError(std::move(error));
  resetPSMMatchingMembers();
}

void ODCInstallationConversionService::updateODM2RetryCount() {
  ODCConversionStore* store = dependencies_.conversionStore.get();
  if (!store) return;
  const std::optional<int64_t> count = store->odm2RetryCount();
  store->setOdm2RetryCount(count ? *count + 1 : 0);
}

void ODCInstallationConversionService::persistPSMValue() {
  ODCConversionStore* store = dependencies_.conversionStore.get();
  if (!store) return;
  if (store->matchFoundTimestamp()) {
    ODCLogDebug(kODCAlreadyStoredCode, "%s", kODCAlreadyStoredMessage);
    return;
  }
  store->setMatchFoundTimestamp(now());
  store->setAggregateConversionInfo(context_->aggregateConversionInfo());
  store->setMeasurementInfo(context_->measurementInfo());
}

void ODCInstallationConversionService::removeExpiredPSMValue() {
  ODCConversionStore* store = dependencies_.conversionStore.get();
  if (!store) return;
  if (!store->aggregateConversionInfo() && !store->measurementInfo()) return;
  const std::optional<double> matchFound = store->matchFoundTimestamp();
  if (matchFound && !(now() - *matchFound > kODCResultLifetimeSeconds)) return;
  store->setAggregateConversionInfo(std::nullopt);
  store->setMeasurementInfo(std::nullopt);
}

void ODCInstallationConversionService::notifyCompletionsWithError(std::optional<platform::Error> error) {
  ODCConversionStore* store = dependencies_.conversionStore.get();
  std::optional<std::string> aggregate = store ? store->aggregateConversionInfo() : std::nullopt;
  std::optional<std::string> measurement = store ? store->measurementInfo() : std::nullopt;
  std::vector<Completion> aggregateCompletions = std::exchange(aggregateConversionInfoCompletions_, {});
  std::vector<Completion> measurementCompletions = std::exchange(measurementInfoCompletions_, {});
  if (aggregateCompletions.empty() && measurementCompletions.empty()) return;
  dependencies_.completionQueue->async([aggregateCompletions = std::move(aggregateCompletions),
                                        measurementCompletions = std::move(measurementCompletions),
                                        aggregate = std::move(aggregate), measurement = std::move(measurement),
                                        error = std::move(error)] {
    for (const Completion& completion : aggregateCompletions) completion(aggregate, error);
    for (const Completion& completion : measurementCompletions) completion(measurement, error);
  });
}

void ODCInstallationConversionService::resetPSMMatchingMembers() {
  context_->setPSMClient(nullptr);
  context_->setPSMRequest(std::nullopt);
  context_->setExtensionData(std::nullopt);
  context_->setCandidateRequestPayload(std::nullopt);
  context_->setMatchRequestPayload(std::nullopt);
  context_->setAggregateConversionInfo(std::nullopt);
  context_->setMeasurementInfo(std::nullopt);
  isMatching_ = false;
}
