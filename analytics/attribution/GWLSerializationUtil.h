// GWLSerializationUtil — the bridge between the blinders mini client's plain
// request and response records and the private-set-membership wire messages
// (PSMPrivateMembershipBlindersRequest, PSMPrivateMembershipBlindersResponse
// and their parts) that travel to and from the ad service.
//
// Outgoing, a field is written only when it carries something: a number that
// is not 0, a byte string that is not empty, a list with at least one element.
// The request's parameters message is always written, even when empty;
// `extra_bytes` and `max_hash_prefixes_count` are never written. Incoming, an
// absent field reads as the record's default, with two particular rules: a
// response part without metadata keeps {num_bins 0, encryption_scheme 1},
// while present metadata replaces both (an absent scheme then reads 0); and an
// entry's `secondary_bytes` is always set, empty when absent on the wire. A
// part's tag 6 number is not read.
//
// Both functions keep no state and may run on any thread. The callers encode
// the bytes in web-safe base64 and wrap them in JSON themselves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "absl/status/statusor.h"
#include "privacy/private_membership/blinders/shared/records.h"

inline constexpr const char* kGWLDeserializePSMResponseFailedMessage = "Failed to deserialize PSM Response.";

// The encoded PSMPrivateMembershipBlindersRequest of `request`, fields in
// ascending tag order. Never fails: when the message cannot be encoded the
// answer is an empty string, which the callers treat as no payload.
std::string SerializeBlindersRequest(const private_membership::blinders::PrivateMembershipBlindersRequest& request);

// The response record of the encoded PSMPrivateMembershipBlindersResponse in
// `bytes` (copied; empty bytes are an empty response), or InvalidArgument
// kGWLDeserializePSMResponseFailedMessage for bytes that do not decode.
absl::StatusOr<private_membership::blinders::PrivateMembershipBlindersResponse> DeserializeBlindersResponse(
    const uint8_t* bytes, size_t length);
inline absl::StatusOr<private_membership::blinders::PrivateMembershipBlindersResponse> DeserializeBlindersResponse(
    std::span<const uint8_t> bytes) {
  return DeserializeBlindersResponse(bytes.data(), bytes.size());
}
