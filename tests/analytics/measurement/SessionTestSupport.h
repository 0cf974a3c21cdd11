// Sessions and automatic events under test: a whole engine over the entry
// class of EntryClassTest (the entry class hands its calls to this engine),
// with a real session reporter on the test's main queue and manual clock, the
// deep links of the attribution layer over shared preferences of the test's
// own, a purchase hook whose receipt answer the test sets, and an app-active
// answer the test switches.
//
// Events are read back from the measurement database (`events`).
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "MeasurementTestEngine.h"
#include "analytics/attribution/GWLMeasurementDeepLinks.h"
#include "analytics/foundation/config/GWLDeepLinkHooks.h"
#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/config/GWLPurchaseHooks.h"
#include "analytics/foundation/core/GWLAEU.h"
#include "analytics/foundation/storage/GWLRawEventData.h"
#include "analytics/foundation/values/GWLUserAttribute.h"
#include "analytics/measurement/GWLSessionReporter.h"

namespace measurement_test {

// The engine with a configuration of the test's choosing.
class SessionEngine : public GWLMeasurement {
 public:
  SessionEngine(const GWLAnalyticsEngineConfiguration& configuration, Dependencies dependencies)
      : GWLMeasurement(configuration, std::move(dependencies)) {}

  // The configuration the test puts in force, else the engine's own.
  std::shared_ptr<GWLRemoteConfig> remoteConfig() const override {
    {
      std::lock_guard lock(mutex_);
      if (config_) return config_;
    }
    return GWLMeasurement::remoteConfig();
  }
  void useConfig(std::shared_ptr<GWLRemoteConfig> config) {
    std::lock_guard lock(mutex_);
    config_ = std::move(config);
  }


