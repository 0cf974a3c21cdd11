#include "app/CSVWriter.h"

namespace tabulo {

CSVWriter::CSVWriter(char delimiter, std::string lineSeparator)
    : delimiter_(delimiter), lineSeparator_(std::move(lineSeparator)) {}

bool CSVWriter::needsQuotes(std::string_view field, char delimiter) {
  for (char c : field) {
    if (c == delimiter || c == '"' || c == '\r' || c == '\n') return true;
  }
  return false;
}

void CSVWriter::write(const std::vector<std::string>& row, const std::function<bool(size_t)>& quotedAtIndex) {
  for (size_t i = 0; i < row.size(); ++i) {
    if (i > 0) text_.push_back(delimiter_);
    const std::string& field = row[i];
    if (quotedAtIndex && quotedAtIndex(i)) {
      text_.push_back('"');
      for (char c : field) {
        if (c == '"') text_.push_back('"');
        text_.push_back(c);
      }
      text_.push_back('"');
    } else {
      text_.append(field);
    }
  }
  text_.append(lineSeparator_);
}

}  // namespace tabulo
