#include "platform/grid/SpreadsheetView.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

#include "platform/grid/Label.h"

// fontconfig leaks a few bytes while it parses its configuration files, once
// per process; that is not ours to fix, so the leak checker is told to skip it.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace platform {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

// A cell that counts how often it was prepared for reuse.
class CountingCell : public Cell {
 public:
  using Cell::Cell;
  void prepareForReuse() override {
    Cell::prepareForReuse();
    ++reuses;
  }
  int reuses = 0;
};

// Answers from plain fields; cells are CountingCells labelled "row,column".
class TableDataSource : public SpreadsheetViewDataSource, public SpreadsheetViewDelegate {
 public:
  int64_t numberOfColumns(SpreadsheetView&) override { return static_cast<int64_t>(widths.size()); }
  int64_t numberOfRows(SpreadsheetView&) override { return static_cast<int64_t>(heights.size()); }
  double widthForColumn(SpreadsheetView&, int64_t column) override { return widths[column]; }
  double heightForRow(SpreadsheetView&, int64_t row) override { return heights[row]; }
  std::shared_ptr<Cell> cellForItemAt(SpreadsheetView& view, const IndexPath& indexPath) override {
    requested.push_back(indexPath);
    return view.dequeueReusableCell("cell", indexPath);
  }
  std::vector<CellRange> mergedCells(SpreadsheetView&) override { return merged; }
  int64_t frozenColumns(SpreadsheetView&) override { return frozen; }
  int64_t frozenRows(SpreadsheetView&) override { return frozen; }

  bool shouldSelectItemAt(SpreadsheetView&, const IndexPath& indexPath) override { return indexPath != refused; }
  void didSelectItemAt(SpreadsheetView&, const IndexPath& indexPath) override { selected.push_back(indexPath); }
  void didDeselectItemAt(SpreadsheetView&, const IndexPath& indexPath) override { deselected.push_back(indexPath); }

  std::vector<double> widths{50, 100, 100, 100};
  std::vector<double> heights{20, 30, 30, 30};
  std::vector<CellRange> merged;
  int64_t frozen = 1;
  IndexPath refused{-1, -1};
  std::vector<IndexPath> requested, selected, deselected;
};

class SpreadsheetViewTest : public ::testing::Test {
 protected:
  void load() {
    view.registerCellClass<CountingCell>("cell");
    view.setDataSource(source);
    view.setDelegate(source);
  }

  std::shared_ptr<TableDataSource> source = std::make_shared<TableDataSource>();
  SpreadsheetView view;
};

TEST_F(SpreadsheetViewTest, LaysOutSizesAndSanitisesNonsense) {
  source->widths = {50, -5, NAN, 100};
  source->frozen = 9;
  load();
  EXPECT_EQ(view.numberOfColumns(), 4);
  EXPECT_EQ(view.columnWidth(1), 0);
  EXPECT_EQ(view.columnWidth(2), 0);
  EXPECT_EQ(view.contentWidth(), 150);
  EXPECT_EQ(view.contentHeight(), 110);
  EXPECT_EQ(view.frozenColumns(), 4);
  EXPECT_EQ(view.frozenRows(), 4);
  EXPECT_EQ(view.rectForItem({2, 3}), (Rect{50, 50, 100, 30}));
  EXPECT_EQ(view.rectForItem({9, 9}), Rect{});
}

TEST_F(SpreadsheetViewTest, MergedBlocksAreClippedAndTheFirstOfOverlappingBlocksWins) {
  source->merged = {CellRange({2, 2}, {1, 1}),   // corners given backwards
                    CellRange({2, 2}, {3, 3}),   // overlaps the first: ignored
                    CellRange({3, 2}, {9, 9}),   // reaches outside: clipped to (3, 2)-(3, 3)
                    CellRange({0, 3}, {0, 3}),   // one cell: an ordinary cell
                    CellRange({7, 0}, {8, 1})};  // wholly outside
  load();
  EXPECT_EQ(view.mergedCells().size(), 5u);
  EXPECT_THAT(view.laidOutMergedCells(), ElementsAre(CellRange({1, 1}, {2, 2}), CellRange({3, 2}, {3, 3})));
  EXPECT_EQ(view.mergedRangeAt({2, 1}), CellRange({1, 1}, {2, 2}));
  EXPECT_FALSE(view.mergedRangeAt({0, 3}));
  EXPECT_EQ(view.rectForItem({2, 2}), (Rect{50, 20, 200, 60}));

  // Every item once, blocks by their top-left cell.
  EXPECT_THAT(view.itemsInRect({0, 0, view.contentWidth(), view.contentHeight()}),
              ElementsAre(IndexPath{0, 0}, IndexPath{0, 1}, IndexPath{0, 2}, IndexPath{0, 3}, IndexPath{1, 0},
                          IndexPath{1, 1}, IndexPath{1, 3}, IndexPath{2, 0}, IndexPath{2, 3}, IndexPath{3, 0},
                          IndexPath{3, 1}, IndexPath{3, 2}));
  // A block is found from any of its cells; edges that only touch the area are out.
  EXPECT_THAT(view.itemsInRect({200, 60, 10, 10}), ElementsAre(IndexPath{1, 1}));
  EXPECT_THAT(view.itemsInRect({0, 0, 50, 20}), ElementsAre(IndexPath{0, 0}));

  // The cell of a block is asked for at its top-left and framed over the block.
  std::shared_ptr<Cell> cell = view.cellForItem({2, 2});
  ASSERT_TRUE(cell);
  EXPECT_THAT(source->requested, ElementsAre(IndexPath{1, 1}));
  EXPECT_EQ(cell->frame(), (Rect{50, 20, 200, 60}));
  EXPECT_EQ(cell->contentView()->frame(), (Rect{0, 0, 200, 60}));
}

