#include "analytics/foundation/core/GWLDataAdditions.h"

#include "platform/crypto/Digest.h"

std::array<uint8_t, 16> gwl_MD5Data(std::span<const uint8_t> data) { return platform::Digest::md5(data); }

uint64_t gwl_64LSBMD5(std::span<const uint8_t> data) {
  auto digest = gwl_MD5Data(data);
  return gwl_64LeastSignificantBits(digest);
}

uint64_t gwl_64LeastSignificantBits(std::span<const uint8_t> data) {
  uint64_t value = 0;
  const size_t count = data.size() < 8 ? data.size() : 8;
  for (uint8_t byte : data.subspan(data.size() - count)) value = (value << 8) | byte;
  return value;
}
