// Test doubles and helpers shared by the app's tests.
#pragma once

#include <unistd.h>

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "app/SpreadsheetFile.h"
#include "app/UserDefaults.h"
#include "platform/dispatch/Clock.h"

namespace tabulo::testing {

// User defaults in memory. `disk` holds what the last successful
// synchronize() wrote; `failSynchronize` makes synchronize() fail,
// `refuseWrites` makes setObject() refuse, and `unreadable` plays storage that
// could not be read and is kept.
class MemoryUserDefaults : public UserDefaults {
 public:
  std::optional<platform::Object> objectForKey(const std::string& key) const override {
    if (auto found = values.find(key); found != values.end()) return found->second;
    if (auto found = registered.find(key); found != registered.end()) return found->second;
    return std::nullopt;
  }
  bool setObject(platform::Object value, const std::string& key, std::string* reason = nullptr) override {
    if (refuseWrites) {
      if (reason) *reason = "refused";
      return false;
    }
    values[key] = std::move(value);
    return true;
  }
  std::optional<std::string> unreadableStorage() const override { return unreadable; }
  bool setAsideUnreadableStorage() override {
    unreadable.reset();
    ++setAsideCount;
    return true;
  }
  void registerDefaults(const platform::Dictionary& defaults) override {
    for (const auto& [key, value] : defaults) registered[key] = value;
  }
  bool synchronize() override {
    ++synchronizeCount;
    if (failSynchronize) return false;
    disk = values;
    return true;
  }

  platform::Dictionary values;
  platform::Dictionary registered;
  platform::Dictionary disk;
  bool failSynchronize = false;
  bool refuseWrites = false;
  int synchronizeCount = 0;
  std::optional<std::string> unreadable;  // the storage could not be read and is kept
  int setAsideCount = 0;
};

// A fresh directory under TABULO_TEST_TMP (or the system's), removed at the end.
class TemporaryDirectory {
 public:
  TemporaryDirectory() {
    const char* base = std::getenv("TABULO_TEST_TMP");
    std::filesystem::path root = base ? base : std::filesystem::temp_directory_path();
    std::filesystem::create_directories(root);
    std::string pattern = (root / "app-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data()) ? std::filesystem::path(pattern) : std::filesystem::path();
  }
  ~TemporaryDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline void writeFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

inline std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<std::string> rowTexts(const SpreadsheetFile::Row& row) {
  std::vector<std::string> texts;
  for (const auto& cell : row) texts.push_back(cell.text);
  return texts;
}

inline std::vector<std::vector<std::string>> gridTexts(const SpreadsheetFile& file) {
  std::vector<std::vector<std::string>> texts;
  for (const auto& row : file.contents) texts.push_back(rowTexts(row));
  return texts;
}

inline uint32_t bits(float value) { return std::bit_cast<uint32_t>(value); }
inline uint64_t bits(double value) { return std::bit_cast<uint64_t>(value); }

// Every field equal, floats and the creation date bit for bit.
inline void expectIdentical(const SpreadsheetFile& a, const SpreadsheetFile& b) {
  EXPECT_EQ(a.uuid, b.uuid);
  EXPECT_EQ(a.title, b.title);
  EXPECT_EQ(bits(a.creationDate), bits(b.creationDate));
  ASSERT_EQ(a.contents.size(), b.contents.size());
  for (size_t r = 0; r < a.contents.size(); ++r) {
    ASSERT_EQ(a.contents[r].size(), b.contents[r].size());
    for (size_t c = 0; c < a.contents[r].size(); ++c) {
      const auto& x = a.contents[r][c];
      const auto& y = b.contents[r][c];
      EXPECT_EQ(x.text, y.text);
      EXPECT_EQ(x.textAlignment, y.textAlignment);
      EXPECT_EQ(x.imagePath, y.imagePath);
      for (auto [p, q] : {std::pair{x.textColor, y.textColor}, std::pair{x.cellColor, y.cellColor}}) {
        EXPECT_EQ(bits(p.red), bits(q.red));
        EXPECT_EQ(bits(p.green), bits(q.green));
        EXPECT_EQ(bits(p.blue), bits(q.blue));
      }
    }
  }
  ASSERT_EQ(a.rowHeights.size(), b.rowHeights.size());
  for (size_t i = 0; i < a.rowHeights.size(); ++i) EXPECT_EQ(bits(a.rowHeights[i]), bits(b.rowHeights[i]));
  ASSERT_EQ(a.columnWidths.size(), b.columnWidths.size());
  for (size_t i = 0; i < a.columnWidths.size(); ++i) EXPECT_EQ(bits(a.columnWidths[i]), bits(b.columnWidths[i]));
  EXPECT_EQ(a.mergedRanges, b.mergedRanges);
}

}  // namespace tabulo::testing
