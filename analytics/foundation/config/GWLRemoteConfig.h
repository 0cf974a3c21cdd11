// GWLRemoteConfig — the typed settings of the downloaded measurement
// configuration.
//
// The configuration's settings arrive as name/value pairs of strings and are
// kept in a cache. A typed getter converts its value on first read: the text
// is parsed as a plain decimal number (independently of the locale), checked
// against the setting's minimum and maximum, and replaced by the built-in
// default when it is missing, unreadable or out of range (out-of-range values
// are not clamped). The result is stored back as a number, so each setting is
// converted at most once. Time settings arrive in milliseconds and are
// answered in seconds; switches are 0 or 1.
//
// The default instance never receives a configuration: every getter answers
// its default.
//
// An app instance (made with `initWithAppID`) keeps the downloaded
// measurement configuration: `updateMeasurementConfig` stores it and puts it
// in force, and parsing fills, in this order, the settings cache, the event
// configurations (under internal event names), the event-editing runtime
// (its first program), the data controls, the consent caches and the
// private-set-membership settings. A program that fails to load switches
// event editing off and leaves the rest of the configuration parsed; a
// configuration without programs switches it off as well. The
// configuration in force also gives the upload URL, the configuration-fetch
// URL and the server-side tagging endpoint. Server strings that would end up
// in a host name or a header are checked first and ignored with a report
// when they do not fit.
//
// An app instance given an experiments manager registers with it at creation
// as "gauge_well" with the library's version, activates the latest snapshot
// and fills its flag cache. New snapshots are announced by the manager and
// activated by `activateNewSnapshot`, which the engine calls on its worker
// queue; the experiment IDs of the activated snapshots go into upload bundles.
//
// Threads: the configuration is stored, loaded and parsed on the engine's
// worker queue and read from any thread. A parsed configuration is one
// immutable Snapshot (settings, event configurations, event editing, data
// controls, consent caches, the configuration in force), built whole and
// published with one swap: a reader that takes `snapshot()` sees one
// configuration, never new settings beside old consent defaults. The typed
// getters each read the snapshot current at the call. A snapshot's settings
// cache stores each setting's converted number on first read (under its own
// lock); that changes no answer. The experiment flag cache and the
// new-snapshot mark have locks of their own.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "analytics/foundation/config/GWLEventEditingRuntime.h"
#include "analytics/foundation/config/GWLExperimentsClient.h"
#include "analytics/foundation/config/GWLServiceHosts.h"
#include "analytics/foundation/values/GWLValueLimits.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"
#include "platform/util/Mutex.h"

namespace platform {
class Clock;
}
class GWLIdentitySupport;
class GWLMonitor;
class GWLPBEventConfig;
class GWLPBMeasurementConfig;
class GWLPersistedConfig;
class GWLRemoteConfigStore;

// Key of the app's Info dictionary that lets uploads go to a server-side tagging endpoint.
inline constexpr const char* kGWLSVTPUploadEnabledInfoKey = "HALCYRA_ANALYTICS_SVTP_UPLOAD_ENABLED";
inline constexpr const char* kGWLSettingSVTPUploadEnabled = "measurement.svtp_upload_enabled";
// Header of uploads to the server-side tagging endpoint.
inline constexpr const char* kGWLSVTPServerInfoHeader = "x-svtp-server-info";
// Names of the event-editing runtime's native modules.
inline constexpr const char* kGWLEventEditingRemoteConfigModule = "internal.remoteConfig";
inline constexpr const char* kGWLEventEditingAppMetadataModule = "internal.appMetadata";
inline constexpr const char* kGWLEventEditingLoggerModule = "internal.logger";

