// GWLPersistedConfig — the library's typed settings that survive restarts.
//
// One process-wide instance on the suite "com.halcyra.qrx.measurement": its
// values live in a GWLPersistentDictionary whose file is named after the suite
// and lies in the library's directory. Every typed access runs synchronously
// on the settings' own serial queue, so reads and writes are serialised
// across threads (no accessor may be called from that queue). A typed write
// also requests a synchronisation one second after the last write of a burst;
// the file itself is written by the dictionary within a second of the first
// unsaved change. The measurement enabled state lives in the shared
// preferences instead and survives `clearValues`.
//
// Types: double and int64 settings read 0 when absent or of another kind;
// string and dictionary settings read only a value of that kind; number and
// object settings answer what is stored.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/core/Object.h"
#include "platform/util/Mutex.h"

namespace platform {
class Clock;
class NotificationCenter;
class SerialQueue;
class Timer;
}  // namespace platform
class GWLMonitor;
class GWLPersistentDictionary;
class GWLUserDefaults;

inline constexpr const char* kGWLPersistedConfigSuiteName = "com.halcyra.qrx.measurement";

// Keys of the settings.
inline constexpr const char* kGWLPersistedConfigLastDeleteStaleKey = "/halcyra/measurement/last_delete_stale";
inline constexpr const char* kGWLPersistedConfigIsSearchAdCampaignKey = "/halcyra/measurement/is_search_ad_campaign";
inline constexpr const char* kGWLPersistedConfigSearchAdLastAttemptTimestampKey = "/halcyra/measurement/search_ad_last_attempt_timestamp";
inline constexpr const char* kGWLPersistedConfigSearchAdNumberOfRetriesKey = "/halcyra/measurement/search_ad_number_of_retries";
inline constexpr const char* kGWLPersistedConfigAppInstanceIdKey = "/halcyra/measurement/app_instance_id";
inline constexpr const char* kGWLPersistedConfigQrxAppIdKey = "/halcyra/measurement/qrx_app_id";
inline constexpr const char* kGWLPersistedConfigPelmoAppIdKey = "/halcyra/measurement/pelmo_app_id";
inline constexpr const char* kGWLPersistedConfigHashedIdfaKey = "/halcyra/measurement/hashed_idfa";
inline constexpr const char* kGWLPersistedConfigDiversionKeyKey = "/halcyra/measurement/diversion_key";
inline constexpr const char* kGWLPersistedConfigMeasurementEnabledStateKey = "/halcyra/measurement/measurement_enabled_state";
inline constexpr const char* kGWLPersistedConfigLastBackoffKey = "/halcyra/measurement/last_backoff";
inline constexpr const char* kGWLPersistedConfigLastSuccessfulUploadKey = "/halcyra/measurement/last_successful_upload";
inline constexpr const char* kGWLPersistedConfigLastFailedUploadKey = "/halcyra/measurement/last_failed_upload";
inline constexpr const char* kGWLPersistedConfigAppVersionKey = "/halcyra/measurement/app_version";
inline constexpr const char* kGWLPersistedConfigOsVersionKey = "/halcyra/measurement/os_version";
inline constexpr const char* kGWLPersistedConfigMidnightOffsetKey = "/halcyra/measurement/midnight_offset";
inline constexpr const char* kGWLPersistedConfigLastMonitorDataSampledTimestampKey = "/halcyra/measurement/last_monitor_data_sampled_timestamp";
inline constexpr const char* kGWLPersistedConfigFirstOpenTimestampMsKey = "/halcyra/measurement/first_open_timestamp_ms";
inline constexpr const char* kGWLPersistedConfigLastModifiedSinceKeyKey = "/halcyra/measurement/last_modified_since_key";
inline constexpr const char* kGWLPersistedConfigConfigEtagKey = "/halcyra/measurement/config_etag";
inline constexpr const char* kGWLPersistedConfigConfigQrxVersionKey = "/halcyra/measurement/config_qrx_version";
inline constexpr const char* kGWLPersistedConfigLoadTimestampKey = "/halcyra/measurement/load_timestamp";
inline constexpr const char* kGWLPersistedConfigAllowPersonalizedAdsKey = "/halcyra/measurement/allow_personalized_ads";
inline constexpr const char* kGWLPersistedConfigCorvaneFeatureRolloutsKey = "/halcyra/measurement/corvane_feature_rollouts";
inline constexpr const char* kGWLPersistedConfigDeepLinkRetrievalCompleteKey = "/halcyra/measurement/deep_link_retrieval_complete";
inline constexpr const char* kGWLPersistedConfigDeepLinkRetryCountKey = "/halcyra/measurement/deep_link_retry_count";
inline constexpr const char* kGWLPersistedConfigSetLastAdvertisingIdResetKey = "/halcyra/measurement/set_last_advertising_id_reset";
inline constexpr const char* kGWLPersistedConfigUnmatchedFirstOpenKey = "/halcyra/measurement/unmatched_first_open";
inline constexpr const char* kGWLPersistedConfigPreviousFirstOpenCountKey = "/halcyra/measurement/previous_first_open_count";
inline constexpr const char* kGWLPersistedConfigPreviousBundledConsentSignalsKey = "/halcyra/measurement/previous_bundled_consent_signals";
inline constexpr const char* kGWLPersistedConfigAdCampaignInfoBufferKey = "/halcyra/measurement/ad_campaign_info_buffer";
inline constexpr const char* kGWLPersistedConfigPsmHashedInputDataKey = "/halcyra/measurement/psm_hashed_input_data";
inline constexpr const char* kGWLPersistedConfigPsmInputTypeKey = "/halcyra/measurement/psm_input_type";
inline constexpr const char* kGWLPersistedConfigPsmCurrentDayKey = "/halcyra/measurement/psm_current_day";
inline constexpr const char* kGWLPersistedConfigLastEngagementEndKey = "/halcyra/measurement/last_engagement_end";
inline constexpr const char* kGWLPersistedConfigSessionNumberKey = "/halcyra/measurement/session_number";
inline constexpr const char* kGWLPersistedConfigSessionTimeoutKey = "/halcyra/measurement/session_timeout";
inline constexpr const char* kGWLPersistedConfigDefaultEventParametersKey = "/halcyra/measurement/default_event_parameters";
inline constexpr const char* kGWLPersistedConfigLastUploadedEventMillisKey = "/halcyra/measurement/last_uploaded_event_millis";
inline constexpr const char* kGWLPersistedConfigSkanEvaluationEventTimeMillisKey = "/halcyra/measurement/skan_evaluation_event_time_millis";
inline constexpr const char* kGWLPersistedConfigSkanEvaluationUpdateBackoffMillisKey = "/halcyra/measurement/skan_evaluation_update_backoff_millis";

