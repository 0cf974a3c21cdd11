#include "analytics/attribution/GWLMeasurementOnDeviceMeasurement.h"

#include <cmath>
#include <cstdlib>
#include <utility>

#include "analytics/attribution/GWLClassRegistry.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLAEU.h"
#include "analytics/foundation/core/GWLAlarm.h"
#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMilliseconds.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/foundation/values/GWLEvent.h"
#include "analytics/foundation/values/GWLUserAttribute.h"
#include "analytics/wire/GWLPBOnDeviceMeasurementValue.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/env/AppEnvironment.h"
#include "platform/net/HTTPURLResponse.h"
#include "platform/net/HVUNetwork.h"

namespace {

using Initializer = GWLPrivateSetMembershipClientInitializer;
using ClientClass = GWLPrivateSetMembershipClientClass;

constexpr const char* kSetUserDataMethod = "setUserDataOnWorkerQueue";
constexpr const char* kCheckDependencyMethod = "checkPSMDependencyOnWorkerQueue";
constexpr const char* kHandleValueMethod = "handlePSMValueOnWorkerQueue";
constexpr const char* kIncrementCountMethod = "incrementPSMCountOnWorkerQueue";
constexpr const char* kDeleteExpiredMethod = "maybeDeleteExpiredPSMValueOnWorkerQueue";
constexpr const char* kHandleGroupIDMethod = "handleODMGroupIDOnWorkerQueue";
constexpr const char* kRowValueKey = "value";
constexpr const char* kRowSetTimestampKey = "set_timestamp";
constexpr int32_t kSecondsPerMinute = 60;

bool isPhoneInputType(int64_t inputType) {
  return inputType == kGWLPSMInputTypePhoneNumber || inputType == kGWLPSMInputTypeHashedPhoneNumber;
}

// The request-count user property of an input type.
const char* countPropertyName(int64_t inputType) {
  switch (inputType) {
    case kGWLPSMInputTypePhoneNumber:
      return kGWLPSMCountPhoneProperty;
    case kGWLPSMInputTypeHashedEmailAddress:
      return kGWLPSMCountHashedProperty;
    case kGWLPSMInputTypeHashedPhoneNumber:
      return kGWLPSMCountHashedPhoneProperty;
    default:
      return kGWLPSMCountProperty;
  }
}

const char* countQueryKey(int64_t inputType) {
  return isPhoneInputType(inputType) ? kGWLPSMPhoneCountQueryKey : kGWLPSMCountQueryKey;
}

// The minute after `seconds` (truncated to whole seconds) as whole seconds.
int64_t nextMinute(int64_t seconds) { return seconds / kSecondsPerMinute * kSecondsPerMinute + kSecondsPerMinute; }

std::vector<uint8_t> bytesOf(const std::optional<platform::Object>& object) {
  if (!object) return {};
  if (const platform::Bytes* bytes = object->bytesValue()) return *bytes;
  return {};
}

std::shared_ptr<GWLRemoteConfig> configOf(const std::shared_ptr<GWLMeasurementEngine>& engine) {
  std::shared_ptr<GWLRemoteConfig> config = engine ? engine->remoteConfig() : nullptr;
  return config ? config : GWLRemoteConfig::defaultInstance();
}

}  // namespace

std::shared_ptr<GWLPBOnDeviceMeasurementValue> GWLOnDeviceMeasurementValueFromRow(const platform::Dictionary& row) {
  auto setTimestamp = row.find(kRowSetTimestampKey);
  auto value = row.find(kRowValueKey);
  if (setTimestamp == row.end() || value == row.end() || setTimestamp->second.isNull() || value->second.isNull()) {
    return nullptr;
  }
  auto message = GWLPBOnDeviceMeasurementValue::initWithMessageInfo();
  if (!message) return nullptr;
  message->setSetTimestamp(GWLMillisecondsFromSeconds(setTimestamp->second.doubleValueOrZero()));
  const std::string* text = value->second.stringValue();
  message->setValue(text ? *text : value->second.description());
  return message;
}

std::shared_ptr<GWLMeasurementOnDeviceMeasurement> GWLMeasurementOnDeviceMeasurement::create(
    Dependencies dependencies) {
  return std::shared_ptr<GWLMeasurementOnDeviceMeasurement>(
      new GWLMeasurementOnDeviceMeasurement(std::move(dependencies)));
}

GWLMeasurementOnDeviceMeasurement::GWLMeasurementOnDeviceMeasurement(Dependencies dependencies)
    : dependencies_([&] {
        Dependencies d = std::move(dependencies);
        if (!d.clock) d.clock = platform::Clock::system();
        return d;
      }()) {}

std::shared_ptr<GWLMeasurementEngine> GWLMeasurementOnDeviceMeasurement::engine() const {
  return dependencies_.engine ? dependencies_.engine() : GWLMeasurementRegistry::sharedInstance();
}

std::shared_ptr<GWLMonitor> GWLMeasurementOnDeviceMeasurement::monitor() const {
  return dependencies_.monitor ? dependencies_.monitor : GWLLibraryMonitor::monitor();
}

double GWLMeasurementOnDeviceMeasurement::now() const { return dependencies_.clock->now(); }

