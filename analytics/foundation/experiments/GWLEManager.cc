#include "analytics/foundation/experiments/GWLEManager.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "analytics/foundation/core/GWLError.h"
#include "analytics/foundation/experiments/GWLEClient.h"
#include "analytics/foundation/experiments/GWLEDatabase.h"
#include "analytics/foundation/experiments/GWLEExperimentObserverDelegate.h"
#include "analytics/foundation/experiments/GWLEExperimentRequestBuilder.h"
#include "analytics/foundation/experiments/GWLEMonitor.h"
#include "analytics/foundation/experiments/GWLESDKProperty.h"
#include "analytics/foundation/experiments/GWLETaskManager.h"
#include "analytics/wire/GWLPBFlagFunctions.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"

namespace {

constexpr int64_t kNilPropertyCode = 800000;
constexpr const char* kNilPropertyMessage = "Cannot register client with a nil SDK property";
constexpr int64_t kNoSDKNameCode = 800001;
constexpr const char* kNoSDKNameMessage = "Cannot register experiment client with no SDK name";
constexpr int64_t kInvalidFlagsCode = 800002;
constexpr const char* kInvalidFlagsMessage = "Cannot register experiment client invalid flags. Flag name, value";
constexpr int64_t kRegisteredTwiceCode = 800003;
constexpr const char* kRegisteredTwiceMessage =
    "Registered an SDK that has already registered. Default flags will be overwritten. SDK name";
constexpr int64_t kCannotRegisterCode = 800004;
constexpr const char* kCannotRegisterMessage = "Cannot register client. SDK name";
constexpr int64_t kRegisteredCode = 800005;
constexpr const char* kRegisteredMessage = "Registered client";
constexpr int64_t kInvalidClientNameCode = 800006;
constexpr const char* kInvalidClientNameMessage = "Cannot find the client for invalid SDK name";
constexpr int64_t kEmptyClientNameCode = 800007;
constexpr const char* kEmptyClientNameMessage = "Cannot find the client for empty SDK Name";
constexpr int64_t kInvalidLookupSDKCode = 800008;
constexpr const char* kInvalidLookupSDKMessage = "Cannot get flag value for an invalid SDK name";
constexpr int64_t kInvalidLookupFlagCode = 800009;
constexpr const char* kInvalidLookupFlagMessage = "Cannot get flag value for invalid flag name. SDK name, flag name";
constexpr int64_t kEmptyLookupSDKCode = 800010;
constexpr const char* kEmptyLookupSDKMessage = "Cannot retrieve flag value for empty SDK name";
constexpr int64_t kEmptyLookupFlagCode = 800011;
constexpr const char* kEmptyLookupFlagMessage = "Cannot retrieve flag value for empty flag name";
constexpr int64_t kNotRegisteredCode = 800012;
constexpr const char* kNotRegisteredMessage = "SDK is not registered yet";
constexpr int64_t kNoDefaultsCode = 800013;
constexpr const char* kNoDefaultsMessage = "Cannot get flag for unregistered SDK. SDK name, flag name";
constexpr int64_t kNoDefaultFlagCode = 800014;
constexpr const char* kNoDefaultFlagMessage = "No default flag value. SDK name, flag name";
constexpr int64_t kLookingActivatedCode = 800015;
constexpr const char* kLookingActivatedMessage = "Looking for activated flag. SDK name, flag name, activated snapshot";
constexpr int64_t kLookingLaunchedCode = 800016;
constexpr const char* kLookingLaunchedMessage =
    "Cannot find activated flag. Looking for launched flag. SDK name, flag name, launched flag";
constexpr int64_t kDefaultFlagCode = 800019;
constexpr const char* kDefaultFlagMessage =
    "Cannot find launched flag. Returned the default flag value. SDK name, flag name, default flag";
constexpr int64_t kNothingToNotifyCode = 800020;
constexpr const char* kNothingToNotifyMessage = "No pending snapshots to notify the clients";
constexpr int64_t kNoNoticeMethodCode = 800021;
constexpr const char* kNoNoticeMethodMessage =
    "Cannot notify new snapshot for SDK because the delegate does not implement -clientDidReceiveNewSnapshot:";
constexpr int64_t kEmptyActivationNameCode = 800022;
constexpr const char* kEmptyActivationNameMessage = "Cannot activate a pending snapshot for an empty SDK name";
constexpr int64_t kNoPendingCode = 800023;
constexpr const char* kNoPendingMessage = "No pending snapshot to activate. SDK name";
constexpr int64_t kEmptyStatusNameCode = 800024;
constexpr const char* kEmptyStatusNameMessage = "Cannot check activated snapshot for empty SDK Name";
constexpr int64_t kEmptyResetNameCode = 800025;
constexpr const char* kEmptyResetNameMessage = "Cannot reset to defaults for empty SDK Name";
constexpr int64_t kResetUnregisteredCode = 800026;
constexpr const char* kResetUnregisteredMessage = "Cannot reset to defaults for unregistered SDK name";
constexpr int64_t kResetCode = 800027;
constexpr const char* kResetMessage = "Reset all experiments to default. SDK name";
constexpr int64_t kActivatedCode = 800028;
constexpr const char* kActivatedMessage = "Successfully activated a snapshot of SDK";

constexpr const char* kVersionText = "10000000";

std::shared_ptr<GWLEMonitor> log() { return GWLEManager::monitor(); }

// The value of a flag when it carries one.
std::optional<platform::Object> valueOf(const std::shared_ptr<const GWLPBFlag>& flag) {
  if (!flag) return std::nullopt;
  platform::Object value = GWLPBFlagGetValue(flag.get());
  if (value.isNull()) return std::nullopt;
  return value;
}

// A registration made through GWLExperimentsManaging: the client's flags and
// activation, and the client's notices passed on to the observer. The client
// and its SDK property hold it weakly; the registered component keeps it.
class ObservedClient final : public GWLExperimentsClient,
                             public GWLEExperimentObserverDelegate,
                             public GWLESDKPropertyProviderDelegate {
 public:
  ObservedClient(std::shared_ptr<GWLEClient> client, std::weak_ptr<GWLExperimentsObserver> observer)
      : client_(std::move(client)), observer_(std::move(observer)) {}

  std::optional<platform::Object> experimentFlag(const std::string& name) const override {
    return client_->valueForFlag(name);
  }
  bool activateLatestSnapshot(platform::Error* error) override { return client_->activateLatestSnapshot(error); }

  bool implementsClientDidReceiveNewSnapshot() const override { return true; }
  void clientDidReceiveNewSnapshot(const std::shared_ptr<GWLEClient>&) override {
    if (auto observer = observer_.lock()) observer->clientDidReceiveNewSnapshot(*this);
  }
  bool implementsClientDidReceiveFetchError() const override { return true; }
  void client(const std::shared_ptr<GWLEClient>&, const platform::Error& didReceiveFetchError) override {
    if (auto observer = observer_.lock()) observer->client(*this, didReceiveFetchError);
  }
  std::optional<bool> shouldFetchExperimentsForClient(const std::shared_ptr<GWLEClient>&) override {
    auto observer = observer_.lock();
    if (!observer) return std::nullopt;
    return observer->shouldFetchExperimentsForClient(*this);
  }

  std::map<std::string, std::string> dynamicCustomPropertiesForSDKProperty(const GWLESDKProperty&) override {
    return {};
  }

 private:
  const std::shared_ptr<GWLEClient> client_;
  const std::weak_ptr<GWLExperimentsObserver> observer_;
};

}  // namespace

