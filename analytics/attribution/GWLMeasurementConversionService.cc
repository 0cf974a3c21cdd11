#include "analytics/attribution/GWLMeasurementConversionService.h"

#include <utility>

#include "analytics/attribution/GWLClassRegistry.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLException.h"
#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/foundation/values/GWLEvent.h"
#include "analytics/foundation/values/GWLUserAttribute.h"
#include "analytics/wire/GWLPBOnDeviceMeasurementValue.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/env/AppEnvironment.h"

namespace {

constexpr const char* kOrigin = "auto";
constexpr const char* kMatchEventName = "_fx";
constexpr const char* kMatchSourceParameter = "_fxs";

std::shared_ptr<GWLRemoteConfig> configOf(const std::shared_ptr<GWLMeasurementEngine>& engine) {
  std::shared_ptr<GWLRemoteConfig> config = engine ? engine->remoteConfig() : nullptr;
  return config ? config : GWLRemoteConfig::defaultInstance();
}

}  // namespace

std::shared_ptr<GWLMeasurementConversionService> GWLMeasurementConversionService::create(Dependencies dependencies) {
  return std::shared_ptr<GWLMeasurementConversionService>(
      new GWLMeasurementConversionService(std::move(dependencies)));
}

GWLMeasurementConversionService::GWLMeasurementConversionService(Dependencies dependencies)
    : dependencies_([&] {
        Dependencies d = std::move(dependencies);
        if (!d.onDeviceMeasurement) d.onDeviceMeasurement = std::make_shared<GWLOnDeviceMeasurementHooks>();
        if (!d.clock) d.clock = platform::Clock::system();
        return d;
      }()) {}

std::shared_ptr<GWLMeasurementEngine> GWLMeasurementConversionService::engine() const {
  return dependencies_.engine ? dependencies_.engine() : GWLMeasurementRegistry::sharedInstance();
}

std::shared_ptr<GWLMonitor> GWLMeasurementConversionService::monitor() const {
  return dependencies_.monitor ? dependencies_.monitor : GWLLibraryMonitor::monitor();
}

double GWLMeasurementConversionService::now() const { return dependencies_.clock->now(); }

std::shared_ptr<ODCConversionServiceProtocol> GWLMeasurementConversionService::conversionService() const {
  platform::MutexLock lock(mutex_);
  return conversionService_;
}

// ---------------------------------------------------------------------------
// Linkage

std::shared_ptr<const ODCConversionServiceClass> GWLMeasurementConversionService::conversionServiceClass() {
  return GWLClassRegistry<ODCConversionServiceClass>::classNamed(kODCConversionServiceClassName);
}

bool GWLMeasurementConversionService::isAdsOnDeviceConversionLinked() { return conversionServiceClass() != nullptr; }

std::shared_ptr<ODCConversionServiceProtocol> GWLMeasurementConversionService::conversionServiceFromReflection() {
  auto serviceClass = conversionServiceClass();
  if (!serviceClass || !serviceClass->respondsToSharedInstance()) return nullptr;
  return serviceClass->sharedInstance();
}

int64_t GWLMeasurementConversionService::serviceVersion() {
  auto service = conversionServiceFromReflection();
  return service ? service->versionNumber() : 0;
}

bool GWLMeasurementConversionService::isAlphaAppAdsOnDeviceConversionLinked() {
  // A class whose instance is missing or does not conform reads as version 0: alpha.
  return isAdsOnDeviceConversionLinked() && serviceVersion() <= kGWLODM2AlphaMaxVersion;
}

bool GWLMeasurementConversionService::isHalcyraAdsOnDeviceConversionLinked() {
  return isAdsOnDeviceConversionLinked() && serviceVersion() > kGWLODM2AlphaMaxVersion;
}

// ---------------------------------------------------------------------------
// Switches

bool GWLMeasurementConversionService::isODM2EnabledInPlist() {
  auto environment = dependencies_.environment ? dependencies_.environment : platform::AppEnvironment::shared();
  const platform::Object* value = environment ? environment->objectForInfoDictionaryKey(kGWLODM2EnabledInfoKey)
                                              : nullptr;
  if (!value) return true;
  if (value->isBool()) return value->boolValueOrFalse();
  if (value->isNumber()) return value->doubleValueOrZero() != 0;
  return true;
}

