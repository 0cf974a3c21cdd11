// Byte-level helpers of private-set membership shared by its clients: cutting
// a hash to a number of bits, binning, resizing a key, the length-prefixed
// plaintext format, and the cipher that an encryption scheme number names.
// Free functions without state; every failure is an InvalidArgument status.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "absl/status/statusor.h"
#include "absl/strings/string_view.h"
#include "privacy/private_membership/common/cipher.h"

namespace private_membership {

// How the values of a response are encrypted, and how their plaintext is laid out.
enum EncryptionScheme : int32_t {
  kAesCtr256WithFixedIv = 1,  // AesCtr256WithFixedIV, length-prefixed plaintext
  kAesCtr256NoAuth = 2,       // AesCtr256NoAuth, the value itself
  kAesGcm256 = 3,             // AesGcm256, length-prefixed plaintext
};

// The first `bit_length` bits of `bytes`, most significant bit first, in
// ceil(bit_length / 8) bytes with the unused low bits of the last byte clear.
// A bit length below 0 or above 8 * size: "Truncation bit length out of bounds.".
absl::StatusOr<std::string> TruncateBits(absl::string_view bytes, int32_t bit_length);

// The bin of `bytes` among `num_bins` (a power of two): its first log2(num_bins)
// bits. One bin gives empty bytes.
absl::StatusOr<std::string> ComputeBinnedHash(absl::string_view bytes, int32_t num_bins);

// The first `length` bytes of `bytes`, or `bytes` padded with ASCII '0' to `length`.
std::string ResizeBytes(absl::string_view bytes, size_t length);

// The value of a length-prefixed plaintext: a 4-byte little-endian length n,
// then at least n bytes, of which the first n are the value.
absl::StatusOr<std::string> DecodeLengthPrefixedBytes(absl::string_view bytes);

// The cipher of `encryption_scheme` under `key`; the cipher's Create reports a bad key.
absl::StatusOr<std::unique_ptr<Cipher>> CreateCipher(int32_t encryption_scheme, absl::string_view key);

}  // namespace private_membership
