// The deferred deep link: the gate, the lookup, its answer and the hand-over
// to the app delegate.
#include <algorithm>
#include <limits>
#include <utility>

#include <nlohmann/json.hpp>

#include "analytics/attribution/GWLMeasurementDeepLinks.h"
#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLAEU.h"
#include "analytics/foundation/core/GWLError.h"
#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "platform/appdelegate/HVUAppDelegateSwizzler.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/env/AppEnvironment.h"
#include "platform/net/HVUNetwork.h"
#include "platform/net/URL.h"
#include "platform/text/PercentEncoding.h"

namespace {

constexpr const char* kDeferredDeepLinkBlockID = "GWLMeasurement:443";
// Nesting kept when an answer becomes a dictionary; deeper values read as null.
constexpr int kMaxAnswerDepth = 32;
constexpr const char* kAnswerNotJSON = "The deferred deep link answer is not JSON";
constexpr const char* kAnswerNotObject = "The deferred deep link answer is not a JSON object";

std::string queryValue(const std::string& text) {
  return platform::percent::encode(text, platform::percent::AllowedSet::queryValue());
}

// A JSON value as a plain object: numbers keep their kind (an unsigned value
// beyond int64 becomes a double), nesting deeper than kMaxAnswerDepth is null.
platform::Object objectFromJSON(const nlohmann::json& json, int depth) {
  switch (json.type()) {
    case nlohmann::json::value_t::boolean:
      return platform::Object(json.get<bool>());
    case nlohmann::json::value_t::number_integer:
      return platform::Object(json.get<int64_t>());
    case nlohmann::json::value_t::number_unsigned: {
      const uint64_t value = json.get<uint64_t>();
      if (value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
        return platform::Object(static_cast<double>(value));
      }
      return platform::Object(static_cast<int64_t>(value));
    }
    case nlohmann::json::value_t::number_float:
      return platform::Object(json.get<double>());
    case nlohmann::json::value_t::string:
      return platform::Object(json.get<std::string>());
    case nlohmann::json::value_t::array: {
      if (depth >= kMaxAnswerDepth) return platform::Object();
      platform::Array items;
      for (const auto& item : json) items.push_back(objectFromJSON(item, depth + 1));
      return platform::Object(std::move(items));
    }
    case nlohmann::json::value_t::object: {
      if (depth >= kMaxAnswerDepth) return platform::Object();
      platform::Dictionary members;
      for (const auto& [key, value] : json.items()) members[key] = objectFromJSON(value, depth + 1);
      return platform::Object(std::move(members));
    }
    default:
      return platform::Object();
  }
}

// Whether a "number that is true" stands in the Info dictionary.
bool isTrueNumber(const platform::Object* value) {
  if (!value) return false;
  if (auto flag = value->boolValue()) return *flag;
  if (auto number = value->numberValue()) return *number != 0;
  return false;
}

}  // namespace

bool GWLMeasurementDeepLinks::shouldAllowRequestDeferredDeepLink() {
  auto engine = this->engine();
  auto persistedConfig = engine ? engine->persistedConfig() : nullptr;
  if (!persistedConfig) return false;
  auto remoteConfig = engine->remoteConfig();
  if (!remoteConfig) remoteConfig = GWLRemoteConfig::defaultInstance();
  auto monitor = this->monitor();

  if (!remoteConfig->isDeferredDeepLinkEnabled()) {
    monitor->logWithLevel(kGWLLevelWarningSilent, kGWLDeferredDeepLinkDisabledCode,
                          kGWLDeferredDeepLinkDisabledMessage);
    return false;
  }
  if (!isTrueNumber(environment()->objectForInfoDictionaryKey(kGWLDeferredDeepLinkEnabledInfoKey))) return false;
  if (auto complete = persistedConfig->deferredDeepLinkRetrievalComplete(); complete && !complete->isNull()) {
    monitor->logWithLevel(kGWLLevelDebug, kGWLDeferredDeepLinkAlreadyRetrievedCode,
                          kGWLDeferredDeepLinkAlreadyRetrievedMessage);
    return false;
  }
  if (persistedConfig->deferredDeepLinkRetryCount() >= remoteConfig->maxDeferredDeepLinkRetryCount()) {
    monitor->logWithLevel(kGWLLevelWarning, kGWLDeferredDeepLinkRetryLimitCode, kGWLDeferredDeepLinkRetryLimitMessage);
    persistedConfig->setDeferredDeepLinkRetrievalComplete(platform::Object(int64_t{1}));
    return false;
  }
  if (engine->isAdStorageDenied()) {
    monitor->logWithLevel(kGWLLevelWarning, kGWLDeferredDeepLinkAdStorageDeniedCode,
                          kGWLDeferredDeepLinkAdStorageDeniedMessage);
    return false;
  }
  if (engine->hasLimitedAdTracking() && !engine->limitedAdTracking()) {
    monitor->logWithLevel(kGWLLevelDebug, kGWLDeferredDeepLinkEnabledCode, kGWLDeferredDeepLinkEnabledMessage);
    return true;
  }
  monitor->logWithLevel(kGWLLevelWarning, kGWLDeferredDeepLinkNoIDFACode, kGWLDeferredDeepLinkNoIDFAMessage);
  return false;
}

