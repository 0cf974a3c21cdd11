#include "app/HeaderCellPopupViewController.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace tabulo {

std::string magnitudeText(const char* format, float size) {
  int64_t whole = 0;
  if (std::isnan(size)) {
    whole = 0;
  } else if (size >= 9223372036854775807.0f) {
    whole = std::numeric_limits<int64_t>::max();
  } else if (size <= -9223372036854775808.0f) {
    whole = std::numeric_limits<int64_t>::min();
  } else {
    whole = static_cast<int64_t>(size);  // towards zero
  }
  std::string text(format);
  const size_t at = text.find("%d");
  if (at != std::string::npos) text.replace(at, 2, std::to_string(whole));
  return text;
}

HeaderCellPopupViewController::HeaderCellPopupViewController(std::shared_ptr<platform::UIEnvironment> environment,
                                                             Dependencies dependencies)
    : CellFormatPopup(std::move(environment)), dependencies(std::move(dependencies)) {
  textAlignment = this->dependencies.content.textAlignment;
  textColor = this->dependencies.content.textColor;
  cellColor = this->dependencies.content.cellColor;
  magnitudeValue = this->dependencies.currentSize;
  registerAction("sliderValueChanged", [this](const platform::Object& value) {
    if (auto number = value.numberValue()) sliderValueChanged(static_cast<float>(*number));
  });
}

void HeaderCellPopupViewController::viewDidLoad() {
  CellFormatPopup::viewDidLoad();
  backgroundView.receivesTaps = true;
  configureTextField(dependencies.content.text);
  configureSlider();
  updateAlignmentIcons();
  updateColorIndicators();
  updateMagnitudeLabel();
  impactGenerator.prepare();
}

void HeaderCellPopupViewController::configureSlider() {
  if (dependencies.indexPath.row == 0) {
    sliderView.minimumValue = kColumnWidthMinimum;
    sliderView.maximumValue = kColumnWidthMaximum;
  } else if (dependencies.indexPath.section == 0) {
    sliderView.minimumValue = kRowHeightMinimum;
    sliderView.maximumValue = kRowHeightMaximum;
  }
  sliderView.setValue(dependencies.currentSize, false);
}

void HeaderCellPopupViewController::sliderValueChanged(float value) {
  // The slider keeps its value within its range.
  sliderView.setValue(value);
  magnitudeValue = sliderView.value;
  updateMagnitudeLabel();
}

void HeaderCellPopupViewController::updateMagnitudeLabel() {
  if (dependencies.indexPath.row == 0) {
    magnitudeLabel.text = magnitudeText(kWidthLabelFormat, magnitudeValue);
  } else if (dependencies.indexPath.section == 0) {
    magnitudeLabel.text = magnitudeText(kHeightLabelFormat, magnitudeValue);
  }
  setNeedsSnapshot();
}

void HeaderCellPopupViewController::applyTapped() { applyChanges(); }

void HeaderCellPopupViewController::applyChanges() {
  if (auto receiver = delegate.lock()) {
    SpreadsheetCellContent content;
    content.text = enteredText();
    content.textAlignment = textAlignment;
    content.textColor = textColor;
    content.cellColor = cellColor;
    content.imagePath = std::nullopt;
    receiver->applyHeaderChanges(content, dependencies.indexPath, magnitudeValue);
  }
  dismissPopup();
}

platform::ViewNode HeaderCellPopupViewController::snapshot() const {
  platform::ViewNode card("card", "cardView");
  addFormatNodes(card);
  platform::ViewNode& label = card.add(platform::ViewNode("label", "magnitudeLabel"));
  label.text = magnitudeLabel.text;
  platform::ViewNode& slider = card.add(platform::ViewNode("slider", "sliderView"));
  slider.value = sliderView.value;
  slider.minimum = sliderView.minimumValue;
  slider.maximum = sliderView.maximumValue;
  slider.action = "sliderValueChanged";
  return popupNode(std::move(card));
}

}  // namespace tabulo
