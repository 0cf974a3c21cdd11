#include "app/TabuloIO.h"

#include "app/SpreadsheetFileJSON.h"

#include <sys/stat.h>

#include <random>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "app/FileNames.h"

namespace tabulo {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::gridTexts;
using testing::readFile;
using testing::writeFile;

using Grid = std::vector<std::vector<std::string>>;

class TabuloIOTest : public ::testing::Test {
 protected:
  TabuloIOTest() { fileSystem->createDirectoriesIfNeeded(); }

  std::optional<SpreadsheetFile> importText(const std::string& name, const std::string& bytes,
                                            std::string* error = nullptr) {
    std::filesystem::path path = directory.path() / name;
    writeFile(path, bytes);
    return io.importCSV(path, error);
  }

  std::vector<std::string> outputs() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(fileSystem->outputsURL())) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

  testing::TemporaryDirectory directory;
  std::shared_ptr<platform::FileSystem> fileSystem =
      std::make_shared<platform::FileSystem>(directory.path() / "Documents" / "Outputs");
  std::shared_ptr<platform::ManualClock> clock = std::make_shared<platform::ManualClock>(kReferenceDateOffsetFrom1970 + 7);
  TabuloIO io{fileSystem, clock};
};

TEST_F(TabuloIOTest, ImportMakesANewDocumentFromTheRecords) {
  auto file = importText("data.csv", "name,age,city\n Ann , 3 ,\"Rome, IT\"\n");
  ASSERT_TRUE(file);
  EXPECT_EQ(file->title, "data");
  EXPECT_EQ(file->creationDate, 7);
  EXPECT_EQ(file->uuid.size(), 36u);
  EXPECT_EQ(gridTexts(*file), (Grid{{"", "A", "B", "C"}, {"1", "name", "age", "city"}, {"2", " Ann ", " 3 ", "Rome, IT"}}));
  EXPECT_THAT(file->rowHeights, ElementsAre(20, 30, 30));
  EXPECT_THAT(file->columnWidths, ElementsAre(50, 100, 100, 100));

  auto ragged = importText("r.csv", "a\nb,c,d\r\n\ne");
  ASSERT_TRUE(ragged);
  EXPECT_EQ(gridTexts(*ragged),
            (Grid{{"", "A", "B", "C"}, {"1", "a", "", ""}, {"2", "b", "c", "d"}, {"3", "", "", ""}, {"4", "e", "", ""}}));
  EXPECT_EQ(ragged->rowHeights.size(), 5u);
}

TEST_F(TabuloIOTest, TitleIsTheFileNameWithoutItsExtension) {
  const std::pair<const char*, const char*> cases[] = {
      {"Budget 2024.csv", "Budget 2024"}, {"report.final.csv", "report.final"}, {"plain", "plain"},
      {"caf\xE9.csv", "caf\xC3\xA9"},
  };
  for (auto [name, title] : cases) {
    auto file = importText(name, "x");
    ASSERT_TRUE(file) << name;
    EXPECT_EQ(file->title, title);
  }
}

TEST_F(TabuloIOTest, ImportRefusesWhatItCannotRead) {
  std::string error;
  EXPECT_FALSE(importText("empty.csv", "", &error));
  EXPECT_THAT(error, HasSubstr("no record"));
  EXPECT_FALSE(importText("bom.csv", "\xEF\xBB\xBF", &error));
  EXPECT_FALSE(importText("open.csv", "a,\"b\nc", &error));
  EXPECT_THAT(error, HasSubstr("never closed"));
  EXPECT_FALSE(io.importCSV(directory.path() / "missing.csv", &error));
  EXPECT_THAT(error, HasSubstr("cannot open"));
  EXPECT_FALSE(io.importCSV(directory.path(), &error));
  EXPECT_THAT(error, HasSubstr("not a regular file"));
  std::filesystem::path fifo = directory.path() / "pipe.csv";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(io.importCSV(fifo, &error));  // no writer: must not block
  EXPECT_THAT(error, HasSubstr("not a regular file"));
}

