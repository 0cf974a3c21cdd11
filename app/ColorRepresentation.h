// ColorRepresentation — an opaque colour of a cell's text or fill.
//
// Each component is a fraction of full intensity from 0 to 1. There is no
// alpha: colours are always drawn opaque.
#pragma once

namespace tabulo {

struct ColorRepresentation {
  float red = 0;
  float green = 0;
  float blue = 0;

  static ColorRepresentation black() { return {0, 0, 0}; }
  static ColorRepresentation white() { return {1, 1, 1}; }

  friend bool operator==(const ColorRepresentation&, const ColorRepresentation&) = default;
};

}  // namespace tabulo