bool GWLMeasurementConversionService::isAdsOnDeviceConversionEnabled() {
  if (!isODM2EnabledInPlist()) {
    GWLLogAttributionLine(*monitor(), kGWLODM2DisabledInPlistLine);
    return false;
  }
  if (!isAdsOnDeviceConversionLinked()) return false;
  auto engine = this->engine();
  if (!configOf(engine)->adsOnDeviceConversionFeatureEnabled()) {
    GWLLogAttributionLine(*monitor(), kGWLODM2RemoteConfigDisabledLine);
    return false;
  }
  if (engine && engine->isAdStorageDenied()) {
    GWLLogAttributionLine(*monitor(), kGWLODM2AdStorageDeniedLine);
    return false;
  }
  GWLLogAttributionLine(*monitor(), kGWLODM2EnabledLine);
  return true;
}

std::optional<double> GWLMeasurementConversionService::firstLaunchDate() {
  auto engine = this->engine();
  auto persisted = engine ? engine->persistedConfig() : nullptr;
  const int64_t milliseconds = persisted ? persisted->firstOpenTimestampMilliseconds() : 0;
  if (milliseconds == 0) return std::nullopt;
  return static_cast<double>(milliseconds) / 1000;
}

// ---------------------------------------------------------------------------
// Start check and update

void GWLMeasurementConversionService::checkODM2DependencyOnWorkerQueue() {
  const bool psmClientLinked = isGWLPrivateSetMembershipClientLinked();
  if (isAdsOnDeviceConversionLinked()) {
    if (isHalcyraAdsOnDeviceConversionLinked() && psmClientLinked) reportIntegrationError();
    GWLLogAttributionLine(*monitor(), kGWLODM2LinkedLine);
  } else {
    GWLLogAttributionLine(*monitor(), kGWLODM2NotLinkedLine);
    if (psmClientLinked) GWLLogAttributionLine(*monitor(), kGWLODM2DeprecatedLinkedLine);
  }
  if (!configOf(engine())->isExpired()) GWLLogAttributionLine(*monitor(), kGWLODM2NoFetchLine);
}

void GWLMeasurementConversionService::reportIntegrationError() {
  // Reported, not thrown: the app goes on without the deprecated client's
  // conflict taking it down.
  auto queue = dependencies_.mainQueue ? dependencies_.mainQueue : platform::MainQueue::shared();
  std::shared_ptr<GWLMonitor> monitor = this->monitor();
  queue->async([monitor] {
    GWLLogAttributionLine(*monitor, kGWLODM2IntegrationErrorLine,
                          GWLException(kGWLODM2DeprecatedExceptionName, kGWLODM2DeprecatedExceptionReason));
  });
}

void GWLMeasurementConversionService::updateAdsOnDeviceConversionMeasurement() {
  if (!isAdsOnDeviceConversionEnabled()) {
    handleAdsOnDeviceConversionValue(std::nullopt, std::nullopt);
    return;
  }
  std::shared_ptr<ODCConversionServiceProtocol> service = conversionService();
  if (!service) {
    service = conversionServiceFromReflection();
    platform::MutexLock lock(mutex_);
    conversionService_ = service;
  }
  if (!service) {
    GWLLogAttributionLine(*monitor(), kGWLODM2NoServiceLine);
    handleAdsOnDeviceConversionValue(std::nullopt, std::nullopt);
    return;
  }
  service->setFirstLaunchTime(firstLaunchDate());
  auto engine = this->engine();
  std::weak_ptr<GWLMeasurementEngine> weakEngine = engine;
  std::weak_ptr<GWLScheduler> weakScheduler = engine ? engine->scheduler() : nullptr;
  std::weak_ptr<GWLMeasurementConversionService> weakSelf = weak_from_this();
  service->fetchMeasurementInfoForInteraction(
      ODCInteractionTypeInstallation,
      [weakEngine, weakScheduler, weakSelf](std::optional<std::string> value, std::optional<platform::Error> error) {
        auto scheduler = weakScheduler.lock();
        if (!scheduler || weakEngine.expired()) return;
        scheduler->scheduleOnWorkerQueueBlockID(
            kGWLODM2ValueBlockID, [weakEngine, weakSelf, value = std::move(value), error = std::move(error)] {
              auto self = weakSelf.lock();
              if (!self || weakEngine.expired()) return;
              self->handleAdsOnDeviceConversionValue(value, error);
            });
      });
}

