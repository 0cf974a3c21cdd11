#include "analytics/foundation/config/GWLRemoteConfig.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

#include "analytics/foundation/config/GWLConsentNames.h"
#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/config/GWLRemoteConfigStore.h"
#include "analytics/foundation/config/GWLServerStrings.h"
#include "analytics/foundation/core/GWLDictionaryQuery.h"
#include "analytics/foundation/core/GWLError.h"
#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/core/GWLPlatformIdentitySupport.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "analytics/foundation/values/GWLNameTables.h"
#include "analytics/wire/GWLPBConsentConfig.h"
#include "analytics/wire/GWLPBConsentDefaultEntry.h"
#include "analytics/wire/GWLPBConsentDelegationEntry.h"
#include "analytics/wire/GWLPBCorePlatformServiceEntry.h"
#include "analytics/wire/GWLPBDataControl.h"
#include "analytics/wire/GWLPBEventConfig.h"
#include "analytics/wire/GWLPBMeasurementConfig.h"
#include "analytics/wire/GWLPBProgram.h"
#include "analytics/wire/GWLPBPsmSetting.h"
#include "analytics/wire/GWLPBSetting.h"
#include "analytics/wire/GWLPBSvtpSetting.h"
#include "analytics/wire/NANO.h"
#include "platform/dispatch/Clock.h"
#include "platform/env/AppEnvironment.h"
#include "platform/text/PercentEncoding.h"

namespace {

constexpr int64_t kCannotParseNumberCode = 29018;
constexpr const char* kCannotParseNumberMessage = "Cannot parse number from non-string";
constexpr int64_t kCannotCacheEmptyValueCode = 29019;
constexpr const char* kCannotCacheEmptyValueMessage = "Cannot cache empty configuration value";
constexpr int64_t kEmptyKeyCode = 29020;
constexpr const char* kEmptyKeyMessage = "Cannot get setting with empty key from cache";

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
  if (flag->isNumberOrBool()) return numberValue(*flag) != 0;
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
    : isDefaultInstance_(isDefaultInstance),
      monitor_(std::move(monitor)),
      experimentFlags_(std::move(experimentFlags)),
      hosts_(GWLServiceHosts::forProcess()) {}

GWLRemoteConfig::GWLRemoteConfig(std::string appID, std::weak_ptr<GWLRemoteConfigStore> database,
                                 std::shared_ptr<GWLPersistedConfig> persistedConfig, Dependencies dependencies)
    : isDefaultInstance_(appID.empty() && database.expired()),
      monitor_(dependencies.monitor),
      experimentFlags_(dependencies.experimentFlags),
      appID_(std::move(appID)),
      database_(std::move(database)),
      persistedConfig_(std::move(persistedConfig)),
      dependencies_(std::move(dependencies)),
      hosts_(dependencies_.hosts ? *dependencies_.hosts : GWLServiceHosts::forProcess()) {}

std::shared_ptr<GWLMonitor> GWLRemoteConfig::monitor() const {
  return monitor_ ? monitor_ : GWLLibraryMonitor::monitor();
}

// ---- generic readers ----

std::optional<platform::Object> GWLRemoteConfig::numberFromString(const platform::Object& string) const {
  const std::string* text = string.stringValue();
  if (!text) {
    monitor()->logWithLevel(kGWLLevelErrorSilent, kCannotParseNumberCode, kCannotParseNumberMessage,
                            GWLLogContext(string));
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

// ---- the snapshot ----

std::optional<platform::Object> GWLRemoteConfig::SettingsCache::valueForKey(const std::string& key) const {
  platform::MutexLock lock(mutex_);
  auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

void GWLRemoteConfig::SettingsCache::setValue(const std::string& key, const platform::Object& value) {
  platform::MutexLock lock(mutex_);
  values_[key] = value;
}

std::shared_ptr<const GWLRemoteConfig::Snapshot> GWLRemoteConfig::snapshot() const {
  platform::MutexLock lock(snapshotMutex_);
  return snapshot_;
}

void GWLRemoteConfig::restoreSnapshot(std::shared_ptr<const Snapshot> snapshot) {
  if (!snapshot) return;
  platform::MutexLock building(publishMutex_);
  platform::MutexLock lock(snapshotMutex_);
  snapshot_ = std::move(snapshot);
}

void GWLRemoteConfig::publish(const std::function<void(Snapshot& next)>& change) {
  platform::MutexLock building(publishMutex_);
  auto next = std::make_shared<Snapshot>(*snapshot());
  change(*next);
  platform::MutexLock lock(snapshotMutex_);
  snapshot_ = std::move(next);
}

std::optional<platform::Object> GWLRemoteConfig::cacheValue(SettingsCache& settings, const platform::Object& value,
                                                            const std::string& key) const {
  if (value.isNull() || key.empty()) {
    monitor()->logWithLevel(kGWLLevelWarningSilent, kCannotCacheEmptyValueCode, kCannotCacheEmptyValueMessage);
    return std::nullopt;
  }
  settings.setValue(key, value);
  return value;
}

std::optional<platform::Object> GWLRemoteConfig::cacheValue(const platform::Object& value,
                                                            const std::string& key) const {
  return cacheValue(*snapshot()->settings, value, key);
}

std::optional<platform::Object> GWLRemoteConfig::cachedValueForKey(const std::string& key) const {
  return snapshot()->settings->valueForKey(key);
}

void GWLRemoteConfig::replaceCachedValues(const std::map<std::string, std::string>& settings) {
  if (isDefaultInstance_) return;
  std::map<std::string, platform::Object> cache;
  for (const auto& [key, value] : settings) {
    if (!key.empty()) cache.emplace(key, value);
  }
  publish([&](Snapshot& next) { next.settings = std::make_shared<SettingsCache>(std::move(cache)); });
}

std::optional<platform::Object> GWLRemoteConfig::numberFromCacheWithKey(
    const std::string& key, const platform::Object& defaultValue, const std::optional<platform::Object>& maxValue,
    const std::optional<platform::Object>& minValue, const Transform& block) const {
  if (key.empty()) {
    monitor()->logWithLevel(kGWLLevelDebug, kEmptyKeyCode, kEmptyKeyMessage);
    return std::nullopt;
  }
  // Read and written back in the same snapshot's cache: a conversion never
  // lands in a configuration published meanwhile.
  const std::shared_ptr<SettingsCache> settings = snapshot()->settings;
  std::optional<platform::Object> entry = settings->valueForKey(key);
  if (!entry) return cacheValue(*settings, defaultValue, key);
  if (entry->isNumberOrBool()) return entry;

  std::optional<platform::Object> number = numberFromString(*entry);
  if (block) number = block(number);
  if (!number || !number->isNumberOrBool() || std::isnan(numberValue(*number)) ||
      (minValue && numberValue(*number) < numberValue(*minValue)) ||
      (maxValue && numberValue(*number) > numberValue(*maxValue))) {
    number = defaultValue;
  }
  return cacheValue(*settings, *number, key);
}

double GWLRemoteConfig::timeIntervalInSecondsFromCacheWithKey(const std::string& key,
                                                              const GWLSettingBounds<double>& bounds) const {
  return doubleOf(numberFromCacheWithKey(key, bounds.defaultValue, platform::Object(bounds.maxValue),
                                         platform::Object(bounds.minValue), millisecondsToSeconds));
}

int32_t GWLRemoteConfig::intValueFromCacheWithKey(const std::string& key,
                                                  const GWLSettingBounds<int32_t>& bounds) const {
  return truncated<int32_t>(numberFromCacheWithKey(key, bounds.defaultValue, platform::Object(bounds.maxValue),
                                                   platform::Object(bounds.minValue)));
}

int64_t GWLRemoteConfig::int64ValueFromCacheWithKey(const std::string& key,
                                                    const GWLSettingBounds<int64_t>& bounds) const {
  return truncated<int64_t>(numberFromCacheWithKey(key, bounds.defaultValue, platform::Object(bounds.maxValue),
                                                   platform::Object(bounds.minValue)));
}

int64_t GWLRemoteConfig::int64ValueFromCacheWithKey(const std::string& key, int64_t defaultValue) const {
  return truncated<int64_t>(numberFromCacheWithKey(key, defaultValue, std::nullopt, std::nullopt));
}

bool GWLRemoteConfig::boolValueFromCacheWithKey(const std::string& key, bool defaultValue) const {
  return intValueFromCacheWithKey(key, {.defaultValue = defaultValue ? 1 : 0, .maxValue = 1, .minValue = 0}) == 1;
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
  platform::MutexLock lock(flagsMutex_);
  cachedExperimentFlags_ = std::move(flags);
}

std::optional<bool> GWLRemoteConfig::cachedExperimentFlag(const char* name) const {
  platform::MutexLock lock(flagsMutex_);
  auto it = cachedExperimentFlags_.find(name);
  if (it == cachedExperimentFlags_.end()) return std::nullopt;
  return flagAsBool(it->second);
}

// ---- getters that do more than read one setting ----

int32_t GWLRemoteConfig::maxBundlesCreatedPerIteration() const {
  return truncated<int32_t>(platform::Object(timeIntervalInSecondsFromCacheWithKey(
      kGWLSettingMaxBundlesCreatedPerIteration, {.defaultValue = 100, .maxValue = 10000, .minValue = 1})));
}

int32_t GWLRemoteConfig::maxInternalEventParameterValueLength() const {
  return std::max(maxPublicEventParameterValueLength(), 256);
}

GWLValueLimits GWLRemoteConfig::valueLimits() const {
  GWLValueLimits limits;
  limits.maxPublicEventParameterValueLength = maxPublicEventParameterValueLength();
  limits.maxInternalEventParameterValueLength = maxInternalEventParameterValueLength();
  limits.maxPublicEventParams = maxPublicEventParams();
  limits.maxItemScopedCustomParameters = maxItemScopedCustomParameters();
  return limits;
}

int32_t GWLRemoteConfig::maxPSMStartCount() const {
  if (monitor()->isDebugModeEnabled()) return 10;
  return intValueFromCacheWithKey(kGWLSettingMaxPSMStartCount, {.defaultValue = 3, .maxValue = 10, .minValue = 0});
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
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingUploadingBackoffInterval,
                                               {.defaultValue = 43200, .maxValue = 604800, .minValue = 3600});
}

int32_t GWLRemoteConfig::maxAudienceCount() const {
  return intValueFromCacheWithKey(kGWLSettingMaxAudienceCount, {.defaultValue = 100, .maxValue = 500, .minValue = 0});
}

int32_t GWLRemoteConfig::maxFiltersPerAudience() const {
  return intValueFromCacheWithKey(kGWLSettingMaxFiltersPerAudience,
                                  {.defaultValue = 10, .maxValue = 100, .minValue = 0});
}

int32_t GWLRemoteConfig::maxFilterResultCount() const {
  return intValueFromCacheWithKey(kGWLSettingMaxFilterResultCount,
                                  {.defaultValue = 200, .maxValue = 2000, .minValue = 0});
}

int32_t GWLRemoteConfig::maxParametersPerFilter() const {
  return intValueFromCacheWithKey(kGWLSettingMaxParametersPerFilter,
                                  {.defaultValue = 25, .maxValue = 250, .minValue = 0});
}

double GWLRemoteConfig::databaseDeleteStaleBundlesInterval() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingDatabaseDeleteStaleBundlesInterval,
                                               {.defaultValue = 86400, .maxValue = 604800, .minValue = 3600});
}

double GWLRemoteConfig::maxQueueTime() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingMaxQueueTime,
                                               {.defaultValue = 2419200, .maxValue = 7862400, .minValue = 604800});
}