std::shared_ptr<GWLEMonitor> GWLEManager::monitor() {
  static const std::shared_ptr<GWLEMonitor> instance = [] {
    auto made = std::make_shared<GWLEMonitor>();
    GWLPBFlagLogSink::install(made);
    return made;
  }();
  return instance;
}

int64_t GWLEManager::version() {
  std::string text = kVersionText;
  if (text.size() < 4) return 0;
  return std::stoll(text.substr(0, text.size() - 3));
}

std::shared_ptr<GWLEManager> GWLEManager::sharedInstance() {
  static const std::shared_ptr<GWLEManager> instance = [] {
    auto made = initWithTaskManager(GWLETaskManager::init());
    made->taskManager_->startTaskManager();
    return made;
  }();
  return instance;
}

std::shared_ptr<GWLEManager> GWLEManager::initWithTaskManager(
    std::shared_ptr<GWLETaskManager> taskManager, std::shared_ptr<platform::Clock> clock,
    std::shared_ptr<platform::Queue> mainQueue, std::shared_ptr<GWLEExperimentRequestBuilder> requestBuilder) {
  monitor();  // the flag functions report through it from now on
  std::shared_ptr<GWLEManager> manager(new GWLEManager());
  manager->taskManager_ = std::move(taskManager);
  manager->queue_ = platform::SerialQueue::create(kGWLEManagerQueueLabel);
  manager->clock_ = clock ? std::move(clock) : platform::Clock::system();
  manager->mainQueue_ = mainQueue ? std::move(mainQueue) : platform::MainQueue::shared();
  manager->requestBuilder_ =
      requestBuilder ? std::move(requestBuilder) : GWLEExperimentRequestBuilder::sharedInstance();
  if (manager->taskManager_) manager->taskManager_->setDelegate(manager);
  return manager;
}