class GWLPersistedConfig : public std::enable_shared_from_this<GWLPersistedConfig> {
 public:
  struct Dependencies {
    std::shared_ptr<platform::Clock> clock;                            // system clock when null
    std::function<uint64_t(uint64_t)> randomBelow;                     // secure random when empty
    std::shared_ptr<GWLUserDefaults> sharedUserDefaults;               // the app's domain when null
    std::shared_ptr<platform::NotificationCenter> notificationCenter;  // default center when null
    std::shared_ptr<GWLMonitor> monitor;                               // the library's monitor when null
  };

  // The process-wide settings; null (report 27001) when they cannot be made.
  static std::shared_ptr<GWLPersistedConfig> sharedInstance();
  // Settings on the suite `suiteName`; null for an empty name. Moves the
  // suite's old preferences file into the library's directory first.
  static std::shared_ptr<GWLPersistedConfig> create(const std::string& suiteName, Dependencies dependencies = {});
  // Tests: the next sharedInstance() makes new settings.
  static void resetSharedInstanceForTesting();
  // Cancels a pending synchronisation request.
  ~GWLPersistedConfig();

  // Removes every setting of the file.
  void clearValues();

  // ---- settings ----
  double lastDeleteStaleBundlesTimestamp() const;
  void setLastDeleteStaleBundlesTimestamp(double value);
  double lastSearchAdLookUpTimestamp() const;
  void setLastSearchAdLookUpTimestamp(double value);
  int64_t searchAdRetryCount() const;
  void setSearchAdRetryCount(int64_t value);
  [[nodiscard]] std::optional<std::string> appInstanceID() const;
  void setAppInstanceID(const std::optional<std::string>& value);
  [[nodiscard]] std::optional<std::string> appIDFromQRX() const;
  void setAppIDFromQRX(const std::optional<std::string>& value);
  [[nodiscard]] std::optional<std::string> appIDFromPelmo() const;
  void setAppIDFromPelmo(const std::optional<std::string>& value);
  [[nodiscard]] std::optional<std::string> hashedResettableDeviceID() const;
  void setHashedResettableDeviceID(const std::optional<std::string>& value);
  [[nodiscard]] std::optional<std::string> diversionKey() const;
  void setDiversionKey(const std::optional<std::string>& value);
  double lastBackoffTimestamp() const;
  void setLastBackoffTimestamp(double value);
  double lastSuccessfulUploadTimestamp() const;
  void setLastSuccessfulUploadTimestamp(double value);
  double lastFailedUploadTimestamp() const;
  void setLastFailedUploadTimestamp(double value);
  [[nodiscard]] std::optional<std::string> appVersion() const;
  void setAppVersion(const std::optional<std::string>& value);
  [[nodiscard]] std::optional<std::string> osVersion() const;
  void setOSVersion(const std::optional<std::string>& value);
  double lastMonitorDataSampledTimestamp() const;
  void setLastMonitorDataSampledTimestamp(double value);
  int64_t firstOpenTimestampMilliseconds() const;
  void setFirstOpenTimestampMilliseconds(int64_t value);
  [[nodiscard]] std::optional<std::string> configServerLastModifiedString() const;
  void setConfigServerLastModifiedString(const std::optional<std::string>& value);
  [[nodiscard]] std::optional<std::string> configServerETag() const;
  void setConfigServerETag(const std::optional<std::string>& value);
  int64_t configQRXVersion() const;
  void setConfigQRXVersion(int64_t value);
  [[nodiscard]] std::optional<platform::Object> loadTimestampValue() const;
  void setLoadTimestampValue(const platform::Object& value);
  [[nodiscard]] std::optional<platform::Object> allowPersonalizedAds() const;
  void setAllowPersonalizedAds(const platform::Object& value);
  [[nodiscard]] std::optional<std::string> corvaneFeatureRollouts() const;
  void setCorvaneFeatureRollouts(const std::optional<std::string>& value);
  [[nodiscard]] std::optional<platform::Object> deferredDeepLinkRetrievalComplete() const;
  void setDeferredDeepLinkRetrievalComplete(const platform::Object& value);
  int64_t deferredDeepLinkRetryCount() const;
  void setDeferredDeepLinkRetryCount(int64_t value);
  bool shouldSetLastAdvertisingIDResetUserProperty() const;
  void setShouldSetLastAdvertisingIDResetUserProperty(bool value);
  bool unmatchedFirstOpenWithoutIDFA() const;
  void setUnmatchedFirstOpenWithoutIDFA(bool value);
  [[nodiscard]] std::optional<platform::Object> previousFirstOpenCount() const;
  void setPreviousFirstOpenCount(const platform::Object& value);
  [[nodiscard]] std::optional<std::string> previousBundledConsentSignals() const;
  void setPreviousBundledConsentSignals(const std::optional<std::string>& value);
  [[nodiscard]] std::optional<platform::Object> adCampaignInfoBuffer() const;
  void setAdCampaignInfoBuffer(const platform::Object& value);
  [[nodiscard]] std::optional<platform::Object> PSMHashedInputData() const;
  void setPSMHashedInputData(const platform::Object& value);
  int64_t PSMInputType() const;
  void setPSMInputType(int64_t value);
  [[nodiscard]] std::optional<platform::Object> PSMCurrentDay() const;
  void setPSMCurrentDay(const platform::Object& value);
  double lastSessionActivityClockTime() const;
  void setLastSessionActivityClockTime(double value);
  int64_t sessionNumber() const;
  void setSessionNumber(int64_t value);
  [[nodiscard]] std::optional<platform::Object> sessionTimeoutValue() const;
  void setSessionTimeoutValue(const platform::Object& value);
  [[nodiscard]] std::optional<platform::Dictionary> defaultEventParameters() const;
  void setDefaultEventParameters(const std::optional<platform::Dictionary>& value);
  int64_t lastUploadedEventTimestampMillis() const;
  void setLastUploadedEventTimestampMillis(int64_t value);
  int64_t SKANEvaluationEventTimeMillis() const;
  void setSKANEvaluationEventTimeMillis(int64_t value);
  int64_t SKANEvaluationUpdateBackoffMillis() const;
  void setSKANEvaluationUpdateBackoffMillis(int64_t value);
  // Only numbers are stored; both go straight to the dictionary.
  [[nodiscard]] std::optional<platform::Object> searchAdCampaignValue() const;
  void setSearchAdCampaignValue(const platform::Object& value);
  // 1 collection enabled, 2 disabled, 0 never set; kept in the shared preferences.
  int64_t measurementEnabledState() const;
  void setMeasurementEnabledState(int64_t value);
  // Seconds in [0, 86400) with millisecond resolution, drawn once per install
  // (read, drawn and stored in one step) and kept until `clearValues`.
  double midnightOffset();

