// GWLMeasurementConversionService — the engine's hook-up of the on-device
// conversion service: its second on-device conversion value, besides the PSM
// runs.
//
// The engine finds the service by class name ("ODCConversionService" in
// GWLClassRegistry<ODCConversionServiceClass>); an app without the conversion
// layer has no such class and the feature stays off. After every answered
// configuration fetch, when the feature is on (Info key, linkage, the remote
// switch "measurement.odm2_enabled", ad-storage consent), the engine hands the
// service its first open and asks for the measurement info of the
// installation; the answer is handled on the worker queue (block
// "GWLMeasurement:200"):
//
//   error               --> 23269, the stored value stays
//   nothing / empty     --> "_psmvalue_vrts" and the row "odm2_value" removed, 23281
//   the stored value    --> 23282, nothing changes
//   a new value         --> row "odm2_value", property "_psmvalue_vrts" and one "_fx" event ("_fxs" = "psm_vrts")
//
// The feature switched off removes the stored value at the next fetch. The
// service's version tells the generation linked (at most 10000: alpha; above:
// current) for the linkage flags of every written event.
//
// This object is the engine's whole on-device measurement seam: the calls of
// the PSM runs go on unchanged to the object given as `onDeviceMeasurement`.
//
// Threads: every method runs on the engine's worker queue, except the
// service's completion (any queue; it only schedules the handling, holding
// the engine and its scheduler weakly) and the integration-error report, which
// runs on the main queue. The kept service is guarded by a mutex.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "analytics/attribution/GWLAttributionLog.h"
#include "analytics/attribution/ODCConversionServiceProtocol.h"
#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/config/GWLOnDeviceMeasurementHooks.h"
#include "platform/core/Error.h"
#include "platform/util/Mutex.h"

namespace platform {
class AppEnvironment;
class Clock;
class Queue;
}  // namespace platform
class GWLMonitor;

inline constexpr const char* kGWLODM2EnabledInfoKey = "HALCYRA_ADS_ON_DEVICE_CONVERSION_EVENT_DATA_ENABLED";
inline constexpr const char* kGWLODM2ValueRowName = "odm2_value";
inline constexpr const char* kGWLODM2ValueProperty = "_psmvalue_vrts";
inline constexpr const char* kGWLODM2MatchSource = "psm_vrts";
inline constexpr const char* kGWLODM2ValueBlockID = "GWLMeasurement:200";
// Versions up to this one are the service's alpha generation.
inline constexpr int64_t kGWLODM2AlphaMaxVersion = 10000;

inline constexpr const char* kGWLODM2DeprecatedExceptionName = "MeasurementDeprecatedOnDeviceConversionException";
inline constexpr const char* kGWLODM2DeprecatedExceptionReason =
    "HalcyraGaugewellOnDeviceConversion (deprecated) framework and HalcyraAdsOnDeviceConversion framework are both "
    "linked into the app. Remove the HalcyraGaugewellOnDeviceConversion (deprecated) framework, which is no longer "
    "recommended for new development.";

inline constexpr GWLAttributionLogLine kGWLODM2DisabledInPlistLine{23295, 4,
                                                                  "Conversion service disabled from Info.plist."};
inline constexpr GWLAttributionLogLine kGWLODM2RemoteConfigDisabledLine{
    23275, 7, "Conversion service disabled. Remote config disabled. Check ads account linked to Halcyra Analytics."};
inline constexpr GWLAttributionLogLine kGWLODM2AdStorageDeniedLine{
    23276, 7, "Conversion service disabled. Ad storage consent is denied."};
inline constexpr GWLAttributionLogLine kGWLODM2EnabledLine{23277, 7, "Conversion service enabled"};
inline constexpr GWLAttributionLogLine kGWLODM2LinkedLine{
    23278, 7, "Conversion service HalcyraAdsOnDeviceConversion framework is linked"};
inline constexpr GWLAttributionLogLine kGWLODM2NotLinkedLine{
    23279, 7, "Conversion service disabled. HalcyraAdsOnDeviceConversion framework is not linked."};
inline constexpr GWLAttributionLogLine kGWLODM2DeprecatedLinkedLine{
    23292, 4,
    "HalcyraGaugewellOnDeviceConversion (deprecated) framework is linked. Use the HalcyraAdsOnDeviceConversion "
    "framework instead."};
// The integration error (both generations linked), reported on the main queue
// with the exception as its context.
inline constexpr GWLAttributionLogLine kGWLODM2IntegrationErrorLine{23292, 1,
                                                                   kGWLODM2DeprecatedExceptionName};
