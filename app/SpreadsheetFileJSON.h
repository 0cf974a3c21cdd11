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
// UTF-8. Decoding reads the text in one pass, without a JSON tree. It
// refuses, before building or padding anything beyond them, a grid of more
// than DocumentLimits::kMaxCells cells (rows times the widest row) and a text
// longer than DocumentLimits::kMaxTextBytes. It accepts keys in any order,
// ignores unknown keys and a null "imagePath", and fails for invalid JSON, a
// missing key, a value of the wrong type, an alignment outside 0 to 2, a size
// or colour component that does not fit a 32-bit float, or a creation date
// that is not a finite number. A decoded document is then repaired where that
// loses no text: short rows are padded with empty cells (an empty grid becomes
// one empty cell), missing heights and widths get the default sizes and
// surplus ones are dropped, merged ranges outside the grid are dropped, and an
// "imagePath" that is not a plain file name is dropped (the cell keeps its
// text).
//
// Decoding takes the JSON that the store's first reader took (nlohmann's), and
// reads it the same way: a leading byte order mark is skipped, a NUL byte
// between values ends the text, an integer stays an integer within 64 bits and
// any other number is the nearest double; a number beyond a double's range
// refuses the text, one below it reads as zero. A malformed text's reason
// says so and gives the byte offset; a document's reason names the document
// (in an array), the row and the key.
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

  // Where one document's object lies in an array's text: [begin, end), from
  // its '{' to just past its '}'.
  struct Span {
    size_t begin = 0;
    size_t end = 0;
    friend bool operator==(const Span&, const Span&) = default;
  };

  // The document store's form: one JSON array of documents, in order.
  static std::optional<std::string> encodeArray(const std::vector<SpreadsheetFile>& files,
                                                std::string* error = nullptr);
  // `spans`, when given, receives where each decoded document lies in `json`;
  // each one's text decodes alone to that document.
  static std::optional<std::vector<SpreadsheetFile>> decodeArray(std::string_view json, std::string* error = nullptr,
                                                                 std::vector<Span>* spans = nullptr);
  // encodeArray's text as bytes, built in place (the store's data value);
  // `spans`, when given, receives where each document's object lies in it.
  static std::optional<platform::Bytes> encodeArrayData(const std::vector<SpreadsheetFile>& files,
                                                        std::string* error = nullptr,
                                                        std::vector<Span>* spans = nullptr);

  // Brings a document's grid, sizes, merged ranges and photo names within the
  // invariants without losing text (see above).
  static void repair(SpreadsheetFile& file);
};

}  // namespace tabulo
