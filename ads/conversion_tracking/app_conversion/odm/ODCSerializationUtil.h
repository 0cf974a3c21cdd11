// ODCSerializationUtil — the conversion layer's helpers for the bodies of its
// requests and answers: JSON objects from bytes and back, the MVs message that
// carries the matched values to the validation request, the reader of a bucket
// entry's unencrypted metadata, and the hash of the joined query strings.
//
// All keep no state and may run on any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "absl/status/statusor.h"
#include "ads/conversion_tracking/app_conversion/odm/on_device_measurement_v2_client.h"
#include "platform/core/Error.h"

// A JSON object whose members keep the order they were read or inserted in.
using ODCJSONDictionary = nlohmann::ordered_json;

// Errors of the JSON parser: the code is the parser's error number (101 for a
// syntax error), the description says where and what.
inline constexpr const char* kODCJSONParserErrorDomain = "com.halcyra.ads.OnDeviceConversion.JSONParser";

inline constexpr const char* kODCDeserializeUnencryptedMetadataFailedMessage =
    "Failed to deserialize the unencrypted Metadata.";

// The JSON object in `data`. Any JSON value is parsed (fragments included);
// nullopt and `error` for no data (2000 "Data is nil.", logged), for text that
// is not JSON (the parser's error, not logged) and for a value that is not an
// object (2001 "JSON root is not a dictionary.", logged).
[[nodiscard]] std::optional<ODCJSONDictionary> ODCJSONDictionaryFromData(
    std::optional<std::span<const uint8_t>> data, platform::Error* error = nullptr);

// The member `key` of `dictionary` when it is a string, else null.
const std::string* ODCJSONStringMember(const ODCJSONDictionary& dictionary, const char* key);

// `dictionary` as compact JSON in member order; nullopt for no dictionary,
// a value that is not an object, and an object holding what JSON cannot carry
// (text that is not UTF-8, a number that is not finite).
[[nodiscard]] std::optional<std::vector<uint8_t>> ODCJSONDataFromDictionary(
    const std::optional<ODCJSONDictionary>& dictionary);

// The encoded MVs message with `values` as its odm2_values, in order; an empty
// list, or a message that does not encode, gives the empty string.
std::string ODCMVsFromProcessedResponse(const std::vector<std::string>& values);

// The OdmResponseUnencryptedMetadata encoded in `bytes` (absent fields read 0),
// or Internal kODCDeserializeUnencryptedMetadataFailedMessage.
absl::StatusOr<ads::conversion_tracking::app_conversion::odm::OdmUnencryptedMetadata>
ODCDeserializeUnencryptedMetadata(const std::string& bytes);

// The 32 raw bytes of SHA-256 over `a` ":" `b` ":" `c` (any bytes, colons included).
std::string ODCHashJoinedStrings(std::string_view a, std::string_view b, std::string_view c);
