// SpreadsheetCellContent — one cell of a document: its text, the text's
// alignment and colour, the fill colour, and optionally a photo.
//
// `imagePath` is the plain file name (never a path) of a JPEG file in the
// outputs directory; when it is set the cell shows the photo instead of its
// text. A default cell is left-aligned black text on white with no photo.
#pragma once

#include <optional>
#include <string>

#include "app/ColorRepresentation.h"
#include "app/TextAlignment.h"

namespace tabulo {

struct SpreadsheetCellContent {
  std::string text;
  TextAlignment textAlignment = TextAlignment::left;
  ColorRepresentation textColor = ColorRepresentation::black();
  ColorRepresentation cellColor = ColorRepresentation::white();
  std::optional<std::string> imagePath;

  SpreadsheetCellContent() = default;
  // A default cell holding `text`.
  explicit SpreadsheetCellContent(std::string text) : text(std::move(text)) {}

  friend bool operator==(const SpreadsheetCellContent&, const SpreadsheetCellContent&) = default;
};

}  // namespace tabulo
