// GWLMeasurementSKAdNetwork — the engine's ad-network conversion values.
//
// Within the postback windows after the first open (the first two days, and
// all windows for 35 days), the library asks the collection service which
// conversion value the app should report, given the events it has uploaded
// (POST "/skan" on the upload host, gzip accepted), checks the answer and hands
// it to the ad network's postback update; a value the platform took is logged
// as the internal event "_skan". A fetch is armed after each successful upload
// (a short delay), tried when the app becomes active, retried by a timer when
// the answer is missing or unusable, and started by a reachability change when
// it found the device offline.
//
//   idle --upload--> delay armed --fires--> fetching --200, status 1, checks pass--> updating
//   fetching --304, status 2, no or bad data, bad fine value--> idle (retry count 0)
//   fetching --failure, status other, missing or stale fields--> retry armed (count + 1)
//   retry armed --count above the limit--> gave up (a later upload or activation starts again)
//   updating --platform took it (or its error code 10)--> idle: evaluation time and back-off
//                                                         stored, "_skan" logged
//   updating --other platform error--> idle: logged (23249), stored values unchanged
//
// The evaluation time and back-off are stored only once the platform has
// taken the value: after a failed update the next fetch reports the previous
// evaluation time, so the service offers the value again.
//
// Nothing is fetched before system version 16.1, while the remote switch is
// off, 35 days after the first open (or before any), or without an app
// instance ID.
//
// The engine is reached through its calls (GWLMeasurementEngineCalls), asked
// for each time, so this object may be made before the engine; the engine in
// turn calls it through GWLSKAdNetworkHooks.
//
// Threads: every method runs on the engine's worker queue: both alarms fire
// on it, network answers are delivered on it and the platform's completion is
// posted back to it. The state (retry count, request in flight, waiting for
// connectivity, the alarms) is kept under a mutex so that it may also be read
// from other threads. Blocks and alarms hold this object weakly.
//
// Every log line (code, monitor level, message) stands in the table at the
// top of the implementation file.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/config/GWLSKAdNetworkHooks.h"
#include "platform/core/Error.h"
#include "platform/storekit/SKAdNetwork.h"
#include "platform/util/Mutex.h"

namespace platform {
class AppEnvironment;
class Clock;
class HVUNetwork;
struct HTTPURLResponse;
}  // namespace platform
class GWLAlarm;
class GWLScheduler;
class GWLMonitor;
class GWLPBSkAdNetworkConversionValueResponse;

inline constexpr const char* kGWLSKANPath = "/skan";
inline constexpr const char* kGWLSKANRetryAlarmName = "SKAN conversion value fetch timer";
inline constexpr const char* kGWLSKANDelayAlarmName = "SKAN conversion value delay fetch";
// The system version from which version 4 postbacks (and these updates) exist.
inline constexpr const char* kGWLSKANMinimumSystemVersion = "16.1";
inline constexpr const char* kGWLSKANVersion4 = "4.0";
inline constexpr const char* kGWLSKANVersion3 = "3.0";
// The platform error that still counts as a taken value.
inline constexpr int64_t kGWLSKANErrorCodeCountedAsTaken = 10;
// Postback windows after the first open, in milliseconds.
inline constexpr int64_t kGWLSKANFirstWindowMillis = 172'800'000;   // 2 days
inline constexpr int64_t kGWLSKANAllWindowsMillis = 3'024'000'000;  // 35 days

// The logged event and its parameters.
inline constexpr const char* kGWLSKANEventName = "_skan";
inline constexpr const char* kGWLSKANEventOrigin = "auto";
inline constexpr const char* kGWLSKANMessageParameter = "_skanm";
inline constexpr const char* kGWLSKANFineValueParameter = "_skanf";
inline constexpr const char* kGWLSKANCoarseValueParameter = "_skanc";
inline constexpr const char* kGWLSKANLockWindowParameter = "_skanl";
inline constexpr const char* kGWLSKANEventTimeParameter = "_skane";

// Answer statuses of the service.
inline constexpr int32_t kGWLSKANResultStatusUpdate = 1;
inline constexpr int32_t kGWLSKANResultStatusStop = 2;

