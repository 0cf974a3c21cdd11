#include "analytics/foundation/config/GWLMeasurementRegistry.h"

#include <mutex>

#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLAEU.h"
#include "analytics/foundation/core/GWLASLLogger.h"
#include "platform/core/Log.h"
#include "platform/util/Mutex.h"

namespace {

constexpr int64_t kNotCreatedCode = 23147;
constexpr const char* kNotCreatedMessage =
    "Halcyra Analytics for Corvane has not been created. Please, configure Corvane by calling [CVNApp configure]";
constexpr const char* kPublicClassName = "CVNAnalytics";

struct EngineState {
  // Recursive: the engine's initialisers run under it and may use the accessors.
  // (platform::Mutex is not recursive, so the two fields below are not annotated.)
  std::recursive_mutex mutex;
  bool creationAttempted = false;
  std::shared_ptr<GWLMeasurementEngine> instance;
  // The engine once its creation finished, for readers that must not wait for the creation.
  platform::Mutex publishedMutex;
  std::shared_ptr<GWLMeasurementEngine> published ABSL_GUARDED_BY(publishedMutex);
};

struct LookupState {
  platform::Mutex mutex;
  GWLMeasurementRegistry::ClassLookup lookup ABSL_GUARDED_BY(mutex);
};

// Never destroyed: components may report during exit.
EngineState& engineState() {
  static EngineState* state = new EngineState();
  return *state;
}

LookupState& lookupState() {
  static LookupState* state = new LookupState();
  return *state;
}

bool classExists(const std::string& name) {
  GWLMeasurementRegistry::ClassLookup lookup;
  {
    platform::MutexLock lock(lookupState().mutex);
    lookup = lookupState().lookup;
  }
  return lookup ? lookup(name) : GWLAEU::classExists(name);
}

}  // namespace

bool GWLMeasurementRegistry::hasSharedInstance() {
  auto& state = engineState();
  std::lock_guard<std::recursive_mutex> lock(state.mutex);
  return state.creationAttempted && state.instance != nullptr;
}

std::shared_ptr<GWLMeasurementEngine> GWLMeasurementRegistry::sharedInstance() {
  auto& state = engineState();
  std::lock_guard<std::recursive_mutex> lock(state.mutex);
  if (!state.creationAttempted && classExists(kPublicClassName)) {
    platform::HVUOSLogWarning(kGWLLogSubsystem, kGWLDefaultLogTag, false, GWLMessageCodeString(kNotCreatedCode), "%s",
                              kNotCreatedMessage);
  }
  return state.instance;
}

std::shared_ptr<GWLMonitor> GWLMeasurementRegistry::monitor() { return GWLLibraryMonitor::monitor(); }

std::shared_ptr<GWLRemoteConfig> GWLMeasurementRegistry::remoteConfig() {
  std::shared_ptr<GWLRemoteConfig> config;
  {
    auto& state = engineState();
    std::lock_guard<std::recursive_mutex> lock(state.mutex);
    if (state.instance) config = state.instance->remoteConfig();
  }
  return config ? config : GWLRemoteConfig::defaultInstance();
}

std::shared_ptr<GWLMeasurementEngine> GWLMeasurementRegistry::initializeSharedInstance(
    const std::function<std::shared_ptr<GWLMeasurementEngine>()>& create) {
  auto& state = engineState();
  std::lock_guard<std::recursive_mutex> lock(state.mutex);
  if (state.creationAttempted) return state.instance;
  state.creationAttempted = true;
  if (create) state.instance = create();
  platform::MutexLock publishedLock(state.publishedMutex);
  state.published = state.instance;
  return state.instance;
}

bool GWLMeasurementRegistry::isSharedInstanceEnabled() {
  std::shared_ptr<GWLMeasurementEngine> engine;
  {
    auto& state = engineState();
    platform::MutexLock lock(state.publishedMutex);
    engine = state.published;
  }
  return engine && engine->isEnabled();
}

void GWLMeasurementRegistry::setClassLookup(ClassLookup lookup) {
  platform::MutexLock lock(lookupState().mutex);
  lookupState().lookup = std::move(lookup);
}

void GWLMeasurementRegistry::resetForTesting(std::shared_ptr<GWLMonitor> monitor) {
  {
    auto& state = engineState();
    std::lock_guard<std::recursive_mutex> lock(state.mutex);
    state.creationAttempted = false;
    state.instance.reset();
    platform::MutexLock publishedLock(state.publishedMutex);
    state.published.reset();
  }
  GWLLibraryMonitor::resetForTesting(std::move(monitor));
}
