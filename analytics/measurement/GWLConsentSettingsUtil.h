// GWLConsentSettingsUtil — the process-wide consent state every part of the
// engine asks.
//
// Four consent types, always in this order: "ad_storage", "analytics_storage",
// "ad_user_data", "ad_personalization". Values are the strings "granted" and
// "denied"; "eu_consent_policy" may stand for ad user data and ad
// personalisation when it comes from the Info dictionary. Comparisons ignore
// letter case: a value is denied when it is a string whose lower-case form is
// "denied", granted when it is "granted"; anything else (nil, numbers) is
// neither.
//
// The state: the current settings with the source that set them, the
// configuration's defaults, delegations and regional defaults, and one
// diagnostic digit per consent type. Sources (a lower number wins):
//
//   5    TCF consent strings            30   1P consent call
//   10   3P consent call                40   1P settings restored or handed over at start
//   20   3P settings restored; the      100  none (the initial value; after
//        Info dictionary's defaults          setConsentSettings(nullopt) or clearAllSettings)
//
// A source S may replace the current settings when S is not greater than the
// current source, or when S and the current source are 5 and 10 in either order.
//
// Diagnostic digits: 0 no information; 1 from the defaults; 2 ad user data
// delegated; 3 source 20; 4 source 40; 5 source 10 or 30; 7 source 5;
// 8 "eu_consent_policy"; 9 no value.
//
// Threading: the whole state lives under one mutex, held only while a method
// reads or changes it (never while it calls out), so any thread may ask and
// change, a question asked from inside a change's callbacks never deadlocks,
// and a read after a write on the same thread always sees the write. Every
// method applies at once, including those that only post their change in the
// platform's design (the setters, updates and clearing).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analytics/foundation/config/GWLConsentNames.h"
#include "platform/core/Object.h"

inline constexpr const char* kGWLConsentValueEUConsentPolicy = "eu_consent_policy";

// Consent sources.
inline constexpr int64_t kGWLConsentSourceTCF = 5;
inline constexpr int64_t kGWLConsentSource3P = 10;
inline constexpr int64_t kGWLConsentSource3PRestored = 20;
inline constexpr int64_t kGWLConsentSourceInfoDictionary = 20;
inline constexpr int64_t kGWLConsentSource1P = 30;
inline constexpr int64_t kGWLConsentSource1PRestored = 40;
inline constexpr int64_t kGWLConsentSourceNone = 100;

// Diagnostic digits.
inline constexpr int64_t kGWLConsentDiagnosticNone = 0;
inline constexpr int64_t kGWLConsentDiagnosticDefault = 1;
inline constexpr int64_t kGWLConsentDiagnosticDelegated = 2;
inline constexpr int64_t kGWLConsentDiagnosticSource20 = 3;
inline constexpr int64_t kGWLConsentDiagnosticSource40 = 4;
inline constexpr int64_t kGWLConsentDiagnosticSource10Or30 = 5;
inline constexpr int64_t kGWLConsentDiagnosticSource5 = 7;
inline constexpr int64_t kGWLConsentDiagnosticEUConsentPolicy = 8;
inline constexpr int64_t kGWLConsentDiagnosticNoValue = 9;

// Info dictionary keys of the consent defaults.
inline constexpr const char* kGWLDefaultAllowAdStorageInfoKey = "HALCYRA_ANALYTICS_DEFAULT_ALLOW_AD_STORAGE";
inline constexpr const char* kGWLDefaultAllowAnalyticsStorageInfoKey =
    "HALCYRA_ANALYTICS_DEFAULT_ALLOW_ANALYTICS_STORAGE";
inline constexpr const char* kGWLDefaultAllowAdUserDataInfoKey = "HALCYRA_ANALYTICS_DEFAULT_ALLOW_AD_USER_DATA";
inline constexpr const char* kGWLDefaultAllowAdPersonalizationSignalsInfoKey =
    "HALCYRA_ANALYTICS_DEFAULT_ALLOW_AD_PERSONALIZATION_SIGNALS";

// '0' for a denied value, '1' for a granted one, '-' for anything else (also none).
char GWLConsentSignalCharacter(const std::optional<platform::Object>& value);

class GWLConsentSettingsUtil {
 public:
  using Settings = platform::Dictionary;

  // The four consent types in their order.
  static const std::vector<std::string>& consentTypes();

  // Copies of the dictionaries; nullopt when unset.
  static std::optional<Settings> consentSettings();
  static std::optional<Settings> defaultSettings();
  static std::optional<Settings> delegatedSettings();
  static std::optional<Settings> regionalDefaults();
  static int64_t consentSource();

  // Sets the source, then refreshes the diagnostics with the source applied.
  static void setConsentSource(int64_t source);
  // Replaces the current settings; nullopt also sets the source to 100 and
  // refreshes the diagnostics with the source applied.
  static void setConsentSettings(const std::optional<Settings>& settings);
  static void setDefaultSettings(const std::optional<Settings>& settings);
  static void setDelegatedSettings(const std::optional<Settings>& settings);
  static void setRegionalDefaults(const std::optional<Settings>& settings);
  // Merges `settings` over the current ones (given values win); source and
  // diagnostics stay.
  static void updateSettings(const Settings& settings);
  // The same merge, then the source := `source`, then each consent type of
  // `settings` gets the source's diagnostic digit (only once the diagnostics exist).
  static void updateSettings(const Settings& settings, int64_t source);

  // The current "ad_storage" / "analytics_storage" value is denied (the
  // defaults are not consulted).
  static bool isAdStorageDenied();
  static bool isAnalyticsStorageDenied();
  // Ad user data: its own value ("eu_consent_policy" reads the regional
  // default, else denied); without one, the value of the consent type it is
  // delegated to when that has one; else its default.
  static bool isAdUserDataDenied();
  // Ad personalisation: its own value ("eu_consent_policy" as above), else
  // its default; false for denied, true for granted, nullopt otherwise.
  static std::optional<bool> adPersonalization();
  // `before` (an earlier answer of isAdUserDataDenied) differs from the present answer.
  static bool didAdUserDataConsentChange(bool before);
  static bool isConsentSourceHigherPriority(int64_t source);
  static bool isConsentSourceEqualPriority(int64_t source);

  // Only the four consent-type keys of `dictionary`, values unchanged.
  static Settings consentSettingsFromDictionary(const platform::Dictionary& dictionary);
  // The consent defaults of the app's Info dictionary (see the key table in
  // the implementation); a missing or unusable value contributes nothing.
  static Settings consentSettingsFromPlist();
  static Settings consentSettingsFromPlist(const platform::Dictionary& infoDictionary);

  // "G1" and the signal characters of the current "ad_storage" and
  // "analytics_storage" values, such as "G110".
  static std::string consentSignals();
  // "1" and the four diagnostic digits after a refresh without the source, such as "17799".
  static std::string consentDiagnostics();
  // Stores `digit` for `consentType`, making the diagnostics when missing.
  static void setDiagnosticSource(int64_t digit, const std::string& consentType);
  // Removes "ad_personalization" from the current settings, when there, with diagnostic 0.
  static void unsetAdPersonalization();
  // "ad_storage is granted. analytics_storage is denied." and, for each of
  // the other two types that has a current value, " ad_user_data is denied."
  static std::string description();
  // Source 100; no current settings, defaults, delegations or regional
  // defaults; every diagnostic 0.
  static void clearAllSettings();

  // Tests: the state of a new process (diagnostics not made yet).
  static void resetForTesting();

 private:
  struct State;
  static State& state();
};