  // ---- generic access ----
  bool boolForKey(const std::string& key) const;
  int64_t int64ForKey(const std::string& key) const;
  // Reads from the shared preferences.
  int64_t int64ForKey(const std::string& key, const GWLUserDefaults& userDefault) const;
  double doubleForKey(const std::string& key) const;
  [[nodiscard]] std::optional<std::string> stringForKey(const std::string& key) const;
  [[nodiscard]] std::optional<platform::Dictionary> dictionaryForKey(const std::string& key) const;
  [[nodiscard]] std::optional<platform::Object> numberForKey(const std::string& key) const;
  void setBool(bool value, const std::string& key);
  void setInt64(int64_t value, const std::string& key);
  void setDouble(double value, const std::string& key);
  // nullopt removes the key.
  void setString(const std::optional<std::string>& value, const std::string& key);
  // nullopt removes the key; a dictionary a property list cannot hold is refused (report 27002).
  void setDictionary(const std::optional<platform::Dictionary>& value, const std::string& key);
  // A null object removes the key.
  void setNumber(const platform::Object& value, const std::string& key);

  // ---- synchronisation ----
  void cancelScheduledSynchronize();
  // Requests a synchronisation one second from now, replacing a pending request.
  void scheduleSynchronizeToDisk();
  // Writes pending changes now; on the main thread only requests it.
  void synchronizeToDisk();

  const std::shared_ptr<GWLPersistentDictionary>& dictionary() const { return userDefaults_; }
  const std::string& name() const { return name_; }

 private:
  GWLPersistedConfig(std::string name, Dependencies dependencies);
  [[nodiscard]] std::optional<platform::Object> objectOnQueue(const std::string& key) const;
  void setObjectOnQueue(const platform::Object& value, const std::string& key, bool requestSynchronize);
  std::shared_ptr<GWLMonitor> monitor() const;

  const std::string name_;
  Dependencies dependencies_;
  std::shared_ptr<GWLPersistentDictionary> userDefaults_;
  std::shared_ptr<platform::SerialQueue> serialQueue_;
  double midnightOffsetWithoutStore_ = -1;  // settings queue only

  platform::Mutex lock_;
  std::shared_ptr<platform::Timer> synchronizeBlock_ ABSL_GUARDED_BY(lock_);
};