template <class... Contexts>
void GWLMeasurementOnDeviceMeasurement::log(const GWLAttributionLogLine& line, const Contexts&... contexts) const {
  GWLLogAttributionLine(*monitor(), line, contexts...);
}

std::string GWLMeasurementOnDeviceMeasurement::appID(const std::shared_ptr<GWLMeasurementEngine>& engine) const {
  return engine ? engine->appID().value_or("") : std::string();
}

bool GWLMeasurementOnDeviceMeasurement::launchArgumentsContain(const std::string& argument) const {
  auto environment = dependencies_.environment ? dependencies_.environment : platform::AppEnvironment::shared();
  if (!environment) return false;
  for (const std::string& each : environment->arguments()) {
    if (each == argument) return true;
  }
  return false;
}

bool GWLMeasurementOnDeviceMeasurement::isAppStoreInstallation() const {
  return dependencies_.isAppStoreInstallation ? dependencies_.isAppStoreInstallation() : GWLAEU::isFAS();
}

// ---------------------------------------------------------------------------
// State

GWLMeasurementOnDeviceMeasurement::~GWLMeasurementOnDeviceMeasurement() {
  if (auto context = ODM1Context(); context && context->PSMRetryAlarm) context->PSMRetryAlarm->cancel();
}

std::shared_ptr<GWLPSMContext> GWLMeasurementOnDeviceMeasurement::ODM1Context() const {
  platform::MutexLock lock(mutex_);
  return ODM1Context_;
}

void GWLMeasurementOnDeviceMeasurement::setODM1Context(std::shared_ptr<GWLPSMContext> context) {
  platform::MutexLock lock(mutex_);
  ODM1Context_ = std::move(context);
}

std::shared_ptr<GWLGroupContext> GWLMeasurementOnDeviceMeasurement::ODM1GroupContext() const {
  platform::MutexLock lock(mutex_);
  return ODM1GroupContext_;
}

void GWLMeasurementOnDeviceMeasurement::setODM1GroupContext(std::shared_ptr<GWLGroupContext> context) {
  platform::MutexLock lock(mutex_);
  ODM1GroupContext_ = std::move(context);
}

void GWLMeasurementOnDeviceMeasurement::resetContexts() {
  // The old context's armed retry would otherwise still send its request.
  if (auto old = ODM1Context(); old && old->PSMRetryAlarm) old->PSMRetryAlarm->cancel();
  setODM1Context(std::make_shared<GWLPSMContext>());
  setODM1GroupContext(std::make_shared<GWLGroupContext>());
}

bool GWLMeasurementOnDeviceMeasurement::isPSMRequestPostponed() {
  auto context = ODM1Context();
  return context && context->isPSMRequestPostponed;
}

void GWLMeasurementOnDeviceMeasurement::setIsPSMRequestPostponed(bool postponed) {
  if (auto context = ODM1Context()) context->isPSMRequestPostponed = postponed;
}

void GWLMeasurementOnDeviceMeasurement::retrievePSMResponse() {
  if (auto context = ODM1Context()) retrievePSMResponse(context);
}

// ---------------------------------------------------------------------------
// Client classes and gates

std::shared_ptr<const GWLPrivateSetMembershipClientClass> GWLMeasurementOnDeviceMeasurement::PSMClientClass() {
  if (auto found = GWLClassRegistry<ClientClass>::classNamed(kGWLPSMClientClassName)) return found;
  return GWLClassRegistry<ClientClass>::classNamed(kGWLPSMClientFallbackClassName);
}

bool GWLMeasurementOnDeviceMeasurement::isGWLPrivateSetMembershipClientLinked() {
  return GWLClassRegistry<ClientClass>::classExists(kGWLPSMClientClassName);
}

void GWLMeasurementOnDeviceMeasurement::checkPSMDependencyOnWorkerQueue() {
  GWLScheduler::checkOnBackgroundThreadWithMethodName(kCheckDependencyMethod);
  if (PSMClientClass()) {
    setODM1Context(std::make_shared<GWLPSMContext>());
    log(kGWLPSMReadyLine);
    return;
  }
  auto engine = this->engine();
  auto database = engine ? engine->database() : nullptr;
  if (!database) return;
  if (database->userAttributeWithName(kGWLPSMCountProperty) ||
      database->userAttributeWithName(kGWLPSMCountPhoneProperty)) {
    log(kGWLPSMNotLinkedLine);
  }
}

bool GWLMeasurementOnDeviceMeasurement::shouldAllowODMFeature() {
  auto engine = this->engine();
  if (engine && engine->isAdStorageDenied()) return false;
  return configOf(engine)->adsOnDeviceConversionFeatureEnabled();
}

bool GWLMeasurementOnDeviceMeasurement::ODM1ValueExists() {
  auto engine = this->engine();
  auto database = engine ? engine->database() : nullptr;
  if (!database) return false;
  if (database->ODMValueWithName(kGWLODM1ValueRowName)) return true;
  return database->userAttributeWithName(kGWLPSMValueProperty) != nullptr;
}

