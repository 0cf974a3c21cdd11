// GWLMeasurementRegistry — the process-wide state behind the engine class's
// four accessors (`GWLMeasurement::monitor`, `remoteConfig`, `sharedInstance`,
// `hasSharedInstance`): the point where the engine's class accessors are
// composed. The engine class forwards its accessors here and creates itself
// through `initializeSharedInstance`. Code below the engine does not look
// things up here: it is handed its configuration (or the limits it needs) by
// its caller, and reports through GWLLibraryMonitor. The one exception is the
// engine's calls back (GWLMeasurementEngineCalls), which the shared
// components of the audiences and attribution layers reach through
// `sharedInstance`, as the engine may be made after them.
//
// Before any engine exists the accessors still answer: the monitor is made on
// first use, `remoteConfig` answers the default configuration, and
// `sharedInstance` answers null.
//
// Threads: every accessor may be called on any thread. The engine state is
// guarded by a recursive mutex (the creation runs under it); the published
// engine and the class lookup have mutexes of their own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "analytics/foundation/config/GWLMeasurementEngineCalls.h"
#include "analytics/foundation/core/GWLLibraryMonitor.h"

class GWLIdentity;
class GWLMonitor;
class GWLRemoteConfig;

// What the foundation needs of the engine, and (through the engine calls)
// what the layers above the foundation call back on it.
class GWLMeasurementEngine : public GWLMeasurementEngineCalls {
 public:
  ~GWLMeasurementEngine() override = default;
  // The engine's configuration; null while it has none.
  virtual std::shared_ptr<GWLRemoteConfig> remoteConfig() const = 0;
  // The identity the engine took at start (the measurement layer's class,
  // known here by name only); null while it has none.
  virtual std::shared_ptr<GWLIdentity> identity() const { return nullptr; }
};

class GWLMeasurementRegistry {
 public:
  using ClassLookup = std::function<bool(const std::string& className)>;

  // Whether a creation was attempted and made an engine.
  static bool hasSharedInstance();
  // The engine, or null. Before any creation attempt, when the public class
  // CVNAnalytics is present, first warns (23147) that the library has not been
  // created.
  static std::shared_ptr<GWLMeasurementEngine> sharedInstance();
  // Whether an engine exists and its collection is enabled. Never waits for
  // an engine being created (answers false meanwhile), so the experiments
  // task manager's queue may ask it while the engine's start waits for that queue.
  static bool isSharedInstanceEnabled();
  // The library's one monitor, made on first use (GWLLibraryMonitor::monitor).
  static std::shared_ptr<GWLMonitor> monitor();
  // The engine's configuration, or the default configuration.
  static std::shared_ptr<GWLRemoteConfig> remoteConfig();

  // The first call records the attempt and runs `create` under the class
  // mutex (which is recursive, so the engine's initialisers may use the
  // accessors); a null result leaves the process without an engine for good.
  // Later calls change nothing. Answers the engine or null.
  static std::shared_ptr<GWLMeasurementEngine> initializeSharedInstance(
      const std::function<std::shared_ptr<GWLMeasurementEngine>()>& create);

  // How `sharedInstance` asks whether a class is present; the default asks
  // the app environment's registry of optional components.
  static void setClassLookup(ClassLookup lookup);

  // Tests: forgets the engine, the creation attempt and, when given, installs `monitor`.
  static void resetForTesting(std::shared_ptr<GWLMonitor> monitor = nullptr);
};
