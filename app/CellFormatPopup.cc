#include "app/CellFormatPopup.h"

#include <iostream>

#include "app/PickedColor.h"

namespace tabulo {

CellFormatPopup::CellFormatPopup(std::shared_ptr<platform::UIEnvironment> environment)
    : platform::ViewController(environment),
      impactGenerator(environment ? environment->haptics : nullptr, platform::ImpactStyle::light) {
  registerAction("cancelTapped", [this](const platform::Object&) { cancelTapped(); });
  registerAction("applyTapped", [this](const platform::Object&) { applyTapped(); });
  registerAction("requestDismiss", [this](const platform::Object&) { requestDismiss(); });
  registerAction("alignLeftTapped", [this](const platform::Object&) { alignLeftTapped(); });
  registerAction("alignCenterTapped", [this](const platform::Object&) { alignCenterTapped(); });
  registerAction("alignRightTapped", [this](const platform::Object&) { alignRightTapped(); });
  registerAction("textColorTapped", [this](const platform::Object&) { textColorTapped(); });
  registerAction("cellColorTapped", [this](const platform::Object&) { cellColorTapped(); });
  registerAction("cardTextField", [this](const platform::Object& value) {
    if (const std::string* text = value.stringValue()) {
      cardTextField.text = *text;
      setNeedsSnapshot();
    }
  });
  registerAction("textFieldShouldReturn", [this](const platform::Object&) { cardTextField.pressReturn(); });
}

void CellFormatPopup::viewWillAppear(bool animated) {
  platform::ViewController::viewWillAppear(animated);
  cardTextField.becomeFirstResponder();
  setNeedsSnapshot();
}

void CellFormatPopup::configureTextField(const std::string& text) {
  cardTextField.text = text;
  cardTextField.placeholder = kCellContentPlaceholder;
  cardTextField.delegate = std::dynamic_pointer_cast<platform::TextFieldDelegate>(weak_from_this().lock());
}

void CellFormatPopup::chooseAlignment(TextAlignment alignment) {
  textAlignment = alignment;
  updateAlignmentIcons();
  impactGenerator.impactOccurred();
}

void CellFormatPopup::alignLeftTapped() { chooseAlignment(TextAlignment::left); }
void CellFormatPopup::alignCenterTapped() { chooseAlignment(TextAlignment::center); }
void CellFormatPopup::alignRightTapped() { chooseAlignment(TextAlignment::right); }

void CellFormatPopup::updateAlignmentIcons() {
  alignLeftImageView.tintColor = platform::ViewColor::black();
  alignCenterImageView.tintColor = platform::ViewColor::black();
  alignRightImageView.tintColor = platform::ViewColor::black();
  switch (textAlignment) {
    case TextAlignment::left: alignLeftImageView.tintColor = platform::ViewColor::link(); break;
    case TextAlignment::center: alignCenterImageView.tintColor = platform::ViewColor::link(); break;
    default: alignRightImageView.tintColor = platform::ViewColor::link(); break;
  }
  setNeedsSnapshot();
}

void CellFormatPopup::updateColorIndicators() {
  textColorIndicatorView.backgroundColor = viewColor(textColor);
  cellColorIndicatorView.backgroundColor = viewColor(cellColor);
  setNeedsSnapshot();
}

void CellFormatPopup::textColorTapped() {
  colorTarget = ColorTarget::text;
  presentColorPicker();
}

void CellFormatPopup::cellColorTapped() {
  colorTarget = ColorTarget::cell;
  presentColorPicker();
}

void CellFormatPopup::presentColorPicker() {
  auto picker = std::make_shared<platform::ColorPickerViewController>(environment());
  picker->supportsAlpha = false;
  picker->selectedColor = viewColor(colorTarget == ColorTarget::text ? textColor : cellColor);
  picker->delegate = std::dynamic_pointer_cast<platform::ColorPickerViewControllerDelegate>(weak_from_this().lock());
  present(picker, true);
}

void CellFormatPopup::colorPickerViewControllerDidSelectColor(platform::ColorPickerViewController&,
                                                              const platform::ViewColor& color, bool) {
  takePickedColor(color, colorTarget == ColorTarget::text ? textColor : cellColor);
  updateColorIndicators();
}

void CellFormatPopup::colorPickerViewControllerDidFinish(platform::ColorPickerViewController&) {
  std::cout << kColorPickerFinishedMessage << std::endl;
}

bool CellFormatPopup::textFieldShouldReturn(platform::TextField& textField) {
  textField.resignFirstResponder();
  setNeedsSnapshot();
  return true;
}

void CellFormatPopup::cancelTapped() { dismissPopup(); }
void CellFormatPopup::requestDismiss() { dismissPopup(); }

void CellFormatPopup::dismissPopup() { dismiss(true); }

namespace {

platform::ViewNode viewNode(const std::string& kind, const std::string& id, const platform::ViewProperties& view,
                            const std::string& action = {}) {
  platform::ViewNode node(kind, id);
  node.text = view.text;
  node.backgroundColor = view.backgroundColor;
  node.tintColor = view.tintColor;
  node.hidden = view.hidden;
  node.action = action;
  return node;
}

}  // namespace

void CellFormatPopup::addFormatNodes(platform::ViewNode& card) const {
  platform::ViewNode& field = card.add(platform::ViewNode("textField", "cardTextField"));
  field.text = cardTextField.text;
  field.placeholder = cardTextField.placeholder;
  field.properties["firstResponder"] = cardTextField.isFirstResponder() ? "true" : "false";
  field.action = "cardTextField";

  platform::ViewNode& alignment = card.add(platform::ViewNode("stack", "alignment"));
  alignment.add(viewNode("image", "alignLeftImageView", alignLeftImageView, "alignLeftTapped")).properties["image"] =
      "text.alignleft";
  alignment.add(viewNode("image", "alignCenterImageView", alignCenterImageView, "alignCenterTapped"))
      .properties["image"] = "text.aligncenter";
  alignment.add(viewNode("image", "alignRightImageView", alignRightImageView, "alignRightTapped"))
      .properties["image"] = "text.alignright";

  platform::ViewNode& colors = card.add(platform::ViewNode("stack", "colors"));
  colors.add(viewNode("image", "textColorImageView", textColorImageView, "textColorTapped")).properties["image"] =
      "textformat";
  colors.add(viewNode("colorWell", "textColorIndicatorView", textColorIndicatorView, "textColorTapped"));
  colors.add(viewNode("image", "cellColorImageView", cellColorImageView, "cellColorTapped")).properties["image"] =
      "paintbrush";
  colors.add(viewNode("colorWell", "cellColorIndicatorView", cellColorIndicatorView, "cellColorTapped"));
}

platform::ViewNode CellFormatPopup::popupNode(platform::ViewNode card) const {
  platform::ViewNode node = screenNode(className());
  platform::ViewNode& background = node.add(viewNode("view", "backgroundView", backgroundView, "requestDismiss"));
  background.backgroundColor = platform::ViewColor{0, 0, 0, 0.4};
  platform::ViewNode& buttons = card.add(platform::ViewNode("stack", "buttons"));
  buttons.add(platform::ViewNode("button", "cancelTapped")).text = "Cancel";
  buttons.children.back().action = "cancelTapped";
  buttons.add(platform::ViewNode("button", "applyTapped")).text = "Apply";
  buttons.children.back().action = "applyTapped";
  card.backgroundColor = platform::ViewColor::white();
  node.add(std::move(card));
  return node;
}

}  // namespace tabulo