bool GWLMeasurementOnDeviceMeasurement::shouldRetrievePSMResponse() {
  auto engine = this->engine();
  auto config = configOf(engine);
  if (!PSMClientClass()) {
    log(kGWLPSMNoClientClassLine);
    return false;
  }
  if (engine && engine->isAdStorageDenied()) {
    log(kGWLPSMAdStorageDeniedLine);
    return false;
  }
  if (!config->adsOnDeviceConversionFeatureEnabled()) {
    log(kGWLPSMFeatureDisabledLine);
    return false;
  }
  auto persisted = engine ? engine->persistedConfig() : nullptr;
  const int64_t firstOpenMillis = persisted ? persisted->firstOpenTimestampMilliseconds() : 0;
  const double firstOpen =
      firstOpenMillis != 0 ? static_cast<double>(firstOpenMillis) / 1000 : (engine ? engine->initTimestamp() : 0);
  const int32_t window = config->maxSignInDelayInDays() * kGWLSecondsPerDay;
  if (std::fabs(now() - firstOpen) > window) {
    log(kGWLPSMOutsideFirstOpenWindowLine);
    return false;
  }
  auto context = ODM1Context();
  if (context && context->isPSMRequestInProgress) {
    log(kGWLPSMInProgressLine);
    return false;
  }
  if ((context ? context->PSMStartCount : 0) >= config->maxPSMStartCount()) {
    log(kGWLPSMStartLimitLine);
    return false;
  }
  if (ODM1ValueExists()) {
    log(kGWLPSMExistingMatchLine);
    return false;
  }
  if ((context ? context->PSMRetryCount : 0) >= config->maxPSMRetryCount()) {
    log(kGWLPSMRetryLimitGateLine);
    return false;
  }
  return true;
}

bool GWLMeasurementOnDeviceMeasurement::shouldRetrievePSMResponseWithEmailAddress(const std::string& emailAddress) {
  if (emailAddress.empty()) {
    log(kGWLPSMEmptyEmailLine);
    return false;
  }
  return shouldRetrievePSMResponse();
}

bool GWLMeasurementOnDeviceMeasurement::shouldRetrievePSMResponseWithPhoneNumber(const std::string& phoneNumber) {
  if (phoneNumber.empty()) {
    log(kGWLPSMEmptyPhoneLine);
    return false;
  }
  auto clientClass = PSMClientClass();
  if (clientClass && !clientClass->respondsToInitializer(Initializer::kPhoneNumber)) {
    log(kGWLPSMPhoneUnsupportedLine);
    return false;
  }
  return shouldRetrievePSMResponse();
}

bool GWLMeasurementOnDeviceMeasurement::shouldRetrievePSMResponseWithHashedIdentifier(
    std::span<const uint8_t> hashedIdentifier) {
  if (hashedIdentifier.empty()) {
    log(kGWLPSMEmptyHashedIdentifierLine);
    return false;
  }
  auto clientClass = PSMClientClass();
  if (clientClass && !clientClass->respondsToInitializer(Initializer::kHashedEmailAddress) &&
      !clientClass->respondsToInitializer(Initializer::kHashedPhoneNumber)) {
    log(kGWLPSMHashedUnsupportedLine);
    return false;
  }
  return shouldRetrievePSMResponse();
}

// ---------------------------------------------------------------------------
// Clients and the input cache

std::shared_ptr<GWLPrivateSetMembershipClient> GWLMeasurementOnDeviceMeasurement::PSMClientWithEmailAddress(
    const std::string& emailAddress) {
  auto clientClass = PSMClientClass();
  if (!clientClass) return nullptr;
  auto engine = this->engine();
  if (clientClass->respondsToInitializer(Initializer::kEmailAddressPrefixBitLength)) {
    return clientClass->initWithEmailAddress(emailAddress, appID(engine), configOf(engine)->hashPrefixBitLengthEmail());
  }
  return clientClass->initWithEmailAddress(emailAddress, appID(engine));
}

std::shared_ptr<GWLPrivateSetMembershipClient> GWLMeasurementOnDeviceMeasurement::PSMClientWithPhoneNumber(
    const std::string& phoneNumber) {
  auto clientClass = PSMClientClass();
  if (!clientClass) return nullptr;
  auto engine = this->engine();
  if (clientClass->respondsToInitializer(Initializer::kPhoneNumberPrefixBitLength)) {
    return clientClass->initWithPhoneNumber(phoneNumber, appID(engine), configOf(engine)->hashPrefixBitLengthPhone());
  }
  return clientClass->initWithPhoneNumber(phoneNumber, appID(engine));
}

std::shared_ptr<GWLPrivateSetMembershipClient> GWLMeasurementOnDeviceMeasurement::PSMClientWithHashedEmailAddress(
    std::span<const uint8_t> hashed) {
  auto clientClass = PSMClientClass();
  if (!clientClass || !clientClass->respondsToInitializer(Initializer::kHashedEmailAddress)) return nullptr;
  auto engine = this->engine();
  return clientClass->initWithHashedEmailAddress(hashed, appID(engine), configOf(engine)->hashPrefixBitLengthEmail());
}

