// AddCellsPopupViewController — asks how many rows or columns to append.
//
// Presented by the sheet editor over its content from "Add Rows" or "Add
// Columns". The segmented control's segment i stands for i + 1 lines and the
// first segment starts selected; add hands the mode and the count to the
// delegate, cancel or a tap on the dimmed background changes nothing.
//
// Actions a renderer sends: "segmentChanged" (the selected index as a
// number), "addTapped", "cancelTapped", "requestDismiss".
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/AddCellsDisplayMode.h"
#include "app/AddCellsPopupDelegate.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/ViewProperties.h"

namespace tabulo {

inline constexpr const char* kAddRowsTitle = "Add Rows";
inline constexpr const char* kAddColumnsTitle = "Add Columns";
inline constexpr const char* kAddRowsMessage = "Select how many rows to add";
inline constexpr const char* kAddColumnsMessage = "Select how many columns to add";

class AddCellsPopupViewController : public platform::ViewController {
 public:
  using DisplayMode = AddCellsDisplayMode;

  AddCellsPopupViewController(std::shared_ptr<platform::UIEnvironment> environment, DisplayMode displayMode);
  std::string className() const override { return "AddCellsPopupViewController"; }

  platform::ViewProperties backgroundView;
  platform::ViewProperties headerTitleLabel;
  platform::ViewProperties messageLabel;
  platform::SegmentedControl segmentedControl;
  const DisplayMode displayMode;
  int64_t selectedIndex = 0;
  std::weak_ptr<AddCellsPopupDelegate> delegate;

  // The segmented control reports the selected segment's index.
  void segmentChanged(int64_t index);
  void addTapped();
  void cancelTapped();
  void requestDismiss();

  platform::ViewNode snapshot() const override;

 protected:
  void viewDidLoad() override;
  virtual void addCells();
  virtual void configureLabels();
  void dismissPopup();
};

}  // namespace tabulo
