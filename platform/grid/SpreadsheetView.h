// platform::SpreadsheetView — the grid view: a model of a scrolling grid with
// frozen leading rows and columns, merged blocks, reusable cell views,
// selection and a PDF rendering of its content.
//
// Feeding it: set a data source (SpreadsheetViewDataSource) and a delegate
// (SpreadsheetViewDelegate), both held weakly, register a cell class per reuse
// identifier, and call reloadData(). A reload asks the data source for the
// counts, every row height and column width, the merged blocks and the frozen
// lines, and lays the grid out; everything below reads that layout until the
// next reload. Positions are IndexPath values (`row`, `section` = column).
//
// Merged blocks: the part of each block inside the grid is laid out; a block
// that overlaps a block laid out before it is ignored (the first one wins),
// and a block of a single cell is an ordinary cell. A merged block is one item
// named by its top-left position: its cell is asked for there, drawn once over
// the whole block, and a touch anywhere inside it selects that position.
//
// Cells: cellForItem(indexPath) asks the data source for the view of a
// position and shows it there (frame and selected state set by the grid). Views
// come from dequeueReusableCell: a new view of the registered class, or one no
// longer shown, after its prepareForReuse(). Every request configures a view
// afresh, so a view never carries over another position's content. A reload
// puts every shown view back for reuse.
//
// Selection: tapItem(indexPath) is a user's touch. It asks the delegate whether
// the position may be selected and reports didSelectItemAt. Without multiple
// selection a touch replaces the selection (the previous positions are
// deselected and reported); with it, a touch adds to it. deselectItem() is the
// programmatic deselection and reports nothing.
//
// What is on screen: the renderer reports the part of the content it shows
// (setVisibleRect, as a scroll view's bounds move); until it does, the
// top-left of a typical screen is assumed. itemsToShow() answers the items of
// that rect grown by a margin, with the frozen rows' and columns' items along
// it, so that a renderer of a large grid is handed only what it can show;
// recycleAllBut() puts the views of everything else back for reuse.
//
// pdfData() renders the whole content, every row and column in place, on one
// PDF page of the content's size in points, or tiled over several pages when
// the content is larger than a PDF page (kMaxPDFPageSide on a side). Selection
// is not drawn.
//
// Everything runs on one thread (the main thread).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Error.h"
#include "platform/grid/Cell.h"
#include "platform/grid/CellRange.h"
#include "platform/grid/IndexPath.h"
#include "platform/grid/SpreadsheetViewDataSource.h"
#include "platform/grid/SpreadsheetViewDelegate.h"

namespace platform {

inline constexpr const char* kSpreadsheetViewErrorDomain = "platform.spreadsheetview";
enum SpreadsheetViewErrorCode : int64_t {
  kSpreadsheetViewErrorRendering = 1,  // the PDF could not be made
  kSpreadsheetViewErrorTooLarge = 2,   // the content would need more than kMaxPDFPages pages
};

class SpreadsheetView {
 public:
  // The largest page side, in points, that PDF readers accept.
  static constexpr double kMaxPDFPageSide = 14400;
  // The most pages one rendering makes; larger content is refused.
  static constexpr double kMaxPDFPages = 10000;

  using CellFactory = std::function<std::shared_ptr<Cell>(const Rect& frame)>;

  SpreadsheetView() = default;
  virtual ~SpreadsheetView() = default;
  SpreadsheetView(const SpreadsheetView&) = delete;
  SpreadsheetView& operator=(const SpreadsheetView&) = delete;

  // Setting the data source loads the grid from it (a reload).
  void setDataSource(std::weak_ptr<SpreadsheetViewDataSource> dataSource);
  void setDelegate(std::weak_ptr<SpreadsheetViewDelegate> delegate) { delegate_ = std::move(delegate); }

  // Later requests for `identifier` give views made by `factory` (or reused).
  void registerCell(const std::string& identifier, CellFactory factory);
  template <typename CellClass>
  void registerCellClass(const std::string& identifier) {
    registerCell(identifier, [](const Rect& frame) { return std::make_shared<CellClass>(frame); });
  }
  // A view of the class registered under `identifier`, reused or new; none
  // when nothing is registered under it.
  std::shared_ptr<Cell> dequeueReusableCell(const std::string& identifier, const IndexPath& indexPath);

  // Asks the data source all its questions again and lays the grid out.
  void reloadData();
  // How many times the grid has reloaded.
  int64_t reloadCount() const { return reloadCount_; }