std::shared_ptr<GWLPrivateSetMembershipClient> GWLMeasurementOnDeviceMeasurement::PSMClientWithHashedPhoneNumber(
    std::span<const uint8_t> hashed) {
  auto clientClass = PSMClientClass();
  if (!clientClass || !clientClass->respondsToInitializer(Initializer::kHashedPhoneNumber)) return nullptr;
  auto engine = this->engine();
  return clientClass->initWithHashedPhoneNumber(hashed, appID(engine), configOf(engine)->hashPrefixBitLengthPhone());
}

std::shared_ptr<GWLPrivateSetMembershipClient> GWLMeasurementOnDeviceMeasurement::PSMClientWithCachedInputs() {
  auto clientClass = PSMClientClass();
  if (!clientClass || !clientClass->respondsToInitializer(Initializer::kHashedInput)) return nullptr;
  auto engine = this->engine();
  auto persisted = engine ? engine->persistedConfig() : nullptr;
  if (!persisted) return nullptr;
  auto config = configOf(engine);
  const int64_t inputType = persisted->PSMInputType();
  int32_t prefixBitLength = 0;
  if (inputType == kGWLPSMInputTypeEmailAddress || inputType == kGWLPSMInputTypeHashedEmailAddress) {
    prefixBitLength = config->PSMSessionStartHashPrefixBitLengthEmail();
  } else if (isPhoneInputType(inputType)) {
    prefixBitLength = config->PSMSessionStartHashPrefixBitLengthPhone();
  }
  const std::vector<uint8_t> hashedInput = bytesOf(persisted->PSMHashedInputData());
  return clientClass->initWithHashedInput(hashedInput, inputType, appID(engine), prefixBitLength);
}

void GWLMeasurementOnDeviceMeasurement::cachePSMInputsFromClient(
    const std::shared_ptr<GWLPrivateSetMembershipClient>& client) {
  if (!client) return;
  auto engine = this->engine();
  auto persisted = engine ? engine->persistedConfig() : nullptr;
  if (!persisted) return;
  persisted->setPSMHashedInputData(platform::Object(platform::Bytes(client->hashedInput())));
  persisted->setPSMInputType(client->inputType());
  persisted->setPSMCurrentDay(platform::Object());
}

void GWLMeasurementOnDeviceMeasurement::clearCachedPSMInputs() {
  auto engine = this->engine();
  auto persisted = engine ? engine->persistedConfig() : nullptr;
  if (!persisted) return;
  persisted->setPSMHashedInputData(platform::Object());
  persisted->setPSMInputType(0);
  persisted->setPSMCurrentDay(platform::Object());
}

// ---------------------------------------------------------------------------
// The runs

void GWLMeasurementOnDeviceMeasurement::initiateODM1ProtocolWithUserData(const platform::Dictionary& userData) {
  GWLScheduler::checkOnBackgroundThreadWithMethodName(kSetUserDataMethod);
  auto context = ODM1Context();
  auto hasClient = [&] { return context && context->PSMClient; };
  auto setClient = [&](std::shared_ptr<GWLPrivateSetMembershipClient> client) {
    if (context) context->PSMClient = std::move(client);
  };
  auto text = [&](const char* key) -> std::optional<std::string> {
    auto found = userData.find(key);
    if (found == userData.end()) return std::nullopt;
    const std::string* value = found->second.stringValue();
    return value ? *value : std::string();
  };
  auto bytes = [&](const char* key) -> std::optional<std::vector<uint8_t>> {
    auto found = userData.find(key);
    if (found == userData.end()) return std::nullopt;
    const platform::Bytes* value = found->second.bytesValue();
    return value ? *value : std::vector<uint8_t>();
  };
  auto cacheOrClear = [&](const std::shared_ptr<GWLPrivateSetMembershipClient>& client, bool emptyInput) {
    if (emptyInput) {
      clearCachedPSMInputs();
    } else {
      cachePSMInputsFromClient(client);
    }
  };

  if (auto email = text(kGWLUserDataEmailAddressKey)) {
    auto client = PSMClientWithEmailAddress(*email);
    cacheOrClear(client, email->empty());
    if (shouldRetrievePSMResponseWithEmailAddress(*email)) {
      setClient(client);
    } else if (ODM1ValueExists()) {
      initiateODMGroupIDProtocol();
    }
  }
  if (!hasClient()) {
    if (auto phone = text(kGWLUserDataPhoneNumberKey)) {
      auto client = PSMClientWithPhoneNumber(*phone);
      cacheOrClear(client, phone->empty());
      if (shouldRetrievePSMResponseWithPhoneNumber(*phone)) setClient(client);
    }
  }
  if (!hasClient()) {
    if (auto hashed = bytes(kGWLUserDataHashedEmailAddressKey)) {
      auto client = PSMClientWithHashedEmailAddress(*hashed);
      cacheOrClear(client, hashed->empty());
      if (shouldRetrievePSMResponseWithHashedIdentifier(*hashed)) {
        setClient(client);
      } else if (ODM1ValueExists()) {
        initiateODMGroupIDProtocol();
      }
    }
  }
  if (!hasClient()) {
    if (auto hashed = bytes(kGWLUserDataHashedPhoneNumberKey)) {
      auto client = PSMClientWithHashedPhoneNumber(*hashed);
      cacheOrClear(client, hashed->empty());
      if (shouldRetrievePSMResponseWithHashedIdentifier(*hashed)) setClient(client);
    }
  }
  if (!hasClient()) return;
  log(kGWLPSMInitiatedLine);
  context->PSMRetryCount = 0;
  context->PSMStartCount += 1;
  context->sessionStartTimestamp = 0;
  retrievePSMResponse(context);
}

