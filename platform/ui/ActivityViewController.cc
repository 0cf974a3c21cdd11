#include "platform/ui/ActivityViewController.h"

namespace platform {

ActivityViewController::ActivityViewController(std::shared_ptr<UIEnvironment> environment,
                                               std::vector<std::filesystem::path> activityItems)
    : ViewController(std::move(environment)), items_(std::move(activityItems)) {
  registerAction("share.cancel", [this](const Object&) { finish(std::nullopt, false); });
  registerAction("share.complete", [this](const Object& value) {
    finish(value.stringValue() ? std::optional<std::string>(*value.stringValue()) : std::nullopt, true);
  });
}

void ActivityViewController::finish(std::optional<std::string> activityType, bool completed,
                                    std::optional<Error> error) {
  auto self = weak_from_this().lock();
  dismiss(true);
  if (completionWithItemsHandler) {
    CompletionWithItemsHandler handler = std::move(completionWithItemsHandler);
    completionWithItemsHandler = nullptr;  // once
    handler(activityType, completed, {}, error);
  }
}

ViewNode ActivityViewController::snapshot() const {
  ViewNode node = screenNode("shareSheet");
  node.kind = "shareSheet";
  for (size_t i = 0; i < items_.size(); ++i) {
    ViewNode& item = node.add(ViewNode("file", "item." + std::to_string(i)));
    item.text = items_[i].filename().string();
    item.properties["path"] = items_[i].string();
  }
  std::string excluded;
  for (const std::string& type : excludedActivityTypes) excluded += (excluded.empty() ? "" : ",") + type;
  if (!excluded.empty()) node.properties["excludedActivityTypes"] = excluded;
  ViewNode& cancel = node.add(ViewNode("button", "share.cancel"));
  cancel.text = "Cancel";
  cancel.action = "share.cancel";
  return node;
}

}  // namespace platform
