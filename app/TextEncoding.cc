#include "app/TextEncoding.h"

#include <cstdint>

#include "platform/text/Utf8.h"

namespace tabulo {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Windows-1252 code points for the bytes 0x80 to 0x9F; the rest of the high
// half is Latin-1.
constexpr uint16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

}  // namespace

std::string windows1252ToUTF8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  for (char c : bytes) {
    auto byte = static_cast<uint8_t>(c);
    if (byte < 0x80) {
      out.push_back(c);
    } else if (byte < 0xA0) {
      platform::utf8::append(out, kWindows1252High[byte - 0x80]);
    } else {
      platform::utf8::append(out, byte);
    }
  }
  return out;
}

std::string_view withoutByteOrderMark(std::string_view bytes) {
  if (bytes.substr(0, kByteOrderMark.size()) == kByteOrderMark) bytes.remove_prefix(kByteOrderMark.size());
  return bytes;
}

std::string decodeOutsideText(std::string bytes) {
  if (std::string_view(bytes).substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    bytes.erase(0, kByteOrderMark.size());
  }
  if (platform::utf8::isValid(bytes)) return bytes;
  return windows1252ToUTF8(bytes);
}

}  // namespace tabulo
