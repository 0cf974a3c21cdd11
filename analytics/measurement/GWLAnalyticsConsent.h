// GWLAnalyticsConsent — the entry class's consent calls and the consent kept
// in its user-defaults suite "GWLAnalyticsSuiteName".
//
// `setConsent` takes the app's consent (or the TCF client's, or the 3P
// consent call's, by key), keeps the four consent types with a value of
// exactly "granted" or "denied", refuses a source of lower priority than the
// one in force, merges the rest into GWLConsentSettingsUtil and persists the
// result. Two effects leave through the sink the entry class installs: the
// internal event "_dcu" (origin "auto", "_r" = 1) when the configuration has
// consent defaults and the ad-user-data answer changed, and the user property
// "allow_personalized_ads" ("YES"/"NO") when ad personalisation was given.
//
// Persisted keys of the suite:
//   "consent_settings"           settings persisted with a source of 21 or more
//   "consent_settings_3p"        ... with a source below 21 other than 5
//   "consent_settings_tcf"       ... with source 5
//   "consent_source"             the source of the last persisted settings (100 when absent)
//   "consent_settings_on_start"  consent types found in the start options
//   "deferred_consent_reset"     only removed here
//
// Threading: any thread. Consent calls run one at a time (a lock of their
// own around restore, check, merge and persist), and the sink is called after
// that lock is released, so the sink may ask consent questions and even set
// consent again. Values read from the suite are stored data: a value of the
// wrong type reads as absent.
#pragma once

#include <absl/base/thread_annotations.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/core/Object.h"
#include "platform/util/Mutex.h"

class GWLMonitor;
class GWLRemoteConfig;
class GWLUserDefaults;

inline constexpr const char* kGWLAnalyticsSuiteName = "GWLAnalyticsSuiteName";

// Keys of the suite, and of the consent calls.
inline constexpr const char* kGWLConsentSettingsKey = "consent_settings";
inline constexpr const char* kGWLConsentSettings3PKey = "consent_settings_3p";
inline constexpr const char* kGWLConsentSettingsTCFKey = "consent_settings_tcf";
inline constexpr const char* kGWLConsentSourceKey = "consent_source";
inline constexpr const char* kGWLConsentSettingsOnStartKey = "consent_settings_on_start";
inline constexpr const char* kGWLDeferredConsentResetKey = "deferred_consent_reset";

// What a consent change hands on. The entry class implements it; until one
// is installed, nothing leaves.
class GWLAnalyticsConsentSink {
 public:
  virtual ~GWLAnalyticsConsentSink() = default;
  // Logs an internal event (no name check), such as "_dcu".
  virtual void logInternalEvent(const std::string& origin, const std::string& name,
                                const platform::Dictionary& parameters) = 0;
  // Sets a public string user property, such as "allow_personalized_ads".
  virtual void setUserPropertyString(const std::optional<std::string>& value, const std::string& name) = 0;
};

// Reports of the consent calls.
inline constexpr int64_t kGWLEmptyConsentCode = 25041;
inline constexpr const char* kGWLEmptyConsentMessage = "Discarding empty consent settings";
inline constexpr int64_t kGWLInvalidConsentValueCode = 25042;
inline constexpr const char* kGWLInvalidConsentValueMessage =
    "Valid consent values are 'granted' and 'denied'. Ignoring invalid consent setting";
inline constexpr int64_t kGWLLowerPriorityConsentCode = 25043;
inline constexpr const char* kGWLLowerPriorityConsentMessage = "Ignoring lower priority consent settings";
inline constexpr int64_t kGWLConsentDescriptionCode = 25055;

inline constexpr const char* kGWLConsentChangedEventName = "_dcu";
inline constexpr const char* kGWLConsentChangedReasonParameter = "_r";
inline constexpr const char* kGWLAllowPersonalizedAdsProperty = "allow_personalized_ads";

class GWLAnalyticsConsent {
 public:
  struct Dependencies {
    std::shared_ptr<GWLUserDefaults> defaults;  // the suite "GWLAnalyticsSuiteName" when null
    std::shared_ptr<GWLMonitor> monitor;        // the library's monitor when null
    // The configuration in force; the engine's (or the default one) when empty.
    std::function<std::shared_ptr<GWLRemoteConfig>()> remoteConfig;
  };

  explicit GWLAnalyticsConsent(Dependencies dependencies = {});

  // The entry class; held weakly. Until one is set nothing is handed on.
  void setSink(std::weak_ptr<GWLAnalyticsConsentSink> sink);

  // `setConsent(settings, "consent_settings")`.
  void setConsent(const platform::Dictionary& settings);
  // Source 5 for "consent_settings_tcf", 10 for "consent_settings_3p", 30 for
  // any other key. Invalid values are dropped (25042), an empty result is
  // discarded (25041), a lower-priority source refused (25043).
  void setConsent(const platform::Dictionary& settings, const std::string& key);

  // Restores the persisted settings with the persisted source (see the header comment).
  void loadPersistedConsentSettings();
  // Writes `settings` under the key of `source` and the source under "consent_source".
  void persistConsentSettings(const std::optional<platform::Dictionary>& settings, int64_t source);
  int64_t persistedConsentSource() const;

  std::optional<platform::Dictionary> consentSettingsTCF() const;
  std::optional<platform::Dictionary> consentSettings3P() const;
  std::optional<platform::Dictionary> consentSettings1P() const;
  std::optional<platform::Dictionary> consentSettings1PStart() const;
  // The entry class keeps the consent types of the start options here.
  void setConsentSettings1PStart(const std::optional<platform::Dictionary>& settings);
  bool deferredResetOnDeniedConsent() const;
  void removeStartUpConsentSettings();
  void removeDeferredResetOnDeniedConsent();
  // Removes every consent key of the suite, then clears the consent state.
  void clearConsent();

  const std::shared_ptr<GWLUserDefaults>& defaults() const { return defaults_; }

 private:
  // Restores the persisted settings; with `lock_` held.
  void loadPersistedConsentSettingsLocked() ABSL_EXCLUSIVE_LOCKS_REQUIRED(lock_);
  std::shared_ptr<GWLMonitor> monitor() const;
  std::shared_ptr<GWLRemoteConfig> remoteConfig() const;
  std::shared_ptr<GWLAnalyticsConsentSink> sink() const;

  Dependencies dependencies_;
  std::shared_ptr<GWLUserDefaults> defaults_;
  // Serialises the consent calls (restore, check, merge, persist); never held
  // while the sink is called.
  platform::Mutex lock_;
  mutable platform::Mutex sinkLock_;
  std::weak_ptr<GWLAnalyticsConsentSink> sink_ ABSL_GUARDED_BY(sinkLock_);
};
