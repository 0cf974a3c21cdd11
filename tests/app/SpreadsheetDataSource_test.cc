#include "app/SpreadsheetDataSource.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "GridTestSupport.h"
#include "app/ImageCell.h"
#include "app/TextCell.h"

namespace tabulo {
namespace {

using platform::Color;
using platform::IndexPath;
using platform::Label;
using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

const Color kHeaderGray{235.0 / 255, 235.0 / 255, 235.0 / 255, 1};

class SpreadsheetDataSourceTest : public ::testing::Test {
 protected:
  SpreadsheetDataSourceTest() : file("Sheet", clock) {}

  std::shared_ptr<SpreadsheetDataSource> make() { return SpreadsheetDataSource::make(grid, file, fileSystem, fetcher); }
  std::filesystem::path photoPath(const std::string& name) const { return outputs.path() / name; }

  platform::ManualClock clock;
  SpreadsheetFile file;
  testing::TemporaryDirectory outputs;
  std::shared_ptr<platform::FileSystem> fileSystem = std::make_shared<platform::FileSystem>(outputs.path());
  std::shared_ptr<ImageFetcher> fetcher = std::make_shared<ImageFetcher>();
  std::shared_ptr<testing::RecordingSpreadsheetView> grid = std::make_shared<testing::RecordingSpreadsheetView>();
};

TEST_F(SpreadsheetDataSourceTest, TellsTheGridTheDefaultDocumentsShape) {
  auto dataSource = make();
  platform::SpreadsheetView& view = *grid;
  EXPECT_EQ(dataSource->numberOfColumns(view), 5);
  EXPECT_EQ(dataSource->numberOfRows(view), 5);
  std::vector<double> widths, heights;
  for (int64_t i = 0; i < 5; ++i) {
    widths.push_back(dataSource->widthForColumn(view, i));
    heights.push_back(dataSource->heightForRow(view, i));
  }
  EXPECT_THAT(widths, ElementsAre(50, 100, 100, 100, 100));
  EXPECT_THAT(heights, ElementsAre(20, 30, 30, 30, 30));
  EXPECT_TRUE(dataSource->mergedCells(view).empty());
  EXPECT_EQ(dataSource->frozenColumns(view), 1);
  EXPECT_EQ(dataSource->frozenRows(view), 1);

  // Making the data source wired and loaded the grid.
  EXPECT_EQ(grid->numberOfRows(), 5);
  EXPECT_EQ(grid->numberOfColumns(), 5);
  EXPECT_EQ(grid->frozenRows(), 1);
  EXPECT_EQ(grid->frozenColumns(), 1);
  EXPECT_EQ(grid->contentWidth(), 450);
  EXPECT_EQ(grid->contentHeight(), 140);
}

TEST_F(SpreadsheetDataSourceTest, DrawsHeadersOnGrayCentredAndBodyCellsInTheirOwnLook) {
  SpreadsheetCellContent styled("x");
  styled.textAlignment = TextAlignment::right;
  styled.cellColor = {1, 0, 0};
  styled.textColor = {0, 0.5f, 0};
  for (auto [row, column] : {std::pair{0, 0}, std::pair{0, 2}, std::pair{3, 0}, std::pair{2, 3}}) {
    file.contents[row][column] = styled;
  }
  auto dataSource = make();

  struct Case {
    IndexPath position;
    Color background;
    Label::Alignment alignment;
  };
  const Case cases[] = {
      {{0, 0}, kHeaderGray, Label::Alignment::center},  // corner
      {{0, 2}, kHeaderGray, Label::Alignment::center},  // header row
      {{3, 0}, kHeaderGray, Label::Alignment::center},  // number column
      {{2, 3}, Color{1, 0, 0, 1}, Label::Alignment::right},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.position));
    auto cell = std::dynamic_pointer_cast<TextCell>(grid->cellForItem(c.position));
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->backgroundColor(), c.background);
    EXPECT_EQ(cell->label()->textAlignment(), c.alignment);
    EXPECT_EQ(cell->label()->textColor(), (Color{0, 0.5, 0, 1}));
    EXPECT_EQ(cell->label()->text(), "x");
  }
  // An unstyled body cell: black on white, left-aligned.
  auto plain = std::dynamic_pointer_cast<TextCell>(grid->cellForItem({1, 1}));
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->backgroundColor(), (Color{1, 1, 1, 1}));
  EXPECT_EQ(plain->label()->textAlignment(), Label::Alignment::left);
}

