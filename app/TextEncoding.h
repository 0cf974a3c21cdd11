// Text decoding for files that come from outside the app.
//
// Comma-separated files arrive in whatever encoding the other app wrote.
// `decodeOutsideText` drops a leading UTF-8 byte-order mark and answers the
// rest unchanged when it is valid UTF-8; otherwise the bytes are read as
// Windows-1252, so every byte becomes a character and nothing is lost.
#pragma once

#include <string>
#include <string_view>

namespace tabulo {

// Every byte as its Windows-1252 character, in UTF-8. The five bytes that
// Windows-1252 leaves undefined become the C1 controls of the same value.
std::string windows1252ToUTF8(std::string_view bytes);

// `bytes` without a leading UTF-8 byte-order mark.
std::string_view withoutByteOrderMark(std::string_view bytes);

std::string decodeOutsideText(std::string bytes);

}  // namespace tabulo