class GWLMeasurementSKAdNetwork : public GWLSKAdNetworkHooks,
                                  public std::enable_shared_from_this<GWLMeasurementSKAdNetwork> {
 public:
  using EngineLookup = std::function<std::shared_ptr<GWLMeasurementEngine>()>;

  struct Dependencies {
    // Answers the engine (null while there is none); the registry's shared
    // engine when empty.
    EngineLookup engine;
    // The ad network's postback update; the platform's stand-in when null.
    std::shared_ptr<platform::SKAdNetworkPostbackUpdating> adNetwork;
    // Now, and the alarms' clock; the system clock when null.
    std::shared_ptr<platform::Clock> clock;
    // Receives the log lines; the library's monitor when null.
    std::shared_ptr<GWLMonitor> monitor;
    // The system version is read from it; the shared app environment when null.
    std::shared_ptr<const platform::AppEnvironment> environment;
  };

  static std::shared_ptr<GWLMeasurementSKAdNetwork> create(Dependencies dependencies = {});
  ~GWLMeasurementSKAdNetwork() override;

  // ---- facts ----
  // "4.0" from system version 16.1, else "3.0".
  std::string SKANVersion() const;
  bool isInFirstSKANPostbackWindow() override;
  bool isPastAllSKANPostbackWindows() const;
  static bool isValidFineConversionValue(int64_t value);
  // 3 high, 2 medium, anything else low.
  static platform::SKAdNetworkCoarseConversionValue convertCoarseConversionValueFromProtoValue(int32_t value);
  // 1 while a back-off runs; else the first window's limit or the usual one.
  int32_t SKANFetchRetryLimit() const;
  bool shouldFetchSKANConversionValue() const;

  // ---- the engine's calls (GWLSKAdNetworkHooks) ----
  void scheduleSKANCVFetchAfterDataUpload() override;
  void fetchSKANCV() override;
  void maybeFetchSKANCVAfterReachabilityChange() override;
  void resetSKANRetryCount() override;

  // ---- the steps ----
  void handleSKANFetchResponse(const std::shared_ptr<const platform::HTTPURLResponse>& response,
                               std::vector<uint8_t> data, const std::optional<platform::Error>& error);
  void updateSKANPostbackConversionValueFromResponse(
      const std::shared_ptr<GWLPBSkAdNetworkConversionValueResponse>& response);
  void handleSKANUpdatePostbackCompletion(const std::shared_ptr<GWLPBSkAdNetworkConversionValueResponse>& response,
                                          const std::optional<platform::Error>& error);
  void maybeScheduleSKANCVFetchRetry();
  void stopProcessingSKANResponseAndResetRetryCount();

  // ---- state ----
  int32_t SKANRetryCount() const;
  bool isSKANRequestInProgress() const;
  bool fetchSKANWhenNetworkConnected() const;
  // Null until first used.
  std::shared_ptr<GWLAlarm> SKANRetryAlarm() const;
  std::shared_ptr<GWLAlarm> SKANDelayAlarm() const;

 private:
  explicit GWLMeasurementSKAdNetwork(Dependencies dependencies);
  std::shared_ptr<GWLMeasurementEngine> engine() const;
  std::shared_ptr<GWLMonitor> monitor() const;
  std::shared_ptr<GWLRemoteConfig> remoteConfig(const std::shared_ptr<GWLMeasurementEngine>& engine) const;
  bool isSystemVersionSupported() const;
  int64_t nowMillis() const;
  int64_t firstOpenMillis() const;
  bool inFirstWindow() const;
  // Arms the retry or the delay alarm to fetch after `delay` seconds.
  void armAlarm(bool retry, double delay);
  // Steps 4 to 6 of a fetch: marks it in flight and posts the request.
  void postFetch(const std::shared_ptr<GWLMeasurementEngine>& engine,
                 const std::shared_ptr<platform::HVUNetwork>& network, const std::shared_ptr<GWLScheduler>& scheduler,
                 const GWLServiceEndpoint& host);

  const Dependencies dependencies_;

  mutable platform::Mutex mutex_;
  int32_t retryCount_ ABSL_GUARDED_BY(mutex_) = 0;
  bool requestInProgress_ ABSL_GUARDED_BY(mutex_) = false;
  bool fetchWhenNetworkConnected_ ABSL_GUARDED_BY(mutex_) = false;
  std::shared_ptr<GWLAlarm> retryAlarm_ ABSL_GUARDED_BY(mutex_);
  std::shared_ptr<GWLAlarm> delayAlarm_ ABSL_GUARDED_BY(mutex_);
};