// Keys of the configuration's settings.
inline constexpr const char* kGWLSettingUploadingBackoffInterval = "measurement.upload.backoff_period";
inline constexpr const char* kGWLSettingMaxAudienceCount = "measurement.audience.max_count";
inline constexpr const char* kGWLSettingMaxFiltersPerAudience = "measurement.audience.filter_max_count_per_audience";
inline constexpr const char* kGWLSettingMaxFilterResultCount = "measurement.audience.filter_result_max_count";
inline constexpr const char* kGWLSettingMaxParametersPerFilter = "measurement.audience.parameter_max_count_filter";
inline constexpr const char* kGWLSettingDatabaseDeleteStaleBundlesInterval = "measurement.upload.stale_data_deletion_interval";
inline constexpr const char* kGWLSettingMaxQueueTime = "measurement.upload.max_queue_time";
inline constexpr const char* kGWLSettingAdIDCacheTime = "measurement.ad_id_cache_time";
inline constexpr const char* kGWLSettingGateIDFAOnATTMASEnabled = "measurement.attmas_gate";
inline constexpr const char* kGWLSettingMonitoringSamplePeriod = "measurement.monitoring.sample_period_millis";
inline constexpr const char* kGWLSettingIsNetworkBackgroundSessionEnabled = "measurement.network.background_session_enabled";
inline constexpr const char* kGWLSettingNetworkTimeout = "measurement.network.network_timeout";
inline constexpr const char* kGWLSettingSessionDefaultTimeoutInterval = "measurement.session.default_timeout_interval";
inline constexpr const char* kGWLSettingSessionEventUserEngagementInterval = "measurement.session.event_user_engagement_interval";
inline constexpr const char* kGWLSettingEfficientEngagementReportingEnabled = "measurement.collection.efficient_engagement_reporting_enabled";
inline constexpr const char* kGWLSettingRedundantEngagementRemovalEnabled = "measurement.collection.redundant_engagement_removal_enabled";
inline constexpr const char* kGWLSettingMaxConversionsPerDay = "measurement.upload.max_conversions_per_day";
inline constexpr const char* kGWLSettingMaxEventsPerDay = "measurement.upload.max_events_per_day";
inline constexpr const char* kGWLSettingMaxPublicEventsPerDay = "measurement.upload.max_public_events_per_day";
inline constexpr const char* kGWLSettingMaxErrorEventsPerDay = "measurement.upload.max_error_events_per_day";
inline constexpr const char* kGWLSettingMaxTrackedCurrencies = "measurement.lifetimevalue.max_currency_tracked";
inline constexpr const char* kGWLSettingMaxPublicUserProperties = "measurement.upload.max_public_user_properties";
inline constexpr const char* kGWLSettingMaxEventNameCardinality = "measurement.upload.max_event_name_cardinality";
inline constexpr const char* kGWLSettingMaxPublicEventParams = "measurement.upload.max_public_event_params";
inline constexpr const char* kGWLSettingMaxEventsStored = "measurement.store.max_stored_events_per_app";
inline constexpr const char* kGWLSettingUploadingInterval = "measurement.upload.interval";
inline constexpr const char* kGWLSettingUploadingInitialDelayInterval = "measurement.upload.initial_upload_delay_time";
inline constexpr const char* kGWLSettingUploadMaxBundlesLimit = "measurement.upload.max_bundles";
inline constexpr const char* kGWLSettingUploadMaxEventsPerBundle = "measurement.upload.max_events_per_bundle";
inline constexpr const char* kGWLSettingUploadMaxSizeLimitBytes = "measurement.upload.max_batch_size";
inline constexpr const char* kGWLSettingUploadingRetryCount = "measurement.upload.retry_count";
inline constexpr const char* kGWLSettingUploadingRetryInterval = "measurement.upload.retry_time";
inline constexpr const char* kGWLSettingMaxBundlesCreatedPerIteration = "measurement.upload.max_bundles_created_per_iteration";
inline constexpr const char* kGWLSettingMaxRealtimeEventCountPerDay = "measurement.upload.max_realtime_events_per_day";
inline constexpr const char* kGWLSettingUploadingDebugModeInterval = "measurement.upload.debug_upload_interval";
inline constexpr const char* kGWLSettingUploadingRealTimeInterval = "measurement.upload.realtime_upload_interval";
inline constexpr const char* kGWLSettingBlocklistInternal = "measurement.upload.blacklist_internal";
inline constexpr const char* kGWLSettingBlocklistPublic = "measurement.upload.blacklist_public";
inline constexpr const char* kGWLSettingIsEventSamplingEnabled = "measurement.event_sampling_enabled";
inline constexpr const char* kGWLSettingAnalyticsAccountTimeZoneOffsetMinutes = "measurement.account.time_zone_offset_minutes";
inline constexpr const char* kGWLSettingChecksumEnabled = "measurement.quality.checksum";
inline constexpr const char* kGWLSettingAppInBackgroundParameterEnabled = "measurement.lifecycle.app_in_background_parameter";
inline constexpr const char* kGWLSettingMaxItemScopedCustomParameters = "measurement.upload.max_item_scoped_custom_parameters";
inline constexpr const char* kGWLSettingMaxPublicEventParameterValueLength = "measurement.upload.max_event_parameter_value_length";
inline constexpr const char* kGWLSettingMaxRealtimeDCUEventCountPerDay = "measurement.dma.dcu_event_max_realtime_daily_count";
inline constexpr const char* kGWLSettingMaxPSMStartCount = "measurement.psm_start_count";
inline constexpr const char* kGWLSettingMaxPSMRetryCount = "measurement.psm_retry_count";
inline constexpr const char* kGWLSettingPSMRetryInterval = "measurement.psm_retry_interval";
inline constexpr const char* kGWLSettingHashPrefixBitLengthEmail = "measurement.psm_prefix_email";
inline constexpr const char* kGWLSettingHashPrefixBitLengthPhone = "measurement.psm_prefix_phone";
inline constexpr const char* kGWLSettingMaxSignInDelayInDays = "measurement.psm_signin_delay";
inline constexpr const char* kGWLSettingPSMSessionStartEnabled = "measurement.psm_session_start_enabled";
inline constexpr const char* kGWLSettingPSMSessionStartHashPrefixBitLengthEmail = "measurement.psm_session_prefix_email";
inline constexpr const char* kGWLSettingPSMSessionStartHashPrefixBitLengthPhone = "measurement.psm_session_prefix_phone";
inline constexpr const char* kGWLSettingPSMGroupIDEnabled = "measurement.psm_group_id_enabled";
inline constexpr const char* kGWLSettingPSMGroupIDHashPrefixBitLengthEmail = "measurement.psm_group_id_prefix_email";
inline constexpr const char* kGWLSettingAdsOnDeviceConversionFeatureEnabled = "measurement.odm2_enabled";
inline constexpr const char* kGWLSettingIsDeferredDeepLinkEnabled = "measurement.ddl.enabled";
inline constexpr const char* kGWLSettingMaxDeferredDeepLinkRetryCount = "measurement.ddl.retry_count";
inline constexpr const char* kGWLSettingAttributionCacheTTLInterval = "measurement.attribution.cache.ttl";
inline constexpr const char* kGWLSettingRemoteConfigCacheTimeInterval = "measurement.config.cache_time";
inline constexpr const char* kGWLSettingSessionStitchingTokenFeatureEnabled = "measurement.session_stitching_token_enabled";
inline constexpr const char* kGWLSettingSKANUpdateConversionValueEnabled = "measurement.skan.update_conversion_value_enabled";
inline constexpr const char* kGWLSettingSKANInitialCVFetchDelay = "measurement.skan.initial_cv_fetch_delay_sec";
inline constexpr const char* kGWLSettingSKANCVFetchRetryInterval = "measurement.skan.cv_fetch_retry_interval_sec";
inline constexpr const char* kGWLSettingSKANCVFetchRetryLimit = "measurement.skan.cv_fetch_retry_limit";
inline constexpr const char* kGWLSettingSKANFirstWindowCVFetchDelay = "measurement.skan.first_window.initial_cv_fetch_delay_sec";
inline constexpr const char* kGWLSettingSKANFirstWindowCVFetchRetryInterval = "measurement.skan.first_window.cv_fetch_retry_interval_sec";
inline constexpr const char* kGWLSettingSKANFirstWindowCVFetchRetryLimit = "measurement.skan.first_window.cv_fetch_retry_limit";
inline constexpr const char* kGWLSettingSKANFirstWindowUploadInterval = "measurement.skan.first_window.upload_interval_sec";
inline constexpr const char* kGWLSettingCustomerTypeEnabled = "measurement.customer_type_enabled";

