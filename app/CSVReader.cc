#include "app/CSVReader.h"

#include <cstdint>
#include <cstring>

#include "app/TextEncoding.h"
#include "platform/text/Utf8.h"

namespace tabulo {

CSVReader::CSVReader(std::string bytes, Settings settings)
    : owned_(decodeOutsideText(std::move(bytes))), text_(owned_), settings_(settings) {
  for (char stop : {settings_.delimiter, '\n', '\r'}) stops_[static_cast<uint8_t>(stop)] = true;
}

CSVReader::CSVReader(platform::FileBuffer file, Settings settings) : file_(std::move(file)), settings_(settings) {
  std::string_view text = withoutByteOrderMark(file_.text());
  if (platform::utf8::isValid(text)) {
    text_ = text;
  } else {
    owned_ = windows1252ToUTF8(text);
    text_ = owned_;
    file_ = platform::FileBuffer();
  }
  for (char stop : {settings_.delimiter, '\n', '\r'}) stops_[static_cast<uint8_t>(stop)] = true;
}

bool CSVReader::fail(std::string reason) {
  error_ = std::move(reason);
  position_ = text_.size();
  return false;
}

std::optional<std::vector<std::string>> CSVReader::next() {
  const size_t size = text_.size();
  if (failed() || position_ >= size) return std::nullopt;

  const char* data = text_.data();
  const char delimiter = settings_.delimiter;
  std::vector<std::string> record;
  record.reserve(lastRecordSize_);
  size_t pos = position_;

  while (true) {
    std::string field;
    if (data[pos] == '"') {
      ++pos;
      while (true) {
        const void* quote = std::memchr(data + pos, '"', size - pos);
        if (!quote) {
          fail("a quoted field is never closed");
          return std::nullopt;
        }
        size_t quoteAt = static_cast<size_t>(static_cast<const char*>(quote) - data);
        field.append(data + pos, quoteAt - pos);
        pos = quoteAt + 1;
        if (pos < size && data[pos] == '"') {
          field.push_back('"');
          ++pos;
        } else {
          break;
        }
      }
    }
    size_t start = pos;
    while (pos < size && !stops_[static_cast<uint8_t>(data[pos])]) ++pos;
    field.append(data + start, pos - start);

    if (record.size() >= settings_.maxFieldsPerRecord) {
      fail("a record has more than " + std::to_string(settings_.maxFieldsPerRecord) + " fields");
      return std::nullopt;
    }
    record.push_back(std::move(field));

    if (pos >= size) break;
    char c = data[pos++];
    if (c == delimiter) continue;
    if (c == '\r' && pos < size && data[pos] == '\n') ++pos;
    break;
  }
  position_ = pos;
  lastRecordSize_ = record.size();
  return record;
}

}  // namespace tabulo
