#include "privacy/private_membership/blinders/shared/hashed_bucket_id.h"

#include "privacy/blinders/cpp/crypto/status_util.h"
#include "privacy/private_membership/blinders/shared/crypto_utils.h"
#include "privacy/private_membership/common/crypto_utils.h"

namespace private_membership::blinders {

absl::StatusOr<HashedBucketId> HashedBucketId::Create(absl::string_view bytes, int32_t bits, int32_t hash_type,
                                                      ::blinders::Context* context) {
  if (bits < 0) return ::blinders::InvalidArgumentError("Hash prefix length must be non-negative.");
  if (bits == 0) return HashedBucketId{std::string(), 0, hash_type};
  absl::StatusOr<std::string> hash = ComputeBucketHash(hash_type, bytes, context);
  if (!hash.ok()) return hash.status();
  absl::StatusOr<std::string> truncated = TruncateBits(*hash, bits);
  if (!truncated.ok()) return truncated.status();
  return HashedBucketId{std::move(*truncated), bits, hash_type};
}

absl::StatusOr<HashedBucketId> HashedBucketId::Create(const QueryId& query_id,
                                                      const PrivateMembershipBlindersParameters& parameters,
                                                      ::blinders::Context* context) {
  return Create(query_id.non_sensitive_id, parameters.hashed_non_sensitive_id_prefix_bit_length,
                parameters.hash_type, context);
}

}  // namespace private_membership::blinders
