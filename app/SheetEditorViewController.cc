#include "app/SheetEditorViewController.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>

#include "app/CellEditorPopup.h"
#include "app/FileNames.h"
#include "app/HeaderCellPopupViewController.h"
#include "app/ImageCell.h"
#include "app/PickedColor.h"
#include "app/TextCell.h"
#include "platform/ui/AlertController.h"
#include "platform/text/Utf8.h"
#include "platform/ui/NavigationController.h"

namespace tabulo {

namespace {

// The process-wide instances, not owned.
template <typename T>
std::shared_ptr<T> unowned(T& instance) {
  return std::shared_ptr<T>(std::shared_ptr<void>(), &instance);
}

platform::ViewColor viewColor(const platform::Color& color) { return {color.red, color.green, color.blue, color.alpha}; }

// A size or position in its shortest form ("100", "33.3333").
std::string pointsText(double value) {
  char number[32];
  std::snprintf(number, sizeof number, "%.9g", value);
  return number;
}

// Sizes as runs: "20,30*4" for 20, 30, 30, 30, 30.
std::string sizeRuns(const platform::SpreadsheetView& grid, bool rows) {
  const int64_t count = rows ? grid.numberOfRows() : grid.numberOfColumns();
  std::string text;
  for (int64_t i = 0; i < count;) {
    const double size = rows ? grid.rowHeight(i) : grid.columnWidth(i);
    int64_t run = 1;
    while (i + run < count && (rows ? grid.rowHeight(i + run) : grid.columnWidth(i + run)) == size) ++run;
    if (!text.empty()) text += ',';
    text += pointsText(size);
    if (run > 1) text += '*' + std::to_string(run);
    i += run;
  }
  return text;
}

// What a cell of `rect` can show of `text`: about one character per three
// points of width on each line the cell's height holds.
std::string shownText(const std::string& text, const platform::Rect& rect) {
  constexpr double kNarrowestCharacter = 3;
  constexpr double kLineHeight = 14;
  const double lines = std::max(1.0, std::floor(rect.height / kLineHeight));
  const double characters = std::ceil(rect.width / kNarrowestCharacter) * lines + 1;
  const size_t limit = static_cast<size_t>(std::clamp(characters, 16.0, 65536.0));
  if (text.size() <= limit) return text;  // no more code points than bytes
  return std::string(platform::utf8::truncatedToCodePoints(text, limit));
}

}  // namespace

SheetEditorViewController::Collaborators SheetEditorViewController::Collaborators::shared() {
  return {unowned(SpreadsheetPersistance::shared()), unowned(TabuloIO::shared()), platform::FileSystem::shared(),
          ImageFetcher::shared()};
}

SheetEditorViewController::SheetEditorViewController(std::shared_ptr<platform::UIEnvironment> environment,
                                                     const SpreadsheetFile& file, Collaborators collaborators)
    : platform::ViewController(std::move(environment)), viewModel(file), collaborators_(std::move(collaborators)) {
  selectMenu.hidden = true;
  registerAction("backTapped", [this](const platform::Object&) { backTapped(); });
  registerAction("toggleSelection", [this](const platform::Object&) { toggleSelection(); });
  // The selection bar's controls can only be tapped while the bar is shown.
  registerAction("closeSelectionTapped", [this](const platform::Object&) {
    if (isSelecting_) closeSelectionTapped();
  });
  registerAction("mergeCellsTapped", [this](const platform::Object&) {
    if (isSelecting_) mergeCellsTapped();
  });
  registerAction("saveCurrentSpreadsheet", [this](const platform::Object&) { saveCurrentSpreadsheet(); });
  registerAction("grid.tap", [this](const platform::Object& value) {
    const platform::Object* row = value.find("row");
    const platform::Object* section = value.find("section");
    if (!spreadSheetView_ || !row || !section || !row->intValue() || !section->intValue()) return;
    spreadSheetView_->tapItem({*row->intValue(), *section->intValue()});
    setNeedsSnapshot();
  });
  // The renderer's view of the grid moved or changed size.
  registerAction("grid.scroll", [this](const platform::Object& value) {
    if (!spreadSheetView_) return;
    auto number = [&](const char* key) { return value.find(key) ? value.find(key)->numberValue() : std::nullopt; };
    auto x = number("x"), y = number("y"), width = number("width"), height = number("height");
    if (!x || !y || !width || !height) return;
    spreadSheetView_->setVisibleRect({*x, *y, *width, *height});
    setNeedsSnapshot();
  });
}

std::shared_ptr<SheetEditorViewController> SheetEditorViewController::self() {
  return std::static_pointer_cast<SheetEditorViewController>(weak_from_this().lock());
}

void SheetEditorViewController::viewDidLoad() {
  platform::ViewController::viewDidLoad();
  setupSpreadsheetView();
}

void SheetEditorViewController::viewWillAppear(bool animated) {
  platform::ViewController::viewWillAppear(animated);
  setupNavigationItems();
}

void SheetEditorViewController::setupSpreadsheetView() {
  spreadSheetView_ = std::make_shared<platform::SpreadsheetView>();
  spreadsheetDataSource_ = SpreadsheetDataSource::make(spreadSheetView_, viewModel.originalFile,
                                                       collaborators_.fileSystem, collaborators_.imageFetcher);
  std::weak_ptr<SheetEditorViewController> weakSelf = self();
  spreadsheetDataSource_->setOnCellSelected([weakSelf](const platform::IndexPath& indexPath) {
    if (auto screen = weakSelf.lock()) screen->handleCellSelection(indexPath);
  });
  setNeedsSnapshot();
}

void SheetEditorViewController::setupNavigationItems() {
  std::weak_ptr<SheetEditorViewController> weakSelf = self();
  auto weakly = [weakSelf](void (SheetEditorViewController::*method)()) {
    return [weakSelf, method] {
      if (auto screen = weakSelf.lock()) ((*screen).*method)();
    };
  };
  auto select = platform::BarButtonItem::withTitle(kSelectItemTitle, platform::BarButtonItem::Style::plain,
                                                   weakly(&SheetEditorViewController::toggleSelection));
  // The item is made anew at every appearance; it stays disabled while selection mode is on.
  select->setEnabled(!isSelecting_);

  if (auto host = parent()) {
    platform::NavigationItem& item = host->navigationItem();
    item.title = viewModel.originalFile.title;
    item.hidesBackButton = true;
    item.leftBarButtonItems = {platform::BarButtonItem::withImage(
        "chevron.left", platform::SymbolConfiguration{16, 5}, platform::BarButtonItem::Style::done,
        weakly(&SheetEditorViewController::backTapped))};

    auto action = [&](const char* title, const char* image, std::function<void()> handler) {
      return platform::MenuAction{title, image, std::nullopt, std::nullopt, 0, platform::MenuAction::State::off,
                                  std::move(handler)};
    };
    auto addCells = [weakSelf](AddCellsDisplayMode mode) {
      return [weakSelf, mode] {
        if (auto screen = weakSelf.lock()) screen->showAddCells(mode);
      };
    };
    auto fileOptions = std::make_shared<platform::Menu>();
    fileOptions->title = kFileOptionsMenuTitle;
    fileOptions->options = platform::Menu::displayInline;
    fileOptions->children = {
        action(kSaveMenuTitle, "square.and.arrow.down", weakly(&SheetEditorViewController::saveSpreadsheet)),
        action(kExportCSVMenuTitle, "tablecells", weakly(&SheetEditorViewController::exportAsCSV)),
        action(kExportPDFMenuTitle, "doc.plaintext", weakly(&SheetEditorViewController::exportAsPDF)),
    };
    auto menu = std::make_shared<platform::Menu>();
    menu->title = kSheetOptionsMenuTitle;
    menu->options = platform::Menu::displayInline;
    menu->children = {
        action(kAddRowsMenuTitle, "arrow.down", addCells(AddCellsDisplayMode::rows)),
        action(kAddColumnsMenuTitle, "arrow.forward", addCells(AddCellsDisplayMode::columns)),
        fileOptions,
    };
    item.rightBarButtonItems = {platform::BarButtonItem::withMenu("list.bullet", menu), select};
    host->setNeedsSnapshot();
  }
  selectionButton_ = select;
  setNeedsSnapshot();
}

void SheetEditorViewController::backTapped() { showCloseAlert(); }
void SheetEditorViewController::toggleSelection() { toggleSelectionMode(); }
void SheetEditorViewController::closeSelectionTapped() { toggleSelectionMode(); }

void SheetEditorViewController::mergeCellsTapped() {
  if (spreadsheetDataSource_) spreadsheetDataSource_->mergeSelectedCells();
  toggleSelectionMode();
}

void SheetEditorViewController::saveCurrentSpreadsheet() { saveSpreadsheet(); }

const SpreadsheetCellContent* SheetEditorViewController::contentAt(const platform::IndexPath& indexPath) const {
  if (!spreadsheetDataSource_ || indexPath.row < 0 || indexPath.section < 0) return nullptr;
  const auto& contents = spreadsheetDataSource_->file().contents;
  const auto row = static_cast<size_t>(indexPath.row);
  const auto column = static_cast<size_t>(indexPath.section);
  if (row >= contents.size() || column >= contents[row].size()) return nullptr;
  return &contents[row][column];
}

void SheetEditorViewController::handleCellSelection(const platform::IndexPath& indexPath) {
  // An index path prints as [section, row].
  std::cout << kSelectedMessage << '[' << indexPath.section << ", " << indexPath.row << "]!" << std::endl;
  if (indexPath.row == 0 && indexPath.section == 0) return;
  if (isSelecting_) {
    setNeedsSnapshot();
    return;
  }
  if (indexPath.row != 0 && indexPath.section != 0) {
    showCellEditor(indexPath);
  } else {
    showHeaderEditor(indexPath);
  }
}

void SheetEditorViewController::presentPopup(const std::shared_ptr<platform::ViewController>& popup) {
  popup->setModalPresentationStyle(platform::ModalPresentationStyle::overCurrentContext);
  popup->setModalTransitionStyle(platform::ModalTransitionStyle::crossDissolve);
  present(popup, true);
}

void SheetEditorViewController::showCellEditor(const platform::IndexPath& indexPath) {
  const SpreadsheetCellContent* content = contentAt(indexPath);
  if (!content) return;
  auto popup = std::make_shared<CellEditorPopup>(environment(), CellEditorPopup::Dependencies{*content, indexPath},
                                                 collaborators_.fileSystem);
  popup->delegate = self();
  presentPopup(popup);
}

void SheetEditorViewController::showHeaderEditor(const platform::IndexPath& indexPath) {
  const SpreadsheetCellContent* content = contentAt(indexPath);
  if (!content) return;
  const float size = spreadsheetDataSource_->headerSize(indexPath);
  auto popup = std::make_shared<HeaderCellPopupViewController>(
      environment(), HeaderCellPopupViewController::Dependencies{*content, size, indexPath});
  popup->delegate = self();
  presentPopup(popup);
}

void SheetEditorViewController::showAddCells(AddCellsDisplayMode mode) {
  auto popup = std::make_shared<AddCellsPopupViewController>(environment(), mode);
  popup->selectedIndex = 0;
  popup->delegate = self();
  presentPopup(popup);
}

void SheetEditorViewController::toggleSelectionMode() {
  const bool wasSelecting = isSelecting_;
  isSelecting_ = !isSelecting_;
  if (!wasSelecting) {
    if (selectionButton_) selectionButton_->setEnabled(false);
    selectMenu.hidden = false;
  } else {
    if (selectionButton_) selectionButton_->setEnabled(true);
    selectMenu.hidden = true;
    if (spreadsheetDataSource_) spreadsheetDataSource_->clearSelection();
  }
  if (spreadsheetDataSource_) spreadSheetView_->setAllowsMultipleSelection(isSelecting_);
  if (auto host = parent()) host->setNeedsSnapshot();
  setNeedsSnapshot();
}

void SheetEditorViewController::presentMessage(const std::string& title, const std::string& message) {
  auto alert = platform::AlertController::make(environment(), title, message, platform::AlertController::Style::alert);
  alert->addAction({kOKActionTitle, platform::AlertAction::Style::defaultStyle, nullptr});
  present(alert, true);
}

void SheetEditorViewController::saveSpreadsheet() {
  if (!spreadsheetDataSource_) return;
  const SpreadsheetFile file = spreadsheetDataSource_->file();
  if (collaborators_.store->saveFile(file)) {
    presentMessage(kSaveAlertTitle, file.title + kSaveAlertMessageSuffix);
  } else {
    presentMessage(kSaveAlertTitle, file.title + kSaveFailedMessageSuffix);
  }
}

void SheetEditorViewController::close() {
  if (auto host = parent()) {
    if (auto navigation = host->navigationController()) navigation->popViewController(true);
  }
}

void SheetEditorViewController::showCloseAlert() {
  auto alert = platform::AlertController::make(environment(), kCloseAlertTitle, kCloseAlertMessage,
                                               platform::AlertController::Style::alert);
  std::weak_ptr<SheetEditorViewController> weakSelf = self();
  alert->addAction({kCloseAlertSaveTitle, platform::AlertAction::Style::defaultStyle,
                    [weakSelf](const platform::AlertAction&) {
                      auto screen = weakSelf.lock();
                      if (!screen || !screen->spreadsheetDataSource_) return;
                      const SpreadsheetFile file = screen->spreadsheetDataSource_->file();
                      if (screen->collaborators_.store->saveFile(file)) {
                        screen->close();
                      } else {
                        // Leaving now would drop the edits: stay and say so.
                        screen->presentMessage(kSaveAlertTitle, file.title + kSaveFailedMessageSuffix);
                      }
                    }});
  alert->addAction({kCloseAlertCloseTitle, platform::AlertAction::Style::destructive,
                    [weakSelf](const platform::AlertAction&) {
                      if (auto screen = weakSelf.lock()) screen->close();
                    }});
  present(alert, true);
}

void SheetEditorViewController::share(const std::filesystem::path& url) {
  shareFiles({url}, [](const std::optional<std::string>&, bool, const std::vector<platform::Object>&,
                       const std::optional<platform::Error>&) { std::cout << kSharedMessage << std::endl; });
}

void SheetEditorViewController::exportAsCSV() {
  if (!spreadsheetDataSource_) return;
  std::string error;
  std::optional<std::filesystem::path> url = collaborators_.io->exportCSV(spreadsheetDataSource_->file(), &error);
  if (!url) {
    presentMessage(kExportFailedTitle, error);
    return;
  }
  share(*url);
}

void SheetEditorViewController::exportAsPDF() {
  if (!spreadSheetView_) return;
  platform::Error error;
  std::optional<std::vector<uint8_t>> data = spreadSheetView_->pdfData(&error);
  if (!data) {
    presentMessage(kExportFailedTitle, error.description);
    return;
  }
  // The title is free text: made safe as one file name in the outputs directory.
  const std::filesystem::path url =
      collaborators_.fileSystem->outputsURL() / safeFileName(viewModel.originalFile.title, ".pdf");
  collaborators_.fileSystem->deleteFile(url);
  std::ofstream out(url, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data->data()), static_cast<std::streamsize>(data->size()));
  out.close();
  if (!out) {
    collaborators_.fileSystem->deleteFile(url);
    presentMessage(kExportFailedTitle, "The file " + url.filename().string() + " could not be written.");
    return;
  }
  share(url);
}