double GWLRemoteConfig::adIDCacheTime() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingAdIDCacheTime,
                                               {.defaultValue = 1, .maxValue = 86400, .minValue = 0});
}

bool GWLRemoteConfig::gateIDFAOnATTMASEnabled() const {
  return boolValueFromCacheWithKey(kGWLSettingGateIDFAOnATTMASEnabled, false);
}

double GWLRemoteConfig::monitoringSamplePeriod() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingMonitoringSamplePeriod,
                                               {.defaultValue = 86400, .maxValue = 604800, .minValue = 0});
}

bool GWLRemoteConfig::isNetworkBackgroundSessionEnabled() const {
  return boolValueFromCacheWithKey(kGWLSettingIsNetworkBackgroundSessionEnabled, false);
}

double GWLRemoteConfig::networkTimeout() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingNetworkTimeout,
                                               {.defaultValue = 60, .maxValue = 3600, .minValue = 30});
}

double GWLRemoteConfig::sessionDefaultTimeoutInterval() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingSessionDefaultTimeoutInterval,
                                               {.defaultValue = 1800, .maxValue = 86400, .minValue = 0});
}

double GWLRemoteConfig::sessionEventUserEngagementInterval() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingSessionEventUserEngagementInterval,
                                               {.defaultValue = 3600, .maxValue = 86400, .minValue = 0});
}

bool GWLRemoteConfig::efficientEngagementReportingEnabled() const {
  return boolValueFromCacheWithKey(kGWLSettingEfficientEngagementReportingEnabled, false);
}

bool GWLRemoteConfig::redundantEngagementRemovalEnabled() const {
  return boolValueFromCacheWithKey(kGWLSettingRedundantEngagementRemovalEnabled, false);
}

int32_t GWLRemoteConfig::maxConversionsPerDay() const {
  return intValueFromCacheWithKey(kGWLSettingMaxConversionsPerDay,
                                  {.defaultValue = 10000, .maxValue = 1000000, .minValue = 0});
}

int32_t GWLRemoteConfig::maxEventsPerDay() const {
  return intValueFromCacheWithKey(kGWLSettingMaxEventsPerDay,
                                  {.defaultValue = 100000, .maxValue = 1000000, .minValue = 0});
}

int32_t GWLRemoteConfig::maxPublicEventsPerDay() const {
  return intValueFromCacheWithKey(kGWLSettingMaxPublicEventsPerDay,
                                  {.defaultValue = 50000, .maxValue = 1000000, .minValue = 0});
}

int32_t GWLRemoteConfig::maxErrorEventsPerDay() const {
  return intValueFromCacheWithKey(kGWLSettingMaxErrorEventsPerDay,
                                  {.defaultValue = 1000, .maxValue = 1000000, .minValue = 0});
}

int32_t GWLRemoteConfig::maxTrackedCurrencies() const {
  return intValueFromCacheWithKey(kGWLSettingMaxTrackedCurrencies, {.defaultValue = 4, .maxValue = 100, .minValue = 1});
}

int32_t GWLRemoteConfig::maxPublicUserProperties() const {
  return intValueFromCacheWithKey(kGWLSettingMaxPublicUserProperties,
                                  {.defaultValue = 100, .maxValue = 100, .minValue = 25});
}