void GWLMeasurementOnDeviceMeasurement::initiateODMSessionStartProtocolWithTimestamp(double timestamp) {
  if (!shouldAllowODMFeature()) return;
  auto clientClass = PSMClientClass();
  if (!clientClass || !clientClass->respondsToInitializer(Initializer::kHashedInput)) {
    log(kGWLPSMSessionUnsupportedLine);
    return;
  }
  auto engine = this->engine();
  auto persisted = engine ? engine->persistedConfig() : nullptr;
  if (!persisted || bytesOf(persisted->PSMHashedInputData()).empty() || persisted->PSMInputType() == 0) {
    log(kGWLPSMSessionNoCachedInputLine);
    return;
  }
  auto context = ODM1Context();
  if (!context) {
    context = std::make_shared<GWLPSMContext>();
    setODM1Context(context);
  }
  context->PSMClient = PSMClientWithCachedInputs();
  if (!context->PSMClient) return;
  log(kGWLPSMSessionInitiatedLine);
  context->PSMRetryCount = 0;
  context->PSMStartCount += 1;
  context->sessionStartTimestamp = timestamp;
  retrievePSMResponse(context);
}

// ---------------------------------------------------------------------------
// The request

std::optional<std::string> GWLMeasurementOnDeviceMeasurement::PSMRequestURL(const GWLPSMContext& context) {
  if (!context.PSMClient) return std::nullopt;
  const GWLPrivateSetMembershipClient& client = *context.PSMClient;
  std::optional<std::string> base = client.PSMRequestURLWithRetryCount(context.PSMRetryCount);
  if (!base || base->empty()) return std::nullopt;
  std::string url = *base;
  auto append = [&](const std::string& key, const std::string& value) {
    if (!key.empty() && !value.empty()) url += "&" + key + "=" + value;
  };

  auto engine = this->engine();
  const int64_t inputType = client.inputType();
  append(countQueryKey(inputType), std::to_string(int64UserProperty(countPropertyName(inputType))));

  auto persisted = engine ? engine->persistedConfig() : nullptr;
  const double firstOpen =
      persisted ? static_cast<double>(persisted->firstOpenTimestampMilliseconds()) / 1000 : 0;
  if (firstOpen > 0 && !(context.sessionStartTimestamp > 0)) {
    append(kGWLPSMFirstOpenQueryKey, std::to_string(nextMinute(GWLInt64FromDouble(firstOpen))));
  }

  auto monitor = this->monitor();
  if ((monitor->isDebugModeEnabled() || monitor->isVerboseLoggingEnabled()) && !isAppStoreInstallation() &&
      launchArgumentsContain(kGWLPSMDebugLaunchArgument)) {
    if (std::optional<std::string> key = client.debugKey()) append(kGWLPSMDebugKeyQueryKey, *key);
  }

  if (context.sessionStartTimestamp > 0) {
    append(kGWLPSMSessionStartQueryKey, std::to_string(nextMinute(int64UserProperty(kGWLSessionIDProperty))));
  }
  return url;
}

void GWLMeasurementOnDeviceMeasurement::retrievePSMResponse(const std::shared_ptr<GWLPSMContext>& context) {
  if (!context) return;
  auto client = context->PSMClient;
  std::optional<std::vector<uint8_t>> payload = client ? client->payloadWithPSMRequest() : std::nullopt;
  if (!payload || payload->empty()) {
    log(kGWLPSMInvalidPayloadLine);
    return;
  }
  std::optional<std::string> url = PSMRequestURL(*context);
  if (!url) {
    log(kGWLPSMInvalidURLLine);
    return;
  }
  if (!context->network) context->network = std::make_shared<platform::HVUNetwork>();
  if (context->network->hasUploadInProgress()) {
    log(kGWLPSMPostponedLine);
    context->isPSMRequestPostponed = true;
    return;
  }
  auto engine = this->engine();
  auto scheduler = engine ? engine->scheduler() : nullptr;
  if (!scheduler) return;
  const std::string countName = countPropertyName(client->inputType());
  if (context->PSMRetryAlarm) context->PSMRetryAlarm->cancel();
  context->isPSMRequestPostponed = false;
  context->isPSMRequestInProgress = true;
  engine->setIsNetworkRequestPending(true);
  const bool isSessionValue = context->sessionStartTimestamp > 0;
  if (auto engineNetwork = engine->network()) engineNetwork->setTimeoutInterval(configOf(engine)->networkTimeout());

  // The completion holds the client that built this request: only it can read the answer.
  std::weak_ptr<GWLMeasurementOnDeviceMeasurement> weakSelf = weak_from_this();
  std::weak_ptr<GWLMeasurementEngine> weakEngine = engine;
  context->network->postURL(
      *url, *payload, scheduler->workerQueue(), engine->shouldUseBackgroundSession(),
      [weakSelf, weakEngine, context, client, countName, isSessionValue](
          std::shared_ptr<const platform::HTTPURLResponse> response, std::vector<uint8_t> data,
          std::optional<platform::Error> error) {
        auto self = weakSelf.lock();
        if (!self || !weakEngine.lock()) return;
        self->handlePSMResponse(context, client, countName, isSessionValue, response ? response->statusCode : 0, data,
                                error);
      });
}

