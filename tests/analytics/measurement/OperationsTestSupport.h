// The engine's operations run through a small engine of the test's own: a
// real measurement database in the test's data directory, a real worker
// queue, a manual clock, and recorders in place of the write pipeline, the
// event listeners and the later engine steps.
#pragma once

#include <sqlite3.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "FailingStatements.h"
#include "MeasurementTestSupport.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/foundation/values/GWLErrorEvents.h"
#include "analytics/measurement/GWLDefaultIdentitySupport.h"
#include "analytics/measurement/GWLIdentity.h"
#include "analytics/measurement/GWLMeasurementOperations.h"
#include "platform/dispatch/Queue.h"

namespace measurement_test {

using platform::Dictionary;
using platform::Object;
using platform::PaymentTransaction;
using platform::PaymentTransactionState;
using Util = GWLConsentSettingsUtil;

// The operations over the test's state.
class TestEngine : public GWLMeasurementOperations {
 public:
  struct State {
    std::shared_ptr<GWLScheduler> scheduler;
    std::shared_ptr<GWLDatabase> database;
    std::shared_ptr<GWLPersistedConfig> persistedConfig;
    std::shared_ptr<GWLRemoteConfig> remoteConfig;
    std::shared_ptr<GWLIdentity> identity;
    std::shared_ptr<GWLMonitor> monitor;
    std::shared_ptr<platform::SerialQueue> globalQueue;
    std::shared_ptr<platform::AppEnvironment> environment;
    std::shared_ptr<platform::Clock> clock;
  };

  explicit TestEngine(State state) : state_(std::move(state)) {}

  std::atomic<bool> enabled{true};
  std::atomic<bool> sessionExpired{false};
  std::atomic<double> initTime{0};
  // The write pipeline changes every event it is handed ("w" = 1).
  std::atomic<bool> pipelineChangesEvents{false};
  bool withDatabase = true;

  std::vector<std::shared_ptr<GWLEvent>> written() { return locked(written_); }
  std::vector<std::shared_ptr<const GWLEvent>> notified() { return locked(notified_); }
  std::vector<int64_t> npaValues() { return locked(npaValues_); }
  std::vector<Dictionary> userData() { return locked(userData_); }
  std::vector<bool> userDataOnWorker() { return locked(userDataOnWorker_); }

  // ---- the engine's state ----
  std::shared_ptr<GWLScheduler> scheduler() const override { return state_.scheduler; }
  std::shared_ptr<GWLDatabase> database() const override { return withDatabase ? state_.database : nullptr; }
  std::shared_ptr<GWLPersistedConfig> persistedConfig() const override { return state_.persistedConfig; }
  std::shared_ptr<GWLRemoteConfig> remoteConfig() const override { return state_.remoteConfig; }
  std::shared_ptr<GWLIdentity> identity() const override { return state_.identity; }
  bool isEnabled() const override { return enabled.load(); }
  double now() const override { return state_.clock->now(); }
  std::shared_ptr<GWLMonitor> engineMonitor() const override { return state_.monitor; }
  std::shared_ptr<platform::Queue> globalQueue() const override { return state_.globalQueue; }
  std::shared_ptr<platform::AppEnvironment> environment() const override { return state_.environment; }
  void handleEventOnWorkerQueue(const std::shared_ptr<GWLEvent>& event) override {
    if (pipelineChangesEvents) event->parameters().insert_or_assign("w", GWLValue::initWithInt64(1));
    std::lock_guard<std::mutex> lock(mutex_);
    written_.push_back(event);
  }
  double initTimestamp() const override { return initTime.load(); }
  bool isSessionExpired() const override { return sessionExpired.load(); }
  void notifyEventListeners(const std::shared_ptr<const GWLEvent>& event) override {
    std::lock_guard<std::mutex> lock(mutex_);
    notified_.push_back(event);
  }
  void updateAdPersonalizationConsentFromNPAValue(int64_t value) override {
    std::lock_guard<std::mutex> lock(mutex_);
    npaValues_.push_back(value);
  }
  void initiateODM1ProtocolWithUserData(const Dictionary& userData) override {
    std::lock_guard<std::mutex> lock(mutex_);
    userData_.push_back(userData);
    userDataOnWorker_.push_back(state_.scheduler->workerQueue()->isCurrent());
  }

  // ---- the rest of the engine (not exercised here) ----
  bool wasEnabledDuringInitialization() const override { return true; }
  bool didInitializeComponents() const override { return true; }
  void setEnabled(bool) override {}
  void setSessionTimeoutInterval(double) override {}
  bool resetAnalyticsDataWithAppInstanceID(const std::optional<std::string>&) override { return false; }
  void handleNonFirstOpenEventURL(const std::string&, double, const std::optional<std::string>&) override {}

