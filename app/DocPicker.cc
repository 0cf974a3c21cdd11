#include "app/DocPicker.h"

namespace tabulo {

std::shared_ptr<DocPicker::Coordinator> DocPicker::makeCoordinator() const {
  return std::make_shared<Coordinator>(*this);
}

void DocPicker::Coordinator::documentPicker(platform::DocumentPickerViewController&,
                                            const std::vector<std::filesystem::path>& urls) {
  if (parent.onComplete) parent.onComplete(urls);
}

void DocPicker::Coordinator::documentPickerWasCancelled(platform::DocumentPickerViewController&) {
  if (parent.onDismiss) parent.onDismiss();
}

std::shared_ptr<platform::DocumentPickerViewController> DocPicker::makeUIViewController(
    std::shared_ptr<platform::UIEnvironment> environment, const std::shared_ptr<Coordinator>& coordinator) const {
  auto picker = std::make_shared<platform::DocumentPickerViewController>(
      std::move(environment), documentTypes, platform::DocumentPickerViewController::Mode::import);
  picker->setAllowsMultipleSelection(allowsMultipleSelection);
  picker->setDelegate(coordinator);
  return picker;
}

}  // namespace tabulo
