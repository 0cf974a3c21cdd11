// TextAlignment — the horizontal alignment of a cell's text.
//
// Its raw values are stored in documents, so they never change: left 0,
// center 1, right 2.
#pragma once

#include <cstdint>
#include <optional>

namespace tabulo {

enum class TextAlignment : int { left = 0, center = 1, right = 2 };

// The alignment for a stored raw value; none for anything but 0, 1 or 2.
inline std::optional<TextAlignment> textAlignmentFromRawValue(int64_t rawValue) {
  switch (rawValue) {
    case 0: return TextAlignment::left;
    case 1: return TextAlignment::center;
    case 2: return TextAlignment::right;
    default: return std::nullopt;
  }
}

inline int rawValue(TextAlignment alignment) { return static_cast<int>(alignment); }

}  // namespace tabulo
