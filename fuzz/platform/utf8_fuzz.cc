// UTF-8 helpers over arbitrary bytes: replacement always gives valid text, and
// the counts, conversions and offsets agree with one another.
#include <cstdlib>
#include <string_view>

#include "platform/text/Utf8.h"

namespace utf8 = platform::utf8;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view s(reinterpret_cast<const char*>(data), size);
  const std::string replaced = utf8::replacingInvalid(s);
  if (!utf8::isValid(replaced)) std::abort();
  if (utf8::isValid(s) && replaced != s) std::abort();
  const size_t points = utf8::codePointCount(s);
  const size_t units = utf8::utf16Length(s);
  if (points != utf8::codePointCount(replaced) || units != utf8::utf16Length(replaced)) std::abort();
  const std::u16string wide = utf8::toUtf16(s);
  if (wide.size() != units || utf8::fromUtf16(wide) != replaced) std::abort();

  // Every UTF-16 offset maps to a byte offset and back, or lies inside a pair.
  for (size_t unit = 0; unit <= units; ++unit) {
    auto byte = utf8::byteOffsetForUtf16Offset(s, unit);
    if (byte && utf8::utf16OffsetForByteOffset(s, *byte) != unit) std::abort();
  }
  if (utf8::byteOffsetForUtf16Offset(s, units + 1)) std::abort();

  const size_t keep = size ? data[0] % 8 : 0;
  const std::string_view cut = utf8::truncatedToCodePoints(s, keep);
  if (s.substr(0, cut.size()) != cut || utf8::codePointCount(cut) != std::min(keep, points)) std::abort();
  if (utf8::isValid(s) && !utf8::isValid(cut)) std::abort();
  return 0;
}
