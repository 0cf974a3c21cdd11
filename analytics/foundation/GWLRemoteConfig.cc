#include "analytics/foundation/GWLRemoteConfig.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

#include "analytics/foundation/GWLMeasurementRegistry.h"
#include "analytics/foundation/GWLMonitor.h"

namespace {

constexpr int64_t kCannotParseNumberCode = 29018;
constexpr const char* kCannotParseNumberMessage = "Cannot parse number from non-string";
constexpr int64_t kCannotCacheEmptyValueCode = 29019;
constexpr const char* kCannotCacheEmptyValueMessage = "Cannot cache empty configuration value";
constexpr int64_t kEmptyKeyCode = 29020;
constexpr const char* kEmptyKeyMessage = "Cannot get setting with empty key from cache";

bool isNumber(const platform::Object& object) { return object.isNumber() || object.isBool(); }

long double numberValue(const platform::Object& object) {
  if (auto i = object.intValue()) return static_cast<long double>(*i);
  if (auto d = object.doubleValue()) return static_cast<long double>(*d);
  if (auto b = object.boolValue()) return *b ? 1 : 0;
  return 0;
}

// Truncates toward zero, saturating at the bounds of T; NaN gives 0.
template <typename T>
T truncated(const std::optional<platform::Object>& object) {
  if (!object) return 0;
  if (auto i = object->intValue()) {
    return static_cast<T>(std::clamp<int64_t>(*i, std::numeric_limits<T>::min(), std::numeric_limits<T>::max()));
  }
  long double value = numberValue(*object);
  if (std::isnan(value)) return 0;
  if (value <= static_cast<long double>(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
  if (value >= static_cast<long double>(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
  return static_cast<T>(value);
}

double doubleOf(const std::optional<platform::Object>& object) {
  return object ? static_cast<double>(numberValue(*object)) : 0.0;
}

// A configured time in milliseconds to seconds: the integral milliseconds / 1000.
std::optional<platform::Object> millisecondsToSeconds(const std::optional<platform::Object>& number) {
  if (!number) return std::nullopt;
  return platform::Object(static_cast<double>(truncated<int64_t>(number)) / 1000.0);
}

// A flag value as a switch: booleans as they are, numbers when not zero,
// strings that start (after blanks, a sign and zeros) with Y, T or a digit 1-9.
std::optional<bool> flagAsBool(const std::optional<platform::Object>& flag) {
  if (!flag) return std::nullopt;
  if (auto b = flag->boolValue()) return *b;
  if (isNumber(*flag)) return numberValue(*flag) != 0;
  if (const std::string* text = flag->stringValue()) {
    size_t i = 0;
    while (i < text->size() && std::isspace(static_cast<unsigned char>((*text)[i]))) ++i;
    if (i < text->size() && ((*text)[i] == '+' || (*text)[i] == '-')) ++i;
    while (i < text->size() && (*text)[i] == '0') ++i;
    if (i == text->size()) return false;
    char c = (*text)[i];
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
  }
  return std::nullopt;
}

}  // namespace

std::shared_ptr<GWLRemoteConfig> GWLRemoteConfig::defaultInstance() {
  static const std::shared_ptr<GWLRemoteConfig> instance(new GWLRemoteConfig(true, nullptr, nullptr));
  return instance;
}

GWLRemoteConfig::GWLRemoteConfig(std::shared_ptr<GWLMonitor> monitor,
                                 std::shared_ptr<GWLExperimentFlagSource> experimentFlags)
    : GWLRemoteConfig(false, std::move(monitor), std::move(experimentFlags)) {}

GWLRemoteConfig::GWLRemoteConfig(bool isDefaultInstance, std::shared_ptr<GWLMonitor> monitor,
                                 std::shared_ptr<GWLExperimentFlagSource> experimentFlags)
    : isDefaultInstance_(isDefaultInstance), monitor_(std::move(monitor)), experimentFlags_(std::move(experimentFlags)) {}

std::shared_ptr<GWLMonitor> GWLRemoteConfig::monitor() const {
  return monitor_ ? monitor_ : GWLMeasurementRegistry::monitor();
}

// ---- generic readers ----

std::optional<platform::Object> GWLRemoteConfig::numberFromString(const platform::Object& string) const {
  const std::string* text = string.stringValue();
  if (!text) {
    monitor()->logWithLevel(2, kCannotParseNumberCode, kCannotParseNumberMessage, GWLLogContext(string));
    return std::nullopt;
  }
  // Parsed by hand rather than with the C library's locale-aware functions,
  // so "12.5" reads the same under every locale.
  const char* begin = text->data();
  const char* end = begin + text->size();
  const char* p = begin;
  if (p != end && (*p == '+' || *p == '-')) ++p;
  size_t digits = 0;
  size_t points = 0;
  for (const char* q = p; q != end; ++q) {
    if (*q >= '0' && *q <= '9') {
      ++digits;
    } else if (*q == '.') {
      ++points;
    } else {
      return std::nullopt;
    }
  }
  if (digits == 0 || points > 1) return std::nullopt;
  const char* number = (*begin == '+') ? begin + 1 : begin;
  if (points == 0) {
    int64_t integer = 0;
    auto result = std::from_chars(number, end, integer);
    if (result.ec == std::errc() && result.ptr == end) return platform::Object(integer);
  }
  // from_chars wants a digit before the point; "-.5" and ".5" are fine numbers.
  const bool negative = number != end && *number == '-';
  const char* unsignedPart = negative ? number + 1 : number;
  std::string normalized = negative ? "-" : "";
  if (unsignedPart != end && *unsignedPart == '.') normalized += '0';
  normalized.append(unsignedPart, end);
  double value = 0;
  auto result = std::from_chars(normalized.data(), normalized.data() + normalized.size(), value);
  if (result.ec != std::errc() || result.ptr != normalized.data() + normalized.size()) return std::nullopt;
  return platform::Object(value);
}

std::optional<platform::Object> GWLRemoteConfig::cacheValue(const platform::Object& value,
                                                            const std::string& key) const {
  if (value.isNull() || key.empty()) {
    monitor()->logWithLevel(5, kCannotCacheEmptyValueCode, kCannotCacheEmptyValueMessage);
    return std::nullopt;
  }
  std::lock_guard<std::mutex> lock(cacheMutex_);
  cachedValueByRemoteConfigKeys_[key] = value;
  return value;
}

std::optional<platform::Object> GWLRemoteConfig::cachedValueForKey(const std::string& key) const {
  std::lock_guard<std::mutex> lock(cacheMutex_);
  auto it = cachedValueByRemoteConfigKeys_.find(key);
  if (it == cachedValueByRemoteConfigKeys_.end()) return std::nullopt;
  return it->second;
}

void GWLRemoteConfig::replaceCachedValues(const std::map<std::string, std::string>& settings) {
  if (isDefaultInstance_) return;
  std::map<std::string, platform::Object> cache;
  for (const auto& [key, value] : settings) {
    if (!key.empty()) cache.emplace(key, value);
  }
  std::lock_guard<std::mutex> lock(cacheMutex_);
  cachedValueByRemoteConfigKeys_ = std::move(cache);
}

std::optional<platform::Object> GWLRemoteConfig::numberFromCacheWithKey(
    const std::string& key, const platform::Object& defaultValue, const std::optional<platform::Object>& maxValue,
    const std::optional<platform::Object>& minValue, const Transform& block) const {
  if (key.empty()) {
    monitor()->logWithLevel(7, kEmptyKeyCode, kEmptyKeyMessage);
    return std::nullopt;
  }
  std::optional<platform::Object> entry = cachedValueForKey(key);
  if (!entry) return cacheValue(defaultValue, key);
  if (isNumber(*entry)) return entry;

  std::optional<platform::Object> number = numberFromString(*entry);
  if (block) number = block(number);
  if (!number || !isNumber(*number) || std::isnan(numberValue(*number)) ||
      (minValue && numberValue(*number) < numberValue(*minValue)) ||
      (maxValue && numberValue(*number) > numberValue(*maxValue))) {
    number = defaultValue;
  }
  return cacheValue(*number, key);
}

double GWLRemoteConfig::timeIntervalInSecondsFromCacheWithKey(const std::string& key, double defaultValue,
                                                              double maxValue, double minValue) const {
  return doubleOf(numberFromCacheWithKey(key, defaultValue, platform::Object(maxValue), platform::Object(minValue),
                                         millisecondsToSeconds));
}

int32_t GWLRemoteConfig::intValueFromCacheWithKey(const std::string& key, int32_t defaultValue, int32_t maxValue,
                                                  int32_t minValue) const {
  return truncated<int32_t>(
      numberFromCacheWithKey(key, defaultValue, platform::Object(maxValue), platform::Object(minValue)));
}

int64_t GWLRemoteConfig::int64ValueFromCacheWithKey(const std::string& key, int64_t defaultValue, int64_t maxValue,
                                                    int64_t minValue) const {
  return truncated<int64_t>(
      numberFromCacheWithKey(key, defaultValue, platform::Object(maxValue), platform::Object(minValue)));
}

int64_t GWLRemoteConfig::int64ValueFromCacheWithKey(const std::string& key, int64_t defaultValue) const {
  return truncated<int64_t>(numberFromCacheWithKey(key, defaultValue, std::nullopt, std::nullopt));
}

bool GWLRemoteConfig::boolValueFromCacheWithKey(const std::string& key, bool defaultValue) const {
  return intValueFromCacheWithKey(key, defaultValue ? 1 : 0, 1, 0) == 1;
}

// ---- experiment flags ----

void GWLRemoteConfig::updateCachedExperimentFlags() {
  std::map<std::string, platform::Object> flags;
  if (experimentFlags_) {
    for (const char* name : {kGWLExperimentFlagPSMSessionStartEnabled, kGWLExperimentFlagPSMGroupIDEnabled,
                             kGWLExperimentFlagCustomerTypeEnabled}) {
      if (auto flag = experimentFlags_->experimentFlag(name)) flags.emplace(name, *flag);
    }
  }
  std::lock_guard<std::mutex> lock(flagsMutex_);
  cachedExperimentFlags_ = std::move(flags);
}

std::optional<bool> GWLRemoteConfig::cachedExperimentFlag(const char* name) const {
  std::lock_guard<std::mutex> lock(flagsMutex_);
  auto it = cachedExperimentFlags_.find(name);
  if (it == cachedExperimentFlags_.end()) return std::nullopt;
  return flagAsBool(it->second);
}

// ---- getters that do more than read one setting ----

int32_t GWLRemoteConfig::maxBundlesCreatedPerIteration() const {
  return truncated<int32_t>(
      platform::Object(timeIntervalInSecondsFromCacheWithKey(kGWLSettingMaxBundlesCreatedPerIteration, 100, 10000, 1)));
}

int32_t GWLRemoteConfig::maxInternalEventParameterValueLength() const {
  return std::max(maxPublicEventParameterValueLength(), 256);
}

int32_t GWLRemoteConfig::maxPSMStartCount() const {
  if (monitor()->isDebugModeEnabled()) return 10;
  return intValueFromCacheWithKey(kGWLSettingMaxPSMStartCount, 3, 10, 0);
}

bool GWLRemoteConfig::PSMSessionStartEnabled() const {
  if (auto flag = cachedExperimentFlag(kGWLExperimentFlagPSMSessionStartEnabled)) return *flag;
  return boolValueFromCacheWithKey(kGWLSettingPSMSessionStartEnabled, true);
}

bool GWLRemoteConfig::PSMGroupIDEnabled() const {
  if (auto flag = cachedExperimentFlag(kGWLExperimentFlagPSMGroupIDEnabled)) return *flag;
  return boolValueFromCacheWithKey(kGWLSettingPSMGroupIDEnabled, true);
}

bool GWLRemoteConfig::customerTypeEnabled() const {
  if (auto flag = cachedExperimentFlag(kGWLExperimentFlagCustomerTypeEnabled)) return *flag;
  return boolValueFromCacheWithKey(kGWLSettingCustomerTypeEnabled, true);
}

bool GWLRemoteConfig::sessionStitchingTokenFeatureEnabled() const {
  if (experimentFlags_) {
    if (auto flag = flagAsBool(experimentFlags_->experimentFlag(kGWLExperimentFlagSessionStitchingTokenFeatureEnabled))) {
      return *flag;
    }
  }
  return boolValueFromCacheWithKey(kGWLSettingSessionStitchingTokenFeatureEnabled, false);
}

// ---- settings read as they stand ----

double GWLRemoteConfig::uploadingBackoffInterval() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingUploadingBackoffInterval, 43200, 604800, 3600);
}

int32_t GWLRemoteConfig::maxAudienceCount() const {
  return intValueFromCacheWithKey(kGWLSettingMaxAudienceCount, 100, 500, 0);
}

int32_t GWLRemoteConfig::maxFiltersPerAudience() const {
  return intValueFromCacheWithKey(kGWLSettingMaxFiltersPerAudience, 10, 100, 0);
}

int32_t GWLRemoteConfig::maxFilterResultCount() const {
  return intValueFromCacheWithKey(kGWLSettingMaxFilterResultCount, 200, 2000, 0);
}

int32_t GWLRemoteConfig::maxParametersPerFilter() const {
  return intValueFromCacheWithKey(kGWLSettingMaxParametersPerFilter, 25, 250, 0);
}

double GWLRemoteConfig::databaseDeleteStaleBundlesInterval() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingDatabaseDeleteStaleBundlesInterval, 86400, 604800, 3600);
}