  // The layout of the last reload.
  int64_t numberOfRows() const { return static_cast<int64_t>(rowOffsets_.size()) - 1; }
  int64_t numberOfColumns() const { return static_cast<int64_t>(columnOffsets_.size()) - 1; }
  double rowHeight(int64_t row) const;
  double columnWidth(int64_t column) const;
  int64_t frozenRows() const { return frozenRows_; }
  int64_t frozenColumns() const { return frozenColumns_; }
  // The blocks as the data source gave them, and those laid out (clipped to
  // the grid, overlaps and single cells dropped).
  const std::vector<CellRange>& mergedCells() const { return mergedCells_; }
  const std::vector<CellRange>& laidOutMergedCells() const { return blocks_; }
  // The laid-out block that covers `indexPath`, if any.
  [[nodiscard]] std::optional<CellRange> mergedRangeAt(const IndexPath& indexPath) const;
  // Width and height of the whole content.
  double contentWidth() const { return columnOffsets_.back(); }
  double contentHeight() const { return rowOffsets_.back(); }
  bool contains(const IndexPath& indexPath) const;
  // Where the item at `indexPath` lies in the content: the cell's rectangle,
  // or its block's when the position lies in a merged block.
  Rect rectForItem(const IndexPath& indexPath) const;
  // The positions of the items (cells, and blocks by their top-left cell)
  // that meet `area`, row by row; each block once.
  std::vector<IndexPath> itemsInRect(const Rect& area) const;

  // The part of the content on screen; its origin is kept at 0 or more and
  // its sides between 1 and kMaxVisibleSide points.
  static constexpr double kMaxVisibleSide = 4096;
  static constexpr Rect kDefaultVisibleRect{0, 0, 1280, 1024};
  const Rect& visibleRect() const { return visibleRect_; }
  void setVisibleRect(const Rect& rect);
  // The items meeting the visible rect grown by `margin` on every side, and
  // those of the frozen rows and columns beside it, row by row, each once.
  std::vector<IndexPath> itemsToShow(double margin) const;
  // Puts back for reuse the view shown for every item not in `items`.
  void recycleAllBut(const std::vector<IndexPath>& kept);

  // Asks the data source for the view of the item at `indexPath` and shows it
  // there; none for a position outside the grid or when the data source gives
  // none. The view shown there before goes back for reuse.
  std::shared_ptr<Cell> cellForItem(const IndexPath& indexPath);
  // The view shown at `indexPath` now, if any.
  std::shared_ptr<Cell> visibleCell(const IndexPath& indexPath) const;

  bool allowsMultipleSelection() const { return allowsMultipleSelection_; }
  void setAllowsMultipleSelection(bool allows) { allowsMultipleSelection_ = allows; }
  // A user's touch on `indexPath` (see above). False when the position lies
  // outside the grid or the delegate refused the selection.
  bool tapItem(const IndexPath& indexPath);
  // Every selected position, in no particular order.
  std::vector<IndexPath> indexPathsForSelectedItems() const;
  virtual void deselectItem(const IndexPath& indexPath, bool animated);

  // The content rendered as one PDF document; none (and why) when the content
  // needs more than kMaxPDFPages pages or cairo fails.
  [[nodiscard]] std::optional<std::vector<uint8_t>> pdfData(Error* error = nullptr);

 private:
  // The item position for `indexPath`: the top-left cell of its block.
  IndexPath itemOrigin(const IndexPath& indexPath) const;
  // Asks the data source for the view of an item and sets its frame, without
  // showing it.
  std::shared_ptr<Cell> makeCell(const IndexPath& item);
  void recycle(const std::shared_ptr<Cell>& cell);
  void layOutMergedCells();
  int64_t blockIndexAt(int64_t row, int64_t column) const;

  std::weak_ptr<SpreadsheetViewDataSource> dataSource_;
  std::weak_ptr<SpreadsheetViewDelegate> delegate_;
  std::map<std::string, CellFactory> factories_;
  std::map<std::string, std::vector<std::shared_ptr<Cell>>> reusable_;
  std::map<IndexPath, std::shared_ptr<Cell>> visible_;

  int64_t reloadCount_ = 0;
  std::vector<double> rowOffsets_{0};     // rowOffsets_[r] is the top of row r; one more than rows
  std::vector<double> columnOffsets_{0};  // likewise for the columns' left edges
  int64_t frozenRows_ = 0;
  int64_t frozenColumns_ = 0;
  std::vector<CellRange> mergedCells_;
  std::vector<CellRange> blocks_;
  std::vector<int32_t> blockOfCell_;  // rows x columns block indexes, -1 outside blocks; empty without blocks

  bool allowsMultipleSelection_ = false;
  std::vector<IndexPath> selected_;
  Rect visibleRect_ = kDefaultVisibleRect;
};

}  // namespace platform
