// The configuration fetch: a conditional GET of the measurement
// configuration, its answer, and the one transaction that stores and applies
// a new configuration with its audiences.
#include <cmath>
#include <cstdlib>

#include "analytics/audiences/interpreter/GWLPRuntime.h"
#include "analytics/foundation/config/GWLAudienceEvaluating.h"
#include "analytics/foundation/config/GWLDeepLinkHooks.h"
#include "analytics/foundation/config/GWLInstalledHook.h"
#include "analytics/foundation/config/GWLOnDeviceMeasurementHooks.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/config/GWLServerStrings.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/measurement/GWLIdentity.h"
#include "analytics/measurement/GWLMeasurement.h"
#include "analytics/measurement/GWLTCFClient.h"
#include "analytics/wire/GWLPBAudience.h"
#include "analytics/wire/GWLPBMeasurementConfig.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/HTTPURLResponse.h"

namespace {

constexpr const char* kConfigPlatform = "ios";
constexpr const char* kIfModifiedSinceHeader = "If-Modified-Since";
constexpr const char* kIfNoneMatchHeader = "If-None-Match";
constexpr const char* kLastModifiedHeader = "Last-Modified";
constexpr const char* kETagHeader = "ETag";

constexpr GWLAnalyticsReport kNoConfigURLReport{kGWLLevelErrorSilent, 23125, "Invalid server URL to get configuration"};
constexpr GWLAnalyticsReport kFetchingReport{kGWLLevelVerbose, 23126, "Fetching configuration from the server"};
constexpr GWLAnalyticsReport kFetchedReport{kGWLLevelVerbose, 23127, "Fetched configuration. Status code"};
constexpr GWLAnalyticsReport kFetchFailedReport{kGWLLevelWarning, 23128,
                                                "Network request failed to fetch remote config. Code, Error"};
constexpr GWLAnalyticsReport kFetchRetryReport{kGWLLevelWarning, 23129,
                                               "Network fetch failed. Will retry later. Code, error"};
constexpr GWLAnalyticsReport kNotFoundReport{kGWLLevelWarning, 23130,
                                             "Configuration not found. Using default configuration"};
constexpr GWLAnalyticsReport kNotModifiedReport{
    kGWLLevelVerbose, 23131, "Configuration has not been modified. Using the same configuration. Code"};
constexpr GWLAnalyticsReport kUnchangedStampFailedReport{kGWLLevelErrorSampled, 23132,
                                                         "Failed to update config last set timestamp. Error"};
constexpr GWLAnalyticsReport kFetchSucceededReport{
    kGWLLevelVerbose, 23133, "Successfully fetched configuration from the server. Code, size"};
constexpr GWLAnalyticsReport kStampFailedReport{kGWLLevelErrorSampled, 23134,
                                                "Failed to set last set timestamp in database. Error"};
constexpr GWLAnalyticsReport kInvalidConfigReport{kGWLLevelErrorSilent, 23135, "Configuration data is invalid."};
constexpr GWLAnalyticsReport kForeignConfigReport{kGWLLevelErrorSilent, 23136,
                                                  "Configuration does not have valid Halcyra App ID."};
constexpr GWLAnalyticsReport kAudiencesFailedReport{kGWLLevelErrorSilent, 23137,
                                                    "Failed to update audiences with new server configuration"};
constexpr GWLAnalyticsReport kStoreConfigFailedReport{kGWLLevelErrorSilent, 23138,
                                                      "Failed to update configuration with new server configuration"};

// The validators are server strings that go back out as header values: a
// last-modified text must be a clean header value, an entity tag a
// well-formed one. Anything else is not used.
std::optional<std::string> checkedLastModified(const std::optional<std::string>& text) {
  if (!text || text->empty() || !GWLIsValidHTTPHeaderValue(*text)) return std::nullopt;
  return text;
}
std::optional<std::string> checkedEntityTag(const std::optional<std::string>& tag) {
  if (!tag || tag->empty() || !GWLIsValidEntityTag(*tag)) return std::nullopt;
  return tag;
}

int64_t contentLength(const platform::HTTPURLResponse& response, size_t bodySize) {
  if (auto length = response.valueForHTTPHeaderField("Content-Length"); length && !length->empty()) {
    char* end = nullptr;
    const long long parsed = std::strtoll(length->c_str(), &end, 10);
    if (end && *end == '\0') return parsed;
  }
  return static_cast<int64_t>(bodySize);
}

}  // namespace

