// The opened and stored links, the campaign step and the server-side tagging
// switch; the deferred deep link is in GWLMeasurementDeepLinksDeferred.cc.
#include "analytics/attribution/GWLMeasurementDeepLinks.h"

#include <algorithm>
#include <charconv>
#include <utility>
#include <vector>

#include "analytics/attribution/GWLCampaignTables.h"
#include "analytics/attribution/GWLSVTPPreviewHeaders.h"
#include "analytics/attribution/GWLStoredDeepLink.h"
#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLDictionaryQuery.h"
#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMilliseconds.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "analytics/foundation/core/GWLUserDefaults.h"
#include "analytics/foundation/values/GWLEvent.h"
#include "analytics/foundation/values/GWLLogTexts.h"
#include "analytics/wire/GWLPBAdCampaignInfo.h"
#include "analytics/wire/GWLPBDeepLinkVrtParamsEntry.h"
#include "platform/appdelegate/LaunchOptions.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/env/AppEnvironment.h"
#include "platform/net/URL.h"

namespace {

constexpr const char* kCampaignStepMethodName =
    "handleOpenURLOnWorkerQueue:clickTimestampInMs:eventTimestampInSeconds:extraParameters:";
constexpr const char* kStoredCampaignMethodName = "reportStoredCampaignEventWithClickTimestampInMillisOnWorkerQueue:";
constexpr const char* kOpenedURLBlockID = "GWLMeasurement:549";
constexpr int64_t kTrackingAuthorized = 3;
// Web-browsing activities came with this system version.
constexpr int64_t kFirstSystemWithDeepLinks = 9;
constexpr const char* kQueryKeyUTMSource = "utm_source";
constexpr const char* kQueryKeyUTMMedium = "utm_medium";
constexpr const char* kQueryKeyHclid = "hclid";
constexpr const char* kQueryKeyHbraid = "hbraid";
constexpr const char* kQueryKeyVrtSource = "vrt_source";

bool startsWithVrtPrefix(std::string_view key) {
  return key.substr(0, kGWLVrtParameterPrefix.size()) == kGWLVrtParameterPrefix;
}

// A number's text as a number object would give it ("42", "1.5"; a boolean as
// "1" or "0"); a string as it is; nothing for other values.
std::optional<std::string> textOfValue(const platform::Object& value) {
  if (const std::string* text = value.stringValue()) return *text;
  if (auto flag = value.boolValue()) return std::string(*flag ? "1" : "0");
  if (auto integer = value.intValue()) return std::to_string(*integer);
  if (auto number = value.doubleValue()) {
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, *number);
    if (result.ec == std::errc()) return std::string(buffer, result.ptr);
  }
  return std::nullopt;
}

bool isNumberOne(const platform::Object& value) {
  if (auto flag = value.boolValue()) return *flag;
  if (auto number = value.numberValue()) return *number == 1;
  return false;
}

// The integer value of a version text: its leading decimal digits (0 for none).
int64_t leadingInteger(const std::string& text) {
  int64_t value = 0;
  auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return result.ec == std::errc() ? value : 0;
}

// The query of a URL's text, or the empty string when the text is no URL.
std::string queryOfURL(const std::string& url) {
  auto components = platform::URLComponents::parse(url);
  return components && components->query ? *components->query : std::string();
}

}  // namespace

std::shared_ptr<GWLMeasurementDeepLinks> GWLMeasurementDeepLinks::create(Dependencies dependencies) {
  return std::shared_ptr<GWLMeasurementDeepLinks>(new GWLMeasurementDeepLinks(std::move(dependencies)));
}

std::shared_ptr<GWLMeasurementEngine> GWLMeasurementDeepLinks::engine() const {
  return dependencies_.engine ? dependencies_.engine() : GWLMeasurementRegistry::sharedInstance();
}

std::shared_ptr<GWLMonitor> GWLMeasurementDeepLinks::monitor() const {
  return dependencies_.monitor ? dependencies_.monitor : GWLLibraryMonitor::monitor();
}

std::shared_ptr<GWLUserDefaults> GWLMeasurementDeepLinks::userDefaults() const {
  return dependencies_.userDefaults ? dependencies_.userDefaults : GWLUserDefaults::sharedUserDefaults();
}

