#include "platform/text/BooleanText.h"

#include "platform/text/Utf8.h"

namespace platform {
namespace {

// Tab and the characters of Unicode's space-separator category.
bool isBlank(char32_t c) {
  return c == U'\t' || c == U' ' || c == 0x00A0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

}  // namespace

bool booleanValueOfText(std::string_view text) {
  size_t offset = 0;
  while (offset < text.size()) {
    utf8::Decoded decoded = utf8::decode(text, offset);
    if (!decoded.valid || !isBlank(decoded.codePoint)) break;
    offset += decoded.length;
  }
  if (offset < text.size() && (text[offset] == '+' || text[offset] == '-')) ++offset;
  while (offset < text.size() && text[offset] == '0') ++offset;
  if (offset == text.size()) return false;
  const char c = text[offset];
  return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

}  // namespace platform
