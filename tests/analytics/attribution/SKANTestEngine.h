// An engine for the conversion-value tests and fuzz target: a real worker
// queue, persisted settings and upload network object (its reachability
// scriptable), a remote configuration whose settings the test sets, the
// request-pending flag and the internal events it is handed recorded. And an
// ad network whose answers the test scripts. Without GoogleTest, so the fuzz
// target can use it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "analytics/foundation/values/GWLEvent.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/HVUNetwork.h"
#include "platform/storekit/SKAdNetwork.h"

namespace skan_test {

inline constexpr const char* kAppID = "1:1234567890:ios:abcdef";
inline constexpr const char* kAppInstanceID = "0123456789abcdef0123456789abcdef";

// Records every update and answers each with the next scripted error (none
// once the script is used up), on the calling thread.
class ScriptedAdNetwork : public platform::SKAdNetworkPostbackUpdating {
 public:
  struct Update {
    int64_t fineValue;
    platform::SKAdNetworkCoarseConversionValue coarseValue;
    bool lockWindow;
    friend bool operator==(const Update&, const Update&) = default;
    friend std::ostream& operator<<(std::ostream& out, const Update& update) {
      return out << "{" << update.fineValue << ", "
                 << platform::SKAdNetworkCoarseConversionValueName(update.coarseValue) << ", " << update.lockWindow
                 << "}";
    }
  };

  void updatePostbackConversionValue(int64_t fineValue, platform::SKAdNetworkCoarseConversionValue coarseValue,
                                     bool lockWindow, Completion completion) override {
    std::optional<platform::Error> answer;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      updates_.push_back({fineValue, coarseValue, lockWindow});
      if (!script_.empty()) {
        answer = script_.front();
        script_.pop_front();
      }
    }
    if (completion) completion(answer);
  }

  void answerNext(std::optional<platform::Error> error) {
    std::lock_guard<std::mutex> lock(mutex_);
    script_.push_back(std::move(error));
  }
  std::vector<Update> updates() {
    std::lock_guard<std::mutex> lock(mutex_);
    return updates_;
  }

 private:
  std::mutex mutex_;
  std::deque<std::optional<platform::Error>> script_;
  std::vector<Update> updates_;
};

class SKANTestEngine : public GWLMeasurementEngine {
 public:
  // Persisted settings in the current data directory (paths must be set),
  // synchronised on a clock of their own; uploads go to `uploadHost`.
  SKANTestEngine(std::shared_ptr<GWLMonitor> monitor, std::optional<GWLServiceEndpoint> uploadHost)
      : scheduler_(std::make_shared<GWLScheduler>(kGWLWorkerQueueLabel, monitor)),
        remoteConfig_(std::make_shared<GWLRemoteConfig>(monitor)),
        network_(std::make_shared<platform::HVUNetwork>(uploadHost ? uploadHost->host : std::string("127.0.0.1"))),
        uploadHost_(std::move(uploadHost)) {
    GWLPersistedConfig::Dependencies dependencies;
    dependencies.clock = std::make_shared<platform::ManualClock>();
    dependencies.monitor = monitor;
    dependencies.randomBelow = [](uint64_t) { return uint64_t{0}; };
    persistedConfig_ = GWLPersistedConfig::create(kGWLPersistedConfigSuiteName, dependencies);
  }
  ~SKANTestEngine() override { flush(); }

  // Replaces the remote settings in force.
  void useSettings(const std::map<std::string, std::string>& settings) { remoteConfig_->replaceCachedValues(settings); }
  void setAppInstanceIDForTesting(std::optional<std::string> id) {
    std::lock_guard<std::mutex> lock(mutex_);
    appInstanceID_ = std::move(id);
  }

  std::shared_ptr<GWLRemoteConfig> remoteConfig() const override { return remoteConfig_; }
  std::shared_ptr<GWLScheduler> scheduler() const override { return scheduler_; }
  std::shared_ptr<GWLPersistedConfig> persistedConfig() const override { return persistedConfig_; }
  std::shared_ptr<platform::HVUNetwork> network() const override { return network_; }
  std::optional<GWLServiceEndpoint> uploadHost() const override { return uploadHost_; }
  std::optional<std::string> appID() const override { return kAppID; }
  std::optional<std::string> appInstanceID() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return appInstanceID_;
  }
  bool isNetworkReadyForRequest() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return !requestPending_ && !network_->hasUploadInProgress();
  }
  void setIsNetworkRequestPending(bool pending) override {
    std::lock_guard<std::mutex> lock(mutex_);
    requestPending_ = pending;
    pendingChanges_.push_back(pending);
    changed_.notify_all();
  }
  void handleInternalEventOnWorkerQueue(const std::shared_ptr<GWLEvent>& event) override {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(event);
  }

  // Marks another request of the engine in flight (or none).
  void holdNetworkRequest(bool pending) {
    std::lock_guard<std::mutex> lock(mutex_);
    requestPending_ = pending;
  }
  // Every value handed to setIsNetworkRequestPending, in order.
  std::vector<bool> pendingChanges() {
    std::lock_guard<std::mutex> lock(mutex_);
    return pendingChanges_;
  }
  // Waits at most `limit` until every request that set the pending flag has
  // cleared it again (each fetch's answer clears it once).
  bool waitUntilRequestsAnswered(std::chrono::seconds limit = std::chrono::seconds(30)) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] {
      ptrdiff_t open = 0;
      for (bool pending : pendingChanges_) open += pending ? 1 : -1;
      return open <= 0;
    });
  }
  std::vector<std::shared_ptr<GWLEvent>> takeEvents() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(events_, {});
  }

  // Runs `block` on the worker queue and waits for it.
  void onWorkerQueue(const std::function<void()>& block) {
    scheduler_->dispatchSyncOnWorkerQueueBlockID("SKANTestEngine", block);
  }
  // Waits until every block posted so far, and every block those post, has run.
  void flush() {
    scheduler_->workerQueue()->flush();
    scheduler_->workerQueue()->flush();
  }

 private:
  std::shared_ptr<GWLScheduler> scheduler_;
  std::shared_ptr<GWLRemoteConfig> remoteConfig_;
  std::shared_ptr<platform::HVUNetwork> network_;
  std::shared_ptr<GWLPersistedConfig> persistedConfig_;
  const std::optional<GWLServiceEndpoint> uploadHost_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<std::string> appInstanceID_ = kAppInstanceID;
  bool requestPending_ = false;
  std::vector<bool> pendingChanges_;
  std::vector<std::shared_ptr<GWLEvent>> events_;
};

}  // namespace skan_test
