// Shared pieces of the experiments tests: a task manager on a manual clock
// with its own suite, database file and request builder, a manager over it,
// and helpers that build snapshots and flags.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "../FoundationTestSupport.h"
#include "analytics/foundation/core/GWLAlarm.h"
#include "analytics/foundation/core/GWLError.h"
#include "analytics/foundation/experiments/GWLEClient.h"
#include "analytics/foundation/experiments/GWLEDatabase.h"
#include "analytics/foundation/experiments/GWLEExperimentRequestBuilder.h"
#include "analytics/foundation/experiments/GWLEIdentity.h"
#include "analytics/foundation/experiments/GWLEManager.h"
#include "analytics/foundation/experiments/GWLESDKProperty.h"
#include "analytics/foundation/experiments/GWLETaskManager.h"
#include "analytics/wire/GWLPBFlagFunctions.h"
#include "analytics/wire/NANO.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/HVUNetwork.h"

namespace experiments_test {

inline std::shared_ptr<const GWLPBFlag> flag(const std::string& name, const platform::Object& value) {
  return GWLPBFlagCreate(platform::Object(name), value);
}

// A flag that has a name and no value.
inline std::shared_ptr<const GWLPBFlag> emptyFlag(const std::string& name) {
  auto made = GWLPBFlag::initWithMessageInfo();
  NANOSetString(made, GWLPBFlag::Field::name, name);
  return made;
}

inline GWLEExperiment experiment(int32_t id, GWLEExperiment::Flags flags) {
  return *GWLEExperiment::initWithExperimentID(platform::Object(id), flags);
}

inline GWLESnapshot snapshot(const std::string& name, std::vector<GWLEExperiment> experiments, double timestamp) {
  return *GWLESnapshot::initWithSDKName(name, experiments, timestamp);
}

class FixedIdentity : public GWLEIdentity {
 public:
  explicit FixedIdentity(std::optional<std::string> key) : key_(std::move(key)) {}
  std::optional<std::string> diversionKey() const override { return key_; }

 private:
  std::optional<std::string> key_;
};

// Waits for something that another thread (a network answer) brings, at most
// about ten seconds; never used for timers.
inline bool eventually(const std::function<bool()>& condition) {
  for (int i = 0; i < 1000; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return condition();
}

// A task manager and a manager on a manual clock, with everything they keep
// in a scratch directory. Reports go to a monitor of the test's own.
class ExperimentsFixture : public ::testing::Test {
 protected:
  ExperimentsFixture() {
    GWLLibraryMonitor::resetForTesting(monitor_);
    builder_ = std::make_shared<GWLEExperimentRequestBuilder>([] {
      GWLEExperimentRequestBuilder::AppFacts facts;
      facts.bundleIdentifier = "com.halcyra.tabulo";
      facts.preferredLanguages = {"en-GB", "de-DE"};
      return facts;
    });
  }
  ~ExperimentsFixture() override {
    if (manager_) manager_->queue()->flush();
    if (taskManager_) taskManager_->workerQueue()->flush();
    monitor_->flush();
    GWLLibraryMonitor::resetForTesting();
  }

  std::string databasePath() const { return (tmp_.path() / kGWLExperimentDatabaseFileName).string(); }

  // A fresh task manager (its first fetch-time computation still to come).
  std::shared_ptr<GWLETaskManager> makeTaskManager(GWLServiceEndpoint service = {"http", "127.0.0.1", 9}) {
    auto queue = platform::SerialQueue::create(kGWLExperimentWorkerQueueLabel);
    alarm_ = GWLAlarm::create(queue, kGWLExperimentAlarmName, clock_, monitor_);
    auto network = std::make_shared<platform::HVUNetwork>(service.host);
    network->setTimeoutInterval(5);
    taskManager_ = GWLETaskManager::initWithQueue(queue, alarm_, network, suite_, databasePath(), clock_->now(), clock_,
                                                  service, builder_);
    return taskManager_;
  }

  std::shared_ptr<GWLEManager> makeManager(GWLServiceEndpoint service = {"http", "127.0.0.1", 9}) {
    manager_ = GWLEManager::initWithTaskManager(makeTaskManager(service), clock_, mainQueue_, builder_);
    return manager_;
  }

  std::shared_ptr<GWLEClient> registerSDK(const std::string& name, const platform::Dictionary& defaults = {},
                                          std::optional<std::string> diversionKey = std::nullopt) {
    auto property = std::make_shared<GWLESDKProperty>(name);
    property->setDiversionKey(diversionKey);
    auto client = manager_->registerSDKProperty(property, defaults);
    manager_->queue()->flush();
    return client;
  }

  // Runs `block` on the worker queue and waits for it and what it posted there.
  void onWorkerQueue(const std::function<void()>& block) {
    taskManager_->dispatchAsyncOnWorkerQueue(block);
    taskManager_->workerQueue()->flush();
  }
  void settle() {
    for (int i = 0; i < 3; ++i) {
      taskManager_->workerQueue()->flush();
      if (manager_) manager_->queue()->flush();
    }
  }

  double key(const char* name) const { return suite_->doubleForKey(name); }
  std::optional<double> alarmTime() const { return alarm_->scheduledTimestamp(); }

  std::vector<std::string> lines() {
    monitor_->flush();
    return capture_.sink().lines();
  }
  bool logged(const std::string& text) {
    monitor_->flush();
    return capture_.sink().contains(text);
  }

  platform::log::ScopedCapture capture_;
  foundation_test::MonitorSetup setup_;
  std::shared_ptr<GWLMonitor> monitor_ = setup_.make();
  std::shared_ptr<platform::ManualClock> clock_ = setup_.clock;
  foundation_test::ScratchDirectory tmp_;
  std::shared_ptr<GWLUserDefaults> suite_ = foundation_test::suiteIn(tmp_.path(), kGWLExperimentSuiteName);
  std::shared_ptr<platform::MainQueue> mainQueue_ = platform::MainQueue::create();
  std::shared_ptr<GWLEExperimentRequestBuilder> builder_;
  std::shared_ptr<GWLAlarm> alarm_;
  std::shared_ptr<GWLETaskManager> taskManager_;
  std::shared_ptr<GWLEManager> manager_;
};

}  // namespace experiments_test
