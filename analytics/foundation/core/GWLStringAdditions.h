// Text helpers of the library: bit strings, MD5 of text, URL arguments and
// UTF-32 lengths.
//
// Text is UTF-8. Character counts of names and values are counted in UTF-32
// code units (one per code point); bit strings such as the TCF consent
// strings are indexed in UTF-16 units, as they were produced.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Whether the character at `index` is "1"; false for an index outside the text.
bool isBitEnabledAtIndex(const std::string& bits, int64_t index);
// The MD5 digest of the UTF-8 bytes as 32 lower-case hexadecimal digits;
// nullopt for text that is not valid UTF-8.
[[nodiscard]] std::optional<std::string> gwl_MD5String(const std::string& text);
// Every "+" read as a blank, then percent-decoded; nullopt for a bad escape.
[[nodiscard]] std::optional<std::string> gwl_stringByUnescapingFromURLArgument(const std::string& text);
// The number of UTF-32 code units (invalid UTF-8 sequences count as one each).
size_t gwl_UTF32Length(const std::string& text);
// The little-endian UTF-32 bytes of the text, at most `maxBytes` of them,
// converting whole characters only.
std::vector<uint8_t> gwl_getUTF32Bytes(const std::string& text, size_t maxBytes);
