// ODCContext — the state one matching run of the on-device conversion layer
// shares between its three tasks (configuration, candidates, validation), and
// the collaborators they use: the network client, the serial queue on which
// every answer and retry runs, the clock that times the retries, the store,
// the endpoint and the device facts.
//
// The collaborators, the SDK version, the bundle ID and the app version are
// fixed at creation. The PSM client and the six per-run fields (extension
// data, PSM request, the two request payloads, the two answers) are set by the
// tasks and cleared by the service after each run; the context owns the PSM
// client and destroys it when it is replaced or cleared, or with the context.
//
// Touched only on the serial queue; nothing is locked.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ads/conversion_tracking/app_conversion/odm/ODCConversionStoreReader.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCEnvironmentInfo.h"
#include "ads/conversion_tracking/app_conversion/odm/on_device_measurement_v2_client.h"
#include "analytics/foundation/config/GWLServiceHosts.h"

namespace platform {
class AppEnvironment;
class Clock;
class HVUNetwork;
class Queue;
}  // namespace platform

inline constexpr const char* kODCSDKVersion = "3.2.0";

class ODCContext {
 public:
  struct Collaborators {
    std::shared_ptr<platform::HVUNetwork> network;  // required
    std::shared_ptr<platform::Queue> serialQueue;   // required: a serial queue
    std::shared_ptr<platform::Clock> clock;         // required: times the retries
    std::shared_ptr<ODCConversionStoreReader> conversionStore;  // null: a store that holds nothing
    GWLServiceEndpoint endpoint = GWLServiceHosts::forProcess().onDeviceMeasurement;
    std::shared_ptr<ODCEnvironmentInfo> environmentInfo;  // null: ODCEnvironmentInfo::sharedInstance()
  };

  // The bundle ID and app version ("CFBundleShortVersionString", else empty)
  // come from `app`. Runs start with source vexa.
  ODCContext(Collaborators collaborators, const platform::AppEnvironment& app);
  ~ODCContext();
  ODCContext(const ODCContext&) = delete;
  ODCContext& operator=(const ODCContext&) = delete;

  using V2Client = ads::conversion_tracking::app_conversion::odm::OnDeviceMeasurementV2Client;
  // The client of the current run (still owned by the context), or null.
  V2Client* PSMClient() const { return PSMClient_.get(); }
  // Takes `client` (null clears) and destroys the one held before.
  void setPSMClient(std::unique_ptr<V2Client> client) { PSMClient_ = std::move(client); }

  // YES: the queries say source=vexa; NO: source=aaps.
  bool isSourceVEXA() const { return isSourceVEXA_; }
  void setIsSourceVEXA(bool isSourceVEXA) { isSourceVEXA_ = isSourceVEXA; }

  const std::shared_ptr<platform::HVUNetwork>& network() const { return collaborators_.network; }
  const std::shared_ptr<platform::Queue>& serialQueue() const { return collaborators_.serialQueue; }
  const std::shared_ptr<platform::Clock>& clock() const { return collaborators_.clock; }
  ODCConversionStoreReader* conversionStore() const { return collaborators_.conversionStore.get(); }
  const GWLServiceEndpoint& endpoint() const { return collaborators_.endpoint; }
  const ODCEnvironmentInfo& environmentInfo() const { return *collaborators_.environmentInfo; }
  const std::string& SDKVersion() const { return SDKVersion_; }
  const std::string& bundleID() const { return bundleID_; }
  const std::string& appVersion() const { return appVersion_; }

  const std::optional<std::string>& extensionData() const { return extensionData_; }
  void setExtensionData(std::optional<std::string> value) { extensionData_ = std::move(value); }
  // Web-safe base64 (no padding) of the encoded blinders request.
  const std::optional<std::string>& PSMRequest() const { return PSMRequest_; }
  void setPSMRequest(std::optional<std::string> value) { PSMRequest_ = std::move(value); }
  const std::optional<std::vector<uint8_t>>& candidateRequestPayload() const { return candidateRequestPayload_; }
  void setCandidateRequestPayload(std::optional<std::vector<uint8_t>> value) {
    candidateRequestPayload_ = std::move(value);
  }
  const std::optional<std::vector<uint8_t>>& matchRequestPayload() const { return matchRequestPayload_; }
  void setMatchRequestPayload(std::optional<std::vector<uint8_t>> value) { matchRequestPayload_ = std::move(value); }
  // The validation answer's "mv_aaps".
  const std::optional<std::string>& aggregateConversionInfo() const { return aggregateConversionInfo_; }
  void setAggregateConversionInfo(std::optional<std::string> value) { aggregateConversionInfo_ = std::move(value); }
  // The validation answer's "mv_vexa".
  const std::optional<std::string>& measurementInfo() const { return measurementInfo_; }
  void setMeasurementInfo(std::optional<std::string> value) { measurementInfo_ = std::move(value); }

 private:
  std::unique_ptr<V2Client> PSMClient_;
  bool isSourceVEXA_ = true;
  Collaborators collaborators_;
  const std::string SDKVersion_ = kODCSDKVersion;
  const std::string bundleID_;
  const std::string appVersion_;
  std::optional<std::string> extensionData_;
  std::optional<std::string> PSMRequest_;
  std::optional<std::vector<uint8_t>> candidateRequestPayload_;
  std::optional<std::vector<uint8_t>> matchRequestPayload_;
  std::optional<std::string> aggregateConversionInfo_;
  std::optional<std::string> measurementInfo_;
};