std::shared_ptr<platform::Clock> GWLMeasurementDeepLinks::clock() const {
  return dependencies_.clock ? dependencies_.clock : platform::Clock::system();
}

std::shared_ptr<platform::AppEnvironment> GWLMeasurementDeepLinks::environment() const {
  return dependencies_.environment ? dependencies_.environment : platform::AppEnvironment::shared();
}

// ---- opened URLs ----

std::optional<std::string> GWLMeasurementDeepLinks::deepLinkFromUserActivity(
    const std::optional<platform::UserActivity>& activity) {
  if (!activity) {
    monitor()->logWithLevel(kGWLLevelDebug, kGWLEmptyUserActivityCode, kGWLEmptyUserActivityMessage, nullptr);
    return std::nullopt;
  }
  if (leadingInteger(environment()->systemVersion()) < kFirstSystemWithDeepLinks) {
    monitor()->logWithLevel(kGWLLevelWarning, kGWLDeepLinkNeedsNewerSystemCode, kGWLDeepLinkNeedsNewerSystemMessage);
    return std::nullopt;
  }
  if (dependencies_.isUserActivitySupported && !dependencies_.isUserActivitySupported()) {
    monitor()->logWithLevel(kGWLLevelWarning, kGWLUserActivityUnsupportedCode, kGWLUserActivityUnsupportedMessage);
    return std::nullopt;
  }
  if (activity->activityType == platform::kUserActivityTypeBrowsingWeb && activity->webpageURL &&
      !activity->webpageURL->empty()) {
    return activity->webpageURL;
  }
  monitor()->logWithLevel(kGWLLevelWarning, kGWLUserActivityWithoutDeepLinkCode, kGWLUserActivityWithoutDeepLinkMessage,
                          GWLDescriptionForLog(platform::Object(activity->dictionary())));
  return std::nullopt;
}

void GWLMeasurementDeepLinks::handleNonFirstOpenEventURL(const std::string& url, double eventTimestampInSeconds) {
  handleNonFirstOpenEventURL(url, eventTimestampInSeconds, std::nullopt);
}

void GWLMeasurementDeepLinks::handleNonFirstOpenEventURL(const std::string& url, double eventTimestampInSeconds,
                                                         const std::optional<std::string>& referrerURL) {
  auto engine = this->engine();
  if (!engine) return;
  if (auto scheduler = engine->scheduler(); scheduler && scheduler->workerQueue()->isCurrent()) {
    monitor()->logWithLevel(kGWLLevelErrorSilent, kGWLOpenURLOnWorkerQueueCode, kGWLOpenURLOnWorkerQueueMessage);
    return;
  }
  handleOpenURL(url, std::nullopt, eventTimestampInSeconds, referrerURL);
}

void GWLMeasurementDeepLinks::handleOpenURL(const std::string& url, std::optional<int64_t> clickTimestampInMs,
                                            double eventTimestampInSeconds,
                                            const std::optional<std::string>& referrerURL) {
  if (url.empty()) return;
  handleDebugModeWithURL(url);
  handleDeepLink(url, clickTimestampInMs, eventTimestampInSeconds, referrerURL);
}

void GWLMeasurementDeepLinks::handleDeepLink(const std::string& url, std::optional<int64_t> clickTimestampInMs,
                                             double eventTimestampInSeconds) {
  handleDeepLink(url, clickTimestampInMs, eventTimestampInSeconds, std::nullopt);
}

void GWLMeasurementDeepLinks::handleDeepLink(const std::string& url, std::optional<int64_t> clickTimestampInMs,
                                             double eventTimestampInSeconds,
                                             const std::optional<std::string>& referrerURL) {
  platform::Dictionary extraParameters;
  if (referrerURL && !referrerURL->empty()) extraParameters[kGWLReferrerParameter] = *referrerURL;
  scheduleCampaignStep(kOpenedURLBlockID, url, clickTimestampInMs, eventTimestampInSeconds,
                       std::move(extraParameters));
}

void GWLMeasurementDeepLinks::handleDebugModeWithURL(const std::string& /*url*/) {}

