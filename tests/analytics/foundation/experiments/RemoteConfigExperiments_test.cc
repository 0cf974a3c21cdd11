// The configuration as the experiments manager's registered component: its
// registration at creation, the activation of announced snapshots, fetch
// errors, the fetch decision and the reset, against a real manager.
#include <gtest/gtest.h>

#include "ExperimentsTestSupport.h"
#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/config/GWLRemoteConfigStore.h"

namespace {

using namespace experiments_test;
using platform::Object;

constexpr int64_t kVersion = 4242;

// A database that has no stored configuration.
class EmptyConfigStore : public GWLRemoteConfigStore {
 public:
  bool updateRemoteConfig(const GWLPBMeasurementConfig&, platform::Error*) override { return true; }
  std::shared_ptr<GWLPBMeasurementConfig> queryMeasurementConfig(platform::Error*) override { return nullptr; }
  std::optional<double> lastRemoteConfigUpdateTimestamp(platform::Error*) override { return 0; }
};

class SwitchEngine : public GWLMeasurementEngine {
 public:
  explicit SwitchEngine(bool enabled) : enabled_(enabled) {}
  bool isEnabled() const override { return enabled_; }
  std::shared_ptr<GWLRemoteConfig> remoteConfig() const override { return nullptr; }

 private:
  bool enabled_;
};

class RemoteConfigExperimentsTest : public ExperimentsFixture {
 protected:
  void SetUp() override {
    {
      // Every sampled report replaces the one before, so the sample shows the last one.
      std::lock_guard<std::mutex> lock(setup_.draws->mutex);
      setup_.draws->answers.assign(1000, 0);
    }
    makeManager();
    taskManager_->startTaskManager();
    settle();
  }
  void TearDown() override { GWLMeasurementRegistry::resetForTesting(monitor_); }

  std::shared_ptr<GWLRemoteConfig> makeConfig() {
    GWLRemoteConfig::Dependencies dependencies;
    dependencies.monitor = monitor_;
    dependencies.clock = clock_;
    dependencies.experimentManager = manager_;
    dependencies.libraryVersion = kVersion;
    auto config = GWLRemoteConfig::initWithAppID("1:1234:ios:abcd", store_, nullptr, dependencies);
    manager_->queue()->flush();
    return config;
  }
  // A fetched snapshot for the configuration, announced on a main thread of its own.
  void fetchAndAnnounce(const GWLESnapshot& snapshot) {
    manager_->taskManager(*taskManager_, std::vector<GWLESnapshot>{snapshot}, {});
    settle();
    std::thread([this] { mainQueue_->drain(); }).join();
  }

  // The key of the last report that fed the health sample: the way to see
  // the configuration's level 2 reports, which are never printed.
  std::string lastSampledKey() {
    monitor_->flush();
    auto sample = setup_.monitorDefaults->arrayForKey(kGWLMonitorHealthMonitorKey);
    if (!sample || sample->size() < 3 || !(*sample)[2].stringValue()) return std::string();
    return *(*sample)[2].stringValue();
  }