TEST_F(SpreadsheetDataSourceTest, PhotoCellsReadTheirFileOnceAndShowNothingForABadPhoto) {
  testing::writeBytes(photoPath("wide.jpg"), testing::makeJPEG(40, 20, {255, 0, 0}));
  testing::writeBytes(photoPath("corrupt.jpg"), {0xFF, 0xD8, 0xFF, 0xE0, 0x00});
  testing::writeBytes(outputs.path().parent_path() / "outside.jpg", testing::makeJPEG(8, 8, {0, 0, 255}));
  file.contents[0][1].imagePath = "wide.jpg";  // a photo in the header row
  file.contents[2][2].imagePath = "wide.jpg";
  file.contents[3][3].imagePath = "missing.jpg";
  file.contents[3][4].imagePath = "corrupt.jpg";
  file.contents[4][4].imagePath = "../outside.jpg";
  auto dataSource = make();

  for (IndexPath position : {IndexPath{0, 1}, IndexPath{2, 2}}) {
    auto cell = std::dynamic_pointer_cast<ImageCell>(grid->cellForItem(position));
    ASSERT_TRUE(cell);
    ASSERT_TRUE(cell->imageView()->image());
    EXPECT_EQ(cell->imageView()->image()->width(), 40);
    EXPECT_FALSE(cell->backgroundColor());  // an image cell gets no fill
  }
  EXPECT_EQ(fetcher->cache().count(), 1u);

  // Once cached, the file is not read again.
  std::filesystem::remove(photoPath("wide.jpg"));
  auto again = std::dynamic_pointer_cast<ImageCell>(grid->cellForItem({2, 2}));
  ASSERT_TRUE(again);
  EXPECT_TRUE(again->imageView()->image());

  // The views just shown go back for reuse on reload; a reused image cell
  // whose photo cannot be shown must not keep the earlier photo.
  grid->reloadData();
  for (IndexPath position : {IndexPath{3, 3}, IndexPath{3, 4}, IndexPath{4, 4}}) {
    SCOPED_TRACE(::testing::PrintToString(position));
    auto cell = std::dynamic_pointer_cast<ImageCell>(grid->cellForItem(position));
    ASSERT_TRUE(cell);
    EXPECT_FALSE(cell->imageView()->image());
  }
  EXPECT_EQ(fetcher->cache().count(), 1u);
}

TEST_F(SpreadsheetDataSourceTest, HeaderSizeIsTheRowHeightOrColumnWidth) {
  auto dataSource = make();
  EXPECT_EQ(dataSource->headerSize({0, 0}), 20);
  EXPECT_EQ(dataSource->headerSize({0, 3}), 100);
  EXPECT_EQ(dataSource->headerSize({2, 0}), 30);
  EXPECT_EQ(dataSource->headerSize({2, 3}), 0);
}

TEST_F(SpreadsheetDataSourceTest, AddingRowsAndColumnsGrowsTheDocumentAndReloadsOnce) {
  auto dataSource = make();
  int64_t reloads = grid->reloadCount();

  dataSource->addRows(2);
  EXPECT_EQ(grid->reloadCount(), reloads + 1);
  EXPECT_EQ(dataSource->file().contents[5][0].text, "5");
  EXPECT_EQ(dataSource->file().contents[6][0].text, "6");
  EXPECT_THAT(dataSource->file().rowHeights, ElementsAre(20, 30, 30, 30, 30, 30, 30));
  EXPECT_EQ(grid->numberOfRows(), 7);

  dataSource->addColumns(1);
  EXPECT_EQ(grid->reloadCount(), reloads + 2);
  EXPECT_EQ(dataSource->file().contents[0][5].text, "E");
  EXPECT_EQ(dataSource->file().columnWidths.back(), 100);
  EXPECT_EQ(grid->numberOfColumns(), 6);

  SpreadsheetFile before = dataSource->file();
  dataSource->addRows(0);
  dataSource->addColumns(0);
  EXPECT_EQ(grid->reloadCount(), reloads + 4);
  EXPECT_EQ(dataSource->file(), before);
}

