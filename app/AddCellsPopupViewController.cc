#include "app/AddCellsPopupViewController.h"

namespace tabulo {

AddCellsPopupViewController::AddCellsPopupViewController(std::shared_ptr<platform::UIEnvironment> environment,
                                                         DisplayMode displayMode)
    : platform::ViewController(std::move(environment)), displayMode(displayMode) {
  segmentedControl.segments = {"1", "2", "3", "4", "5"};
  segmentedControl.selectedSegmentIndex = 0;
  registerAction("segmentChanged", [this](const platform::Object& value) {
    if (auto index = value.numberValue()) {
      // Only indexes of the control's segments are reported.
      if (*index >= 0 && *index < static_cast<double>(segmentedControl.segments.size())) {
        segmentChanged(static_cast<int64_t>(*index));
      }
    }
  });
  registerAction("addTapped", [this](const platform::Object&) { addTapped(); });
  registerAction("cancelTapped", [this](const platform::Object&) { cancelTapped(); });
  registerAction("requestDismiss", [this](const platform::Object&) { requestDismiss(); });
}

void AddCellsPopupViewController::viewDidLoad() {
  platform::ViewController::viewDidLoad();
  backgroundView.receivesTaps = true;
  configureLabels();
}

void AddCellsPopupViewController::configureLabels() {
  if (displayMode == DisplayMode::rows) {
    headerTitleLabel.text = kAddRowsTitle;
    messageLabel.text = kAddRowsMessage;
  } else {
    headerTitleLabel.text = kAddColumnsTitle;
    messageLabel.text = kAddColumnsMessage;
  }
  setNeedsSnapshot();
}

void AddCellsPopupViewController::segmentChanged(int64_t index) {
  segmentedControl.selectedSegmentIndex = index;
  selectedIndex = index;
  setNeedsSnapshot();
}

void AddCellsPopupViewController::addTapped() { addCells(); }

void AddCellsPopupViewController::addCells() {
  if (auto receiver = delegate.lock()) receiver->applyAddCells(displayMode, selectedIndex + 1);
  dismissPopup();
}

void AddCellsPopupViewController::cancelTapped() { dismissPopup(); }
void AddCellsPopupViewController::requestDismiss() { dismissPopup(); }
void AddCellsPopupViewController::dismissPopup() { dismiss(true); }

platform::ViewNode AddCellsPopupViewController::snapshot() const {
  platform::ViewNode node = screenNode(className());
  platform::ViewNode& background = node.add(platform::ViewNode("view", "backgroundView"));
  background.backgroundColor = platform::ViewColor{0, 0, 0, 0.4};
  background.action = "requestDismiss";
  platform::ViewNode& card = node.add(platform::ViewNode("card", "cardView"));
  card.backgroundColor = platform::ViewColor::white();
  card.add(platform::ViewNode("label", "headerTitleLabel")).text = headerTitleLabel.text;
  card.add(platform::ViewNode("label", "messageLabel")).text = messageLabel.text;
  platform::ViewNode& segments = card.add(platform::ViewNode("segmentedControl", "segmentedControl"));
  segments.value = static_cast<double>(segmentedControl.selectedSegmentIndex);
  segments.action = "segmentChanged";
  for (size_t i = 0; i < segmentedControl.segments.size(); ++i) {
    platform::ViewNode& segment = segments.add(platform::ViewNode("segment", "segment." + std::to_string(i)));
    segment.text = segmentedControl.segments[i];
    segment.selected = static_cast<int64_t>(i) == segmentedControl.selectedSegmentIndex;
  }
  platform::ViewNode& cancel = card.add(platform::ViewNode("button", "cancelTapped"));
  cancel.text = "Cancel";
  cancel.action = "cancelTapped";
  platform::ViewNode& add = card.add(platform::ViewNode("button", "addTapped"));
  add.text = "Add";
  add.action = "addTapped";
  return node;
}

}  // namespace tabulo