double GWLRemoteConfig::maxQueueTime() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingMaxQueueTime, 2419200, 7862400, 604800);
}

double GWLRemoteConfig::adIDCacheTime() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingAdIDCacheTime, 1, 86400, 0);
}

bool GWLRemoteConfig::gateIDFAOnATTMASEnabled() const {
  return boolValueFromCacheWithKey(kGWLSettingGateIDFAOnATTMASEnabled, false);
}

double GWLRemoteConfig::monitoringSamplePeriod() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingMonitoringSamplePeriod, 86400, 604800, 0);
}

bool GWLRemoteConfig::isNetworkBackgroundSessionEnabled() const {
  return boolValueFromCacheWithKey(kGWLSettingIsNetworkBackgroundSessionEnabled, false);
}

double GWLRemoteConfig::networkTimeout() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingNetworkTimeout, 60, 3600, 30);
}

double GWLRemoteConfig::sessionDefaultTimeoutInterval() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingSessionDefaultTimeoutInterval, 1800, 86400, 0);
}

double GWLRemoteConfig::sessionEventUserEngagementInterval() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingSessionEventUserEngagementInterval, 3600, 86400, 0);
}

bool GWLRemoteConfig::efficientEngagementReportingEnabled() const {
  return boolValueFromCacheWithKey(kGWLSettingEfficientEngagementReportingEnabled, false);
}