 private:
  template <class T>
  std::vector<T> locked(const std::vector<T>& values) {
    std::lock_guard<std::mutex> lock(mutex_);
    return values;
  }

  State state_;
  std::mutex mutex_;
  std::vector<std::shared_ptr<GWLEvent>> written_;
  std::vector<std::shared_ptr<const GWLEvent>> notified_;
  std::vector<int64_t> npaValues_;
  std::vector<Dictionary> userData_;
  std::vector<bool> userDataOnWorker_;
};

struct LoggedEvent {
  std::string origin;
  std::string name;
  GWLParameters parameters;
};

class MeasurementOperationsTest : public MeasurementTest {
 protected:
  void SetUp() override {
    MeasurementTest::SetUp();
    monitor_->setDebugModeEnabled(true);  // level 7 lines are printed too
    GWLSetInternalEventLogger([this](const std::string& origin, const std::string& name, const GWLParameters& p) {
      std::lock_guard<std::mutex> lock(eventsMutex_);
      errorEvents_.push_back({origin, name, p});
    });
    persisted_ = persistedConfig();
    GWLDatabase::Dependencies dependencies;
    dependencies.clock = clock_;
    dependencies.remoteConfig = [this] { return config_; };
    database_ = GWLDatabase::initWithDatabaseName(kGWLDatabaseFileName, persisted_, dependencies);
    ASSERT_TRUE(database_);
    engine_ = makeEngine({});
    reports();  // what the set-up printed
  }
  void TearDown() override {
    engine_.reset();
    scheduler_.reset();
    database_.reset();
    GWLSetInternalEventLogger(nullptr);
    monitor_->setDebugModeEnabled(false);
    MeasurementTest::TearDown();
  }

  std::shared_ptr<TestEngine> makeEngine(const Dictionary& info) {
    GWLIdentity::Dependencies identityDependencies;
    GWLDefaultIdentitySupport::Dependencies supportDependencies;
    supportDependencies.monitor = monitor_;
    identityDependencies.identitySupport =
        GWLDefaultIdentitySupport::create(std::make_shared<FakePlatformIdentity>(), supportDependencies);
    identityDependencies.clock = clock_;
    identityDependencies.monitor = monitor_;
    identityDependencies.remoteConfig = [this] { return config_; };
    identityDependencies.environment = environmentWith(info);
    identityDependencies.identifierForVendor = [] { return std::optional<std::string>("V"); };
    TestEngine::State state;
    state.scheduler = scheduler_;
    state.database = database_;
    state.persistedConfig = persisted_;
    state.remoteConfig = config_;
    state.identity = GWLIdentity::initWithPersistedConfig(persisted_, identityDependencies);
    state.monitor = monitor_;
    state.globalQueue = global_;
    state.environment = identityDependencies.environment;
    state.clock = clock_;
    return std::make_shared<TestEngine>(state);
  }

  // Runs `work` on the worker queue and waits for it.
  template <class F>
  auto onWorker(F work) {
    decltype(work()) result{};
    scheduler_->workerQueue()->sync([&] { result = work(); });
    return result;
  }
  // Waits until the worker queue and then the global queue have run what was posted.
  void drain() {
    scheduler_->workerQueue()->flush();
    global_->flush();
  }

  std::shared_ptr<GWLUserAttribute> attribute(const std::string& origin, const std::string& name, GWLValue value) {
    return GWLUserAttribute::initWithOrigin(origin, name, std::move(value), clock_->now());
  }
  std::shared_ptr<GWLUserAttribute> text(const std::string& origin, const std::string& name, const std::string& v) {
    return attribute(origin, name, *GWLValue::initWithString(v));
  }
  bool set(const std::shared_ptr<GWLUserAttribute>& property) {
    return onWorker([&] { return engine_->setUserPropertyInDatabaseOnWorkerQueue(property); });
  }
  bool stored(const std::string& name) { return database_->containsUserAttributeWithName(name).value_or(false); }
  std::vector<int64_t> errorEventCodes() {
    std::lock_guard<std::mutex> lock(eventsMutex_);
    std::vector<int64_t> codes;
    for (const auto& event : errorEvents_) codes.push_back(event.parameters.at("_err").int64Value());
    errorEvents_.clear();
    return codes;
  }

  std::shared_ptr<GWLPersistedConfig> persisted_;
  std::shared_ptr<GWLRemoteConfig> config_ = configWith(monitor_, {});
  std::shared_ptr<GWLScheduler> scheduler_ = std::make_shared<GWLScheduler>("test.worker", monitor_);
  std::shared_ptr<platform::SerialQueue> global_ = platform::SerialQueue::create("test.global");
  std::shared_ptr<GWLDatabase> database_;
  std::shared_ptr<TestEngine> engine_;
  std::mutex eventsMutex_;
  std::vector<LoggedEvent> errorEvents_;
};

}  // namespace measurement_test