void GWLMeasurementOnDeviceMeasurement::handlePSMResponse(const std::shared_ptr<GWLPSMContext>& context,
                                                          const std::shared_ptr<GWLPrivateSetMembershipClient>& client,
                                                          const std::string& countName, bool isSessionValue,
                                                          int status, const std::vector<uint8_t>& data,
                                                          const std::optional<platform::Error>& error) {
  auto engine = this->engine();
  if (!engine) return;
  engine->setIsNetworkRequestPending(false);
  if (context == ODM1Context()) incrementPSMCountOnWorkerQueueWithName(countName);
  const bool succeeded = !error && (status == platform::kHVUNetworkHTTPStatusOK ||
                                    status == platform::kHVUNetworkHTTPStatusCodeNotModified ||
                                    status == platform::kHVUNetworkHTTPStatusNoContent);
  if (!succeeded) {
    log(kGWLPSMRequestFailedLine, static_cast<int64_t>(status), error ? GWLLogContext(*error) : GWLLogContext());
    // The request that failed is this context's: a context made since (a
    // wipe-out) keeps its own state, and the wiped data is not asked for again.
    context->isPSMRequestInProgress = false;
    if (context == ODM1Context()) maybeSchedulePSMRetry(context);
    engine->updateSchedule();
    return;
  }
  std::optional<std::string> value = client ? client->parsedPSMValueFromResponse(data) : std::nullopt;
  if (value && !value->empty()) {
    log(kGWLPSMMatchLine);
    handlePSMValueOnWorkerQueue(*value, isSessionValue);
  } else {
    log(kGWLPSMNoMatchLine);
  }
  context->isPSMRequestInProgress = false;
  // A client set since the request was sent (a session start) keeps its own request.
  if (context->PSMClient == client) context->PSMClient = nullptr;
  engine->updateSchedule();
  if (configOf(engine)->PSMGroupIDEnabled()) initiateODMGroupIDProtocol();
}

void GWLMeasurementOnDeviceMeasurement::maybeSchedulePSMRetry(const std::shared_ptr<GWLPSMContext>& context) {
  if (!context) return;
  auto engine = this->engine();
  auto config = configOf(engine);
  const double interval = config->PSMRetryInterval();
  const int32_t k = context->PSMRetryCount;
  context->PSMRetryCount += 1;
  if (context->PSMRetryCount >= config->maxPSMRetryCount()) {
    log(kGWLPSMRetryLimitLine);
    return;
  }
  auto scheduler = engine ? engine->scheduler() : nullptr;
  if (!scheduler) return;
  if (!context->PSMRetryAlarm) {
    context->PSMRetryAlarm =
        GWLAlarm::create(scheduler->workerQueue(), kGWLPSMRetryAlarmName, dependencies_.clock, monitor());
  }
  // k stays below the retry limit (at most 10), so the shift is defined.
  const int32_t power = static_cast<int32_t>(1u << (static_cast<uint32_t>(k) & 31u));
  std::weak_ptr<GWLMeasurementOnDeviceMeasurement> weakSelf = weak_from_this();
  std::weak_ptr<GWLMeasurementEngine> weakEngine = engine;
  std::weak_ptr<GWLPSMContext> weakContext = context;
  context->PSMRetryAlarm->runAfterDelay(interval * power, [weakSelf, weakEngine, weakContext] {
    auto self = weakSelf.lock();
    auto context = weakContext.lock();
    if (!self || !context || !weakEngine.lock()) return;
    self->retrievePSMResponse(context);
  });
}

// ---------------------------------------------------------------------------
// Values and counts

int64_t GWLMeasurementOnDeviceMeasurement::int64UserProperty(const std::string& name) {
  auto engine = this->engine();
  auto database = engine ? engine->database() : nullptr;
  auto attribute = database ? database->userAttributeWithName(name) : nullptr;
  return attribute ? attribute->value().int64Value() : 0;
}

void GWLMeasurementOnDeviceMeasurement::setUserProperty(const std::string& name, const GWLValue& value) {
  auto engine = this->engine();
  if (!engine) return;
  if (auto attribute = GWLUserAttribute::initWithOrigin(kGWLPSMOrigin, name, value, now())) {
    engine->setUserAttributeOnWorkerQueue(attribute);
  }
}

void GWLMeasurementOnDeviceMeasurement::incrementPSMCountOnWorkerQueueWithName(const std::string& name) {
  GWLScheduler::checkOnBackgroundThreadWithMethodName(kIncrementCountMethod);
  setUserProperty(name, GWLValue::initWithInt64(int64UserProperty(name) + 1));
}