// Names of the experiment flags that take precedence over settings.
inline constexpr const char* kGWLExperimentFlagPSMSessionStartEnabled = "psm_session_start_enabled";
inline constexpr const char* kGWLExperimentFlagPSMGroupIDEnabled = "psm_group_id_enabled";
inline constexpr const char* kGWLExperimentFlagCustomerTypeEnabled = "customer_type_enabled";
inline constexpr const char* kGWLExperimentFlagSessionStitchingTokenFeatureEnabled =
    "session_stitching_token_feature_enabled";

// A setting's built-in default and the bounds a configured value must lie in
// (inclusive); a value outside them gives the default. Written with the
// field names: `{.defaultValue = 100, .maxValue = 500, .minValue = 0}`.
template <typename T>
struct GWLSettingBounds {
  T defaultValue;
  T maxValue;
  T minValue;
};

// The name under which the configuration registers with the experiments manager.
inline constexpr const char* kGWLExperimentsSDKName = "gauge_well";

class GWLRemoteConfig : public GWLExperimentsObserver, public std::enable_shared_from_this<GWLRemoteConfig> {
 public:
  // What an app instance reads of its surroundings besides its database.
  struct Dependencies {
    std::shared_ptr<GWLMonitor> monitor;  // the library's monitor when null
    // The experiments manager the configuration registers with at creation;
    // none: no experiments (no flags, no experiment IDs).
    std::shared_ptr<GWLExperimentsManaging> experimentManager;
    // Where experiment flags are read; the registration with
    // `experimentManager` when unset.
    std::shared_ptr<GWLExperimentFlagSource> experimentFlags;
    // The library's version number, registered with the experiments manager; kGWLLibraryVersion when unset.
    std::optional<int64_t> libraryVersion;
    std::shared_ptr<platform::Clock> clock;  // the system clock when null
    // The tracking-authorisation status (3: authorised); the platform's when null.
    std::shared_ptr<GWLIdentitySupport> identitySupport;
    // Makes a new event-editing runtime; none: configurations' programs are not loaded.
    GWLEventEditingFactory eventEditingFactory;
    // The service hosts; the built-in ones when unset.
    std::optional<GWLServiceHosts> hosts;
    // The public event names the library stores under internal names ("screen_view" to "_vs");
    // GWLPublicToInternalEventNameMap when unset.
    std::function<std::optional<std::string>(const std::string&)> internalEventName;
    // The app's Info dictionary value for a key; the app environment's when unset.
    std::function<std::optional<platform::Object>(const std::string&)> infoDictionaryValue;
    // Whether server-side tagging preview headers are set.
    std::function<bool()> hasSVTPPreviewHeaders;
    // The app's version, when known.
    std::function<std::optional<std::string>()> appVersion;
  };
  // The settings cache of one configuration: the settings as sent (text),
  // and what the typed getters converted them to, stored back on first read.
  class SettingsCache {
   public:
    explicit SettingsCache(std::map<std::string, platform::Object> values = {}) : values_(std::move(values)) {}
    [[nodiscard]] std::optional<platform::Object> valueForKey(const std::string& key) const;
    void setValue(const std::string& key, const platform::Object& value);

