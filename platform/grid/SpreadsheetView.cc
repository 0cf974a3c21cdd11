#include "platform/grid/SpreadsheetView.h"

#include <algorithm>
#include <cmath>

namespace platform {
namespace {

// Counts and sizes come from a data source; guard the layout against answers
// that make no sense.
constexpr int64_t kMaxLines = 10'000'000;
constexpr int64_t kMaxDenseBlockMap = 16'000'000;

int64_t sanitizedCount(int64_t count) { return std::clamp<int64_t>(count, 0, kMaxLines); }

double sanitizedSize(double size) { return std::isfinite(size) && size > 0 ? size : 0; }

// Index of the line whose span [offsets[i], offsets[i + 1]) holds `position`.
int64_t lineAt(const std::vector<double>& offsets, double position) {
  auto it = std::upper_bound(offsets.begin(), offsets.end(), position);
  return static_cast<int64_t>(it - offsets.begin()) - 1;
}

}  // namespace

void SpreadsheetView::setDataSource(std::weak_ptr<SpreadsheetViewDataSource> dataSource) {
  dataSource_ = std::move(dataSource);
  reloadData();
}

void SpreadsheetView::registerCell(const std::string& identifier, CellFactory factory) {
  factories_[identifier] = std::move(factory);
  reusable_.erase(identifier);
}

std::shared_ptr<Cell> SpreadsheetView::dequeueReusableCell(const std::string& identifier, const IndexPath&) {
  auto& pool = reusable_[identifier];
  if (!pool.empty()) {
    std::shared_ptr<Cell> cell = std::move(pool.back());
    pool.pop_back();
    cell->prepareForReuse();
    return cell;
  }
  auto factory = factories_.find(identifier);
  if (factory == factories_.end()) return nullptr;
  std::shared_ptr<Cell> cell = factory->second(Rect{});
  if (cell) cell->reuseIdentifier_ = identifier;
  return cell;
}

void SpreadsheetView::recycle(const std::shared_ptr<Cell>& cell) {
  if (!cell || cell->reuseIdentifier_.empty() || !factories_.count(cell->reuseIdentifier_)) return;
  reusable_[cell->reuseIdentifier_].push_back(cell);
}

void SpreadsheetView::reloadData() {
  ++reloadCount_;
  for (auto& [indexPath, cell] : visible_) recycle(cell);
  visible_.clear();

  rowOffsets_.assign(1, 0);
  columnOffsets_.assign(1, 0);
  frozenRows_ = frozenColumns_ = 0;
  mergedCells_.clear();
  std::shared_ptr<SpreadsheetViewDataSource> dataSource = dataSource_.lock();
  if (dataSource) {
    int64_t columns = sanitizedCount(dataSource->numberOfColumns(*this));
    int64_t rows = sanitizedCount(dataSource->numberOfRows(*this));
    columnOffsets_.reserve(columns + 1);
    for (int64_t c = 0; c < columns; ++c) {
      columnOffsets_.push_back(columnOffsets_.back() + sanitizedSize(dataSource->widthForColumn(*this, c)));
    }
    rowOffsets_.reserve(rows + 1);
    for (int64_t r = 0; r < rows; ++r) {
      rowOffsets_.push_back(rowOffsets_.back() + sanitizedSize(dataSource->heightForRow(*this, r)));
    }
    mergedCells_ = dataSource->mergedCells(*this);
    frozenColumns_ = std::clamp<int64_t>(dataSource->frozenColumns(*this), 0, columns);
    frozenRows_ = std::clamp<int64_t>(dataSource->frozenRows(*this), 0, rows);
  }
  layOutMergedCells();

  // Positions that left the grid are no longer selected.
  std::erase_if(selected_, [&](const IndexPath& indexPath) { return !contains(indexPath); });
  for (IndexPath& indexPath : selected_) indexPath = itemOrigin(indexPath);
  std::sort(selected_.begin(), selected_.end());
  selected_.erase(std::unique(selected_.begin(), selected_.end()), selected_.end());
}

void SpreadsheetView::layOutMergedCells() {
  blocks_.clear();
  blockOfCell_.clear();
  const int64_t rows = numberOfRows();
  const int64_t columns = numberOfColumns();
  const bool dense = rows * columns <= kMaxDenseBlockMap;
  for (const CellRange& range : mergedCells_) {
    if (range.topRow() >= rows || range.leftColumn() >= columns) continue;
    CellRange block({range.topRow(), range.leftColumn()},
                    {std::min(range.bottomRow(), rows - 1), std::min(range.rightColumn(), columns - 1)});
    if (block.topRow() == block.bottomRow() && block.leftColumn() == block.rightColumn()) continue;
    int64_t area = (block.bottomRow() - block.topRow() + 1) * (block.rightColumn() - block.leftColumn() + 1);
    bool taken = false;
    if (dense && area <= static_cast<int64_t>(blocks_.size())) {
      for (int64_t r = block.topRow(); r <= block.bottomRow() && !taken; ++r) {
        for (int64_t c = block.leftColumn(); c <= block.rightColumn() && !taken; ++c) {
          taken = blockIndexAt(r, c) >= 0;
        }
      }
    } else {
      taken =
          std::any_of(blocks_.begin(), blocks_.end(), [&](const CellRange& laid) { return laid.intersects(block); });
    }
    if (taken) continue;
    if (dense) {
      if (blockOfCell_.empty()) blockOfCell_.assign(static_cast<size_t>(rows * columns), -1);
      for (int64_t r = block.topRow(); r <= block.bottomRow(); ++r) {
        std::fill_n(blockOfCell_.begin() + r * columns + block.leftColumn(),
                    block.rightColumn() - block.leftColumn() + 1, static_cast<int32_t>(blocks_.size()));
      }
    }
    blocks_.push_back(block);
  }
}

int64_t SpreadsheetView::blockIndexAt(int64_t row, int64_t column) const {
  if (blocks_.empty()) return -1;
  if (!blockOfCell_.empty()) return blockOfCell_[static_cast<size_t>(row * numberOfColumns() + column)];
  for (size_t i = 0; i < blocks_.size(); ++i) {
    const CellRange& block = blocks_[i];
    if (row >= block.topRow() && row <= block.bottomRow() && column >= block.leftColumn() &&
        column <= block.rightColumn()) {
      return static_cast<int64_t>(i);
    }
  }
  return -1;
}

double SpreadsheetView::rowHeight(int64_t row) const {
  if (row < 0 || row >= numberOfRows()) return 0;
  return rowOffsets_[row + 1] - rowOffsets_[row];
}

double SpreadsheetView::columnWidth(int64_t column) const {
  if (column < 0 || column >= numberOfColumns()) return 0;
  return columnOffsets_[column + 1] - columnOffsets_[column];
}

bool SpreadsheetView::contains(const IndexPath& indexPath) const {
  return indexPath.row >= 0 && indexPath.row < numberOfRows() && indexPath.section >= 0 &&
         indexPath.section < numberOfColumns();
}

std::optional<CellRange> SpreadsheetView::mergedRangeAt(const IndexPath& indexPath) const {
  if (!contains(indexPath)) return std::nullopt;
  int64_t index = blockIndexAt(indexPath.row, indexPath.section);
  if (index < 0) return std::nullopt;
  return blocks_[static_cast<size_t>(index)];
}

IndexPath SpreadsheetView::itemOrigin(const IndexPath& indexPath) const {
  std::optional<CellRange> block = mergedRangeAt(indexPath);
  if (!block) return indexPath;
  return {block->topRow(), block->leftColumn()};
}

Rect SpreadsheetView::rectForItem(const IndexPath& indexPath) const {
  if (!contains(indexPath)) return {};
  int64_t top = indexPath.row, bottom = indexPath.row, left = indexPath.section, right = indexPath.section;
  if (std::optional<CellRange> block = mergedRangeAt(indexPath)) {
    top = block->topRow();
    bottom = block->bottomRow();
    left = block->leftColumn();
    right = block->rightColumn();
  }
  return {columnOffsets_[left], rowOffsets_[top], columnOffsets_[right + 1] - columnOffsets_[left],
          rowOffsets_[bottom + 1] - rowOffsets_[top]};
}

std::vector<IndexPath> SpreadsheetView::itemsInRect(const Rect& area) const {
  std::vector<IndexPath> items;
  if (numberOfRows() == 0 || numberOfColumns() == 0 || area.width <= 0 || area.height <= 0) return items;
  int64_t firstRow = std::max<int64_t>(0, lineAt(rowOffsets_, area.y));
  int64_t lastRow = std::min(numberOfRows() - 1, lineAt(rowOffsets_, area.maxY()));
  int64_t firstColumn = std::max<int64_t>(0, lineAt(columnOffsets_, area.x));
  int64_t lastColumn = std::min(numberOfColumns() - 1, lineAt(columnOffsets_, area.maxX()));
  std::vector<bool> blockSeen(blocks_.size(), false);
  for (int64_t r = firstRow; r <= lastRow; ++r) {
    for (int64_t c = firstColumn; c <= lastColumn; ++c) {
      IndexPath item{r, c};
      int64_t block = blockIndexAt(r, c);
      if (block >= 0) {
        if (blockSeen[static_cast<size_t>(block)]) continue;
        blockSeen[static_cast<size_t>(block)] = true;
        item = {blocks_[static_cast<size_t>(block)].topRow(), blocks_[static_cast<size_t>(block)].leftColumn()};
      }
      if (rectForItem(item).intersects(area)) items.push_back(item);
    }
  }
  return items;
}

void SpreadsheetView::setVisibleRect(const Rect& rect) {
  auto side = [](double value) { return std::isfinite(value) ? std::clamp(value, 1.0, kMaxVisibleSide) : 1.0; };
  auto origin = [](double value) { return std::isfinite(value) ? std::clamp(value, 0.0, 1e15) : 0.0; };
  visibleRect_ = {origin(rect.x), origin(rect.y), side(rect.width), side(rect.height)};
}

std::vector<IndexPath> SpreadsheetView::itemsToShow(double margin) const {
  margin = std::isfinite(margin) ? std::clamp(margin, 0.0, kMaxVisibleSide) : 0.0;
  const Rect window{std::max(0.0, visibleRect_.x - margin), std::max(0.0, visibleRect_.y - margin),
                    visibleRect_.width + 2 * margin, visibleRect_.height + 2 * margin};
  const double frozenHeight = rowOffsets_[static_cast<size_t>(std::min(frozenRows_, numberOfRows()))];
  const double frozenWidth = columnOffsets_[static_cast<size_t>(std::min(frozenColumns_, numberOfColumns()))];
  std::vector<IndexPath> items;
  for (const Rect& area : {Rect{0, 0, frozenWidth, frozenHeight}, Rect{window.x, 0, window.width, frozenHeight},
                           Rect{0, window.y, frozenWidth, window.height}, window}) {
    std::vector<IndexPath> found = itemsInRect(area);
    items.insert(items.end(), found.begin(), found.end());
  }
  std::sort(items.begin(), items.end());
  items.erase(std::unique(items.begin(), items.end()), items.end());
  return items;
}

void SpreadsheetView::recycleAllBut(const std::vector<IndexPath>& kept) {
  std::vector<IndexPath> items = kept;
  std::sort(items.begin(), items.end());
  for (auto it = visible_.begin(); it != visible_.end();) {
    if (std::binary_search(items.begin(), items.end(), it->first)) {
      ++it;
    } else {
      recycle(it->second);
      it = visible_.erase(it);
    }
  }
}

std::shared_ptr<Cell> SpreadsheetView::makeCell(const IndexPath& item) {
  std::shared_ptr<SpreadsheetViewDataSource> dataSource = dataSource_.lock();
  if (!dataSource) return nullptr;
  std::shared_ptr<Cell> cell = dataSource->cellForItemAt(*this, item);
  if (cell) cell->setFrame(rectForItem(item));
  return cell;
}

std::shared_ptr<Cell> SpreadsheetView::cellForItem(const IndexPath& indexPath) {
  if (!contains(indexPath)) return nullptr;
  IndexPath item = itemOrigin(indexPath);
  if (auto shown = visible_.find(item); shown != visible_.end()) {
    recycle(shown->second);
    visible_.erase(shown);
  }
  std::shared_ptr<Cell> cell = makeCell(item);
  if (!cell) return nullptr;
  cell->setSelected(std::find(selected_.begin(), selected_.end(), item) != selected_.end());
  visible_[item] = cell;
  return cell;
}

std::shared_ptr<Cell> SpreadsheetView::visibleCell(const IndexPath& indexPath) const {
  auto shown = visible_.find(itemOrigin(indexPath));
  return shown == visible_.end() ? nullptr : shown->second;
}

bool SpreadsheetView::tapItem(const IndexPath& indexPath) {
  if (!contains(indexPath)) return false;
  IndexPath item = itemOrigin(indexPath);
  std::shared_ptr<SpreadsheetViewDelegate> delegate = delegate_.lock();
  if (delegate && !delegate->shouldSelectItemAt(*this, item)) return false;
  if (!allowsMultipleSelection_) {
    std::vector<IndexPath> previous;
    for (const IndexPath& other : selected_) {
      if (other != item) previous.push_back(other);
    }
    for (const IndexPath& other : previous) {
      deselectItem(other, false);
      if (delegate) delegate->didDeselectItemAt(*this, other);
    }
  }
  if (std::find(selected_.begin(), selected_.end(), item) == selected_.end()) selected_.push_back(item);
  if (auto shown = visible_.find(item); shown != visible_.end()) shown->second->setSelected(true);
  if (delegate) delegate->didSelectItemAt(*this, item);
  return true;
}

std::vector<IndexPath> SpreadsheetView::indexPathsForSelectedItems() const { return selected_; }

void SpreadsheetView::deselectItem(const IndexPath& indexPath, bool) {
  IndexPath item = itemOrigin(indexPath);
  std::erase(selected_, item);
  if (auto shown = visible_.find(item); shown != visible_.end()) shown->second->setSelected(false);
}

}  // namespace platform
