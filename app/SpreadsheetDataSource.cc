#include "app/SpreadsheetDataSource.h"

#include <algorithm>
#include <iostream>

#include "app/FileNames.h"
#include "app/ImageCell.h"
#include "app/TextCell.h"
#include "platform/core/Log.h"

namespace tabulo {
namespace {

// The fill of the header row, the number column and the corner.
constexpr double kHeaderGray = 235.0 / 255.0;

platform::Color opaque(const ColorRepresentation& color) { return {color.red, color.green, color.blue, 1}; }

platform::Label::Alignment labelAlignment(TextAlignment alignment) {
  switch (alignment) {
    case TextAlignment::center: return platform::Label::Alignment::center;
    case TextAlignment::right: return platform::Label::Alignment::right;
    case TextAlignment::left: break;
  }
  return platform::Label::Alignment::left;
}

}  // namespace

std::shared_ptr<SpreadsheetDataSource> SpreadsheetDataSource::make(
    std::shared_ptr<platform::SpreadsheetView> spreadsheetView, SpreadsheetFile file,
    std::shared_ptr<platform::FileSystem> fileSystem, std::shared_ptr<ImageFetcher> imageFetcher) {
  auto dataSource = std::make_shared<SpreadsheetDataSource>(MakeKey(), std::move(spreadsheetView), std::move(file),
                                                            std::move(fileSystem), std::move(imageFetcher));
  platform::SpreadsheetView& grid = *dataSource->spreadsheetView_;
  grid.registerCellClass<TextCell>(kTextCellIdentifier);
  grid.registerCellClass<ImageCell>(kImageCellIdentifier);
  grid.setDataSource(dataSource);
  grid.setDelegate(dataSource);
  return dataSource;
}

SpreadsheetDataSource::SpreadsheetDataSource(MakeKey, std::shared_ptr<platform::SpreadsheetView> spreadsheetView,
                                             SpreadsheetFile file, std::shared_ptr<platform::FileSystem> fileSystem,
                                             std::shared_ptr<ImageFetcher> imageFetcher)
    : spreadsheetView_(std::move(spreadsheetView)),
      file_(std::move(file)),
      fileSystem_(std::move(fileSystem)),
      imageFetcher_(std::move(imageFetcher)) {}

const SpreadsheetCellContent* SpreadsheetDataSource::contentAt(const platform::IndexPath& indexPath) const {
  if (indexPath.row < 0 || indexPath.section < 0) return nullptr;
  auto row = static_cast<size_t>(indexPath.row);
  auto column = static_cast<size_t>(indexPath.section);
  if (row >= file_.contents.size() || column >= file_.contents[row].size()) return nullptr;
  return &file_.contents[row][column];
}

void SpreadsheetDataSource::updateContent(const SpreadsheetCellContent& content, const platform::IndexPath& indexPath) {
  if (!contentAt(indexPath)) return;
  SpreadsheetCellContent& cell =
      file_.contents[static_cast<size_t>(indexPath.row)][static_cast<size_t>(indexPath.section)];
  cell.text = content.text;
  cell.textAlignment = content.textAlignment;
  cell.textColor = content.textColor;
  cell.cellColor = content.cellColor;
  cell.imagePath = content.imagePath;
  std::cout << kContentUpdatedMessage << (cell.imagePath ? *cell.imagePath : std::string("nil")) << std::endl;
  spreadsheetView_->reloadData();
}

float SpreadsheetDataSource::headerSize(const platform::IndexPath& indexPath) const {
  if (indexPath.row < 0 || indexPath.section < 0) return 0;
  auto row = static_cast<size_t>(indexPath.row);
  auto column = static_cast<size_t>(indexPath.section);
  if (column == 0) return row < file_.rowHeights.size() ? file_.rowHeights[row] : 0;
  if (row == 0) return column < file_.columnWidths.size() ? file_.columnWidths[column] : 0;
  return 0;
}

std::shared_ptr<const platform::Image> SpreadsheetDataSource::photo(const std::string& name) {
  ImageCache& cache = imageFetcher_->cache();
  if (std::shared_ptr<const platform::Image> cached = cache.object(name)) return cached;
  if (!isPlainFileName(name)) return nullptr;
  platform::Error error;
  std::shared_ptr<const platform::Image> image =
      platform::Image::fromJPEGFile(fileSystem_->outputsURL() / name, &error);
  if (!image) {
    platform::HVUOSLogBasic(static_cast<int>(platform::LogLevel::Debug), "app", "grid", false, "",
                            "Photo not shown: " + error.toString());
    return nullptr;
  }
  cache.setObject(image, name);
  return image;
}

std::shared_ptr<platform::Cell> SpreadsheetDataSource::cellForItem(platform::SpreadsheetView& spreadsheetView,
                                                                   const platform::IndexPath& indexPath) {
  const SpreadsheetCellContent* content = contentAt(indexPath);
  if (!content) return nullptr;

  if (content->imagePath) {
    auto cell =
        std::dynamic_pointer_cast<ImageCell>(spreadsheetView.dequeueReusableCell(kImageCellIdentifier, indexPath));
    if (!cell) return nullptr;
    if (std::shared_ptr<const platform::Image> image = photo(*content->imagePath)) cell->imageView()->setImage(image);
    return cell;
  }

  auto cell = std::dynamic_pointer_cast<TextCell>(spreadsheetView.dequeueReusableCell(kTextCellIdentifier, indexPath));
  if (!cell) return nullptr;
  cell->label()->setText(content->text);
  cell->label()->setTextColor(opaque(content->textColor));
  if (indexPath.row == 0 || indexPath.section == 0) {
    cell->setBackgroundColor(platform::Color{kHeaderGray, kHeaderGray, kHeaderGray, 1});
    cell->label()->setTextAlignment(platform::Label::Alignment::center);
  } else {
    cell->setBackgroundColor(opaque(content->cellColor));
    cell->label()->setTextAlignment(labelAlignment(content->textAlignment));
  }
  return cell;
}

void SpreadsheetDataSource::addColumns(size_t count) {
  for (size_t i = 0; i < count; ++i) {
    file_.appendColumn();
    file_.columnWidths.push_back(kAddedColumnWidth);
  }
  spreadsheetView_->reloadData();
}

void SpreadsheetDataSource::addRows(size_t count) {
  for (size_t i = 0; i < count; ++i) {
    file_.appendRow();
    file_.rowHeights.push_back(kAddedRowHeight);
  }
  spreadsheetView_->reloadData();
}

void SpreadsheetDataSource::clearSelection() {
  for (const platform::IndexPath& indexPath : spreadsheetView_->indexPathsForSelectedItems()) {
    spreadsheetView_->deselectItem(indexPath, true);
  }
}

bool SpreadsheetDataSource::mergeSelectedCells() {
  std::vector<platform::IndexPath> selected = spreadsheetView_->indexPathsForSelectedItems();
  std::erase_if(selected,
                [](const platform::IndexPath& indexPath) { return indexPath.row == 0 || indexPath.section == 0; });
  if (selected.empty()) return false;
  platform::Location from{selected.front().row, selected.front().section};
  platform::Location to = from;
  for (const platform::IndexPath& indexPath : selected) {
    from = {std::min(from.row, indexPath.row), std::min(from.column, indexPath.section)};
    to = {std::max(to.row, indexPath.row), std::max(to.column, indexPath.section)};
  }
  platform::CellRange block(from, to);
  for (const platform::CellRange& merged : file_.mergedRanges) {
    if (block.intersects(merged)) return false;
  }
  file_.mergedRanges.push_back(block);
  spreadsheetView_->reloadData();
  return true;
}

int64_t SpreadsheetDataSource::numberOfColumns(platform::SpreadsheetView&) {
  return static_cast<int64_t>(file_.columnCount());
}

int64_t SpreadsheetDataSource::numberOfRows(platform::SpreadsheetView&) {
  return static_cast<int64_t>(file_.contents.size());
}

double SpreadsheetDataSource::widthForColumn(platform::SpreadsheetView&, int64_t column) {
  return column >= 0 && static_cast<size_t>(column) < file_.columnWidths.size() ? file_.columnWidths[column] : 0;
}

double SpreadsheetDataSource::heightForRow(platform::SpreadsheetView&, int64_t row) {
  return row >= 0 && static_cast<size_t>(row) < file_.rowHeights.size() ? file_.rowHeights[row] : 0;
}

std::shared_ptr<platform::Cell> SpreadsheetDataSource::cellForItemAt(platform::SpreadsheetView& spreadsheetView,
                                                                     const platform::IndexPath& indexPath) {
  return cellForItem(spreadsheetView, indexPath);
}

std::vector<platform::CellRange> SpreadsheetDataSource::mergedCells(platform::SpreadsheetView&) {
  return file_.mergedRanges;
}

void SpreadsheetDataSource::didSelectItemAt(platform::SpreadsheetView&, const platform::IndexPath& indexPath) {
  if (onCellSelected_) onCellSelected_(indexPath);
}

}  // namespace tabulo
