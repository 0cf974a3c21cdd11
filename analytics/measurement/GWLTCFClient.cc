#include "analytics/measurement/GWLTCFClient.h"

#include "analytics/foundation/config/GWLConsentNames.h"
#include "analytics/foundation/core/GWLUserDefaults.h"
#include "analytics/measurement/GWLAnalyticsConsent.h"
#include "analytics/measurement/GWLTCFDataGenerator.h"

namespace {

// The ranges "_tcfd" can show: a CMP SDK ID in two characters, a policy
// version in one.
constexpr int64_t kLargestCmpSdkID = 4095;
constexpr int64_t kLargestPolicyVersion = 63;
constexpr int kParameterCharacterBits = 6;
constexpr int64_t kParameterCharacterMask = 63;
constexpr char kBundleParameterVersion = '1';
constexpr char kReasonsParameterVersion = '2';
// The purposes "_tcfd2" reports, in order.
constexpr int64_t kReportedPurposes[] = {1, 3, 4, 7};

char parameterCharacter(int64_t index) { return kGWLTCFParameterCharacters[index & kParameterCharacterMask]; }

int64_t integerValue(const std::optional<GWLTCFNumber>& number) { return number ? number->integerValue() : 0; }
bool boolValue(const std::optional<GWLTCFNumber>& number) { return number && number->boolValue(); }

void storeNumber(GWLUserDefaults& defaults, const std::optional<GWLTCFNumber>& number, const char* key) {
  defaults.setObject(number ? number->object() : platform::Object(), key);
}

void storeText(GWLUserDefaults& defaults, const std::optional<std::string>& text, const char* key) {
  defaults.setObject(text ? platform::Object(*text) : platform::Object(), key);
}

}  // namespace

GWLTCFClient::GWLTCFClient(Dependencies dependencies)
    : consent_(std::move(dependencies.consent)),
      eventSink_(std::move(dependencies.eventSink)),
      userDefaults_(dependencies.userDefaults ? std::move(dependencies.userDefaults)
                                              : std::make_shared<GWLUserDefaults>(kGWLTCFSuiteName)),
      tcfData_(std::make_shared<const GWLTCFData>(std::move(dependencies.appDefaults),
                                                  std::move(dependencies.environment))) {
  if (!consent_) {
    consent_ = std::make_shared<GWLAnalyticsConsent>();
    consent_->setSink(eventSink_);
  }
}

std::shared_ptr<const GWLTCFData> GWLTCFClient::tcfData() const {
  platform::MutexLock lock(dataLock_);
  return tcfData_;
}

void GWLTCFClient::readTCFData() {
  auto fresh = std::make_shared<GWLTCFData>(*tcfData());
  fresh->readFromUserDefaults();
  platform::MutexLock lock(dataLock_);
  tcfData_ = std::move(fresh);
}

void GWLTCFClient::setConsentFromTCFData() {
  platform::MutexLock step(stepLock_);
  readTCFData();
  const auto data = tcfData();
  // Every string of the snapshot goes into the state string once; it is made
  // once per call and serves both the comparison and the stored copy.
  const std::string state = stringRepresentation(*data);
  if (state == kGWLTCFEmptyStateString) return;
  const auto stored = storedState();
  if (stored && *stored == state) return;

  const platform::Dictionary consent = consentFromData(*data);
  const bool vendorFix = isVendorFixDue(*data, stored);
  const bool sameAsPrevious = previousConsent() == consent;
  logChangedEvent(*data, vendorFix, sameAsPrevious);
  store(*data, state);
  if (vendorFix || shouldApply(*data)) consent_->setConsent(consent, kGWLConsentSettingsTCFKey);
}

bool GWLTCFClient::shouldApply(const GWLTCFData& data) {
  return data.isTCFDataEnabled() && boolValue(data.isAdvertiserConsentModeEnabled()) &&
         boolValue(data.gdprApplies());
}

bool GWLTCFClient::shouldApplyTCFData() const { return shouldApply(*tcfData()); }

bool GWLTCFClient::isVendorFixDue(const GWLTCFData& data, const std::optional<std::string>& storedState) {
  const bool storedByThisVersion = storedState && storedState->find(kGWLTCFStateVersionPart) != std::string::npos;
  return !storedByThisVersion && shouldApply(data) && !data.hasHalcyraInVendorConsents();
}

bool GWLTCFClient::shouldApplyOneTimeTCFVendorFix() const { return isVendorFixDue(*tcfData(), storedState()); }

std::optional<std::string> GWLTCFClient::storedState() const {
  return userDefaults_->stringForKey(kGWLTCFStringRepresentationKey);
}

void GWLTCFClient::storeCurrentData() {
  const auto data = tcfData();
  store(*data, stringRepresentation(*data));
}

