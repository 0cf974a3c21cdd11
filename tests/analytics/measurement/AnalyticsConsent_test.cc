#include <gtest/gtest.h>

#include "MeasurementTestSupport.h"
#include "analytics/measurement/GWLAnalyticsConsent.h"

namespace measurement_test {
namespace {

using Util = GWLConsentSettingsUtil;
using platform::Dictionary;
using platform::Object;

class AnalyticsConsentTest : public MeasurementTest {
 protected:
  // A consent unit on a suite of the test's own, with `config` in force.
  std::unique_ptr<GWLAnalyticsConsent> makeConsent(std::shared_ptr<GWLRemoteConfig> config = nullptr) {
    GWLAnalyticsConsent::Dependencies dependencies;
    dependencies.defaults = suite_;
    dependencies.monitor = monitor_;
    if (!config) config = configWith(monitor_, {});
    dependencies.remoteConfig = [config] { return config; };
    auto consent = std::make_unique<GWLAnalyticsConsent>(dependencies);
    consent->setSink(sink_);
    return consent;
  }

  std::shared_ptr<GWLUserDefaults> suite_ = foundation_test::suiteIn(app_.path(), kGWLAnalyticsSuiteName);
  std::shared_ptr<RecordingSink> sink_ = std::make_shared<RecordingSink>();
};

TEST_F(AnalyticsConsentTest, SourcesByKeyArePersistedUnderTheirKeysAndRefusedByPriority) {
  auto consent = makeConsent();
  consent->setConsent(Dictionary{{"ad_storage", "granted"}, {"other", "denied"}});
  EXPECT_EQ(Util::consentSource(), 30);
  EXPECT_EQ(consent->consentSettings1P(), (Dictionary{{"ad_storage", "granted"}}));
  EXPECT_EQ(consent->persistedConsentSource(), 30);

  consent->setConsent(Dictionary{{"analytics_storage", "denied"}}, kGWLConsentSettings3PKey);
  EXPECT_EQ(Util::consentSource(), 10);
  EXPECT_EQ(consent->consentSettings3P(), (Dictionary{{"ad_storage", "granted"}, {"analytics_storage", "denied"}}));
  EXPECT_EQ(consent->persistedConsentSource(), 10);
  codes();

  // 30 after 10: refused.
  consent->setConsent(Dictionary{{"ad_storage", "denied"}});
  EXPECT_EQ(codes(), std::vector<int64_t>{kGWLLowerPriorityConsentCode});
  EXPECT_FALSE(Util::isAdStorageDenied());

  // 5 after 10, and 10 after 5, are accepted.
  consent->setConsent(Dictionary{{"ad_storage", "denied"}}, kGWLConsentSettingsTCFKey);
  EXPECT_EQ(Util::consentSource(), 5);
  EXPECT_TRUE(Util::isAdStorageDenied());
  EXPECT_EQ(consent->consentSettingsTCF()->at("ad_storage"), Object("denied"));
  consent->setConsent(Dictionary{{"ad_storage", "granted"}}, kGWLConsentSettings3PKey);
  EXPECT_EQ(Util::consentSource(), 10);
  EXPECT_FALSE(Util::isAdStorageDenied());
  EXPECT_EQ(codes(), std::vector<int64_t>{});
}

TEST_F(AnalyticsConsentTest, OnlyExactValuesAreKept) {
  auto consent = makeConsent();
  consent->setConsent(Dictionary{{"ad_storage", "GRANTED"}});
  EXPECT_EQ(codes(), (std::vector<int64_t>{kGWLInvalidConsentValueCode, kGWLEmptyConsentCode}));
  EXPECT_EQ(Util::consentSettings(), std::nullopt);
  EXPECT_EQ(Util::consentSource(), 100);
  EXPECT_EQ(consent->consentSettings1P(), std::nullopt);

  consent->setConsent(Dictionary{{"ad_storage", 1}, {"analytics_storage", "denied"}, {"ad_user_data", "Denied"}});
  EXPECT_EQ(codes(), (std::vector<int64_t>{kGWLInvalidConsentValueCode, kGWLInvalidConsentValueCode}));
  EXPECT_EQ(Util::consentSettings(), (Dictionary{{"analytics_storage", "denied"}}));
}

TEST_F(AnalyticsConsentTest, AdUserDataChangeIsReportedOnlyWithConfiguredDefaults) {
  struct Case {
    std::map<int32_t, int32_t> configDefaults;
    Dictionary given;
    size_t events;
  } cases[] = {
      {{{3, 1}}, {{"ad_user_data", "denied"}}, 1},   // changed, defaults configured
      {{{3, 1}}, {{"ad_user_data", "granted"}}, 0},  // unchanged
      {{}, {{"ad_user_data", "denied"}}, 0},         // changed, no defaults
      {{{1, 2}}, {{"ad_storage", "denied"}}, 0},     // ad user data untouched
  };
  for (const auto& c : cases) {
    Util::resetForTesting();
    suite_->clearAllData();
    sink_ = std::make_shared<RecordingSink>();
    auto consent = makeConsent(configWith(monitor_, {}, c.configDefaults));
    consent->setConsent(c.given);
    auto events = sink_->events();
    ASSERT_EQ(events.size(), c.events);
    if (!events.empty()) {
      EXPECT_EQ(events[0].origin, "auto");
      EXPECT_EQ(events[0].name, "_dcu");
      EXPECT_EQ(events[0].parameters, (Dictionary{{"_r", 1}}));
    }
  }
}

TEST_F(AnalyticsConsentTest, AdPersonalizationSetsTheUserProperty) {
  auto consent = makeConsent();
  consent->setConsent(Dictionary{{"ad_storage", "denied"}});
  consent->setConsent(Dictionary{{"ad_personalization", "denied"}});
  consent->setConsent(Dictionary{{"ad_personalization", "granted"}});
  using Property = std::pair<std::string, std::optional<std::string>>;
  EXPECT_EQ(sink_->properties(), (std::vector<Property>{{"allow_personalized_ads", "NO"},
                                                        {"allow_personalized_ads", "YES"}}));
}

TEST_F(AnalyticsConsentTest, RestoresThePersistedSettingsWithTheirSource) {
  const Dictionary tcf{{"ad_storage", "denied"}};
  const Dictionary thirdParty{{"analytics_storage", "denied"}};
  const Dictionary firstParty{{"ad_user_data", "granted"}};
  struct Case {
    std::optional<Object> source;
    bool withTCF, with3P, with1P;
    int64_t expectedSource;
    std::optional<Dictionary> expectedSettings;
  } cases[] = {
      {Object(10), false, true, false, 10, thirdParty},
      {Object(30), false, false, true, 30, firstParty},
      {Object(40), false, false, true, 40, firstParty},
      {Object(30), false, true, true, 20, thirdParty},
      {Object(10), true, true, true, 5, tcf},
      {Object(30), false, false, false, 30, std::nullopt},
      {std::nullopt, true, true, true, 100, std::nullopt},  // nothing persisted the source
      {Object("30"), false, false, true, 100, std::nullopt},  // a source that is no number
  };
  for (const auto& c : cases) {
    Util::resetForTesting();
    suite_->clearAllData();
    if (c.source) suite_->setObject(*c.source, kGWLConsentSourceKey);
    if (c.withTCF) suite_->setObject(tcf, kGWLConsentSettingsTCFKey);
    if (c.with3P) suite_->setObject(thirdParty, kGWLConsentSettings3PKey);
    if (c.with1P) suite_->setObject(firstParty, kGWLConsentSettingsKey);
    makeConsent()->loadPersistedConsentSettings();
    EXPECT_EQ(Util::consentSource(), c.expectedSource);
    EXPECT_EQ(Util::consentSettings(), c.expectedSettings);
  }
}

TEST_F(AnalyticsConsentTest, TheFirstCallRestoresBeforeItChecksPriority) {
  suite_->setObject(Object(10), kGWLConsentSourceKey);
  suite_->setObject(Dictionary{{"ad_storage", "denied"}}, kGWLConsentSettings3PKey);
  auto consent = makeConsent();
  consent->setConsent(Dictionary{{"ad_storage", "granted"}});
  EXPECT_EQ(codes(), std::vector<int64_t>{kGWLLowerPriorityConsentCode});
  EXPECT_TRUE(Util::isAdStorageDenied());
  EXPECT_EQ(Util::consentSource(), 10);
}

TEST_F(AnalyticsConsentTest, ClearConsentRemovesEveryKeyAndTheState) {
  auto consent = makeConsent();
  consent->setConsent(Dictionary{{"ad_storage", "denied"}}, kGWLConsentSettingsTCFKey);
  consent->setConsent(Dictionary{{"ad_storage", "denied"}}, kGWLConsentSettings3PKey);
  consent->setConsentSettings1PStart(Dictionary{{"analytics_storage", "denied"}});
  suite_->setObject(Object(true), kGWLDeferredConsentResetKey);
  suite_->setObject(Dictionary{{"ad_storage", "granted"}}, kGWLConsentSettingsKey);
  suite_->setObject(Object("kept"), "reset_retry_count");
  EXPECT_TRUE(consent->deferredResetOnDeniedConsent());
  EXPECT_EQ(consent->consentSettings1PStart(), (Dictionary{{"analytics_storage", "denied"}}));

  consent->clearConsent();
  for (const char* key : {kGWLConsentSettingsKey, kGWLConsentSettings3PKey, kGWLConsentSettingsTCFKey,
                          kGWLConsentSourceKey, kGWLConsentSettingsOnStartKey, kGWLDeferredConsentResetKey}) {
    EXPECT_EQ(suite_->objectForKey(key), std::nullopt) << key;
  }
  EXPECT_EQ(suite_->objectForKey("reset_retry_count"), Object("kept"));
  EXPECT_EQ(Util::consentSettings(), std::nullopt);
  EXPECT_EQ(Util::consentSource(), 100);
  EXPECT_EQ(Util::consentDiagnostics(), "19999");
}

TEST_F(AnalyticsConsentTest, TheRemoversTouchOnlyTheirKeys) {
  auto consent = makeConsent();
  consent->setConsentSettings1PStart(Dictionary{{"ad_storage", "denied"}});
  suite_->setObject(Object(true), kGWLDeferredConsentResetKey);
  consent->removeStartUpConsentSettings();
  EXPECT_EQ(consent->consentSettings1PStart(), std::nullopt);
  EXPECT_TRUE(consent->deferredResetOnDeniedConsent());
  consent->removeDeferredResetOnDeniedConsent();
  EXPECT_FALSE(consent->deferredResetOnDeniedConsent());
}

TEST_F(AnalyticsConsentTest, TheSinkMayAskAndSetConsentWhileACallRuns) {
  auto consent = makeConsent(configWith(monitor_, {}, {{3, 1}}));
  std::vector<std::string> seen;
  bool nested = false;
  sink_->duringCall = [&] {
    seen.push_back(Util::consentSignals() + (Util::isAdUserDataDenied() ? " denied" : " granted"));
    if (!nested) {
      nested = true;
      consent->setConsent(Dictionary{{"analytics_storage", "denied"}});
    }
  };
  consent->setConsent(Dictionary{{"ad_user_data", "denied"}, {"ad_storage", "granted"}});
  EXPECT_EQ(seen, std::vector<std::string>{"G11- denied"});
  EXPECT_TRUE(Util::isAnalyticsStorageDenied());
  EXPECT_EQ(consent->consentSettings1P(),
            (Dictionary{{"ad_storage", "granted"}, {"ad_user_data", "denied"}, {"analytics_storage", "denied"}}));
}

TEST_F(AnalyticsConsentTest, WithoutASinkNothingIsHandedOn) {
  GWLAnalyticsConsent::Dependencies dependencies;
  dependencies.defaults = suite_;
  dependencies.monitor = monitor_;
  auto config = configWith(monitor_, {}, {{3, 1}});
  dependencies.remoteConfig = [config] { return config; };
  GWLAnalyticsConsent consent(dependencies);
  consent.setConsent(Dictionary{{"ad_user_data", "denied"}, {"ad_personalization", "denied"}});
  EXPECT_TRUE(Util::isAdUserDataDenied());
  {
    auto gone = std::make_shared<RecordingSink>();
    consent.setSink(gone);
  }
  consent.setConsent(Dictionary{{"ad_user_data", "granted"}});
  EXPECT_FALSE(Util::isAdUserDataDenied());
}

}  // namespace
}  // namespace measurement_test