   private:
    mutable platform::Mutex mutex_;
    std::map<std::string, platform::Object> values_ ABSL_GUARDED_BY(mutex_);
  };

  // Everything one configuration puts in force. Built on the worker queue and
  // published whole; never changed once published (its settings cache only
  // keeps conversions of its own settings).
  struct Snapshot {
    std::shared_ptr<SettingsCache> settings = std::make_shared<SettingsCache>();
    // Event configurations under internal event names.
    std::map<std::string, std::shared_ptr<GWLPBEventConfig>> eventConfigByEventName;
    std::vector<std::string> dataControls;
    std::map<std::string, std::string> consentDefaults;
    std::map<std::string, std::string> consentDelegations;
    std::map<std::string, std::string> regionalDefaults;
    std::set<std::string> corePlatformServices;
    bool isDMARegion = true;
    std::shared_ptr<GWLEventEditingRuntime> eventEditing;
    // The configuration in force (stored or loaded), or null.
    std::shared_ptr<GWLPBMeasurementConfig> measurementConfig;
  };

  // Applied to a parsed number before it is checked (the time reader turns milliseconds into seconds).
  using Transform = std::function<std::optional<platform::Object>(const std::optional<platform::Object>&)>;

  // The process-wide instance whose getters all answer their defaults.
  static std::shared_ptr<GWLRemoteConfig> defaultInstance();

