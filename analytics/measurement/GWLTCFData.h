// GWLTCFData — one snapshot of the TCF consent strings that a consent
// management platform writes into the app's user defaults, with the purpose
// and vendor checks that decide ad storage, ad personalisation and ad user data.
//
// The keys are written by another component of the app and may hold anything.
// A key of the wrong type reads as absent (a number stored as text, text
// stored as a number); a number that is not finite reads as 0; text is read as
// valid UTF-8 (every ill-formed sequence, and every NUL character, becomes
// U+FFFD, one UTF-16 unit each, so indexes keep their place).
//
// Bit strings: bit i is set when the UTF-16 unit at index i is "1"; any other
// character (or an index outside the string) is an unset bit. Purpose N is
// bit N - 1; the library's vendor (ID 755) is bit 754 of the vendor strings.
// Asking for bit i reads at most the first i + 1 characters, so strings of any
// length cost nothing more than short ones.
//
// Publisher restrictions: for purpose N = 1 to 10 the one character at UTF-16
// index 754 of "IABTCF_PublisherRestrictions<N>", or "" when that string is
// shorter or missing. A lone surrogate half there reads as U+FFFD.
//
// Threading: a snapshot is a plain value. `readFromUserDefaults` changes it and
// must not run while another thread reads it; every other method only reads.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Object.h"

class GWLUserDefaults;

namespace platform {
class AppEnvironment;
}

// The Info dictionary switch: absent YES, a number its boolean value, any other value NO.
inline constexpr const char* kGWLTCFDataEnabledInfoKey = "HALCYRA_ANALYTICS_TCF_DATA_ENABLED";

// Keys of the consent management platform.
inline constexpr const char* kGWLTCFEnableAdvertiserConsentModeKey = "IABTCF_EnableAdvertiserConsentMode";
inline constexpr const char* kGWLTCFVendorConsentsKey = "IABTCF_VendorConsents";
inline constexpr const char* kGWLTCFVendorLegitimateInterestsKey = "IABTCF_VendorLegitimateInterests";
inline constexpr const char* kGWLTCFCmpSdkIDKey = "IABTCF_CmpSdkID";
inline constexpr const char* kGWLTCFGdprAppliesKey = "IABTCF_gdprApplies";
inline constexpr const char* kGWLTCFPolicyVersionKey = "IABTCF_PolicyVersion";
inline constexpr const char* kGWLTCFPurposeConsentsKey = "IABTCF_PurposeConsents";
inline constexpr const char* kGWLTCFPurposeLegitimateInterestsKey = "IABTCF_PurposeLegitimateInterests";
// Followed by the purpose number 1 to 10; the library's own copy keeps the
// ten restrictions as one array under the bare name.
inline constexpr const char* kGWLTCFPublisherRestrictionsKey = "IABTCF_PublisherRestrictions";
inline constexpr const char* kGWLTCFPurposeOneTreatmentKey = "IABTCF_PurposeOneTreatment";
inline constexpr const char* kGWLTCFPublisherCCKey = "IABTCF_PublisherCC";

inline constexpr int64_t kGWLTCFPublisherRestrictionCount = 10;
// The library's vendor ID is 755: its entry is the character at this index.
inline constexpr int64_t kGWLTCFVendorIndex = 754;

// Publisher restriction types.
inline constexpr int64_t kGWLTCFRestrictionNotAllowed = 0;
inline constexpr int64_t kGWLTCFRestrictionConsentRequired = 1;
inline constexpr int64_t kGWLTCFRestrictionLegitimateInterestRequired = 2;
inline constexpr int64_t kGWLTCFRestrictionNone = 3;

// Legal bases of a purpose.
inline constexpr int64_t kGWLTCFLegalBasisNone = 0;
// A restriction the registration cannot meet.
inline constexpr int64_t kGWLTCFLegalBasisUnmetRestriction = 1;
inline constexpr int64_t kGWLTCFLegalBasisConsent = 2;
inline constexpr int64_t kGWLTCFLegalBasisLegitimateInterest = 3;

// Consent reasons of a purpose; only 1 grants it.
inline constexpr int64_t kGWLTCFReasonGranted = 1;
inline constexpr int64_t kGWLTCFReasonNoLegalBasis = 3;
inline constexpr int64_t kGWLTCFReasonNoVendorConsent = 4;
inline constexpr int64_t kGWLTCFReasonNoVendorLegitimateInterest = 5;
inline constexpr int64_t kGWLTCFReasonNoPurposeConsent = 6;
inline constexpr int64_t kGWLTCFReasonNoPurposeLegitimateInterest = 7;
inline constexpr int64_t kGWLTCFReasonUnmetRestriction = 8;

// A number of the TCF keys as it was written: a boolean, a 64-bit integer or a
// finite double, held whole (an ID beyond 32 bits neither truncates nor overflows).
class GWLTCFNumber {
 public:
  GWLTCFNumber(int64_t value) : value_(value) {}
  // nullopt for anything but a number (text such as "1" included); a NaN or
  // infinite double reads as 0.
  static std::optional<GWLTCFNumber> fromObject(const std::optional<platform::Object>& object);

  // The integer value: a double truncated toward zero (saturating), a boolean 0 or 1.
  int64_t integerValue() const;
  // Whether the number is not zero.
  bool boolValue() const;
  // The number as text: an integer in decimal, a boolean "1" or "0", a double
  // in its shortest form ("1.5", "2").
  std::string text() const;
  // The number as it is stored.
  const platform::Object& object() const { return value_; }

  friend bool operator==(const GWLTCFNumber&, const GWLTCFNumber&) = default;