int32_t GWLRemoteConfig::maxEventNameCardinality() const {
  return intValueFromCacheWithKey(kGWLSettingMaxEventNameCardinality,
                                  {.defaultValue = 2000, .maxValue = 2000, .minValue = 500});
}

int32_t GWLRemoteConfig::maxPublicEventParams() const {
  return intValueFromCacheWithKey(kGWLSettingMaxPublicEventParams,
                                  {.defaultValue = 100, .maxValue = 100, .minValue = 25});
}

int32_t GWLRemoteConfig::maxEventsStored() const {
  return intValueFromCacheWithKey(kGWLSettingMaxEventsStored,
                                  {.defaultValue = 100000, .maxValue = 1000000, .minValue = 0});
}

double GWLRemoteConfig::uploadingInterval() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingUploadingInterval,
                                               {.defaultValue = 3600, .maxValue = 86400, .minValue = 15});
}

double GWLRemoteConfig::uploadingInitialDelayInterval() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingUploadingInitialDelayInterval,
                                               {.defaultValue = 15, .maxValue = 86400, .minValue = 1});
}

int64_t GWLRemoteConfig::uploadMaxBundlesLimit() const {
  return int64ValueFromCacheWithKey(kGWLSettingUploadMaxBundlesLimit,
                                    {.defaultValue = 100, .maxValue = 10000, .minValue = 1});
}

int64_t GWLRemoteConfig::uploadMaxEventsPerBundle() const {
  return int64ValueFromCacheWithKey(kGWLSettingUploadMaxEventsPerBundle,
                                    {.defaultValue = 1000, .maxValue = 1000000, .minValue = 1});
}

int64_t GWLRemoteConfig::uploadMaxSizeLimitBytes() const {
  return int64ValueFromCacheWithKey(kGWLSettingUploadMaxSizeLimitBytes,
                                    {.defaultValue = 65536, .maxValue = 10485760, .minValue = 0});
}

int32_t GWLRemoteConfig::uploadingRetryCount() const {
  return intValueFromCacheWithKey(kGWLSettingUploadingRetryCount, {.defaultValue = 6, .maxValue = 24, .minValue = 1});
}

double GWLRemoteConfig::uploadingRetryInterval() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingUploadingRetryInterval,
                                               {.defaultValue = 1800, .maxValue = 86400, .minValue = 60});
}

int32_t GWLRemoteConfig::maxRealtimeEventCountPerDay() const {
  return intValueFromCacheWithKey(kGWLSettingMaxRealtimeEventCountPerDay,
                                  {.defaultValue = 10, .maxValue = 10, .minValue = 0});
}

double GWLRemoteConfig::uploadingDebugModeInterval() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingUploadingDebugModeInterval,
                                               {.defaultValue = 1, .maxValue = 15, .minValue = 1});
}

double GWLRemoteConfig::uploadingRealTimeInterval() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingUploadingRealTimeInterval,
                                               {.defaultValue = 10, .maxValue = 15, .minValue = 10});
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
  return intValueFromCacheWithKey(kGWLSettingAnalyticsAccountTimeZoneOffsetMinutes,
                                  {.defaultValue = 0, .maxValue = 900, .minValue = -900});
}

bool GWLRemoteConfig::checksumEnabled() const {
  return boolValueFromCacheWithKey(kGWLSettingChecksumEnabled, false);
}

bool GWLRemoteConfig::appInBackgroundParameterEnabled() const {
  return boolValueFromCacheWithKey(kGWLSettingAppInBackgroundParameterEnabled, true);
}

int32_t GWLRemoteConfig::maxItemScopedCustomParameters() const {
  return intValueFromCacheWithKey(kGWLSettingMaxItemScopedCustomParameters,
                                  {.defaultValue = 27, .maxValue = 35, .minValue = 10});
}

int32_t GWLRemoteConfig::maxPublicEventParameterValueLength() const {
  return intValueFromCacheWithKey(kGWLSettingMaxPublicEventParameterValueLength,
                                  {.defaultValue = 500, .maxValue = 500, .minValue = 100});
}

int32_t GWLRemoteConfig::maxRealtimeDCUEventCountPerDay() const {
  return intValueFromCacheWithKey(kGWLSettingMaxRealtimeDCUEventCountPerDay,
                                  {.defaultValue = 1, .maxValue = 10, .minValue = 0});
}

int32_t GWLRemoteConfig::maxPSMRetryCount() const {
  return intValueFromCacheWithKey(kGWLSettingMaxPSMRetryCount, {.defaultValue = 5, .maxValue = 10, .minValue = 0});
}

double GWLRemoteConfig::PSMRetryInterval() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingPSMRetryInterval,
                                               {.defaultValue = 300, .maxValue = 1800, .minValue = 30});
}

int32_t GWLRemoteConfig::hashPrefixBitLengthEmail() const {
  return intValueFromCacheWithKey(kGWLSettingHashPrefixBitLengthEmail,
                                  {.defaultValue = 14, .maxValue = 20, .minValue = 6});
}

int32_t GWLRemoteConfig::hashPrefixBitLengthPhone() const {
  return intValueFromCacheWithKey(kGWLSettingHashPrefixBitLengthPhone,
                                  {.defaultValue = 11, .maxValue = 18, .minValue = 6});
}

int32_t GWLRemoteConfig::maxSignInDelayInDays() const {
  return intValueFromCacheWithKey(kGWLSettingMaxSignInDelayInDays, {.defaultValue = 60, .maxValue = 90, .minValue = 7});
}

int32_t GWLRemoteConfig::PSMSessionStartHashPrefixBitLengthEmail() const {
  return intValueFromCacheWithKey(kGWLSettingPSMSessionStartHashPrefixBitLengthEmail,
                                  {.defaultValue = 13, .maxValue = 20, .minValue = 6});
}

int32_t GWLRemoteConfig::PSMSessionStartHashPrefixBitLengthPhone() const {
  return intValueFromCacheWithKey(kGWLSettingPSMSessionStartHashPrefixBitLengthPhone,
                                  {.defaultValue = 11, .maxValue = 18, .minValue = 6});
}

int32_t GWLRemoteConfig::PSMGroupIDHashPrefixBitLengthEmail() const {
  return intValueFromCacheWithKey(kGWLSettingPSMGroupIDHashPrefixBitLengthEmail,
                                  {.defaultValue = 22, .maxValue = 30, .minValue = 6});
}

bool GWLRemoteConfig::adsOnDeviceConversionFeatureEnabled() const {
  return boolValueFromCacheWithKey(kGWLSettingAdsOnDeviceConversionFeatureEnabled, false);
}

bool GWLRemoteConfig::isDeferredDeepLinkEnabled() const {
  return boolValueFromCacheWithKey(kGWLSettingIsDeferredDeepLinkEnabled, true);
}

int32_t GWLRemoteConfig::maxDeferredDeepLinkRetryCount() const {
  return intValueFromCacheWithKey(kGWLSettingMaxDeferredDeepLinkRetryCount,
                                  {.defaultValue = 5, .maxValue = 10, .minValue = 0});
}

double GWLRemoteConfig::attributionCacheTTLInterval() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingAttributionCacheTTLInterval,
                                               {.defaultValue = 604800, .maxValue = 2592000, .minValue = 86400});
}

double GWLRemoteConfig::remoteConfigCacheTimeInterval() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingRemoteConfigCacheTimeInterval,
                                               {.defaultValue = 3600, .maxValue = 86400, .minValue = 60});
}

