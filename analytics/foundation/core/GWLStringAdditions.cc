#include "analytics/foundation/core/GWLStringAdditions.h"

#include <algorithm>

#include "platform/crypto/Digest.h"
#include "platform/text/PercentEncoding.h"
#include "platform/text/Utf8.h"

bool isBitEnabledAtIndex(const std::string& bits, int64_t index) {
  if (index < 0) return false;
  std::u16string units = platform::utf8::toUtf16(platform::utf8::replacingInvalid(bits));
  return static_cast<uint64_t>(index) < units.size() && units[static_cast<size_t>(index)] == u'1';
}

std::optional<std::string> gwl_MD5String(const std::string& text) {
  if (!platform::utf8::isValid(text)) return std::nullopt;
  return platform::Digest::md5Hex(std::string_view(text));
}

std::optional<std::string> gwl_stringByUnescapingFromURLArgument(const std::string& text) {
  std::string blanks(text);
  std::replace(blanks.begin(), blanks.end(), '+', ' ');
  return platform::percent::decode(blanks);
}

size_t gwl_UTF32Length(const std::string& text) {
  return platform::utf8::codePointCount(platform::utf8::replacingInvalid(text));
}

std::vector<uint8_t> gwl_getUTF32Bytes(const std::string& text, size_t maxBytes) {
  std::vector<uint8_t> bytes;
  const std::string valid = platform::utf8::replacingInvalid(text);
  for (size_t offset = 0; offset < valid.size() && bytes.size() + 4 <= maxBytes;) {
    auto decoded = platform::utf8::decode(valid, offset);
    const uint32_t codePoint = static_cast<uint32_t>(decoded.codePoint);
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<uint8_t>(codePoint >> shift));
    offset += decoded.length;
  }
  return bytes;
}