TEST_F(SpreadsheetDataSourceTest, MergesTheBlockSpannedByTheSelectedBodyCells) {
  using platform::CellRange;
  struct Case {
    const char* name;
    std::vector<IndexPath> selected;
    std::optional<CellRange> block;
  };
  const Case cases[] = {
      {"two corners", {{1, 1}, {2, 3}}, CellRange({1, 1}, {2, 3})},
      {"corners given the other way", {{2, 1}, {1, 3}}, CellRange({1, 1}, {2, 3})},
      {"header cells ignored", {{0, 2}, {3, 1}}, CellRange({3, 1}, {3, 1})},
      {"only header cells", {{0, 2}, {2, 0}, {0, 0}}, std::nullopt},
      {"nothing selected", {}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    grid = std::make_shared<testing::RecordingSpreadsheetView>();
    auto dataSource = make();
    grid->setAllowsMultipleSelection(true);
    for (IndexPath position : c.selected) grid->tapItem(position);
    int64_t reloads = grid->reloadCount();

    EXPECT_EQ(dataSource->mergeSelectedCells(), c.block.has_value());
    if (c.block) {
      EXPECT_THAT(dataSource->file().mergedRanges, ElementsAre(*c.block));
      EXPECT_EQ(grid->reloadCount(), reloads + 1);
    } else {
      EXPECT_TRUE(dataSource->file().mergedRanges.empty());
      EXPECT_EQ(grid->reloadCount(), reloads);
    }
  }
}

TEST_F(SpreadsheetDataSourceTest, MergingRefusesABlockOverlappingAnExistingOne) {
  auto dataSource = make();
  grid->setAllowsMultipleSelection(true);
  grid->tapItem({1, 1});
  grid->tapItem({2, 2});
  ASSERT_TRUE(dataSource->mergeSelectedCells());
  EXPECT_EQ(grid->mergedRangeAt({2, 2}), platform::CellRange({1, 1}, {2, 2}));

  // The same selection again, and a block that shares one cell.
  EXPECT_FALSE(dataSource->mergeSelectedCells());
  dataSource->clearSelection();
  grid->tapItem({2, 2});  // inside the block: selects the block at (1, 1)
  grid->tapItem({3, 3});
  int64_t reloads = grid->reloadCount();
  EXPECT_FALSE(dataSource->mergeSelectedCells());
  EXPECT_EQ(dataSource->file().mergedRanges.size(), 1u);
  EXPECT_EQ(grid->reloadCount(), reloads);

  // A block beside it is fine.
  dataSource->clearSelection();
  grid->tapItem({3, 3});
  grid->tapItem({4, 4});
  EXPECT_TRUE(dataSource->mergeSelectedCells());
  EXPECT_EQ(dataSource->file().mergedRanges.size(), 2u);
}

TEST_F(SpreadsheetDataSourceTest, StoredOverlappingRangesLoadAndTheFirstWins) {
  file.mergedRanges = {platform::CellRange({1, 1}, {2, 2}), platform::CellRange({2, 2}, {3, 3}),
                       platform::CellRange({3, 3}, {4, 4})};
  auto dataSource = make();
  EXPECT_EQ(dataSource->mergedCells(*grid).size(), 3u);
  EXPECT_THAT(grid->laidOutMergedCells(),
              ElementsAre(platform::CellRange({1, 1}, {2, 2}), platform::CellRange({3, 3}, {4, 4})));
  EXPECT_EQ(grid->rectForItem({2, 2}), (platform::Rect{50, 20, 200, 60}));
}

TEST_F(SpreadsheetDataSourceTest, UpdatingAPhotoCellWithoutAPhotoTurnsItBackIntoText) {
  testing::writeBytes(photoPath("photo.jpg"), testing::makeJPEG(8, 8, {0, 0, 255}));
  auto dataSource = make();
  SpreadsheetCellContent withPhoto("ignored");
  withPhoto.imagePath = "photo.jpg";

  ::testing::internal::CaptureStdout();
  dataSource->updateContent(withPhoto, {2, 3});
  EXPECT_TRUE(std::dynamic_pointer_cast<ImageCell>(grid->cellForItem({2, 3})));

  SpreadsheetCellContent text("hello");
  text.textAlignment = TextAlignment::center;
  text.cellColor = {0, 1, 0};
  int64_t reloads = grid->reloadCount();
  dataSource->updateContent(text, {2, 3});
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Content udpated: photo.jpg\nContent udpated: nil\n");

  EXPECT_EQ(grid->reloadCount(), reloads + 1);
  EXPECT_EQ(dataSource->file().contents[2][3], text);
  auto cell = std::dynamic_pointer_cast<TextCell>(grid->cellForItem({2, 3}));
  ASSERT_TRUE(cell);
  EXPECT_EQ(cell->label()->text(), "hello");
  EXPECT_EQ(cell->backgroundColor(), (Color{0, 1, 0, 1}));
  EXPECT_TRUE(std::filesystem::exists(photoPath("photo.jpg")));
}

TEST_F(SpreadsheetDataSourceTest, SelectionsReachTheEditorAndClearSelectionDeselectsAnimated) {
  auto dataSource = make();
  std::vector<IndexPath> reported;
  dataSource->setOnCellSelected([&](const IndexPath& position) { reported.push_back(position); });
  grid->setAllowsMultipleSelection(true);
  for (IndexPath position : {IndexPath{1, 1}, IndexPath{0, 2}, IndexPath{3, 4}}) grid->tapItem(position);
  EXPECT_THAT(reported, ElementsAre(IndexPath{1, 1}, IndexPath{0, 2}, IndexPath{3, 4}));

  int64_t reloads = grid->reloadCount();
  dataSource->clearSelection();
  EXPECT_THAT(grid->deselected, UnorderedElementsAre(std::pair{IndexPath{1, 1}, true}, std::pair{IndexPath{0, 2}, true},
                                                     std::pair{IndexPath{3, 4}, true}));
  EXPECT_TRUE(grid->indexPathsForSelectedItems().empty());
  EXPECT_EQ(grid->reloadCount(), reloads);
}

}  // namespace
}  // namespace tabulo
