#include "app/FileNames.h"

#include <cstdint>

#include "app/TextEncoding.h"
#include "platform/text/Utf8.h"

namespace tabulo {
namespace {

constexpr std::string_view kUntitled = "Untitled";

// The byte length of the UTF-8 sequence starting with `lead` (valid input).
size_t sequenceLength(uint8_t lead) {
  if (lead < 0x80) return 1;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  return 4;
}

// Whether the character at `p` (valid UTF-8 of `length` bytes) may not appear
// in a file name: a separator, or a C0 or C1 control character.
bool isForbidden(const uint8_t* p, size_t length) {
  if (length == 1) return *p < 0x20 || *p == 0x7F || *p == '/' || *p == '\\';
  return length == 2 && p[0] == 0xC2 && p[1] < 0xA0;  // U+0080..U+009F
}

}  // namespace

std::string safeFileName(std::string_view title, std::string_view extension) {
  std::string text = platform::utf8::isValid(title) ? std::string(title) : windows1252ToUTF8(title);
  std::string base;
  const auto* p = reinterpret_cast<const uint8_t*>(text.data());
  const uint8_t* end = p + text.size();
  while (p < end) {
    size_t length = sequenceLength(*p);
    bool forbidden = isForbidden(p, length);
    size_t outLength = forbidden ? 1 : length;
    if (base.size() + outLength > kMaxFileBaseNameBytes) break;
    if (forbidden) {
      base.push_back('_');
    } else {
      base.append(reinterpret_cast<const char*>(p), length);
    }
    p += length;
  }
  if (base.empty() || base == "." || base == "..") base = kUntitled;
  base.append(extension);
  return base;
}

bool isPlainFileName(std::string_view name) {
  if (name.empty() || name.size() > 255 || name == "." || name == "..") return false;
  if (!platform::utf8::isValid(name)) return false;
  const auto* p = reinterpret_cast<const uint8_t*>(name.data());
  const uint8_t* end = p + name.size();
  while (p < end) {
    size_t length = sequenceLength(*p);
    if (isForbidden(p, length)) return false;
    p += length;
  }
  return true;
}

}  // namespace tabulo