void GWLMeasurementDeepLinks::scheduleCampaignStep(const char* blockID, std::optional<std::string> url,
                                                   std::optional<int64_t> clickTimestampInMs,
                                                   double eventTimestampInSeconds,
                                                   platform::Dictionary extraParameters) {
  auto engine = this->engine();
  auto scheduler = engine ? engine->scheduler() : nullptr;
  if (!scheduler) return;
  std::weak_ptr<GWLMeasurementEngine> weakEngine = engine;
  std::weak_ptr<GWLMeasurementDeepLinks> weakSelf = weak_from_this();
  scheduler->scheduleOnWorkerQueueBlockID(
      blockID, [weakEngine, weakSelf, url = std::move(url), clickTimestampInMs, eventTimestampInSeconds,
                extraParameters = std::move(extraParameters)] {
        auto engine = weakEngine.lock();
        auto self = weakSelf.lock();
        if (!engine || !self) return;
        self->handleOpenURLOnWorkerQueue(url, clickTimestampInMs, eventTimestampInSeconds, extraParameters);
      });
}

// ---- the campaign step ----

bool GWLMeasurementDeepLinks::isValidCampaignURLParamDictionary(const std::map<std::string, std::string>& parameters) {
  for (std::string_view key : kGWLRequiredCampaignKeys) {
    auto found = parameters.find(std::string(key));
    if (found != parameters.end() && !found->second.empty()) return true;
  }
  return std::any_of(parameters.begin(), parameters.end(),
                     [](const auto& parameter) { return startsWithVrtPrefix(parameter.first); });
}

bool GWLMeasurementDeepLinks::shouldAllowClickID() const {
  auto engine = this->engine();
  if (!engine) return false;
  if (!engine->iOS14OrAbove()) return true;
  if (auto identifier = engine->resettableDeviceID(); identifier && !identifier->empty()) return true;
  return engine->appleConsentStatus() == kTrackingAuthorized;
}

