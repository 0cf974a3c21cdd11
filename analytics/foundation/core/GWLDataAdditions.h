// Digests of byte buffers, as the library's fingerprints use them.
//
// gwl_64LSBMD5 is the fingerprint of stored metadata and uploads: the last
// eight bytes of the MD5 digest read as a big-endian unsigned integer.
#pragma once

#include <array>
#include <cstdint>
#include <span>

// The 16-byte MD5 digest of `data`.
std::array<uint8_t, 16> gwl_MD5Data(std::span<const uint8_t> data);
// gwl_64LeastSignificantBits of the MD5 digest of `data` (digest bytes 8 to 15).
uint64_t gwl_64LSBMD5(std::span<const uint8_t> data);
// The last min(size, 8) bytes as a big-endian unsigned integer; 0 for no bytes.
uint64_t gwl_64LeastSignificantBits(std::span<const uint8_t> data);
