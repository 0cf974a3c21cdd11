#include "platform/text/BooleanText.h"

#include "platform/text/Utf8.h"

namespace platform {
namespace {

// Tab and the characters of Unicode's space-separator category.
bool isBlank(char32_t c) {
  return c == U'\t' || c == U' ' || c == 0x00A0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

// The offset of the first character that is not a blank.
size_t skipBlanks(std::string_view text) {
  size_t offset = 0;
  while (offset < text.size()) {
    utf8::Decoded decoded = utf8::decode(text, offset);
    if (!decoded.valid || !isBlank(decoded.codePoint)) break;
    offset += decoded.length;
  }
  return offset;
}

}  // namespace

bool booleanValueOfText(std::string_view text) {
  size_t offset = skipBlanks(text);
  if (offset < text.size() && (text[offset] == '+' || text[offset] == '-')) ++offset;
  while (offset < text.size() && text[offset] == '0') ++offset;
  if (offset == text.size()) return false;
  const char c = text[offset];
  return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

int64_t integerValueOfText(std::string_view text) {
  size_t offset = skipBlanks(text);
  bool negative = false;
  if (offset < text.size() && (text[offset] == '+' || text[offset] == '-')) negative = text[offset++] == '-';
  // Accumulated as a negative number, whose range holds INT64_MIN.
  int64_t value = 0;
  for (; offset < text.size() && text[offset] >= '0' && text[offset] <= '9'; ++offset) {
    const int digit = text[offset] - '0';
    if (value < (INT64_MIN + digit) / 10) return negative ? INT64_MIN : INT64_MAX;
    value = value * 10 - digit;
  }
  if (negative) return value;
  return value == INT64_MIN ? INT64_MAX : -value;
}

}  // namespace platform
