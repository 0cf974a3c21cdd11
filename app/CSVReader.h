// CSVReader — splits comma-separated text into records of field texts.
//
// The grammar: fields are separated by the delimiter (a comma); records end
// at LF, CRLF or a lone CR, and a separator after the last record makes no
// further record, so "a\n" is one record and "" none; an empty line is a
// record of one empty field. Nothing is trimmed. A field that starts with a
// double quote runs to the next lone double quote: inside it, a doubled quote
// stands for one quote and delimiters and line breaks are text. Characters
// between a closing quote and the next delimiter or line end are kept as text;
// a quote inside an unquoted field is text.
//
// The reader is made from the file's bytes, as a string or as the buffer a
// file was read into (kept, not copied, when it is valid UTF-8): a leading
// UTF-8 byte-order mark is skipped, and bytes that are not valid UTF-8 are
// read as Windows-1252 (see TextEncoding.h), so every field is valid UTF-8.
//
// `next()` answers records in order, then none. It also answers none when the
// input is malformed (a quoted field that is never closed, or a record with
// more fields than `maxFieldsPerRecord`); `error()` then says why.
#pragma once

#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/storage/FileBuffer.h"

namespace tabulo {

class CSVReader {
 public:
  struct Settings {
    char delimiter = ',';
    size_t maxFieldsPerRecord = std::numeric_limits<size_t>::max();
  };

  explicit CSVReader(std::string bytes) : CSVReader(std::move(bytes), Settings{}) {}
  CSVReader(std::string bytes, Settings settings);
  explicit CSVReader(platform::FileBuffer file) : CSVReader(std::move(file), Settings{}) {}
  CSVReader(platform::FileBuffer file, Settings settings);
  // The text is a view into the reader's own storage.
  CSVReader(const CSVReader&) = delete;
  CSVReader& operator=(const CSVReader&) = delete;

  std::optional<std::vector<std::string>> next();

  // Empty unless reading stopped at malformed input.
  const std::string& error() const { return error_; }
  bool failed() const { return !error_.empty(); }

 private:
  bool fail(std::string reason);

  // The text read: a view into `file_` or `owned_`.
  platform::FileBuffer file_;
  std::string owned_;
  std::string_view text_;
  Settings settings_;
  size_t position_ = 0;
  size_t lastRecordSize_ = 0;
  bool stops_[256] = {};  // bytes that end an unquoted field
  std::string error_;
};

}  // namespace tabulo
