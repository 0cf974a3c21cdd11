#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "MeasurementTestSupport.h"
#include "TCFTestSupport.h"
#include "analytics/measurement/GWLAnalyticsConsent.h"
#include "analytics/measurement/GWLTCFClient.h"
#include "platform/text/Utf8.h"

namespace measurement_test {
namespace {

using Util = GWLConsentSettingsUtil;
using platform::Dictionary;
using platform::Object;

const Dictionary kAllGranted{{"ad_storage", "granted"}, {"ad_personalization", "granted"},
                             {"ad_user_data", "granted"}};
const Dictionary kAllDenied{{"ad_storage", "denied"}, {"ad_personalization", "denied"}, {"ad_user_data", "denied"}};

// The keys a consent management platform writes for `grantingEverything`,
// with CMP SDK ID 300.
Dictionary grantingKeys() {
  return Dictionary{
      {kGWLTCFEnableAdvertiserConsentModeKey, Object(1)},
      {kGWLTCFGdprAppliesKey, Object(1)},
      {kGWLTCFPolicyVersionKey, Object(4)},
      {kGWLTCFCmpSdkIDKey, Object(300)},
      {kGWLTCFVendorConsentsKey, Object(vendorBits(true))},
      {kGWLTCFVendorLegitimateInterestsKey, Object(vendorBits(true))},
      {kGWLTCFPurposeConsentsKey, Object("1111111111")},
      {kGWLTCFPurposeLegitimateInterestsKey, Object(bits(10, {6}))},
  };
}

class TCFClientTest : public MeasurementTest {
 protected:
  std::unique_ptr<GWLTCFClient> makeClient(const Dictionary& info = {}) {
    GWLAnalyticsConsent::Dependencies consentDependencies;
    consentDependencies.defaults = analyticsSuite_;
    consentDependencies.monitor = monitor_;
    auto config = configWith(monitor_, {});
    consentDependencies.remoteConfig = [config] { return config; };
    consent_ = std::make_shared<GWLAnalyticsConsent>(consentDependencies);
    consent_->setSink(sink_);

    GWLTCFClient::Dependencies dependencies;
    dependencies.consent = consent_;
    dependencies.eventSink = sink_;
    dependencies.appDefaults = appDefaults_;
    dependencies.userDefaults = tcfSuite_;
    dependencies.environment = environmentWith(info);
    return std::make_unique<GWLTCFClient>(dependencies);
  }

  void write(const Dictionary& keys) {
    for (const auto& [key, value] : keys) appDefaults_->setObject(value, key);
  }

  // The "_tcf" events logged so far.
  std::vector<RecordingSink::Event> tcfEvents() {
    std::vector<RecordingSink::Event> events;
    for (auto& event : sink_->events()) {
      if (event.name == "_tcf") events.push_back(event);
    }
    return events;
  }

  // How often consent was applied: each application sets "allow_personalized_ads".
  size_t applications() { return sink_->properties().size(); }

