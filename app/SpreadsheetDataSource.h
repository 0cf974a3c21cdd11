// SpreadsheetDataSource — feeds a document to the grid view and carries out
// the editor's edits on it.
//
// It holds the editor's working copy of the document (`file()`), answers the
// grid's questions (counts, sizes, merged blocks, one frozen row and column,
// the cell view of each position) and is the grid's delegate: every cell may
// be highlighted, selected and deselected, and every selection is passed to
// `onCellSelected`. Each edit changes only the working copy and reloads the
// grid; nothing reaches the document store (the editor saves copies of
// `file()`).
//
// Cells: a position whose content has a photo (header row and number column
// included) is an ImageCell showing the photo file of that name from the
// outputs directory, served from the shared image cache after its first read;
// a missing, unreadable or corrupt photo, or a name that is not a plain file
// name, shows no image. Any other position is a TextCell: header row, number
// column and corner on the 235/255 gray with centred text, body cells on their
// fill colour in their alignment, all in their text colour.
//
// Positions are platform::IndexPath values, `row` the document row and
// `section` the document column. Everything runs on the main thread.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>

#include "app/ImageFetcher.h"
#include "app/SpreadsheetFile.h"
#include "platform/filesystem/FileSystem.h"
#include "platform/grid/SpreadsheetView.h"

namespace tabulo {

// Sizes of the rows and columns that addRows and addColumns append.
inline constexpr float kAddedRowHeight = 30;
inline constexpr float kAddedColumnWidth = 100;
// The diagnostic line updateContent prints, followed by the photo's name or "nil".
inline constexpr const char* kContentUpdatedMessage = "Content udpated: ";

class SpreadsheetDataSource : public platform::SpreadsheetViewDataSource,
                              public platform::SpreadsheetViewDelegate,
                              public std::enable_shared_from_this<SpreadsheetDataSource> {
 public:
  using CellSelectedHandler = std::function<void(const platform::IndexPath&)>;

  // Makes a data source over `spreadsheetView` with a copy of `file`:
  // registers TextCell and ImageCell under their names, then becomes the
  // grid's data source (which loads the grid) and its delegate. Photos are
  // read from `fileSystem`'s outputs directory and kept in `imageFetcher`'s
  // cache.
  static std::shared_ptr<SpreadsheetDataSource> make(
      std::shared_ptr<platform::SpreadsheetView> spreadsheetView, SpreadsheetFile file,
      std::shared_ptr<platform::FileSystem> fileSystem = platform::FileSystem::shared(),
      std::shared_ptr<ImageFetcher> imageFetcher = ImageFetcher::shared());

  const std::shared_ptr<platform::SpreadsheetView>& spreadsheetView() const { return spreadsheetView_; }

  // The working copy of the document. The editor reads it to save and export
  // and writes header sizes into it (then reloads the grid itself).
  SpreadsheetFile& file() { return file_; }
  const SpreadsheetFile& file() const { return file_; }

  // Called with every position the grid reports as selected; does nothing
  // until set.
  void setOnCellSelected(CellSelectedHandler handler) { onCellSelected_ = std::move(handler); }

  // Replaces the text, alignment, colours and photo of the cell at `indexPath`
  // with those of `content` (no photo removes the cell's photo; the photo file
  // stays), prints "Content udpated: " and the photo's name or "nil", and
  // reloads the grid. Sizes and merged blocks are untouched; a position
  // outside the document changes nothing.
  void updateContent(const SpreadsheetCellContent& content, const platform::IndexPath& indexPath);

  // The size a header popup edits: the row's height for column 0 (number
  // column and corner), the column's width for row 0, 0 for a body cell.
  float headerSize(const platform::IndexPath& indexPath) const;

  // The configured view for a position (see above); none when the grid gives
  // back a view of another class than requested or the position lies outside
  // the document.
  std::shared_ptr<platform::Cell> cellForItem(platform::SpreadsheetView& spreadsheetView,
                                              const platform::IndexPath& indexPath);

  // Append `count` columns of width 100 (or rows of height 30) to the
  // document, then reload the grid once, also for a count of 0.
  void addColumns(size_t count);
  void addRows(size_t count);

  // Deselects, animated, every position the grid reports as selected. The grid
  // is not reloaded.
  void clearSelection();

  // Merges the selected body cells: the block from the smallest to the largest
  // selected row and column (unselected cells inside it included) is appended
  // to the document's merged ranges and the grid reloaded. Selected header,
  // number and corner cells are ignored. Nothing changes, and false comes
  // back, when no body cell is selected or the block overlaps a block already
  // in the document.
  bool mergeSelectedCells();

  // SpreadsheetViewDataSource
  int64_t numberOfColumns(platform::SpreadsheetView&) override;
  int64_t numberOfRows(platform::SpreadsheetView&) override;
  double widthForColumn(platform::SpreadsheetView&, int64_t column) override;
  double heightForRow(platform::SpreadsheetView&, int64_t row) override;
  std::shared_ptr<platform::Cell> cellForItemAt(platform::SpreadsheetView& spreadsheetView,
                                                const platform::IndexPath& indexPath) override;
  std::vector<platform::CellRange> mergedCells(platform::SpreadsheetView&) override;
  int64_t frozenColumns(platform::SpreadsheetView&) override { return 1; }
  int64_t frozenRows(platform::SpreadsheetView&) override { return 1; }

  // SpreadsheetViewDelegate
  bool shouldHighlightItemAt(platform::SpreadsheetView&, const platform::IndexPath&) override { return true; }
  bool shouldSelectItemAt(platform::SpreadsheetView&, const platform::IndexPath&) override { return true; }
  bool shouldDeselectItemAt(platform::SpreadsheetView&, const platform::IndexPath&) override { return true; }
  void didSelectItemAt(platform::SpreadsheetView&, const platform::IndexPath& indexPath) override;

  // Only make() can name this key, so every data source is wired to its grid.
  class MakeKey {
    friend class SpreadsheetDataSource;
    MakeKey() = default;
  };
  SpreadsheetDataSource(MakeKey, std::shared_ptr<platform::SpreadsheetView> spreadsheetView, SpreadsheetFile file,
                        std::shared_ptr<platform::FileSystem> fileSystem, std::shared_ptr<ImageFetcher> imageFetcher);

 private:
  const SpreadsheetCellContent* contentAt(const platform::IndexPath& indexPath) const;
  std::shared_ptr<const platform::Image> photo(const std::string& name);

  std::shared_ptr<platform::SpreadsheetView> spreadsheetView_;
  SpreadsheetFile file_;
  CellSelectedHandler onCellSelected_ = [](const platform::IndexPath&) {};
  std::shared_ptr<platform::FileSystem> fileSystem_;
  std::shared_ptr<ImageFetcher> imageFetcher_;
};

}  // namespace tabulo