bool GWLRemoteConfig::SKANUpdateConversionValueEnabled() const {
  return boolValueFromCacheWithKey(kGWLSettingSKANUpdateConversionValueEnabled, false);
}

double GWLRemoteConfig::SKANInitialCVFetchDelay() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingSKANInitialCVFetchDelay,
                                               {.defaultValue = 120, .maxValue = 3600, .minValue = 30});
}

double GWLRemoteConfig::SKANCVFetchRetryInterval() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingSKANCVFetchRetryInterval,
                                               {.defaultValue = 120, .maxValue = 3600, .minValue = 30});
}

int32_t GWLRemoteConfig::SKANCVFetchRetryLimit() const {
  return intValueFromCacheWithKey(kGWLSettingSKANCVFetchRetryLimit, {.defaultValue = 4, .maxValue = 10, .minValue = 1});
}

double GWLRemoteConfig::SKANFirstWindowCVFetchDelay() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingSKANFirstWindowCVFetchDelay,
                                               {.defaultValue = 20, .maxValue = 3600, .minValue = 1});
}

double GWLRemoteConfig::SKANFirstWindowCVFetchRetryInterval() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingSKANFirstWindowCVFetchRetryInterval,
                                               {.defaultValue = 120, .maxValue = 3600, .minValue = 30});
}

int32_t GWLRemoteConfig::SKANFirstWindowCVFetchRetryLimit() const {
  return intValueFromCacheWithKey(kGWLSettingSKANFirstWindowCVFetchRetryLimit,
                                  {.defaultValue = 4, .maxValue = 10, .minValue = 1});
}

double GWLRemoteConfig::SKANFirstWindowUploadInterval() const {
  return timeIntervalInSecondsFromCacheWithKey(kGWLSettingSKANFirstWindowUploadInterval,
                                               {.defaultValue = 1800, .maxValue = 86400, .minValue = 15});
}

// ---- the measurement configuration ----

namespace {

constexpr int64_t kInitWithoutAppIDCode = 29000;
constexpr const char* kInitWithoutAppIDMessage = "Cannot init remote configuration without valid Halcyra App ID";
constexpr int64_t kInitWithoutDatabaseCode = 29001;
constexpr const char* kInitWithoutDatabaseMessage = "Cannot init remote configuration without valid database";
constexpr int64_t kUpdateDefaultCode = 29002;
constexpr const char* kUpdateDefaultMessage = "Cannot update the default measurement configuration";
constexpr int64_t kUpdateEmptyCode = 29003;
constexpr const char* kUpdateEmptyMessage = "Cannot set empty measurement config to database";
constexpr int64_t kUpdateOtherAppCode = 29004;
constexpr const char* kUpdateOtherAppMessage = "Cannot set measurement config when Halcyra App ID does not match";
constexpr int64_t kStoreFailedCode = 29005;
constexpr const char* kStoreFailedMessage = "Cannot store config into the database";
constexpr int64_t kEmptyEventNameCode = 29006;
constexpr const char* kEmptyEventNameMessage = "Cannot find event config with empty event name";
constexpr int64_t kExpiredOnDefaultCode = 29007;
constexpr const char* kExpiredOnDefaultMessage = "Cannot fetch the last update timestamp from the default configuration";
constexpr int64_t kTimestampOnDefaultCode = 29008;
constexpr const char* kTimestampOnDefaultMessage =
    "Cannot fetch the last configuration update timestamp from the default instance";
constexpr int64_t kTimestampQueryFailedCode = 29009;
constexpr const char* kTimestampQueryFailedMessage = "Failed to query last configuration update timestamp. Error";
constexpr int64_t kURLWithoutPlatformCode = 29010;
constexpr const char* kURLWithoutPlatformMessage = "Cannot create a URL to fetch a configuration with empty platform";
constexpr int64_t kParseEmptyCode = 29012;
constexpr const char* kParseEmptyMessage = "Cannot parse empty measurement config. Using default values";
constexpr int64_t kEmptyEventConfigNameCode = 29013;
constexpr const char* kEmptyEventConfigNameMessage = "Cannot cache event configuration with an empty configuration name";
constexpr int64_t kParsedCode = 29014;
constexpr const char* kParsedMessage = "Successfully parsed a configuration. Version";
constexpr int64_t kLoadOnDefaultCode = 29015;
constexpr const char* kLoadOnDefaultMessage =
    "Cannot retrieve a measurement configuration from the database for the default instance";
constexpr int64_t kLoadFailedCode = 29016;
constexpr const char* kLoadFailedMessage = "Cannot retrieve configuration data from database. Error";
constexpr int64_t kNotStoredCode = 29017;
constexpr const char* kNotStoredMessage =
    "Configuration was not found in database. The configuration will be fetched from the network when necessary";
constexpr int64_t kURLWithoutAppIDCode = 29021;
constexpr const char* kURLWithoutAppIDMessage = "Cannot create a URL to fetch a configuration with empty app ID";
constexpr int64_t kActivateStaleSnapshotFailedCode = 29023;
constexpr const char* kActivateStaleSnapshotFailedMessage = "Cannot activate stale snapshot. Error";
constexpr int64_t kActivateSnapshotFailedCode = 29024;
constexpr const char* kActivateSnapshotFailedMessage = "Cannot activate snapshot. Error";
constexpr int64_t kExperimentFetchFailedCode = 29025;
constexpr const char* kExperimentFetchFailedMessage = "Cannot fetch experiment. Error";
constexpr int64_t kEventEditingFailedCode = 29026;
constexpr const char* kEventEditingFailedMessage = "Failed to initiate event editing instance";
constexpr int64_t kEventEditingLoadedCode = 29027;
constexpr const char* kEventEditingLoadedMessage = "Loading Event Modification and Creation programs";
// Server strings that cannot be used as they are.
constexpr int64_t kBadUploadSubdomainCode = 29028;
constexpr const char* kBadUploadSubdomainMessage = "Ignoring an upload subdomain that is not a host name";
constexpr int64_t kBadSVTPURLCode = 29029;
constexpr const char* kBadSVTPURLMessage = "Ignoring a server-side tagging URL that is not a valid URL";
constexpr int64_t kBadSVTPHeaderCode = 29030;
constexpr const char* kBadSVTPHeaderMessage = "Ignoring a server-side tagging header value that is not a valid header value";
constexpr int64_t kUndecodableConfigCode = 29031;
constexpr const char* kUndecodableConfigMessage = "Refusing a configuration that does not decode";

constexpr int64_t kTrackingAuthorized = 3;

// The messages of a repeated field; none when it cannot be read.
template <class M>
std::vector<std::shared_ptr<M>> items(NANOMessageRef message, int32_t index) {
  return NANOGetMessageArray<M>(message, index).value_or(std::vector<std::shared_ptr<M>>());
}

// A setting's value as the event-editing runtime reads it: text as it is, numbers as their decimal form.
std::optional<std::string> settingText(const platform::Object& value) {
  if (const std::string* text = value.stringValue()) return *text;
  if (value.isBool()) return std::nullopt;
  if (auto i = value.intValue()) return std::to_string(*i);
  if (auto d = value.doubleValue()) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, *d);
    return std::string(buffer, result.ptr);
  }
  return std::nullopt;
}

// A stable hash of text (FNV-1a), for the server-side tagging sample.
uint64_t stableHash(const std::string& text) {
  uint64_t hash = 1469598103934665603ull;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

}  // namespace