GWLEManager::~GWLEManager() = default;

double GWLEManager::now() const { return clock_->now(); }

void GWLEManager::dispatchAsyncOnSerialQueue(std::function<void()> block) { queue_->async(std::move(block)); }
void GWLEManager::dispatchSyncOnSerialQueue(std::function<void()> block) { queue_->sync(std::move(block)); }

std::shared_ptr<GWLEClient> GWLEManager::registeredClient(const std::string& SDKName) const {
  auto it = registeredClientsBySDKName_.find(SDKName);
  return it == registeredClientsBySDKName_.end() ? nullptr : it->second;
}

// ---- registration ----

std::shared_ptr<GWLEClient> GWLEManager::registerSDKProperty(const std::shared_ptr<GWLESDKProperty>& property,
                                                             const platform::Dictionary& defaultFlags) {
  if (!property) {
    log()->logWithLevel(kGWLLevelError, kNilPropertyCode, kNilPropertyMessage);
    return nullptr;
  }
  if (property->name().empty()) {
    log()->logWithLevel(kGWLLevelError, kNoSDKNameCode, kNoSDKNameMessage);
    return nullptr;
  }
  GWLEExperiment::Flags flags;
  std::map<std::string, std::shared_ptr<const GWLPBFlag>> flagsByName;
  for (const auto& [name, value] : defaultFlags) {
    auto flag = GWLPBFlagCreate(platform::Object(name), value);
    if (!flag) {
      log()->logWithLevel(kGWLLevelError, kInvalidFlagsCode, kInvalidFlagsMessage, GWLLogContext(name),
                          GWLLogContext(value));
      return nullptr;
    }
    flags.push_back(flag);
    flagsByName[name] = flag;
  }
  auto client = GWLEClient::initWithSDKProperty(property, flags, weak_from_this());
  if (!client) {
    log()->logWithLevel(kGWLLevelErrorSampled, kCannotRegisterCode, kCannotRegisterMessage,
                        GWLLogContext(property->name()));
    return nullptr;
  }
  std::weak_ptr<GWLEManager> weak = weak_from_this();
  dispatchAsyncOnSerialQueue([weak, client, flagsByName, property] {
    auto self = weak.lock();
    if (!self) return;
    const std::string& name = property->name();
    {
      if (self->registeredClientsBySDKName_.count(name)) {
        log()->logWithLevel(kGWLLevelWarning, kRegisteredTwiceCode, kRegisteredTwiceMessage, GWLLogContext(name));
      }
      self->registeredClientsBySDKName_[name] = client;
      self->defaultFlagsBySDKName_[name] = flagsByName;
    }
    self->requestBuilder_->addSDKProperty(property);
    log()->logWithLevel(kGWLLevelVerbose, kRegisteredCode, kRegisteredMessage, GWLLogContext(name));
  });
  return client;
}

std::shared_ptr<GWLExperimentsClient> GWLEManager::registerSDKProperty(const std::string& SDKName, int64_t version,
                                                                     std::weak_ptr<GWLExperimentsObserver> observer) {
  auto property = std::make_shared<GWLESDKProperty>(SDKName);
  property->setVersion(version);
  auto client = registerSDKProperty(property, platform::Dictionary());
  if (!client) return nullptr;
  auto observed = std::make_shared<ObservedClient>(client, std::move(observer));
  property->setDelegate(observed);
  client->setDelegate(observed);
  return observed;
}

std::shared_ptr<GWLEClient> GWLEManager::clientForSDKName(const platform::Object& SDKName) {
  const std::string* name = SDKName.stringValue();
  if (!name) {
    log()->logWithLevel(kGWLLevelError, kInvalidClientNameCode, kInvalidClientNameMessage, GWLLogContext(SDKName));
    return nullptr;
  }
  if (name->empty()) {
    log()->logWithLevel(kGWLLevelError, kEmptyClientNameCode, kEmptyClientNameMessage);
    return nullptr;
  }
  std::shared_ptr<GWLEClient> client;
  dispatchSyncOnSerialQueue([&] { client = registeredClient(*name); });
  return client;
}