void GWLMeasurementConversionService::handleAdsOnDeviceConversionValue(const std::optional<std::string>& value,
                                                                       const std::optional<platform::Error>& error) {
  if (error) {
    GWLLogAttributionLine(*monitor(), kGWLODM2FetchFailedLine, *error);
    return;
  }
  auto engine = this->engine();
  auto database = engine ? engine->database() : nullptr;
  if (!database) return;
  std::shared_ptr<GWLUserAttribute> stored = database->userAttributeWithName(kGWLODM2ValueProperty);
  if (!value || value->empty()) {
    if (stored) engine->removeUserAttributeOnWorkerQueue(stored);
    platform::Error ignored;
    (void)database->deleteODMValueWithName(kGWLODM2ValueRowName, &ignored);
    GWLLogAttributionLine(*monitor(), kGWLODM2EmptyValueLine);
    return;
  }
  if (stored && stored->value().stringValue() && *stored->value().stringValue() == *value) {
    GWLLogAttributionLine(*monitor(), kGWLODM2SameValueLine, kGWLODM2ValueProperty, *value);
    return;
  }
  const double now = this->now();
  platform::Error updateError;
  if (!database->updateODMValue(*value, kGWLODM2ValueRowName, now, &updateError)) {
    GWLLogAttributionLine(*monitor(), kGWLODM2UpdateFailedLine, updateError);
  }
  if (auto text = GWLValue::initWithString(*value)) {
    if (auto attribute = GWLUserAttribute::initWithOrigin(kOrigin, kGWLODM2ValueProperty, *text, now)) {
      engine->setUserAttributeOnWorkerQueue(attribute);
    }
  }
  GWLRawParameters parameters;
  parameters.emplace(kMatchSourceParameter, platform::Object(kGWLODM2MatchSource));
  auto event = GWLEvent::initWithOrigin(kOrigin, false, kMatchEventName, now, 0,
                                        engine->paramsWithAddedFirstOpenConsentedEventParams(parameters),
                                        configOf(engine)->valueLimits());
  if (!event) return;
  event->setRealtime(true);
  engine->writeEventOnWorkerQueue(event);
}

// ---------------------------------------------------------------------------
// The PSM runs' calls

void GWLMeasurementConversionService::checkPSMDependencyOnWorkerQueue() {
  dependencies_.onDeviceMeasurement->checkPSMDependencyOnWorkerQueue();
}
void GWLMeasurementConversionService::maybeDeleteExpiredPSMValueOnWorkerQueue() {
  dependencies_.onDeviceMeasurement->maybeDeleteExpiredPSMValueOnWorkerQueue();
}
void GWLMeasurementConversionService::initiateODMGroupIDProtocol() {
  dependencies_.onDeviceMeasurement->initiateODMGroupIDProtocol();
}
void GWLMeasurementConversionService::resetContexts() { dependencies_.onDeviceMeasurement->resetContexts(); }
void GWLMeasurementConversionService::initiateODMSessionStartProtocolWithTimestamp(double timestamp) {
  dependencies_.onDeviceMeasurement->initiateODMSessionStartProtocolWithTimestamp(timestamp);
}
std::shared_ptr<GWLPBOnDeviceMeasurementValue> GWLMeasurementConversionService::onDeviceMeasurementValueFromRow(
    const platform::Dictionary& row) {
  return dependencies_.onDeviceMeasurement->onDeviceMeasurementValueFromRow(row);
}
void GWLMeasurementConversionService::initiateODM1ProtocolWithUserData(const platform::Dictionary& userData) {
  dependencies_.onDeviceMeasurement->initiateODM1ProtocolWithUserData(userData);
}
bool GWLMeasurementConversionService::isPSMRequestPostponed() {
  return dependencies_.onDeviceMeasurement->isPSMRequestPostponed();
}
void GWLMeasurementConversionService::setIsPSMRequestPostponed(bool postponed) {
  dependencies_.onDeviceMeasurement->setIsPSMRequestPostponed(postponed);
}
void GWLMeasurementConversionService::retrievePSMResponse() { dependencies_.onDeviceMeasurement->retrievePSMResponse(); }
bool GWLMeasurementConversionService::isGWLPrivateSetMembershipClientLinked() {
  return dependencies_.onDeviceMeasurement->isGWLPrivateSetMembershipClientLinked();
}