void GWLTCFClient::store(const GWLTCFData& data, const std::string& state) {
  GWLUserDefaults& suite = *userDefaults_;
  suite.setBool(data.isTCFDataEnabled(), kGWLTCFDataEnabledInfoKey);
  storeNumber(suite, data.isAdvertiserConsentModeEnabled(), kGWLTCFEnableAdvertiserConsentModeKey);
  storeNumber(suite, data.cmpSDKID(), kGWLTCFCmpSdkIDKey);
  storeText(suite, data.vendorConsents(), kGWLTCFVendorConsentsKey);
  storeText(suite, data.vendorLegitimateInterests(), kGWLTCFVendorLegitimateInterestsKey);
  storeNumber(suite, data.gdprApplies(), kGWLTCFGdprAppliesKey);
  storeNumber(suite, data.policyVersion(), kGWLTCFPolicyVersionKey);
  storeText(suite, data.purposeConsents(), kGWLTCFPurposeConsentsKey);
  storeText(suite, data.purposeLegitimateInterests(), kGWLTCFPurposeLegitimateInterestsKey);
  if (const auto& restrictions = data.publisherRestrictions()) {
    suite.setObject(platform::Object(platform::Array(restrictions->begin(), restrictions->end())),
                    kGWLTCFPublisherRestrictionsKey);
  } else {
    suite.removeObjectForKey(kGWLTCFPublisherRestrictionsKey);
  }
  storeNumber(suite, data.isPurposeOneTreatmentEnabled(), kGWLTCFPurposeOneTreatmentKey);
  storeText(suite, data.publisherCC(), kGWLTCFPublisherCCKey);
  suite.setObject(platform::Object(state), kGWLTCFStringRepresentationKey);
}

std::string GWLTCFClient::stringRepresentationFromTCFData() const { return stringRepresentation(*tcfData()); }

std::string GWLTCFClient::stringRepresentation(const GWLTCFData& data) {
  std::string state = kGWLTCFStateVersionPart;
  auto part = [&state](const char* name, const std::string& value) {
    state.append(",").append(name).append("=").append(value);
  };
  auto flag = [](bool value) { return std::string(value ? "1" : "0"); };
  part("isTCFDataEnabled", flag(data.isTCFDataEnabled()));
  if (data.isAdvertiserConsentModeEnabled()) {
    part("isAdvertiserConsentModeEnabled", flag(data.isAdvertiserConsentModeEnabled()->boolValue()));
  }
  // The whole 64-bit value: the string is only ever compared with itself.
  if (data.cmpSDKID()) part("cmpSDKID", std::to_string(data.cmpSDKID()->integerValue()));
  if (data.vendorConsents()) part("hasHalcyraInVendorConsents", flag(data.hasHalcyraInVendorConsents()));
  if (data.vendorLegitimateInterests()) {
    part("hasHalcyraInVendorLegitimateInterests", flag(data.hasHalcyraInVendorLegitimateInterests()));
  }
  if (data.gdprApplies()) part("gdprApplies", flag(data.gdprApplies()->boolValue()));
  if (data.policyVersion()) part("policyVersion", std::to_string(data.policyVersion()->integerValue()));
  if (data.purposeConsents()) part("purposeConsents", *data.purposeConsents());
  if (data.purposeLegitimateInterests()) part("purposeLegitimateInterests", *data.purposeLegitimateInterests());
  if (const auto& restrictions = data.publisherRestrictions()) {
    bool anySet = false;
    std::string joined;
    for (size_t i = 0; i < restrictions->size(); ++i) {
      if (i > 0) joined += "|";
      joined += (*restrictions)[i];
      anySet = anySet || !(*restrictions)[i].empty();
    }
    if (anySet) part("publisherRestrictions", joined);
  }
  if (data.isPurposeOneTreatmentEnabled()) {
    part("isPurposeOneTreatmentEnabled", data.isPurposeOneTreatmentEnabled()->text());
  }
  if (data.publisherCC()) part("publisherCC", *data.publisherCC());
  return state;
}

bool GWLTCFClient::persistedValuesEqualCurrentData() const {
  const auto stored = storedState();
  return stored && *stored == stringRepresentationFromTCFData();
}

bool GWLTCFClient::hasTCFDataToRead() const { return stringRepresentationFromTCFData() != kGWLTCFEmptyStateString; }

void GWLTCFClient::clearPersistedValues() { userDefaults_->clearAllData(); }

std::string GWLTCFClient::consentStatusFromEnabled(bool enabled) {
  return enabled ? kGWLConsentStatusGranted : kGWLConsentStatusDenied;
}

platform::Dictionary GWLTCFClient::consentFromData(const GWLTCFData& data) {
  return platform::Dictionary{
      {kGWLConsentTypeAdStorage, consentStatusFromEnabled(data.isAdStoragePurposeGranted())},
      {kGWLConsentTypeAdPersonalization, consentStatusFromEnabled(data.isAdPersonalizationPurposeGranted())},
      {kGWLConsentTypeAdUserData, consentStatusFromEnabled(data.isAdUserDataPurposeGranted())},
  };
}

