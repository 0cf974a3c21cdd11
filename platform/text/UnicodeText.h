// Unicode services on UTF-8 text, over ICU: the default (locale-independent)
// lower- and upper-casing and the white-space character set of the platform's string
// services.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform::unicode {

// `text` with Unicode's full default lower-case mapping (the root locale: no
// Turkish or Lithuanian rules), which may change the length; nullopt when
// `text` is not valid UTF-8.
[[nodiscard]] std::optional<std::string> lowercased(std::string_view text);
// The same with the full default upper-case mapping ("ß" becomes "SS").
[[nodiscard]] std::optional<std::string> uppercased(std::string_view text);

// The platform's white-space set: the space separators (general category Zs,
// U+0020, U+00A0, U+2000..U+200A, ...) and the tab. Line breaks are not white
// space here.
bool isWhitespace(char32_t codePoint);

}  // namespace platform::unicode