TEST_F(TabuloIOTest, ImportLimitsRefuseHostileFiles) {
  TabuloIO limited(fileSystem, clock,
                   CSVImportLimits{.maxBytes = 64, .maxRows = 4, .maxColumns = 3, .maxCells = 15});
  const struct {
    const char* bytes;
    const char* reason;  // empty: accepted
  } cases[] = {
      {"a,b\nc,d\ne,f\ng,h", ""},                 // 4 records: a grid of 5 x 3 cells
      {"a\nb\nc\nd\ne", "more than 4 records"},
      {"a,b,c,d", "more than 3 fields"},
      {"a,b,c\nd\ne", "more than 15 cells"},       // padded: 4 x 4
      {"a\nb\nc,d,e", "more than 15 cells"},
      {"0123456789012345678901234567890123456789012345678901234567890123456789", "larger than 64 bytes"},
  };
  for (const auto& c : cases) {
    std::filesystem::path path = directory.path() / "limits.csv";
    writeFile(path, c.bytes);
    std::string error;
    auto file = limited.importCSV(path, &error);
    if (*c.reason == '\0') {
      EXPECT_TRUE(file) << c.bytes << ": " << error;
    } else {
      EXPECT_FALSE(file) << c.bytes;
      EXPECT_THAT(error, HasSubstr(c.reason)) << c.bytes;
    }
  }
}

TEST_F(TabuloIOTest, AnImportThatWouldNotFitTheStoreIsRefused) {
  // The same number of bytes and cells; control characters take six bytes
  // each in the store's JSON.
  std::filesystem::path plain = directory.path() / "plain.csv";
  std::filesystem::path control = directory.path() / "control.csv";
  writeFile(plain, std::string(300, 'a'));
  writeFile(control, std::string(300, '\x01'));
  std::optional<size_t> plainSize = SpreadsheetFileJSON::encodedSize(*io.importCSV(plain));
  ASSERT_TRUE(plainSize);
  TabuloIO limited(fileSystem, clock, CSVImportLimits{.maxEncodedBytes = *plainSize + 100});
  EXPECT_TRUE(limited.importCSV(plain));
  std::string error;
  EXPECT_FALSE(limited.importCSV(control, &error));
  EXPECT_THAT(error, HasSubstr("bytes in the store"));

  // The store's own bounds: a file of more cells than a store can hold.
  std::filesystem::path wide = directory.path() / "wide.csv";
  writeFile(wide, std::string(DocumentLimits::kMaxCells / 2, '\n'));  // empty records: 2 cells each
  EXPECT_FALSE(io.importCSV(wide, &error));
  EXPECT_THAT(error, HasSubstr("cells"));
}

TEST_F(TabuloIOTest, ExportOfTheDefaultGrid) {
  SpreadsheetFile file("Budget", *clock);
  auto location = io.exportCSV(file);
  ASSERT_TRUE(location);
  EXPECT_EQ(*location, fileSystem->outputsURL() / "Budget.csv");
  EXPECT_EQ(readFile(*location), ",A,B,C,D\n1,,,,\n2,,,,\n3,,,,\n4,,,,\n");

  file.contents[1][1].text = "changed";
  ASSERT_TRUE(io.exportCSV(file));
  EXPECT_THAT(outputs(), ElementsAre("Budget.csv"));  // replaced, no temporary left
  EXPECT_THAT(readFile(*location), HasSubstr("1,changed,,,\n"));
}

TEST_F(TabuloIOTest, ExportQuotesOnlyTextsThatNeedIt) {
  SpreadsheetFile file("q", *clock);
  file.contents[1][1].text = "a,b";
  file.contents[1][2].text = "say \"hi\"";
  file.contents[2][1].text = "two\nlines";
  file.contents[2][2].text = "it's fine";
  file.contents[0][0].text = "\xEF\xBB\xBF" "corner";
  EXPECT_EQ(TabuloIO::csvText(file),
            "\"\xEF\xBB\xBF" "corner\",A,B,C,D\n1,\"a,b\",\"say \"\"hi\"\"\",,\n2,\"two\nlines\",it's fine,,\n3,,,,\n4,,,,\n");
}

