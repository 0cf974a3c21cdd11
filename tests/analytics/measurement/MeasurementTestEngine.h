// The engine's life-cycle tests: a GWLMeasurement whose later-filled steps
// record that they ran, over the entry class of EntryClassTest, a data
// directory of the test's own, a manual clock, a notification centre and
// background tasks of the test's own, and a database opener that can fail.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "EntryClassTestSupport.h"
#include "analytics/foundation/config/GWLExperimentsClient.h"
#include "analytics/foundation/config/GWLInstalledHook.h"
#include "analytics/foundation/config/GWLSKAdNetworkHooks.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/measurement/GWLMeasurement.h"
#include "platform/env/BackgroundTasks.h"

namespace measurement_test {

// What the steps that later parts of the engine fill in saw, in order.
class StepLog {
 public:
  void add(const std::string& step) {
    std::lock_guard lock(mutex_);
    steps_.push_back(step);
  }
  std::vector<std::string> take() {
    std::lock_guard lock(mutex_);
    return std::exchange(steps_, {});
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> steps_;
};

class TestMeasurement : public GWLMeasurement {
 public:
  TestMeasurement(const GWLAnalyticsEngineConfiguration& configuration, Dependencies dependencies)
      : GWLMeasurement(configuration, std::move(dependencies)) {}

  void uploadData() override {
    steps->add("uploadData");
    if (realUploads) GWLMeasurement::uploadData();
  }
  void fetchRemoteConfig() override {
    steps->add("fetchRemoteConfig");
    if (realUploads) GWLMeasurement::fetchRemoteConfig();
  }
  void updateSchedule() override {
    steps->add("updateSchedule");
    if (realUploads) GWLMeasurement::updateSchedule();
  }
  bool isNetworkReadyForRequest() const override {
    return realUploads ? GWLMeasurement::isNetworkReadyForRequest() : networkReady.load();
  }
  void setPersonalizedAdsUserPropertyOnWorkerQueue() override { steps->add("npa"); }
  void backfillSessionNumber() override { steps->add("backfillSessionNumber"); }
  void reportFirstOpenOnWorkerQueue() override { steps->add("firstOpen"); }
  void reportAppUpdateOnWorkerQueue() override { steps->add("appUpdate"); }
  void reportOSUpdateOnWorkerQueue() override { steps->add("osUpdate"); }

  std::shared_ptr<StepLog> steps = std::make_shared<StepLog>();
  std::atomic<bool> networkReady{true};
  // The engine's own uploads, schedule and configuration fetch run (after recording the step).
  std::atomic<bool> realUploads{false};
};

// A session reporter that keeps its reporting switch.
class RecordingSessionReporter : public GWLSessionReporting {
 public:
  void setReportingEnabled(bool enabled) override { reporting = enabled; }
  std::atomic<bool> reporting{false};
};

class RecordingSKAdNetworkHooks : public GWLSKAdNetworkHooks {
 public:
  void fetchSKANCV() override { ++fetches; }
  std::atomic<int> fetches{0};
};

class EngineTest : public EntryClassTest {
 protected:
  void SetUp() override {
    EntryClassTest::SetUp();
    make();
    GWLInstalledHook<GWLSKAdNetworkHooks>::install(skan_);
  }

  void TearDown() override {
    if (engine) drain();
    engine.reset();
    GWLInstalledHook<GWLSKAdNetworkHooks>::resetForTesting();
    EntryClassTest::TearDown();
  }