std::shared_ptr<GWLRemoteConfig> GWLRemoteConfig::initWithAppID(const std::string& appID,
                                                                 const std::shared_ptr<GWLRemoteConfigStore>& database,
                                                                 std::shared_ptr<GWLPersistedConfig> persistedConfig,
                                                                 Dependencies dependencies) {
  auto monitor = dependencies.monitor ? dependencies.monitor : GWLLibraryMonitor::monitor();
  if (appID.empty()) {
    monitor->logWithLevel(kGWLLevelErrorSampled, kInitWithoutAppIDCode, kInitWithoutAppIDMessage);
    return nullptr;
  }
  if (!database) {
    monitor->logWithLevel(kGWLLevelErrorSampled, kInitWithoutDatabaseCode, kInitWithoutDatabaseMessage);
    return nullptr;
  }
  return initWithAppID(appID, database, nullptr, std::move(persistedConfig), std::move(dependencies));
}

std::shared_ptr<GWLRemoteConfig> GWLRemoteConfig::initWithAppID(
    const std::string& appID, const std::shared_ptr<GWLRemoteConfigStore>& database,
    std::shared_ptr<GWLPBMeasurementConfig> measurementConfig, std::shared_ptr<GWLPersistedConfig> persistedConfig,
    Dependencies dependencies) {
  std::shared_ptr<GWLRemoteConfig> config(
      new GWLRemoteConfig(appID, database, std::move(persistedConfig), std::move(dependencies)));
  config->registerWithExperimentManager();
  config->updateCachedExperimentFlags();
  if (!config->isDefaultInstance_) {
    if (measurementConfig) {
      // A refused update (another app's configuration, a store that fails) is
      // reported by the update; the configuration starts from its defaults.
      (void)config->updateMeasurementConfig(measurementConfig);
    } else if (auto stored = config->measurementConfigFromDatabase()) {
      config->applyMeasurementConfig(stored, /*inForce=*/true);
    }
  }
  return config;
}

void GWLRemoteConfig::registerWithExperimentManager() {
  experimentManager_ = dependencies_.experimentManager;
  if (!experimentManager_) return;
  experimentClient_ = experimentManager_->registerSDKProperty(
      kGWLExperimentsSDKName, dependencies_.libraryVersion.value_or(kGWLLibraryVersion),
      std::weak_ptr<GWLExperimentsObserver>(shared_from_this()));
  if (!experimentClient_) return;
  if (!experimentFlags_) experimentFlags_ = experimentClient_;
  // A snapshot fetched in an earlier run and not yet activated is activated now.
  platform::Error error;
  if (!experimentClient_->activateLatestSnapshot(&error) && !error.domain.empty()) {
    monitor()->logWithLevel(kGWLLevelErrorSilent, kActivateStaleSnapshotFailedCode, kActivateStaleSnapshotFailedMessage,
                            GWLLogContext(error.toString()));
  }
}

bool GWLRemoteConfig::activateNewSnapshot() {
  platform::MutexLock lock(newSnapshotMutex_);
  if (!hasNewSnapshot_ || !experimentClient_) return false;
  platform::Error error;
  if (!experimentClient_->activateLatestSnapshot(&error)) {
    monitor()->logWithLevel(kGWLLevelErrorSilent, kActivateSnapshotFailedCode, kActivateSnapshotFailedMessage,
                            GWLLogContext(error.toString()));
    return false;
  }
  updateCachedExperimentFlags();
  hasNewSnapshot_ = false;
  return true;
}

void GWLRemoteConfig::clientDidReceiveNewSnapshot(GWLExperimentsClient&) {
  platform::MutexLock lock(newSnapshotMutex_);
  hasNewSnapshot_ = true;
}

void GWLRemoteConfig::client(GWLExperimentsClient&, const platform::Error& didReceiveFetchError) {
  monitor()->logWithLevel(kGWLLevelErrorSilent, kExperimentFetchFailedCode, kExperimentFetchFailedMessage,
                          GWLLogContext(didReceiveFetchError.toString()));
}

bool GWLRemoteConfig::shouldFetchExperimentsForClient(GWLExperimentsClient&) {
  return GWLMeasurementRegistry::isSharedInstanceEnabled();
}

bool GWLRemoteConfig::hasNewSnapshot() const {
  platform::MutexLock lock(newSnapshotMutex_);
  return hasNewSnapshot_;
}

std::vector<int32_t> GWLRemoteConfig::experimentIDs() const {
  return experimentManager_ ? experimentManager_->experimentIDs() : std::vector<int32_t>();
}

std::shared_ptr<GWLPBMeasurementConfig> GWLRemoteConfig::measurementConfigFromData(std::span<const uint8_t> data,
                                                                                   platform::Error* error) const {
  auto config = GWLPBMeasurementConfig::initWithBuffer(data);
  std::optional<std::vector<uint8_t>> encoded = config ? config->protoBuffer() : std::nullopt;
  if (!config || !encoded || encoded->empty()) {
    platform::setError(error, gwl_errorWithCode(kGWLErrorCodeInvalidArgument, "Configuration data is invalid."));
    monitor()->logWithLevel(kGWLLevelErrorSilent, kUndecodableConfigCode, kUndecodableConfigMessage);
    return nullptr;
  }
  return config;
}

bool GWLRemoteConfig::updateMeasurementConfig(const std::shared_ptr<GWLPBMeasurementConfig>& config) {
  GWLScheduler::checkOnBackgroundThreadWithMethodName("updateMeasurementConfig:");
  if (isDefaultInstance_) {
    monitor()->logWithLevel(kGWLLevelErrorSilent, kUpdateDefaultCode, kUpdateDefaultMessage);
    return false;
  }
  if (!config) {
    monitor()->logWithLevel(kGWLLevelWarningSilent, kUpdateEmptyCode, kUpdateEmptyMessage);
    return false;
  }
  if (NANOGetString(config, GWLPBMeasurementConfig::Field::app_id).value_or("") != appID_) {
    monitor()->logWithLevel(kGWLLevelErrorSilent, kUpdateOtherAppCode, kUpdateOtherAppMessage);
    return false;
  }
  std::shared_ptr<GWLRemoteConfigStore> database = database_.lock();
  platform::Error error;
  bool stored = false;
  if (database) {
    stored = database->updateRemoteConfig(*config, &error);
  } else {
    error = gwl_errorWithCode(kGWLErrorCodeUninitialized, "The database is gone");
  }
  if (!stored && !error.domain.empty()) {
    monitor()->logWithLevel(kGWLLevelErrorSampled, kStoreFailedCode, kStoreFailedMessage,
                            GWLLogContext(error.toString()));
    return false;
  }
  applyMeasurementConfig(config, /*inForce=*/true);
  return true;
}

std::shared_ptr<GWLPBMeasurementConfig> GWLRemoteConfig::measurementConfigFromDatabase() {
  GWLScheduler::checkOnBackgroundThreadWithMethodName("measurementConfigFromDatabase");
  if (isDefaultInstance_) {
    monitor()->logWithLevel(kGWLLevelErrorSilent, kLoadOnDefaultCode, kLoadOnDefaultMessage);
    return nullptr;
  }
  std::shared_ptr<GWLRemoteConfigStore> database = database_.lock();
  if (!database) return nullptr;
  platform::Error error;
  auto config = database->queryMeasurementConfig(&error);
  if (!config && !error.domain.empty()) {
    monitor()->logWithLevel(kGWLLevelErrorSilent, kLoadFailedCode, kLoadFailedMessage, GWLLogContext(error.toString()));
  } else if (!config) {
    monitor()->logWithLevel(kGWLLevelDebug, kNotStoredCode, kNotStoredMessage);
  }
  return config;
}