void GWLMeasurementOnDeviceMeasurement::handlePSMValueOnWorkerQueue(const std::string& value, bool isSessionValue) {
  GWLScheduler::checkOnBackgroundThreadWithMethodName(kHandleValueMethod);
  if (value.empty()) return;
  auto engine = this->engine();
  auto database = engine ? engine->database() : nullptr;
  if (!database) return;
  if (isSessionValue) {
    if (auto row = database->ODMValueWithName(kGWLODM1SessionValueRowName)) {
      const platform::Object* stored = row->count(kRowValueKey) ? &row->at(kRowValueKey) : nullptr;
      if (stored && stored->stringValue() && *stored->stringValue() == value) return;
    }
    platform::Error error;
    if (!database->updateODMValue(value, kGWLODM1SessionValueRowName, now(), &error)) {
      log(kGWLPSMSessionValueFailedLine, error);
    }
    return;
  }
  platform::Error error;
  if (!database->updateODMValue(value, kGWLODM1ValueRowName, now(), &error)) log(kGWLPSMValueFailedLine, error);
  if (auto text = GWLValue::initWithString(value)) setUserProperty(kGWLPSMValueProperty, *text);
  GWLRawParameters parameters;
  parameters.emplace(kGWLPSMMatchSourceParameter, platform::Object(kGWLPSMMatchSource));
  auto event = GWLEvent::initWithOrigin(kGWLPSMOrigin, false, kGWLPSMMatchEventName, now(), 0,
                                        engine->paramsWithAddedFirstOpenConsentedEventParams(parameters),
                                        configOf(engine)->valueLimits());
  if (!event) return;
  event->setRealtime(true);
  engine->writeEventOnWorkerQueue(event);
}

bool GWLMeasurementOnDeviceMeasurement::isExpiredODMValueWithName(const std::string& name) {
  auto engine = this->engine();
  auto database = engine ? engine->database() : nullptr;
  auto row = database ? database->ODMValueWithName(name) : std::nullopt;
  if (!row) return false;
  auto setTimestamp = row->find(kRowSetTimestampKey);
  if (setTimestamp == row->end()) return false;
  return std::fabs(now() - setTimestamp->second.doubleValueOrZero()) >= kGWLODMValueExpirySeconds;
}

void GWLMeasurementOnDeviceMeasurement::maybeDeleteExpiredPSMValueOnWorkerQueue() {
  GWLScheduler::checkOnBackgroundThreadWithMethodName(kDeleteExpiredMethod);
  auto engine = this->engine();
  auto database = engine ? engine->database() : nullptr;
  if (!database) return;
  const std::pair<const char*, const GWLAttributionLogLine*> rows[] = {
      {kGWLODM1ValueRowName, &kGWLPSMDeleteValueFailedLine},
      {kGWLODM1SessionValueRowName, &kGWLPSMDeleteSessionValueFailedLine},
      {kGWLODM1GroupIDRowName, &kGWLPSMDeleteGroupIDFailedLine},
  };
  for (const auto& [name, failure] : rows) {
    if (!isExpiredODMValueWithName(name)) continue;
    platform::Error error;
    if (!database->deleteODMValueWithName(name, &error)) log(*failure, error);
  }

  auto property = database->userAttributeWithName(kGWLPSMValueProperty);
  if (!property) return;
  if (std::fabs(now() - property->lastSetTimestamp()) >= kGWLODMValueExpirySeconds) {
    for (const char* name : {kGWLPSMValueProperty, kGWLPSMCountProperty, kGWLPSMCountPhoneProperty,
                             kGWLPSMCountHashedProperty, kGWLPSMCountHashedPhoneProperty}) {
      if (auto stored = database->userAttributeWithName(name)) engine->removeUserAttributeOnWorkerQueue(stored);
    }
    return;
  }
  if (database->ODMValueWithName(kGWLODM1ValueRowName)) return;
  const GWLValue& value = property->value();
  const std::string text = value.stringValue() ? *value.stringValue() : value.description();
  platform::Error ignored;
  (void)database->updateODMValue(text, kGWLODM1ValueRowName, property->lastSetTimestamp(), &ignored);
}

std::shared_ptr<GWLPBOnDeviceMeasurementValue> GWLMeasurementOnDeviceMeasurement::onDeviceMeasurementValueFromRow(
    const platform::Dictionary& row) {
  return GWLOnDeviceMeasurementValueFromRow(row);
}

// ---------------------------------------------------------------------------
// The group-identifier run

std::shared_ptr<const ODCPrivateSetMembershipGroupClientClass>
GWLMeasurementOnDeviceMeasurement::PSMGroupClientClass() {
  return GWLClassRegistry<ODCPrivateSetMembershipGroupClientClass>::classNamed(kGWLPSMGroupClientClassName);
}

int32_t GWLMeasurementOnDeviceMeasurement::currentDayNumber() {
  auto engine = this->engine();
  auto persisted = engine ? engine->persistedConfig() : nullptr;
  const double offset = persisted ? persisted->midnightOffset() : 0;
  return static_cast<int32_t>(std::floor((now() - offset) / kGWLSecondsPerDay));
}

