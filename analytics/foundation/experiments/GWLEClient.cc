#include "analytics/foundation/experiments/GWLEClient.h"

#include "analytics/foundation/experiments/GWLEManager.h"
#include "analytics/foundation/experiments/GWLEMonitor.h"
#include "analytics/foundation/experiments/GWLESDKProperty.h"

namespace {

constexpr int64_t kNilPropertyCode = 830000;
constexpr const char* kNilPropertyMessage = "Cannot initialize the client with nil property";
constexpr int64_t kNilDefaultFlagsCode = 830001;
constexpr const char* kNilDefaultFlagsMessage = "Cannot initialize the client with nil default flags";
constexpr int64_t kEmptyFlagNameCode = 830002;
constexpr const char* kEmptyFlagNameMessage = "Cannot get value for empty flag name";
constexpr int64_t kInvalidFlagNameCode = 830003;
constexpr const char* kInvalidFlagNameMessage = "Cannot get flag value of an invalid flag name";

}  // namespace

std::shared_ptr<GWLEClient> GWLEClient::initWithSDKProperty(std::shared_ptr<GWLESDKProperty> property,
                                                            const std::optional<GWLEExperiment::Flags>& defaultFlags,
                                                            std::weak_ptr<GWLEManager> manager) {
  if (!property) {
    GWLEManager::monitor()->logWithLevel(kGWLLevelError, kNilPropertyCode, kNilPropertyMessage);
    return nullptr;
  }
  if (!defaultFlags) {
    GWLEManager::monitor()->logWithLevel(kGWLLevelError, kNilDefaultFlagsCode, kNilDefaultFlagsMessage);
    return nullptr;
  }
  return std::make_shared<GWLEClient>(std::move(property), *defaultFlags, std::move(manager));
}

GWLEClient::GWLEClient(std::shared_ptr<GWLESDKProperty> property, GWLEExperiment::Flags defaultFlags,
                       std::weak_ptr<GWLEManager> manager)
    : SDKProperty_(std::move(property)), defaultFlags_(std::move(defaultFlags)), manager_(std::move(manager)) {}

std::optional<platform::Object> GWLEClient::valueForFlag(const std::string& flagName) const {
  if (flagName.empty()) {
    GWLEManager::monitor()->logWithLevel(kGWLLevelError, kEmptyFlagNameCode, kEmptyFlagNameMessage);
    return std::nullopt;
  }
  auto manager = manager_.lock();
  if (!manager) return std::nullopt;
  return manager->flagValueForFlagName(flagName, SDKName());
}

std::optional<platform::Object> GWLEClient::objectForKeyedSubscript(const platform::Object& key) const {
  const std::string* name = key.stringValue();
  if (!name) {
    GWLEManager::monitor()->logWithLevel(kGWLLevelError, kInvalidFlagNameCode, kInvalidFlagNameMessage,
                                         GWLLogContext(key));
    return std::nullopt;
  }
  return valueForFlag(*name);
}

bool GWLEClient::activateLatestSnapshot(platform::Error* error) {
  auto manager = manager_.lock();
  return manager && manager->activateSnapshotOfSDK(SDKName(), error);
}

bool GWLEClient::hasStaleSnapshot() const {
  auto manager = manager_.lock();
  return manager && manager->activatedSnapshotStatusOfSDKName(SDKName()) == 1;
}

void GWLEClient::resetToDefaults() {
  if (auto manager = manager_.lock()) manager->resetToDefaultsOfSDKName(SDKName());
}

std::string GWLEClient::SDKName() const { return SDKProperty_->name(); }

std::shared_ptr<GWLEExperimentObserverDelegate> GWLEClient::delegate() const {
  platform::MutexLock lock(mutex_);
  return delegate_.lock();
}

void GWLEClient::setDelegate(std::weak_ptr<GWLEExperimentObserverDelegate> delegate) {
  platform::MutexLock lock(mutex_);
  delegate_ = std::move(delegate);
}
