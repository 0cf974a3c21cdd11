// UTF-8 helpers: validation, replacement of invalid sequences, and the counts
// and offsets that text measured in code points or in UTF-16 units needs.
//
// Text inside the system is UTF-8 `std::string`. Text from outside is checked
// with `isValid` and refused, or cleaned with `replacingInvalid`, where it comes
// in. Valid UTF-8 here is Unicode's definition: no overlong forms, no
// surrogates (U+D800..U+DFFF), nothing above U+10FFFF.
//
// Where a helper meets invalid input anyway, it reads it the way
// `replacingInvalid` does: each maximal ill-formed subpart (the longest start
// of a valid sequence, or else a single byte) counts as one U+FFFD, which is one
// code point and one UTF-16 unit.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace platform::utf8 {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// One step of decoding: the code point at an offset and how many bytes it
// takes. For an ill-formed subpart, `valid` is false, `codePoint` is U+FFFD
// and `length` is the subpart's length (at least 1).
struct Decoded {
  char32_t codePoint;
  size_t length;
  bool valid;
};

// Decodes the sequence that starts at `offset` (which must be < s.size()).
Decoded decode(std::string_view s, size_t offset);

// Appends the UTF-8 form of `codePoint`; surrogates and values above U+10FFFF
// append U+FFFD.
void append(std::string& out, char32_t codePoint);

bool isValid(std::string_view s);

// `s` with every ill-formed subpart replaced by U+FFFD; valid input comes back
// unchanged.
std::string replacingInvalid(std::string_view s);

// Number of Unicode code points.
size_t codePointCount(std::string_view s);

// Number of UTF-16 code units (code points above U+FFFF take two).
size_t utf16Length(std::string_view s);

// Conversions. Unpaired surrogates in UTF-16 input become U+FFFD.
std::u16string toUtf16(std::string_view s);
std::string fromUtf16(std::u16string_view s);

// The byte offset in `s` of UTF-16 offset `utf16Offset`; std::nullopt when the
// offset lies beyond the end or between the two halves of a surrogate pair.
[[nodiscard]] std::optional<size_t> byteOffsetForUtf16Offset(std::string_view s, size_t utf16Offset);

// The UTF-16 offset of byte offset `byteOffset`; std::nullopt when the offset
// lies beyond the end or inside a character.
[[nodiscard]] std::optional<size_t> utf16OffsetForByteOffset(std::string_view s, size_t byteOffset);

// The longest prefix of `s` that holds at most `maxCodePoints` code points;
// never ends inside a character.
std::string_view truncatedToCodePoints(std::string_view s, size_t maxCodePoints);

}  // namespace platform::utf8