bool GWLRemoteConfig::redundantEngagementRemovalEnabled() const {
  return boolValueFromCacheWithKey(kGWLSettingRedundantEngagementRemovalEnabled, false);
}

int32_t GWLRemoteConfig::maxConversionsPerDay() const {
  return intValueFromCacheWithKey(kGWLSettingMaxConversionsPerDay, 10000, 1000000, 0);
}

int32_t GWLRemoteConfig::maxEventsPerDay() const {
  return intValueFromCacheWithKey(kGWLSettingMaxEventsPerDay, 100000, 1000000, 0);
}

int32_t GWLRemoteConfig::maxPublicEventsPerDay() const {
  return intValueFromCacheWithKey(kGWLSettingMaxPublicEventsPerDay, 50000, 1000000, 0);
}

int32_t GWLRemoteConfig::maxErrorEventsPerDay() const {
  return intValueFromCacheWithKey(kGWLSettingMaxErrorEventsPerDay, 1000, 1000000, 0);
}

int32_t GWLRemoteConfig::maxTrackedCurrencies() const {
  return intValueFromCacheWithKey(kGWLSettingMaxTrackedCurrencies, 4, 100, 1);
}

int32_t GWLRemoteConfig::maxPublicUserProperties() const {
  return intValueFromCacheWithKey(kGWLSettingMaxPublicUserProperties, 100, 100, 25);
}

