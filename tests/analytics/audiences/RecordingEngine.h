// An engine for the conditional user property tests, fuzz target and
// benchmark: a real measurement database and worker queue on a manual clock,
// a collection switch, and writes recorded instead of stored. Its full write
// does what the engine's does with conditional user properties: it hands the
// event to the controller, then writes the event and each answered event
// filtered. Without GoogleTest, so the fuzz target and benchmark can use it.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "analytics/foundation/config/GWLConditionalUserPropertyControlling.h"
#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/foundation/values/GWLEvent.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"

namespace cup_test {

class RecordingEngine : public GWLMeasurementEngine {
 public:
  // Opens the measurement database in the current data directory (paths must
  // be set); `database()` is null when it could not be opened.
  explicit RecordingEngine(std::shared_ptr<platform::ManualClock> clock,
                           std::shared_ptr<GWLMonitor> monitor = nullptr)
      : clock_(std::move(clock)), scheduler_(std::make_shared<GWLScheduler>(kGWLWorkerQueueLabel, monitor)) {
    GWLDatabase::Dependencies dependencies;
    dependencies.clock = clock_;
    database_ = GWLDatabase::initWithDatabaseName(kGWLDatabaseFileName, nullptr, dependencies);
  }
  ~RecordingEngine() override { flush(); }

  // The controller the full write hands events to.
  void setController(std::weak_ptr<GWLConditionalUserPropertyControlling> controller) {
    std::lock_guard<std::mutex> lock(mutex_);
    controller_ = std::move(controller);
  }

  std::atomic<bool> enabled{true};

  std::shared_ptr<GWLRemoteConfig> remoteConfig() const override { return nullptr; }
  bool isEnabled() const override { return enabled.load(); }
  std::shared_ptr<GWLDatabase> database() const override { return database_; }
  std::shared_ptr<GWLScheduler> scheduler() const override { return scheduler_; }
  double now() const override { return clock_->now(); }

  void writeEventOnWorkerQueue(const std::shared_ptr<GWLEvent>& event) override {
    std::shared_ptr<GWLConditionalUserPropertyControlling> controller;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      writes_.push_back("full:" + event->name());
      controller = controller_.lock();
    }
    std::optional<GWLConditionalUserPropertyControlling::Events> answered;
    if (controller) answered = controller->processEventOnWorkerQueue(event);
    if (!answered) {
      std::lock_guard<std::mutex> lock(mutex_);
      ++processingFailures_;
    }
    writeFilteredEventOnWorkerQueue(event);
    if (answered) {
      for (const auto& triggered : *answered) writeFilteredEventOnWorkerQueue(triggered);
    }
  }

  void writeFilteredEventOnWorkerQueue(const std::shared_ptr<GWLEvent>& event) override {
    std::lock_guard<std::mutex> lock(mutex_);
    writes_.push_back("filtered:" + event->name());
    filtered_.push_back(event);
  }

  // Logs an event as the engine's write pipeline would, on the worker queue,
  // and waits for it; false when no event of that name can be made.
  bool logEvent(const std::string& name, const std::string& origin = "app") {
    auto event = GWLEvent::initWithOrigin(origin, false, name, clock_->now(), 0, platform::Dictionary{},
                                          GWLValueLimits{});
    if (!event) return false;
    scheduler_->dispatchSyncOnWorkerQueueBlockID("RecordingEngine", [this, event] { writeEventOnWorkerQueue(event); });
    return true;
  }

  // Runs `block` on the worker queue and waits for it.
  void onWorkerQueue(const std::function<void()>& block) {
    scheduler_->dispatchSyncOnWorkerQueueBlockID("RecordingEngine", block);
  }
  // Waits until every block posted so far has run.
  void flush() { scheduler_->workerQueue()->flush(); }

  // The writes since the last call, as "full:NAME" and "filtered:NAME".
  std::vector<std::string> takeWrites() {
    std::lock_guard<std::mutex> lock(mutex_);
    filtered_.clear();
    return std::exchange(writes_, {});
  }
  // The events written filtered since the last `takeWrites`.
  std::vector<std::shared_ptr<GWLEvent>> filteredEvents() {
    std::lock_guard<std::mutex> lock(mutex_);
    return filtered_;
  }
  // How many full writes found the controller unable to process their event.
  int processingFailures() {
    std::lock_guard<std::mutex> lock(mutex_);
    return processingFailures_;
  }

 private:
  std::shared_ptr<platform::ManualClock> clock_;
  std::shared_ptr<GWLScheduler> scheduler_;
  std::shared_ptr<GWLDatabase> database_;
  std::mutex mutex_;
  std::weak_ptr<GWLConditionalUserPropertyControlling> controller_;
  std::vector<std::string> writes_;
  std::vector<std::shared_ptr<GWLEvent>> filtered_;
  int processingFailures_ = 0;
};

}  // namespace cup_test