  // A configuration reporting through `monitor` (the library's monitor when
  // null) and asking `experimentFlags` (may be null) for feature flags.
  explicit GWLRemoteConfig(std::shared_ptr<GWLMonitor> monitor = nullptr,
                           std::shared_ptr<GWLExperimentFlagSource> experimentFlags = nullptr);

  // An app instance: an empty app identifier (29000) or a missing database
  // (29001) is refused with a report and answers null. It loads the stored
  // configuration.
  static std::shared_ptr<GWLRemoteConfig> initWithAppID(const std::string& appID,
                                                        const std::shared_ptr<GWLRemoteConfigStore>& database,
                                                        std::shared_ptr<GWLPersistedConfig> persistedConfig,
                                                        Dependencies dependencies);
  // Designated initialiser: `measurementConfig` goes through
  // updateMeasurementConfig; without one the stored configuration is loaded.
  static std::shared_ptr<GWLRemoteConfig> initWithAppID(const std::string& appID,
                                                        const std::shared_ptr<GWLRemoteConfigStore>& database,
                                                        std::shared_ptr<GWLPBMeasurementConfig> measurementConfig,
                                                        std::shared_ptr<GWLPersistedConfig> persistedConfig,
                                                        Dependencies dependencies);

  bool isDefaultInstance() const { return isDefaultInstance_; }
  const std::string& appID() const { return appID_; }

  // ---- the measurement configuration (worker queue) ----
  // A downloaded configuration body decoded; null, with a report and an
  // error, for a body that does not decode or decodes to nothing.
  [[nodiscard]] std::shared_ptr<GWLPBMeasurementConfig> measurementConfigFromData(std::span<const uint8_t> data,
                                                                    platform::Error* error = nullptr) const;
  // Stores and applies a downloaded configuration; answers whether it was applied.
  [[nodiscard]] bool updateMeasurementConfig(const std::shared_ptr<GWLPBMeasurementConfig>& config);
  // The stored configuration, or null.
  std::shared_ptr<GWLPBMeasurementConfig> measurementConfigFromDatabase();
  // Fills the caches from a configuration of this app, publishing them as a new snapshot.
  void parseRemoteConfigFromMeasurementConfig(const std::shared_ptr<GWLPBMeasurementConfig>& config);
  // The configuration as it stands, whole.
  std::shared_ptr<const Snapshot> snapshot() const;
  // Puts an earlier `snapshot()` back in force (a configuration whose store
  // was rolled back must not stay in force).
  void restoreSnapshot(std::shared_ptr<const Snapshot> snapshot);
  // Empties every cache; drops the configuration in force (not on the
  // default instance); then resets the experiments manager. The event-editing
  // runtime and the new-snapshot mark stay.
  void reset();

