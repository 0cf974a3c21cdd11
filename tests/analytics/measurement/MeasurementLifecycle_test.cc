// The engine's life cycle: creation, the collection switch, the start with
// its component block, the wipe-out of the analytics data and the reset on
// request.
#include <filesystem>
#include <fstream>

#include "MeasurementTestEngine.h"
#include "analytics/foundation/config/GWLDeepLinkHooks.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLAlarm.h"
#include "analytics/foundation/core/GWLPaths.h"
#include "analytics/foundation/values/GWLUserAttribute.h"
#include "analytics/measurement/GWLConsentSettingsUtil.h"

namespace measurement_test {
namespace {

namespace fs = std::filesystem;

bool contains(const std::vector<int64_t>& codes, int64_t code) {
  return std::find(codes.begin(), codes.end(), code) != codes.end();
}

// ---------------------------------------------------------------------------
// Creation

TEST_F(EngineTest, AnEmptyAppIDMakesNoEngine) {
  codes();
  GWLAnalyticsEngineConfiguration configuration;
  EXPECT_EQ(GWLMeasurement::create<TestMeasurement>(configuration, dependencies()), nullptr);
  EXPECT_EQ(codes(), std::vector<int64_t>{23170});
}

TEST_F(EngineTest, TheLibrarysOwnCreationMakesAWorkingEngineOnceThroughTheRegistry) {
  GWLIdentity::resetSharedInstanceForTesting();
  GWLMeasurement::initializeSharedInstanceWithAppID("1:123:ios:abc", true, false, std::nullopt);
  GWLMeasurement::initializeSharedInstanceWithAppID("1:456:ios:def", true, false, std::nullopt);
  auto made = std::dynamic_pointer_cast<GWLMeasurement>(GWLMeasurement::sharedInstance());
  ASSERT_NE(made, nullptr);
  EXPECT_TRUE(GWLMeasurement::hasSharedInstance());
  EXPECT_EQ(made->scheduler()->workerQueue()->label(), "com.halcyra.cvna.worker");
  EXPECT_EQ(made->alarm()->name(), "Measurement timer");
  made->scheduler()->workerQueue()->flush();
  EXPECT_TRUE(made->didInitializeComponents());
  EXPECT_NE(made->database(), nullptr);
  EXPECT_EQ(GWLMeasurementRegistry::remoteConfig(), made->engineRemoteConfig());
  made->setEnabled(false);
  made->scheduler()->workerQueue()->flush();
  GWLMeasurementRegistry::resetForTesting(monitor_);
  GWLIdentity::resetSharedInstanceForTesting();
}

TEST_F(EngineTest, CreationLogsTheStartAndKeepsTheFirstLoadTimeOfTheInstallation) {
  codes();
  makeEngine();
  auto printed = reports();
  ASSERT_GE(printed.size(), 3u);
  EXPECT_EQ(printed[0].code, 23007);
  EXPECT_NE(printed[0].message.find("Analytics v.120500000 started"), std::string::npos);
  EXPECT_EQ(printed[1].code, 23008);
  EXPECT_NE(printed[1].message.find("To enable debug logging set the following application argument: "
                                    "-GWLAnalyticsDebugEnabled"),
            std::string::npos);
  EXPECT_EQ(printed[2].code, 23009);

  // No stored load time: the entry class's is taken and stored; later engines keep it.
  EXPECT_EQ(engine->initTimestamp(), 1'600'000'000.0);
  loadTimestamp = 1'700'000'000.0;
  makeEngine();
  EXPECT_EQ(engine->initTimestamp(), 1'600'000'000.0);
}

// ---------------------------------------------------------------------------
// The collection switch

TEST_F(EngineTest, ThePersistedStateTheOptionAndDeactivationDecideCollection) {
  struct Case {
    bool deactivated;
    int64_t state;  // 0: never set
    bool option;
    bool enabled;
  };
  const Case cases[] = {
      {false, 0, true, true},  {false, 0, false, false}, {false, 1, true, true}, {false, 1, false, true},
      {false, 2, true, false}, {false, 2, false, false}, {true, 0, true, false}, {true, 0, false, false},
      {true, 1, true, false},  {true, 1, false, false},  {true, 2, true, false}, {true, 2, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "deactivated " << c.deactivated << ", state " << c.state << ", option "
                                      << c.option);
    settings_->setMeasurementEnabledState(c.state);
    makeEngine(c.option, c.deactivated);
    drain();
    EXPECT_EQ(engine->wasEnabledDuringInitialization(), c.enabled);
    EXPECT_EQ(engine->isEnabled(), c.enabled);
    EXPECT_EQ(engine->didInitializeComponents(), c.enabled);
    if (c.deactivated) {
      codes();
      engine->setEnabled(true);
      drain();
      EXPECT_FALSE(engine->isEnabled());
      EXPECT_EQ(codes(), std::vector<int64_t>{23206});
    }
  }
}

TEST_F(EngineTest, WithThePublicClassEnablingPointsToScreenReportingUnlessTheInfoDictionarySwitchesItOff) {
  struct Case {
    std::map<std::string, platform::Object> info;
    bool hint;
  };
  const Case cases[] = {
      {{}, true},
      {{{kGWLAutomaticScreenReportingEnabledInfoKey, platform::Object(false)}}, false},
      {{{kGWLScreenReportingEnabledInfoKey, platform::Object(int64_t{0})},
        {kGWLAutomaticScreenReportingEnabledInfoKey, platform::Object(true)}},
       false},
      {{{kGWLScreenReportingEnabledInfoKey, platform::Object("NO")}}, true},  // not a number
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.info.size() << " keys, hint " << c.hint);
    dropEngine();
    auto made = dependencies();
    made.classExists = [](const std::string& name) { return name == "CVNAnalytics"; };
    made.infoDictionaryValue = [info = c.info](const std::string& key) -> std::optional<platform::Object> {
      auto found = info.find(key);
      if (found == info.end()) return std::nullopt;
      return found->second;
    };
    codes();
    GWLAnalyticsEngineConfiguration configuration;
    configuration.appID = "1:123:ios:abc";
    engine = GWLMeasurement::create<TestMeasurement>(configuration, made);
    drain();
    std::vector<int64_t> printed;
    for (const Report& report : reports()) {
      printed.push_back(report.code);
      if (report.code == 23220) {
        EXPECT_NE(report.message.find("set the flag CorvaneAutomaticScreenReportingEnabled to NO (boolean) in the "
                                      "Info.plist"),
                  std::string::npos);
      }
    }
    EXPECT_TRUE(contains(printed, 23012));
    EXPECT_EQ(contains(printed, 23220), c.hint);
  }
}

TEST_F(EngineTest, OnlyTheFirstSwitchStoresTheDeferredCollectionFlag) {
  struct Case {
    bool option;
    bool deactivated;
    std::optional<bool> stored;  // the flag: 1 (true) when the first switch turned collection off
  };
  const Case cases[] = {{false, false, true}, {true, false, false}, {true, true, std::nullopt}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "option " << c.option << ", deactivated " << c.deactivated);
    analytics_->setDeferredAnalyticsCollection(std::nullopt);
    makeEngine(c.option, c.deactivated);
    drain();
    EXPECT_EQ(analytics_->deferredAnalyticsCollection(), c.stored);
    engine->setEnabled(!c.option);
    engine->setEnabled(c.option);
    drain();
    EXPECT_EQ(analytics_->deferredAnalyticsCollection(), c.stored);
  }
}

TEST_F(EngineTest, ADatabaseFailingTwiceSwitchesCollectionOffAndTheNextEnablingRunsTheWholeBlockAgain) {
  failingOpenings = 2;
  analytics_->setResetRetryCount(1);  // a reset that did not finish: each block wipes first
  codes();
  makeEngine();
  drain();
  EXPECT_EQ(databaseOpenings, 2);
  EXPECT_FALSE(engine->isEnabled());
  EXPECT_FALSE(engine->didInitializeComponents());
  EXPECT_EQ(engine->database(), nullptr);
  auto printed = codes();
  EXPECT_TRUE(contains(printed, 23011));
  EXPECT_TRUE(contains(printed, 23013));        // the switch back off
  EXPECT_EQ(analytics_->resetRetryCount(), 0);  // the wipe itself succeeded

  analytics_->setResetRetryCount(2);
  engine->setEnabled(true);
  drain();
  EXPECT_EQ(identityRequests, 2);
  EXPECT_EQ(databaseOpenings, 3);
  EXPECT_TRUE(engine->isEnabled());
  EXPECT_TRUE(engine->didInitializeComponents());
  EXPECT_NE(engine->database(), nullptr);
  printed = codes();
  EXPECT_TRUE(contains(printed, 23171));  // the wipe decision ran again
  EXPECT_TRUE(contains(printed, 23012));
  EXPECT_EQ(analytics_->resetRetryCount(), 0);

  // Enabled again later: the block does not run again.
  engine->setEnabled(false);
  engine->setEnabled(true);
  drain();
  EXPECT_EQ(identityRequests, 2);
  EXPECT_EQ(databaseOpenings, 3);
}

TEST_F(EngineTest, TheComponentBlockRunsOnceAndEveryStartRunsItsOwnSteps) {
  analytics_->setNeedFirstOpenAfterReset(true);
  makeEngine();
  drain();
  EXPECT_EQ(engine->steps->take(), (std::vector<std::string>{"npa", "backfillSessionNumber", "firstOpen", "appUpdate",
                                                             "osUpdate", "npa", "firstOpen", "updateSchedule"}));
  EXPECT_FALSE(analytics_->needFirstOpenAfterReset());
  EXPECT_TRUE(lastReporter()->reporting);

  engine->setEnabled(false);
  drain();
  EXPECT_FALSE(lastReporter()->reporting);
  engine->setEnabled(true);
  drain();
  EXPECT_EQ(engine->steps->take(), (std::vector<std::string>{"npa", "updateSchedule"}));
  EXPECT_TRUE(lastReporter()->reporting);
}

TEST_F(EngineTest, TheStartChoosesTheConsentOfTheStrongestStoredSource) {
  using Settings = platform::Dictionary;
  const Settings tcf{{"ad_storage", "denied"}};
  const Settings thirdParty{{"ad_storage", "granted"}};
  const Settings firstPartyStart{{"analytics_storage", "denied"}};
  struct Case {
    std::optional<Settings> tcf;
    std::optional<Settings> thirdParty;
    std::optional<Settings> firstPartyStart;
    int64_t source;
    std::optional<Settings> settings;
  };
  const Case cases[] = {
      {tcf, std::nullopt, std::nullopt, kGWLConsentSourceTCF, tcf},
      {tcf, thirdParty, std::nullopt, kGWLConsentSource3P, thirdParty},  // stored 3P settings keep TCF out
      {std::nullopt, std::nullopt, firstPartyStart, kGWLConsentSource1PRestored, firstPartyStart},
      {std::nullopt, std::nullopt, std::nullopt, kGWLConsentSourceNone, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "expected source " << c.source);
    dropEngine();
    GWLConsentSettingsUtil::resetForTesting();
    analytics_->consent()->clearConsent();
    if (c.tcf) analytics_->consent()->persistConsentSettings(c.tcf, kGWLConsentSourceTCF);
    if (c.thirdParty) analytics_->consent()->persistConsentSettings(c.thirdParty, kGWLConsentSource3P);
    analytics_->consent()->setConsentSettings1PStart(c.firstPartyStart);
    makeEngine();
    drain();
    EXPECT_EQ(GWLConsentSettingsUtil::consentSource(), c.source);
    EXPECT_EQ(GWLConsentSettingsUtil::consentSettings(), c.settings);
    EXPECT_EQ(analytics_->consent()->consentSettings1PStart(), std::nullopt);  // used once
  }
}

TEST_F(EngineTest, DisablingCancelsTheUploadAlarmAndClearsAnExpiredLaunchLink) {
  struct ClearingLinks : GWLDeepLinkHooks {
    bool clearExpiredStoredDeepLink(const GWLRemoteConfig&) override {
      ++clears;
      return true;
    }
    std::atomic<int> clears{0};
  };
  auto links = std::make_shared<ClearingLinks>();
  GWLInstalledHook<GWLDeepLinkHooks>::install(links);
  makeEngine();
  drain();
  engine->alarm()->runAfterDelay(60, [] {});
  engine->setEnabled(false);
  drain();
  GWLInstalledHook<GWLDeepLinkHooks>::resetForTesting();
  EXPECT_FALSE(engine->alarm()->hasActiveTimer());
  EXPECT_EQ(links->clears, 1);
}

class RecordingStartLinks : public GWLDeepLinkHooks {
 public:
  bool hasStoredDeepLink() override { return stored; }
  void reportStoredCampaignEventOnWorkerQueue(std::optional<int64_t> clickTimestampInMs) override {
    calls.push_back(clickTimestampInMs ? "report " + std::to_string(*clickTimestampInMs) : "report");
  }
  bool shouldAllowRequestDeferredDeepLink() override { return allowed; }
  void requestDeferredDeepLink() override { calls.push_back("request"); }
  bool stored = false;
  bool allowed = false;
  std::vector<std::string> calls;  // worker queue only
};

TEST_F(EngineTest, TheStartReportsAStoredLaunchLinkOrRequestsTheDeferredDeepLinkOnceTheConfigurationIsFresh) {
  struct Case {
    bool stored;
    bool allowed;
    bool freshConfiguration;
    std::vector<std::string> calls;
    bool afterFetch;  // the request waits for the next configuration
  };
  const Case cases[] = {
      {true, true, true, {"report"}, false},   {false, true, true, {"request"}, false},
      {false, true, false, {}, true},          {false, false, true, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "stored " << c.stored << ", allowed " << c.allowed << ", fresh "
                                      << c.freshConfiguration);
    dropEngine();
    {
      GWLDatabase::Dependencies databaseDependencies;
      databaseDependencies.clock = clock_;
      auto database = GWLDatabase::initWithDatabaseName(kGWLDatabaseFileName, settings_, databaseDependencies);
      ASSERT_TRUE(database);
      ASSERT_TRUE(database->updateRemoteConfigSuccessfulTimestamp(c.freshConfiguration ? clock_->now() : 0));
    }
    auto links = std::make_shared<RecordingStartLinks>();
    links->stored = c.stored;
    links->allowed = c.allowed;
    GWLInstalledHook<GWLDeepLinkHooks>::install(links);
    makeEngine();
    drain();
    GWLInstalledHook<GWLDeepLinkHooks>::resetForTesting();
    ASSERT_TRUE(engine->didInitializeComponents());
    EXPECT_EQ(links->calls, c.calls);
    EXPECT_EQ(engine->shouldRequestDeferredDeepLinkAfterConfigFetch(), c.afterFetch);
  }
}

// ---------------------------------------------------------------------------
// The wipe decision and the wipe-out

TEST_F(EngineTest, AResetThatDidNotFinishOrANewPlatformAppIDWipesTheData) {
  struct IDs {
    std::optional<std::string> persisted;
    std::optional<std::string> identity;
  };
  const IDs ids[] = {{std::nullopt, "x"}, {"", "x"}, {"x", "x"}, {"x", "y"}};
  makeEngine(false);
  drain();
  for (int64_t retries : {0, 1, 9, 10}) {
    for (const IDs& pair : ids) {
      SCOPED_TRACE(::testing::Message() << "retries " << retries << ", persisted " << pair.persisted.value_or("(none)")
                                        << ", identity " << *pair.identity);
      analytics_->setResetRetryCount(retries);
      codes();
      const bool changed = pair.persisted && !pair.persisted->empty() && *pair.persisted != *pair.identity;
      const bool unfinished = retries >= 1 && retries <= 9;
      EXPECT_EQ(engine->shouldWipeDataWithAppID("ignored", pair.identity, pair.persisted), unfinished || changed);
      EXPECT_EQ(codes(), changed && !unfinished ? std::vector<int64_t>{23294} : std::vector<int64_t>{});
    }
  }
}

// Leaves at `path` the files of a database whose last rows (one user
// property) are still in its write-ahead log, as a process that ended without
// closing it would; and a journal beside them.
void leaveDatabaseWithRowsInItsLog(const std::string& path, const std::shared_ptr<GWLPersistedConfig>& settings,
                                   double now) {
  fs::create_directories(fs::path(path).parent_path());
  const fs::path saved = fs::path(path).parent_path() / "saved";
  fs::create_directories(saved);
  {
    auto database = GWLDatabase::initWithDatabaseName(kGWLDatabaseFileName, settings);
    ASSERT_TRUE(database);
    auto attribute = GWLUserAttribute::initWithOrigin("app", "favourite", GWLValue::initWithInt64(3), now);
    ASSERT_TRUE(database->updateUserAttribute(attribute));
    for (const char* suffix : {"", "-wal"})
      fs::copy_file(path + suffix, saved / (kGWLDatabaseFileName + std::string(suffix)));
  }  // closing folds the log into the file and removes it
  for (const char* suffix : {"", "-wal"}) {
    fs::copy_file(saved / (kGWLDatabaseFileName + std::string(suffix)), path + suffix,
                  fs::copy_options::overwrite_existing);
  }
  fs::remove_all(saved);
  std::ofstream(path + "-journal") << "old journal";
}

TEST_F(EngineTest, ANewPlatformAppIDWipesTheOldDatabaseFilesBeforeTheDatabaseOpens) {
  const std::string path = GWLMeasurementDirectoryPath(kGWLDatabaseFileName);
  leaveDatabaseWithRowsInItsLog(path, settings_, clock_->now());
  // Without the wipe the rows come back from the log.
  {
    auto reopened = GWLDatabase::initWithDatabaseName(kGWLDatabaseFileName, settings_);
    ASSERT_TRUE(reopened);
    ASSERT_EQ(reopened->userAttributeCountForOrigin("app"), 1);
  }
  leaveDatabaseWithRowsInItsLog(path, settings_, clock_->now());
  settings_->setAppIDFromQRX("x");
  settings_->setSessionNumber(7);
  identity_->setAppIDFromQRX("y");
  analytics_->setResetRetryCount(0);
  std::vector<std::string> leftBehind;
  beforeOpening = [&] {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
      if (fs::exists(path + suffix)) leftBehind.push_back(suffix);
    }
  };
  codes();
  makeEngine();
  drain();
  ASSERT_TRUE(engine->isEnabled());
  EXPECT_EQ(leftBehind, std::vector<std::string>{});  // every file of the old database is gone
  auto printed = codes();
  EXPECT_TRUE(contains(printed, 23294));
  EXPECT_TRUE(contains(printed, 23171));
  EXPECT_FALSE(contains(printed, 23014));
  EXPECT_EQ(engine->previousQRXAppID(), "x");
  EXPECT_EQ(settings_->sessionNumber(), 0);     // the settings were cleared
  EXPECT_EQ(settings_->appIDFromQRX(), "y");    // and then took the identity's ID
  EXPECT_EQ(analytics_->resetRetryCount(), 0);  // the wipe finished
  // The database opened afresh in place of the old files: the logged rows are gone.
  std::optional<int64_t> count;
  onWorker([&] { count = engine->database()->userAttributeCountForOrigin("app"); });
  EXPECT_EQ(count, 0);
}

TEST_F(EngineTest, AResetEmptiesTheDatabaseTheSettingsAndTheConfiguration) {
  makeEngine();
  drain();
  ASSERT_TRUE(engine->didInitializeComponents());
  auto database = engine->database();
  const std::string path = GWLMeasurementDirectoryPath(kGWLDatabaseFileName);
  onWorker([&] {
    auto attribute = GWLUserAttribute::initWithOrigin("app", "favourite", GWLValue::initWithInt64(3), clock_->now());
    ASSERT_TRUE(attribute);
    ASSERT_TRUE(database->updateUserAttribute(attribute));
  });
  ASSERT_TRUE(fs::exists(path + "-wal"));
  settings_->setSessionNumber(3);
  engine->engineRemoteConfig()->replaceCachedValues({{kGWLSettingUploadingInterval, "60000"}});
  auto oldReporter = engine->sessionReporter();
  clock_->advance(100);
  loadTimestamp = clock_->now();
  engine->steps->take();
  codes();

  ASSERT_TRUE(reset("NEWID"));
  EXPECT_EQ(codes(), (std::vector<int64_t>{23171, 23168}));
  EXPECT_EQ(engine->database(), database);  // emptied in place
  std::optional<int64_t> count;
  onWorker([&] { count = database->userAttributeCountForOrigin("app"); });
  EXPECT_EQ(count, 0);
  EXPECT_EQ(settings_->sessionNumber(), 0);
  EXPECT_EQ(settings_->appInstanceID(), "NEWID");
  EXPECT_EQ(engine->engineRemoteConfig()->cachedValueForKey(kGWLSettingUploadingInterval), std::nullopt);
  EXPECT_NE(engine->sessionReporter(), oldReporter);
  EXPECT_TRUE(lastReporter()->reporting);  // follows collection
  EXPECT_EQ(engine->initTimestamp(), loadTimestamp.load());
  EXPECT_EQ(settings_->loadTimestampValue(), platform::Object(loadTimestamp.load()));
  EXPECT_EQ(engine->steps->take(), (std::vector<std::string>{"npa", "firstOpen"}));
}

TEST_F(EngineTest, AResetWithAnEmptyAppInstanceIDNeedsAnalyticsStorageDenied) {
  makeEngine();
  drain();
  codes();
  EXPECT_FALSE(reset(""));
  EXPECT_FALSE(reset(std::nullopt));
  EXPECT_EQ(codes(), (std::vector<int64_t>{23167, 23167}));

  GWLConsentSettingsUtil::updateSettings({{"analytics_storage", "denied"}}, kGWLConsentSource1P);
  EXPECT_TRUE(reset(std::nullopt));
  EXPECT_EQ(codes(), (std::vector<int64_t>{23218, 23171, 23168}));
}

TEST_F(EngineTest, AResetOnTheWorkerQueueRunsInline) {
  makeEngine();
  drain();
  bool wiped = false;
  onWorker([&] { wiped = engine->resetAnalyticsDataWithAppInstanceID("NEWID"); });
  EXPECT_TRUE(wiped);
  EXPECT_EQ(settings_->appInstanceID(), "NEWID");
}

TEST_F(EngineTest, ADatabaseThatCannotBeResetFailsTheReset) {
  makeEngine();
  drain();
  // The database's directory becomes a plain file: the emptied database cannot open again.
  const fs::path directory = fs::path(GWLMeasurementDirectoryPath(kGWLDatabaseFileName)).parent_path();
  fs::rename(directory, directory.string() + ".aside");
  std::ofstream(directory.string()) << "not a directory";
  codes();
  EXPECT_FALSE(reset("NEWID"));
  EXPECT_EQ(codes(), (std::vector<int64_t>{23171, 23209}));
  EXPECT_NE(settings_->appInstanceID(), "NEWID");
}

// ---------------------------------------------------------------------------
// Experiments

class FakeExperimentsClient : public GWLExperimentsClient {
 public:
  bool activateLatestSnapshot(platform::Error* /*error*/) override {
    ++activations;
    return pending.exchange(false);
  }
  std::optional<platform::Object> experimentFlag(const std::string& /*name*/) const override { return std::nullopt; }
  std::atomic<int> activations{0};
  std::atomic<bool> pending{false};
};

class FakeExperimentsManager : public GWLExperimentsManaging {
 public:
  std::shared_ptr<GWLExperimentsClient> registerSDKProperty(const std::string& SDKName, int64_t version,
                                                            std::weak_ptr<GWLExperimentsObserver> observer) override {
    registered.emplace_back(SDKName, version);
    this->observer = std::move(observer);
    return client;
  }
  std::vector<int32_t> experimentIDs() override { return {}; }
  void reset() override { ++resets; }

