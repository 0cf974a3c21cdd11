// GWLEClient — the handle an SDK gets when it registers with the experiments
// manager: it reads flag values by name, activates the pending snapshot when
// the SDK chooses to, and tells whether the activated snapshot is stale.
// Made only by GWLEManager::registerSDKProperty.
//
// Threads: any thread. Flag reads and activation go through the manager (on its
// serial queue); the delegate is guarded by the client's mutex.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "analytics/foundation/experiments/GWLEExperiment.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"
#include "platform/util/Mutex.h"

class GWLEManager;
class GWLESDKProperty;
class GWLEExperimentObserverDelegate;

class GWLEClient : public std::enable_shared_from_this<GWLEClient> {
 public:
  // Null, with a report, when `property` or `defaultFlags` is missing.
  static std::shared_ptr<GWLEClient> initWithSDKProperty(std::shared_ptr<GWLESDKProperty> property,
                                                         const std::optional<GWLEExperiment::Flags>& defaultFlags,
                                                         std::weak_ptr<GWLEManager> manager);

  // The flag's value (a number or a string), or nullopt (an empty name is reported).
  [[nodiscard]] std::optional<platform::Object> valueForFlag(const std::string& flagName) const;
  // As valueForFlag; a key that is not a string is reported and answers nullopt.
  [[nodiscard]] std::optional<platform::Object> objectForKeyedSubscript(const platform::Object& key) const;
  // Activates the SDK's pending snapshot; false without error when there is none.
  [[nodiscard]] bool activateLatestSnapshot(platform::Error* error = nullptr);
  // Whether the activated snapshot is more than three days old.
  bool hasStaleSnapshot() const;
  // Drops the activated snapshot: flags read the launched snapshot and the defaults again.
  void resetToDefaults();

  std::string SDKName() const;
  GWLEExperiment::Flags defaultFlags() const { return defaultFlags_; }
  const std::shared_ptr<GWLESDKProperty>& SDKProperty() const { return SDKProperty_; }
  std::shared_ptr<GWLEExperimentObserverDelegate> delegate() const;
  void setDelegate(std::weak_ptr<GWLEExperimentObserverDelegate> delegate);

  GWLEClient(std::shared_ptr<GWLESDKProperty> property, GWLEExperiment::Flags defaultFlags,
             std::weak_ptr<GWLEManager> manager);

 private:
  const std::shared_ptr<GWLESDKProperty> SDKProperty_;
  const GWLEExperiment::Flags defaultFlags_;
  const std::weak_ptr<GWLEManager> manager_;
  mutable platform::Mutex mutex_;
  std::weak_ptr<GWLEExperimentObserverDelegate> delegate_ ABSL_GUARDED_BY(mutex_);
};