void GWLRemoteConfig::registerEventEditingModules(GWLEventEditingRuntime& runtime,
                                                  const std::shared_ptr<SettingsCache>& settings) {
  // The remote-configuration module answers from the settings cache of the
  // configuration that loaded the program (conversions made since included).
  runtime.setModuleCreator(
      [settings] {
        GWLEventEditingModule module;
        module.kind = GWLEventEditingModule::Kind::KeyValueStore;
        module.name = kGWLEventEditingRemoteConfigModule;
        module.getValue = [settings](const std::string& key) -> std::optional<std::string> {
          auto value = settings->valueForKey(key);
          return value ? settingText(*value) : std::nullopt;
        };
        return module;
      },
      kGWLEventEditingRemoteConfigModule);
  auto appVersion = dependencies_.appVersion;
  runtime.setModuleCreator(
      [appVersion] {
        GWLEventEditingModule module;
        module.kind = GWLEventEditingModule::Kind::ObjectProvider;
        module.name = kGWLEventEditingAppMetadataModule;
        module.object = [appVersion] {
          platform::Dictionary metadata;
          metadata["platform"] = "ios";
          auto environment = platform::AppEnvironment::shared();
          metadata["package_name"] = environment ? environment->bundleIdentifier() : std::string();
          metadata["qrx_version"] = kGWLLibraryVersion;
          if (appVersion) {
            if (auto version = appVersion()) metadata["app_version"] = *version;
          }
          return metadata;
        };
        return module;
      },
      kGWLEventEditingAppMetadataModule);
  runtime.setModuleCreator(
      [] {
        GWLEventEditingModule module;
        module.kind = GWLEventEditingModule::Kind::MessageLogger;
        module.name = kGWLEventEditingLoggerModule;
        return module;
      },
      kGWLEventEditingLoggerModule);
}

void GWLRemoteConfig::parseRemoteConfigFromMeasurementConfig(const std::shared_ptr<GWLPBMeasurementConfig>& config) {
  applyMeasurementConfig(config, /*inForce=*/false);
}

void GWLRemoteConfig::applyMeasurementConfig(const std::shared_ptr<GWLPBMeasurementConfig>& config, bool inForce) {
  if (!config) {
    monitor()->logWithLevel(kGWLLevelErrorSilent, kParseEmptyCode, kParseEmptyMessage);
    return;
  }
  if (isDefaultInstance_) return;
  if (NANOGetString(config, GWLPBMeasurementConfig::Field::app_id).value_or("") != appID_) {
    // Not parsed; still in force when it was stored.
    if (inForce) publish([&](Snapshot& next) { next.measurementConfig = config; });
    return;
  }
  // Every step fills its part of the next snapshot; readers see none of it
  // until the whole configuration is published at once.
  publish([&](Snapshot& next) {
    if (inForce) next.measurementConfig = config;
    parseSettings(config, next);
    parseEventConfigs(config, next);
    logParsedVersion(config);
    loadEventEditing(config, next);
    parseDataControls(config, next);
    parseConsent(config, next);
    parsePrivateSetMembershipSettings(config, next);
  });

  // Server strings that cannot be used are reported once, here.
  if (auto subdomain = NANOGetString(config, GWLPBMeasurementConfig::Field::upload_subdomain)) {
    if (!subdomain->empty() && !GWLIsValidUploadSubdomain(*subdomain)) {
      monitor()->logWithLevel(kGWLLevelWarningSampled, kBadUploadSubdomainCode, kBadUploadSubdomainMessage);
    }
  }
}

// 1. Settings: the cache holds exactly the settings sent.
void GWLRemoteConfig::parseSettings(const std::shared_ptr<GWLPBMeasurementConfig>& config, Snapshot& next) {
  std::map<std::string, platform::Object> settings;
  for (const auto& setting : items<GWLPBSetting>(config, GWLPBMeasurementConfig::Field::settings)) {
    std::optional<std::string> name = NANOGetString(setting, GWLPBSetting::Field::setting_name);
    std::optional<std::string> value = NANOGetString(setting, GWLPBSetting::Field::setting_value);
    if (!name || name->empty() || !value) {
      monitor()->logWithLevel(kGWLLevelWarningSilent, kCannotCacheEmptyValueCode, kCannotCacheEmptyValueMessage);
      continue;
    }
    settings[*name] = *value;
  }
  next.settings = std::make_shared<SettingsCache>(std::move(settings));
}

// 2. Event configurations under internal names; a later one replaces an earlier one.
void GWLRemoteConfig::parseEventConfigs(const std::shared_ptr<GWLPBMeasurementConfig>& config, Snapshot& next) {
  std::map<std::string, std::shared_ptr<GWLPBEventConfig>> eventConfigs;
  for (const auto& eventConfig : items<GWLPBEventConfig>(config, GWLPBMeasurementConfig::Field::event_config)) {
    std::string name = NANOGetString(eventConfig, GWLPBEventConfig::Field::event_name).value_or("");
    if (name.empty()) {
      monitor()->logWithLevel(kGWLLevelWarningSilent, kEmptyEventConfigNameCode, kEmptyEventConfigNameMessage);
      continue;
    }
    if (dependencies_.internalEventName) {
      if (auto internal = dependencies_.internalEventName(name)) name = *internal;
    } else {
      const GWLNameMap& internalNames = GWLPublicToInternalEventNameMap();
      if (auto it = internalNames.find(name); it != internalNames.end()) name = it->second;
    }
    eventConfigs[name] = eventConfig;
  }
  next.eventConfigByEventName = std::move(eventConfigs);
}

void GWLRemoteConfig::logParsedVersion(const std::shared_ptr<GWLPBMeasurementConfig>& config) {
  if (NANOHasField(config, GWLPBMeasurementConfig::Field::version)) {
    monitor()->logWithLevel(kGWLLevelDebug, kParsedCode, kParsedMessage,
                            GWLLogContext(NANOGetInt64(config, GWLPBMeasurementConfig::Field::version)));
  }
}

// 3. Event editing: a new runtime for the first program. A program that
// fails to load turns event editing off; the rest of the configuration is
// parsed all the same, so its data controls and consent defaults apply. A
// configuration without programs turns it off too: the server withdrew the
// program, and the stored configuration runs none after a restart either.
void GWLRemoteConfig::loadEventEditing(const std::shared_ptr<GWLPBMeasurementConfig>& config, Snapshot& next) {
  auto programs = items<GWLPBProgram>(config, GWLPBMeasurementConfig::Field::dynamic_event_editing);
  if (programs.empty()) {
    next.eventEditing = nullptr;
    return;
  }
  std::shared_ptr<GWLEventEditingRuntime> runtime =
      dependencies_.eventEditingFactory ? dependencies_.eventEditingFactory() : nullptr;
  platform::Error error;
  bool loaded = false;
  if (runtime) {
    registerEventEditingModules(*runtime, next.settings);
    loaded = runtime->loadProgram(programs.front(), &error);
  } else {
    error = gwl_errorWithCode(kGWLErrorCodeUninitialized, "No event-editing runtime");
  }
  if (loaded) {
    monitor()->logWithLevel(kGWLLevelDebug, kEventEditingLoadedCode, kEventEditingLoadedMessage,
                            GWLLogContext(static_cast<int64_t>(programs.size())));
  } else {
    monitor()->logWithLevel(kGWLLevelErrorSampled, kEventEditingFailedCode, kEventEditingFailedMessage,
                            GWLLogContext(error.toString()));
    runtime = nullptr;
  }
  next.eventEditing = runtime;
}

