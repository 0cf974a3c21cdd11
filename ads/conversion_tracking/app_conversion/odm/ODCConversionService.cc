#include "ads/conversion_tracking/app_conversion/odm/ODCConversionService.h"

#include <cstdio>
#include <mutex>
#include <utility>

#include "ads/conversion_tracking/app_conversion/odm/ODCConversionStore.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCError.h"
#include "analytics/attribution/GWLClassRegistry.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/storage/Paths.h"

namespace {

struct SharedState {
  std::mutex mutex;
  std::shared_ptr<ODCConversionService> instance;
  std::optional<double> loadDate;
};

SharedState& sharedState() {
  static auto* state = new SharedState();  // never destroyed: queue threads may ask until exit
  return *state;
}

std::optional<std::string> currentApplicationSupportDirectory() {
  auto paths = platform::Paths::current();
  if (!paths) return std::nullopt;
  return paths->applicationSupportDirectory();
}

class ConversionServiceClass : public ODCConversionServiceClass {
 public:
  std::shared_ptr<ODCConversionServiceProtocol> sharedInstance() const override {
    return ODCConversionService::sharedInstance();
  }
};

}  // namespace

void ODCConversionService::load(const std::shared_ptr<platform::Clock>& clock) {
  const double now = (clock ? clock : platform::Clock::system())->now();
  SharedState& state = sharedState();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (!state.loadDate) state.loadDate = now;
}

std::optional<double> ODCConversionService::processLoadDate() {
  SharedState& state = sharedState();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.loadDate;
}

std::shared_ptr<ODCConversionService> ODCConversionService::sharedInstance() {
  SharedState& state = sharedState();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (!state.instance) {
    Dependencies dependencies;
    dependencies.loadDate = state.loadDate;
    state.instance = std::shared_ptr<ODCConversionService>(new ODCConversionService(std::move(dependencies)));
  }
  return state.instance;
}

void ODCConversionService::resetSharedInstanceForTesting() {
  std::shared_ptr<ODCConversionService> old;
  SharedState& state = sharedState();
  std::lock_guard<std::mutex> lock(state.mutex);
  old = std::move(state.instance);
  state.instance.reset();
  state.loadDate.reset();
}

std::shared_ptr<ODCConversionService> ODCConversionService::create(Dependencies dependencies) {
  if (!dependencies.loadDate) dependencies.loadDate = processLoadDate();
  return std::shared_ptr<ODCConversionService>(new ODCConversionService(std::move(dependencies)));
}

ODCConversionService::ODCConversionService(Dependencies dependencies)
    : serialQueue_(dependencies.serialQueue ? dependencies.serialQueue
                                            : platform::SerialQueue::create(kODCConversionServiceQueueLabel)) {
  const auto directory = dependencies.applicationSupportDirectory ? dependencies.applicationSupportDirectory()
                                                                  : currentApplicationSupportDirectory();
  conversionStore_ = ODCConversionStore::create(directory);
  if (conversionStore_ && !conversionStore_->firstLaunchTimestamp() && dependencies.loadDate) {
    conversionStore_->setFirstLaunchTimestamp(dependencies.loadDate);
  }
  ODCInstallationConversionService::Dependencies installation = std::move(dependencies.installation);
  installation.serialQueue = serialQueue_;
  installation.conversionStore = conversionStore_;
  if (!installation.completionQueue) installation.completionQueue = platform::ConcurrentQueue::globalDefault();
  completionQueue_ = installation.completionQueue;
  installationConversionService_ = ODCInstallationConversionService::create(std::move(installation));
}

void ODCConversionService::setFirstLaunchTime(std::optional<double> date) {
  std::weak_ptr<ODCConversionService> weakSelf = weak_from_this();
  serialQueue_->async([weakSelf, date] {
    if (auto self = weakSelf.lock()) self->setFirstLaunchTimeOnWorkerQueue(date);
  });
}

void ODCConversionService::fetchAggregateConversionInfoForInteraction(ODCInteractionType interaction,
                                                                      Completion completion) {
  std::weak_ptr<ODCConversionService> weakSelf = weak_from_this();
  serialQueue_->async([weakSelf, interaction, completion = std::move(completion)]() mutable {
    auto self = weakSelf.lock();
    if (!self) return;
    if (interaction != ODCInteractionTypeInstallation) {
      self->rejectInteraction(kODCUnknownAggregateInteractionCode, kODCUnknownAggregateInteractionFormat, interaction,
                              std::move(completion));
      return;
    }
    self->fetchAggregateConversionInfoOnWorkerQueueWithCompletion(std::move(completion));
  });
}

void ODCConversionService::fetchMeasurementInfoForInteraction(ODCInteractionType interaction, Completion completion) {
  std::weak_ptr<ODCConversionService> weakSelf = weak_from_this();
  serialQueue_->async([weakSelf, interaction, completion = std::move(completion)]() mutable {
    auto self = weakSelf.lock();
    if (!self) return;
    if (interaction != ODCInteractionTypeInstallation) {
      self->rejectInteraction(kODCUnknownMeasurementInteractionCode, kODCUnknownMeasurementInteractionFormat,
                              interaction, std::move(completion));
      return;
    }
    self->fetchMeasurementInfoOnWorkerQueueWithCompletion(std::move(completion));
  });
}

void ODCConversionService::rejectInteraction(int64_t code, const char* format, ODCInteractionType interaction,
                                             Completion completion) {
  char message[160];
  std::snprintf(message, sizeof message, format, static_cast<long>(interaction));
  platform::Error error = ODCMakeError(code, message);  // logs the line under its code
  if (!completion) return;
  completionQueue_->async([completion = std::move(completion), error = std::move(error)] {
    completion(std::nullopt, error);
  });
}

void ODCConversionService::setFirstLaunchTimeOnWorkerQueue(std::optional<double> date) {
  if (!date || !conversionStore_) return;
  conversionStore_->setFirstLaunchTimestamp(date);
}

void ODCConversionService::fetchAggregateConversionInfoOnWorkerQueueWithCompletion(Completion completion) {
  installationConversionService_->fetchAggregateConversionInfoWithCompletion(std::move(completion));
}

void ODCConversionService::fetchMeasurementInfoOnWorkerQueueWithCompletion(Completion completion) {
  installationConversionService_->fetchMeasurementInfoWithCompletion(std::move(completion));
}

void ODCRegisterConversionService(const std::shared_ptr<platform::Clock>& clock) {
  ODCConversionService::load(clock);
  GWLClassRegistry<ODCConversionServiceClass>::registerClass(kODCConversionServiceClassName,
                                                             std::make_shared<const ConversionServiceClass>());
}
