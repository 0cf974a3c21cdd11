#include "app/TabuloIO.h"


#include <cerrno>
#include <cstring>
#include <span>
#include <vector>

#include "app/CSVReader.h"
#include "app/CSVWriter.h"
#include "app/FileNames.h"
#include "app/SpreadsheetFileJSON.h"
#include "app/TextEncoding.h"
#include "platform/storage/AtomicFile.h"
#include "platform/storage/FileBuffer.h"
#include "platform/text/Utf8.h"

namespace tabulo {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

void setReason(std::string* error, std::string reason) {
  if (error) *error = std::move(reason);
}

std::string describeErrno(const std::string& what, int errnum) { return what + ": " + std::strerror(errnum); }

// The app's words for each step of the export's atomic write.
std::string exportFailureText(platform::AtomicWriteStep step) {
  switch (step) {
    case platform::AtomicWriteStep::kCreate:
      return "cannot create a file in the outputs directory";
    case platform::AtomicWriteStep::kSetMode:
      return "cannot set the export's permissions";
    case platform::AtomicWriteStep::kWrite:
      return "cannot write the export";
    case platform::AtomicWriteStep::kFlush:
    case platform::AtomicWriteStep::kClose:
      return "cannot write the export to disk";
    case platform::AtomicWriteStep::kInterrupted:
    case platform::AtomicWriteStep::kRename:
    case platform::AtomicWriteStep::kFlushDirectory:
      break;
  }
  return "cannot move the export in place";
}

// Writes `bytes` to a temporary file beside `target`, syncs it and renames it
// over `target`. Once renamed the export is in place: a directory that cannot
// be flushed after it does not make the export a failure.
bool replaceFileAtomically(const std::filesystem::path& target, const std::string& bytes, std::string* error) {
  platform::AtomicWriteOptions options;
  options.mode = 0644;
  options.exactMode = true;
  platform::AtomicWriteStep step = platform::AtomicWriteStep::kCreate;
  options.failedStep = &step;
  platform::Error failure;
  const std::span<const uint8_t> view(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  if (platform::writeFileAtomically(target.string(), view, options, &failure)) return true;
  if (step == platform::AtomicWriteStep::kFlushDirectory) return true;
  setReason(error, describeErrno(exportFailureText(step), static_cast<int>(failure.code)));
  return false;
}

}  // namespace

TabuloIO& TabuloIO::shared() {
  static TabuloIO instance(platform::FileSystem::shared(), platform::Clock::system());
  return instance;
}

TabuloIO::TabuloIO(std::shared_ptr<platform::FileSystem> fileSystem, std::shared_ptr<platform::Clock> clock,
                   CSVImportLimits limits)
    : fileSystem_(std::move(fileSystem)), clock_(std::move(clock)), limits_(limits) {}

std::optional<SpreadsheetFile> TabuloIO::importCSV(const std::filesystem::path& url, std::string* error) const {
  platform::Error failure;
  std::optional<platform::FileBuffer> bytes = platform::readRegularFile(url, limits_.maxBytes, &failure);
  if (!bytes) {
    if (failure.code == EFBIG) {
      setReason(error, "the file is larger than " + std::to_string(limits_.maxBytes) + " bytes");
    } else if (failure.code == EINVAL || failure.code == EISDIR) {
      setReason(error, "not a regular file");
    } else {
      setReason(error, describeErrno(failure.code == ENOENT ? "cannot open the file" : "cannot read the file",
                                     static_cast<int>(failure.code)));
    }
    return std::nullopt;
  }

  CSVReader::Settings settings;
  settings.maxFieldsPerRecord = limits_.maxColumns;
  CSVReader reader(std::move(*bytes), settings);
  std::vector<std::vector<std::string>> records;
  size_t width = 0;
  while (auto record = reader.next()) {
    width = std::max(width, record->size());
    if (records.size() >= limits_.maxRows) {
      setReason(error, "the file has more than " + std::to_string(limits_.maxRows) + " records");
      return std::nullopt;
    }
    // The grid: a header row above the records, a number column left of them.
    if ((records.size() + 2) > limits_.maxCells / (width + 1)) {
      setReason(error, "the file makes a grid of more than " + std::to_string(limits_.maxCells) + " cells");
      return std::nullopt;
    }
    records.push_back(std::move(*record));
  }
  if (reader.failed()) {
    setReason(error, reader.error());
    return std::nullopt;
  }
  if (records.empty()) {
    setReason(error, "the file holds no record");
    return std::nullopt;
  }

  std::string name = url.stem().string();
  std::string title = platform::utf8::isValid(name) ? name : windows1252ToUTF8(name);
  SpreadsheetFile file(std::move(title), records, *clock_);
  records = {};
  std::string reason;
  std::optional<size_t> size = SpreadsheetFileJSON::encodedSize(file, &reason);
  if (!size) {
    setReason(error, "the document cannot be stored: " + reason);
    return std::nullopt;
  }
  if (*size > limits_.maxEncodedBytes) {
    setReason(error, "the document would take " + std::to_string(*size) + " bytes in the store, more than the " +
                         std::to_string(limits_.maxEncodedBytes) + " it can hold");
    return std::nullopt;
  }
  return file;
}

std::string TabuloIO::csvText(const SpreadsheetFile& file) {
  CSVWriter writer(',', "\n");
  std::vector<std::string> texts;
  bool first = true;
  for (const SpreadsheetFile::Row& row : file.contents) {
    texts.clear();
    for (const SpreadsheetCellContent& cell : row) texts.push_back(cell.text);
    bool atStart = first;
    writer.write(texts, [&](size_t index) {
      const std::string& text = texts[index];
      // A byte-order mark at the very start would be dropped on reading.
      if (atStart && index == 0 && text.starts_with(kByteOrderMark)) return true;
      return CSVWriter::needsQuotes(text, ',');
    });
    first = false;
  }
  return writer.takeText();
}

std::optional<std::filesystem::path> TabuloIO::exportCSV(const SpreadsheetFile& file, std::string* error) const {
  std::filesystem::path location = fileSystem_->outputsURL() / safeFileName(file.title, ".csv");
  if (!replaceFileAtomically(location, csvText(file), error)) return std::nullopt;
  return location;
}

}  // namespace tabulo