  // ---- experiments ----
  // When a new snapshot was announced: activates it, refreshes the flag cache
  // and clears the mark, all under the mark's lock. Answers whether a snapshot
  // was activated (false without an announcement); a failure is reported
  // (29024) and keeps the mark.
  [[nodiscard]] bool activateNewSnapshot();
  // GWLExperimentsObserver: marks a new snapshot (main queue); reports a
  // fetch error (29025); answers whether the engine exists and is enabled.
  void clientDidReceiveNewSnapshot(GWLExperimentsClient& client) override;
  void client(GWLExperimentsClient& client, const platform::Error& didReceiveFetchError) override;
  bool shouldFetchExperimentsForClient(GWLExperimentsClient& client) override;
  // Whether a new snapshot waits for activation.
  bool hasNewSnapshot() const;
  // The experiment identifiers of the experiments manager, ascending; empty without one.
  std::vector<int32_t> experimentIDs() const;

  // ---- what the configuration in force says ----
  // A copy of the event's configuration, or null (an empty name reports 29006).
  std::shared_ptr<GWLPBEventConfig> eventConfigWithName(const std::string& name) const;
  bool isEventBlocklisted(const std::string& name) const;
  bool isEventCustomConversion(const std::string& name) const;
  bool eventHasSamplingRate(const std::string& name) const;
  // The configured rate when it lies in 2 to 65535, else 1.
  int32_t samplingRateForEvent(const std::string& name) const;
  bool isExpired() const;
  double lastRemoteConfigUpdateTimestamp() const;
  int64_t version() const;
  // The configuration's upload subdomain when it is a valid one, else nullopt.
  [[nodiscard]] std::optional<std::string> uploadSubdomain() const;
  std::string uploadURL() const;
  // Null for an empty app identifier or a missing platform.
  [[nodiscard]] std::optional<std::string> remoteConfigURLWithPlatform(const std::optional<std::string>& platform,
                                                         int64_t SDKVersion, int64_t runtimeVersion) const;
  bool SVTPUploadEnabled() const;
  [[nodiscard]] std::optional<std::string> SVTPUploadURL() const;
  [[nodiscard]] std::optional<std::map<std::string, std::string>> SVTPUploadHTTPHeaders() const;
  std::vector<std::string> dataControls() const;
  std::shared_ptr<GWLEventEditingRuntime> eventEditing() const;
  std::map<std::string, std::string> consentDefaults() const;
  std::map<std::string, std::string> consentDelegations() const;
  std::map<std::string, std::string> regionalDefaults() const;
  std::set<std::string> corePlatformServices() const;
  bool isDMARegion() const;

  // ---- generic readers ----
  // The core read: the cached number as it is; else the parsed, transformed
  // and checked text; else `defaultValue`. The answer is stored under the key.
  // An empty key answers nullopt (report 29020).
  [[nodiscard]] std::optional<platform::Object> numberFromCacheWithKey(const std::string& key, const platform::Object& defaultValue,
                                                         const std::optional<platform::Object>& maxValue,
                                                         const std::optional<platform::Object>& minValue,
                                                         const Transform& block = {}) const;
  double timeIntervalInSecondsFromCacheWithKey(const std::string& key, const GWLSettingBounds<double>& bounds) const;
  int32_t intValueFromCacheWithKey(const std::string& key, const GWLSettingBounds<int32_t>& bounds) const;
  int64_t int64ValueFromCacheWithKey(const std::string& key, const GWLSettingBounds<int64_t>& bounds) const;
  int64_t int64ValueFromCacheWithKey(const std::string& key, int64_t defaultValue) const;
  bool boolValueFromCacheWithKey(const std::string& key, bool defaultValue) const;
  // Stores `value` under `key` and answers it; a null value or an empty key
  // stores nothing (report 29019) and answers nullopt.
  std::optional<platform::Object> cacheValue(const platform::Object& value, const std::string& key) const;
  // A plain decimal number: optional sign, digits, at most one decimal point,
  // with at least one digit. Integers that fit answer an integer, others a
  // double. A value that is no string answers nullopt (report 29018).
  [[nodiscard]] std::optional<platform::Object> numberFromString(const platform::Object& string) const;

