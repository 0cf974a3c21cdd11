#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>

#include "MeasurementTestSupport.h"
#include "TCFTestSupport.h"
#include "analytics/measurement/GWLTCFData.h"
#include "analytics/measurement/GWLTCFRegistration.h"

namespace measurement_test {
namespace {

using platform::Object;

TEST(TCFRegistrationTest, PurposeSets) {
  const GWLTCFRegistration& registration = GWLTCFRegistration::sharedInstance();
  EXPECT_EQ(&registration, &GWLTCFRegistration::sharedInstance());
  std::string consent, legitimate, flexible;
  for (int64_t purpose = 0; purpose <= 11; ++purpose) {
    if (registration.hasConsentForPurposeID(purpose)) consent += std::to_string(purpose) + " ";
    if (registration.hasLegitimateInterestForPurposeID(purpose)) legitimate += std::to_string(purpose) + " ";
    if (registration.hasFlexibleLegitimateInterestForPurposeID(purpose)) flexible += std::to_string(purpose) + " ";
  }
  EXPECT_EQ(consent, "1 3 4 ");
  EXPECT_EQ(legitimate, "2 7 9 10 ");
  EXPECT_EQ(flexible, "2 7 9 10 ");
}

TEST(TCFDataTest, NumbersKeepTheirWholeValue) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double infinity = std::numeric_limits<double>::infinity();
  const int64_t beyond32Bits = (int64_t{1} << 32) + 300;
  struct Case {
    Object stored;
    int64_t integer;
    bool flag;
    std::string text;
  } cases[] = {
      {Object(300), 300, true, "300"},
      {Object(beyond32Bits), beyond32Bits, true, "4294967596"},
      {Object(true), 1, true, "1"},
      {Object(false), 0, false, "0"},
      {Object(4.75), 4, true, "4.75"},
      {Object(-4.75), -4, true, "-4.75"},
      {Object(0.25), 0, true, "0.25"},
      {Object(2.0), 2, true, "2"},
      {Object(1e300), std::numeric_limits<int64_t>::max(), true, "1e+300"},
      {Object(nan), 0, false, "0"},
      {Object(-infinity), 0, false, "0"},
  };
  for (const Case& c : cases) {
    auto number = GWLTCFNumber::fromObject(c.stored);
    ASSERT_TRUE(number) << c.stored.description();
    EXPECT_EQ(number->integerValue(), c.integer) << c.stored.description();
    EXPECT_EQ(number->boolValue(), c.flag) << c.stored.description();
    EXPECT_EQ(number->text(), c.text) << c.stored.description();
  }
  for (const Object& notANumber : {Object("1"), Object(), Object(platform::Array{Object(1)}),
                                   Object(platform::Bytes{1}), Object(platform::Date{1}), Object(platform::Dictionary{})}) {
    EXPECT_FALSE(GWLTCFNumber::fromObject(notANumber)) << notANumber.description();
  }
  EXPECT_FALSE(GWLTCFNumber::fromObject(std::nullopt));
}

TEST(TCFDataTest, LegalBasisAndConsentReasonByRestrictionPurposeAndBits) {
  const int64_t purposes[] = {1, 2, 3, 4, 7};
  // Legal basis per restriction, for the purposes above.
  const std::pair<std::string, std::array<int64_t, 5>> bases[] = {
      {"", {2, 3, 2, 2, 3}},
      {"0", {0, 0, 0, 0, 0}},
      {"1", {2, 2, 2, 2, 2}},
      {"2", {1, 3, 1, 1, 3}},
  };
  // Which bits are set (the library's vendor bit and the purpose's own bit),
  // and the consent reason that follows for each legal basis 0 to 3.
  struct Bits {
    const char* name;
    bool vendorConsent, purposeConsent, vendorInterest, purposeInterest;
    std::array<int64_t, 4> reasonByBasis;
  } variants[] = {
      {"nothing", false, false, false, false, {3, 8, 4, 5}},
      {"vendors only", true, false, true, false, {3, 8, 6, 7}},
      {"everything", true, true, true, true, {3, 8, 1, 1}},
      {"consent side", true, true, false, false, {3, 8, 1, 5}},
      {"legitimate-interest side", false, false, true, true, {3, 8, 4, 1}},
  };
  for (const auto& [restriction, expected] : bases) {
    for (size_t p = 0; p < 5; ++p) {
      const int64_t purpose = purposes[p];
      const size_t bit = static_cast<size_t>(purpose - 1);
      for (const Bits& v : variants) {
        GWLTCFDataGenerator generator;
        generator.publisherRestrictions = restrictionFor(purpose, restriction);
        generator.vendorConsents = vendorBits(v.vendorConsent);
        generator.vendorLegitimateInterests = vendorBits(v.vendorInterest);
        generator.purposeConsents = v.purposeConsent ? bits(10, {bit}) : bits(10);
        generator.purposeLegitimateInterests = v.purposeInterest ? bits(10, {bit}) : bits(10);
        const GWLTCFData data = generator.generateData();
        SCOPED_TRACE("restriction \"" + restriction + "\", purpose " + std::to_string(purpose) + ", " + v.name);
        const int64_t basis = data.legalBasisCheckFromPurposeID(purpose);
        EXPECT_EQ(basis, expected[p]);
        const int64_t reason = data.consentReasonForPurposeGrantedWithRestrictionCheckForPurposeID(purpose);
        EXPECT_EQ(reason, v.reasonByBasis[static_cast<size_t>(expected[p])]);
        EXPECT_EQ(data.isPurposeGrantedWithRestrictionCheckForPurposeID(purpose), reason == 1);
      }
    }
  }
}

TEST(TCFDataTest, UnregisteredPurposesHaveNoLegalBasis) {
  const GWLTCFData data = grantingEverything().generateData();
  for (int64_t purpose : {int64_t{0}, int64_t{5}, int64_t{6}, int64_t{8}, int64_t{11}, int64_t{-1},
                          std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max()}) {
    EXPECT_EQ(data.legalBasisCheckFromPurposeID(purpose), 0) << purpose;
    EXPECT_EQ(data.consentReasonForPurposeGrantedWithRestrictionCheckForPurposeID(purpose), 3) << purpose;
    EXPECT_EQ(data.publisherRestrictionForPurposeID(purpose), 3) << purpose;
  }
}

TEST(TCFDataTest, PublisherRestrictionTypes) {
  const std::pair<std::string, int64_t> types[] = {
      {"0", 0}, {"1", 1}, {"2", 2}, {"", 3}, {"3", 3}, {"00", 3}, {" 1", 3}, {"\xC3\xA9", 3}, {"\xEF\xBF\xBD", 3},
  };
  for (const auto& [text, type] : types) EXPECT_EQ(GWLTCFData::publisherRestrictionTypeFromString(text), type) << text;

  GWLTCFDataGenerator generator;
  EXPECT_EQ(generator.generateData().publisherRestrictionForPurposeID(1), 3);  // no restrictions at all
  generator.publisherRestrictions = GWLTCFData::Restrictions{"0", "1"};         // fewer than ten
  const GWLTCFData data = generator.generateData();
  EXPECT_EQ(data.publisherRestrictionForPurposeID(1), 0);
  EXPECT_EQ(data.publisherRestrictionForPurposeID(2), 1);
  EXPECT_EQ(data.publisherRestrictionForPurposeID(3), 3);
}

TEST(TCFDataTest, Scenarios) {
  struct Case {
    const char* name;
    std::function<void(GWLTCFDataGenerator&)> change;
    bool adStorage, adPersonalization, adUserData;
  } cases[] = {
      {"everything granted", [](GWLTCFDataGenerator&) {}, true, true, true},
      {"vendor consents of 754 characters",
       [](GWLTCFDataGenerator& g) { g.vendorConsents = std::string(754, '1'); }, false, false, false},
      {"policy version 3", [](GWLTCFDataGenerator& g) { g.policyVersion = 3; }, true, true, false},
      {"no policy version", [](GWLTCFDataGenerator& g) { g.policyVersion.reset(); }, true, true, false},
      {"restriction 0 for purpose 1",
       [](GWLTCFDataGenerator& g) { g.publisherRestrictions = restrictionFor(1, "0"); }, false, true, false},
      {"restriction 2 for purpose 1",
       [](GWLTCFDataGenerator& g) { g.publisherRestrictions = restrictionFor(1, "2"); }, false, true, false},
      {"purpose 7 without its legitimate-interest bit",
       [](GWLTCFDataGenerator& g) { g.purposeLegitimateInterests = bits(10); }, true, true, false},
      {"purpose 4 without consent", [](GWLTCFDataGenerator& g) { g.purposeConsents = "1110111111"; }, true, false,
       true},
  };
  for (const Case& c : cases) {
    GWLTCFDataGenerator generator = grantingEverything();
    c.change(generator);
    const GWLTCFData data = generator.generateData();
    EXPECT_EQ(data.isAdStoragePurposeGranted(), c.adStorage) << c.name;
    EXPECT_EQ(data.isAdPersonalizationPurposeGranted(), c.adPersonalization) << c.name;
    EXPECT_EQ(data.isAdUserDataPurposeGranted(), c.adUserData) << c.name;
  }

  const GWLTCFData everything = grantingEverything().generateData();
  EXPECT_EQ(everything.legalBasisCheckFromPurposeID(7), 3);  // purpose 7 through legitimate interest
  EXPECT_TRUE(everything.canAccessAdUserDataPurpose());

  GWLTCFDataGenerator short754 = grantingEverything();
  short754.vendorConsents = std::string(754, '1');
  for (int64_t purpose : {1, 3, 4}) {
    EXPECT_EQ(short754.generateData().consentReasonForPurposeGrantedWithRestrictionCheckForPurposeID(purpose), 4);
  }
  GWLTCFDataGenerator denied = grantingEverything();
  denied.publisherRestrictions = restrictionFor(1, "0");
  EXPECT_EQ(denied.generateData().consentReasonForPurposeGrantedWithRestrictionCheckForPurposeID(1), 3);
  denied.publisherRestrictions = restrictionFor(1, "2");
  EXPECT_EQ(denied.generateData().legalBasisCheckFromPurposeID(1), 1);
  EXPECT_EQ(denied.generateData().consentReasonForPurposeGrantedWithRestrictionCheckForPurposeID(1), 8);
}

TEST(TCFDataTest, PurposeOneTreatmentInSwitzerland) {
  struct Case {
    std::optional<GWLTCFNumber> treatment;
    std::optional<std::string> country;
    bool vendorConsent;
    int64_t reason;
  } cases[] = {
      {1, "CH", true, 1},   // granted with its consent bit 0
      {1, "CH", false, 4},  // the vendor consent is still needed
      {1, "ch", true, 6},   {1, "CHE", true, 6}, {0, "CH", true, 6},
      {std::nullopt, "CH", true, 6}, {1, std::nullopt, true, 6},
  };
  for (const Case& c : cases) {
    GWLTCFDataGenerator generator = grantingEverything();
    generator.purposeConsents = "0111111111";
    generator.isPurposeOneTreatmentEnabled = c.treatment;
    generator.publisherCC = c.country;
    generator.vendorConsents = vendorBits(c.vendorConsent);
    const GWLTCFData data = generator.generateData();
    EXPECT_EQ(data.consentReasonForPurposeGrantedWithRestrictionCheckForPurposeID(1), c.reason)
        << c.country.value_or("(none)");
    EXPECT_EQ(data.isPurposeOneGrantedWithSpecialTreatment(), c.treatment && c.treatment->boolValue() &&
                                                                  c.country == std::string("CH"));
  }
}

TEST(TCFDataTest, OnlyTheCharacterOneSetsABitCountedInUtf16Units) {
  const std::string emoji = "\xF0\x9F\x98\x80";  // two UTF-16 units
  std::string large(1 << 20, 'x');
  large[754] = '1';
  struct Case {
    const char* name;
    std::string vendorConsents;
    bool set;
  } cases[] = {
      {"754 ones", std::string(754, '1'), false},
      {"755 ones", std::string(755, '1'), true},
      {"any characters before", std::string(754, 'x') + "1", true},
      {"full-width one", std::string(754, '1') + "\xEF\xBC\x91", false},
      {"replacement character", std::string(754, '1') + "\xEF\xBF\xBD", false},
      {"an emoji counts twice", emoji + std::string(752, '0') + "1", true},
      {"two-byte characters count once", [] {
         std::string text;
         for (int i = 0; i < 754; ++i) text += "\xC3\xA9";
         return text + "1";
       }(), true},
      {"an ill-formed byte counts once", "\xFF" + std::string(753, '0') + "1", true},
      {"one megabyte", large, true},
      {"one megabyte, ones after the index", std::string(754, '0') + "0" + std::string(1 << 20, '1'), false},
  };
  for (const Case& c : cases) {
    GWLTCFDataGenerator generator;
    generator.vendorConsents = c.vendorConsents;
    generator.vendorLegitimateInterests = c.vendorConsents;
    const GWLTCFData data = generator.generateData();
    EXPECT_EQ(data.hasHalcyraInVendorConsents(), c.set) << c.name;
    EXPECT_EQ(data.hasHalcyraInVendorLegitimateInterests(), c.set) << c.name;
  }
  EXPECT_FALSE(GWLTCFData().hasHalcyraInVendorConsents());  // no string at all
}

TEST(TCFDataTest, CleanedTextIsValidUtf8WithoutNulAndKeepsItsUnits) {
  EXPECT_EQ(GWLTCFData::cleanedText("1011"), "1011");
  EXPECT_EQ(GWLTCFData::cleanedText(std::string("1\0" "1", 3)), "1\xEF\xBF\xBD" "1");
  EXPECT_EQ(GWLTCFData::cleanedText("\xFF" "1"), "\xEF\xBF\xBD" "1");
  EXPECT_EQ(GWLTCFData::cleanedText("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // a surrogate's bytes
}

class TCFDataReadTest : public MeasurementTest {
 protected:
  GWLTCFData read(const platform::Dictionary& info = {}) {
    GWLTCFData data(defaults_, environmentWith(info));
    data.readFromUserDefaults();
    return data;
  }
  std::shared_ptr<GWLUserDefaults> defaults_ = memorySuite("app");
};

TEST_F(TCFDataReadTest, EnabledSwitchOfTheInfoDictionary) {
  const std::pair<std::optional<Object>, bool> cases[] = {
      {std::nullopt, true},   {Object(true), true},  {Object(false), false},
      {Object(1), true},      {Object(0), false},    {Object(0.0), false},
      {Object(2.5), true},    {Object("YES"), false}, {Object("1"), false},
      {Object(platform::Array{Object(true)}), false},
  };
  for (const auto& [value, enabled] : cases) {
    platform::Dictionary info;
    if (value) info[kGWLTCFDataEnabledInfoKey] = *value;
    EXPECT_EQ(GWLTCFData(defaults_, environmentWith(info)).isTCFDataEnabled(), enabled)
        << (value ? value->description() : "absent");
  }
}

TEST_F(TCFDataReadTest, KeysOfTheWrongTypeReadAsAbsent) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* key;
    Object stored;
    std::optional<std::string> read;  // the number's text or the string; nullopt: absent
  } cases[] = {
      {kGWLTCFCmpSdkIDKey, Object(300), "300"},
      {kGWLTCFCmpSdkIDKey, Object("300"), std::nullopt},
      {kGWLTCFCmpSdkIDKey, Object(int64_t{10000000000}), "10000000000"},
      {kGWLTCFCmpSdkIDKey, Object(nan), "0"},
      {kGWLTCFCmpSdkIDKey, Object(platform::Array{Object(300)}), std::nullopt},
      {kGWLTCFCmpSdkIDKey, Object(platform::Bytes{1, 2}), std::nullopt},
      {kGWLTCFCmpSdkIDKey, Object(platform::Date{5}), std::nullopt},
      {kGWLTCFGdprAppliesKey, Object(true), "1"},
      {kGWLTCFGdprAppliesKey, Object("1"), std::nullopt},
      {kGWLTCFPolicyVersionKey, Object(4.0), "4"},
      {kGWLTCFEnableAdvertiserConsentModeKey, Object(platform::Dictionary{{"a", Object(1)}}), std::nullopt},
      {kGWLTCFPurposeOneTreatmentKey, Object(1.5), "1.5"},
      {kGWLTCFPurposeConsentsKey, Object("1011"), "1011"},
      {kGWLTCFPurposeConsentsKey, Object(1011), std::nullopt},
      {kGWLTCFPurposeConsentsKey, Object(true), std::nullopt},
      {kGWLTCFVendorConsentsKey, Object(platform::Array{Object("1")}), std::nullopt},
      {kGWLTCFVendorLegitimateInterestsKey, Object(""), ""},
      {kGWLTCFPurposeLegitimateInterestsKey, Object(platform::Bytes{'1'}), std::nullopt},
      {kGWLTCFPublisherCCKey, Object("CH"), "CH"},
      {kGWLTCFPublisherCCKey, Object(41), std::nullopt},
  };
  for (const Case& c : cases) {
    defaults_->clearAllData();
    defaults_->setObject(c.stored, c.key);
    const GWLTCFData data = read();
    const std::map<std::string, std::optional<std::string>> fields = {
        {kGWLTCFCmpSdkIDKey, data.cmpSDKID() ? std::optional(data.cmpSDKID()->text()) : std::nullopt},
        {kGWLTCFGdprAppliesKey, data.gdprApplies() ? std::optional(data.gdprApplies()->text()) : std::nullopt},
        {kGWLTCFPolicyVersionKey, data.policyVersion() ? std::optional(data.policyVersion()->text()) : std::nullopt},
        {kGWLTCFEnableAdvertiserConsentModeKey, data.isAdvertiserConsentModeEnabled()
                                                    ? std::optional(data.isAdvertiserConsentModeEnabled()->text())
                                                    : std::nullopt},
        {kGWLTCFPurposeOneTreatmentKey, data.isPurposeOneTreatmentEnabled()
                                            ? std::optional(data.isPurposeOneTreatmentEnabled()->text())
                                            : std::nullopt},
        {kGWLTCFPurposeConsentsKey, data.purposeConsents()},
        {kGWLTCFVendorConsentsKey, data.vendorConsents()},
        {kGWLTCFVendorLegitimateInterestsKey, data.vendorLegitimateInterests()},
        {kGWLTCFPurposeLegitimateInterestsKey, data.purposeLegitimateInterests()},
        {kGWLTCFPublisherCCKey, data.publisherCC()},
    };
    for (const auto& [key, value] : fields) {
      EXPECT_EQ(value, key == c.key ? c.read : std::nullopt) << c.key << " = " << c.stored.description();
    }
  }
}

TEST_F(TCFDataReadTest, RestrictionIsTheCharacterAtIndex754) {
  const std::string emoji = "\xF0\x9F\x98\x80";
  std::string large(1 << 20, 'x');
  large[754] = '2';
  struct Case {
    const char* name;
    std::optional<Object> stored;
    std::string entry;
  } cases[] = {
      {"missing", std::nullopt, ""},
      {"754 characters", Object(std::string(754, '0')), ""},
      {"755 characters", Object(std::string(754, 'x') + "0"), "0"},
      {"longer", Object(std::string(754, 'x') + "1xyz"), "1"},
      {"not ASCII", Object(std::string(754, 'x') + "\xC3\xA9"), "\xC3\xA9"},
      {"an emoji before shifts it", Object(emoji + std::string(752, 'x') + "2"), "2"},
      {"second half of a surrogate pair", Object(std::string(753, 'x') + emoji), "\xEF\xBF\xBD"},
      {"first half of a surrogate pair", Object(std::string(754, 'x') + emoji), "\xEF\xBF\xBD"},
      {"one megabyte", Object(large), "2"},
      {"a number", Object(2), ""},
  };
  for (const Case& c : cases) {
    defaults_->clearAllData();
    if (c.stored) defaults_->setObject(*c.stored, "IABTCF_PublisherRestrictions3");
    const GWLTCFData data = read();
    ASSERT_TRUE(data.publisherRestrictions());
    GWLTCFData::Restrictions expected(10);
    expected[2] = c.entry;
    EXPECT_EQ(*data.publisherRestrictions(), expected) << c.name;
  }
  // Each purpose reads its own key.
  defaults_->clearAllData();
  for (int purpose = 1; purpose <= 10; ++purpose) {
    defaults_->setObject(Object(std::string(754, 'x') + std::to_string(purpose % 3)),
                         "IABTCF_PublisherRestrictions" + std::to_string(purpose));
  }
  EXPECT_EQ(*read().publisherRestrictions(),
            (GWLTCFData::Restrictions{"1", "2", "0", "1", "2", "0", "1", "2", "0", "1"}));
}

TEST_F(TCFDataReadTest, ReadingReplacesEveryField) {
  defaults_->setObject(Object("1111111111"), kGWLTCFPurposeConsentsKey);
  defaults_->setObject(Object(4), kGWLTCFPolicyVersionKey);
  GWLTCFData data = read({{kGWLTCFDataEnabledInfoKey, false}});
  EXPECT_EQ(data.purposeConsents(), "1111111111");
  defaults_->clearAllData();
  data.readFromUserDefaults();
  EXPECT_EQ(data.purposeConsents(), std::nullopt);
  EXPECT_EQ(data.policyVersion(), std::nullopt);
  EXPECT_FALSE(data.isTCFDataEnabled());  // read once, at creation

  // A fresh snapshot holds nothing until it reads.
  GWLTCFData fresh(defaults_, environmentWith({}));
  EXPECT_EQ(fresh.publisherRestrictions(), std::nullopt);
  EXPECT_EQ(fresh.userDefaults(), defaults_);
}

}  // namespace
}  // namespace measurement_test
