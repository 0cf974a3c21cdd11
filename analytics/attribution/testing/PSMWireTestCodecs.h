// The server side's codecs of the private-set-membership wire messages, for
// the PSM double and for tests: a request's bytes to its record, a response
// record to its bytes. Written from the message tables independently of the
// client's GWLSerializationUtil, with the same rules (a field is written only
// when it carries something; an absent field reads as the record's default).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "absl/status/statusor.h"
#include "privacy/private_membership/blinders/shared/records.h"

namespace tabulo::psm_double {

// InvalidArgument for bytes that do not decode as a PSMPrivateMembershipBlindersRequest.
absl::StatusOr<private_membership::blinders::PrivateMembershipBlindersRequest> DeserializeBlindersRequest(
    std::string_view bytes);

// The encoded OdmResponseUnencryptedMetadata {1: order_key, 2: kind, 3:
// preferred}, each a varint written when not 0 (a negative int32 as its
// ten-byte sign extension).
std::string SerializeOdmUnencryptedMetadata(int64_t orderKey, int32_t kind, int32_t preferred);

// The encoded PSMPrivateMembershipBlindersResponse; empty when encoding fails.
std::string SerializeBlindersResponse(const private_membership::blinders::PrivateMembershipBlindersResponse& response);

}  // namespace tabulo::psm_double
