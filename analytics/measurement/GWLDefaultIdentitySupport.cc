#include "analytics/measurement/GWLDefaultIdentitySupport.h"

#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/core/GWLPlatformIdentitySupport.h"
#include "platform/dispatch/Queue.h"

std::shared_ptr<GWLDefaultIdentitySupport> GWLDefaultIdentitySupport::sharedInstance() {
  static const std::shared_ptr<GWLDefaultIdentitySupport>* instance =
      new std::shared_ptr<GWLDefaultIdentitySupport>(create(GWLPlatformIdentitySupport::sharedInstance()));
  return *instance;
}

std::shared_ptr<GWLDefaultIdentitySupport> GWLDefaultIdentitySupport::create(
    std::shared_ptr<GWLIdentitySupport> platformSupport) {
  return create(std::move(platformSupport), Dependencies());
}

std::shared_ptr<GWLDefaultIdentitySupport> GWLDefaultIdentitySupport::create(
    std::shared_ptr<GWLIdentitySupport> platformSupport, Dependencies dependencies) {
  return std::shared_ptr<GWLDefaultIdentitySupport>(
      new GWLDefaultIdentitySupport(std::move(platformSupport), std::move(dependencies)));
}

GWLDefaultIdentitySupport::GWLDefaultIdentitySupport(std::shared_ptr<GWLIdentitySupport> platformSupport,
                                                     Dependencies dependencies)
    : platformSupport_(std::move(platformSupport)), dependencies_(std::move(dependencies)) {
  auto monitor = dependencies_.monitor ? dependencies_.monitor : GWLMeasurementRegistry::monitor();
  if (platformSupport_) {
    monitor->logWithLevel(kGWLLevelDebug, kGWLIdentitySupportLinkedCode, kGWLIdentitySupportLinkedMessage);
    if (platformSupport_->hasLimitedAdTracking()) {
      monitor->logWithLevel(kGWLLevelDebug, kGWLAdSupportLinkedCode, kGWLAdSupportLinkedMessage);
    } else {
      monitor->logWithLevel(kGWLLevelWarningSampled, kGWLAdSupportNotLinkedCode, kGWLAdSupportNotLinkedMessage);
    }
  } else {
    monitor->logWithLevel(kGWLLevelWarningSampled, kGWLIdentitySupportNotLinkedCode,
                          kGWLIdentitySupportNotLinkedMessage);
  }
  queue_ = platform::SerialQueue::create(kGWLDefaultIdentitySupportQueueLabel);
}

GWLDefaultIdentitySupport::~GWLDefaultIdentitySupport() = default;

bool GWLDefaultIdentitySupport::hasAppDataConsentStatus() const {
  return platformSupport_ && platformSupport_->hasAppDataConsentStatus();
}

int64_t GWLDefaultIdentitySupport::appDataConsentStatus() const {
  return platformSupport_ ? platformSupport_->appDataConsentStatus() : -1;
}

bool GWLDefaultIdentitySupport::hasLimitedAdTracking() const {
  return platformSupport_ && platformSupport_->hasLimitedAdTracking();
}

bool GWLDefaultIdentitySupport::limitedAdTracking() const {
  auto identifier = resettableDeviceID();
  return !identifier || *identifier == kGWLZeroResettableDeviceID;
}

std::optional<std::string> GWLDefaultIdentitySupport::resettableDeviceID() const {
  if (!platformSupport_) return std::nullopt;
  platform::MutexLock lock(mutex_);
  if (!fetchRunning_) {
    fetchRunning_ = true;
    std::weak_ptr<const GWLDefaultIdentitySupport> weakSelf = weak_from_this();
    std::shared_ptr<GWLIdentitySupport> support = platformSupport_;
    queue_->async([weakSelf, support] {
      std::optional<std::string> identifier = support->resettableDeviceID();
      auto self = weakSelf.lock();
      if (!self) return;
      platform::MutexLock lock(self->mutex_);
      self->resettableDeviceID_ = std::move(identifier);
      self->fetchRunning_ = false;
      ++self->fetchesFinished_;
      self->fetchFinished_.notify_all();
    });
  }
  // Wait for the call now running (this request's or an earlier one's). The
  // predicate runs with mutex_ held (the analysis does not follow it into the wait).
  const uint64_t awaited = fetchesFinished_ + 1;
  fetchFinished_.wait_for(mutex_, dependencies_.resettableDeviceIDWait,
                          [&]() ABSL_NO_THREAD_SAFETY_ANALYSIS { return fetchesFinished_ >= awaited; });
  return resettableDeviceID_;
}
