// The on-device conversion layer's error objects and their codes.
//
// Every error object the layer makes comes from ODCMakeError, which also
// writes it to the log at error level under its code; errors handed on from
// the network or the JSON parser keep their own domain and are not logged
// again. The codes below are the protocol client's (2000s) and the task
// chain's (4000 to 7002); the log-only code 9001 belongs to
// ODCEnvironmentInfo. Debug and warning codes of the chain are here too, next
// to their texts, although they never become error objects.
#pragma once

#include <cstdint>
#include <string>

#include "platform/core/Error.h"

inline constexpr const char* kODCErrorDomain = "com.halcyra.ads.OnDeviceConversion.ErrorDomain";

enum ODCErrorCode : int64_t {
  // JSON helpers.
  ODCErrorCodeDataNil = 2000,
  ODCErrorCodeJSONRootNotDictionary = 2001,
  // Any step of the chain.
  ODCErrorCodeHTTPStatusNotOK = 4000,
  // Configuration step.
  ODCErrorCodeCreatePSMClientFailed = 5000,
  ODCErrorCodeCreatePSMRequestFailed = 5001,
  ODCErrorCodeMatchingIDNotString = 5002,
  ODCErrorCodeBucketedDateNotString = 5003,
  ODCErrorCodePrefixLengthNotNumber = 5004,
  ODCErrorCodeFetchingConfig = 5005,       // debug
  ODCErrorCodeEmptyConfig = 5006,          // debug
  ODCErrorCodePSMRequestNotString = 5007,
  ODCErrorCodeCandidatePayloadFailed = 5008,
  ODCErrorCodeExtensionDataNotString = 5009,  // warning
  ODCErrorCodeEmptyPSMRequest = 5010,
  // Candidates step.
  ODCErrorCodeDeserializePSMResponseFailed = 6000,
  ODCErrorCodeProcessPSMResponseFailed = 6001,
  ODCErrorCodePSMResponseNotString = 6002,
  ODCErrorCodeUnescapePSMResponseFailed = 6003,
  ODCErrorCodeFetchingCandidates = 6004,  // debug
  ODCErrorCodeConvertToMVsFailed = 6005,
  ODCErrorCodeValidationPayloadFailed = 6006,
  ODCErrorCodeEmptyMVs = 6007,
  // Validation step.
  ODCErrorCodeMeasurementInfoNotString = 7000,
  ODCErrorCodeAggregateConversionInfoNotString = 7001,
  ODCErrorCodeValidatingMatches = 7002,  // debug
  // ODCEnvironmentInfo, log only.
  ODCErrorCodeNoPreferredLanguage = 9001,
};

inline constexpr const char* kODCMessageDataNil = "Data is nil.";
inline constexpr const char* kODCMessageJSONRootNotDictionary = "JSON root is not a dictionary.";
inline constexpr const char* kODCMessageHTTPStatusNotOK = "HTTP status code is not OK or NO_CONTENT.";
inline constexpr const char* kODCMessageCreatePSMClientFailed = "Failed to create PSM client.";
inline constexpr const char* kODCMessageCreatePSMRequestFailed = "Failed to create PSM request.";
inline constexpr const char* kODCMessageMatchingIDNotString = "Matching ID is not a string.";
inline constexpr const char* kODCMessageBucketedDateNotString = "Bucketed date is not a string.";
inline constexpr const char* kODCMessagePrefixLengthNotNumber = "Prefix length is not a number.";
inline constexpr const char* kODCMessageFetchingConfig = "Fetching config";
inline constexpr const char* kODCMessageEmptyConfig = "Skipping PSM. Received empty config.";
inline constexpr const char* kODCMessagePSMRequestNotString = "Failed to convert PSM request to string.";
inline constexpr const char* kODCMessageCandidatePayloadFailed = "Failed to create candidate request payload.";
inline constexpr const char* kODCMessageExtensionDataNotString = "Extension data is not a string.";
inline constexpr const char* kODCMessageEmptyPSMRequest = "Empty PSM request.";
inline constexpr const char* kODCMessageDeserializePSMResponseFailed = "Failed to deserialize PSM response.";
inline constexpr const char* kODCMessageProcessPSMResponseFailed = "Failed to process PSM response.";
inline constexpr const char* kODCMessagePSMResponseNotString = "PSM response is not a string.";
inline constexpr const char* kODCMessageUnescapePSMResponseFailed = "Failed to unescape PSM response.";
inline constexpr const char* kODCMessageFetchingCandidates = "Fetching PSM candidates";
inline constexpr const char* kODCMessageConvertToMVsFailed = "Failed to convert PSM response to MVs.";
inline constexpr const char* kODCMessageValidationPayloadFailed = "Failed to create validation request data.";
inline constexpr const char* kODCMessageEmptyMVs = "Empty MVs from PSM response conversion.";
inline constexpr const char* kODCMessageMeasurementInfoNotString = "Measurement info is not a string.";
inline constexpr const char* kODCMessageAggregateConversionInfoNotString =
    "Aggregate conversion info is not a string.";
inline constexpr const char* kODCMessageValidatingMatches = "Validating matches";
inline constexpr const char* kODCMessageNoPreferredLanguage = "Failed to get preferred language";

// An error in kODCErrorDomain with `code`, described by `message` (an empty
// message gives an error without a description). Logs `message` at error
// level under `code` first, so every error the layer makes leaves one line.
platform::Error ODCMakeError(int64_t code, const std::string& message);