  std::shared_ptr<FakeExperimentsClient> client = std::make_shared<FakeExperimentsClient>();
  std::vector<std::pair<std::string, int64_t>> registered;
  std::weak_ptr<GWLExperimentsObserver> observer;
  std::atomic<int> resets{0};
};

TEST_F(EngineTest, AnAnnouncedSnapshotIsActivatedOnceAndExperimentsAreFetchedOnlyWhileEnabled) {
  auto manager = std::make_shared<FakeExperimentsManager>();
  experiments = manager;
  (void)GWLMeasurementRegistry::initializeSharedInstance([this] { return makeEngine(); });
  drain();
  auto config = engine->engineRemoteConfig();
  ASSERT_TRUE(config);
  EXPECT_EQ(manager->registered, (std::vector<std::pair<std::string, int64_t>>{{"gauge_well", 120500}}));
  EXPECT_EQ(manager->client->activations, 1);  // the latest snapshot, at creation

  auto observer = manager->observer.lock();
  ASSERT_TRUE(observer);
  manager->client->pending = true;
  observer->clientDidReceiveNewSnapshot(*manager->client);
  EXPECT_TRUE(config->activateNewSnapshot());
  EXPECT_FALSE(config->activateNewSnapshot());
  EXPECT_EQ(manager->client->activations, 2);

  EXPECT_TRUE(observer->shouldFetchExperimentsForClient(*manager->client));
  engine->setEnabled(false);
  drain();
  EXPECT_FALSE(observer->shouldFetchExperimentsForClient(*manager->client));
  engine->setEnabled(true);
  drain();
  EXPECT_TRUE(observer->shouldFetchExperimentsForClient(*manager->client));

  // A wipe-out resets the configuration and with it the experiments.
  ASSERT_TRUE(reset("NEWID"));
  EXPECT_EQ(manager->resets, 1);
}

// ---------------------------------------------------------------------------
// What the attribution layer asks of the engine

TEST_F(EngineTest, TheIdentityAndConsentAnswersComeFromTheStartsIdentityAndTheConsentInForce) {
  makeEngine(false);
  drain();
  EXPECT_EQ(engine->appInstanceID(), std::nullopt);  // no identity before the start
  EXPECT_EQ(engine->appleConsentStatus(), 0);
  engine->setEnabled(true);
  drain();
  ASSERT_NE(engine->identity(), nullptr);
  EXPECT_EQ(engine->appInstanceID(), identity_->appInstanceID());
  EXPECT_EQ(engine->appID(), identity_->appID());
  EXPECT_EQ(engine->appleConsentStatus(), static_cast<int64_t>(identity_->appleConsentStatus()));

  GWLConsentSettingsUtil::updateSettings({{"ad_storage", "denied"}, {"ad_personalization", "granted"}},
                                         kGWLConsentSource1P);
  EXPECT_TRUE(engine->isAdStorageDenied());
  EXPECT_FALSE(engine->isAdUserDataDenied());
  EXPECT_EQ(engine->adPersonalization(), GWLConsentSettingsUtil::adPersonalization());
  EXPECT_EQ(engine->consentSignals(), GWLConsentSettingsUtil::consentSignals());
}

}  // namespace
}  // namespace measurement_test
