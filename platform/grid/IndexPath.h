// platform::IndexPath — a position in the grid: `row` is the grid row and
// `section` the grid column, both counted from 0.
#pragma once

#include <cstdint>
#include <ostream>

namespace platform {

struct IndexPath {
  int64_t row = 0;
  int64_t section = 0;

  friend bool operator==(const IndexPath&, const IndexPath&) = default;
  friend auto operator<=>(const IndexPath&, const IndexPath&) = default;
};

// "[row, section]", as the app prints a tapped position.
inline std::ostream& operator<<(std::ostream& out, const IndexPath& indexPath) {
  return out << '[' << indexPath.row << ", " << indexPath.section << ']';
}

}  // namespace platform