TEST_F(SpreadsheetViewTest, ReusesViewsNoLongerShownAndPreparesThemFirst) {
  load();
  auto first = std::dynamic_pointer_cast<CountingCell>(view.cellForItem({1, 1}));
  ASSERT_TRUE(first);
  first->setBackgroundColor(Color{1, 0, 0, 1});
  auto other = view.cellForItem({1, 2});
  EXPECT_NE(other, first);  // the first is still shown

  // Asking again for a shown position puts its view back first, so it comes back prepared.
  auto again = std::dynamic_pointer_cast<CountingCell>(view.cellForItem({1, 1}));
  EXPECT_EQ(again, first);
  EXPECT_EQ(first->reuses, 1);
  EXPECT_FALSE(first->backgroundColor());

  // A reload puts back every shown view.
  view.reloadData();
  EXPECT_EQ(view.visibleCell({1, 1}), nullptr);
  auto afterReload = std::dynamic_pointer_cast<CountingCell>(view.cellForItem({3, 3}));
  EXPECT_TRUE(afterReload == first || afterReload == other);
  EXPECT_EQ(view.dequeueReusableCell("unregistered", {0, 0}), nullptr);
  EXPECT_EQ(view.cellForItem({4, 0}), nullptr);
}

TEST_F(SpreadsheetViewTest, TapsSelectOneOrSeveralCells) {
  source->merged = {CellRange({1, 1}, {2, 2})};
  source->refused = {3, 3};
  load();
  std::shared_ptr<Cell> shown = view.cellForItem({1, 2});

  // Single selection: a tap replaces the selection; a tap in a block selects the block.
  EXPECT_TRUE(view.tapItem({1, 0}));
  EXPECT_TRUE(view.tapItem({2, 2}));
  EXPECT_THAT(view.indexPathsForSelectedItems(), ElementsAre(IndexPath{1, 1}));
  EXPECT_TRUE(shown->isSelected());
  EXPECT_THAT(source->selected, ElementsAre(IndexPath{1, 0}, IndexPath{1, 1}));
  EXPECT_THAT(source->deselected, ElementsAre(IndexPath{1, 0}));

  // Refused, or outside the grid: nothing changes.
  EXPECT_FALSE(view.tapItem({3, 3}));
  EXPECT_FALSE(view.tapItem({4, 0}));
  EXPECT_THAT(view.indexPathsForSelectedItems(), ElementsAre(IndexPath{1, 1}));

  // Multiple selection adds.
  view.setAllowsMultipleSelection(true);
  EXPECT_TRUE(view.tapItem({0, 3}));
  EXPECT_TRUE(view.tapItem({3, 1}));
  EXPECT_THAT(view.indexPathsForSelectedItems(),
              UnorderedElementsAre(IndexPath{1, 1}, IndexPath{0, 3}, IndexPath{3, 1}));

  view.deselectItem({2, 1}, true);
  EXPECT_FALSE(shown->isSelected());
  EXPECT_THAT(view.indexPathsForSelectedItems(), UnorderedElementsAre(IndexPath{0, 3}, IndexPath{3, 1}));

  // A reload drops the selected positions that left the grid.
  source->heights.pop_back();
  view.reloadData();
  EXPECT_THAT(view.indexPathsForSelectedItems(), ElementsAre(IndexPath{0, 3}));
}

TEST_F(SpreadsheetViewTest, RendersAnEmptyGridAsOneSmallPageAndRefusesAHugeOne) {
  source->widths.clear();
  source->heights.clear();
  load();
  Error error;
  std::optional<std::vector<uint8_t>> pdf = view.pdfData(&error);
  ASSERT_TRUE(pdf) << error.toString();
  std::string text(pdf->begin(), pdf->end());
  EXPECT_EQ(text.rfind("%PDF-", 0), 0u);
  EXPECT_NE(text.find("/MediaBox [ 0 0 1 1 ]"), std::string::npos);
  EXPECT_THAT(source->requested, IsEmpty());

  // Sizes too large for any reader are refused, not rendered page after page.
  source->widths = {1e12};
  source->heights = {1e12};
  view.reloadData();
  EXPECT_FALSE(view.pdfData(&error));
  EXPECT_EQ(error.code, kSpreadsheetViewErrorTooLarge);
}

}  // namespace
}  // namespace platform
