// HeaderCellPopupViewController — edits one header cell (text, alignment,
// text colour, fill colour; no photo) together with the size of its line: a
// cell of the header row sets its column's width (50 to 1000 points), a cell
// of the number column its row's height (20 to 400 points).
//
// Presented by the sheet editor over its content; hands the new content and
// size to its delegate only on apply. The label shows the size with its
// fraction dropped ("Width: 123" for 123.9); the size itself is applied as
// the slider gives it.
//
// Actions a renderer sends, besides CellFormatPopup's: "sliderValueChanged"
// (the slider's new value as a number).
#pragma once

#include <memory>
#include <string>

#include "app/CellFormatPopup.h"
#include "app/HeaderCellEditorPopupDelegate.h"
#include "app/SpreadsheetCellContent.h"
#include "platform/grid/IndexPath.h"
#include "platform/ui/ViewProperties.h"

namespace tabulo {

inline constexpr float kColumnWidthMinimum = 50;
inline constexpr float kColumnWidthMaximum = 1000;
inline constexpr float kRowHeightMinimum = 20;
inline constexpr float kRowHeightMaximum = 400;
inline constexpr const char* kWidthLabelFormat = "Width: %d";
inline constexpr const char* kHeightLabelFormat = "Height: %d";

// "Width: %d" or "Height: %d" filled with `size` without its fraction; the
// conversion saturates (a size beyond the 64-bit range shows its bound, a
// size that is not a number shows 0).
std::string magnitudeText(const char* format, float size);

class HeaderCellPopupViewController : public CellFormatPopup {
 public:
  struct Dependencies {
    SpreadsheetCellContent content;
    float currentSize = 0;
    platform::IndexPath indexPath;
  };

  HeaderCellPopupViewController(std::shared_ptr<platform::UIEnvironment> environment, Dependencies dependencies);
  std::string className() const override { return "HeaderCellPopupViewController"; }

  platform::ViewProperties magnitudeLabel;
  platform::Slider sliderView;
  const Dependencies dependencies;
  std::weak_ptr<HeaderCellEditorPopupDelegate> delegate;
  float magnitudeValue = 0;

  void applyTapped() override;
  // The slider reports a new value.
  void sliderValueChanged(float value);

  platform::ViewNode snapshot() const override;

 protected:
  void viewDidLoad() override;
  virtual void applyChanges();
  virtual void configureSlider();
  virtual void updateMagnitudeLabel();
};

}  // namespace tabulo