  // The cache entry of a key, as it stands.
  [[nodiscard]] std::optional<platform::Object> cachedValueForKey(const std::string& key) const;
  // Replaces the whole cache with the settings of a newly parsed configuration.
  void replaceCachedValues(const std::map<std::string, std::string>& settings);
  // Copies the three cached experiment flags from the experiments client.
  void updateCachedExperimentFlags();

  // ---- typed getters ----
  double uploadingBackoffInterval() const;
  int32_t maxAudienceCount() const;
  int32_t maxFiltersPerAudience() const;
  int32_t maxFilterResultCount() const;
  int32_t maxParametersPerFilter() const;
  double databaseDeleteStaleBundlesInterval() const;
  double maxQueueTime() const;
  double adIDCacheTime() const;
  bool gateIDFAOnATTMASEnabled() const;
  double monitoringSamplePeriod() const;
  bool isNetworkBackgroundSessionEnabled() const;
  double networkTimeout() const;
  double sessionDefaultTimeoutInterval() const;
  double sessionEventUserEngagementInterval() const;
  bool efficientEngagementReportingEnabled() const;
  bool redundantEngagementRemovalEnabled() const;
  int32_t maxConversionsPerDay() const;
  int32_t maxEventsPerDay() const;
  int32_t maxPublicEventsPerDay() const;
  int32_t maxErrorEventsPerDay() const;
  int32_t maxTrackedCurrencies() const;
  int32_t maxPublicUserProperties() const;
  int32_t maxEventNameCardinality() const;
  int32_t maxPublicEventParams() const;
  int32_t maxEventsStored() const;
  double uploadingInterval() const;
  double uploadingInitialDelayInterval() const;
  int64_t uploadMaxBundlesLimit() const;
  int64_t uploadMaxEventsPerBundle() const;
  int64_t uploadMaxSizeLimitBytes() const;
  int32_t uploadingRetryCount() const;
  double uploadingRetryInterval() const;
  int32_t maxBundlesCreatedPerIteration() const;
  int32_t maxRealtimeEventCountPerDay() const;
  double uploadingDebugModeInterval() const;
  double uploadingRealTimeInterval() const;
  bool blocklistInternal() const;
  bool blocklistPublic() const;
  bool isEventSamplingEnabled() const;
  int32_t analyticsAccountTimeZoneOffsetMinutes() const;
  bool checksumEnabled() const;
  bool appInBackgroundParameterEnabled() const;
  int32_t maxItemScopedCustomParameters() const;
  int32_t maxPublicEventParameterValueLength() const;
  int32_t maxRealtimeDCUEventCountPerDay() const;
  int32_t maxPSMStartCount() const;
  int32_t maxPSMRetryCount() const;
  double PSMRetryInterval() const;
  int32_t hashPrefixBitLengthEmail() const;
  int32_t hashPrefixBitLengthPhone() const;
  int32_t maxSignInDelayInDays() const;
  bool PSMSessionStartEnabled() const;
  int32_t PSMSessionStartHashPrefixBitLengthEmail() const;
  int32_t PSMSessionStartHashPrefixBitLengthPhone() const;
  bool PSMGroupIDEnabled() const;
  int32_t PSMGroupIDHashPrefixBitLengthEmail() const;
  bool adsOnDeviceConversionFeatureEnabled() const;
  bool isDeferredDeepLinkEnabled() const;
  int32_t maxDeferredDeepLinkRetryCount() const;
  double attributionCacheTTLInterval() const;
  double remoteConfigCacheTimeInterval() const;
  bool sessionStitchingTokenFeatureEnabled() const;
  bool SKANUpdateConversionValueEnabled() const;
  double SKANInitialCVFetchDelay() const;
  double SKANCVFetchRetryInterval() const;
  int32_t SKANCVFetchRetryLimit() const;
  double SKANFirstWindowCVFetchDelay() const;
  double SKANFirstWindowCVFetchRetryInterval() const;
  int32_t SKANFirstWindowCVFetchRetryLimit() const;
  double SKANFirstWindowUploadInterval() const;
  bool customerTypeEnabled() const;

