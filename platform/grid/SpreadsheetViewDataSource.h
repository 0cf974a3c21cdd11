// platform::SpreadsheetViewDataSource — the questions a SpreadsheetView asks
// the object that feeds it. The grid asks them on reload (counts, sizes,
// merged blocks, frozen lines) and whenever it needs a cell view.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/grid/CellRange.h"
#include "platform/grid/IndexPath.h"

namespace platform {

class Cell;
class SpreadsheetView;

class SpreadsheetViewDataSource {
 public:
  virtual ~SpreadsheetViewDataSource() = default;

  virtual int64_t numberOfColumns(SpreadsheetView& spreadsheetView) = 0;
  virtual int64_t numberOfRows(SpreadsheetView& spreadsheetView) = 0;
  // Sizes in points. Negative or non-finite answers count as 0.
  virtual double widthForColumn(SpreadsheetView& spreadsheetView, int64_t column) = 0;
  virtual double heightForRow(SpreadsheetView& spreadsheetView, int64_t row) = 0;
  // The view for the cell (or merged block whose top-left cell is) at
  // `indexPath`, normally dequeued from the grid; none leaves the place empty.
  virtual std::shared_ptr<Cell> cellForItemAt(SpreadsheetView& spreadsheetView, const IndexPath& indexPath) = 0;
  // Blocks shown as one cell. Blocks may overlap or reach outside the grid:
  // the grid lays out the first of overlapping blocks only, and the part of a
  // block inside the grid.
  virtual std::vector<CellRange> mergedCells(SpreadsheetView&) { return {}; }
  // Leading columns and rows that stay in view while the rest scrolls.
  virtual int64_t frozenColumns(SpreadsheetView&) { return 0; }
  virtual int64_t frozenRows(SpreadsheetView&) { return 0; }
};

}  // namespace platform