// ---- lookup ----

std::vector<int32_t> GWLEManager::experimentIDs() {
  std::vector<int32_t> ids;
  dispatchSyncOnSerialQueue([&] {
    for (const auto& [name, client] : registeredClientsBySDKName_) {
      if (client->SDKProperty()->diversionKey()) continue;
      auto activated = activatedSnapshotsBySDKName_.find(name);
      if (activated == activatedSnapshotsBySDKName_.end()) continue;
      for (const auto& [id, experiment] : activated->second.experimentsByExperimentID()) ids.push_back(id);
    }
  });
  std::sort(ids.begin(), ids.end());
  return ids;
}

std::optional<platform::Object> GWLEManager::flagValueForFlagName(const platform::Object& flagName,
                                                                  const platform::Object& SDKName) {
  const std::string* sdk = SDKName.stringValue();
  const std::string* flag = flagName.stringValue();
  if (!sdk) {
    log()->logWithLevel(kGWLLevelError, kInvalidLookupSDKCode, kInvalidLookupSDKMessage, GWLLogContext(SDKName));
    return std::nullopt;
  }
  if (!flag) {
    log()->logWithLevel(kGWLLevelError, kInvalidLookupFlagCode, kInvalidLookupFlagMessage, GWLLogContext(*sdk),
                        GWLLogContext(flagName));
    return std::nullopt;
  }
  if (sdk->empty()) {
    log()->logWithLevel(kGWLLevelError, kEmptyLookupSDKCode, kEmptyLookupSDKMessage);
    return std::nullopt;
  }
  if (flag->empty()) {
    log()->logWithLevel(kGWLLevelError, kEmptyLookupFlagCode, kEmptyLookupFlagMessage);
    return std::nullopt;
  }
  std::optional<platform::Object> answer;
  dispatchSyncOnSerialQueue([&] {
    if (!registeredClientsBySDKName_.count(*sdk)) {
      log()->logWithLevel(kGWLLevelWarning, kNotRegisteredCode, kNotRegisteredMessage, GWLLogContext(*sdk));
      return;
    }
    auto defaults = defaultFlagsBySDKName_.find(*sdk);
    if (defaults == defaultFlagsBySDKName_.end()) {
      log()->logWithLevel(kGWLLevelWarning, kNoDefaultsCode, kNoDefaultsMessage, GWLLogContext(*sdk),
                          GWLLogContext(*flag));
      return;
    }
    auto activated = activatedSnapshotsBySDKName_.find(*sdk);
    log()->logWithLevel(kGWLLevelVerbose, kLookingActivatedCode, kLookingActivatedMessage, GWLLogContext(*sdk),
                        GWLLogContext(*flag), GWLLogContext(activated != activatedSnapshotsBySDKName_.end()));
    if (activated != activatedSnapshotsBySDKName_.end()) {
      if ((answer = valueOf(activated->second.flagByName(*flag)))) return;
    }
    auto launched = launchedSnapshotsBySDKName_.find(*sdk);
    log()->logWithLevel(kGWLLevelVerbose, kLookingLaunchedCode, kLookingLaunchedMessage, GWLLogContext(*sdk),
                        GWLLogContext(*flag), GWLLogContext(launched != launchedSnapshotsBySDKName_.end()));
    if (launched != launchedSnapshotsBySDKName_.end()) {
      if ((answer = valueOf(launched->second.flagByName(*flag)))) return;
    }
    auto fallback = defaults->second.find(*flag);
    if (fallback == defaults->second.end()) {
      log()->logWithLevel(kGWLLevelVerbose, kNoDefaultFlagCode, kNoDefaultFlagMessage, GWLLogContext(*sdk),
                          GWLLogContext(*flag));
      return;
    }
    answer = valueOf(fallback->second);
    log()->logWithLevel(kGWLLevelVerbose, kDefaultFlagCode, kDefaultFlagMessage, GWLLogContext(*sdk),
                        GWLLogContext(*flag), answer ? GWLLogContext(*answer) : GWLLogContext());
  });
  return answer;
}

// ---- activation and status ----

