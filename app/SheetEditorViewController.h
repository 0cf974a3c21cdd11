// SheetEditorViewController — the screen on which one document is shown as a
// grid and edited.
//
// It makes the grid view and its data source (SpreadsheetDataSource) when its
// view loads; from then on the data source holds the document being edited,
// and every change (cell texts and formats, header sizes, merged blocks, added
// rows and columns) is made there. Nothing reaches the document store until
// the user saves. From the screen the user taps cells to edit them in the
// cell editor popup (body cells) or the header cell popup (header row and
// number column), enters a selection mode to merge cells, adds rows or
// columns, saves with a confirmation, exports CSV or PDF to the share sheet,
// and leaves through a back item that asks whether to save first.
//
// The navigation items are set on the parent controller (the host the
// navigation stack shows) every time the screen will appear. Menu entries,
// alert actions and grid callbacks hold the screen weakly and do nothing once
// it is gone. A save or an export that fails is reported in an alert; a failed
// save on closing keeps the screen open.
//
// Console lines: "Selected: [column, row]!" for every selected cell,
// "Shared!" when the share sheet closes.
//
// Actions a renderer sends: "backTapped", "toggleSelection",
// "closeSelectionTapped", "mergeCellsTapped", "saveCurrentSpreadsheet",
// "grid.tap" with {"row": r, "section": c}, and "grid.scroll" with the part of
// the grid it shows, {"x", "y", "width", "height"} in points; the bar items are
// reached through the parent's navigation item.
//
// The snapshot's grid carries the whole grid's counts and sizes (as runs,
// "20,30*4") but the cells of the part on screen and a margin around it only,
// with the frozen header row and number column along it; a cell's text is cut
// to what the cell can show (the document and the cell editor keep it whole).
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/AddCellsPopupDelegate.h"
#include "app/AddCellsPopupViewController.h"
#include "app/CanShareFilesVC.h"
#include "app/CellEditorPopupDelegate.h"
#include "app/HeaderCellEditorPopupDelegate.h"
#include "app/ImageFetcher.h"
#include "app/SheetEditorViewModel.h"
#include "app/SpreadsheetDataSource.h"
#include "app/SpreadsheetPersistance.h"
#include "app/TabuloIO.h"
#include "platform/filesystem/FileSystem.h"
#include "platform/grid/SpreadsheetView.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/ViewProperties.h"

namespace tabulo {

inline constexpr const char* kSelectedMessage = "Selected: ";
inline constexpr const char* kSharedMessage = "Shared!";
inline constexpr const char* kSheetOptionsMenuTitle = "Sheet Options";
inline constexpr const char* kFileOptionsMenuTitle = "File Options";
inline constexpr const char* kAddRowsMenuTitle = "Add Rows";
inline constexpr const char* kAddColumnsMenuTitle = "Add Columns";
inline constexpr const char* kSaveMenuTitle = "Save";
inline constexpr const char* kExportCSVMenuTitle = "Export as .CSV";
inline constexpr const char* kExportPDFMenuTitle = "Export as .PDF";
inline constexpr const char* kSelectItemTitle = "Select";
inline constexpr const char* kSaveAlertTitle = "Save Spreadsheet";
inline constexpr const char* kSaveAlertMessageSuffix = " was saved successfuly.";
inline constexpr const char* kSaveFailedMessageSuffix = " could not be saved.";
inline constexpr const char* kOKActionTitle = "OK";
inline constexpr const char* kCloseAlertTitle = "Save current document";
inline constexpr const char* kCloseAlertMessage = "Do you want to save before closing the document?";
inline constexpr const char* kCloseAlertSaveTitle = "Save";
inline constexpr const char* kCloseAlertCloseTitle = "Close";
inline constexpr const char* kExportFailedTitle = "Export failed";

class SheetEditorViewController : public platform::ViewController,
                                  public AddCellsPopupDelegate,
                                  public HeaderCellEditorPopupDelegate,
                                  public CellEditorPopupDelegate,
                                  public CanShareFilesVC {
 public:
  // What the screen works with; tests make their own.
  struct Collaborators {
    std::shared_ptr<SpreadsheetPersistance> store;
    std::shared_ptr<TabuloIO> io;
    std::shared_ptr<platform::FileSystem> fileSystem;
    std::shared_ptr<ImageFetcher> imageFetcher;

    // The process-wide store, CSV exporter, file system and image cache.
    static Collaborators shared();
  };

  SheetEditorViewController(std::shared_ptr<platform::UIEnvironment> environment, const SpreadsheetFile& file,
                            Collaborators collaborators = Collaborators::shared());
  std::string className() const override { return "SheetEditorViewController"; }

  // Layout views: the grid's container and the selection bar (hidden while
  // selection mode is off).
  platform::ViewProperties sheetContainerView;
  platform::ViewProperties selectMenu;

  const SheetEditorViewModel viewModel;
  const std::shared_ptr<SpreadsheetDataSource>& spreadsheetDataSource() const { return spreadsheetDataSource_; }
  const std::shared_ptr<platform::SpreadsheetView>& spreadSheetView() const { return spreadSheetView_; }
  const std::shared_ptr<platform::BarButtonItem>& selectionButton() const { return selectionButton_; }
  bool isSelecting() const { return isSelecting_; }

  // Taps and callbacks.
  void backTapped();
  void toggleSelection();
  void closeSelectionTapped();
  void mergeCellsTapped();
  void saveCurrentSpreadsheet();
  void handleCellSelection(const platform::IndexPath& indexPath);

  // Delegate operations of the popups.
  void applyCellChanges(const SpreadsheetCellContent& content, const platform::IndexPath& indexPath) override;
  void applyHeaderChanges(const SpreadsheetCellContent& content, const platform::IndexPath& indexPath,
                          float size) override;
  void applyAddCells(AddCellsDisplayMode mode, int64_t count) override;

  platform::ViewController& shareSourceViewController() override { return *this; }

  platform::ViewNode snapshot() const override;

  // Overridable operations.
  virtual void setupNavigationItems();
  virtual void showCloseAlert();
  virtual void toggleSelectionMode();
  virtual void setupSpreadsheetView();
  virtual void showCellEditor(const platform::IndexPath& indexPath);
  virtual void showHeaderEditor(const platform::IndexPath& indexPath);
  virtual void saveSpreadsheet();
  virtual void exportAsCSV();
  virtual void exportAsPDF();
  void showAddCells(AddCellsDisplayMode mode);

 protected:
  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;

 private:
  std::shared_ptr<SheetEditorViewController> self();
  void presentPopup(const std::shared_ptr<platform::ViewController>& popup);
  void presentMessage(const std::string& title, const std::string& message);
  void share(const std::filesystem::path& url);
  // Pops the screen from the navigation controller of its parent.
  void close();
  const SpreadsheetCellContent* contentAt(const platform::IndexPath& indexPath) const;

  Collaborators collaborators_;
  std::shared_ptr<SpreadsheetDataSource> spreadsheetDataSource_;
  std::shared_ptr<platform::SpreadsheetView> spreadSheetView_;
  std::shared_ptr<platform::BarButtonItem> selectionButton_;
  bool isSelecting_ = false;
};

}  // namespace tabulo
