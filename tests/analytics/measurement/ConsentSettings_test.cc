#include <gtest/gtest.h>

#include "MeasurementTestSupport.h"
#include "analytics/measurement/GWLConsentSettingsUtil.h"

namespace measurement_test {
namespace {

using Util = GWLConsentSettingsUtil;
using platform::Dictionary;
using platform::Object;

class ConsentSettingsTest : public MeasurementTest {};

TEST_F(ConsentSettingsTest, NamesOfTypesStatusesAndSignals) {
  EXPECT_EQ(GWLConsentTypeName(1), "ad_storage");
  EXPECT_EQ(GWLConsentTypeName(2), "analytics_storage");
  EXPECT_EQ(GWLConsentTypeName(3), "ad_user_data");
  EXPECT_EQ(GWLConsentTypeName(4), "ad_personalization");
  EXPECT_EQ(GWLConsentTypeName(0), "");
  EXPECT_EQ(GWLConsentTypeName(5), "");
  EXPECT_EQ(GWLConsentStatusName(1), "granted");
  EXPECT_EQ(GWLConsentStatusName(2), "denied");
  EXPECT_EQ(GWLConsentStatusName(3), "");
  EXPECT_EQ(GWLConsentSignalCharacter(Object("denied")), '0');
  EXPECT_EQ(GWLConsentSignalCharacter(Object("DENIED")), '0');
  EXPECT_EQ(GWLConsentSignalCharacter(Object("Granted")), '1');
  EXPECT_EQ(GWLConsentSignalCharacter(Object("eu_consent_policy")), '-');
  EXPECT_EQ(GWLConsentSignalCharacter(Object(1)), '-');
  EXPECT_EQ(GWLConsentSignalCharacter(std::nullopt), '-');
}

TEST_F(ConsentSettingsTest, PriorityMatrix) {
  // Rows: the current source; columns: the new source, in the order of `sources`.
  const int64_t sources[] = {5, 10, 20, 30, 40, 100};
  const std::map<int64_t, std::string> mayReplace = {
      {5, "110000"}, {10, "110000"}, {20, "111000"}, {30, "111100"}, {40, "111110"}, {100, "111111"},
  };
  for (int64_t current : sources) {
    Util::setConsentSource(current);
    for (size_t i = 0; i < 6; ++i) {
      EXPECT_EQ(Util::isConsentSourceHigherPriority(sources[i]), mayReplace.at(current)[i] == '1')
          << "current " << current << ", new " << sources[i];
      const bool equal = (current == 5 && sources[i] == 10) || (current == 10 && sources[i] == 5);
      EXPECT_EQ(Util::isConsentSourceEqualPriority(sources[i]), equal);
    }
  }
}

TEST_F(ConsentSettingsTest, SignalsReadOnlyTheCurrentStorageValues) {
  struct Case {
    std::optional<Dictionary> current;
    std::string signals;
  } cases[] = {
      {std::nullopt, "G1--"},
      {Dictionary{{"ad_storage", "granted"}, {"analytics_storage", "denied"}}, "G110"},
      {Dictionary{{"ad_storage", "DENIED"}}, "G10-"},
      {Dictionary{{"analytics_storage", "granted"}, {"ad_user_data", "denied"}}, "G1-1"},
  };
  Util::setDefaultSettings(Dictionary{{"ad_storage", "denied"}, {"analytics_storage", "denied"}});
  for (const auto& c : cases) {
    Util::setConsentSettings(c.current);
    EXPECT_EQ(Util::consentSignals(), c.signals);
  }
}

TEST_F(ConsentSettingsTest, DiagnosticsFollowTheSourceThenTheRefreshRule) {
  struct Case {
    int64_t source;
    Dictionary current;
    std::optional<Dictionary> defaults;
    std::optional<Dictionary> delegations;
    std::string diagnostics;
  } cases[] = {
      {5, {{"ad_storage", "granted"}, {"analytics_storage", "denied"}}, std::nullopt, std::nullopt, "17799"},
      {10, {{"ad_storage", "granted"}}, std::nullopt, std::nullopt, "15999"},
      {30, {{"ad_user_data", "granted"}}, std::nullopt, std::nullopt, "19959"},
      {20, {{"ad_personalization", "denied"}}, std::nullopt, std::nullopt, "19993"},
      {40, {{"analytics_storage", "granted"}}, std::nullopt, std::nullopt, "19499"},
      // Without own values: ad user data delegated (2), defaults count only for
      // the types that do not end in "_storage" (1), else no value (9).
      {30, {{"ad_storage", "denied"}},
       Dictionary{{"analytics_storage", "granted"}, {"ad_user_data", "denied"}, {"ad_personalization", "granted"}},
       Dictionary{{"ad_user_data", "ad_storage"}}, "15921"},
      {30, {{"ad_storage", "denied"}}, Dictionary{{"ad_user_data", "denied"}}, std::nullopt, "15919"},
      // "eu_consent_policy" shows as 8 for the two types that may hold it.
      {20, {{"ad_storage", "eu_consent_policy"}, {"ad_user_data", "EU_Consent_Policy"},
            {"ad_personalization", "eu_consent_policy"}}, std::nullopt, std::nullopt, "13988"},
  };
  for (const auto& c : cases) {
    Util::resetForTesting();
    Util::setDefaultSettings(c.defaults);
    Util::setDelegatedSettings(c.delegations);
    Util::setConsentSettings(c.current);
    Util::setConsentSource(c.source);
    EXPECT_EQ(Util::consentDiagnostics(), c.diagnostics) << "source " << c.source;
  }
}

TEST_F(ConsentSettingsTest, UpdatesMergeAndMarkOnlyTheGivenTypesOnceTheDiagnosticsExist) {
  // Before anything made the diagnostics, an update writes no digit.
  Util::updateSettings(Dictionary{{"ad_storage", "granted"}}, 30);
  EXPECT_EQ(Util::consentDiagnostics(), "10999");
  Util::updateSettings(Dictionary{{"analytics_storage", "denied"}}, 5);
  EXPECT_EQ(Util::consentSource(), 5);
  EXPECT_EQ(Util::consentSettings(), (Dictionary{{"ad_storage", "granted"}, {"analytics_storage", "denied"}}));
  EXPECT_EQ(Util::consentDiagnostics(), "10799");
  // Without a source, the merge leaves the source and the digits alone.
  Util::updateSettings(Dictionary{{"ad_storage", "denied"}});
  EXPECT_EQ(Util::consentSource(), 5);
  EXPECT_EQ(Util::consentSettings()->at("ad_storage"), Object("denied"));
  EXPECT_EQ(Util::consentDiagnostics(), "10799");
  Util::setDiagnosticSource(3, "ad_personalization");
  Util::setConsentSettings(Dictionary{{"ad_personalization", "granted"}});
  EXPECT_EQ(Util::consentDiagnostics(), "19993");
  Util::unsetAdPersonalization();
  EXPECT_EQ(Util::consentSettings(), Dictionary());
  EXPECT_EQ(Util::consentDiagnostics(), "19999");
  // No settings at all: source 100 again.
  Util::setConsentSettings(std::nullopt);
  EXPECT_EQ(Util::consentSource(), 100);
  Util::setDefaultSettings(Dictionary{{"ad_personalization", "denied"}});
  Util::clearAllSettings();
  EXPECT_EQ(Util::defaultSettings(), std::nullopt);
  EXPECT_EQ(Util::consentSource(), 100);
  EXPECT_EQ(Util::consentDiagnostics(), "19999");
}

TEST_F(ConsentSettingsTest, AdUserDataAndAdPersonalization) {
  struct Case {
    std::optional<Dictionary> current;
    std::optional<Dictionary> defaults;
    std::optional<Dictionary> delegations;
    std::optional<Dictionary> regional;
    bool adUserDataDenied;
    std::optional<bool> adPersonalization;
  } cases[] = {
      {std::nullopt, std::nullopt, std::nullopt, std::nullopt, false, std::nullopt},
      {Dictionary{{"ad_user_data", "denied"}, {"ad_personalization", "granted"}}, std::nullopt, std::nullopt,
       std::nullopt, true, true},
      {Dictionary{{"ad_user_data", "Granted"}, {"ad_personalization", "DENIED"}}, std::nullopt, std::nullopt,
       std::nullopt, false, false},
      // Delegated to a denied "ad_storage".
      {Dictionary{{"ad_storage", "denied"}}, std::nullopt, Dictionary{{"ad_user_data", "ad_storage"}}, std::nullopt,
       true, std::nullopt},
      // The delegate's value wins over the default.
      {Dictionary{{"ad_storage", "granted"}}, Dictionary{{"ad_user_data", "denied"}},
       Dictionary{{"ad_user_data", "ad_storage"}}, std::nullopt, false, std::nullopt},
      // A delegate without a value falls back to the default.
      {Dictionary{}, Dictionary{{"ad_user_data", "denied"}, {"ad_personalization", "denied"}},
       Dictionary{{"ad_user_data", "ad_storage"}}, std::nullopt, true, false},
      // "eu_consent_policy" reads the regional default, else counts as denied.
      {Dictionary{{"ad_user_data", "EU_CONSENT_POLICY"}, {"ad_personalization", "eu_consent_policy"}}, std::nullopt,
       std::nullopt, std::nullopt, true, false},
      {Dictionary{{"ad_user_data", "eu_consent_policy"}, {"ad_personalization", "eu_consent_policy"}},
       Dictionary{{"ad_user_data", "denied"}}, std::nullopt,
       Dictionary{{"ad_user_data", "granted"}, {"ad_personalization", "granted"}}, false, true},
      // A value that is no text is neither denied nor granted.
      {Dictionary{{"ad_user_data", 1}, {"ad_personalization", true}}, Dictionary{{"ad_user_data", "denied"}},
       std::nullopt, std::nullopt, false, std::nullopt},
  };
  int index = 0;
  for (const auto& c : cases) {
    Util::resetForTesting();
    Util::setConsentSettings(c.current);
    Util::setDefaultSettings(c.defaults);
    Util::setDelegatedSettings(c.delegations);
    Util::setRegionalDefaults(c.regional);
    EXPECT_EQ(Util::isAdUserDataDenied(), c.adUserDataDenied) << "case " << index;
    EXPECT_EQ(Util::adPersonalization(), c.adPersonalization) << "case " << index;
    EXPECT_EQ(Util::didAdUserDataConsentChange(!c.adUserDataDenied), true);
    ++index;
  }
  // The storage questions never consult the defaults.
  Util::resetForTesting();
  Util::setDefaultSettings(Dictionary{{"ad_storage", "denied"}, {"analytics_storage", "denied"}});
  EXPECT_FALSE(Util::isAdStorageDenied());
  EXPECT_FALSE(Util::isAnalyticsStorageDenied());
  Util::setConsentSettings(Dictionary{{"ad_storage", "Denied"}, {"analytics_storage", "denied"}});
  EXPECT_TRUE(Util::isAdStorageDenied());
  EXPECT_TRUE(Util::isAnalyticsStorageDenied());
}

TEST_F(ConsentSettingsTest, Description) {
  EXPECT_EQ(Util::description(), "ad_storage is granted. analytics_storage is granted.");
  Util::setConsentSettings(Dictionary{{"ad_storage", "denied"}, {"ad_personalization", "granted"}});
  EXPECT_EQ(Util::description(), "ad_storage is denied. analytics_storage is granted. ad_personalization is granted.");
  Util::setRegionalDefaults(Dictionary{{"ad_personalization", "denied"}});
  Util::setConsentSettings(Dictionary{{"analytics_storage", "denied"},
                                      {"ad_user_data", "eu_consent_policy"},
                                      {"ad_personalization", "EU_CONSENT_POLICY"}});
  EXPECT_EQ(Util::description(),
            "ad_storage is granted. analytics_storage is denied. ad_user_data is denied (eu_consent_policy). "
            "ad_personalization is denied (eu_consent_policy).");
}

TEST_F(ConsentSettingsTest, InfoDictionaryDefaults) {
  struct Case {
    const char* key;
    Object value;
    std::optional<std::string> expected;  // the value for the key's consent type; none: contributes nothing
  } cases[] = {
      {kGWLDefaultAllowAdStorageInfoKey, Object(true), "granted"},
      {kGWLDefaultAllowAdStorageInfoKey, Object(false), "denied"},
      {kGWLDefaultAllowAdStorageInfoKey, Object(0), "denied"},
      {kGWLDefaultAllowAdStorageInfoKey, Object(2.5), "granted"},
      {kGWLDefaultAllowAdStorageInfoKey, Object("YES"), "granted"},
      {kGWLDefaultAllowAdStorageInfoKey, Object(" no"), "denied"},
      {kGWLDefaultAllowAdStorageInfoKey, Object("eu_consent_policy"), std::nullopt},
      {kGWLDefaultAllowAdStorageInfoKey, Object(Dictionary{}), std::nullopt},
      {kGWLDefaultAllowAnalyticsStorageInfoKey, Object("1"), "granted"},
      {kGWLDefaultAllowAnalyticsStorageInfoKey, Object("EU_CONSENT_POLICY"), std::nullopt},
      {kGWLDefaultAllowAdUserDataInfoKey, Object("EU_CONSENT_POLICY"), "eu_consent_policy"},
      {kGWLDefaultAllowAdUserDataInfoKey, Object(false), "denied"},
      {kGWLDefaultAllowAdUserDataInfoKey, Object(platform::Array{}), std::nullopt},
      // Ad personalisation takes only text.
      {kGWLDefaultAllowAdPersonalizationSignalsInfoKey, Object(1), std::nullopt},
      {kGWLDefaultAllowAdPersonalizationSignalsInfoKey, Object(true), std::nullopt},
      {kGWLDefaultAllowAdPersonalizationSignalsInfoKey, Object("true"), "granted"},
      {kGWLDefaultAllowAdPersonalizationSignalsInfoKey, Object("nope"), "denied"},
      {kGWLDefaultAllowAdPersonalizationSignalsInfoKey, Object("Eu_Consent_Policy"), "eu_consent_policy"},
  };
  const std::map<std::string, std::string> typeOfKey = {
      {kGWLDefaultAllowAdStorageInfoKey, "ad_storage"},
      {kGWLDefaultAllowAnalyticsStorageInfoKey, "analytics_storage"},
      {kGWLDefaultAllowAdUserDataInfoKey, "ad_user_data"},
      {kGWLDefaultAllowAdPersonalizationSignalsInfoKey, "ad_personalization"},
  };
  for (const auto& c : cases) {
    Dictionary expected;
    if (c.expected) expected[typeOfKey.at(c.key)] = *c.expected;
    EXPECT_EQ(Util::consentSettingsFromPlist(Dictionary{{c.key, c.value}, {"CFBundleVersion", "1"}}), expected)
        << c.key << " = " << c.value.description();
  }
  // Read from the app's Info dictionary.
  platform::AppEnvironment::setShared(environmentWith({{kGWLDefaultAllowAdStorageInfoKey, false}}));
  EXPECT_EQ(Util::consentSettingsFromPlist(), (Dictionary{{"ad_storage", "denied"}}));
  platform::AppEnvironment::setShared(nullptr);
}

TEST_F(ConsentSettingsTest, EUConsentPolicyFromTheInfoDictionaryWithoutARegionalDefault) {
  auto settings = Util::consentSettingsFromPlist(Dictionary{{kGWLDefaultAllowAdUserDataInfoKey, "EU_CONSENT_POLICY"}});
  Util::setConsentSettings(settings);
  Util::setConsentSource(kGWLConsentSourceInfoDictionary);
  EXPECT_TRUE(Util::isAdUserDataDenied());
  EXPECT_EQ(Util::description(),
            "ad_storage is granted. analytics_storage is granted. ad_user_data is denied (eu_consent_policy).");
  EXPECT_EQ(Util::consentDiagnostics().substr(3, 1), "8");
}

TEST_F(ConsentSettingsTest, KeepsOnlyTheConsentTypesOfADictionary) {
  EXPECT_EQ(Util::consentSettingsFromDictionary(
                Dictionary{{"ad_storage", 3}, {"other", "granted"}, {"ad_personalization", "x"}}),
            (Dictionary{{"ad_storage", 3}, {"ad_personalization", "x"}}));
}

}  // namespace
}  // namespace measurement_test
