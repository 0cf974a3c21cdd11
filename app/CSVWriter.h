// CSVWriter — joins records of field texts into comma-separated text.
//
// Fields of a record are joined by the delimiter, and every record is followed
// by the line separator (a line feed). `write` quotes the fields for which
// `quotedAtIndex` answers true: the field is wrapped in double quotes and each
// double quote inside it is doubled. `needsQuotes` tells which fields must be
// quoted to read back as written (RFC 4180): those holding the delimiter, a
// double quote, CR or LF.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tabulo {

class CSVWriter {
 public:
  explicit CSVWriter(char delimiter = ',', std::string lineSeparator = "\n");

  void write(const std::vector<std::string>& row, const std::function<bool(size_t)>& quotedAtIndex);

  static bool needsQuotes(std::string_view field, char delimiter = ',');

  const std::string& text() const { return text_; }
  std::string takeText() { return std::move(text_); }

 private:
  char delimiter_;
  std::string lineSeparator_;
  std::string text_;
};

}  // namespace tabulo
