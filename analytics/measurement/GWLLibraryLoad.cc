#include "analytics/measurement/GWLLibraryLoad.h"

#include "ads/conversion_tracking/app_conversion/odm/ODCConversionService.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCPrivateSetMembershipRegistration.h"
#include "analytics/attribution/GWLAdReporters.h"
#include "analytics/attribution/GWLClassRegistry.h"
#include "analytics/attribution/GWLMeasurementConversionService.h"
#include "analytics/attribution/GWLMeasurementDeepLinks.h"
#include "analytics/attribution/GWLMeasurementOnDeviceMeasurement.h"
#include "analytics/attribution/GWLMeasurementSKAdNetwork.h"
#include "analytics/attribution/GWLPurchaseMeasurement.h"
#include "analytics/audiences/GWLAudience.h"
#include "analytics/foundation/config/GWLInstalledHook.h"
#include "analytics/measurement/CVNAnalyticsConnector.h"
#include "analytics/measurement/GWLMeasurement.h"
#include "analytics/measurement/GWLScreenViewReporter.h"
#include "platform/dispatch/Clock.h"
#include "platform/util/Mutex.h"

namespace {

struct LoadState {
  platform::Mutex mutex;
  std::optional<double> loadTimestamp ABSL_GUARDED_BY(mutex);
};

LoadState& loadState() {
  static auto* state = new LoadState();  // never destroyed: read until the process ends
  return *state;
}

// The engine's calls into the attribution and audience layers go through
// seams that do nothing until installed; the library installs its own
// implementations here, before any engine can be made. Each finds the engine
// through the registry when it needs it, so none needs the engine yet.
void installEngineHooks(const std::shared_ptr<platform::Clock>& clock) {
  GWLInstalledHook<GWLAudienceEvaluatorMaker>::install(std::make_shared<GWLAudience::Maker>());
  // Every layer keeps the library's time: the postback windows and the
  // search-ads day are measured from times the engine wrote on this clock.
  GWLMeasurementDeepLinks::Dependencies deepLinks;
  deepLinks.clock = clock;
  GWLInstalledHook<GWLDeepLinkHooks>::install(GWLMeasurementDeepLinks::create(std::move(deepLinks)));
  GWLMeasurementSKAdNetwork::Dependencies conversionValues;
  conversionValues.clock = clock;
  GWLInstalledHook<GWLSKAdNetworkHooks>::install(GWLMeasurementSKAdNetwork::create(std::move(conversionValues)));
  GWLInstalledHook<GWLPurchaseHooks>::install(std::make_shared<GWLPurchaseMeasurement>());
  GWLAdReporters::Dependencies adReporters;
  adReporters.searchAds.clock = clock;
  GWLInstalledHook<GWLAdReportingHooks>::install(std::make_shared<GWLAdReporters>(std::move(adReporters)));
  GWLMeasurementOnDeviceMeasurement::Dependencies onDevice;
  onDevice.clock = clock;
  // The PSM runs and, in front of them, the conversion service's hook-up.
  GWLMeasurementConversionService::Dependencies conversion;
  conversion.onDeviceMeasurement = GWLMeasurementOnDeviceMeasurement::create(onDevice);
  conversion.clock = clock;
  GWLInstalledHook<GWLOnDeviceMeasurementHooks>::install(GWLMeasurementConversionService::create(conversion));
  // The conversion layer's classes, which the on-device measurement finds by
  // name: the client classes and the conversion service (its load date is now).
  ODCRegisterPrivateSetMembershipClients();
  ODCRegisterConversionService(clock);
}

void uninstallEngineHooks() {
  GWLInstalledHook<GWLAudienceEvaluatorMaker>::resetForTesting();
  GWLInstalledHook<GWLDeepLinkHooks>::resetForTesting();
  GWLInstalledHook<GWLSKAdNetworkHooks>::resetForTesting();
  GWLInstalledHook<GWLPurchaseHooks>::resetForTesting();
  GWLInstalledHook<GWLAdReportingHooks>::resetForTesting();
  GWLInstalledHook<GWLOnDeviceMeasurementHooks>::resetForTesting();
  GWLClassRegistry<GWLPrivateSetMembershipClientClass>::registerClass(kGWLPSMClientFallbackClassName, nullptr);
  GWLClassRegistry<ODCPrivateSetMembershipGroupClientClass>::registerClass(kGWLPSMGroupClientClassName, nullptr);
  GWLClassRegistry<ODCConversionServiceClass>::registerClass(kODCConversionServiceClassName, nullptr);
  ODCConversionService::resetSharedInstanceForTesting();
}

}  // namespace

void GWLLibraryLoad(const std::shared_ptr<platform::Clock>& clock) {
  const double now = (clock ? clock : platform::Clock::system())->now();
  {
    auto& state = loadState();
    platform::MutexLock lock(state.mutex);
    if (state.loadTimestamp) return;
    state.loadTimestamp = now;
  }
  installEngineHooks(clock);
  GWLScreenViewReporter::installAppActiveProvider();
  GWLScreenViewReporter::installViewControllerHooks();
  GWLMeasurement::subscribeForAppDidFinishLaunchingNotifications();
  CVNAnalyticsConnector::load();
}

std::optional<double> GWLLibraryLoadTimestamp() {
  auto& state = loadState();
  platform::MutexLock lock(state.mutex);
  return state.loadTimestamp;
}

void GWLLibraryLoadResetForTesting() {
  auto& state = loadState();
  platform::MutexLock lock(state.mutex);
  state.loadTimestamp.reset();
  uninstallEngineHooks();
}