void SheetEditorViewController::applyCellChanges(const SpreadsheetCellContent& content,
                                                 const platform::IndexPath& indexPath) {
  if (!spreadsheetDataSource_) return;
  spreadsheetDataSource_->updateContent(content, indexPath);
  setNeedsSnapshot();
}

void SheetEditorViewController::applyHeaderChanges(const SpreadsheetCellContent& content,
                                                   const platform::IndexPath& indexPath, float size) {
  if (!spreadsheetDataSource_) return;
  spreadsheetDataSource_->updateContent(content, indexPath);
  SpreadsheetFile& file = spreadsheetDataSource_->file();
  const auto row = static_cast<size_t>(indexPath.row);
  const auto column = static_cast<size_t>(indexPath.section);
  if (indexPath.section == 0 && indexPath.row >= 0 && row < file.rowHeights.size()) {
    file.rowHeights[row] = size;
    spreadSheetView_->reloadData();
  }
  if (indexPath.row == 0 && indexPath.section >= 0 && column < file.columnWidths.size()) {
    file.columnWidths[column] = size;
    spreadSheetView_->reloadData();
  }
  setNeedsSnapshot();
}

void SheetEditorViewController::applyAddCells(AddCellsDisplayMode mode, int64_t count) {
  if (!spreadsheetDataSource_ || count < 0) return;
  if (mode == AddCellsDisplayMode::columns) {
    spreadsheetDataSource_->addColumns(static_cast<size_t>(count));
  } else {
    spreadsheetDataSource_->addRows(static_cast<size_t>(count));
  }
  setNeedsSnapshot();
}