  std::shared_ptr<GWLUserDefaults> appDefaults_ = memorySuite("app");
  std::shared_ptr<GWLUserDefaults> tcfSuite_ = memorySuite(kGWLTCFSuiteName);
  std::shared_ptr<GWLUserDefaults> analyticsSuite_ = memorySuite(kGWLAnalyticsSuiteName);
  std::shared_ptr<RecordingSink> sink_ = std::make_shared<RecordingSink>();
  std::shared_ptr<GWLAnalyticsConsent> consent_;
};

TEST_F(TCFClientTest, BundleParameterValue) {
  const int64_t beyond32Bits = int64_t{1} << 32;
  struct Case {
    Dictionary keys;
    bool enabled, dmaRegion;
    std::string value;
  } cases[] = {
      {{{kGWLTCFCmpSdkIDKey, 300}, {kGWLTCFPolicyVersionKey, 4}, {kGWLTCFGdprAppliesKey, 1},
        {kGWLTCFEnableAdvertiserConsentModeKey, true}},
       true, true, "14I4f"},
      {{{kGWLTCFCmpSdkIDKey, 5000}, {kGWLTCFPolicyVersionKey, 64}, {kGWLTCFGdprAppliesKey, 1}}, true, false, "10006"},
      {{}, true, true, "10005"},
      {{}, false, false, "10000"},
      {{{kGWLTCFCmpSdkIDKey, 4095}, {kGWLTCFPolicyVersionKey, 63}}, true, false, "1___4"},
      {{{kGWLTCFCmpSdkIDKey, 4096}, {kGWLTCFPolicyVersionKey, 0}}, true, false, "10004"},
      {{{kGWLTCFCmpSdkIDKey, -1}, {kGWLTCFPolicyVersionKey, -1}}, true, false, "10004"},
      // Whole 64-bit values: 2^32 + 300 is not 300, 2^32 + 4 is not 4.
      {{{kGWLTCFCmpSdkIDKey, beyond32Bits + 300}, {kGWLTCFPolicyVersionKey, beyond32Bits + 4}}, true, false, "10004"},
      {{{kGWLTCFCmpSdkIDKey, 300.9}, {kGWLTCFPolicyVersionKey, "4"}}, true, false, "14I04"},
      {{{kGWLTCFGdprAppliesKey, std::nan("")}, {kGWLTCFEnableAdvertiserConsentModeKey, 2}}, false, false, "10008"},
  };
  for (const Case& c : cases) {
    appDefaults_->clearAllData();
    write(c.keys);
    auto client = makeClient(c.enabled ? Dictionary{} : Dictionary{{kGWLTCFDataEnabledInfoKey, false}});
    EXPECT_TRUE(client->isDMARegion());  // set from the start
    client->setIsDMARegion(c.dmaRegion);
    client->readTCFData();
    EXPECT_EQ(client->tcfBundleParameterValue(), c.value) << Object(c.keys).description();
  }
}

TEST_F(TCFClientTest, ReasonAndMigrationParameterValues) {
  auto client = makeClient();
  client->readTCFData();
  EXPECT_EQ(client->tcfd2ParamValue(), "24445");
  write(grantingKeys());
  client->readTCFData();
  EXPECT_EQ(client->tcfd2ParamValue(), "21111");
  write({{"IABTCF_PublisherRestrictions1", std::string(754, 'x') + "2"}, {kGWLTCFPurposeConsentsKey, "1101111111"}});
  client->readTCFData();
  EXPECT_EQ(client->tcfd2ParamValue(), "28611");
  EXPECT_EQ(client->tcfd2ParamValueForPurposeID(3), 6);
  EXPECT_EQ(client->tcfd2ParamValueForPurposeID(5), 3);

  EXPECT_EQ(GWLTCFClient::tcfdMigrationParamValueForMigrationDidOccur(true, false), "10");
  EXPECT_EQ(GWLTCFClient::tcfdMigrationParamValueForMigrationDidOccur(false, true), "01");
  client->logTCFChangedEventShouldApplyOneTimeVendorFix(true, true);
  ASSERT_EQ(tcfEvents().size(), 1u);
  EXPECT_EQ(tcfEvents()[0].origin, "auto");
  EXPECT_EQ(tcfEvents()[0].parameters,
            (Dictionary{{"_tcfd", "14I4f"}, {"_tcfd2", "28611"}, {"_tcfm", "10"}}));
  EXPECT_EQ(GWLTCFClient::consentStatusFromEnabled(true), "granted");
  EXPECT_EQ(GWLTCFClient::consentStatusFromEnabled(false), "denied");
}

TEST_F(TCFClientTest, StateString) {
  const std::string restrictionAt754 = std::string(754, 'x');
  struct Case {
    Dictionary keys;
    bool enabled;
    std::string state;
  } cases[] = {
      {{}, true, "_v_=2,isTCFDataEnabled=1"},
      {{}, false, "_v_=2,isTCFDataEnabled=0"},
      {{{kGWLTCFEnableAdvertiserConsentModeKey, 1},
        {kGWLTCFCmpSdkIDKey, 300},
        {kGWLTCFVendorConsentsKey, vendorBits(true)},
        {kGWLTCFVendorLegitimateInterestsKey, vendorBits(false)},
        {kGWLTCFGdprAppliesKey, true},
        {kGWLTCFPolicyVersionKey, 4},
        {kGWLTCFPurposeConsentsKey, "1111111111"},
        {kGWLTCFPurposeLegitimateInterestsKey, "0000001000"},
        {"IABTCF_PublisherRestrictions1", restrictionAt754 + "0"},
        {"IABTCF_PublisherRestrictions3", restrictionAt754 + "2"},
        {"IABTCF_PublisherRestrictions10", restrictionAt754 + "1"},
        {kGWLTCFPurposeOneTreatmentKey, 1.5},
        {kGWLTCFPublisherCCKey, "CH"}},
       true,
       "_v_=2,isTCFDataEnabled=1,isAdvertiserConsentModeEnabled=1,cmpSDKID=300,hasHalcyraInVendorConsents=1,"
       "hasHalcyraInVendorLegitimateInterests=0,gdprApplies=1,policyVersion=4,purposeConsents=1111111111,"
       "purposeLegitimateInterests=0000001000,publisherRestrictions=0||2|||||||1,isPurposeOneTreatmentEnabled=1.5,"
       "publisherCC=CH"},
      // Restrictions too short for the library's entry leave no part; whole 64-bit numbers.
      {{{"IABTCF_PublisherRestrictions2", "0"}, {kGWLTCFCmpSdkIDKey, (int64_t{1} << 32) + 300},
        {kGWLTCFPolicyVersionKey, -5.5}, {kGWLTCFGdprAppliesKey, 0.0}, {kGWLTCFPurposeOneTreatmentKey, false}},
       true,
       "_v_=2,isTCFDataEnabled=1,cmpSDKID=4294967596,gdprApplies=0,policyVersion=-5,isPurposeOneTreatmentEnabled=0"},
      // Text stored as a number and the other way round is absent.
      {{{kGWLTCFCmpSdkIDKey, "300"}, {kGWLTCFPurposeConsentsKey, 1111}}, true, "_v_=2,isTCFDataEnabled=1"},
  };
  for (const Case& c : cases) {
    appDefaults_->clearAllData();
    write(c.keys);
    auto client = makeClient(c.enabled ? Dictionary{} : Dictionary{{kGWLTCFDataEnabledInfoKey, false}});
    EXPECT_EQ(client->stringRepresentationFromTCFData(), c.enabled ? kGWLTCFEmptyStateString
                                                                   : "_v_=2,isTCFDataEnabled=0");  // not read yet
    client->readTCFData();
    EXPECT_EQ(client->stringRepresentationFromTCFData(), c.state);
    EXPECT_EQ(client->hasTCFDataToRead(), c.state != "_v_=2,isTCFDataEnabled=1");
  }
}

TEST_F(TCFClientTest, UnchangedKeysLogOnceAndApplyOnceAndTheStoredCopiesKeepTheirNames) {
  write(grantingKeys());
  write({{"IABTCF_PublisherRestrictions2", std::string(754, 'x') + "1"}, {kGWLTCFPublisherCCKey, "DE"}});
  auto client = makeClient();
  client->setConsentFromTCFData();
  client->setConsentFromTCFData();

  ASSERT_EQ(tcfEvents().size(), 1u);
  EXPECT_EQ(tcfEvents()[0].origin, "auto");
  // Nothing stored before: the previous consent was all denied, so the consent changed.
  EXPECT_EQ(tcfEvents()[0].parameters, (Dictionary{{"_tcfd", "14I4f"}, {"_tcfd2", "21111"}, {"_tcfm", "01"}}));
  EXPECT_EQ(applications(), 1u);
  EXPECT_EQ(Util::consentSource(), kGWLConsentSourceTCF);
  EXPECT_EQ(Util::consentSettings(), kAllGranted);
  EXPECT_EQ(consent_->consentSettingsTCF(), kAllGranted);

  // The stored copies, under the names they were read from.
  const std::string state = client->stringRepresentationFromTCFData();
  EXPECT_EQ(tcfSuite_->objectForKey(kGWLTCFStringRepresentationKey), Object(state));
  EXPECT_EQ(tcfSuite_->objectForKey(kGWLTCFDataEnabledInfoKey), Object(true));
  for (const auto& [key, value] : grantingKeys()) EXPECT_EQ(tcfSuite_->objectForKey(key), value) << key;
  EXPECT_EQ(tcfSuite_->objectForKey(kGWLTCFPublisherCCKey), Object("DE"));
  EXPECT_EQ(tcfSuite_->objectForKey(kGWLTCFPublisherRestrictionsKey),
            Object(platform::Array{"", "1", "", "", "", "", "", "", "", ""}));
  EXPECT_EQ(tcfSuite_->objectForKey(kGWLTCFPurposeOneTreatmentKey), std::nullopt);
  EXPECT_TRUE(client->persistedValuesEqualCurrentData());
  EXPECT_EQ(client->previousConsent(), kAllGranted);

  // A change of consent: logged and applied.
  write({{kGWLTCFPurposeConsentsKey, "1101111111"}});
  client->setConsentFromTCFData();
  ASSERT_EQ(tcfEvents().size(), 2u);
  EXPECT_EQ(tcfEvents()[1].parameters.at("_tcfm"), Object("01"));
  EXPECT_EQ(applications(), 2u);
  EXPECT_EQ(Util::consentSettings()->at("ad_personalization"), Object("denied"));

  // A change that leaves the consent as it was is still logged and applied; a
  // key that went away leaves the suite.
  appDefaults_->removeObjectForKey(kGWLTCFCmpSdkIDKey);
  client->setConsentFromTCFData();
  ASSERT_EQ(tcfEvents().size(), 3u);
  EXPECT_EQ(tcfEvents()[2].parameters.at("_tcfm"), Object("00"));
  EXPECT_EQ(tcfEvents()[2].parameters.at("_tcfd"), Object("1004f"));
  EXPECT_EQ(applications(), 3u);
  EXPECT_EQ(tcfSuite_->objectForKey(kGWLTCFCmpSdkIDKey), std::nullopt);
}

TEST_F(TCFClientTest, AppliedOnlyWhenEnabledWithAdvertiserConsentModeAndGdpr) {
  struct Case {
    bool enabled;
    Object consentMode, gdpr;
    bool applied;
  } cases[] = {
      {true, Object(1), Object(1), true},
      {false, Object(1), Object(1), false},
      {true, Object(0), Object(1), false},
      {true, Object(1), Object(false), false},
      {true, Object("1"), Object(1), false},
      {true, Object(1), Object(), false},
  };
  for (const Case& c : cases) {
    Util::resetForTesting();
    appDefaults_->clearAllData();
    tcfSuite_->clearAllData();
    analyticsSuite_->clearAllData();
    write(grantingKeys());
    write({{kGWLTCFEnableAdvertiserConsentModeKey, c.consentMode}, {kGWLTCFGdprAppliesKey, c.gdpr}});
    const size_t before = tcfEvents().size();
    auto client = makeClient(c.enabled ? Dictionary{} : Dictionary{{kGWLTCFDataEnabledInfoKey, false}});
    client->setConsentFromTCFData();
    const std::string name = std::string(c.enabled ? "enabled" : "disabled") + ", mode " +
                             c.consentMode.description() + ", gdpr " + c.gdpr.description();
    // Stored and reported in every case.
    EXPECT_EQ(tcfEvents().size(), before + 1) << name;
    EXPECT_TRUE(client->persistedValuesEqualCurrentData()) << name;
    EXPECT_EQ(client->shouldApplyTCFData(), c.applied) << name;
    EXPECT_EQ(Util::consentSource(), c.applied ? kGWLConsentSourceTCF : kGWLConsentSourceNone) << name;
    EXPECT_EQ(consent_->consentSettingsTCF().has_value(), c.applied) << name;
  }
}

TEST_F(TCFClientTest, VendorFixFiresOnceForAnOldStoredState) {
  // An older library stored the same keys under a state string without "_v_=2".
  Dictionary keys = grantingKeys();
  keys[kGWLTCFVendorConsentsKey] = vendorBits(false);
  write(keys);
  for (const auto& [key, value] : keys) tcfSuite_->setObject(value, key);
  tcfSuite_->setObject(Object("isTCFDataEnabled=1,gdprApplies=1"), kGWLTCFStringRepresentationKey);

  auto client = makeClient();
  client->readTCFData();
  EXPECT_TRUE(client->shouldApplyOneTimeTCFVendorFix());
  client->setConsentFromTCFData();
  ASSERT_EQ(tcfEvents().size(), 1u);
  // The vendor fix happened; the consent it applies equals the stored copies' consent.
  EXPECT_EQ(tcfEvents()[0].parameters.at("_tcfm"), Object("10"));
  EXPECT_EQ(Util::consentSettings(), kAllDenied);
  EXPECT_EQ(Util::consentSource(), kGWLConsentSourceTCF);
  EXPECT_FALSE(client->shouldApplyOneTimeTCFVendorFix());

  client->setConsentFromTCFData();
  EXPECT_EQ(tcfEvents().size(), 1u);
  EXPECT_EQ(applications(), 1u);
}

TEST_F(TCFClientTest, VendorFixConditions) {
  struct Case {
    const char* name;
    std::optional<Object> storedState;
    bool vendorBit, enabled;
    bool due;
  } cases[] = {
      {"nothing stored", std::nullopt, false, true, true},
      {"old state", Object("isTCFDataEnabled=1"), false, true, true},
      {"state of this version", Object("_v_=2,isTCFDataEnabled=1"), false, true, false},
      {"stored state not text", Object(2), false, true, true},
      {"vendor bit set", std::nullopt, true, true, false},
      {"disabled", std::nullopt, false, false, false},
  };
  for (const Case& c : cases) {
    appDefaults_->clearAllData();
    tcfSuite_->clearAllData();
    write(grantingKeys());
    write({{kGWLTCFVendorConsentsKey, vendorBits(c.vendorBit)}});
    if (c.storedState) tcfSuite_->setObject(*c.storedState, kGWLTCFStringRepresentationKey);
    auto client = makeClient(c.enabled ? Dictionary{} : Dictionary{{kGWLTCFDataEnabledInfoKey, false}});
    client->readTCFData();
    EXPECT_EQ(client->shouldApplyOneTimeTCFVendorFix(), c.due) << c.name;
  }
}

TEST_F(TCFClientTest, DeletedKeysLeaveTheAppliedConsentInForce) {
  write(grantingKeys());
  auto client = makeClient();
  client->setConsentFromTCFData();
  const auto state = tcfSuite_->objectForKey(kGWLTCFStringRepresentationKey);

  appDefaults_->clearAllData();
  client->setConsentFromTCFData();
  EXPECT_FALSE(client->hasTCFDataToRead());
  EXPECT_EQ(tcfEvents().size(), 1u);
  EXPECT_EQ(Util::consentSettings(), kAllGranted);
  EXPECT_EQ(tcfSuite_->objectForKey(kGWLTCFStringRepresentationKey), state);
  EXPECT_FALSE(client->persistedValuesEqualCurrentData());

  client->clearPersistedValues();
  EXPECT_TRUE(tcfSuite_->objectForKey(kGWLTCFStringRepresentationKey) == std::nullopt);
  EXPECT_TRUE(tcfSuite_->objectForKey(kGWLTCFPurposeConsentsKey) == std::nullopt);
  EXPECT_EQ(client->previousConsent(), kAllDenied);
}

TEST_F(TCFClientTest, PreviousConsentReadsTheStoredCopiesAsTyped) {
  auto client = makeClient();
  EXPECT_EQ(client->previousConsent(), kAllDenied);
  for (const auto& [key, value] : grantingKeys()) tcfSuite_->setObject(value, key);
  EXPECT_EQ(client->previousConsent(), kAllGranted);

  // Restrictions: an entry that is not text is no restriction.
  tcfSuite_->setObject(Object(platform::Array{Object(0)}), kGWLTCFPublisherRestrictionsKey);
  EXPECT_EQ(client->previousConsent(), kAllGranted);
  tcfSuite_->setObject(Object(platform::Array{Object("0")}), kGWLTCFPublisherRestrictionsKey);
  EXPECT_EQ(client->previousConsent(),
            (Dictionary{{"ad_storage", "denied"}, {"ad_personalization", "granted"}, {"ad_user_data", "denied"}}));
  tcfSuite_->setObject(Object("0"), kGWLTCFPublisherRestrictionsKey);  // not an array: none
  tcfSuite_->setObject(Object("4"), kGWLTCFPolicyVersionKey);          // not a number: none
  EXPECT_EQ(client->previousConsent(),
            (Dictionary{{"ad_storage", "granted"}, {"ad_personalization", "granted"}, {"ad_user_data", "denied"}}));
}

TEST_F(TCFClientTest, MegabyteStringsAreStoredOnceAndStayValid) {
  std::string purposes(1 << 20, '1');
  std::string vendors = std::string(1 << 20, '\0');
  for (size_t i = 0; i < vendors.size(); ++i) vendors[i] = "1\xC3\xA9"[i % 3];  // "1é" repeated
  write(grantingKeys());
  write({{kGWLTCFPurposeConsentsKey, purposes}, {kGWLTCFVendorConsentsKey, vendors}});
  auto client = makeClient();
  client->setConsentFromTCFData();
  client->setConsentFromTCFData();
  EXPECT_EQ(tcfEvents().size(), 1u);
  const auto state = tcfSuite_->stringForKey(kGWLTCFStringRepresentationKey);
  ASSERT_TRUE(state);
  EXPECT_TRUE(platform::utf8::isValid(*state));
  EXPECT_GT(state->size(), purposes.size());
  // "1é" repeated: index 754 is the "1" of the 378th pair.
  EXPECT_TRUE(client->tcfData()->hasHalcyraInVendorConsents());
}

TEST_F(TCFClientTest, WithoutAConsentUnitItAppliesThroughOneOfItsOwn) {
  write(grantingKeys());
  GWLTCFClient::Dependencies dependencies;
  dependencies.eventSink = sink_;
  dependencies.appDefaults = appDefaults_;
  dependencies.userDefaults = tcfSuite_;
  dependencies.environment = environmentWith({});
  GWLTCFClient client(dependencies);
  client.setConsentFromTCFData();
  EXPECT_EQ(Util::consentSource(), kGWLConsentSourceTCF);
  EXPECT_EQ(Util::consentSettings(), kAllGranted);
  EXPECT_EQ(tcfEvents().size(), 1u);
  EXPECT_EQ(applications(), 1u);  // the own unit hands its effects to the same sink
}

TEST_F(TCFClientTest, ConcurrentCallsReportOneChange) {
  write(grantingKeys());
  auto client = makeClient();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&client, t] {
      for (int i = 0; i < 20; ++i) {
        client->setIsDMARegion((i + t) % 2 == 0);
        client->setConsentFromTCFData();
        (void)client->tcfBundleParameterValue();
        (void)client->tcfData()->isAdStoragePurposeGranted();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(tcfEvents().size(), 1u);
  EXPECT_EQ(applications(), 1u);
}

}  // namespace
}  // namespace measurement_test
