// SpreadsheetFile — one document: a titled grid of cells with its row heights,
// column widths and merged ranges.
//
// `contents[r][c]` is row r, column c. Row 0 is the header row (column
// letters), column 0 the number column, and both are ordinary cells that the
// user may edit. Every operation keeps the grid rectangular with at least one
// row of at least one cell, a height for every row, a width for every column,
// and every merged range inside the grid.
//
// A document is a plain value; its identity is `uuid` (upper-case canonical
// UUID text, never changed). `creationDate` is in seconds since the reference
// date 2001-01-01 00:00:00 UTC, the form it is stored in; the document store
// sets it at every save.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "app/SpreadsheetCellContent.h"
#include "platform/dispatch/Clock.h"
#include "platform/grid/CellRange.h"

namespace tabulo {

// Seconds from 1970-01-01 to the reference date 2001-01-01 (UTC).
inline constexpr double kReferenceDateOffsetFrom1970 = 978'307'200.0;

// The clock's current time in seconds since the reference date.
double referenceDateNow(const platform::Clock& clock);

// The column letters for a letter index counted from 0: A..Z for 0..25, then
// the letter A repeated index / 26 times followed by the letter at index % 26
// (26 is AA, 51 AZ, 52 AAA, 78 AAAA).
std::string columnName(size_t index);

// `first` followed by `count` copies of `rest`.
std::vector<float> repeatedSizes(size_t count, float first, float rest);

// A new random UUID in upper-case canonical text form (8-4-4-4-12 hex digits).
std::string makeUUIDString();

struct SpreadsheetFile {
  using Row = std::vector<SpreadsheetCellContent>;

  std::string uuid;
  std::string title;
  double creationDate = 0;
  std::vector<Row> contents;
  std::vector<float> rowHeights;
  std::vector<float> columnWidths;
  std::vector<platform::CellRange> mergedRanges;

  // An empty value with no rows, for filling in field by field.
  SpreadsheetFile() = default;

  // A new document with the default grid: 5 by 5, row 0 empty then A to D,
  // column 0 empty then 1 to 4, heights 20 then 30, widths 50 then 100.
  SpreadsheetFile(std::string title, const platform::Clock& clock);

  // A new document whose grid holds `rows` below a header row of column
  // letters and right of a number column. Rows shorter than the longest are
  // padded with empty cells; texts are taken unchanged.
  SpreadsheetFile(std::string title, const std::vector<std::vector<std::string>>& rows,
                  const platform::Clock& clock);

  // The number of cells of the longest row; 0 without rows.
  size_t columnCount() const;

  // Adds a row at the bottom whose first cell holds the new row's index.
  // Only `contents` changes; the caller appends a height. No effect without rows.
  void appendRow();

  // Adds a column at the right, headed by its letters in row 0. Only
  // `contents` changes; the caller appends a width. No effect without rows.
  void appendColumn();

  friend bool operator==(const SpreadsheetFile&, const SpreadsheetFile&) = default;
};

}  // namespace tabulo
