// The server side's codecs of the private-set-membership wire messages, for
// the PSM double and for tests: a request's bytes to its record, a response
// record to its bytes. Written from the message tables independently of the
// client's GWLSerializationUtil, with the same rules (a field is written only
// when it carries something; an absent field reads as the record's default).
#pragma once

#include <string>
#include <string_view>

#include "absl/status/statusor.h"
#include "privacy/private_membership/blinders/shared/records.h"

namespace tabulo::psm_double {

// InvalidArgument for bytes that do not decode as a PSMPrivateMembershipBlindersRequest.
absl::StatusOr<private_membership::blinders::PrivateMembershipBlindersRequest> DeserializeBlindersRequest(
    std::string_view bytes);

// The encoded PSMPrivateMembershipBlindersResponse; empty when encoding fails.
std::string SerializeBlindersResponse(const private_membership::blinders::PrivateMembershipBlindersResponse& response);

}  // namespace tabulo::psm_double
