// Percent-encoding of text for URLs and form bodies.
//
// `encode` keeps the bytes of a given allowed set and writes every other byte
// as %XX (upper-case hex); UTF-8 text is encoded byte by byte. `decode` is
// strict: a '%' not followed by two hex digits, or a result that is not valid
// UTF-8, fails instead of guessing what was meant.
//
// The form helpers follow application/x-www-form-urlencoded: a space is '+',
// and '+' in encoded input means a space.
#pragma once

#include <bitset>
#include <optional>
#include <string>
#include <string_view>

#include "platform/core/Error.h"

namespace platform::percent {

inline constexpr const char* kPercentEncodingErrorDomain = "platform.PercentEncoding";

enum PercentEncodingErrorCode : int64_t {
  kPercentEncodingErrorBadEscape = 1,    // '%' not followed by two hex digits
  kPercentEncodingErrorInvalidUtf8 = 2,  // the decoded bytes are not UTF-8 text
};

// The ASCII characters left as they are; every other byte is escaped.
class AllowedSet {
 public:
  explicit AllowedSet(std::string_view characters);

  bool contains(unsigned char c) const { return c < 128 && bits_.test(c); }
  AllowedSet adding(std::string_view characters) const;
  AllowedSet removing(std::string_view characters) const;

  // ALPHA DIGIT - . _ ~ : safe anywhere.
  static const AllowedSet& unreserved();
  // For one value of a query string: unreserved plus the delimiters that do not
  // separate or end a query parameter (no '&', '=', '+', ';' or '#').
  static const AllowedSet& queryValue();
  // For a URL path: unreserved, sub-delimiters, ':', '@' and '/'.
  static const AllowedSet& path();

 private:
  std::bitset<128> bits_;
};

std::string encode(std::string_view text, const AllowedSet& allowed);

// The decoded text, or std::nullopt (and `error`) for a bad escape or a
// result that is not valid UTF-8. '+' is left as it is.
[[nodiscard]] std::optional<std::string> decode(std::string_view text, Error* error = nullptr);
// The decoded bytes, whatever they are (a file path is bytes); std::nullopt
// (and `error`) only for a bad escape.
[[nodiscard]] std::optional<std::string> decodeBytes(std::string_view text, Error* error = nullptr);

// Form fields: unreserved characters stay, a space becomes '+', everything else
// is escaped.
std::string formEncode(std::string_view text);
// Like decode, with '+' read as a space.
[[nodiscard]] std::optional<std::string> formDecode(std::string_view text, Error* error = nullptr);

}  // namespace platform::percent