// 4. Data controls.
void GWLRemoteConfig::parseDataControls(const std::shared_ptr<GWLPBMeasurementConfig>& config, Snapshot& next) {
  std::vector<std::string> dataControls;
  for (const auto& control : items<GWLPBDataControl>(config, GWLPBMeasurementConfig::Field::data_controls)) {
    if (auto name = NANOGetString(control, GWLPBDataControl::Field::control_name)) dataControls.push_back(*name);
  }
  next.dataControls = std::move(dataControls);
}

// 5. Consent: the caches are emptied; without a consent configuration the
// DMA region flag keeps its value.
void GWLRemoteConfig::parseConsent(const std::shared_ptr<GWLPBMeasurementConfig>& config, Snapshot& next) {
  next.consentDefaults.clear();
  next.consentDelegations.clear();
  next.regionalDefaults.clear();
  next.corePlatformServices.clear();
  auto consent = NANOGetMessage<GWLPBConsentConfig>(config, GWLPBMeasurementConfig::Field::consent_config);
  if (!consent) return;
  next.isDMARegion = NANOGetBool(consent, GWLPBConsentConfig::Field::is_dma_region);
  for (const auto& entry : items<GWLPBConsentDefaultEntry>(consent, GWLPBConsentConfig::Field::defaults)) {
    next.consentDefaults[GWLConsentTypeName(NANOGetInt32(entry, GWLPBConsentDefaultEntry::Field::consent_type))] =
        GWLConsentStatusName(NANOGetInt32(entry, GWLPBConsentDefaultEntry::Field::consent_status));
  }
  for (const auto& entry : items<GWLPBConsentDefaultEntry>(consent, GWLPBConsentConfig::Field::enforced_defaults)) {
    next.regionalDefaults[GWLConsentTypeName(NANOGetInt32(entry, GWLPBConsentDefaultEntry::Field::consent_type))] =
        GWLConsentStatusName(NANOGetInt32(entry, GWLPBConsentDefaultEntry::Field::consent_status));
  }
  for (const auto& entry : items<GWLPBConsentDelegationEntry>(consent, GWLPBConsentConfig::Field::delegations)) {
    next.consentDelegations[GWLConsentTypeName(
        NANOGetInt32(entry, GWLPBConsentDelegationEntry::Field::consent_type))] =
        GWLConsentTypeName(NANOGetInt32(entry, GWLPBConsentDelegationEntry::Field::delegate_type));
  }
  for (const auto& entry :
       items<GWLPBCorePlatformServiceEntry>(consent, GWLPBConsentConfig::Field::core_platform_services)) {
    if (auto name = NANOGetString(entry, GWLPBCorePlatformServiceEntry::Field::service_name)) {
      next.corePlatformServices.insert(*name);
    }
  }
}

// 6. Private-set-membership settings replace the settings of the same keys.
// They are cached as text, so their getters check them against the same
// bounds as every other setting: a prefix longer than the bound would send
// most of a hashed identifier away.
void GWLRemoteConfig::parsePrivateSetMembershipSettings(const std::shared_ptr<GWLPBMeasurementConfig>& config, Snapshot& next) {
  auto psm = NANOGetMessage<GWLPBPsmSetting>(config, GWLPBMeasurementConfig::Field::psm_setting);
  if (!psm) return;
  const std::pair<int32_t, const char*> fields[] = {
      {GWLPBPsmSetting::Field::hash_prefix_bits_email, kGWLSettingHashPrefixBitLengthEmail},
      {GWLPBPsmSetting::Field::hash_prefix_bits_phone, kGWLSettingHashPrefixBitLengthPhone},
      {GWLPBPsmSetting::Field::signin_delay_days, kGWLSettingMaxSignInDelayInDays},
  };
  for (const auto& [field, key] : fields) {
    if (NANOHasField(psm, field)) cacheValue(*next.settings, std::to_string(NANOGetInt32(psm, field)), key);
  }
}

void GWLRemoteConfig::reset() {
  {
    platform::MutexLock lock(flagsMutex_);
    cachedExperimentFlags_.clear();
  }
  // Every cache empties; the event-editing runtime stays.
  publish([this](Snapshot& next) {
    Snapshot empty;
    empty.eventEditing = next.eventEditing;
    if (isDefaultInstance_) empty.measurementConfig = next.measurementConfig;
    next = std::move(empty);
  });
  if (experimentManager_) experimentManager_->reset();
}

std::shared_ptr<GWLPBMeasurementConfig> GWLRemoteConfig::configInForce() const {
  return snapshot()->measurementConfig;
}

std::shared_ptr<GWLPBEventConfig> GWLRemoteConfig::eventConfigWithName(const std::string& name) const {
  if (name.empty()) {
    monitor()->logWithLevel(kGWLLevelWarningSilent, kEmptyEventNameCode, kEmptyEventNameMessage);
    return nullptr;
  }
  const auto current = snapshot();
  auto it = current->eventConfigByEventName.find(name);
  if (it == current->eventConfigByEventName.end()) return nullptr;
  return GWLPBEventConfig::initWithMessageInfo(it->second->messageInfo());
}

bool GWLRemoteConfig::isEventBlocklisted(const std::string& name) const {
  auto config = eventConfigWithName(name);
  if (config && NANOHasField(config, GWLPBEventConfig::Field::blocklisted) &&
      NANOGetBool(config, GWLPBEventConfig::Field::blocklisted)) {
    return true;
  }
  return GWLIsPublicName(name) ? blocklistPublic() : blocklistInternal();
}

bool GWLRemoteConfig::isEventCustomConversion(const std::string& name) const {
  auto config = eventConfigWithName(name);
  return config && NANOGetBool(config, GWLPBEventConfig::Field::custom_conversion);
}

bool GWLRemoteConfig::eventHasSamplingRate(const std::string& name) const {
  auto config = eventConfigWithName(name);
  return config && NANOHasField(config, GWLPBEventConfig::Field::sampling_rate);
}

int32_t GWLRemoteConfig::samplingRateForEvent(const std::string& name) const {
  auto config = eventConfigWithName(name);
  if (!config || !NANOHasField(config, GWLPBEventConfig::Field::sampling_rate)) return 1;
  int32_t rate = NANOGetInt32(config, GWLPBEventConfig::Field::sampling_rate);
  return rate >= 2 && rate <= 65535 ? rate : 1;
}

bool GWLRemoteConfig::isExpired() const {
  if (isDefaultInstance_) {
    monitor()->logWithLevel(kGWLLevelErrorSilent, kExpiredOnDefaultCode, kExpiredOnDefaultMessage);
    return false;
  }
  auto clock = dependencies_.clock ? dependencies_.clock : platform::Clock::system();
  return std::fabs(clock->now() - lastRemoteConfigUpdateTimestamp()) >= remoteConfigCacheTimeInterval();
}

