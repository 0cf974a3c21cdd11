// OnDeviceMeasurementV2Client — the private-membership query of one on-device
// conversion matching run.
//
// `Create` turns the downloaded configuration (a web-safe base64 matching ID,
// a bucketed date, a prefix length) and the app's bundle identifier into
// exactly one query id: no query tag, the decoded matching ID as the
// non-sensitive id, and SHA-256(decoded ID ":" date ":" bundle ID) as the
// sensitive id (ODCHashJoinedStrings), queried with hash type 2 and no dummy
// records. `CreateRequest` builds the request (the blinders client keeps the
// key that reads the answer, so `ProcessResponse` is called only on the client
// that built the request, as often as needed). `ProcessResponse` reduces the
// answer to one matched value per group of bucket entries.
//
// Each bucket entry carries metadata: its primary bytes are the serialised
// OdmResponseUnencryptedMetadata {order_key, kind, preferred}, its secondary
// bytes the group key. Within a group the value whose metadata ranks highest
// wins: a new value replaces the kept one when it is preferred (1) and the
// kept one is not, when its order_key is greater, or when the order_keys are
// equal and it is kind 1 against kind 2.
//
// Statuses carry the source position where they were made. Not thread-safe:
// the conversion layer uses a client on its serial queue only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "absl/status/statusor.h"
#include "privacy/private_membership/blinders/client/private_membership_blinders_mini_client.h"

namespace ads::conversion_tracking::app_conversion::odm {

// The in-memory form of the wire message OdmResponseUnencryptedMetadata.
struct OdmUnencryptedMetadata {
  int64_t order_key = 0;  // a larger value wins inside a group
  int32_t kind = 0;       // on equal order_key, kind 1 replaces kind 2
  int32_t preferred = 0;  // 1 replaces a value that is not preferred

  bool operator==(const OdmUnencryptedMetadata&) const = default;
};

// Reads the primary bytes of a bucket entry's metadata.
using UnencryptedMetadataDeserializer = absl::StatusOr<OdmUnencryptedMetadata> (*)(const std::string& bytes);

inline constexpr const char* kMatchingIdUnescapeErrorMessage = "matching_id_unescape_error";
inline constexpr int32_t kOdmHashType = 2;
inline constexpr int32_t kOdmMaxHashPrefixesCount = 0;

class OnDeviceMeasurementV2Client {
 public:
  // Internal "matching_id_unescape_error" for a matching ID that is not web-safe
  // base64 ('+' and '/' are not); the blinders client's status when it refuses
  // the parameters (a negative prefix length, for one). A null deserializer
  // gives a client whose answers never match.
  static absl::StatusOr<std::unique_ptr<OnDeviceMeasurementV2Client>> Create(
      std::string_view matching_id, std::string_view bucketed_date, std::string_view bundle_id,
      int32_t prefix_length, UnencryptedMetadataDeserializer unencrypted_metadata_deserializer);

  virtual ~OnDeviceMeasurementV2Client();
  OnDeviceMeasurementV2Client(const OnDeviceMeasurementV2Client&) = delete;
  OnDeviceMeasurementV2Client& operator=(const OnDeviceMeasurementV2Client&) = delete;

  // The blinders client's request for `use_case`, or its status.
  absl::StatusOr<private_membership::blinders::PrivateMembershipBlindersRequest> CreateRequest(int32_t use_case);

  // The matched values of `response`, one per group key and member result (the
  // order of the groups of one result is not defined), or the blinders
  // client's status. For each member result whose bucket carries metadata,
  // the decrypted values are walked in bucket order, each judged by the
  // metadata of its own entry; the walk of a result stops at the first value
  // whose entry has no group key, and an entry whose primary bytes do not
  // read is skipped.
  virtual absl::StatusOr<std::vector<std::string>> ProcessResponse(
      const private_membership::blinders::PrivateMembershipBlindersResponse& response);

 private:
  OnDeviceMeasurementV2Client(
      std::unique_ptr<private_membership::blinders::PrivateMembershipBlindersMiniClient> mini_client,
      UnencryptedMetadataDeserializer unencrypted_metadata_deserializer);

  std::unique_ptr<private_membership::blinders::PrivateMembershipBlindersMiniClient> mini_client_;
  UnencryptedMetadataDeserializer unencrypted_metadata_deserializer_;
};

}  // namespace ads::conversion_tracking::app_conversion::odm