bool GWLEManager::activateSnapshotOfSDK(const std::string& SDKName, platform::Error* error) {
  if (SDKName.empty()) {
    GWLSetError(error, kGWLErrorCodeInvalidArgument, "SDK name cannot be empty");
    log()->logWithLevel(kGWLLevelWarning, kEmptyActivationNameCode, kEmptyActivationNameMessage);
    return false;
  }
  bool activated = false;
  std::optional<GWLESnapshot> stored;
  double activationTime = 0;
  dispatchSyncOnSerialQueue([&] {
    auto pending = pendingSnapshotsBySDKName_.find(SDKName);
    if (pending == pendingSnapshotsBySDKName_.end()) {
      log()->logWithLevel(kGWLLevelWarning, kNoPendingCode, kNoPendingMessage, GWLLogContext(SDKName));
      return;
    }
    activationTime = now();
    std::vector<GWLEExperiment> experiments;
    for (const auto& [id, experiment] : pending->second.experimentsByExperimentID()) {
      if (id == 0) {
        auto launched = GWLESnapshot::initWithSDKName(SDKName, std::vector<GWLEExperiment>{experiment}, activationTime);
        if (launched) launchedSnapshotsBySDKName_.insert_or_assign(SDKName, std::move(*launched));
      } else {
        experiments.push_back(experiment);
      }
    }
    auto snapshot = GWLESnapshot::initWithSDKName(SDKName, experiments, activationTime);
    if (snapshot) activatedSnapshotsBySDKName_.insert_or_assign(SDKName, std::move(*snapshot));
    stored = pending->second;
    pendingSnapshotsBySDKName_.erase(pending);
    activated = true;
  });
  if (!activated) return false;
  if (taskManager_) taskManager_->activatePendingSnapshot(stored, activationTime);
  log()->logWithLevel(kGWLLevelVerbose, kActivatedCode, kActivatedMessage, GWLLogContext(SDKName));
  return true;
}

int64_t GWLEManager::activatedSnapshotStatusOfSDKName(const std::string& SDKName) {
  if (SDKName.empty()) {
    log()->logWithLevel(kGWLLevelError, kEmptyStatusNameCode, kEmptyStatusNameMessage);
    return -1;
  }
  int64_t status = -1;
  dispatchSyncOnSerialQueue([&] {
    if (!registeredClientsBySDKName_.count(SDKName)) return;
    auto activated = activatedSnapshotsBySDKName_.find(SDKName);
    if (activated == activatedSnapshotsBySDKName_.end() || !(activated->second.timestamp() > DBL_EPSILON)) {
      status = -2;
      return;
    }
    status = std::fabs(now() - activated->second.timestamp()) > kGWLEStaleSnapshotAge ? 1 : 0;
  });
  return status;
}

// ---- reset ----

void GWLEManager::resetToDefaultsOfSDKName(const std::string& SDKName) {
  if (SDKName.empty()) {
    log()->logWithLevel(kGWLLevelError, kEmptyResetNameCode, kEmptyResetNameMessage);
    return;
  }
  bool removed = false;
  dispatchSyncOnSerialQueue([&] {
    removed = activatedSnapshotsBySDKName_.erase(SDKName) > 0;
  });
  if (removed) {
    if (taskManager_) taskManager_->resetToDefaultsForSDKName(SDKName);
    log()->logWithLevel(kGWLLevelVerbose, kResetCode, kResetMessage, GWLLogContext(SDKName));
  } else {
    log()->logWithLevel(kGWLLevelError, kResetUnregisteredCode, kResetUnregisteredMessage, GWLLogContext(SDKName));
  }
}

void GWLEManager::reset() {
  std::weak_ptr<GWLEManager> weak = weak_from_this();
  dispatchAsyncOnSerialQueue([weak] {
    auto self = weak.lock();
    if (!self) return;
    if (self->taskManager_) self->taskManager_->reset();
    self->activatedSnapshotsBySDKName_.clear();
    self->pendingSnapshotsBySDKName_.clear();
    self->launchedSnapshotsBySDKName_.clear();
  });
}

void GWLEManager::clearAndDelete() {
  std::weak_ptr<GWLEManager> weak = weak_from_this();
  dispatchAsyncOnSerialQueue([weak] {
    auto self = weak.lock();
    if (!self) return;
    if (self->taskManager_) self->taskManager_->clearAndDelete();
    self->activatedSnapshotsBySDKName_.clear();
    self->pendingSnapshotsBySDKName_.clear();
    self->launchedSnapshotsBySDKName_.clear();
  });
}

// ---- notices from the task manager ----