platform::Dictionary GWLTCFClient::previousConsent() const {
  const GWLUserDefaults& suite = *userDefaults_;
  GWLTCFDataGenerator generator;
  generator.isTCFDataEnabled = suite.boolForKey(kGWLTCFDataEnabledInfoKey);
  generator.isAdvertiserConsentModeEnabled = GWLTCFData::numberForKey(suite, kGWLTCFEnableAdvertiserConsentModeKey);
  generator.cmpSDKID = GWLTCFData::numberForKey(suite, kGWLTCFCmpSdkIDKey);
  generator.vendorConsents = GWLTCFData::stringForKey(suite, kGWLTCFVendorConsentsKey);
  generator.vendorLegitimateInterests = GWLTCFData::stringForKey(suite, kGWLTCFVendorLegitimateInterestsKey);
  generator.gdprApplies = GWLTCFData::numberForKey(suite, kGWLTCFGdprAppliesKey);
  generator.policyVersion = GWLTCFData::numberForKey(suite, kGWLTCFPolicyVersionKey);
  generator.purposeConsents = GWLTCFData::stringForKey(suite, kGWLTCFPurposeConsentsKey);
  generator.purposeLegitimateInterests = GWLTCFData::stringForKey(suite, kGWLTCFPurposeLegitimateInterestsKey);
  if (auto stored = suite.arrayForKey(kGWLTCFPublisherRestrictionsKey)) {
    GWLTCFData::Restrictions restrictions;
    // An entry that is not text is no restriction.
    for (const platform::Object& entry : *stored) {
      const std::string* text = entry.stringValue();
      restrictions.push_back(text ? GWLTCFData::cleanedText(*text) : std::string());
    }
    generator.publisherRestrictions = std::move(restrictions);
  }
  generator.isPurposeOneTreatmentEnabled = GWLTCFData::numberForKey(suite, kGWLTCFPurposeOneTreatmentKey);
  generator.publisherCC = GWLTCFData::stringForKey(suite, kGWLTCFPublisherCCKey);
  return consentFromData(generator.generateData());
}

std::string GWLTCFClient::tcfBundleParameterValue() const { return bundleParameterValue(*tcfData()); }

std::string GWLTCFClient::bundleParameterValue(const GWLTCFData& data) const {
  std::string value(1, kBundleParameterVersion);
  const int64_t cmpSDKID = integerValue(data.cmpSDKID());
  if (cmpSDKID >= 0 && cmpSDKID <= kLargestCmpSdkID) {
    value += parameterCharacter(cmpSDKID >> kParameterCharacterBits);
    value += parameterCharacter(cmpSDKID);
  } else {
    value += parameterCharacter(0);
    value += parameterCharacter(0);
  }
  const int64_t policyVersion = integerValue(data.policyVersion());
  value += parameterCharacter(policyVersion >= 0 && policyVersion <= kLargestPolicyVersion ? policyVersion : 0);
  const int64_t flags = (isDMARegion() ? 1 : 0) | (boolValue(data.gdprApplies()) ? 2 : 0) |
                        (data.isTCFDataEnabled() ? 4 : 0) | (boolValue(data.isAdvertiserConsentModeEnabled()) ? 8 : 0);
  value += parameterCharacter(flags);
  return value;
}

std::string GWLTCFClient::tcfd2ParamValue() const { return reasonsParameterValue(*tcfData()); }

std::string GWLTCFClient::reasonsParameterValue(const GWLTCFData& data) {
  std::string value(1, kReasonsParameterVersion);
  for (int64_t purposeID : kReportedPurposes) {
    value += std::to_string(data.consentReasonForPurposeGrantedWithRestrictionCheckForPurposeID(purposeID));
  }
  return value;
}

std::string GWLTCFClient::tcfdMigrationParamValueForMigrationDidOccur(bool migrationDidOccur,
                                                                      bool didMigrationChangeConsent) {
  return std::string(migrationDidOccur ? "1" : "0") + (didMigrationChangeConsent ? "1" : "0");
}

int64_t GWLTCFClient::tcfd2ParamValueForPurposeID(int64_t purposeID) const {
  return tcfData()->consentReasonForPurposeGrantedWithRestrictionCheckForPurposeID(purposeID);
}

void GWLTCFClient::logTCFChangedEventShouldApplyOneTimeVendorFix(bool shouldApplyOneTimeVendorFix,
                                                                 bool isCurrentSameAsPreviousTCFConsent) {
  logChangedEvent(*tcfData(), shouldApplyOneTimeVendorFix, isCurrentSameAsPreviousTCFConsent);
}

void GWLTCFClient::logChangedEvent(const GWLTCFData& data, bool vendorFix, bool sameAsPrevious) {
  auto sink = eventSink_.lock();
  if (!sink) return;
  sink->logInternalEvent(
      kGWLTCFChangedEventOrigin, kGWLTCFChangedEventName,
      platform::Dictionary{
          {kGWLTCFBundleParameter, bundleParameterValue(data)},
          {kGWLTCFReasonsParameter, reasonsParameterValue(data)},
          {kGWLTCFMigrationParameter, tcfdMigrationParamValueForMigrationDidOccur(vendorFix, !sameAsPrevious)},
      });
}