int32_t GWLRemoteConfig::maxEventNameCardinality() const {
  return intValueFromCacheWithKey(kGWLSettingMaxEventNameCardinality, 2000, 2000, 500);
}

int32_t GWLRemoteConfig::maxPublicEventParams() const {
  return intValueFromCacheWithKey(kGWLSettingMaxPublicEventParams, 100, 100, 25);
}

int32_t GWLRemoteConfig::maxEventsStored() const {
  return intValueFromCacheWithKey(kGWLSettingMaxEventsStored, 100000, 1000000, 0);
}

double GWLRemoteConfig::uploadingInterval() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingUploadingInterval, 3600, 86400, 15);
}

double GWLRemoteConfig::uploadingInitialDelayInterval() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingUploadingInitialDelayInterval, 15, 86400, 1);
}

int64_t GWLRemoteConfig::uploadMaxBundlesLimit() const {
  return int64ValueFromCacheWithKey(kGWLSettingUploadMaxBundlesLimit, 100, 10000, 1);
}

int64_t GWLRemoteConfig::uploadMaxEventsPerBundle() const {
  return int64ValueFromCacheWithKey(kGWLSettingUploadMaxEventsPerBundle, 1000, 1000000, 1);
}

int64_t GWLRemoteConfig::uploadMaxSizeLimitBytes() const {
  return int64ValueFromCacheWithKey(kGWLSettingUploadMaxSizeLimitBytes, 65536, 10485760, 0);
}

