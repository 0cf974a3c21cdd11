#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "../FoundationTestSupport.h"
#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/config/GWLPersistentDictionary.h"
#include "analytics/foundation/core/GWLPaths.h"
#include "platform/core/Log.h"
#include "platform/storage/PropertyList.h"

namespace {

namespace fs = std::filesystem;

class PersistedConfigTest : public ::testing::Test {
 protected:
  void SetUp() override { GWLMeasurementRegistry::resetForTesting(monitor_); }
  void TearDown() override {
    GWLPersistedConfig::resetSharedInstanceForTesting();
    GWLMeasurementRegistry::resetForTesting();
  }

  std::shared_ptr<GWLPersistedConfig> open() {
    GWLPersistedConfig::Dependencies dependencies;
    dependencies.clock = clock_;
    dependencies.monitor = monitor_;
    dependencies.notificationCenter = center_;
    dependencies.randomBelow = [this](uint64_t bound) { return nextDraw_++ % bound; };
    return GWLPersistedConfig::create(kGWLPersistedConfigSuiteName, dependencies);
  }
  // Simulates a new process: the preferences are read again from their files.
  void restart() { platform::PreferencesStore::resetForTesting(); }

  foundation_test::DataDirectory data_;
  foundation_test::MonitorSetup setup_;
  std::shared_ptr<GWLMonitor> monitor_ = setup_.make();
  std::shared_ptr<platform::ManualClock> clock_ = std::make_shared<platform::ManualClock>();
  std::shared_ptr<platform::NotificationCenter> center_ = platform::NotificationCenter::create();
  uint64_t nextDraw_ = 43210123;
};

TEST_F(PersistedConfigTest, SettingsSurviveARestart) {
  {
    auto config = open();
    ASSERT_TRUE(config && config->dictionary());
    config->setAppInstanceID(std::string("0123456789abcdef"));
    config->setSessionNumber(7);
    config->setLastSuccessfulUploadTimestamp(1700000000.5);
    config->setShouldSetLastAdvertisingIDResetUserProperty(true);
    config->setDefaultEventParameters(platform::Dictionary{{"plan", "pro"}, {"seats", 3}});
    config->setPreviousFirstOpenCount(2);
    config->setAdCampaignInfoBuffer(platform::Array{"campaign"});
    config->setConfigServerLastModifiedString(std::string("Tue, 01 Dec 2026 10:00:00 GMT"));
    config->setMeasurementEnabledState(2);
    config->synchronizeToDisk();  // the engine's request when the app resigns active
  }
  restart();
  auto config = open();
  EXPECT_EQ(config->appInstanceID(), "0123456789abcdef");
  EXPECT_EQ(config->sessionNumber(), 7);
  EXPECT_EQ(config->lastSuccessfulUploadTimestamp(), 1700000000.5);
  EXPECT_TRUE(config->shouldSetLastAdvertisingIDResetUserProperty());
  EXPECT_EQ(config->defaultEventParameters(), (platform::Dictionary{{"plan", "pro"}, {"seats", 3}}));
  EXPECT_EQ(config->previousFirstOpenCount(), platform::Object(2));
  EXPECT_EQ(config->adCampaignInfoBuffer(), platform::Object(platform::Array{"campaign"}));
  EXPECT_EQ(config->configServerLastModifiedString(), "Tue, 01 Dec 2026 10:00:00 GMT");
  EXPECT_EQ(config->measurementEnabledState(), 2);
  EXPECT_TRUE(fs::exists(GWLMeasurementPlistPath(kGWLPersistedConfigSuiteName)));
  EXPECT_EQ(fs::path(GWLMeasurementPlistPath(kGWLPersistedConfigSuiteName)).parent_path(),
            fs::path(data_.paths()->applicationSupportDirectory()) / "Halcyra" / "Measurement");
}

TEST_F(PersistedConfigTest, EachSettingReadsOnlyItsKind) {
  auto config = open();
  config->setNumber(5, kGWLPersistedConfigAppVersionKey);
  config->setString(std::string("12"), kGWLPersistedConfigSessionNumberKey);
  config->setString(std::string("x"), kGWLPersistedConfigDefaultEventParametersKey);
  EXPECT_EQ(config->appVersion(), std::nullopt);
  EXPECT_EQ(config->sessionNumber(), 0);
  EXPECT_EQ(config->defaultEventParameters(), std::nullopt);
  EXPECT_EQ(config->sessionTimeoutValue(), std::nullopt) << "absent";
  EXPECT_EQ(config->lastBackoffTimestamp(), 0);

  config->setSearchAdCampaignValue(1);
  config->setSearchAdCampaignValue("yes");
  EXPECT_EQ(config->searchAdCampaignValue(), platform::Object(1)) << "a value that is not a number is ignored";

  config->setAppVersion(std::nullopt);
  config->setAppVersion(std::string("1.2"));
  config->setAppVersion(std::nullopt);
  EXPECT_EQ(config->appVersion(), std::nullopt) << "nothing stored removes the setting";
}

TEST_F(PersistedConfigTest, UnsupportedDictionaryIsRefused) {
  platform::log::ScopedCapture capture;
  auto config = open();
  config->setDefaultEventParameters(platform::Dictionary{{"ok", 1}});
  config->setDefaultEventParameters(platform::Dictionary{{"bad", platform::Object()}});
  EXPECT_EQ(config->defaultEventParameters(), (platform::Dictionary{{"ok", 1}}));
  monitor_->flush();
  EXPECT_TRUE(capture.sink().contains("Unsupported value passed in dictionary"));
}

TEST_F(PersistedConfigTest, MidnightOffsetIsDrawnOnceAndKept) {
  auto config = open();
  std::vector<double> seen(8);
  std::vector<std::thread> readers;
  for (auto& slot : seen) readers.emplace_back([&config, &slot] { slot = config->midnightOffset(); });
  for (auto& reader : readers) reader.join();
  for (double offset : seen) EXPECT_EQ(offset, seen[0]) << "concurrent first readers see one offset";
  EXPECT_EQ(seen[0], 43210.123);
  EXPECT_GE(seen[0], 0);
  EXPECT_LT(seen[0], 86400);

  config->synchronizeToDisk();
  config.reset();
  restart();
  config = open();
  EXPECT_EQ(config->midnightOffset(), 43210.123) << "kept across restarts";

  config->clearValues();
  EXPECT_EQ(config->midnightOffset(), 43210.124) << "a new offset after the settings are cleared";
}

TEST_F(PersistedConfigTest, ClearingKeepsTheEnabledStateInTheSharedPreferences) {
  auto config = open();
  config->setMeasurementEnabledState(1);
  config->setSessionNumber(3);
  config->clearValues();
  EXPECT_EQ(config->sessionNumber(), 0);
  EXPECT_EQ(config->measurementEnabledState(), 1);
  EXPECT_EQ(GWLUserDefaults::sharedUserDefaults()->integerForKey(kGWLPersistedConfigMeasurementEnabledStateKey), 1);
}

TEST_F(PersistedConfigTest, SynchronisationFollowsTheLastWriteOfABurst) {
  auto config = open();
  for (int i = 0; i < 5; ++i) {
    config->setSessionNumber(i);
    clock_->advance(0.5);
  }
  // The dictionary's own delayed write came a second after the first change
  // and held the values of then; the request one second after the last write
  // brings the file up to date.
  clock_->advance(1);
  config->dictionary()->flush();
  config->setLastBackoffTimestamp(0);  // a write on the settings queue runs after the request
  auto file = platform::PropertyList::readFile(GWLMeasurementPlistPath(kGWLPersistedConfigSuiteName));
  ASSERT_TRUE(file);
  EXPECT_EQ(*file->find(kGWLPersistedConfigSessionNumberKey), platform::Object(4));
}

TEST_F(PersistedConfigTest, MovesTheOldPreferencesFileIntoTheLibraryDirectory) {
  const std::string oldPath = GWLPreferencesFilePath(kGWLPersistedConfigSuiteName);
  const std::string newPath = GWLMeasurementPlistPath(kGWLPersistedConfigSuiteName);
  ASSERT_TRUE(platform::PropertyList::writeFile(
      oldPath, platform::Dictionary{{kGWLPersistedConfigAppInstanceIdKey, "from-old-place"}}));
  EXPECT_EQ(open()->appInstanceID(), "from-old-place");
  EXPECT_FALSE(fs::exists(oldPath));
  EXPECT_TRUE(fs::exists(newPath));

  // With both files present the old one is deleted and the new one kept.
  ASSERT_TRUE(platform::PropertyList::writeFile(
      oldPath, platform::Dictionary{{kGWLPersistedConfigAppInstanceIdKey, "stale"}}));
  EXPECT_EQ(open()->appInstanceID(), "from-old-place");
  EXPECT_FALSE(fs::exists(oldPath));
}

TEST_F(PersistedConfigTest, SharedInstanceUsesTheLibrarySuite) {
  auto shared = GWLPersistedConfig::sharedInstance();
  ASSERT_TRUE(shared);
  EXPECT_EQ(shared, GWLPersistedConfig::sharedInstance());
  EXPECT_EQ(shared->name(), "com.halcyra.qrx.measurement");
  EXPECT_EQ(shared->dictionary()->filePath(), GWLMeasurementPlistPath("com.halcyra.qrx.measurement"));
}

TEST(PersistedConfigWithoutDataDirectory, ReadsDefaultsAndKeepsOneMidnightOffset) {
  platform::Paths::setCurrent(nullptr);
  platform::log::ScopedCapture capture;
  foundation_test::MonitorSetup setup;
  GWLMeasurementRegistry::resetForTesting(setup.make());
  GWLPersistedConfig::Dependencies dependencies;
  dependencies.sharedUserDefaults = setup.sharedDefaults;
  auto config = GWLPersistedConfig::create(kGWLPersistedConfigSuiteName, dependencies);
  ASSERT_TRUE(config);
  EXPECT_FALSE(config->dictionary());
  config->setSessionNumber(4);
  EXPECT_EQ(config->sessionNumber(), 0);
  double offset = config->midnightOffset();
  EXPECT_EQ(config->midnightOffset(), offset);
  EXPECT_EQ(GWLPersistedConfig::create("", dependencies), nullptr);
  GWLMeasurementRegistry::resetForTesting();
}

TEST(UserDefaults, SuitesKeepValuesAndRefuseBadInput) {
  foundation_test::DataDirectory data;
  platform::log::ScopedCapture capture;
  auto suite = std::make_shared<GWLUserDefaults>("GWLAnalyticsSuiteName");
  suite->setObject("x", "");
  EXPECT_FALSE(suite->objectForKey(""));
  suite->setObject(platform::Dictionary{{"k", platform::Object()}}, "bad");
  EXPECT_EQ(capture.sink().lines(),
            (std::vector<std::string>{
                "I-ACS041002 Cannot set object for invalid user default key.",
                "I-ACS041001 Cannot get object for invalid user default key.",
                "I-ACS041003 Cannot set invalid object to user defaults. Must be a string or number or an array. "
                "Value {\"k\": null}"}));

  suite->setInteger(1, "a");
  suite->setBool(true, "b");
  suite->setObject("text", "c");
  EXPECT_EQ(suite->integerForKey("c"), 0);
  EXPECT_EQ(suite->stringForKey("a"), std::nullopt);
  EXPECT_TRUE(suite->boolForKey("b"));
  EXPECT_EQ(suite->numberForKey("b"), platform::Object(true));
  EXPECT_TRUE(suite->synchronize());
  EXPECT_TRUE(suite->isPreferenceFileExcluded());

  platform::PreferencesStore::resetForTesting();  // a new process
  auto reopened = std::make_shared<GWLUserDefaults>("GWLAnalyticsSuiteName");
  EXPECT_EQ(reopened->stringForKey("c"), "text");
  reopened->clearAllData();
  EXPECT_FALSE(reopened->objectForKey("a") || reopened->objectForKey("b") || reopened->objectForKey("c"));
  EXPECT_TRUE(GWLUserDefaults::sharedUserDefaults()->isPreferenceFileExcluded());
}

}  // namespace
