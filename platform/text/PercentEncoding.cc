#include "platform/text/PercentEncoding.h"

#include "platform/text/Utf8.h"

namespace platform::percent {
namespace {

constexpr std::string_view kUnreserved =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~";
constexpr char kHex[] = "0123456789ABCDEF";

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> decodeWith(std::string_view text, bool plusIsSpace, bool utf8Only, Error* error) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%') {
      const int hi = i + 1 < text.size() ? hexValue(text[i + 1]) : -1;
      const int lo = i + 2 < text.size() ? hexValue(text[i + 2]) : -1;
      if (hi < 0 || lo < 0) {
        setError(error, Error(kPercentEncodingErrorDomain, kPercentEncodingErrorBadEscape,
                              "invalid percent escape at offset " + std::to_string(i)));
        return std::nullopt;
      }
      out += static_cast<char>(hi * 16 + lo);
      i += 2;
    } else if (c == '+' && plusIsSpace) {
      out += ' ';
    } else {
      out += c;
    }
  }
  if (utf8Only && !utf8::isValid(out)) {
    setError(error, Error(kPercentEncodingErrorDomain, kPercentEncodingErrorInvalidUtf8,
                          "percent-decoded text is not valid UTF-8"));
    return std::nullopt;
  }
  return out;
}

}  // namespace

AllowedSet::AllowedSet(std::string_view characters) {
  for (unsigned char c : characters) {
    if (c < 128) bits_.set(c);
  }
}

AllowedSet AllowedSet::adding(std::string_view characters) const {
  AllowedSet result = *this;
  for (unsigned char c : characters) {
    if (c < 128) result.bits_.set(c);
  }
  return result;
}

AllowedSet AllowedSet::removing(std::string_view characters) const {
  AllowedSet result = *this;
  for (unsigned char c : characters) {
    if (c < 128) result.bits_.reset(c);
  }
  return result;
}

const AllowedSet& AllowedSet::unreserved() {
  static const AllowedSet set(kUnreserved);
  return set;
}

const AllowedSet& AllowedSet::queryValue() {
  static const AllowedSet set = unreserved().adding("!$'()*,:@/?");
  return set;
}

const AllowedSet& AllowedSet::path() {
  static const AllowedSet set = unreserved().adding("!$&'()*+,;=:@/");
  return set;
}

std::string encode(std::string_view text, const AllowedSet& allowed) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (allowed.contains(c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  return out;
}

std::optional<std::string> decode(std::string_view text, Error* error) {
  return decodeWith(text, false, true, error);
}

std::optional<std::string> decodeBytes(std::string_view text, Error* error) {
  return decodeWith(text, false, false, error);
}

std::string formEncode(std::string_view text) {
  static const AllowedSet allowed = AllowedSet::unreserved().adding(" ");
  std::string out = encode(text, allowed);
  for (char& c : out) {
    if (c == ' ') c = '+';
  }
  return out;
}

std::optional<std::string> formDecode(std::string_view text, Error* error) {
  return decodeWith(text, true, true, error);
}

}  // namespace platform::percent