  GWLMeasurement::Dependencies dependencies() {
    GWLMeasurement::Dependencies dependencies;
    dependencies.clock = clock_;
    dependencies.monitor = monitor_;
    dependencies.persistedConfig = settings_;
    dependencies.makeNetwork = false;
    // Offline unless a test says otherwise (reachability override), so that no
    // alarm a test's clock fires sends a request the test did not ask for.
    dependencies.network = std::make_shared<platform::HVUNetwork>(std::string("127.0.0.1"));
    dependencies.network->setReachabilityOverrideForTesting(false);
    dependencies.hosts = hosts;
    dependencies.analytics = [analytics = analytics_] { return analytics; };
    dependencies.identity = [this] {
      ++identityRequests;
      return identity_;
    };
    dependencies.identifiers = identifiers_;
    dependencies.experimentManager = [this] { return experiments; };
    dependencies.openDatabase = [this](const std::string& name, const std::shared_ptr<GWLPersistedConfig>& settings,
                                       platform::Error* error) -> std::shared_ptr<GWLDatabase> {
      if (beforeOpening) beforeOpening();
      if (++databaseOpenings <= failingOpenings) {
        platform::setError(error, platform::Error("test", 1, "the database double fails"));
        return nullptr;
      }
      GWLDatabase::Dependencies databaseDependencies;
      databaseDependencies.clock = clock_;
      return GWLDatabase::initWithDatabaseName(name, settings, databaseDependencies, error);
    };
    dependencies.sessionReporterFactory = [this](const std::shared_ptr<GWLPersistedConfig>&) {
      auto reporter = std::make_shared<RecordingSessionReporter>();
      std::lock_guard lock(reportersMutex);
      reporters.push_back(reporter);
      return reporter;
    };
    dependencies.notificationCenter = center_;
    dependencies.backgroundTasks = tasks_;
    dependencies.classExists = [](const std::string&) { return false; };
    dependencies.infoDictionaryValue = [](const std::string&) { return std::nullopt; };
    dependencies.loadTimestamp = [this] { return loadTimestamp.load(); };
    dependencies.globalQueue = global_;
    dependencies.environment = environment_;
    return dependencies;
  }

  // A new engine; the one before goes first (two engines would share the database file).
  std::shared_ptr<TestMeasurement> makeEngine(bool enabledOption = true, bool deactivated = false) {
    dropEngine();
    GWLAnalyticsEngineConfiguration configuration;
    configuration.appID = "1:123:ios:abc";
    configuration.isAnalyticsCollectionEnabled = enabledOption;
    configuration.isAnalyticsCollectionDeactivated = deactivated;
    engine = GWLMeasurement::create<TestMeasurement>(configuration, dependencies());
    return engine;
  }

  void dropEngine() {
    if (!engine) return;
    drain();
    engine.reset();
  }

  // Lets the worker queue run what it was given (and what that posted).
  void drain() {
    for (int round = 0; round < 3; ++round) {
      engine->scheduler()->workerQueue()->flush();
      analytics_->queue()->flush();
    }
  }

  // Runs `block` on the worker queue and waits.
  void onWorker(const std::function<void()>& block) {
    engine->scheduler()->dispatchSyncOnWorkerQueueBlockID("test", block);
  }

  // The entry class's reset call, made where it makes it (GWLAnalyticsQueue).
  bool reset(const std::optional<std::string>& appInstanceID) {
    bool result = false;
    analytics_->queue()->sync([&] { result = engine->resetAnalyticsDataWithAppInstanceID(appInstanceID); });
    return result;
  }

  std::shared_ptr<RecordingSessionReporter> lastReporter() {
    std::lock_guard lock(reportersMutex);
    return reporters.empty() ? nullptr : reporters.back();
  }

  std::shared_ptr<TestMeasurement> engine;
  // Where the engine's requests go unless a test sets its own: a loopback port
  // nothing listens on, so an upload or configuration fetch that an alarm
  // starts fails at once and never leaves the machine.
  std::optional<GWLServiceHosts> hosts = GWLServiceHosts::local("https", "127.0.0.1", 1);
  std::shared_ptr<GWLExperimentsManaging> experiments;  // none unless a test sets one
  std::shared_ptr<platform::BackgroundTasks> tasks_ = std::make_shared<platform::BackgroundTasks>();
  std::shared_ptr<RecordingSKAdNetworkHooks> skan_ = std::make_shared<RecordingSKAdNetworkHooks>();
  std::function<void()> beforeOpening;  // runs on the worker queue before each opening
  std::atomic<int> databaseOpenings{0};
  std::atomic<int> failingOpenings{0};
  std::atomic<int> identityRequests{0};
  std::atomic<double> loadTimestamp{1'600'000'000.0};
  std::mutex reportersMutex;
  std::vector<std::shared_ptr<RecordingSessionReporter>> reporters;
};

}  // namespace measurement_test
