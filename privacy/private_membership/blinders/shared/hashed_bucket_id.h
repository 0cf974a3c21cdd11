// private_membership::blinders::HashedBucketId: the bucket a query id falls
// in, the leading bits of the salted bucket hash of its non-sensitive id.
#pragma once

#include <cstdint>
#include <string>

#include "absl/status/statusor.h"
#include "absl/strings/string_view.h"
#include "privacy/blinders/cpp/crypto/context.h"
#include "privacy/private_membership/blinders/shared/records.h"

namespace private_membership::blinders {

struct HashedBucketId {
  // The first `bits` bits of ComputeBucketHash(hash_type, bytes), in
  // ceil(bits / 8) bytes. A negative bit length: "Hash prefix length must be
  // non-negative."; 0 gives empty bytes without hashing or checking the hash
  // type; above 256: "Truncation bit length out of bounds.".
  static absl::StatusOr<HashedBucketId> Create(absl::string_view bytes, int32_t bits, int32_t hash_type,
                                               ::blinders::Context* context);
  // The bucket id of the query id's non_sensitive_id under the parameters'
  // prefix bit length and hash type.
  static absl::StatusOr<HashedBucketId> Create(const QueryId& query_id,
                                               const PrivateMembershipBlindersParameters& parameters,
                                               ::blinders::Context* context);

  std::string bytes;
  int32_t prefix_bit_length = 0;
  int32_t hash_type = 0;

  bool operator==(const HashedBucketId&) const = default;
};

}  // namespace private_membership::blinders
