// SpreadsheetFileJSON — the stored JSON form of documents.
//
// A document is one compact JSON object with the keys "uuid", "title",
// "creationDate" (seconds since 2001-01-01 UTC), "contents" (rows of cell
// objects), "rowHeights", "columnWidths" and "mergedRanges" (each in
// CellRange's coded form). A cell object has "text", "textAlignment" (0, 1 or
// 2), "textColor" and "cellColor" (objects with "red", "green", "blue"), and
// "imagePath" only when a photo is set. Numbers are written so that they read
// back bit for bit; integral values are written without a fraction.
//
// Encoding fails for a number that is not finite or text that is not valid
// UTF-8. Decoding refuses, before building or padding anything beyond them, a
// grid of more than DocumentLimits::kMaxCells cells (rows times the widest
// row) and a text longer than DocumentLimits::kMaxTextBytes. It accepts keys
// in any order, ignores unknown keys and a null
// "imagePath", and fails for invalid JSON, a missing key, a value of the wrong
// type, an alignment outside 0 to 2, a size or colour component that does not
// fit a 32-bit float, or a creation date that is not a finite number. A
// decoded document is then repaired where that loses no text: short rows are
// padded with empty cells (an empty grid becomes one empty cell), missing
// heights and widths get the default sizes and surplus ones are dropped,
// merged ranges outside the grid are dropped, and an "imagePath" that is not a
// plain file name is dropped (the cell keeps its text).
//
// No exception leaves these functions; failures come back as an empty result
// with a reason in `error`.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/SpreadsheetFile.h"

namespace tabulo {

class SpreadsheetFileJSON {
 public:
  static std::optional<std::string> encode(const SpreadsheetFile& file, std::string* error = nullptr);
  // The size of encode's text, without making it; none when encode fails.
  static std::optional<size_t> encodedSize(const SpreadsheetFile& file, std::string* error = nullptr);
  static std::optional<SpreadsheetFile> decode(std::string_view json, std::string* error = nullptr);

  // The document store's form: one JSON array of documents, in order.
  static std::optional<std::string> encodeArray(const std::vector<SpreadsheetFile>& files,
                                                std::string* error = nullptr);
  static std::optional<std::vector<SpreadsheetFile>> decodeArray(std::string_view json,
                                                                 std::string* error = nullptr);
  // Where one document's object lies in an array's text: [begin, end).
  struct Span {
    size_t begin = 0;
    size_t end = 0;
    friend bool operator==(const Span&, const Span&) = default;
  };
  // encodeArray's text as bytes, built in place (the store's data value);
  // `spans`, when given, receives where each document's object lies in it.
  static std::optional<platform::Bytes> encodeArrayData(const std::vector<SpreadsheetFile>& files,
                                                        std::string* error = nullptr,
                                                        std::vector<Span>* spans = nullptr);

  // Where one document lies in a stored array's text, and its uuid.
  struct ArrayElement {
    Span span;  // from its '{' to just past its '}'
    std::string_view uuid;
  };
  // Containers deeper than this stop the scan.
  static constexpr size_t kMaxScanDepth = 64;
  // Splits a stored array at its top level without decoding the documents:
  // one pass that follows strings and brackets. None when the text is not one
  // array of objects with balanced brackets and closed strings, when an
  // element has no "uuid" string or more than one, a uuid or a key of its own
  // with an escape in it, or when it nests deeper than kMaxScanDepth. A document found here is
  // not checked further: callers use it only on text they know decodes.
  static std::optional<std::vector<ArrayElement>> scanArray(std::string_view json);

  // Brings a document's grid, sizes, merged ranges and photo names within the
  // invariants without losing text (see above).
  static void repair(SpreadsheetFile& file);
};

}  // namespace tabulo
