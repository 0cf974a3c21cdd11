// An engine for the deep link tests and fuzz target: real persisted settings
// and a real worker queue on a manual clock, a remote configuration whose
// settings the test sets, the engine's own HTTP client, and the identity and
// consent facts as fields. Internal events are recorded instead of written;
// request-pending marks and schedule updates are counted. Without GoogleTest,
// so the fuzz target can use it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/config/GWLRemoteConfigStore.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "analytics/foundation/values/GWLEvent.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/HVUNetwork.h"

namespace deeplink_test {

inline constexpr const char* kTestAppID = "1:1234:ios:abcd";

// No stored configuration: each configuration the test applies is parsed as
// it comes.
class EmptyConfigStore : public GWLRemoteConfigStore {
 public:
  bool updateRemoteConfig(const GWLPBMeasurementConfig&, platform::Error*) override { return true; }
  std::shared_ptr<GWLPBMeasurementConfig> queryMeasurementConfig(platform::Error*) override { return nullptr; }
  std::optional<double> lastRemoteConfigUpdateTimestamp(platform::Error*) override { return 0; }
};

// The identity and consent facts the engine answers.
struct Facts {
  std::optional<std::string> appID = kTestAppID;
  std::optional<std::string> resettableDeviceID;
  bool hasLimitedAdTracking = true;
  bool limitedAdTracking = true;
  int64_t appleConsentStatus = 0;
  bool iOS14OrAbove = true;
  bool isAdStorageDenied = false;
  bool isAdUserDataDenied = false;
  std::optional<bool> adPersonalization;
  std::optional<std::string> consentSignals;
};

class DeepLinkTestEngine : public GWLMeasurementEngine {
 public:
  // The remote configuration is an app instance of kTestAppID (settings and
  // configurations applied by the test are parsed).
  DeepLinkTestEngine(std::shared_ptr<GWLPersistedConfig> persistedConfig, std::shared_ptr<GWLMonitor> monitor,
                     std::shared_ptr<platform::Clock> clock)
      : persistedConfig_(std::move(persistedConfig)),
        scheduler_(std::make_shared<GWLScheduler>(kGWLWorkerQueueLabel, monitor)),
        network_(std::make_shared<platform::HVUNetwork>()) {
    GWLRemoteConfig::Dependencies dependencies;
    dependencies.monitor = monitor;
    dependencies.clock = std::move(clock);
    remoteConfig_ = GWLRemoteConfig::initWithAppID(kTestAppID, configStore_, persistedConfig_, dependencies);
  }
  ~DeepLinkTestEngine() override { flush(); }

  void setFacts(Facts facts) {
    std::lock_guard<std::mutex> lock(mutex_);
    facts_ = std::move(facts);
  }
  Facts facts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return facts_;
  }

  // ---- the engine calls ----
  std::shared_ptr<GWLRemoteConfig> remoteConfig() const override { return remoteConfig_; }
  bool isEnabled() const override { return true; }
  std::shared_ptr<GWLScheduler> scheduler() const override { return scheduler_; }
  std::shared_ptr<GWLPersistedConfig> persistedConfig() const override { return persistedConfig_; }
  std::shared_ptr<platform::HVUNetwork> network() const override { return network_; }
  void setIsNetworkRequestPending(bool pending) override {
    std::lock_guard<std::mutex> lock(mutex_);
    pendingMarks_.push_back(pending);
    changed_.notify_all();
  }
  void updateSchedule() override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++scheduleUpdates_;
    changed_.notify_all();
  }
  void handleInternalEventOnWorkerQueue(const std::shared_ptr<GWLEvent>& event) override {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(event);
    eventsOnWorkerQueue_ = eventsOnWorkerQueue_ && scheduler_->workerQueue()->isCurrent();
    changed_.notify_all();
  }
  std::optional<std::string> appID() const override { return facts().appID; }
  std::optional<std::string> resettableDeviceID() const override { return facts().resettableDeviceID; }
  bool hasLimitedAdTracking() const override { return facts().hasLimitedAdTracking; }
  bool limitedAdTracking() const override { return facts().limitedAdTracking; }
  int64_t appleConsentStatus() const override { return facts().appleConsentStatus; }
  bool iOS14OrAbove() const override { return facts().iOS14OrAbove; }
  bool isAdStorageDenied() const override { return facts().isAdStorageDenied; }
  bool isAdUserDataDenied() const override { return facts().isAdUserDataDenied; }
  std::optional<bool> adPersonalization() const override { return facts().adPersonalization; }
  std::optional<std::string> consentSignals() const override { return facts().consentSignals; }

  // ---- for the tests ----
  // Runs `block` on the worker queue and waits for it.
  void onWorkerQueue(const std::function<void()>& block) {
    scheduler_->dispatchSyncOnWorkerQueueBlockID("DeepLinkTestEngine", block);
  }
  // Waits until every block posted to the worker queue so far has run.
  void flush() { scheduler_->workerQueue()->flush(); }

  // Waits (at most `seconds`, for real socket I/O) until `done` holds.
  bool waitFor(const std::function<bool()>& done, double seconds = 30) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::duration<double>(seconds), done);
  }
  // Under the engine's lock, for waitFor's condition.
  size_t eventCountLocked() const { return events_.size(); }
  int scheduleUpdatesLocked() const { return scheduleUpdates_; }
  size_t pendingMarkCountLocked() const { return pendingMarks_.size(); }

  std::vector<std::shared_ptr<GWLEvent>> events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  std::vector<std::shared_ptr<GWLEvent>> takeEvents() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(events_, {});
  }
  bool eventsCameOnWorkerQueue() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return eventsOnWorkerQueue_;
  }
  std::vector<bool> pendingMarks() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pendingMarks_;
  }
  int scheduleUpdates() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return scheduleUpdates_;
  }

 private:
  std::shared_ptr<GWLPersistedConfig> persistedConfig_;
  std::shared_ptr<GWLRemoteConfigStore> configStore_ = std::make_shared<EmptyConfigStore>();
  std::shared_ptr<GWLRemoteConfig> remoteConfig_;
  std::shared_ptr<GWLScheduler> scheduler_;
  std::shared_ptr<platform::HVUNetwork> network_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  Facts facts_;
  std::vector<std::shared_ptr<GWLEvent>> events_;
  bool eventsOnWorkerQueue_ = true;
  std::vector<bool> pendingMarks_;
  int scheduleUpdates_ = 0;
};

}  // namespace deeplink_test