void GWLMeasurementDeepLinks::handleOpenURLOnWorkerQueue(const std::optional<std::string>& url,
                                                         std::optional<int64_t> clickTimestampInMs,
                                                         double eventTimestampInSeconds,
                                                         const platform::Dictionary& extraParameters) {
  GWLScheduler::checkOnBackgroundThreadWithMethodName(kCampaignStepMethodName);
  auto engine = this->engine();
  if (!engine) return;

  // 1. Extras: strings join the query's parameters, numbers join the event.
  std::map<std::string, std::string> urlParameters;
  platform::Dictionary numberExtras;
  for (const auto& [key, value] : extraParameters) {
    if (const std::string* text = value.stringValue()) {
      urlParameters[key] = *text;
    } else if (value.isNumberOrBool()) {
      numberExtras[key] = value;
    }
  }
  const auto referrer = urlParameters.find(kGWLReferrerParameter);
  const std::string referrerText = referrer != urlParameters.end() ? referrer->second : std::string();

  // 2. The query's pairs, each replacing an extra of the same name.
  if (url) {
    for (auto& [key, value] : gwl_dictionaryWithHttpArgumentsString(queryOfURL(*url))) {
      urlParameters[key] = std::move(value);
    }
  }

  // 3-4. A campaign or nothing.
  if (urlParameters.empty()) {
    monitor()->logWithLevel(kGWLLevelDebug, kGWLDeepLinkQueryEmptyCode, kGWLDeepLinkQueryEmptyMessage);
    return;
  }
  if (!isValidCampaignURLParamDictionary(urlParameters)) {
    platform::Dictionary shown;
    for (const auto& [key, value] : urlParameters) shown[key] = value;
    monitor()->logWithLevel(kGWLLevelWarning, kGWLDeepLinkNotCampaignCode, kGWLDeepLinkNotCampaignMessage,
                            GWLDescriptionForLog(platform::Object(std::move(shown))));
    return;
  }

  // 5-7. The campaign parameters under their event names.
  platform::Dictionary campaign;
  for (const auto& [key, value] : urlParameters) {
    if (value.empty()) continue;
    if (auto name = GWLCampaignEventParameterName(key)) campaign[*name] = value;
  }
  if (!shouldAllowClickID()) {
    for (std::string_view identifier : kGWLClickIDsNeedingAdIdentifierConsent) campaign.erase(std::string(identifier));
  }
  for (const auto& [key, value] : numberExtras) campaign[key] = value;
  if (clickTimestampInMs) campaign[kGWLClickTimestampParameter] = *clickTimestampInMs;

  // 8-10. Name, origin and time.
  const auto coarseClick = campaign.find(kGWLCoarseClickParameter);
  const char* name = coarseClick != campaign.end() && isNumberOne(coarseClick->second) ? kGWLExpiredCampaignEventName
                                                                                       : kGWLCampaignEventName;
  const char* origin = kGWLCampaignOriginAuto;
  if (!referrerText.empty()) {
    auto components = platform::URLComponents::parse(referrerText);
    if (components && components->host && GWLIsSearchEngineHost(*components->host)) origin = kGWLCampaignOriginSearch;
  }
  auto persistedConfig = engine->persistedConfig();
  double eventTimestamp = eventTimestampInSeconds;
  if (persistedConfig) {
    const double firstOpen = static_cast<double>(persistedConfig->firstOpenTimestampMilliseconds()) / 1000;
    if (firstOpen > eventTimestamp) eventTimestamp = firstOpen;
  }

  // 11-12. The ad click details, kept whole for the uploads.
  std::vector<std::shared_ptr<GWLPBDeepLinkVrtParamsEntry>> entries;
  for (const auto& [key, value] : campaign) {
    if (!startsWithVrtPrefix(key)) continue;
    auto entry = GWLPBDeepLinkVrtParamsEntry::initWithMessageInfo();
    entry->setKey(key);
    if (auto text = textOfValue(value)) entry->setValue(*text);
    if (entry->hasValue()) entries.push_back(std::move(entry));
  }
  auto textOf = [&campaign](const char* key) -> std::optional<std::string> {
    auto found = campaign.find(key);
    return found == campaign.end() ? std::nullopt : textOfValue(found->second);
  };
  const auto hclid = textOf(kQueryKeyHclid);
  const auto hbraid = textOf(kQueryKeyHbraid);
  if (hclid || hbraid || !entries.empty()) {
    auto info = GWLPBAdCampaignInfo::initWithMessageInfo();
    info->setCampaignTimestamp(GWLMillisecondsFromSeconds(eventTimestamp));
    if (hclid) info->setHclid(*hclid);
    if (hbraid) info->setHbraid(*hbraid);
    if (auto vrtSource = textOf(kQueryKeyVrtSource)) info->setVrtSource(*vrtSource);
    if (!entries.empty()) info->setDeepLinkVrtParams(entries);
    auto bytes = info->protoBuffer();
    if (bytes && persistedConfig) persistedConfig->setAdCampaignInfoBuffer(platform::Object(std::move(*bytes)));
  }

  // 13. The event.
  auto remoteConfig = engine->remoteConfig();
  const GWLValueLimits limits = remoteConfig ? remoteConfig->valueLimits() : GWLValueLimits{};
  auto event = GWLEvent::initWithOrigin(std::string(origin), false, std::string(name), eventTimestamp, 0, campaign,
                                        limits);
  if (event) engine->handleInternalEventOnWorkerQueue(event);
}

// ---- the stored launch link ----

bool GWLMeasurementDeepLinks::hasStoredDeepLink() {
  return userDefaults()->objectForKey(kGWLStoredDeepLinkKey).has_value();
}

