// platform::booleanValueOfText — how the platform reads a boolean from text.
//
// Settings files and the Info dictionary sometimes hold "YES", "true" or "1"
// where a boolean is meant. The platform's reading: skip leading blanks
// (spaces, tabs and the Unicode space separators), then an optional "+" or
// "-", then any number of "0"; the text is true exactly when the next
// character is one of "Y", "y", "T", "t" or a digit from 1 to 9. Whatever
// follows is ignored, so "Yellow" is true and "no", "", "0.5" and "x1" are false.
// Invalid UTF-8 never counts as a blank.
//
// platform::integerValueOfText — how the platform reads a 64-bit integer from
// text: the same leading blanks, an optional sign, then the decimal digits up
// to the first other character (none gives 0). A value beyond the 64-bit
// range saturates at INT64_MAX or INT64_MIN, so "12a" is 12, "-7.9" is -7 and
// twenty 9s are INT64_MAX.
#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

[[nodiscard]] bool booleanValueOfText(std::string_view text);
int64_t integerValueOfText(std::string_view text);

}  // namespace platform
