// ODCConfigFetcher — the first task of a matching run: GET /odm/config, and
// from its answer the run's private-membership client and request.
//
// The answer is a JSON object {"matching_id": string, "bucketed_date": string,
// "prefix_length": number, "extension_data": optional string}, or an empty
// body (204, or 200 without a body), which ends the whole run at once with no
// error and both answers cleared. From a usable answer the task makes the
// OnDeviceMeasurementV2Client (use case 35), hands it to the context with the
// request in web-safe base64 and the extension data, and stores the
// candidates body {"psm_request": …, "odmed": extension data or ""}.
//
// Errors of an attempt (each retried as the base class says): the network's,
// 4000 for a status other than 200 or 204, the JSON reader's (2000, 2001, the
// parser's), 5002, 5003, 5004 for a missing or mistyped matching ID, bucketed
// date or prefix length (a number is truncated toward zero; one outside the
// int32 range counts as no number), 5000 and 5001 when the client or its
// request cannot be made, 5010 for an empty request, 5008 for a body that
// cannot be written. Extension data that is not a string is logged (5009) and
// sent as "".
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "ads/conversion_tracking/app_conversion/odm/ODCAsyncTask.h"

inline constexpr const char* kODCConfigPath = "/odm/config";
inline constexpr const char* kODCConfigMatchingIDKey = "matching_id";
inline constexpr const char* kODCConfigBucketedDateKey = "bucketed_date";
inline constexpr const char* kODCConfigPrefixLengthKey = "prefix_length";
inline constexpr const char* kODCConfigExtensionDataKey = "extension_data";
inline constexpr int32_t kODCPSMUseCaseOnDeviceMeasurement = 35;

class ODCConfigFetcher : public ODCAsyncTask {
 public:
  explicit ODCConfigFetcher(std::shared_ptr<ODCContext> context);

  // The configuration URL: the common query, then "&device_model=…" (a comma
  // escaped too), "&os_version=…", "&user_default_language=…" (empty when the
  // device names none) and "&time_zone_offset_minutes=N", values
  // percent-encoded for a query value.
  std::string configRequestURL() const;
  void executeTask() override;
  void handlePSMConfigResponse(const platform::HTTPURLResponse* response, std::span<const uint8_t> data,
                               std::optional<platform::Error> error);
  // Clears both answers in the context and ends the chain without an error.
  void finishWithoutConversionInfoAndMeasurementInfo();
  // Reads the answer (parsePSMConfigData) and prepares the candidates request
  // in the context; false with the attempt's error.
  [[nodiscard]] bool createPSMRequestWithData(std::span<const uint8_t> data, platform::Error* error);
  // Reads and keeps the answer's values; false with the error, keeping none
  // of the three required ones unless all three are usable.
  [[nodiscard]] bool parsePSMConfigData(std::span<const uint8_t> data, platform::Error* error);

 private:
  std::string matchingID_;
  std::string bucketizedDate_;
  int32_t prefixLength_ = 0;
  std::optional<std::string> extensionData_;
};