void GWLMeasurement::fetchRemoteConfig() {
  auto config = engineRemoteConfig();
  if (!config || !network_) return;
  std::optional<std::string> url = config->remoteConfigURLWithPlatform(
      std::string(kConfigPlatform), GWLIdentity::gaugewellLibraryVersion(), GWLPRuntime::runtimeVersion());
  if (!url) {
    report(kNoConfigURLReport);
    return;
  }
  if (isNetworkRequestPending()) {
    // One request of the engine at a time: the pending one's completion reschedules.
    report(kGWLMeasurementNetworkPendingReport);
    return;
  }
  report(kFetchingReport);

  Headers headers;
  if (persistedConfig_->configQRXVersion() == GWLIdentity::gaugewellLibraryVersion()) {
    if (auto lastModified = checkedLastModified(persistedConfig_->configServerLastModifiedString())) {
      headers[kIfModifiedSinceHeader] = *lastModified;
    }
    if (auto tag = checkedEntityTag(persistedConfig_->configServerETag())) headers[kIfNoneMatchHeader] = *tag;
  }

  setIsNetworkRequestPending(true);
  const uint64_t request = ++requestGeneration_;
  network_->setTimeoutInterval(config->networkTimeout());
  std::weak_ptr<GWLMeasurement> weak = weakSelf_;
  const std::string requestID = network_->getURL(
      *url, headers, scheduler_->workerQueue(), shouldUseBackgroundSession(),
      [weak, request](std::shared_ptr<const platform::HTTPURLResponse> response, std::vector<uint8_t> body,
                      std::optional<platform::Error> error) {
        auto self = weak.lock();
        if (!self || self->requestGeneration_ != request) return;
        self->setIsNetworkRequestPending(false);
        self->networkRemoteConfigFetchCompletionHandler(response, body, error);
      });
  if (requestID.empty()) {
    // No request was made: the attempt fails now, and its completion is ignored.
    ++requestGeneration_;
    setIsNetworkRequestPending(false);
    recordRequestFailure(0);
    updateSchedule();
  }
}