std::shared_ptr<ODCPrivateSetMembershipGroupClientProtocol>
GWLMeasurementOnDeviceMeasurement::PSMGroupClientWithCachedInputs() {
  auto groupClass = PSMGroupClientClass();
  if (!groupClass || !groupClass->respondsToInitWithHashedInput()) return nullptr;
  auto engine = this->engine();
  auto persisted = engine ? engine->persistedConfig() : nullptr;
  if (!persisted) return nullptr;
  const int64_t inputType = persisted->PSMInputType();
  if (isPhoneInputType(inputType)) return nullptr;
  return groupClass->initWithHashedInput(bytesOf(persisted->PSMHashedInputData()), inputType, appID(engine),
                                         configOf(engine)->PSMGroupIDHashPrefixBitLengthEmail());
}

void GWLMeasurementOnDeviceMeasurement::initiateODMGroupIDProtocol() {
  auto engine = this->engine();
  if (engine && engine->isAdStorageDenied()) {
    log(kGWLGroupAdStorageDeniedLine);
    return;
  }
  if (!configOf(engine)->adsOnDeviceConversionFeatureEnabled()) {
    log(kGWLGroupFeatureDisabledLine);
    return;
  }
  auto groupClass = PSMGroupClientClass();
  if (!groupClass || !groupClass->respondsToInitWithHashedInput()) {
    log(kGWLGroupUnsupportedLine);
    return;
  }
  auto persisted = engine ? engine->persistedConfig() : nullptr;
  if (!persisted || bytesOf(persisted->PSMHashedInputData()).empty() || persisted->PSMInputType() == 0) {
    log(kGWLGroupNoCachedInputLine);
    return;
  }
  if (isPhoneInputType(persisted->PSMInputType())) {
    log(kGWLGroupPhoneUnsupportedLine);
    return;
  }
  std::optional<platform::Object> storedDay = persisted->PSMCurrentDay();
  const int64_t lastDay = storedDay ? storedDay->integerValueOrZero() : 0;
  if (currentDayNumber() == lastDay) {
    log(kGWLGroupDailyCapLine);
    return;
  }
  persisted->setPSMCurrentDay(platform::Object());
  auto context = ODM1GroupContext();
  if (!context) {
    context = std::make_shared<GWLGroupContext>();
    setODM1GroupContext(context);
  }
  if (!context->network) context->network = std::make_shared<platform::HVUNetwork>();
  context->ODCGroupClient = PSMGroupClientWithCachedInputs();
  if (!context->ODCGroupClient) return;
  auto scheduler = engine->scheduler();
  if (!scheduler) return;
  context->isPSMRequestInProgress = true;
  // The answer comes on the group client's queue; everything it changes is
  // the worker queue's, so it is handed there first.
  std::weak_ptr<GWLMeasurementOnDeviceMeasurement> weakSelf = weak_from_this();
  std::weak_ptr<GWLMeasurementEngine> weakEngine = engine;
  context->ODCGroupClient->fetchGroupIDWithNetwork(
      context->network, [weakSelf, weakEngine, context](std::optional<std::string> value,
                                                        std::optional<platform::Error> error) {
        auto engine = weakEngine.lock();
        auto scheduler = engine ? engine->scheduler() : nullptr;
        if (!scheduler || !weakSelf.lock()) return;
        scheduler->scheduleOnWorkerQueueBlockID(kGWLPSMGroupIDBlockID, [weakSelf, weakEngine, context, value, error] {
          auto self = weakSelf.lock();
          if (!self || !weakEngine.lock()) return;
          self->handleGroupIDResponse(context, value, error);
        });
      });
}

void GWLMeasurementOnDeviceMeasurement::handleGroupIDResponse(const std::shared_ptr<GWLGroupContext>& context,
                                                              const std::optional<std::string>& value,
                                                              const std::optional<platform::Error>& error) {
  context->isPSMRequestInProgress = false;
  if (error) {
    // The day stays cleared, so the next trigger of the day asks again.
    log(kGWLGroupRequestFailedLine, *error);
    return;
  }
  auto engine = this->engine();
  auto persisted = engine ? engine->persistedConfig() : nullptr;
  if (persisted) persisted->setPSMCurrentDay(platform::Object(static_cast<int64_t>(currentDayNumber())));
  context->ODCGroupClient = nullptr;
  context->isPSMRequestInProgress = false;
  if (value && !value->empty()) {
    log(kGWLGroupMatchLine);
    handleODMGroupIDOnWorkerQueue(*value);
  } else {
    log(kGWLGroupNoMatchLine);
  }
}

void GWLMeasurementOnDeviceMeasurement::handleODMGroupIDOnWorkerQueue(const std::string& value) {
  GWLScheduler::checkOnBackgroundThreadWithMethodName(kHandleGroupIDMethod);
  if (value.empty()) return;
  auto engine = this->engine();
  auto database = engine ? engine->database() : nullptr;
  if (!database) return;
  if (auto row = database->ODMValueWithName(kGWLODM1GroupIDRowName)) {
    auto stored = row->find(kRowValueKey);
    if (stored != row->end() && stored->second.stringValue() && *stored->second.stringValue() == value) return;
  }
  platform::Error error;
  if (!database->updateODMValue(value, kGWLODM1GroupIDRowName, now(), &error)) log(kGWLGroupIDFailedLine, error);
}