std::optional<std::string> GWLMeasurementDeepLinks::deferredDeepLinkURL() const {
  auto engine = this->engine();
  auto persistedConfig = engine ? engine->persistedConfig() : nullptr;
  if (!persistedConfig) return std::nullopt;
  auto remoteConfig = engine->remoteConfig();
  if (!remoteConfig) remoteConfig = GWLRemoteConfig::defaultInstance();
  const GWLServiceHosts hosts = dependencies_.hosts.value_or(GWLServiceHosts::forProcess());

  // Every value is encoded for a query value: an identifier or consent text
  // holding '&', '#' or a blank cannot add or cut a parameter.
  std::string url = hosts.adConversion.origin() + kGWLDeferredDeepLinkPath +
                    "?sdk_version=" + queryValue(std::to_string(kGWLLibraryVersion)) +
                    "&rdid=" + queryValue(engine->resettableDeviceID().value_or("")) +
                    "&id_type=idfa&bundleid=" + queryValue(engine->appID().value_or("")) +
                    "&retry=" + queryValue(std::to_string(persistedConfig->deferredDeepLinkRetryCount()));
  const bool isAppStoreInstallation =
      dependencies_.isAppStoreInstallation ? dependencies_.isAppStoreInstallation() : GWLAEU::isFAS();
  if (!isAppStoreInstallation) {
    const auto& arguments = environment()->arguments();
    if (std::find(arguments.begin(), arguments.end(), kGWLDebugDeferredDeepLinkArgument) != arguments.end()) {
      url += "&ddl_test=1";
    }
  }
  if (auto signals = engine->consentSignals()) url += "&zcs=" + queryValue(*signals);
  const bool isDMARegion = remoteConfig->isDMARegion();
  url += isDMARegion ? "&dma=1" : "&dma=0";
  if (engine->isAdUserDataDenied()) {
    url += "&dma_cps=-";
  } else if (isDMARegion) {
    const std::set<std::string> services = remoteConfig->corePlatformServices();  // sorted
    std::string joined;
    for (const auto& service : services) joined += service;
    if (!joined.empty()) url += "&dma_cps=" + queryValue(joined);
  }
  if (auto personalization = engine->adPersonalization()) url += *personalization ? "&npa=0" : "&npa=1";
  if (!platform::URL::parse(url)) return std::nullopt;
  return url;
}

void GWLMeasurementDeepLinks::requestDeferredDeepLink() {
  auto engine = this->engine();
  auto scheduler = engine ? engine->scheduler() : nullptr;
  auto network = engine ? engine->network() : nullptr;
  if (!scheduler || !network) return;
  auto url = deferredDeepLinkURL();
  if (!url) {
    monitor()->logWithLevel(kGWLLevelWarning, kGWLDeferredDeepLinkInvalidURLCode,
                            kGWLDeferredDeepLinkInvalidURLMessage);
    return;
  }
  auto remoteConfig = engine->remoteConfig();
  if (!remoteConfig) remoteConfig = GWLRemoteConfig::defaultInstance();
  engine->setIsNetworkRequestPending(true);
  network->setTimeoutInterval(remoteConfig->networkTimeout());
  std::weak_ptr<GWLMeasurementEngine> weakEngine = engine;
  std::weak_ptr<GWLMeasurementDeepLinks> weakSelf = weak_from_this();
  network->getURL(*url, {}, scheduler->workerQueue(), engine->shouldUseBackgroundSession(),
                  [weakEngine, weakSelf](std::shared_ptr<const platform::HTTPURLResponse> response,
                                         std::vector<uint8_t> body, std::optional<platform::Error> error) {
                    auto engine = weakEngine.lock();
                    auto self = weakSelf.lock();
                    if (!engine || !self) return;
                    self->handleDeferredDeepLinkResponse(response ? response->statusCode : 0, body, error);
                  });
}

