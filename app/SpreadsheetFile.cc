#include "app/SpreadsheetFile.h"

#include <algorithm>
#include <random>

#include "platform/util/UUID.h"

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
  // A generator per thread, seeded once from the system's entropy.
  class ThreadGenerator final : public platform::Random {
   public:
    uint64_t nextUInt64() override { return generator_(); }

   private:
    std::mt19937_64 generator_{[] {
      std::random_device device;
      std::seed_seq seed{device(), device(), device(), device(), device(), device(), device(), device()};
      return std::mt19937_64(seed);
    }()};
  };
  static thread_local ThreadGenerator generator;
  return platform::randomUUIDString(generator);
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
