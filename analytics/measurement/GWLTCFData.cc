#include "analytics/measurement/GWLTCFData.h"

#include <charconv>
#include <cmath>
#include <string_view>

#include "analytics/foundation/core/GWLMilliseconds.h"
#include "analytics/foundation/core/GWLStringAdditions.h"
#include "analytics/foundation/core/GWLUserDefaults.h"
#include "analytics/measurement/GWLTCFRegistration.h"
#include "platform/env/AppEnvironment.h"
#include "platform/text/Utf8.h"

namespace {

constexpr const char* kPublisherCountrySwitzerland = "CH";

// The start of `text` that decides its UTF-16 unit at `index`: that unit comes
// from one of the first index + 1 characters, each of at most four bytes (an
// ill-formed byte counts as one character), so longer text needs no reading.
std::string_view leadingPart(const std::string& text, int64_t index) {
  const std::string_view view(text);
  if (index >= 0 && static_cast<uint64_t>(index) < view.size() / 4) {
    return view.substr(0, (static_cast<size_t>(index) + 1) * 4);
  }
  return view;
}

bool isBitEnabled(const std::optional<std::string>& bits, int64_t index) {
  if (!bits || index < 0) return false;
  return isBitEnabledAtIndex(std::string(leadingPart(*bits, index)), index);
}

// The character at UTF-16 index `index` as UTF-8 ("" beyond the end); half
// of a surrogate pair reads as U+FFFD.
std::string characterAtUTF16Index(const std::string& text, int64_t index) {
  const std::u16string units =
      platform::utf8::toUtf16(platform::utf8::replacingInvalid(leadingPart(text, index)));
  if (index < 0 || static_cast<uint64_t>(index) >= units.size()) return std::string();
  return platform::utf8::fromUtf16(std::u16string_view(units).substr(static_cast<size_t>(index), 1));
}

std::string restrictionKey(int64_t purposeID) {
  return std::string(kGWLTCFPublisherRestrictionsKey) + std::to_string(purposeID);
}

}  // namespace

// ---- GWLTCFNumber ----

std::optional<GWLTCFNumber> GWLTCFNumber::fromObject(const std::optional<platform::Object>& object) {
  if (!object) return std::nullopt;
  if (object->isBool() || object->isInt()) return GWLTCFNumber(*object);
  if (auto real = object->doubleValue()) {
    return std::isfinite(*real) ? GWLTCFNumber(*object) : GWLTCFNumber(int64_t{0});
  }
  return std::nullopt;
}

int64_t GWLTCFNumber::integerValue() const {
  if (auto flag = value_.boolValue()) return *flag ? 1 : 0;
  if (auto integer = value_.intValue()) return *integer;
  return GWLInt64FromDouble(value_.doubleValue().value_or(0));
}

bool GWLTCFNumber::boolValue() const {
  if (auto flag = value_.boolValue()) return *flag;
  if (auto integer = value_.intValue()) return *integer != 0;
  return value_.doubleValue().value_or(0) != 0;
}

std::string GWLTCFNumber::text() const {
  if (auto flag = value_.boolValue()) return *flag ? "1" : "0";
  if (auto integer = value_.intValue()) return std::to_string(*integer);
  char buffer[32];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value_.doubleValue().value_or(0));
  return std::string(buffer, result.ptr);
}

// ---- GWLTCFData ----

GWLTCFData::GWLTCFData() : GWLTCFData(nullptr, nullptr) {}

GWLTCFData::GWLTCFData(std::shared_ptr<GWLUserDefaults> userDefaults,
                       std::shared_ptr<platform::AppEnvironment> environment)
    : userDefaults_(userDefaults ? std::move(userDefaults) : GWLUserDefaults::sharedUserDefaults()) {
  if (!environment) environment = platform::AppEnvironment::shared();
  isTCFDataEnabled_ = readTCFDataEnabledStateFromPlist(*environment);
}

