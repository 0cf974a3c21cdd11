#include "platform/ui/DocumentPickerViewController.h"

namespace platform {

void DocumentPickerViewController::pick(const std::vector<std::filesystem::path>& urls) {
  auto self = shared_from_this();
  if (auto delegate = delegate_.lock()) delegate->documentPicker(*this, urls);
}

void DocumentPickerViewController::cancel() {
  auto self = shared_from_this();
  if (auto delegate = delegate_.lock()) delegate->documentPickerWasCancelled(*this);
}

ViewNode DocumentPickerViewController::snapshot() const {
  ViewNode node = screenNode("documentPicker");
  std::string types;
  for (const auto& type : documentTypes_) types += (types.empty() ? "" : ",") + type;
  node.properties["documentTypes"] = types;
  node.properties["allowsMultipleSelection"] = allowsMultipleSelection_ ? "true" : "false";
  node.properties["mode"] = std::to_string(static_cast<int>(mode_));
  return node;
}

}  // namespace platform
