#include "app/SpreadsheetFile.h"

#include <algorithm>
#include <random>

namespace tabulo {
namespace {

constexpr const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";

constexpr float kHeaderRowHeight = 20;
constexpr float kRowHeight = 30;
constexpr float kNumberColumnWidth = 50;
constexpr float kColumnWidth = 100;

}  // namespace

double referenceDateNow(const platform::Clock& clock) { return clock.now() - kReferenceDateOffsetFrom1970; }

std::string columnName(size_t index) {
  if (index < 26) return std::string(1, kAlphabet[index]);
  std::string name(index / 26, 'A');
  name.push_back(kAlphabet[index % 26]);
  return name;
}

std::vector<float> repeatedSizes(size_t count, float first, float rest) {
  std::vector<float> sizes;
  sizes.reserve(count + 1);
  sizes.push_back(first);
  sizes.insert(sizes.end(), count, rest);
  return sizes;
}

std::string makeUUIDString() {
  static thread_local std::mt19937_64 generator{[] {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device(), device(), device(), device(), device()};
    return std::mt19937_64(seed);
  }()};
  uint8_t bytes[16];
  for (int i = 0; i < 16; i += 8) {
    uint64_t value = generator();
    for (int j = 0; j < 8; ++j) bytes[i + j] = static_cast<uint8_t>(value >> (8 * j));
  }
  bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  static constexpr const char* kHex = "0123456789ABCDEF";
  std::string text;
  text.reserve(36);
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
    text.push_back(kHex[bytes[i] >> 4]);
    text.push_back(kHex[bytes[i] & 0x0F]);
  }
  return text;
}

SpreadsheetFile::SpreadsheetFile(std::string title, const platform::Clock& clock)
    : SpreadsheetFile(std::move(title), std::vector<std::vector<std::string>>(4, std::vector<std::string>(4)), clock) {}

SpreadsheetFile::SpreadsheetFile(std::string title, const std::vector<std::vector<std::string>>& rows,
                                 const platform::Clock& clock)
    : uuid(makeUUIDString()), title(std::move(title)), creationDate(referenceDateNow(clock)) {
  size_t width = 0;
  for (const auto& row : rows) width = std::max(width, row.size());

  contents.reserve(rows.size() + 1);
  Row header;
  header.reserve(width + 1);
  header.emplace_back();
  for (size_t c = 0; c < width; ++c) header.emplace_back(columnName(c));
  contents.push_back(std::move(header));

  for (size_t i = 0; i < rows.size(); ++i) {
    Row row;
    row.reserve(width + 1);
    row.emplace_back(std::to_string(i + 1));
    for (const std::string& field : rows[i]) row.emplace_back(field);
    row.resize(width + 1);
    contents.push_back(std::move(row));
  }

  rowHeights = repeatedSizes(rows.size(), kHeaderRowHeight, kRowHeight);
  columnWidths = repeatedSizes(width, kNumberColumnWidth, kColumnWidth);
}

size_t SpreadsheetFile::columnCount() const {
  size_t count = 0;
  for (const Row& row : contents) count = std::max(count, row.size());
  return count;
}

void SpreadsheetFile::appendRow() {
  size_t width = columnCount();
  if (width == 0) return;
  Row row(width);
  row[0].text = std::to_string(contents.size());
  contents.push_back(std::move(row));
}

void SpreadsheetFile::appendColumn() {
  size_t width = columnCount();
  if (width == 0) return;
  contents[0].emplace_back(columnName(width - 1));
  for (size_t r = 1; r < contents.size(); ++r) contents[r].emplace_back();
}

}  // namespace tabulo
