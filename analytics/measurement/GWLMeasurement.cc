#include "analytics/measurement/GWLMeasurement.h"

#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/core/GWLDictionaryQuery.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "platform/util/Mutex.h"

namespace {

struct PreviewHeaders {
  platform::Mutex mutex;
  std::optional<GWLMeasurement::Headers> headers ABSL_GUARDED_BY(mutex);
};

PreviewHeaders& previewHeaders() {
  static auto* state = new PreviewHeaders();  // never destroyed: uploads may read it during exit
  return *state;
}

void setPreviewHeaders(std::optional<GWLMeasurement::Headers> headers) {
  auto& state = previewHeaders();
  platform::MutexLock lock(state.mutex);
  state.headers = std::move(headers);
}

// The query of a URL's text: after the first "?", up to a "#".
std::string queryOfURL(const std::string& url) {
  const size_t question = url.find('?');
  if (question == std::string::npos) return std::string();
  const size_t fragment = url.find('#', question + 1);
  return url.substr(question + 1, fragment == std::string::npos ? std::string::npos : fragment - question - 1);
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
  if (!activity) {
    monitor()->logWithLevel(7, kGWLEmptyUserActivityCode, kGWLEmptyUserActivityMessage, nullptr);
    return std::nullopt;
  }
  if (activity->activityType == platform::kUserActivityTypeBrowsingWeb && activity->webpageURL &&
      !activity->webpageURL->empty()) {
    return activity->webpageURL;
  }
  monitor()->logWithLevel(3, kGWLUserActivityWithoutDeepLinkCode, kGWLUserActivityWithoutDeepLinkMessage,
                          activity->activityType);
  return std::nullopt;
}

void GWLMeasurement::handleSVTPDebugModeWithURL(const std::string& url) {
  const auto arguments = gwl_dictionaryWithHttpArgumentsString(queryOfURL(url));
  if (arguments.empty()) return;
  auto enable = arguments.find(kGWLSVTPDebugEnableArgument);
  if (enable == arguments.end()) return;
  if (enable->second == "1") {
    monitor()->setSVTPDebugModeEnabled(true);
    auto key = arguments.find(kGWLSVTPPreviewKeyArgument);
    if (key != arguments.end() && !key->second.empty()) {
      setPreviewHeaders(Headers{{kGWLSVTPPreviewHeader, key->second}});
    } else {
      setPreviewHeaders(std::nullopt);
    }
  } else if (enable->second == "0") {
    monitor()->setSVTPDebugModeEnabled(false);
    setPreviewHeaders(std::nullopt);
  }
}

std::optional<GWLMeasurement::Headers> GWLMeasurement::SVTPPreviewHeaders() {
  auto& state = previewHeaders();
  platform::MutexLock lock(state.mutex);
  return state.headers;
}

void GWLMeasurement::resetSVTPPreviewHeadersForTesting() { setPreviewHeaders(std::nullopt); }