int32_t GWLRemoteConfig::uploadingRetryCount() const {
  return intValueFromCacheWithKey(kGWLSettingUploadingRetryCount, 6, 24, 1);
}

double GWLRemoteConfig::uploadingRetryInterval() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingUploadingRetryInterval, 1800, 86400, 60);
}

int32_t GWLRemoteConfig::maxRealtimeEventCountPerDay() const {
  return intValueFromCacheWithKey(kGWLSettingMaxRealtimeEventCountPerDay, 10, 10, 0);
}

double GWLRemoteConfig::uploadingDebugModeInterval() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingUploadingDebugModeInterval, 1, 15, 1);
}

double GWLRemoteConfig::uploadingRealTimeInterval() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingUploadingRealTimeInterval, 10, 15, 10);
}

bool GWLRemoteConfig::blocklistInternal() const {
  return boolValueFromCacheWithKey(kGWLSettingBlocklistInternal, false);
}

bool GWLRemoteConfig::blocklistPublic() const {
  return boolValueFromCacheWithKey(kGWLSettingBlocklistPublic, false);
}

bool GWLRemoteConfig::isEventSamplingEnabled() const {
  return boolValueFromCacheWithKey(kGWLSettingIsEventSamplingEnabled, false);
}

int32_t GWLRemoteConfig::analyticsAccountTimeZoneOffsetMinutes() const {
  return intValueFromCacheWithKey(kGWLSettingAnalyticsAccountTimeZoneOffsetMinutes, 0, 900, -900);
}

bool GWLRemoteConfig::checksumEnabled() const {
  return boolValueFromCacheWithKey(kGWLSettingChecksumEnabled, false);
}

bool GWLRemoteConfig::appInBackgroundParameterEnabled() const {
  return boolValueFromCacheWithKey(kGWLSettingAppInBackgroundParameterEnabled, true);
}

int32_t GWLRemoteConfig::maxItemScopedCustomParameters() const {
  return intValueFromCacheWithKey(kGWLSettingMaxItemScopedCustomParameters, 27, 35, 10);
}

int32_t GWLRemoteConfig::maxPublicEventParameterValueLength() const {
  return intValueFromCacheWithKey(kGWLSettingMaxPublicEventParameterValueLength, 500, 500, 100);
}

int32_t GWLRemoteConfig::maxRealtimeDCUEventCountPerDay() const {
  return intValueFromCacheWithKey(kGWLSettingMaxRealtimeDCUEventCountPerDay, 1, 10, 0);
}