platform::ViewNode SheetEditorViewController::snapshot() const {
  platform::ViewNode node = screenNode(className());
  node.text = viewModel.originalFile.title;
  platform::ViewNode& container = node.add(platform::ViewNode("view", "sheetContainerView"));
  if (spreadSheetView_) {
    platform::SpreadsheetView& grid = *spreadSheetView_;
    platform::ViewNode& gridNode = container.add(platform::ViewNode("grid", "spreadSheetView"));
    gridNode.action = "grid.tap";
    gridNode.properties["rows"] = std::to_string(grid.numberOfRows());
    gridNode.properties["columns"] = std::to_string(grid.numberOfColumns());
    gridNode.properties["frozenRows"] = std::to_string(grid.frozenRows());
    gridNode.properties["frozenColumns"] = std::to_string(grid.frozenColumns());
    gridNode.properties["allowsMultipleSelection"] = grid.allowsMultipleSelection() ? "true" : "false";
    // The whole grid's sizes, so that a renderer can lay out and scroll all of
    // it, and the cells of the part on screen and around it only.
    gridNode.properties["rowHeights"] = sizeRuns(grid, true);
    gridNode.properties["columnWidths"] = sizeRuns(grid, false);
    const platform::Rect& visible = grid.visibleRect();
    platform::ViewNode& viewport = gridNode.add(platform::ViewNode("viewport", "viewport"));
    viewport.action = "grid.scroll";
    viewport.properties["visible"] = pointsText(visible.x) + "," + pointsText(visible.y) + "," +
                                     pointsText(visible.width) + "," + pointsText(visible.height);
    const auto selected = grid.indexPathsForSelectedItems();
    const std::vector<platform::IndexPath> items = grid.itemsToShow(std::max(visible.width, visible.height) / 4);
    grid.recycleAllBut(items);
    for (const platform::IndexPath& item : items) {
      platform::ViewNode& cellNode =
          gridNode.add(platform::ViewNode("cell", std::to_string(item.row) + "," + std::to_string(item.section)));
      const platform::Rect rect = grid.rectForItem(item);
      cellNode.properties["row"] = std::to_string(item.row);
      cellNode.properties["section"] = std::to_string(item.section);
      cellNode.properties["frame"] = pointsText(rect.x) + "," + pointsText(rect.y) + "," + pointsText(rect.width) +
                                     "," + pointsText(rect.height);
      cellNode.selected = std::find(selected.begin(), selected.end(), item) != selected.end();
      std::shared_ptr<platform::Cell> cell = grid.cellForItem(item);
      if (!cell) continue;
      if (cell->backgroundColor()) cellNode.backgroundColor = viewColor(*cell->backgroundColor());
      if (auto text = std::dynamic_pointer_cast<TextCell>(cell)) {
        cellNode.text = shownText(text->label()->text(), rect);
        cellNode.textColor = viewColor(text->label()->textColor());
        switch (text->label()->textAlignment()) {
          case platform::Label::Alignment::left: cellNode.properties["alignment"] = "left"; break;
          case platform::Label::Alignment::center: cellNode.properties["alignment"] = "center"; break;
          case platform::Label::Alignment::right: cellNode.properties["alignment"] = "right"; break;
        }
      } else if (auto image = std::dynamic_pointer_cast<ImageCell>(cell)) {
        cellNode.kind = "imageCell";
        const SpreadsheetCellContent* content =
            const_cast<SheetEditorViewController*>(this)->contentAt(item);
        if (content && content->imagePath) cellNode.properties["imagePath"] = *content->imagePath;
        cellNode.properties["hasImage"] = image->imageView()->image() ? "true" : "false";
      }
    }
  }
  platform::ViewNode& bar = node.add(platform::ViewNode("stack", "selectMenu"));
  bar.hidden = selectMenu.hidden;
  platform::ViewNode& merge = bar.add(platform::ViewNode("button", "mergeCellsTapped"));
  merge.text = "Merge";
  merge.action = "mergeCellsTapped";
  platform::ViewNode& closeButton = bar.add(platform::ViewNode("button", "closeSelectionTapped"));
  closeButton.text = "Close";
  closeButton.action = "closeSelectionTapped";
  return node;
}

}  // namespace tabulo