GWLTCFData::GWLTCFData(bool isTCFDataEnabled, std::optional<GWLTCFNumber> isAdvertiserConsentModeEnabled,
                       std::optional<std::string> vendorConsents, std::optional<std::string> vendorLegitimateInterests,
                       std::optional<GWLTCFNumber> cmpSDKID, std::optional<GWLTCFNumber> gdprApplies,
                       std::optional<GWLTCFNumber> policyVersion, std::optional<std::string> purposeConsents,
                       std::optional<std::string> purposeLegitimateInterests,
                       std::optional<Restrictions> publisherRestrictions,
                       std::optional<GWLTCFNumber> isPurposeOneTreatmentEnabled, std::optional<std::string> publisherCC)
    : isTCFDataEnabled_(isTCFDataEnabled),
      isAdvertiserConsentModeEnabled_(std::move(isAdvertiserConsentModeEnabled)),
      vendorConsents_(std::move(vendorConsents)),
      vendorLegitimateInterests_(std::move(vendorLegitimateInterests)),
      cmpSDKID_(std::move(cmpSDKID)),
      gdprApplies_(std::move(gdprApplies)),
      policyVersion_(std::move(policyVersion)),
      purposeConsents_(std::move(purposeConsents)),
      purposeLegitimateInterests_(std::move(purposeLegitimateInterests)),
      publisherRestrictions_(std::move(publisherRestrictions)),
      isPurposeOneTreatmentEnabled_(std::move(isPurposeOneTreatmentEnabled)),
      publisherCC_(std::move(publisherCC)) {}

bool GWLTCFData::readTCFDataEnabledStateFromPlist(const platform::AppEnvironment& environment) {
  const platform::Object* value = environment.objectForInfoDictionaryKey(kGWLTCFDataEnabledInfoKey);
  if (!value) return true;
  auto number = GWLTCFNumber::fromObject(*value);
  return number && number->boolValue();
}

std::optional<GWLTCFNumber> GWLTCFData::numberForKey(const GWLUserDefaults& defaults, const std::string& key) {
  return GWLTCFNumber::fromObject(defaults.objectForKey(key));
}

std::optional<std::string> GWLTCFData::stringForKey(const GWLUserDefaults& defaults, const std::string& key) {
  auto text = defaults.stringForKey(key);
  if (!text) return std::nullopt;
  return cleanedText(*text);
}

std::string GWLTCFData::cleanedText(const std::string& text) {
  std::string cleaned = platform::utf8::replacingInvalid(text);
  if (cleaned.find('\0') == std::string::npos) return cleaned;
  std::string withoutNul;
  withoutNul.reserve(cleaned.size() + 16);
  for (char c : cleaned) {
    if (c == '\0') {
      platform::utf8::append(withoutNul, platform::utf8::kReplacementCharacter);
    } else {
      withoutNul.push_back(c);
    }
  }
  return withoutNul;
}

void GWLTCFData::readFromUserDefaults() {
  // Without user defaults every key reads as missing.
  auto number = [this](const char* key) {
    return userDefaults_ ? numberForKey(*userDefaults_, key) : std::nullopt;
  };
  auto text = [this](const std::string& key) {
    return userDefaults_ ? stringForKey(*userDefaults_, key) : std::nullopt;
  };
  isAdvertiserConsentModeEnabled_ = number(kGWLTCFEnableAdvertiserConsentModeKey);
  vendorConsents_ = text(kGWLTCFVendorConsentsKey);
  vendorLegitimateInterests_ = text(kGWLTCFVendorLegitimateInterestsKey);
  cmpSDKID_ = number(kGWLTCFCmpSdkIDKey);
  gdprApplies_ = number(kGWLTCFGdprAppliesKey);
  policyVersion_ = number(kGWLTCFPolicyVersionKey);
  purposeConsents_ = text(kGWLTCFPurposeConsentsKey);
  purposeLegitimateInterests_ = text(kGWLTCFPurposeLegitimateInterestsKey);
  Restrictions restrictions;
  for (int64_t purposeID = 1; purposeID <= kGWLTCFPublisherRestrictionCount; ++purposeID) {
    auto restriction = text(restrictionKey(purposeID));
    restrictions.push_back(restriction ? characterAtUTF16Index(*restriction, kGWLTCFVendorIndex) : std::string());
  }
  publisherRestrictions_ = std::move(restrictions);
  isPurposeOneTreatmentEnabled_ = number(kGWLTCFPurposeOneTreatmentKey);
  publisherCC_ = text(kGWLTCFPublisherCCKey);
}

bool GWLTCFData::hasHalcyraInVendorConsents() const { return isBitEnabled(vendorConsents_, kGWLTCFVendorIndex); }

bool GWLTCFData::hasHalcyraInVendorLegitimateInterests() const {
  return isBitEnabled(vendorLegitimateInterests_, kGWLTCFVendorIndex);
}

bool GWLTCFData::canAccessAdUserDataPurpose() const { return policyVersion_ && policyVersion_->integerValue() > 3; }