void GWLMeasurement::networkRemoteConfigFetchCompletionHandler(
    const std::shared_ptr<const platform::HTTPURLResponse>& response, std::span<const uint8_t> data,
    const std::optional<platform::Error>& error) {
  const int status = response ? response->statusCode : 0;
  report(kFetchedReport, static_cast<int64_t>(status));
  const bool answered = response && (status == platform::kHVUNetworkHTTPStatusOK ||
                                     status == platform::kHVUNetworkHTTPStatusNoContent ||
                                     status == platform::kHVUNetworkHTTPStatusCodeNotModified ||
                                     status == platform::kHVUNetworkHTTPStatusCodeNotFound);
  if (!answered) {
    report(kFetchFailedReport, static_cast<int64_t>(status), error ? GWLLogContext(*error) : GWLLogContext());
    recordRequestFailure(status);
    report(kFetchRetryReport, static_cast<int64_t>(status), error ? GWLLogContext(*error) : GWLLogContext());
    updateSchedule();
    return;
  }

  persistedConfig_->setLastFailedUploadTimestamp(0);
  persistedConfig_->setLastBackoffTimestamp(0);
  auto db = database();
  auto config = engineRemoteConfig();
  if (!db || !config) return;

  // Records now as the configuration's fetch time; a failed write suspends uploads.
  const auto stampFetchTime = [&](const GWLAnalyticsReport& failure) {
    platform::Error stampError;
    if (db->updateRemoteConfigSuccessfulTimestamp(now(), &stampError)) {
      setSuspendedUploadTimestamp(0);
    } else {
      report(failure, stampError);
      setSuspendedUploadTimestamp(clock_->uptime());
    }
  };
  if (status == platform::kHVUNetworkHTTPStatusCodeNotFound ||
      status == platform::kHVUNetworkHTTPStatusCodeNotModified) {
    if (status == platform::kHVUNetworkHTTPStatusCodeNotFound) {
      report(kNotFoundReport);
    } else {
      report(kNotModifiedReport, static_cast<int64_t>(status));
    }
    stampFetchTime(kUnchangedStampFailedReport);
  } else {
    report(kFetchSucceededReport, static_cast<int64_t>(status), contentLength(*response, data.size()));
    stampFetchTime(kStampFailedReport);
    if (!data.empty() && applyFetchedConfigInTransaction(data)) {
      persistedConfig_->setConfigServerLastModifiedString(
          checkedLastModified(response->valueForHTTPHeaderField(kLastModifiedHeader)));
      persistedConfig_->setConfigServerETag(checkedEntityTag(response->valueForHTTPHeaderField(kETagHeader)));
      persistedConfig_->setConfigQRXVersion(GWLIdentity::gaugewellLibraryVersion());
    }
  }

  // Answered: the attribution steps that wait for a configuration, then uploads.
  auto onDevice = GWLInstalledHook<GWLOnDeviceMeasurementHooks>::get();
  onDevice->updateAdsOnDeviceConversionMeasurement();
  if (config->PSMGroupIDEnabled()) onDevice->initiateODMGroupIDProtocol();
  if (shouldRequestDeferredDeepLinkAfterConfigFetch_) {
    shouldRequestDeferredDeepLinkAfterConfigFetch_ = false;
    GWLInstalledHook<GWLDeepLinkHooks>::get()->requestDeferredDeepLink();
  } else {
    uploadDataOrRegisterAlarm();
  }
  if (auto tcf = tcfClient()) tcf->setIsDMARegion(config->isDMARegion());
}

bool GWLMeasurement::applyFetchedConfigInTransaction(std::span<const uint8_t> body) {
  auto db = database();
  auto config = engineRemoteConfig();
  if (!db || !config) return false;
  // The configuration in force before: put back when the transaction does not commit.
  auto before = config->snapshot();
  const bool committed = db->performTransaction([&] { return applyFetchedConfig(body); });
  if (!committed && config->snapshot() != before) {
    config->restoreSnapshot(before);
    updateConsentSettingsUtilWithRemoteConfig();
  }
  return committed;
}

bool GWLMeasurement::applyFetchedConfig(std::span<const uint8_t> body) {
  auto config = engineRemoteConfig();
  auto id = identity();
  if (!config || !id) return false;
  // A body that does not decode is refused like one that does not encode back.
  auto message = GWLPBMeasurementConfig::initWithBuffer(body);
  std::optional<std::vector<uint8_t>> encoded = message ? message->protoBuffer() : std::nullopt;
  if (!message || !encoded) {
    report(kInvalidConfigReport);
    return false;
  }
  const std::optional<std::string> expectedAppID = id->appIDFromQRX();
  if (!expectedAppID || message->appId() != expectedAppID) {
    report(kForeignConfigReport);
    return false;
  }
  const std::vector<std::shared_ptr<GWLPBAudience>> audiences = message->audiences();
  message->clearAudiences();
  // The body is binary: its size goes into the log, not its bytes.
  const auto bodySize = static_cast<int64_t>(body.size());
  if (!config->updateMeasurementConfig(message)) {
    report(kStoreConfigFailedReport, bodySize);
    return false;
  }
  updateConsentSettingsUtilWithRemoteConfig();
  auto evaluator = audience();
  if (evaluator && !evaluator->updateAudiences(audiences)) {
    report(kAudiencesFailedReport, bodySize);
    return false;
  }
  return true;
}
