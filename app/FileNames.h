// File names the app builds from document titles or reads from documents.
//
// Exports are named after the document's title. A title is free text, so the
// name built from it is made safe: path separators and control characters
// become "_", the name is cut to a bounded length at a character boundary, and
// a title that leaves nothing usable ("", ".", "..") gives "Untitled". The
// title itself is never changed.
//
// A cell's photo is stored by file name only; `isPlainFileName` accepts a name
// that stays inside the outputs directory.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tabulo {

// Longest base name, in bytes, before the extension is appended.
inline constexpr size_t kMaxFileBaseNameBytes = 200;

// `title` made safe as a file name, followed by `extension` (such as ".csv").
std::string safeFileName(std::string_view title, std::string_view extension);

// Whether `name` is one path component: non-empty, valid UTF-8, at most 255
// bytes, not "." or "..", and free of "/", "\\" and control characters.
bool isPlainFileName(std::string_view name);

}  // namespace tabulo
