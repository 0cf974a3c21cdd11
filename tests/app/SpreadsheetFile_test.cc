#include "app/SpreadsheetFile.h"

#include <regex>
#include <set>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "AppTestSupport.h"

namespace tabulo {
namespace {

using ::testing::ElementsAre;
using testing::gridTexts;
using testing::rowTexts;

using Grid = std::vector<std::vector<std::string>>;

TEST(SpreadsheetFile, DefaultGridIsFiveByFiveWithLettersAndNumbers) {
  platform::ManualClock clock(kReferenceDateOffsetFrom1970 + 100);
  SpreadsheetFile file("Budget", clock);

  EXPECT_EQ(file.title, "Budget");
  EXPECT_EQ(file.creationDate, 100);
  EXPECT_EQ(gridTexts(file), (Grid{{"", "A", "B", "C", "D"},
                                   {"1", "", "", "", ""},
                                   {"2", "", "", "", ""},
                                   {"3", "", "", "", ""},
                                   {"4", "", "", "", ""}}));
  for (const auto& row : file.contents) {
    for (const auto& cell : row) {
      EXPECT_EQ(cell.textAlignment, TextAlignment::left);
      EXPECT_EQ(cell.textColor, (ColorRepresentation{0, 0, 0}));
      EXPECT_EQ(cell.cellColor, (ColorRepresentation{1, 1, 1}));
      EXPECT_FALSE(cell.imagePath);
    }
  }
  EXPECT_THAT(file.rowHeights, ElementsAre(20, 30, 30, 30, 30));
  EXPECT_THAT(file.columnWidths, ElementsAre(50, 100, 100, 100, 100));
  EXPECT_TRUE(file.mergedRanges.empty());
  EXPECT_EQ(file.columnCount(), 5u);
}

TEST(SpreadsheetFile, NewDocumentsGetDistinctCanonicalUUIDs) {
  platform::ManualClock clock;
  std::regex canonical("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    SpreadsheetFile file("x", clock);
    EXPECT_TRUE(std::regex_match(file.uuid, canonical)) << file.uuid;
    seen.insert(file.uuid);
  }
  EXPECT_EQ(seen.size(), 100u);
}

TEST(SpreadsheetFile, ColumnNames) {
  const std::pair<size_t, const char*> cases[] = {{0, "A"},    {1, "B"},    {25, "Z"},    {26, "AA"},
                                                  {27, "AB"},  {51, "AZ"},  {52, "AAA"},  {53, "AAB"},
                                                  {77, "AAZ"}, {78, "AAAA"}};
  for (auto [index, name] : cases) EXPECT_EQ(columnName(index), name) << index;
}

TEST(SpreadsheetFile, RepeatedSizes) {
  EXPECT_THAT(repeatedSizes(0, 20, 30), ElementsAre(20));
  EXPECT_THAT(repeatedSizes(3, 50, 100), ElementsAre(50, 100, 100, 100));
}

TEST(SpreadsheetFile, GridFromRowsKeepsFieldsUnchanged) {
  platform::ManualClock clock;
  SpreadsheetFile file("data", Grid{{"a", " b ", "c"}, {"d", "e", "\"f\""}}, clock);
  EXPECT_EQ(gridTexts(file), (Grid{{"", "A", "B", "C"}, {"1", "a", " b ", "c"}, {"2", "d", "e", "\"f\""}}));
  EXPECT_THAT(file.rowHeights, ElementsAre(20, 30, 30));
  EXPECT_THAT(file.columnWidths, ElementsAre(50, 100, 100, 100));
}

TEST(SpreadsheetFile, GridFromRowsPadsShortRowsAndHandlesNoRows) {
  platform::ManualClock clock;
  SpreadsheetFile ragged("r", Grid{{"a"}, {"b", "c", "d"}, {}}, clock);
  EXPECT_EQ(gridTexts(ragged), (Grid{{"", "A", "B", "C"}, {"1", "a", "", ""}, {"2", "b", "c", "d"}, {"3", "", "", ""}}));
  EXPECT_EQ(ragged.rowHeights.size(), 4u);
  EXPECT_EQ(ragged.columnWidths.size(), 4u);

  SpreadsheetFile empty("e", Grid{}, clock);
  EXPECT_EQ(gridTexts(empty), (Grid{{""}}));
  EXPECT_THAT(empty.rowHeights, ElementsAre(20));
  EXPECT_THAT(empty.columnWidths, ElementsAre(50));
}

TEST(SpreadsheetFile, AppendRowAndColumnGrowTheGridOnly) {
  platform::ManualClock clock;
  SpreadsheetFile file("x", clock);
  file.appendRow();
  EXPECT_THAT(rowTexts(file.contents.back()), ElementsAre("5", "", "", "", ""));
  file.appendColumn();
  EXPECT_THAT(rowTexts(file.contents[0]), ElementsAre("", "A", "B", "C", "D", "E"));
  for (size_t r = 1; r < file.contents.size(); ++r) {
    ASSERT_EQ(file.contents[r].size(), 6u);
    EXPECT_EQ(file.contents[r][5], SpreadsheetCellContent());
  }
  EXPECT_EQ(file.rowHeights.size(), 5u);
  EXPECT_EQ(file.columnWidths.size(), 5u);

  while (file.columnCount() < 27) file.appendColumn();
  EXPECT_EQ(file.contents[0][26].text, "Z");
  file.appendColumn();
  EXPECT_EQ(file.contents[0][27].text, "AA");

  SpreadsheetFile none;
  none.appendRow();
  none.appendColumn();
  EXPECT_TRUE(none.contents.empty());
}

}  // namespace
}  // namespace tabulo