int32_t GWLRemoteConfig::maxPSMRetryCount() const {
  return intValueFromCacheWithKey(kGWLSettingMaxPSMRetryCount, 5, 10, 0);
}

double GWLRemoteConfig::PSMRetryInterval() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingPSMRetryInterval, 300, 1800, 30);
}

int32_t GWLRemoteConfig::hashPrefixBitLengthEmail() const {
  return intValueFromCacheWithKey(kGWLSettingHashPrefixBitLengthEmail, 14, 20, 6);
}

int32_t GWLRemoteConfig::hashPrefixBitLengthPhone() const {
  return intValueFromCacheWithKey(kGWLSettingHashPrefixBitLengthPhone, 11, 18, 6);
}

int32_t GWLRemoteConfig::maxSignInDelayInDays() const {
  return intValueFromCacheWithKey(kGWLSettingMaxSignInDelayInDays, 60, 90, 7);
}

int32_t GWLRemoteConfig::PSMSessionStartHashPrefixBitLengthEmail() const {
  return intValueFromCacheWithKey(kGWLSettingPSMSessionStartHashPrefixBitLengthEmail, 13, 20, 6);
}

int32_t GWLRemoteConfig::PSMSessionStartHashPrefixBitLengthPhone() const {
  return intValueFromCacheWithKey(kGWLSettingPSMSessionStartHashPrefixBitLengthPhone, 11, 18, 6);
}

int32_t GWLRemoteConfig::PSMGroupIDHashPrefixBitLengthEmail() const {
  return intValueFromCacheWithKey(kGWLSettingPSMGroupIDHashPrefixBitLengthEmail, 22, 30, 6);
}

bool GWLRemoteConfig::adsOnDeviceConversionFeatureEnabled() const {
  return boolValueFromCacheWithKey(kGWLSettingAdsOnDeviceConversionFeatureEnabled, false);
}

bool GWLRemoteConfig::isDeferredDeepLinkEnabled() const {
  return boolValueFromCacheWithKey(kGWLSettingIsDeferredDeepLinkEnabled, true);
}

int32_t GWLRemoteConfig::maxDeferredDeepLinkRetryCount() const {
  return intValueFromCacheWithKey(kGWLSettingMaxDeferredDeepLinkRetryCount, 5, 10, 0);
}

double GWLRemoteConfig::attributionCacheTTLInterval() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingAttributionCacheTTLInterval, 604800, 2592000, 86400);
}

double GWLRemoteConfig::remoteConfigCacheTimeInterval() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingRemoteConfigCacheTimeInterval, 3600, 86400, 60);
}

bool GWLRemoteConfig::SKANUpdateConversionValueEnabled() const {
  return boolValueFromCacheWithKey(kGWLSettingSKANUpdateConversionValueEnabled, false);
}

double GWLRemoteConfig::SKANInitialCVFetchDelay() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingSKANInitialCVFetchDelay, 120, 3600, 30);
}

double GWLRemoteConfig::SKANCVFetchRetryInterval() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingSKANCVFetchRetryInterval, 120, 3600, 30);
}

int32_t GWLRemoteConfig::SKANCVFetchRetryLimit() const {
  return intValueFromCacheWithKey(kGWLSettingSKANCVFetchRetryLimit, 4, 10, 1);
}

double GWLRemoteConfig::SKANFirstWindowCVFetchDelay() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingSKANFirstWindowCVFetchDelay, 20, 3600, 1);
}

double GWLRemoteConfig::SKANFirstWindowCVFetchRetryInterval() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingSKANFirstWindowCVFetchRetryInterval, 120, 3600, 30);
}

int32_t GWLRemoteConfig::SKANFirstWindowCVFetchRetryLimit() const {
  return intValueFromCacheWithKey(kGWLSettingSKANFirstWindowCVFetchRetryLimit, 4, 10, 1);
}

double GWLRemoteConfig::SKANFirstWindowUploadInterval() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingSKANFirstWindowUploadInterval, 1800, 86400, 15);
}
