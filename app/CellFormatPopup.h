// CellFormatPopup — what the cell editor popup and the header cell popup
// share: the text field, the three alignment icons with their haptic tap, the
// text-colour and cell-colour controls with their indicators and the colour
// picker, and the dismissal. Each popup works on its own copies of the cell's
// values; the document changes only when a popup applies through its delegate.
//
// Actions a renderer sends: "cancelTapped", "applyTapped", "requestDismiss"
// (a tap on the dimmed background), "alignLeftTapped", "alignCenterTapped",
// "alignRightTapped", "textColorTapped", "cellColorTapped", "cardTextField"
// (the field's new text as a string) and "textFieldShouldReturn".
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/ColorRepresentation.h"
#include "app/TextAlignment.h"
#include "platform/ui/ColorPickerViewController.h"
#include "platform/ui/HapticEngine.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/ViewProperties.h"

namespace tabulo {

// The line printed when the colour picker closes.
inline constexpr const char* kColorPickerFinishedMessage = "Finished!";
inline constexpr const char* kCellContentPlaceholder = "Cell content";

class CellFormatPopup : public platform::ViewController,
                        public platform::TextFieldDelegate,
                        public platform::ColorPickerViewControllerDelegate {
 public:
  enum class ColorTarget : uint8_t { text = 0, cell = 1 };

  // Layout views.
  platform::ViewProperties backgroundView;
  platform::ViewProperties cardView;
  platform::TextField cardTextField;
  platform::ViewProperties alignLeftImageView;
  platform::ViewProperties alignCenterImageView;
  platform::ViewProperties alignRightImageView;
  platform::ViewProperties textColorImageView;
  platform::ViewProperties cellColorImageView;
  platform::ViewProperties textColorIndicatorView;
  platform::ViewProperties cellColorIndicatorView;

  // The chosen values, from the cell's content on.
  TextAlignment textAlignment = TextAlignment::left;
  platform::ImpactFeedbackGenerator impactGenerator;
  ColorRepresentation textColor = ColorRepresentation::black();
  ColorRepresentation cellColor = ColorRepresentation::white();
  ColorTarget colorTarget = ColorTarget::text;

  void alignLeftTapped();
  void alignCenterTapped();
  void alignRightTapped();
  void textColorTapped();
  void cellColorTapped();
  void cancelTapped();
  void requestDismiss();
  virtual void applyTapped() = 0;

  // TextFieldDelegate
  bool textFieldShouldReturn(platform::TextField& textField) override;
  // ColorPickerViewControllerDelegate
  void colorPickerViewControllerDidSelectColor(platform::ColorPickerViewController& picker,
                                               const platform::ViewColor& color, bool continuously) override;
  void colorPickerViewControllerDidFinish(platform::ColorPickerViewController& picker) override;

 protected:
  explicit CellFormatPopup(std::shared_ptr<platform::UIEnvironment> environment);

  void viewWillAppear(bool animated) override;

  // Sets the field's text, placeholder and delegate.
  virtual void configureTextField(const std::string& text);
  virtual void updateAlignmentIcons();
  virtual void updateColorIndicators();
  virtual void presentColorPicker();
  void dismissPopup();

  // The text field's text; an absent text counts as empty.
  std::string enteredText() const { return cardTextField.text.value_or(""); }

  // The card's shared controls as snapshot nodes, added to `card`.
  void addFormatNodes(platform::ViewNode& card) const;
  // The dimmed background node holding `card`.
  platform::ViewNode popupNode(platform::ViewNode card) const;

 private:
  void chooseAlignment(TextAlignment alignment);
};

}  // namespace tabulo
