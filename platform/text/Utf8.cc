#include "platform/text/Utf8.h"

#include <cstdint>
#include <cstring>

namespace platform::utf8 {

Decoded decode(std::string_view s, size_t offset) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(s[i]); };
  const uint8_t lead = byte(offset);
  if (lead < 0x80) return {lead, 1, true};

  // The well-formed sequences: the lead byte fixes the length and the range of
  // the second byte (which is what excludes overlongs, surrogates and values
  // above U+10FFFF); later bytes are 80..BF.
  size_t need;
  uint8_t lo = 0x80, hi = 0xBF;
  char32_t cp;
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    cp = lead & 0x0F;
    if (lead == 0xE0) lo = 0xA0;
    if (lead == 0xED) hi = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    cp = lead & 0x07;
    if (lead == 0xF0) lo = 0x90;
    if (lead == 0xF4) hi = 0x8F;
  } else {
    return {kReplacementCharacter, 1, false};
  }
  size_t i = offset + 1;
  for (size_t k = 0; k < need; ++k, ++i) {
    if (i >= s.size()) return {kReplacementCharacter, i - offset, false};
    const uint8_t b = byte(i);
    if (b < lo || b > hi) return {kReplacementCharacter, i - offset, false};
    cp = (cp << 6) | (b & 0x3F);
    lo = 0x80;
    hi = 0xBF;
  }
  return {cp, need + 1, true};
}

void append(std::string& out, char32_t cp) {
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = kReplacementCharacter;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool isValid(std::string_view s) {
  size_t i = 0;
  const size_t size = s.size();
  while (i < size) {
    // ASCII runs, eight bytes at a time (whole files are checked here); other sequences one by one.
    while (size - i >= 8) {
      uint64_t word;
      std::memcpy(&word, s.data() + i, 8);
      if (word & 0x8080808080808080ull) break;
      i += 8;
    }
    if (i == size) break;
    if (static_cast<uint8_t>(s[i]) < 0x80) {
      ++i;
      continue;
    }
    const Decoded d = decode(s, i);
    if (!d.valid) return false;
    i += d.length;
  }
  return true;
}

std::string replacingInvalid(std::string_view s) {
  if (isValid(s)) return std::string(s);
  std::string out;
  out.reserve(s.size() + 8);
  for (size_t i = 0; i < s.size();) {
    const Decoded d = decode(s, i);
    if (d.valid) {
      out.append(s.substr(i, d.length));
    } else {
      append(out, kReplacementCharacter);
    }
    i += d.length;
  }
  return out;
}

size_t codePointCount(std::string_view s) {
  size_t count = 0;
  for (size_t i = 0; i < s.size(); ++count) i += decode(s, i).length;
  return count;
}

size_t utf16Length(std::string_view s) {
  size_t count = 0;
  for (size_t i = 0; i < s.size();) {
    const Decoded d = decode(s, i);
    count += d.codePoint > 0xFFFF ? 2 : 1;
    i += d.length;
  }
  return count;
}

std::u16string toUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    const Decoded d = decode(s, i);
    if (d.codePoint > 0xFFFF) {
      const char32_t v = d.codePoint - 0x10000;
      out += static_cast<char16_t>(0xD800 + (v >> 10));
      out += static_cast<char16_t>(0xDC00 + (v & 0x3FF));
    } else {
      out += static_cast<char16_t>(d.codePoint);
    }
    i += d.length;
  }
  return out;
}

std::string fromUtf16(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    const char16_t u = s[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      append(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (s[i + 1] - 0xDC00));
      ++i;
    } else {
      append(out, u);  // a lone surrogate becomes U+FFFD
    }
  }
  return out;
}

std::optional<size_t> byteOffsetForUtf16Offset(std::string_view s, size_t utf16Offset) {
  size_t units = 0;
  size_t i = 0;
  while (units < utf16Offset && i < s.size()) {
    const Decoded d = decode(s, i);
    units += d.codePoint > 0xFFFF ? 2 : 1;
    i += d.length;
  }
  if (units != utf16Offset) return std::nullopt;
  return i;
}

std::optional<size_t> utf16OffsetForByteOffset(std::string_view s, size_t byteOffset) {
  size_t units = 0;
  size_t i = 0;
  while (i < byteOffset && i < s.size()) {
    const Decoded d = decode(s, i);
    units += d.codePoint > 0xFFFF ? 2 : 1;
    i += d.length;
  }
  if (i != byteOffset) return std::nullopt;
  return units;
}

std::string_view truncatedToCodePoints(std::string_view s, size_t maxCodePoints) {
  size_t i = 0;
  for (size_t n = 0; n < maxCodePoints && i < s.size(); ++n) i += decode(s, i).length;
  return s.substr(0, i);
}

}  // namespace platform::utf8