inline constexpr GWLAttributionLogLine kGWLODM2NoFetchLine{23280, 7, "Conversion service will not attempt a fetch"};
inline constexpr GWLAttributionLogLine kGWLODM2NoServiceLine{23268, 1,
                                                             "Failed to get the compatible conversion service."};
inline constexpr GWLAttributionLogLine kGWLODM2FetchFailedLine{
    23269, 1, "Conversion service failed to fetch measurement info."};
inline constexpr GWLAttributionLogLine kGWLODM2EmptyValueLine{23281, 7, "Conversion service returned empty value"};
inline constexpr GWLAttributionLogLine kGWLODM2SameValueLine{23282, 7, "Conversion service returned the same value"};
inline constexpr GWLAttributionLogLine kGWLODM2UpdateFailedLine{23290, 1, "Failed to update ODM2 value. Error"};

class GWLMeasurementConversionService : public GWLOnDeviceMeasurementHooks,
                                        public std::enable_shared_from_this<GWLMeasurementConversionService> {
 public:
  struct Dependencies {
    // The PSM runs' side of the seam; the do-nothing defaults when null.
    std::shared_ptr<GWLOnDeviceMeasurementHooks> onDeviceMeasurement;
    // The engine, asked for at each use; GWLMeasurementRegistry::sharedInstance when empty.
    std::function<std::shared_ptr<GWLMeasurementEngine>()> engine;
    std::shared_ptr<GWLMonitor> monitor;     // the library's monitor when null
    std::shared_ptr<platform::Clock> clock;  // the system clock when null
    // The app's Info dictionary; the shared app environment (at each use) when null.
    std::shared_ptr<platform::AppEnvironment> environment;
    // Where the integration error is reported; the main queue when null.
    std::shared_ptr<platform::Queue> mainQueue;
  };

  static std::shared_ptr<GWLMeasurementConversionService> create(Dependencies dependencies = {});

  // ---- the engine's calls ----
  void checkODM2DependencyOnWorkerQueue() override;
  void updateAdsOnDeviceConversionMeasurement() override;
  bool isAlphaAppAdsOnDeviceConversionLinked() override;
  bool isHalcyraAdsOnDeviceConversionLinked() override;

  // ---- the rest of the category ----
  static std::shared_ptr<const ODCConversionServiceClass> conversionServiceClass();
  static bool isAdsOnDeviceConversionLinked();
  // The Info switch, linkage, the remote switch and consent, in that order.
  bool isAdsOnDeviceConversionEnabled();
  // The class's shared instance when it conforms to the protocol; null otherwise.
  static std::shared_ptr<ODCConversionServiceProtocol> conversionServiceFromReflection();
  // A number is read as a bool; absent or anything else is YES.
  bool isODM2EnabledInPlist();
  // The first open, seconds since 1970; none while the setting is 0.
  std::optional<double> firstLaunchDate();
  void handleAdsOnDeviceConversionValue(const std::optional<std::string>& value,
                                        const std::optional<platform::Error>& error);

  // The PSM runs' side of the seam.
  const std::shared_ptr<GWLOnDeviceMeasurementHooks>& onDeviceMeasurement() const {
    return dependencies_.onDeviceMeasurement;
  }
  // The first usable service found, kept for the rest of the process.
  std::shared_ptr<ODCConversionServiceProtocol> conversionService() const;

  // ---- the PSM runs' calls, passed on ----
  void checkPSMDependencyOnWorkerQueue() override;
  void maybeDeleteExpiredPSMValueOnWorkerQueue() override;
  void initiateODMGroupIDProtocol() override;
  void resetContexts() override;
  void initiateODMSessionStartProtocolWithTimestamp(double timestamp) override;
  std::shared_ptr<GWLPBOnDeviceMeasurementValue> onDeviceMeasurementValueFromRow(
      const platform::Dictionary& row) override;
  void initiateODM1ProtocolWithUserData(const platform::Dictionary& userData) override;
  bool isPSMRequestPostponed() override;
  void setIsPSMRequestPostponed(bool postponed) override;
  void retrievePSMResponse() override;
  bool isGWLPrivateSetMembershipClientLinked() override;

 private:
  explicit GWLMeasurementConversionService(Dependencies dependencies);
  std::shared_ptr<GWLMeasurementEngine> engine() const;
  std::shared_ptr<GWLMonitor> monitor() const;
  double now() const;
  // The looked-up service's version; 0 without a conforming instance.
  static int64_t serviceVersion();
  void reportIntegrationError();

  const Dependencies dependencies_;
  mutable platform::Mutex mutex_;
  std::shared_ptr<ODCConversionServiceProtocol> conversionService_ ABSL_GUARDED_BY(mutex_);
};
