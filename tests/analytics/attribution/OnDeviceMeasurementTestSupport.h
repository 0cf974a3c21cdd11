// Support for the on-device measurement tests: an engine with a real worker
// queue, measurement database, persisted settings and network objects on a
// manual clock, whose user property writes go to the database and whose
// events are recorded; and a client class whose initialisers the test
// chooses, which records what it was asked to make.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "analytics/attribution/GWLPrivateSetMembershipClient.h"
#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/foundation/values/GWLEvent.h"
#include "analytics/foundation/values/GWLUserAttribute.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/HVUNetwork.h"

namespace odm_test {

inline constexpr const char* kAppID = "tabulo-app-1";

class ODMTestEngine : public GWLMeasurementEngine {
 public:
  // Needs the current data directory (platform::Paths) set.
  ODMTestEngine(std::shared_ptr<GWLMonitor> monitor, std::shared_ptr<platform::ManualClock> clock,
                uint64_t midnightOffsetMillis = 0)
      : clock_(std::move(clock)),
        scheduler_(std::make_shared<GWLScheduler>(kGWLWorkerQueueLabel, monitor)),
        remoteConfig_(std::make_shared<GWLRemoteConfig>(monitor)),
        network_(std::make_shared<platform::HVUNetwork>()) {
    GWLPersistedConfig::Dependencies dependencies;
    dependencies.clock = clock_;
    dependencies.monitor = monitor;
    dependencies.randomBelow = [midnightOffsetMillis](uint64_t) { return midnightOffsetMillis; };
    persistedConfig_ = GWLPersistedConfig::create(kGWLPersistedConfigSuiteName, dependencies);
    persistedConfig_->clearValues();
    GWLDatabase::Dependencies databaseDependencies;
    databaseDependencies.clock = clock_;
    database_ = GWLDatabase::initWithDatabaseName(kGWLDatabaseFileName, persistedConfig_, databaseDependencies);
    if (database_) (void)database_->reset();  // each engine starts on an empty database
    initTimestamp_ = clock_->now();
  }
  ~ODMTestEngine() override { flush(); }

  void useSettings(const std::map<std::string, std::string>& settings) { remoteConfig_->replaceCachedValues(settings); }
  void setAdStorageDenied(bool denied) { adStorageDenied_ = denied; }

  // ---- the engine calls ----
  std::shared_ptr<GWLRemoteConfig> remoteConfig() const override { return remoteConfig_; }
  bool isEnabled() const override { return true; }
  std::shared_ptr<GWLDatabase> database() const override { return database_; }
  std::shared_ptr<GWLScheduler> scheduler() const override { return scheduler_; }
  double now() const override { return clock_->now(); }
  double initTimestamp() const override { return initTimestamp_; }
  std::shared_ptr<GWLPersistedConfig> persistedConfig() const override { return persistedConfig_; }
  std::shared_ptr<platform::HVUNetwork> network() const override { return network_; }
  std::optional<std::string> appID() const override { return kAppID; }
  bool isAdStorageDenied() const override { return adStorageDenied_; }
  void setIsNetworkRequestPending(bool pending) override {
    std::lock_guard<std::mutex> lock(mutex_);
    pendingMarks_.push_back(pending);
    changed_.notify_all();
  }
  void updateSchedule() override {}
  void writeEventOnWorkerQueue(const std::shared_ptr<GWLEvent>& event) override {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(event);
  }
  void setUserAttributeOnWorkerQueue(const std::shared_ptr<GWLUserAttribute>& attribute) override {
    (void)database_->updateUserAttribute(attribute);
  }
  void removeUserAttributeOnWorkerQueue(const std::shared_ptr<GWLUserAttribute>& attribute) override {
    (void)database_->deleteUserAttributeWithName(attribute->name());
  }

  // ---- for the tests ----
  void onWorkerQueue(const std::function<void()>& block) {
    scheduler_->dispatchSyncOnWorkerQueueBlockID("ODMTestEngine", block);
  }
  void flush() {
    scheduler_->workerQueue()->flush();
    scheduler_->workerQueue()->flush();
  }
  // Requests sent so far (each marks the engine's request pending once).
  size_t requestCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t sent = 0;
    for (bool pending : pendingMarks_) sent += pending ? 1 : 0;
    return sent;
  }
  // Waits (for real socket I/O) until every request sent has been answered.
  bool waitUntilAnswered(std::chrono::seconds limit = std::chrono::seconds(30)) {
    flush();
    bool answered = false;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      answered = changed_.wait_for(lock, limit, [&] {
        ptrdiff_t open = 0;
        for (bool pending : pendingMarks_) open += pending ? 1 : -1;
        return open <= 0;
      });
    }
    flush();
    return answered;
  }
  std::vector<std::shared_ptr<GWLEvent>> events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  // The stored user property, or null.
  std::shared_ptr<GWLUserAttribute> property(const std::string& name) {
    std::shared_ptr<GWLUserAttribute> found;
    onWorkerQueue([&] { found = database_->userAttributeWithName(name); });
    return found;
  }
  void setProperty(const std::string& name, const GWLValue& value, double setTime) {
    onWorkerQueue([&] { (void)database_->updateUserAttribute(GWLUserAttribute::initWithOrigin("auto", name, value, setTime)); });
  }
  std::optional<platform::Dictionary> row(const std::string& name) {
    std::optional<platform::Dictionary> found;
    onWorkerQueue([&] { found = database_->ODMValueWithName(name); });
    return found;
  }
  std::optional<std::string> rowValue(const std::string& name) {
    auto found = row(name);
    if (!found || !found->count("value") || !found->at("value").stringValue()) return std::nullopt;
    return *found->at("value").stringValue();
  }
  double rowSetTime(const std::string& name) {
    auto found = row(name);
    return found && found->count("set_timestamp") ? found->at("set_timestamp").doubleValueOrZero() : -1;
  }
  void setRow(const std::string& name, const std::string& value, double setTime) {
    onWorkerQueue([&] { (void)database_->updateODMValue(value, name, setTime); });
  }

 private:
  std::shared_ptr<platform::ManualClock> clock_;
  std::shared_ptr<GWLScheduler> scheduler_;
  std::shared_ptr<GWLRemoteConfig> remoteConfig_;
  std::shared_ptr<platform::HVUNetwork> network_;
  std::shared_ptr<GWLPersistedConfig> persistedConfig_;
  std::shared_ptr<GWLDatabase> database_;
  double initTimestamp_ = 0;
  std::atomic<bool> adStorageDenied_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<bool> pendingMarks_;
  std::vector<std::shared_ptr<GWLEvent>> events_;
};