  std::shared_ptr<EmptyConfigStore> store_ = std::make_shared<EmptyConfigStore>();
};

TEST_F(RemoteConfigExperimentsTest, CreationRegistersAndActivatesTheLatestSnapshot) {
  // A snapshot fetched in an earlier run and still pending.
  manager_->taskManager(*taskManager_, {},
                        {snapshot(kGWLExperimentsSDKName, {experiment(7, {flag("psm_group_id_enabled", Object(false))})},
                                  clock_->now())},
                        {});
  manager_->queue()->flush();

  auto config = makeConfig();
  ASSERT_TRUE(config);
  auto client = manager_->clientForSDKName(Object(kGWLExperimentsSDKName));
  ASSERT_TRUE(client);
  EXPECT_EQ(client->SDKProperty()->version(), kVersion);
  EXPECT_TRUE(client->defaultFlags().empty());
  EXPECT_TRUE(client->delegate()) << "the configuration hears the client's notices";

  EXPECT_EQ(config->experimentIDs(), std::vector<int32_t>{7}) << "activated at creation";
  EXPECT_FALSE(config->PSMGroupIDEnabled()) << "the flag cache was filled from the activated snapshot";
  EXPECT_FALSE(config->hasNewSnapshot());
}

TEST_F(RemoteConfigExperimentsTest, AnAnnouncedSnapshotIsActivatedOnce) {
  auto config = makeConfig();
  EXPECT_FALSE(config->activateNewSnapshot()) << "nothing announced";
  EXPECT_TRUE(config->customerTypeEnabled());

  fetchAndAnnounce(snapshot(kGWLExperimentsSDKName, {experiment(9, {flag("customer_type_enabled", Object(false))})},
                            clock_->now()));
  EXPECT_TRUE(config->hasNewSnapshot());
  EXPECT_TRUE(config->customerTypeEnabled()) << "a pending snapshot counts only once activated";

  EXPECT_TRUE(config->activateNewSnapshot());
  EXPECT_FALSE(config->hasNewSnapshot());
  EXPECT_FALSE(config->customerTypeEnabled());
  EXPECT_EQ(config->experimentIDs(), std::vector<int32_t>{9});
  EXPECT_FALSE(config->activateNewSnapshot()) << "the announcement was used up";
  EXPECT_EQ(lastSampledKey().find("Cannot activate snapshot"), std::string::npos) << lastSampledKey();
}

TEST_F(RemoteConfigExperimentsTest, ResetResetsTheManagerAndAFailedActivationKeepsTheMark) {
  auto config = makeConfig();
  fetchAndAnnounce(snapshot(kGWLExperimentsSDKName, {experiment(5, {})}, clock_->now()));
  ASSERT_TRUE(config->activateNewSnapshot());
  ASSERT_EQ(config->experimentIDs(), std::vector<int32_t>{5});

  fetchAndAnnounce(snapshot(kGWLExperimentsSDKName, {experiment(6, {})}, clock_->now()));
  config->reset();
  manager_->queue()->flush();
  EXPECT_TRUE(config->experimentIDs().empty()) << "the manager forgot its snapshots";
  EXPECT_TRUE(config->hasNewSnapshot()) << "reset keeps the new-snapshot mark";

  // The announced snapshot went with the reset: activation fails, is reported and keeps the mark.
  EXPECT_FALSE(config->activateNewSnapshot());
  EXPECT_EQ(lastSampledKey(), "1E_120500:Cannot activate snapshot. Error");
  EXPECT_TRUE(config->hasNewSnapshot());
}

TEST_F(RemoteConfigExperimentsTest, FetchErrorsAreReported) {
  auto config = makeConfig();
  manager_->taskManager(*taskManager_, {}, {{kGWLExperimentsSDKName, platform::Error(kGWLExperimentErrorDomain, -3)}});
  settle();
  EXPECT_EQ(lastSampledKey(), "1E_120500:Cannot fetch experiment. Error");
}

TEST_F(RemoteConfigExperimentsTest, ExperimentsAreFetchedOnlyWhileTheEngineIsEnabled) {
  auto config = makeConfig();
  EXPECT_EQ(manager_->taskManagerShouldFetchExperiments(*taskManager_), false) << "no engine";

  struct Case {
    bool enabled;
    bool fetches;
  };
  for (const Case& c : {Case{false, false}, Case{true, true}}) {
    GWLMeasurementRegistry::resetForTesting(monitor_);
    GWLMeasurementRegistry::initializeSharedInstance([&] { return std::make_shared<SwitchEngine>(c.enabled); });
    EXPECT_EQ(manager_->taskManagerShouldFetchExperiments(*taskManager_), c.fetches) << "enabled " << c.enabled;
  }
}

}  // namespace
