// An engine that stands alone, for fuzz targets and benchmarks: made with its
// own persisted settings and identity in the current data directory, a given
// clock and monitor, no network, no entry class and no experiments, and
// started (collection on, database open) before it is handed back.
#pragma once

#include <memory>
#include <string>

#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "analytics/measurement/GWLIdentity.h"
#include "analytics/measurement/GWLMeasurement.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/NotificationCenter.h"
#include "platform/dispatch/Queue.h"
#include "platform/env/BackgroundTasks.h"

namespace measurement_testing {

// `T` is GWLMeasurement or a subclass constructible from the same arguments.
// Null when the engine could not be made or started.
template <class T = GWLMeasurement>
std::shared_ptr<T> makeStandaloneMeasurement(const std::shared_ptr<platform::Clock>& clock,
                                             const std::shared_ptr<GWLMonitor>& monitor) {
  GWLPersistedConfig::Dependencies settingsDependencies;
  settingsDependencies.clock = clock;
  settingsDependencies.monitor = monitor;
  auto settings = GWLPersistedConfig::create(kGWLPersistedConfigSuiteName, settingsDependencies);
  GWLIdentity::Dependencies identityDependencies;
  identityDependencies.clock = clock;
  identityDependencies.monitor = monitor;
  auto identity = GWLIdentity::initWithPersistedConfig(settings, identityDependencies);

  GWLMeasurement::Dependencies dependencies;
  dependencies.clock = clock;
  dependencies.monitor = monitor;
  dependencies.persistedConfig = settings;
  dependencies.makeNetwork = false;
  dependencies.analytics = [] { return nullptr; };
  dependencies.identity = [identity] { return identity; };
  dependencies.experimentManager = [] { return nullptr; };
  dependencies.notificationCenter = platform::NotificationCenter::create();
  dependencies.backgroundTasks = std::make_shared<platform::BackgroundTasks>();
  dependencies.classExists = [](const std::string&) { return false; };
  dependencies.infoDictionaryValue = [](const std::string&) { return std::nullopt; };
  dependencies.loadTimestamp = [clock] { return clock->now(); };
  dependencies.globalQueue = platform::ConcurrentQueue::create("global", 1);
  GWLAnalyticsEngineConfiguration configuration;
  configuration.appID = "1:1:ios:1";
  configuration.isAnalyticsCollectionEnabled = true;
  auto engine = GWLMeasurement::create<T>(configuration, dependencies);
  if (!engine) return nullptr;
  engine->scheduler()->workerQueue()->flush();
  if (!engine->database()) return nullptr;
  return engine;
}

}  // namespace measurement_testing
