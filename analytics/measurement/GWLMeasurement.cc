#include "analytics/measurement/GWLMeasurement.h"

#include "analytics/attribution/GWLSVTPPreviewHeaders.h"
#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/core/GWLMonitor.h"

namespace {

// The deep links on this class's monitor, for the services that need no engine.
std::shared_ptr<GWLMeasurementDeepLinks> urlServices() {
  GWLMeasurementDeepLinks::Dependencies dependencies;
  dependencies.monitor = GWLMeasurement::monitor();
  return GWLMeasurementDeepLinks::create(std::move(dependencies));
}

}  // namespace

bool GWLMeasurement::hasSharedInstance() { return GWLMeasurementRegistry::hasSharedInstance(); }

std::shared_ptr<GWLAnalyticsEngine> GWLMeasurement::sharedInstance() {
  return std::dynamic_pointer_cast<GWLAnalyticsEngine>(GWLMeasurementRegistry::sharedInstance());
}

std::shared_ptr<GWLMonitor> GWLMeasurement::monitor() { return GWLMeasurementRegistry::monitor(); }

std::shared_ptr<GWLRemoteConfig> GWLMeasurement::remoteConfig() { return GWLMeasurementRegistry::remoteConfig(); }

void GWLMeasurement::initializeSharedInstanceWithAppID(const std::string& appID, bool isAnalyticsCollectionEnabled,
                                                       bool isAnalyticsCollectionDeactivated,
                                                       const std::optional<std::vector<std::string>>& safelistedEvents,
                                                       const GWLAnalyticsEngineFactory& factory) {
  (void)GWLMeasurementRegistry::initializeSharedInstance([&]() -> std::shared_ptr<GWLMeasurementEngine> {
    if (appID.empty()) return nullptr;
    (void)monitor();  // exists before the engine's initialisers report through it
    if (!factory) return nullptr;
    GWLAnalyticsEngineConfiguration configuration;
    configuration.appID = appID;
    configuration.isAnalyticsCollectionEnabled = isAnalyticsCollectionEnabled;
    configuration.isAnalyticsCollectionDeactivated = isAnalyticsCollectionDeactivated;
    configuration.safelistedEvents = safelistedEvents;
    return factory(configuration);
  });
}

GWLAnalyticsEngineFactory GWLMeasurement::defaultEngineFactory() {
  // The engine class is not built yet: no engine.
  return [](const GWLAnalyticsEngineConfiguration&) -> std::shared_ptr<GWLAnalyticsEngine> { return nullptr; };
}

std::optional<std::string> GWLMeasurement::deepLinkFromUserActivity(
    const std::optional<platform::UserActivity>& activity) {
  return urlServices()->deepLinkFromUserActivity(activity);
}

void GWLMeasurement::handleSVTPDebugModeWithURL(const std::string& url) {
  urlServices()->handleSVTPDebugModeWithURL(url);
}

std::optional<GWLMeasurement::Headers> GWLMeasurement::SVTPPreviewHeaders() {
  auto headers = GWLSVTPPreviewHeaders::current();
  if (!headers) return std::nullopt;
  return *headers;
}

void GWLMeasurement::resetSVTPPreviewHeadersForTesting() { GWLSVTPPreviewHeaders::replace(nullptr); }