double GWLRemoteConfig::lastRemoteConfigUpdateTimestamp() const {
  if (isDefaultInstance_) {
    monitor()->logWithLevel(kGWLLevelErrorSilent, kTimestampOnDefaultCode, kTimestampOnDefaultMessage);
    return 0;
  }
  std::shared_ptr<GWLRemoteConfigStore> database = database_.lock();
  if (!database) return 0;
  platform::Error error;
  std::optional<double> timestamp = database->lastRemoteConfigUpdateTimestamp(&error);
  if (!timestamp) {
    monitor()->logWithLevel(kGWLLevelWarningSampled, kTimestampQueryFailedCode, kTimestampQueryFailedMessage,
                            GWLLogContext(error.toString()));
    return 0;
  }
  return *timestamp;
}

int64_t GWLRemoteConfig::version() const {
  auto config = configInForce();
  if (!config || !NANOHasField(config, GWLPBMeasurementConfig::Field::version)) return -1;
  return NANOGetInt64(config, GWLPBMeasurementConfig::Field::version);
}

std::optional<std::string> GWLRemoteConfig::uploadSubdomain() const {
  auto config = configInForce();
  std::optional<std::string> subdomain;
  if (config) subdomain = NANOGetString(config, GWLPBMeasurementConfig::Field::upload_subdomain);
  if (!subdomain || subdomain->empty() || !GWLIsValidUploadSubdomain(*subdomain)) return std::nullopt;
  return subdomain;
}

bool GWLRemoteConfig::isTrackingAuthorized() const {
  std::shared_ptr<GWLIdentitySupport> identity =
      dependencies_.identitySupport ? dependencies_.identitySupport : GWLPlatformIdentitySupport::sharedInstance();
  return identity && identity->appDataConsentStatus() == kTrackingAuthorized;
}

std::string GWLRemoteConfig::uploadURL() const {
  const GWLServiceEndpoint& endpoint = isTrackingAuthorized() ? hosts_.authorizedUpload : hosts_.upload;
  return endpoint.origin(uploadSubdomain()) + "/a";
}

std::optional<std::string> GWLRemoteConfig::remoteConfigURLWithPlatform(const std::optional<std::string>& platform,
                                                                        int64_t SDKVersion,
                                                                        int64_t runtimeVersion) const {
  if (appID_.empty()) {
    monitor()->logWithLevel(kGWLLevelErrorSilent, kURLWithoutAppIDCode, kURLWithoutAppIDMessage);
    return std::nullopt;
  }
  std::string url = hosts_.config.origin() + "/config/app/" +
                    platform::percent::encode(appID_, platform::percent::AllowedSet::path()) + "?";
  if (!platform) {
    monitor()->logWithLevel(kGWLLevelErrorSilent, kURLWithoutPlatformCode, kURLWithoutPlatformMessage);
    return std::nullopt;
  }
  platform::Dictionary query;
  query["platform"] = *platform;
  query["runtime_version"] = runtimeVersion;
  query["qrx_version"] = SDKVersion;
  return url + gwl_queryString(query);
}

bool GWLRemoteConfig::SVTPUploadEnabled() const {
  if (!boolValueFromCacheWithKey(kGWLSettingSVTPUploadEnabled, true)) return false;
  std::optional<platform::Object> infoSwitch;
  if (dependencies_.infoDictionaryValue) {
    infoSwitch = dependencies_.infoDictionaryValue(kGWLSVTPUploadEnabledInfoKey);
  } else if (auto environment = platform::AppEnvironment::shared()) {
    if (const platform::Object* value = environment->objectForInfoDictionaryKey(kGWLSVTPUploadEnabledInfoKey)) {
      infoSwitch = *value;
    }
  }
  if (!infoSwitch || !infoSwitch->isNumberOrBool() || numberValue(*infoSwitch) == 0) return false;

  auto config = configInForce();
  std::optional<std::string> uploadURLText;
  int32_t percent = 0;
  {
    auto svtp = config ? NANOGetMessage<GWLPBSvtpSetting>(config, GWLPBMeasurementConfig::Field::svtp_setting)
                       : nullptr;
    if (!svtp) return false;
    uploadURLText = NANOGetString(svtp, GWLPBSvtpSetting::Field::upload_url);
    percent = NANOGetInt32(svtp, GWLPBSvtpSetting::Field::sample_percent);
  }
  if (!uploadURLText || uploadURLText->empty()) return false;
  if (!GWLIsValidServerURL(*uploadURLText)) {
    monitor()->logWithLevel(kGWLLevelWarningSampled, kBadSVTPURLCode, kBadSVTPURLMessage);
    return false;
  }
  if (dependencies_.hasSVTPPreviewHeaders && dependencies_.hasSVTPPreviewHeaders()) return true;
  std::string appInstanceID = persistedConfig_ ? persistedConfig_->appInstanceID().value_or("") : "";
  if (appInstanceID.empty() && percent < 100) return false;
  return static_cast<int64_t>(stableHash(appInstanceID) % 100) < percent;
}

std::optional<std::string> GWLRemoteConfig::SVTPUploadURL() const {
  auto config = configInForce();
  std::optional<std::string> url;
  std::optional<std::string> authorizedURL;
  {
    auto svtp = config ? NANOGetMessage<GWLPBSvtpSetting>(config, GWLPBMeasurementConfig::Field::svtp_setting)
                       : nullptr;
    if (!svtp) return std::nullopt;
    url = NANOGetString(svtp, GWLPBSvtpSetting::Field::upload_url);
    authorizedURL = NANOGetString(svtp, GWLPBSvtpSetting::Field::authorized_upload_url);
  }
  if (isTrackingAuthorized() && authorizedURL && GWLIsValidServerURL(*authorizedURL)) return authorizedURL;
  if (!url || !GWLIsValidServerURL(*url)) {
    if (url && !url->empty()) monitor()->logWithLevel(kGWLLevelWarningSampled, kBadSVTPURLCode, kBadSVTPURLMessage);
    return std::nullopt;
  }
  return url;
}

std::optional<std::map<std::string, std::string>> GWLRemoteConfig::SVTPUploadHTTPHeaders() const {
  auto config = configInForce();
  std::optional<std::string> serverInfo;
  {
    auto svtp = config ? NANOGetMessage<GWLPBSvtpSetting>(config, GWLPBMeasurementConfig::Field::svtp_setting)
                       : nullptr;
    if (svtp) serverInfo = NANOGetString(svtp, GWLPBSvtpSetting::Field::server_info);
  }
  if (!serverInfo || serverInfo->empty()) return std::nullopt;
  if (!GWLIsValidHTTPHeaderValue(*serverInfo)) {
    monitor()->logWithLevel(kGWLLevelWarningSampled, kBadSVTPHeaderCode, kBadSVTPHeaderMessage);
    return std::nullopt;
  }
  return std::map<std::string, std::string>{{kGWLSVTPServerInfoHeader, *serverInfo}};
}

std::vector<std::string> GWLRemoteConfig::dataControls() const {
  return snapshot()->dataControls;
}

std::shared_ptr<GWLEventEditingRuntime> GWLRemoteConfig::eventEditing() const {
  return snapshot()->eventEditing;
}

std::map<std::string, std::string> GWLRemoteConfig::consentDefaults() const {
  return snapshot()->consentDefaults;
}

std::map<std::string, std::string> GWLRemoteConfig::consentDelegations() const {
  return snapshot()->consentDelegations;
}

std::map<std::string, std::string> GWLRemoteConfig::regionalDefaults() const {
  return snapshot()->regionalDefaults;
}

std::set<std::string> GWLRemoteConfig::corePlatformServices() const {
  return snapshot()->corePlatformServices;
}

bool GWLRemoteConfig::isDMARegion() const {
  return snapshot()->isDMARegion;
}