 private:
  explicit GWLTCFNumber(platform::Object value) : value_(std::move(value)) {}
  platform::Object value_;
};

class GWLTCFData {
 public:
  using Restrictions = std::vector<std::string>;

  // The app's shared user defaults, the enabled flag from the shared app
  // environment's Info dictionary, every other field absent.
  GWLTCFData();
  // The same with the given app defaults and environment (null: the shared ones).
  GWLTCFData(std::shared_ptr<GWLUserDefaults> userDefaults, std::shared_ptr<platform::AppEnvironment> environment);
  // Takes the values unchanged; no user defaults (reading then finds nothing).
  GWLTCFData(bool isTCFDataEnabled, std::optional<GWLTCFNumber> isAdvertiserConsentModeEnabled,
             std::optional<std::string> vendorConsents, std::optional<std::string> vendorLegitimateInterests,
             std::optional<GWLTCFNumber> cmpSDKID, std::optional<GWLTCFNumber> gdprApplies,
             std::optional<GWLTCFNumber> policyVersion, std::optional<std::string> purposeConsents,
             std::optional<std::string> purposeLegitimateInterests,
             std::optional<Restrictions> publisherRestrictions,
             std::optional<GWLTCFNumber> isPurposeOneTreatmentEnabled, std::optional<std::string> publisherCC);

  // Re-reads every key (the enabled flag excepted); the restrictions become
  // ten entries.
  void readFromUserDefaults();
  // The Info dictionary switch of `environment`.
  static bool readTCFDataEnabledStateFromPlist(const platform::AppEnvironment& environment);

  // Typed reads of a stored value, as the snapshot reads its keys.
  static std::optional<GWLTCFNumber> numberForKey(const GWLUserDefaults& defaults, const std::string& key);
  static std::optional<std::string> stringForKey(const GWLUserDefaults& defaults, const std::string& key);
  // Text as the snapshot holds it: valid UTF-8 without NUL characters.
  static std::string cleanedText(const std::string& text);

  // Bit 754 of the vendor consents / vendor legitimate interests.
  bool hasHalcyraInVendorConsents() const;
  bool hasHalcyraInVendorLegitimateInterests() const;
  // The policy version is set and greater than 3.
  bool canAccessAdUserDataPurpose() const;
  // Consent reason of purpose 1 is 1.
  bool isAdStoragePurposeGranted() const;
  // Consent reasons of purposes 3 and 4 are both 1.
  bool isAdPersonalizationPurposeGranted() const;
  // The policy version allows it and the consent reasons of purposes 1 and 7 are both 1.
  bool isAdUserDataPurposeGranted() const;
  bool isPurposeGrantedWithRestrictionCheckForPurposeID(int64_t purposeID) const;
  // One of the kGWLTCFReason... values.
  int64_t consentReasonForPurposeGrantedWithRestrictionCheckForPurposeID(int64_t purposeID) const;
  // One of the kGWLTCFLegalBasis... values.
  int64_t legalBasisCheckFromPurposeID(int64_t purposeID) const;
  // The restriction type of purpose N; kGWLTCFRestrictionNone when N - 1 is
  // not an index of the restrictions.
  int64_t publisherRestrictionForPurposeID(int64_t purposeID) const;
  // "0", "1", "2" give their type; anything else (also "") kGWLTCFRestrictionNone.
  static int64_t publisherRestrictionTypeFromString(const std::string& text);
  // The purpose-one-treatment number is true and the publisher country is exactly "CH".
  bool isPurposeOneGrantedWithSpecialTreatment() const;

  const std::shared_ptr<GWLUserDefaults>& userDefaults() const { return userDefaults_; }
  bool isTCFDataEnabled() const { return isTCFDataEnabled_; }
  const std::optional<GWLTCFNumber>& isAdvertiserConsentModeEnabled() const { return isAdvertiserConsentModeEnabled_; }
  const std::optional<std::string>& vendorConsents() const { return vendorConsents_; }
  const std::optional<std::string>& vendorLegitimateInterests() const { return vendorLegitimateInterests_; }
  const std::optional<GWLTCFNumber>& cmpSDKID() const { return cmpSDKID_; }
  const std::optional<GWLTCFNumber>& gdprApplies() const { return gdprApplies_; }
  const std::optional<GWLTCFNumber>& policyVersion() const { return policyVersion_; }
  const std::optional<std::string>& purposeConsents() const { return purposeConsents_; }
  const std::optional<std::string>& purposeLegitimateInterests() const { return purposeLegitimateInterests_; }
  const std::optional<Restrictions>& publisherRestrictions() const { return publisherRestrictions_; }
  const std::optional<GWLTCFNumber>& isPurposeOneTreatmentEnabled() const { return isPurposeOneTreatmentEnabled_; }
  const std::optional<std::string>& publisherCC() const { return publisherCC_; }

 private:
  std::shared_ptr<GWLUserDefaults> userDefaults_;
  bool isTCFDataEnabled_ = true;
  std::optional<GWLTCFNumber> isAdvertiserConsentModeEnabled_;
  std::optional<std::string> vendorConsents_;
  std::optional<std::string> vendorLegitimateInterests_;
  std::optional<GWLTCFNumber> cmpSDKID_;
  std::optional<GWLTCFNumber> gdprApplies_;
  std::optional<GWLTCFNumber> policyVersion_;
  std::optional<std::string> purposeConsents_;
  std::optional<std::string> purposeLegitimateInterests_;
  std::optional<Restrictions> publisherRestrictions_;
  std::optional<GWLTCFNumber> isPurposeOneTreatmentEnabled_;
  std::optional<std::string> publisherCC_;
};