// A client that answers from fixed parts: its hashed input is the input's
// bytes, its URL is on `host` (a closed port by default, so a request fails at once).
class FakePSMClient : public GWLPrivateSetMembershipClient {
 public:
  FakePSMClient(std::string input, int64_t inputType, int32_t prefixBitLength, std::string host)
      : input_(std::move(input)), inputType_(inputType), prefixBitLength_(prefixBitLength), host_(std::move(host)) {}
  std::vector<uint8_t> hashedInput() const override { return std::vector<uint8_t>(input_.begin(), input_.end()); }
  std::optional<std::vector<uint8_t>> payloadWithPSMRequest() override {
    return std::vector<uint8_t>{'{', '}'};
  }
  int32_t prefixBitLength() const override { return prefixBitLength_; }
  int64_t inputType() const override { return inputType_; }
  std::optional<std::string> PSMRequestURLWithRetryCount(int32_t retryCount) const override {
    return host_ + "/adconv/app/psm?version=1.1&retry_count=" + std::to_string(retryCount);
  }
  std::optional<std::string> parsedPSMValueFromResponse(std::span<const uint8_t>) override { return std::nullopt; }
  std::optional<std::string> debugKey() const override { return "key-" + input_; }
  const std::string& input() const { return input_; }

 private:
  std::string input_;
  int64_t inputType_;
  int32_t prefixBitLength_;
  std::string host_;
};

// A class answering the initialisers in `responds`; an input equal to
// "unusable" gives no client. Records each initialiser call as "kind:input".
class FakePSMClientClass : public GWLPrivateSetMembershipClientClass {
 public:
  using Initializer = GWLPrivateSetMembershipClientInitializer;
  explicit FakePSMClientClass(std::set<Initializer> responds = allInitializers(),
                              std::string host = "http://127.0.0.1:1")
      : responds_(std::move(responds)), host_(std::move(host)) {}
  static std::set<Initializer> allInitializers() {
    return {Initializer::kEmailAddress,       Initializer::kPhoneNumber,       Initializer::kEmailAddressPrefixBitLength,
            Initializer::kPhoneNumberPrefixBitLength, Initializer::kHashedEmailAddress, Initializer::kHashedPhoneNumber,
            Initializer::kHashedInput};
  }
  bool respondsToInitializer(Initializer initializer) const override { return responds_.count(initializer) > 0; }
  std::shared_ptr<GWLPrivateSetMembershipClient> initWithEmailAddress(const std::string& input,
                                                                      const std::string&) const override {
    return make("email", input, kGWLPSMInputTypeEmailAddress, 14);
  }
  std::shared_ptr<GWLPrivateSetMembershipClient> initWithPhoneNumber(const std::string& input,
                                                                     const std::string&) const override {
    return make("phone", input, kGWLPSMInputTypePhoneNumber, 11);
  }
  std::shared_ptr<GWLPrivateSetMembershipClient> initWithEmailAddress(const std::string& input, const std::string&,
                                                                      int32_t prefix) const override {
    return make("email", input, kGWLPSMInputTypeEmailAddress, prefix);
  }
  std::shared_ptr<GWLPrivateSetMembershipClient> initWithPhoneNumber(const std::string& input, const std::string&,
                                                                     int32_t prefix) const override {
    return make("phone", input, kGWLPSMInputTypePhoneNumber, prefix);
  }
  std::shared_ptr<GWLPrivateSetMembershipClient> initWithHashedEmailAddress(std::span<const uint8_t> input,
                                                                            const std::string&,
                                                                            int32_t prefix) const override {
    return make("hashed_email", std::string(input.begin(), input.end()), kGWLPSMInputTypeHashedEmailAddress, prefix);
  }
  std::shared_ptr<GWLPrivateSetMembershipClient> initWithHashedPhoneNumber(std::span<const uint8_t> input,
                                                                           const std::string&,
                                                                           int32_t prefix) const override {
    return make("hashed_phone", std::string(input.begin(), input.end()), kGWLPSMInputTypeHashedPhoneNumber, prefix);
  }
  std::shared_ptr<GWLPrivateSetMembershipClient> initWithHashedInput(std::span<const uint8_t> input, int64_t inputType,
                                                                     const std::string&,
                                                                     int32_t prefix) const override {
    return make("cached", std::string(input.begin(), input.end()), inputType, prefix);
  }

  std::vector<std::string> calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }

 private:
  std::shared_ptr<GWLPrivateSetMembershipClient> make(const std::string& kind, const std::string& input,
                                                      int64_t inputType, int32_t prefix) const {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      calls_.push_back(kind + ":" + input);
    }
    if (input.empty() || input == "unusable") return nullptr;
    return std::make_shared<FakePSMClient>(input, inputType, prefix, host_);
  }

  std::set<Initializer> responds_;
  std::string host_;
  mutable std::mutex mutex_;
  mutable std::vector<std::string> calls_;
};

}  // namespace odm_test
