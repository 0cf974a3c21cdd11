// The engine's automatic events and internal user properties: first open,
// the session at launch, updates, the stored launch link, "_npa" with the
// consent it implies, the legacy "_hbraid" property, the session-number
// backfill and the removal of the session properties.
#include <gtest/gtest.h>

#include <filesystem>
#include <algorithm>
#include <fstream>
#include <limits>

#include "SessionTestSupport.h"
#include "analytics/attribution/GWLStoredDeepLink.h"
#include "analytics/foundation/core/GWLKeychainWrapper.h"
#include "analytics/foundation/storage/GWLEventAggregates.h"
#include "analytics/wire/GWLPBAdCampaignInfo.h"
#include "platform/storekit/SKAdNetwork.h"
#include "platform/text/BooleanText.h"

namespace measurement_test {
namespace {

using platform::Dictionary;
using platform::Object;

// 2020-09-13 10:20:05 UTC and the full hours around it.
constexpr double kTwentyPastTen = 1599992405;
constexpr double kTen = 1599991200;
constexpr int64_t kElevenMillis = 1599994800000;

Object at(const Dictionary& parameters, const std::string& name) {
  auto found = parameters.find(name);
  return found == parameters.end() ? Object() : found->second;
}

// SQL that makes the database refuse a statement on one user property.
std::string refusing(const char* when, const char* name) {
  return std::string("CREATE TRIGGER refuse_") + when + "_" + (name + 1) + " BEFORE " + when +
         " ON user_attributes WHEN " + (std::string(when) == "DELETE" ? "OLD" : "NEW") + ".name = '" + name +
         "' BEGIN SELECT RAISE(ABORT, 'refused'); END";
}

class AutomaticEventsTest : public SessionsTest {
 protected:
  void setKeychainCount(const std::string& count) {
    ASSERT_TRUE(GWLKeychainWrapper::upsertKeychainValue(count, kGWLPreviousFirstOpenCountKeychainIdentifier,
                                                        environment_->bundleIdentifier()));
  }
  // An app environment with this Info dictionary, environment and system
  // version, for the process while the engine runs.
  void useEnvironment(const Dictionary& info, const std::map<std::string, std::string>& variables,
                      const std::string& systemVersion = "17.0") {
    const std::string infoPath = (app_.path() / "SharedInfo.plist").string();
    ASSERT_TRUE(platform::PropertyList::writeFile(infoPath, Object(info), platform::PropertyListFormat::XML));
    platform::AppEnvironment::Configuration configuration;
    configuration.infoDictionaryPath = infoPath;
    configuration.environment = variables;
    configuration.systemVersion = systemVersion;
    sharedEnvironment = platform::AppEnvironment::create(configuration);
    ASSERT_TRUE(sharedEnvironment);
  }
};

// ---------------------------------------------------------------------------
// First open

struct FirstOpenCase {
  const char* what;
  std::optional<std::string> keychainCount;
  bool sameVersion;
  int64_t firstInstall;  // "_fi", also 1 - "_uwa"
  int64_t previousFirstOpens;  // "_pfo"
};

void PrintTo(const FirstOpenCase& c, std::ostream* out) { *out << c.what; }

class FirstOpenTest : public AutomaticEventsTest, public ::testing::WithParamInterface<FirstOpenCase> {};

TEST_P(FirstOpenTest, TheFirstStartReportsTheFirstOpen) {
  const FirstOpenCase& c = GetParam();
  if (c.keychainCount) setKeychainCount(*c.keychainCount);
  purchaseHooks->sameVersion = c.sameVersion;
  loadTimestamp = kTwentyPastTen;
  startEngine();

  const auto opens = events("_f");
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_EQ(eventTimes("_f"), std::vector<double>{kTwentyPastTen});
  EXPECT_EQ(at(opens[0], "_uwa"), Object(1 - c.firstInstall));
  EXPECT_EQ(at(opens[0], "_pfo"), Object(c.previousFirstOpens));
  EXPECT_EQ(at(opens[0], "_et"), Object()) << "efficient engagement reporting is off";
  EXPECT_EQ(intProperty("_fi"), c.firstInstall);
  EXPECT_EQ(intProperty("_fot"), kElevenMillis);
  EXPECT_EQ(property("_fot")->lastSetTimestamp(), kTwentyPastTen);
  EXPECT_EQ(settings_->firstOpenTimestampMilliseconds(), static_cast<int64_t>(kTwentyPastTen * 1000));
  EXPECT_EQ(eventTimes("_e"), std::vector<double>{kTwentyPastTen}) << "with its first engagement";
  EXPECT_EQ(at(events("_e")[0], "_et"), Object(int64_t{1}));
  EXPECT_TRUE(events("_s").empty()) << "the app is not active";
  EXPECT_FALSE(settings_->loadTimestampValue().has_value());

  startEngine();
  EXPECT_EQ(events("_f").size(), 1u) << "once per install";
  // Storing "_f" counted one more first open; a count below 1 counts as 0.
  const int64_t before = c.keychainCount ? platform::integerValueOfText(*c.keychainCount) : 0;
  EXPECT_EQ(GWLKeychainWrapper::keychainValueWithIdentifier(kGWLPreviousFirstOpenCountKeychainIdentifier,
                                                            environment_->bundleIdentifier()),
            std::to_string(std::max<int64_t>(before, 0) + 1));
}

INSTANTIATE_TEST_SUITE_P(
    Installs, FirstOpenTest,
    ::testing::Values(FirstOpenCase{"FreshInstall", std::nullopt, true, 1, 0},
                      FirstOpenCase{"UpdatedBeforeTheFirstStart", std::nullopt, false, 0, 0},
                      FirstOpenCase{"Reinstall", "3", false, 1, 3},
                      FirstOpenCase{"CountBelowOne", "0", true, 1, 0}),
    [](const ::testing::TestParamInfo<FirstOpenCase>& info) { return info.param.what; });

TEST(FirstOpenTime, RoundsUpToTheNextFullHour) {
  const std::pair<int64_t, int64_t> cases[] = {
      {static_cast<int64_t>(kTwentyPastTen * 1000), kElevenMillis},
      {static_cast<int64_t>(kTen * 1000), kElevenMillis},
      {0, 3600000},
      {std::numeric_limits<int64_t>::max() - 1, std::numeric_limits<int64_t>::max()},
  };
  for (auto [milliseconds, expected] : cases) {
    EXPECT_EQ(GWLMeasurement::timestampMillisRoundedUpToNextHour(milliseconds), expected) << milliseconds;
  }
}

TEST_F(AutomaticEventsTest, AFirstOpenAtAFullHourIsDatedAnHourLater) {
  loadTimestamp = kTen;
  startEngine();
  EXPECT_EQ(intProperty("_fot"), kElevenMillis);
}

TEST_F(AutomaticEventsTest, AFirstOpenWhoseTimeCannotBeStoredIsTriedAgainAtTheNextStart) {
  startEngine([](GWLDatabase& database) {
    ASSERT_TRUE(database.sqliteStore()->executeSQL(refusing("INSERT", "_fot")));
  });
  EXPECT_TRUE(events("_f").empty());
  EXPECT_EQ(intProperty("_fot"), std::nullopt);
  EXPECT_EQ(intProperty("_fi"), 1) << "the step before went through";
  const auto printed = codes();
  EXPECT_NE(std::find(printed.begin(), printed.end(), 23021), printed.end());
  EXPECT_EQ(settings_->firstOpenTimestampMilliseconds(), 0);

  startEngine([](GWLDatabase& database) {
    ASSERT_TRUE(database.sqliteStore()->executeSQL("DROP TRIGGER refuse_INSERT_fot"));
  });
  EXPECT_EQ(events("_f").size(), 1u);
  EXPECT_TRUE(intProperty("_fot").has_value());
}

TEST_F(AutomaticEventsTest, AnActiveAppStartsItsSessionAtTheFirstOpen) {
  active = true;
  loadTimestamp = kTwentyPastTen;
  startEngine({}, configWith(monitor_, {{kGWLSettingEfficientEngagementReportingEnabled, "1"},
                                        {kGWLSettingRedundantEngagementRemovalEnabled, "1"}}));
  const auto starts = events("_s");
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(eventTimes("_s"), std::vector<double>{kTwentyPastTen});
  EXPECT_EQ(at(starts[0], "_sno"), Object(int64_t{1}));
  EXPECT_EQ(at(starts[0], "_sid"), Object(static_cast<int64_t>(kTwentyPastTen)));
  EXPECT_EQ(at(starts[0], "_aib"), Object());
  EXPECT_EQ(intProperty("_sno"), 1);
  EXPECT_EQ(intProperty("_sid"), static_cast<int64_t>(kTwentyPastTen));
  EXPECT_EQ(at(events("_f")[0], "_et"), Object(int64_t{1})) << "efficient engagement reporting marks the first open";
  EXPECT_TRUE(events("_e").empty()) << "redundant engagement removal drops the first engagement";
}

// The app becomes active while the engine starts, after the first-open step
// looked at its state and before the components are ready: nobody told the
// session reporter, and the engine starts the launch session itself.
TEST_F(AutomaticEventsTest, AnActivationDuringTheStartStillStartsTheLaunchSession) {
  struct ActivatingLinks : GWLDeepLinkHooks {
    std::atomic<bool>* active;
    explicit ActivatingLinks(std::atomic<bool>* flag) : active(flag) {}
    bool hasStoredDeepLink() override {  // asked just after the first-open step
      active->store(true);
      return false;
    }
  };
  GWLInstalledHook<GWLDeepLinkHooks>::install(std::make_shared<ActivatingLinks>(&active));
  startEngine();
  ASSERT_EQ(events("_f").size(), 1u);
  EXPECT_EQ(events("_s").size(), 1u);
  EXPECT_EQ(intProperty("_sno"), 1);
}

TEST_F(AutomaticEventsTest, TheAdNetworkRegistrationFollowsTheInfoDictionary) {
  startEngine();
  auto registration = platform::SKAdNetwork::defaultInstance()->lastRegistration();
  ASSERT_TRUE(registration);
  EXPECT_EQ(registration->at(platform::kSKAdNetworkRegistrationCountKey), Object(int64_t{1}));
}

TEST_F(AutomaticEventsTest, AnOptedOutAppIsNotRegisteredWithTheAdNetwork) {
  make(with([](Setup& setup) { setup.info[kGWLRegistrationWithAdNetworkEnabledInfoKey] = false; }));
  analytics_->unsuspendOperationQueue();
  startEngine();
  EXPECT_FALSE(platform::SKAdNetwork::defaultInstance()->lastRegistration());
  const auto printed = codes();
  EXPECT_NE(std::find(printed.begin(), printed.end(), 23217), printed.end());
}

// ---------------------------------------------------------------------------
// Sessions at launch

TEST_F(AutomaticEventsTest, APrewarmedSceneLaunchStartsTheSessionWhenTheSceneConnects) {
  startEngine();  // the first open
  useEnvironment({{"UIApplicationSceneManifest", Dictionary{}}}, {{"ActivePrewarm", "1"}});
  clock_->advance(3600);
  startEngine();
  EXPECT_TRUE(events("_s").empty()) << "not at engine start";
  center_->post(platform::kSceneWillConnectNotification);
  center_->post(platform::kSceneWillConnectNotification);
  const auto starts = events("_s");
  ASSERT_EQ(starts.size(), 1u) << "once, for the first scene";
  EXPECT_EQ(eventTimes("_s"), std::vector<double>{measurement->initTimestamp()});
}

TEST_F(AutomaticEventsTest, ALaterStartWithAnExpiredSessionRemovesTheSessionProperties) {
  active = true;
  startEngine();
  active = false;
  ASSERT_TRUE(intProperty("_sno").has_value());
  clock_->advance(1801);
  startEngine();
  EXPECT_FALSE(intProperty("_sid").has_value());
  EXPECT_FALSE(intProperty("_sno").has_value());
}

TEST_F(AutomaticEventsTest, ASessionStartedInTheBackgroundIsMarkedSo) {
  startEngine();
  const std::pair<const char*, bool> cases[] = {{"1", true}, {"0", false}};
  for (auto [allowed, marked] : cases) {
    measurement->useConfig(configWith(monitor_, {{kGWLSettingAppInBackgroundParameterEnabled, allowed}}));
    clock_->advance(1801);
    const size_t before = events("_s").size();
    onWorker([&] { measurement->reportSessionStartOnWorkerQueueWithTimestamp(clock_->now(), true); });
    const auto starts = events("_s");
    ASSERT_EQ(starts.size(), before + 1);
    EXPECT_EQ(at(starts.back(), "_aib"), marked ? Object(int64_t{1}) : Object());
    onWorker([&] { measurement->reportSessionStartOnWorkerQueueWithTimestamp(clock_->now(), true); });
    EXPECT_EQ(events("_s").size(), before + 1) << "no second session while the first is alive";
  }
}

TEST(SessionStartEvent, CarriesTheScreenOrTheBackgroundMark) {
  const GWLParameters screen{{"_si", GWLValue::initWithInt64(7)}, {"_sn", *GWLValue::initWithString("Sheet")}};
  auto foreground = GWLSessionStartEvent(GWLValue::initWithInt64(4), false, 1700000000.75, screen, GWLValueLimits{});
  ASSERT_TRUE(foreground);
  EXPECT_EQ(foreground->name(), "_s");
  EXPECT_EQ(foreground->origin(), "auto");
  EXPECT_EQ(foreground->timestamp(), 1700000000.75);
  EXPECT_EQ(foreground->parameters().at("_sid"), GWLValue::initWithInt64(1700000000));
  EXPECT_EQ(foreground->parameters().at("_sno"), GWLValue::initWithInt64(4));
  EXPECT_EQ(foreground->parameters().at("_si"), GWLValue::initWithInt64(7));
  EXPECT_EQ(foreground->parameters().count("_aib"), 0u);

  auto background = GWLSessionStartEvent(GWLValue::initWithInt64(4), true, 1700000000.75, screen, GWLValueLimits{});
  ASSERT_TRUE(background);
  EXPECT_EQ(background->parameters().at("_aib"), GWLValue::initWithInt64(1));
  EXPECT_EQ(background->parameters().count("_si"), 0u);
}

TEST_F(AutomaticEventsTest, ASessionNumberOfZeroIsBackfilledFromTheSessionStarts) {
  startEngine([](GWLDatabase& database) {
    ASSERT_TRUE(database.updateEventAggregates(GWLEventAggregates::initWithName("_s", 5, 0, 0, 0)));
  });
  EXPECT_EQ(settings_->sessionNumber(), 5);

  settings_->setSessionNumber(9);
  onWorker([&] { measurement->backfillSessionNumber(); });
  EXPECT_EQ(settings_->sessionNumber(), 9) << "only a number of 0 is backfilled";
}

TEST_F(AutomaticEventsTest, SessionPropertiesGoTogetherOrNotAtAll) {
  startEngine();
  onWorker([&] {
    auto db = measurement->database();
    for (const char* name : {"_sid", "_sno", "_se"}) {
      ASSERT_TRUE(db->updateUserAttribute(GWLUserAttribute::initWithOrigin("auto", name, GWLValue::initWithInt64(1), 1)));
    }
    ASSERT_TRUE(db->sqliteStore()->executeSQL(refusing("DELETE", "_sno")));
  });
  // The removal's report is never printed; the transaction's own failure report follows it.
  sampleOnlyTheNextReport();
  onWorker([&] { measurement->removeSessionUserPropertiesOnWorkerQueue(); });
  EXPECT_TRUE(intProperty("_sid").has_value()) << "rolled back";
  EXPECT_TRUE(intProperty("_se").has_value());
  EXPECT_NE(lastSampledKey().find("Failed to remove session number user property on session expiration"),
            std::string::npos);

  onWorker([&] { ASSERT_TRUE(measurement->database()->sqliteStore()->executeSQL("DROP TRIGGER refuse_DELETE_sno")); });
  onWorker([&] { measurement->removeSessionUserPropertiesOnWorkerQueue(); });
  for (const char* name : {"_sid", "_sno", "_se"}) EXPECT_FALSE(intProperty(name).has_value()) << name;
}

// ---------------------------------------------------------------------------
// Updates

TEST_F(AutomaticEventsTest, UpdatesAreReportedAtTheFirstStartAfterThem) {
  // A start of the app at this version on this system.
  auto startAt = [this](const char* appVersion, const char* systemVersion) {
    stopEngine();
    make(with([appVersion](Setup& setup) { setup.info[platform::kCFBundleShortVersionStringKey] = appVersion; }));
    analytics_->unsuspendOperationQueue();
    useEnvironment({}, {}, systemVersion);
    startEngine();
  };
  startAt("1.0", "16.4");
  EXPECT_TRUE(events("_au").empty());
  EXPECT_TRUE(events("_ou").empty());
  EXPECT_EQ(settings_->appVersion(), "1.0");
  EXPECT_EQ(settings_->osVersion(), "16.4");

  startAt("1.1", "17.0");
  ASSERT_EQ(events("_au").size(), 1u);
  EXPECT_EQ(at(events("_au")[0], "_pv"), Object("1.0"));
  ASSERT_EQ(events("_ou").size(), 1u);
  EXPECT_EQ(at(events("_ou")[0], "_po"), Object("16.4"));

  startAt("1.1", "17.0");
  EXPECT_EQ(events("_au").size(), 1u) << "reported once";
  EXPECT_EQ(events("_ou").size(), 1u);
}

// ---------------------------------------------------------------------------
// The stored launch link

TEST_F(AutomaticEventsTest, TheStoredLaunchLinkBecomesTheFirstOpensCampaign) {
  struct Case {
    double age;
    bool expired;
  };
  for (const Case& c : {Case{604801, true}, Case{3600, false}}) {
    SCOPED_TRACE(c.age);
    stopEngine();
    settings_->clearValues();
    make();
    analytics_->unsuspendOperationQueue();
    const double storedAt = clock_->now();
    GWLStoreDeepLink(*sharedDefaults, "tabulo://open?utm_source=news&utm_medium=email&utm_campaign=spring",
                     std::string("https://www.halcyra.com/search?q=sheets"), *clock_);
    clock_->advance(c.age);
    loadTimestamp = clock_->now();
    startEngine([](GWLDatabase& database) { ASSERT_TRUE(database.reset()); });

    // A campaign whose click time is only coarsely known is logged as expired.
    const auto campaigns = events(c.expired ? "_cmpx" : "_cmp");
    ASSERT_EQ(campaigns.size(), 1u);
    const Dictionary& campaign = campaigns[0];
    if (c.expired) {
      EXPECT_EQ(at(campaign, "source"), Object("(not set)"));
      EXPECT_EQ(at(campaign, "medium"), Object("(not set)"));
      EXPECT_EQ(at(campaign, "_cc"), Object(int64_t{1}));
      EXPECT_EQ(at(campaign, "campaign"), Object());
    } else {
      EXPECT_EQ(at(campaign, "source"), Object("news"));
      EXPECT_EQ(at(campaign, "_cc"),
                Object(static_cast<int64_t>(storedAt * 1000) / 3600000 * 3600000 - 3600000));
    }
    // The referrer reaches the campaign step only with a fresh link; a search site's makes it a search campaign.
    EXPECT_EQ(storedEvents(c.expired ? "_cmpx" : "_cmp")[0]->origin(), c.expired ? "auto" : "hs");
    EXPECT_EQ(at(campaign, "click_timestamp"), Object(static_cast<int64_t>(loadTimestamp * 1000) - 1));
    for (const char* key : {kGWLStoredDeepLinkKey, kGWLStoredDeepLinkTimestampKey, kGWLStoredDeepLinkReferrerKey}) {
      EXPECT_FALSE(sharedDefaults->objectForKey(key).has_value()) << key;
    }
  }
}

// ---------------------------------------------------------------------------
// Ad personalisation

TEST_F(AutomaticEventsTest, TheAppsAdPersonalizationSettingBecomesNPA) {
  settings_->setAllowPersonalizedAds(Object(false));
  startEngine();
  EXPECT_EQ(intProperty("_npa"), 1);
  EXPECT_EQ(GWLConsentSettingsUtil::adPersonalization(), false) << "no consent was set: the setting gives it";
  EXPECT_EQ(GWLConsentSettingsUtil::consentDiagnostics().back(), '5') << "from the persisted setting";

  // A new process whose app no longer sets anything.
  GWLConsentSettingsUtil::resetForTesting();
  settings_->setAllowPersonalizedAds(Object());
  (void)codes();
  onWorker([&] { measurement->setPersonalizedAdsUserPropertyOnWorkerQueue(); });
  EXPECT_FALSE(intProperty("_npa").has_value());
  EXPECT_EQ(codes(), std::vector<int64_t>{23180});
}

TEST_F(AutomaticEventsTest, AnExistingConsentIsNotOverriddenByTheSetting) {
  GWLConsentSettingsUtil::setConsentSettings(Dictionary{{kGWLConsentTypeAdPersonalization, "granted"}});
  settings_->setAllowPersonalizedAds(Object(true));
  startEngine();
  EXPECT_EQ(intProperty("_npa"), 0);
  EXPECT_EQ(GWLConsentSettingsUtil::adPersonalization(), true);

  measurement->updateAdPersonalizationConsentFromNPAValue(1);
  EXPECT_EQ(GWLConsentSettingsUtil::adPersonalization(), false) << "a disagreeing value replaces it";
}

TEST_F(AutomaticEventsTest, AConfigurationChangingAdPersonalizationAsksForAnNPARefresh) {
  startEngine();
  EXPECT_FALSE(measurement->shouldUpdateNPAUserProperty());
  constexpr int32_t kAdPersonalizationType = 4;
  constexpr int32_t kDenied = 2;
  measurement->useConfig(configWith(monitor_, {}, {{kAdPersonalizationType, kDenied}}));
  onWorker([&] { measurement->updateConsentSettingsUtilWithRemoteConfig(); });
  EXPECT_EQ(GWLConsentSettingsUtil::defaultSettings(),
            (Dictionary{{kGWLConsentTypeAdPersonalization, kGWLConsentStatusDenied}}));
  EXPECT_TRUE(measurement->shouldUpdateNPAUserProperty());

  measurement->setShouldUpdateNPAUserProperty(false);
  onWorker([&] { measurement->updateConsentSettingsUtilWithRemoteConfig(); });
  EXPECT_FALSE(measurement->shouldUpdateNPAUserProperty()) << "the same defaults change nothing";
}

// ---------------------------------------------------------------------------
// The legacy click identifier, first-open time, file attributes

TEST_F(AutomaticEventsTest, TheLegacyClickIdentifierMovesIntoTheCampaignBuffer) {
  startEngine([](GWLDatabase& database) {
    ASSERT_TRUE(database.updateUserAttribute(
        GWLUserAttribute::initWithOrigin("auto", "_hbraid", *GWLValue::initWithString("braid-1"), 1650000000.5)));
  });
  EXPECT_FALSE(property("_hbraid"));
  auto buffer = settings_->adCampaignInfoBuffer();
  ASSERT_TRUE(buffer && buffer->bytesValue());
  auto info = GWLPBAdCampaignInfo::initWithBuffer(*buffer->bytesValue());
  ASSERT_TRUE(info);
  EXPECT_EQ(info->hbraid(), "braid-1");
  EXPECT_EQ(info->campaignTimestamp(), 1650000000500);
}

TEST_F(AutomaticEventsTest, AStoredCampaignBufferIsKept) {
  auto stored = GWLPBAdCampaignInfo::initWithMessageInfo();
  stored->setHclid("click");
  settings_->setAdCampaignInfoBuffer(Object(*stored->protoBuffer()));
  startEngine([](GWLDatabase& database) {
    ASSERT_TRUE(database.updateUserAttribute(
        GWLUserAttribute::initWithOrigin("auto", "_hbraid", *GWLValue::initWithString("braid-1"), 1)));
  });
  auto info = GWLPBAdCampaignInfo::initWithBuffer(*settings_->adCampaignInfoBuffer()->bytesValue());
  EXPECT_EQ(info->hclid(), "click");
  EXPECT_FALSE(info->hasHbraid());
  EXPECT_FALSE(property("_hbraid")) << "the legacy property goes either way";
}

TEST_F(AutomaticEventsTest, TheFirstOpenTimestampIsThatOfFOTElseTheEarliestProperty) {
  loadTimestamp = kTwentyPastTen;
  startEngine();
  double answer = 0;
  onWorker([&] { answer = measurement->firstOpenTimestamp(); });
  EXPECT_EQ(answer, kTwentyPastTen);

  onWorker([&] {
    auto db = measurement->database();
    ASSERT_TRUE(db->deleteUserAttributeWithName("_fot"));
    ASSERT_TRUE(db->updateUserAttribute(GWLUserAttribute::initWithOrigin("app", "early", GWLValue::initWithInt64(1), 5)));
    answer = measurement->firstOpenTimestamp();
  });
  EXPECT_EQ(answer, 5);

  onWorker([&] {
    ASSERT_TRUE(measurement->database()->sqliteStore()->executeSQL("DELETE FROM user_attributes"));
    answer = measurement->firstOpenTimestamp();
  });
  EXPECT_EQ(answer, 0);
  EXPECT_NE(lastSampledKey().find("Cannot extract first open timestamp"), std::string::npos);
}

TEST_F(AutomaticEventsTest, FileAttributesAnswerForFilesThatExist) {
  startEngine();
  const auto file = app_.path() / "attributes.txt";
  std::ofstream(file) << "12345";
  auto attributes = measurement->fileAttributesForPath(file.string());
  ASSERT_TRUE(attributes);
  EXPECT_EQ(attributes->at("NSFileSize"), Object(int64_t{5}));
  EXPECT_EQ(attributes->at("NSFileType"), Object("NSFileTypeRegular"));
  EXPECT_TRUE(attributes->at("NSFileModificationDate").isDate());

  EXPECT_FALSE(measurement->fileAttributesForPath(""));
  EXPECT_FALSE(measurement->fileAttributesForPath((app_.path() / "missing").string()));
  EXPECT_NE(lastSampledKey().find("Unable to read attributes of path"), std::string::npos);
}

}  // namespace
}  // namespace measurement_test
