// TabuloIO — comma-separated import and export of documents.
//
// `importCSV` reads a comma-separated file (CSVReader's grammar; UTF-8, else
// Windows-1252) into a new document titled after the file name without its
// extension: every record becomes a grid row below the header row, right of
// the number column, each field the text of a default cell; records shorter
// than the longest are padded with empty cells. It answers none (and says why
// in `error`) for a file that cannot be read, is not a regular file, holds no
// record, is malformed, or exceeds the import limits. Nothing is stored. The
// file's path is bytes: a name that is not UTF-8 gives a title read as
// Windows-1252.
//
// `exportCSV` writes the texts of every cell, row by row from row 0 and column
// 0, as records separated by line feeds, into the outputs directory under the
// title made safe as a file name plus ".csv". A field is quoted only when it
// holds a comma, a double quote, CR or LF (and the file's first field when it
// starts with a byte-order mark), so a file without such texts is the plain
// comma-joined form. The bytes go to a temporary file that is synced and then
// renamed over the target, so an older export of the same name is replaced
// whole or not at all. It answers the file's location, or none (and why) when
// the file could not be written.
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "app/DocumentLimits.h"
#include "app/SpreadsheetFile.h"
#include "platform/dispatch/Clock.h"
#include "platform/filesystem/FileSystem.h"

namespace tabulo {

// Bounds on an imported file: its size, its number of records, the number of
// fields of its longest record, the cells of the grid it makes (header row
// and number column included), and the document's size in the store's JSON.
// The defaults are the store's (DocumentLimits): a document that passes them
// fits in an empty store.
struct CSVImportLimits {
  size_t maxBytes = DocumentLimits::kStoreBudget;
  size_t maxRows = DocumentLimits::kMaxCells;
  size_t maxColumns = 16'384;
  size_t maxCells = DocumentLimits::kMaxCells;
  size_t maxEncodedBytes = DocumentLimits::kStoreBudget - 2;  // within the stored array's brackets
};

class TabuloIO {
 public:
  TabuloIO(std::shared_ptr<platform::FileSystem> fileSystem, std::shared_ptr<platform::Clock> clock,
           CSVImportLimits limits = {});

  // The process-wide instance over FileSystem::shared() and the system clock.
  static TabuloIO& shared();

  std::optional<SpreadsheetFile> importCSV(const std::filesystem::path& url, std::string* error = nullptr) const;
  std::optional<std::filesystem::path> exportCSV(const SpreadsheetFile& file, std::string* error = nullptr) const;

  // The comma-separated text that exportCSV writes for `file`.
  static std::string csvText(const SpreadsheetFile& file);

 private:
  std::shared_ptr<platform::FileSystem> fileSystem_;
  std::shared_ptr<platform::Clock> clock_;
  CSVImportLimits limits_;
};

}  // namespace tabulo
