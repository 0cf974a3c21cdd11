#include "analytics/measurement/testing/StandaloneMeasurement.h"

#include <unistd.h>

#include <filesystem>
#include <mutex>
#include <vector>

#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/core/GWLPlatformIdentitySupport.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "analytics/measurement/GWLDefaultIdentitySupport.h"
#include "analytics/measurement/GWLIdentifiers.h"
#include "analytics/measurement/GWLIdentity.h"
#include "analytics/measurement/GWLMeasurement.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/NotificationCenter.h"
#include "platform/dispatch/Queue.h"
#include "platform/env/AppEnvironment.h"
#include "platform/storage/Paths.h"

namespace measurement_testing {
namespace {

// A device without advertising services.
class NoAdvertisingIdentity : public GWLIdentitySupport {
 public:
  bool hasAppDataConsentStatus() const override { return false; }
  int64_t appDataConsentStatus() const override { return 0; }
  bool hasLimitedAdTracking() const override { return false; }
  bool limitedAdTracking() const override { return false; }
  std::optional<std::string> resettableDeviceID() const override { return std::nullopt; }
};

struct DiscardedLog : platform::LogSink {
  void write(const platform::LogRecord&) override {}
};

}  // namespace

StandaloneMeasurement makeStandaloneMeasurementInTemporaryDirectory(const std::string& name, double now,
                                                                    std::shared_ptr<GWLMonitor> monitor) {
  // The directories made here go when the program ends; their engines are
  // left to the exit, and a file still open in a removed directory is fine.
  struct Directories {
    std::mutex mutex;
    std::vector<std::filesystem::path> paths;
    ~Directories() {
      for (const auto& path : paths) {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
      }
    }
  };
  static Directories made;
  const std::filesystem::path root =
      std::filesystem::temp_directory_path() / (name + "." + std::to_string(::getpid()));
  std::filesystem::create_directories(root);
  {
    std::lock_guard lock(made.mutex);
    made.paths.push_back(root);
  }
  return makeStandaloneMeasurement(root.string(), now, std::move(monitor));
}

std::shared_ptr<GWLMonitor> installQuietBenchmarkMonitor() {
  platform::log::setSink(std::make_shared<DiscardedLog>());
  GWLMonitor::Dependencies monitorDependencies;  // no preferences: nothing is stored
  monitorDependencies.clock = std::make_shared<platform::ManualClock>();
  auto monitor = GWLMonitor::create(6, nullptr, 1, monitorDependencies);
  GWLMeasurementRegistry::resetForTesting(monitor);
  GWLLibraryMonitor::resetForTesting(monitor);
  return monitor;
}

StandaloneMeasurement makeStandaloneMeasurement(const std::string& dataDirectory, double now,
                                                std::shared_ptr<GWLMonitor> monitor) {
  platform::Paths::setCurrent(platform::Paths::open(dataDirectory));
  auto clock = std::make_shared<platform::ManualClock>(now);
  auto environment = platform::AppEnvironment::create(platform::AppEnvironment::Configuration{});

  GWLPersistedConfig::Dependencies settingsDependencies;
  settingsDependencies.clock = clock;
  settingsDependencies.monitor = monitor;
  auto settings = GWLPersistedConfig::create(kGWLPersistedConfigSuiteName, settingsDependencies);

  GWLDefaultIdentitySupport::Dependencies supportDependencies;
  supportDependencies.monitor = monitor;
  GWLIdentity::Dependencies identityDependencies;
  identityDependencies.identitySupport =
      GWLDefaultIdentitySupport::create(std::make_shared<NoAdvertisingIdentity>(), supportDependencies);
  identityDependencies.clock = clock;
  identityDependencies.monitor = monitor;
  identityDependencies.environment = environment;
  identityDependencies.identifierForVendor = [] { return std::optional<std::string>(); };
  auto identity = GWLIdentity::initWithPersistedConfig(settings, identityDependencies);

  GWLIdentifiers::Dependencies identifierDependencies;
  identifierDependencies.sharedIdentity = [identity] { return identity; };
  identifierDependencies.engineIdentity = [identity] { return identity; };
  identifierDependencies.monitor = monitor;

  GWLMeasurement::Dependencies dependencies;
  dependencies.clock = clock;
  dependencies.monitor = monitor;
  dependencies.persistedConfig = settings;
  dependencies.makeNetwork = false;
  dependencies.network = std::make_shared<platform::HVUNetwork>(std::string("127.0.0.1"));
  dependencies.analytics = [] { return std::shared_ptr<GWLAnalytics>(); };
  dependencies.identity = [identity] { return identity; };
  dependencies.identifiers = std::make_shared<GWLIdentifiers>(identifierDependencies);
  dependencies.experimentManager = [] { return std::shared_ptr<GWLExperimentsManaging>(); };
  dependencies.notificationCenter = platform::NotificationCenter::create();
  dependencies.backgroundTasks = std::make_shared<platform::BackgroundTasks>();
  dependencies.classExists = [](const std::string&) { return false; };
  dependencies.infoDictionaryValue = [](const std::string&) { return std::nullopt; };
  dependencies.loadTimestamp = [now] { return now; };
  dependencies.globalQueue = platform::ConcurrentQueue::create("global", 1);
  dependencies.environment = environment;

  GWLAnalyticsEngineConfiguration configuration;
  configuration.appID = "1:123:ios:abc";
  configuration.isAnalyticsCollectionEnabled = true;
  auto engine = GWLMeasurement::create(configuration, std::move(dependencies));
  if (!engine) return {};
  bool started = false;
  engine->scheduler()->dispatchSyncOnWorkerQueueBlockID("StandaloneMeasurement",
                                                        [&] { started = engine->startMeasurementOnWorkerQueue(); });
  if (!started || !engine->database()) return {nullptr, clock};
  return {engine, clock};
}

}  // namespace measurement_testing