std::optional<bool> GWLEManager::taskManagerShouldFetchExperiments(GWLETaskManager&) {
  // Asked on the task manager's queue; the delegates answer outside the manager's queue.
  std::map<std::string, std::shared_ptr<GWLEClient>> clients;
  dispatchSyncOnSerialQueue([&] { clients = registeredClientsBySDKName_; });
  for (const auto& [name, client] : clients) {
    auto delegate = client->delegate();
    if (!delegate) continue;
    if (delegate->shouldFetchExperimentsForClient(client).value_or(true)) return true;
  }
  return false;
}

void GWLEManager::taskManager(GWLETaskManager&, const std::vector<GWLESnapshot>& didStartWithActivatedSnapshots,
                              const std::vector<GWLESnapshot>& pendingSnapshots,
                              const std::vector<GWLESnapshot>& launchedSnapshots) {
  std::weak_ptr<GWLEManager> weak = weak_from_this();
  // Stored snapshots keep their own times: an old activation stays old after a restart.
  dispatchAsyncOnSerialQueue([weak, activated = didStartWithActivatedSnapshots, pending = pendingSnapshots,
                              launched = launchedSnapshots] {
    auto self = weak.lock();
    if (!self) return;
    for (const auto& snapshot : activated) self->activatedSnapshotsBySDKName_.insert_or_assign(snapshot.SDKName(), snapshot);
    for (const auto& snapshot : pending) self->pendingSnapshotsBySDKName_.insert_or_assign(snapshot.SDKName(), snapshot);
    for (const auto& snapshot : launched) self->launchedSnapshotsBySDKName_.insert_or_assign(snapshot.SDKName(), snapshot);
  });
}

void GWLEManager::taskManager(GWLETaskManager&, const std::vector<GWLESnapshot>& didFinishFetchingExperimentSnapshots,
                              const std::map<std::string, platform::Error>& withErrors) {
  if (didFinishFetchingExperimentSnapshots.empty() && withErrors.empty()) {
    log()->logWithLevel(kGWLLevelWarning, kNothingToNotifyCode, kNothingToNotifyMessage);
    return;
  }
  std::weak_ptr<GWLEManager> weak = weak_from_this();
  dispatchAsyncOnSerialQueue([weak, snapshots = didFinishFetchingExperimentSnapshots, errors = withErrors] {
    auto self = weak.lock();
    if (!self) return;
    std::vector<GWLESnapshot> manuallyActivated;
    const double receivedAt = self->now();
    for (const auto& snapshot : snapshots) {
      GWLESnapshot pending = snapshot.copyWithTimestamp(receivedAt);
      auto client = self->registeredClient(pending.SDKName());
      auto delegate = client ? client->delegate() : nullptr;
      if (delegate && delegate->implementsClientDidReceiveNewSnapshot()) {
        pending.setManuallyActivated(true);
        manuallyActivated.push_back(pending);
      }
      self->pendingSnapshotsBySDKName_.insert_or_assign(pending.SDKName(), std::move(pending));
    }
    for (const auto& [name, error] : errors) {
      auto client = self->registeredClient(name);
      auto delegate = client ? client->delegate() : nullptr;
      if (delegate && delegate->implementsClientDidReceiveFetchError()) delegate->client(client, error);
    }
    if (!manuallyActivated.empty() && self->taskManager_) self->taskManager_->upsertPendingSnapshots(manuallyActivated);
  });
}

void GWLEManager::taskManager(GWLETaskManager&, const std::vector<GWLESnapshot>& didUpsertPendingSnapshots) {
  for (const auto& snapshot : didUpsertPendingSnapshots) {
    std::shared_ptr<GWLEClient> client;
    dispatchSyncOnSerialQueue([&] { client = registeredClient(snapshot.SDKName()); });
    auto delegate = client ? client->delegate() : nullptr;
    if (!delegate || !delegate->implementsClientDidReceiveNewSnapshot()) {
      log()->logWithLevel(kGWLLevelError, kNoNoticeMethodCode, kNoNoticeMethodMessage,
                          GWLLogContext(snapshot.SDKName()));
      continue;
    }
    auto queue = delegate->queue();
    if (!queue) queue = mainQueue_;
    std::weak_ptr<GWLEExperimentObserverDelegate> weakDelegate = delegate;
    queue->async([weakDelegate, client] {
      if (auto observer = weakDelegate.lock()) observer->clientDidReceiveNewSnapshot(client);
    });
  }
}