// Exporting and importing gives the document back inside a new header row and
// number column, every text identical.
TEST_F(TabuloIOTest, ExportThenImportKeepsEveryText) {
  std::mt19937 random(5);
  const std::string pieces[] = {"a", ",", "\"", "\n", "\r", "\r\n", " ", "\xC3\xA9", "\xEF\xBB\xBF", "x"};
  for (int trial = 0; trial < 40; ++trial) {
    SpreadsheetFile file("round trip", *clock);
    for (int i = 0, rows = static_cast<int>(random() % 4); i < rows; ++i) file.appendRow();
    for (int i = 0, columns = static_cast<int>(random() % 4); i < columns; ++i) file.appendColumn();
    for (auto& row : file.contents) {
      for (auto& cell : row) {
        cell.text.clear();
        for (size_t n = random() % 6; n > 0; --n) cell.text += pieces[random() % std::size(pieces)];
      }
    }
    auto location = io.exportCSV(file);
    ASSERT_TRUE(location);
    auto imported = io.importCSV(*location);
    ASSERT_TRUE(imported) << TabuloIO::csvText(file);
    ASSERT_EQ(imported->contents.size(), file.contents.size() + 1);
    for (size_t r = 0; r < file.contents.size(); ++r) {
      std::vector<std::string> expected = {std::to_string(r + 1)};
      for (const auto& cell : file.contents[r]) expected.push_back(cell.text);
      ASSERT_EQ(testing::rowTexts(imported->contents[r + 1]), expected) << TabuloIO::csvText(file);
    }
  }
}

TEST_F(TabuloIOTest, ExportNamesAreSafeAndTheTitleIsKept) {
  const std::pair<std::string, std::string> cases[] = {
      {"../../etc/passwd", ".._.._etc_passwd.csv"},
      {"a\\b", "a_b.csv"},
      {"tab\there\x7f", "tab_here_.csv"},
      {"", "Untitled.csv"},
      {".", "Untitled.csv"},
      {"..", "Untitled.csv"},
      {"caf\xC3\xA9 \xE2\x82\xAC", "caf\xC3\xA9 \xE2\x82\xAC.csv"},
      {"c1\xC2\x85" "control", "c1_control.csv"},
      {std::string(300, 'x'), std::string(200, 'x') + ".csv"},
      {std::string(199, 'x') + "\xC3\xA9", std::string(199, 'x') + ".csv"},  // cut at a character boundary
  };
  for (const auto& [title, name] : cases) {
    SpreadsheetFile file(title, *clock);
    auto location = io.exportCSV(file);
    ASSERT_TRUE(location) << title;
    EXPECT_EQ(location->parent_path(), fileSystem->outputsURL());
    EXPECT_EQ(location->filename().string(), name);
    EXPECT_TRUE(std::filesystem::exists(*location));
    EXPECT_EQ(file.title, title);
  }
}

TEST_F(TabuloIOTest, ExportReportsFailure) {
  platform::FileSystem missing(directory.path() / "never-made");
  TabuloIO broken(std::make_shared<platform::FileSystem>(missing), clock);
  std::string error;
  EXPECT_FALSE(broken.exportCSV(SpreadsheetFile("x", *clock), &error));
  EXPECT_THAT(error, HasSubstr("outputs directory"));

  // A directory where the export should go: the rename fails, nothing is left behind.
  std::filesystem::create_directory(fileSystem->outputsURL() / "Taken.csv");
  EXPECT_FALSE(io.exportCSV(SpreadsheetFile("Taken", *clock), &error));
  EXPECT_THAT(outputs(), ElementsAre("Taken.csv"));
  EXPECT_TRUE(std::filesystem::is_directory(fileSystem->outputsURL() / "Taken.csv"));
}

TEST_F(TabuloIOTest, ExportFailuresSayWhichStepFailed) {
  platform::FileSystem missing(directory.path() / "never-made");
  TabuloIO broken(std::make_shared<platform::FileSystem>(missing), clock);
  std::string error;
  EXPECT_FALSE(broken.exportCSV(SpreadsheetFile("x", *clock), &error));
  EXPECT_EQ(error, "cannot create a file in the outputs directory: No such file or directory");

  std::filesystem::create_directory(fileSystem->outputsURL() / "Taken.csv");
  EXPECT_FALSE(io.exportCSV(SpreadsheetFile("Taken", *clock), &error));
  EXPECT_EQ(error, "cannot move the export in place: Is a directory");
}

TEST(FileNames, PlainFileNames) {
  for (const char* name : {"photo.jpg", "0F3C2B1A-1111-4222-8333-444455556666.jpg", ".hidden", "a b", "\xC3\xA9.jpg"}) {
    EXPECT_TRUE(isPlainFileName(name)) << name;
  }
  for (std::string name : {std::string(), std::string("."), std::string(".."), std::string("a/b"),
                           std::string("/etc/passwd"), std::string("..\\x"), std::string("a\nb"),
                           std::string("\xFF"), std::string("a\0b", 3), std::string(256, 'x')}) {
    EXPECT_FALSE(isPlainFileName(name)) << name;
  }
}

}  // namespace
}  // namespace tabulo
