// platform::CellRange — a block of grid cells, as the grid view library knows it.
//
// A range is made from two corner positions, `from` and `to`, each a (row,
// column) pair counted from 0; both corners belong to the block, so the range
// from (1, 1) to (2, 3) covers rows 1 and 2 of columns 1, 2 and 3. The corners
// are kept exactly as given (a range is not normalised), so a range comes back
// from its coded form as the same range.
//
// The coded form is a dictionary {"from": {"row": r, "column": c},
// "to": {"row": r, "column": c}} with non-negative integers; decoding ignores
// other keys and refuses anything else.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/core/Object.h"

namespace platform {

// A cell position in the grid.
struct Location {
  int64_t row = 0;
  int64_t column = 0;
  friend bool operator==(const Location&, const Location&) = default;
};

class CellRange {
 public:
  CellRange(Location from, Location to) : from_(from), to_(to) {}

  const Location& from() const { return from_; }
  const Location& to() const { return to_; }

  // The block's edges, whichever corner was given first.
  int64_t topRow() const { return from_.row < to_.row ? from_.row : to_.row; }
  int64_t bottomRow() const { return from_.row < to_.row ? to_.row : from_.row; }
  int64_t leftColumn() const { return from_.column < to_.column ? from_.column : to_.column; }
  int64_t rightColumn() const { return from_.column < to_.column ? to_.column : from_.column; }

  // Whether the two blocks share at least one cell.
  bool intersects(const CellRange& other) const {
    return topRow() <= other.bottomRow() && other.topRow() <= bottomRow() && leftColumn() <= other.rightColumn() &&
           other.leftColumn() <= rightColumn();
  }

  Object encode() const;
  // Empty when `coded` is not a range's coded form.
  [[nodiscard]] static std::optional<CellRange> decode(const Object& coded);

  friend bool operator==(const CellRange&, const CellRange&) = default;

 private:
  Location from_;
  Location to_;
};

}  // namespace platform