  // The larger of maxPublicEventParameterValueLength and 256.
  int32_t maxInternalEventParameterValueLength() const;
  // The limits the parameter sanitiser and the value validators apply, as in force now.
  GWLValueLimits valueLimits() const;

 private:
  GWLRemoteConfig(bool isDefaultInstance, std::shared_ptr<GWLMonitor> monitor,
                  std::shared_ptr<GWLExperimentFlagSource> experimentFlags);
  GWLRemoteConfig(std::string appID, std::weak_ptr<GWLRemoteConfigStore> database,
                  std::shared_ptr<GWLPersistedConfig> persistedConfig, Dependencies dependencies);
  std::shared_ptr<GWLPBMeasurementConfig> configInForce() const;
  bool isTrackingAuthorized() const;
  void registerEventEditingModules(GWLEventEditingRuntime& runtime, const std::shared_ptr<SettingsCache>& settings);
  std::shared_ptr<GWLMonitor> monitor() const;
  [[nodiscard]] std::optional<bool> cachedExperimentFlag(const char* name) const;
  // Registers with the experiments manager and activates the latest snapshot (at creation).
  void registerWithExperimentManager();

  // cacheValue into a given snapshot's settings.
  std::optional<platform::Object> cacheValue(SettingsCache& settings, const platform::Object& value,
                                             const std::string& key) const;
  // Builds the next snapshot from the one in force with `change` and publishes it.
  void publish(const std::function<void(Snapshot& next)>& change);
  // Parses `config` into a new snapshot; `inForce` also makes it the configuration in force.
  void applyMeasurementConfig(const std::shared_ptr<GWLPBMeasurementConfig>& config, bool inForce);
  // The steps of parsing, in their order, each filling its part of `next`.
  void parseSettings(const std::shared_ptr<GWLPBMeasurementConfig>& config, Snapshot& next);
  void parseEventConfigs(const std::shared_ptr<GWLPBMeasurementConfig>& config, Snapshot& next);
  void logParsedVersion(const std::shared_ptr<GWLPBMeasurementConfig>& config);
  void loadEventEditing(const std::shared_ptr<GWLPBMeasurementConfig>& config, Snapshot& next);
  void parseDataControls(const std::shared_ptr<GWLPBMeasurementConfig>& config, Snapshot& next);
  void parseConsent(const std::shared_ptr<GWLPBMeasurementConfig>& config, Snapshot& next);
  void parsePrivateSetMembershipSettings(const std::shared_ptr<GWLPBMeasurementConfig>& config, Snapshot& next);

  const bool isDefaultInstance_;
  std::shared_ptr<GWLMonitor> monitor_;
  // Set at creation, before the instance is shared.
  std::shared_ptr<GWLExperimentFlagSource> experimentFlags_;
  std::shared_ptr<GWLExperimentsManaging> experimentManager_;
  std::shared_ptr<GWLExperimentsClient> experimentClient_;

  mutable platform::Mutex flagsMutex_;
  std::map<std::string, platform::Object> cachedExperimentFlags_ ABSL_GUARDED_BY(flagsMutex_);
  // Serialises activations with the new-snapshot mark.
  mutable platform::Mutex newSnapshotMutex_;
  bool hasNewSnapshot_ ABSL_GUARDED_BY(newSnapshotMutex_) = false;

  const std::string appID_;
  const std::weak_ptr<GWLRemoteConfigStore> database_;
  const std::shared_ptr<GWLPersistedConfig> persistedConfig_;
  const Dependencies dependencies_;
  const GWLServiceHosts hosts_;

  // Serialises the builders of new snapshots (parsing, reset, cache replacement).
  platform::Mutex publishMutex_ ABSL_ACQUIRED_BEFORE(snapshotMutex_);
  // Guards only the pointer: a reader copies it and reads its snapshot unlocked.
  mutable platform::Mutex snapshotMutex_;
  std::shared_ptr<const Snapshot> snapshot_ ABSL_GUARDED_BY(snapshotMutex_) = std::make_shared<Snapshot>();
};
