// platform::booleanValueOfText — how the platform reads a boolean from text.
//
// Settings files and the Info dictionary sometimes hold "YES", "true" or "1"
// where a boolean is meant. The platform's reading: skip leading blanks
// (spaces, tabs and the Unicode space separators), then an optional "+" or
// "-", then any number of "0"; the text is true exactly when the next
// character is one of "Y", "y", "T", "t" or a digit from 1 to 9. Whatever
// follows is ignored, so "Yellow" is true and "no", "", "0.5" and "x1" are false.
// Invalid UTF-8 never counts as a blank.
#pragma once

#include <string_view>

namespace platform {

bool booleanValueOfText(std::string_view text);

}  // namespace platform