void GWLMeasurementDeepLinks::handleDeferredDeepLinkResponse(int status, const std::vector<uint8_t>& body,
                                                             const std::optional<platform::Error>& error) {
  auto engine = this->engine();
  if (!engine) return;
  engine->setIsNetworkRequestPending(false);
  auto persistedConfig = engine->persistedConfig();
  const bool answered = !error && (status == platform::kHVUNetworkHTTPStatusOK ||
                                   status == platform::kHVUNetworkHTTPStatusNoContent ||
                                   status == platform::kHVUNetworkHTTPStatusCodeNotModified);
  if (!answered) {
    monitor()->logWithLevel(kGWLLevelErrorSampled, kGWLDeferredDeepLinkFailedCode, kGWLDeferredDeepLinkFailedMessage,
                            status, error ? GWLLogContext(*error) : GWLLogContext());
    if (persistedConfig) persistedConfig->setDeferredDeepLinkRetryCount(persistedConfig->deferredDeepLinkRetryCount() + 1);
    engine->updateSchedule();
    return;
  }
  if (persistedConfig) persistedConfig->setDeferredDeepLinkRetrievalComplete(platform::Object(int64_t{0}));
  auto info = deepLinkInfoFromResponseData(body);
  if (info && !info->empty()) {
    monitor()->logWithLevel(kGWLLevelDebug, kGWLDeferredDeepLinkRetrievedCode, kGWLDeferredDeepLinkRetrievedMessage);
    handleDeferredDeepLinkInfo(*info);
  } else {
    engine->updateSchedule();
  }
}

std::optional<platform::Dictionary> GWLMeasurementDeepLinks::deepLinkInfoFromResponseData(
    std::span<const uint8_t> data) const {
  if (data.empty()) {
    monitor()->logWithLevel(kGWLLevelVerbose, kGWLDeferredDeepLinkEmptyResponseCode,
                            kGWLDeferredDeepLinkEmptyResponseMessage);
    return std::nullopt;
  }
  const nlohmann::json json = nlohmann::json::parse(data.begin(), data.end(), nullptr, /*allow_exceptions=*/false);
  if (json.is_discarded() || !json.is_object()) {
    monitor()->logWithLevel(
        kGWLLevelErrorSampled, kGWLDeferredDeepLinkBadJSONCode, kGWLDeferredDeepLinkBadJSONMessage,
        gwl_errorWithCode(kGWLErrorCodeInvalidArgument, json.is_discarded() ? kAnswerNotJSON : kAnswerNotObject));
    return std::nullopt;
  }
  platform::Object info = objectFromJSON(json, 0);
  const platform::Object* link = info.find(kGWLDeferredDeepLinkKey);
  if (!link || !link->stringValue() || !platform::URLComponents::parse(*link->stringValue())) return std::nullopt;
  return *info.dictionaryValue();
}

void GWLMeasurementDeepLinks::handleDeferredDeepLinkInfo(const platform::Dictionary& info) {
  const auto linkEntry = info.find(kGWLDeferredDeepLinkKey);
  const std::string* link = linkEntry != info.end() ? linkEntry->second.stringValue() : nullptr;
  if (!link || !platform::URLComponents::parse(*link)) return;
  const std::string url = *link;

  platform::Dictionary extraParameters{{"cis", kGWLDeferredDeepLinkCampaignSource}};
  for (const char* key : {kGWLDeferredDeepLinkHclidKey, kGWLDeferredDeepLinkHbraidKey}) {
    auto found = info.find(key);
    if (found != info.end() && !found->second.isNull()) extraParameters[key] = found->second;
  }
  std::optional<platform::Dictionary> launchOptions;
  if (auto timestamp = info.find(kGWLDeferredDeepLinkTimestampKey); timestamp != info.end() && !timestamp->second.isNull()) {
    launchOptions = platform::Dictionary{{kGWLDeferredDeepLinkTimestampKey, timestamp->second}};
  }

  monitor()->logWithLevel(kGWLLevelVerbose, kGWLDeferredDeepLinkSendingCode, kGWLDeferredDeepLinkSendingMessage);
  const double notedTimestamp = clock()->now();
  auto mainQueue = dependencies_.mainQueue ? dependencies_.mainQueue : platform::MainQueue::shared();
  std::weak_ptr<GWLMeasurementDeepLinks> weakSelf = weak_from_this();
  mainQueue->async([weakSelf, url, extraParameters = std::move(extraParameters),
                    launchOptions = std::move(launchOptions), notedTimestamp]() mutable {
    auto self = weakSelf.lock();
    if (!self) return;
    if (!self->sendDeepLinkURLToAppDelegateOnMainThread(url, launchOptions)) {
      self->monitor()->logWithLevel(kGWLLevelWarning, kGWLDeferredDeepLinkNoAppDelegateCode,
                                    kGWLDeferredDeepLinkNoAppDelegateMessage, url);
      return;
    }
    self->scheduleCampaignStep(kDeferredDeepLinkBlockID, url, std::nullopt, notedTimestamp,
                               std::move(extraParameters));
  });
}

bool GWLMeasurementDeepLinks::sendDeepLinkURLToAppDelegateOnMainThread(
    const std::string& url, const std::optional<platform::Dictionary>& extraInfo) {
  const platform::Dictionary options = extraInfo.value_or(platform::Dictionary{});
  if (dependencies_.openURLInAppDelegate) return dependencies_.openURLInAppDelegate(url, options);
  // The app's own delegate, not the proxy: the library's interceptor must
  // not take the link for a URL the user opened.
  auto delegate = platform::HVUAppDelegateSwizzler::sharedInstance()->appDelegate();
  return delegate && delegate->openURL(url, options);
}
