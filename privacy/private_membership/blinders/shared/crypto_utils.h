// The salted digests of blinded private-set membership (bucket hash, lookup
// hash, value key) and the decryption of one stored value. Free functions
// that run on the caller's blinders::Context; every failure is a status.
#pragma once

#include <cstdint>
#include <string>

#include "absl/status/statusor.h"
#include "absl/strings/string_view.h"
#include "privacy/blinders/cpp/crypto/context.h"

namespace private_membership::blinders {

// Bucket-hash types. Both are SHA-256 behind the bucket salt; any other value
// is refused wherever a bucket hash is computed.
enum HashType : int32_t {
  kSha256 = 1,
  kSha256Alternate = 2,
};

// SHA-256 of the bucket salt followed by `bytes` (32 bytes). A hash type other
// than 1 or 2: InvalidArgument "Specified an invalid hash type.".
absl::StatusOr<std::string> ComputeBucketHash(int32_t hash_type, absl::string_view bytes,
                                              ::blinders::Context* context);

// SHA-256 of the lookup salt followed by `bytes` (32 bytes): the key under
// which a server-encrypted id is found in a bucket.
std::string ComputeLookupHash(absl::string_view bytes, ::blinders::Context* context);

// SHA-256 of the value-key salt followed by `bytes`: the 32-byte key of the
// values stored for a server-encrypted id.
absl::StatusOr<std::string> DeriveValueKey(absl::string_view bytes, ::blinders::Context* context);

// The value stored for the server-encrypted id `encrypted_id`: decrypted under
// DeriveValueKey(encrypted_id) by DecryptValueWithKey.
absl::StatusOr<std::string> DecryptValue(absl::string_view encrypted_id, absl::string_view ciphertext,
                                         int32_t encryption_scheme, ::blinders::Context* context);

// `ciphertext` decrypted by the cipher of `encryption_scheme` under `key`; for
// the length-prefixed schemes (1 and 3) the value inside the prefix.
absl::StatusOr<std::string> DecryptValueWithKey(absl::string_view key, absl::string_view ciphertext,
                                                int32_t encryption_scheme);

}  // namespace private_membership::blinders