bool GWLTCFData::isAdStoragePurposeGranted() const { return isPurposeGrantedWithRestrictionCheckForPurposeID(1); }

bool GWLTCFData::isAdPersonalizationPurposeGranted() const {
  return isPurposeGrantedWithRestrictionCheckForPurposeID(3) && isPurposeGrantedWithRestrictionCheckForPurposeID(4);
}

bool GWLTCFData::isAdUserDataPurposeGranted() const {
  return canAccessAdUserDataPurpose() && isPurposeGrantedWithRestrictionCheckForPurposeID(1) &&
         isPurposeGrantedWithRestrictionCheckForPurposeID(7);
}

bool GWLTCFData::isPurposeGrantedWithRestrictionCheckForPurposeID(int64_t purposeID) const {
  return consentReasonForPurposeGrantedWithRestrictionCheckForPurposeID(purposeID) == kGWLTCFReasonGranted;
}

int64_t GWLTCFData::consentReasonForPurposeGrantedWithRestrictionCheckForPurposeID(int64_t purposeID) const {
  // Only registered purposes (all from 1 on) reach a bit.
  switch (legalBasisCheckFromPurposeID(purposeID)) {
    case kGWLTCFLegalBasisLegitimateInterest:
      if (!hasHalcyraInVendorLegitimateInterests()) return kGWLTCFReasonNoVendorLegitimateInterest;
      return isBitEnabled(purposeLegitimateInterests_, purposeID - 1) ? kGWLTCFReasonGranted
                                                            : kGWLTCFReasonNoPurposeLegitimateInterest;
    case kGWLTCFLegalBasisConsent:
      if (purposeID == 1 && isPurposeOneGrantedWithSpecialTreatment() && hasHalcyraInVendorConsents()) {
        return kGWLTCFReasonGranted;
      }
      if (!hasHalcyraInVendorConsents()) return kGWLTCFReasonNoVendorConsent;
      return isBitEnabled(purposeConsents_, purposeID - 1) ? kGWLTCFReasonGranted : kGWLTCFReasonNoPurposeConsent;
    case kGWLTCFLegalBasisUnmetRestriction:
      return kGWLTCFReasonUnmetRestriction;
    default:
      return kGWLTCFReasonNoLegalBasis;
  }
}

int64_t GWLTCFData::legalBasisCheckFromPurposeID(int64_t purposeID) const {
  const GWLTCFRegistration& registration = GWLTCFRegistration::sharedInstance();
  const int64_t restriction = publisherRestrictionForPurposeID(purposeID);
  if (restriction == kGWLTCFRestrictionNotAllowed) return kGWLTCFLegalBasisNone;
  const bool flexible = registration.hasFlexibleLegitimateInterestForPurposeID(purposeID);
  if (registration.hasConsentForPurposeID(purposeID)) {
    if (restriction != kGWLTCFRestrictionLegitimateInterestRequired) return kGWLTCFLegalBasisConsent;
    return flexible ? kGWLTCFLegalBasisLegitimateInterest : kGWLTCFLegalBasisUnmetRestriction;
  }
  if (!registration.hasLegitimateInterestForPurposeID(purposeID)) return kGWLTCFLegalBasisNone;
  if (restriction != kGWLTCFRestrictionConsentRequired) return kGWLTCFLegalBasisLegitimateInterest;
  return flexible ? kGWLTCFLegalBasisConsent : kGWLTCFLegalBasisUnmetRestriction;
}

int64_t GWLTCFData::publisherRestrictionForPurposeID(int64_t purposeID) const {
  if (!publisherRestrictions_ || purposeID < 1 ||
      static_cast<uint64_t>(purposeID - 1) >= publisherRestrictions_->size()) {
    return kGWLTCFRestrictionNone;
  }
  return publisherRestrictionTypeFromString((*publisherRestrictions_)[static_cast<size_t>(purposeID - 1)]);
}

int64_t GWLTCFData::publisherRestrictionTypeFromString(const std::string& text) {
  if (text == "0") return kGWLTCFRestrictionNotAllowed;
  if (text == "1") return kGWLTCFRestrictionConsentRequired;
  if (text == "2") return kGWLTCFRestrictionLegitimateInterestRequired;
  return kGWLTCFRestrictionNone;
}

bool GWLTCFData::isPurposeOneGrantedWithSpecialTreatment() const {
  return isPurposeOneTreatmentEnabled_ && isPurposeOneTreatmentEnabled_->boolValue() && publisherCC_ &&
         *publisherCC_ == kPublisherCountrySwitzerland;
}