void GWLMeasurementDeepLinks::reportStoredCampaignEventOnWorkerQueue(std::optional<int64_t> clickTimestampInMs) {
  GWLScheduler::checkOnBackgroundThreadWithMethodName(kStoredCampaignMethodName);
  auto engine = this->engine();
  if (!engine) return;
  auto defaults = userDefaults();
  auto link = defaults->stringForKey(kGWLStoredDeepLinkKey);
  if (!link || link->empty()) return;
  auto storedNumber = defaults->numberForKey(kGWLStoredDeepLinkTimestampKey);
  const double storedTimestamp = storedNumber ? storedNumber->numberValue().value_or(0) : 0;

  auto remoteConfig = engine->remoteConfig();
  if (!remoteConfig) remoteConfig = GWLRemoteConfig::defaultInstance();
  platform::Dictionary extraParameters;
  std::string linkText = *link;
  if (GWLIsStoredDeepLinkOlderThan(*defaults, remoteConfig->attributionCacheTTLInterval(), *clock())) {
    extraParameters[kQueryKeyUTMSource] = kGWLNotSetValue;
    extraParameters[kQueryKeyUTMMedium] = kGWLNotSetValue;
    extraParameters[kGWLCoarseClickParameter] = int64_t{1};
    linkText = kGWLNotSetValue;
  } else {
    extraParameters[kGWLCoarseClickParameter] =
        GWLCoarseClickTimestampMillis(GWLMillisecondsFromSeconds(storedTimestamp));
    if (auto referrer = defaults->stringForKey(kGWLStoredDeepLinkReferrerKey); referrer && !referrer->empty()) {
      extraParameters[kGWLReferrerParameter] = *referrer;
    }
  }
  GWLClearStoredDeepLink(*defaults);
  handleOpenURLOnWorkerQueue(linkText, clickTimestampInMs, storedTimestamp, extraParameters);
}

bool GWLMeasurementDeepLinks::clearExpiredStoredDeepLink(const GWLRemoteConfig& remoteConfig) {
  return GWLClearExpiredStoredDeepLink(remoteConfig, *userDefaults(), *clock());
}

void GWLMeasurementDeepLinks::handleStoredURLAfterAppLaunchWithNotification(
    const platform::Notification& notification) {
  const platform::Dictionary& options = notification.userInfo;
  auto defaults = userDefaults();
  bool stored = false;
  const auto activities = options.find(platform::kLaunchOptionsUserActivityDictionaryKey);
  const platform::Dictionary* activityOptions =
      activities != options.end() ? activities->second.dictionaryValue() : nullptr;
  if (activityOptions && !activityOptions->empty()) {
    const auto entry = activityOptions->find(platform::kLaunchOptionsUserActivityKey);
    auto activity = entry != activityOptions->end() ? platform::UserActivity::fromObject(entry->second) : std::nullopt;
    if (activity) {
      if (auto link = deepLinkFromUserActivity(activity); link && !link->empty()) {
        GWLStoreDeepLink(*defaults, *link, activity->referrerURL, *clock());
        stored = true;
      }
    }
  }
  const auto url = options.find(platform::kLaunchOptionsURLKey);
  const std::string* urlText = url != options.end() ? url->second.stringValue() : nullptr;
  if (urlText && !urlText->empty()) {
    if (!stored) GWLStoreDeepLink(*defaults, *urlText, std::nullopt, *clock());
    handleSVTPDebugModeWithURL(*urlText);
  }
}

// ---- the server-side tagging debug switch ----

void GWLMeasurementDeepLinks::handleSVTPDebugModeWithURL(const std::string& url) {
  const auto arguments = gwl_dictionaryWithHttpArgumentsString(queryOfURL(url));
  if (arguments.empty()) return;
  const auto enable = arguments.find(kGWLSVTPDebugEnableArgument);
  if (enable == arguments.end()) return;
  if (enable->second == "1") {
    monitor()->setSVTPDebugModeEnabled(true);
    const auto key = arguments.find(kGWLSVTPPreviewKeyArgument);
    if (key == arguments.end() || key->second.empty()) {
      GWLSVTPPreviewHeaders::replace(nullptr);
    } else if (!GWLSVTPPreviewHeaders::isValidPreviewKey(key->second)) {
      monitor()->logWithLevel(kGWLLevelWarning, kGWLSVTPPreviewKeyRefusedCode, kGWLSVTPPreviewKeyRefusedMessage);
      GWLSVTPPreviewHeaders::replace(nullptr);
    } else {
      GWLSVTPPreviewHeaders::replace(
          std::make_shared<const Headers>(Headers{{kGWLSVTPPreviewHeader, key->second}}));
    }
  } else if (enable->second == "0") {
    monitor()->setSVTPDebugModeEnabled(false);
    GWLSVTPPreviewHeaders::replace(nullptr);
  }
}

std::optional<GWLDeepLinkHooks::Headers> GWLMeasurementDeepLinks::SVTPPreviewHeaders() {
  auto headers = GWLSVTPPreviewHeaders::current();
  if (!headers) return std::nullopt;
  return *headers;
}