 private:
  mutable std::mutex mutex_;
  std::shared_ptr<GWLRemoteConfig> config_;
};

class SettablePurchaseHooks : public GWLPurchaseHooks {
 public:
  bool isVersionSameAsOriginalVersion() override { return sameVersion.load(); }
  std::atomic<bool> sameVersion{true};
};

class SessionsTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    previousEnvironment_ = platform::AppEnvironment::shared();
    GWLSetAppActiveProvider([this] { return active.load(); });
    GWLInstalledHook<GWLPurchaseHooks>::install(purchaseHooks);
    GWLMeasurementDeepLinks::Dependencies links;
    links.engine = [this]() -> std::shared_ptr<GWLMeasurementEngine> { return measurement; };
    links.monitor = monitor_;
    links.userDefaults = sharedDefaults;
    links.clock = clock_;
    links.mainQueue = main_;
    links.environment = environment_;
    links.isAppStoreInstallation = [] { return false; };
    GWLInstalledHook<GWLDeepLinkHooks>::install(GWLMeasurementDeepLinks::create(links));
    analytics_->unsuspendOperationQueue();
  }

  void TearDown() override {
    stopEngine();
    GWLSetAppActiveProvider(nullptr);
    GWLInstalledHook<GWLPurchaseHooks>::resetForTesting();
    GWLInstalledHook<GWLDeepLinkHooks>::resetForTesting();
    platform::AppEnvironment::setShared(previousEnvironment_);
    EngineTest::TearDown();
  }

  // Makes the engine, makes it the process's engine and switches collection
  // on, which runs the start block; `onOpen` runs on the database as soon as
  // it is opened. The previous engine goes first, with a new entry class (the
  // entry class keeps the engine it found).
  std::shared_ptr<SessionEngine> startEngine(std::function<void(GWLDatabase&)> onOpen = {},
                                             std::shared_ptr<GWLRemoteConfig> config = nullptr) {
    if (measurement) {
      stopEngine();
      make();
      analytics_->unsuspendOperationQueue();
    }
    platform::AppEnvironment::setShared(sharedEnvironment ? sharedEnvironment : environment_);
    auto dependencies = this->dependencies();
    auto open = dependencies.openDatabase;
    dependencies.openDatabase = [open, onOpen](const std::string& name,
                                               const std::shared_ptr<GWLPersistedConfig>& settings,
                                               platform::Error* error) {
      auto database = open(name, settings, error);
      if (database && onOpen) onOpen(*database);
      return database;
    };
    dependencies.sessionReporterFactory = [this](const std::shared_ptr<GWLPersistedConfig>& settings) {
      auto made = GWLSessionReporter::initWithPersistedConfig(settings, reporterDependencies());
      std::lock_guard lock(reporterMutex_);
      reporter_ = made;
      return made;
    };
    GWLAnalyticsEngineConfiguration configuration;
    configuration.appID = "1:123:ios:abc";
    measurement = GWLMeasurement::create<SessionEngine>(configuration, dependencies);
    if (config) measurement->useConfig(config);
    GWLMeasurementRegistry::initializeSharedInstance([this] { return measurement; });
    measurement->setEnabled(true);
    settleAll();
    return measurement;
  }

  void stopEngine() {
    if (!measurement) return;
    settleAll();
    measurement.reset();
    {
      std::lock_guard lock(reporterMutex_);
      reporter_.reset();
    }
    GWLMeasurementRegistry::resetForTesting(monitor_);
  }

  GWLSessionReporter::Dependencies reporterDependencies() {
    GWLSessionReporter::Dependencies dependencies;
    dependencies.clock = clock_;
    dependencies.monitor = monitor_;
    dependencies.mainQueue = main_;
    dependencies.notificationCenter = center_;
    dependencies.remoteConfig = [this]() -> std::shared_ptr<GWLRemoteConfig> {
      return measurement ? measurement->remoteConfig() : nullptr;
    };
    dependencies.analytics = [this] { return analytics_; };
    return dependencies;
  }

  std::shared_ptr<GWLSessionReporter> reporter() {
    std::lock_guard lock(reporterMutex_);
    return reporter_;
  }

  // Lets every queue involved run what it was given, and what that posted.
  void settleAll() {
    for (int round = 0; round < 4; ++round) {
      analytics_->queue()->flush();
      main_->drain();
      if (measurement) measurement->scheduler()->workerQueue()->flush();
      global_->waitUntilIdle();
    }
  }

  void onWorker(const std::function<void()>& block) {
    measurement->scheduler()->dispatchSyncOnWorkerQueueBlockID("test", block);
  }

  // The events of that name stored in the measurement database, oldest first.
  std::vector<std::shared_ptr<GWLEvent>> storedEvents(const std::string& name) {
    settleAll();
    std::vector<std::shared_ptr<GWLEvent>> result;
    onWorker([&] {
      platform::Error error;
      auto rows = measurement->database()->allRawEventsWithError(&error);
      ASSERT_TRUE(rows) << error.toString();
      for (const auto& row : *rows) {
        if (row->rawEvent()->name() == name) result.push_back(row->rawEvent());
      }
    });
    return result;
  }
  // Their parameters as plain objects.
  std::vector<platform::Dictionary> events(const std::string& name) {
    std::vector<platform::Dictionary> result;
    for (const auto& event : storedEvents(name)) result.push_back(GWLDictionaryFromParameters(event->parameters()));
    return result;
  }
  std::vector<double> eventTimes(const std::string& name) {
    std::vector<double> result;
    for (const auto& event : storedEvents(name)) result.push_back(event->timestamp());
    return result;
  }

  // The stored user property, or null.
  std::shared_ptr<GWLUserAttribute> property(const std::string& name) {
    settleAll();
    std::shared_ptr<GWLUserAttribute> found;
    onWorker([&] { found = measurement->database()->userAttributeWithName(name); });
    return found;
  }
  std::optional<int64_t> intProperty(const std::string& name) {
    auto found = property(name);
    if (!found) return std::nullopt;
    return found->value().int64Value();
  }

  // The session reporter's printed reports (330xx) since the last call.
  std::vector<int64_t> sessionCodes() {
    std::vector<int64_t> result;
    for (int64_t code : codes()) {
      if (code >= 33000 && code < 34000) result.push_back(code);
    }
    return result;
  }

  // The next sampled report takes the health sample and the one after it
  // leaves it (a sample's first report takes it without a draw).
  void sampleOnlyTheNextReport() {
    const bool empty = lastSampledKey().empty();
    std::lock_guard lock(setup_.draws->mutex);
    setup_.draws->answers.push_back(1);
    if (!empty) setup_.draws->answers.push_back(0);
  }

  // The app comes to the foreground and leaves it, as the screen-view
  // reporter tells the session reporter.
  void becomeActive() {
    active = true;
    reporter()->handleAppDidBecomeActive();
    settleAll();
  }
  void resignAndEnterBackground(const std::shared_ptr<const GWLScreen>& screen = nullptr) {
    reporter()->handleAppWillResignActiveWithScreen(screen);
    active = false;
    settleAll();
  }

  std::atomic<bool> active{false};
  std::shared_ptr<SettablePurchaseHooks> purchaseHooks = std::make_shared<SettablePurchaseHooks>();
  std::shared_ptr<GWLUserDefaults> sharedDefaults = foundation_test::suiteIn(app_.path(), "shared");
  // The process's app environment while the engine runs (the entry class's when null).
  std::shared_ptr<platform::AppEnvironment> sharedEnvironment;
  std::shared_ptr<SessionEngine> measurement;

 private:
  std::shared_ptr<platform::AppEnvironment> previousEnvironment_;
  std::mutex reporterMutex_;
  std::shared_ptr<GWLSessionReporter> reporter_;
};

}  // namespace measurement_test
