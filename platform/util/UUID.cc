#include "platform/util/UUID.h"

#include <cstdint>

namespace platform {
namespace {

bool isHyphenOffset(size_t offset) { return offset == 8 || offset == 13 || offset == 18 || offset == 23; }

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

}  // namespace

std::string randomUUIDString(Random& random) {
  uint8_t bytes[16];
  random.fill(bytes);
  bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  static constexpr const char* kHex = "0123456789ABCDEF";
  std::string text;
  text.reserve(36);
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
    text.push_back(kHex[bytes[i] >> 4]);
    text.push_back(kHex[bytes[i] & 0x0F]);
  }
  return text;
}

bool isUUIDString(std::string_view text) {
  if (text.size() != 36) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (isHyphenOffset(i) ? text[i] != '-' : !isHexDigit(text[i])) return false;
  }
  return true;
}

}  // namespace platform
