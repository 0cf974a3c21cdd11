#include "platform/ui/AlertController.h"

#include <charconv>

namespace platform {

std::shared_ptr<AlertController> AlertController::make(std::shared_ptr<UIEnvironment> environment,
                                                       std::optional<std::string> title,
                                                       std::optional<std::string> message, Style preferredStyle) {
  return std::make_shared<AlertController>(std::move(environment), std::move(title), std::move(message),
                                           preferredStyle);
}

AlertController::AlertController(std::shared_ptr<UIEnvironment> environment, std::optional<std::string> title,
                                 std::optional<std::string> message, Style preferredStyle)
    : ViewController(std::move(environment)),
      title_(std::move(title)),
      message_(std::move(message)),
      preferredStyle_(preferredStyle) {
  setModalPresentationStyle(ModalPresentationStyle::overFullScreen);
}

bool AlertController::tapAction(size_t index) {
  if (index >= actions_.size() || !actions_[index].enabled) return false;
  auto self = weak_from_this().lock();
  AlertAction action = actions_[index];
  dismiss(true);
  if (action.handler) action.handler(action);
  return true;
}

bool AlertController::tapAction(const std::string& title) {
  for (size_t i = 0; i < actions_.size(); ++i) {
    if (actions_[i].title == title) return tapAction(i);
  }
  return false;
}

ViewNode AlertController::snapshot() const {
  ViewNode node = screenNode("alert");
  node.kind = "alert";
  node.text = title_;
  node.properties["style"] = preferredStyle_ == Style::alert ? "alert" : "actionSheet";
  if (message_) node.properties["message"] = *message_;
  for (size_t i = 0; i < actions_.size(); ++i) {
    ViewNode& button = node.add(ViewNode("alertAction", "alert." + std::to_string(i)));
    button.text = actions_[i].title;
    button.enabled = actions_[i].enabled;
    button.action = "alert." + std::to_string(i);
    switch (actions_[i].style) {
      case AlertAction::Style::defaultStyle: button.properties["style"] = "default"; break;
      case AlertAction::Style::cancel: button.properties["style"] = "cancel"; break;
      case AlertAction::Style::destructive: button.properties["style"] = "destructive"; break;
    }
  }
  return node;
}

bool AlertController::performAction(const std::string& name, const Object& value) {
  const std::string prefix = "alert.";
  if (name.compare(0, prefix.size(), prefix) == 0) {
    size_t index = 0;
    const char* end = name.data() + name.size();
    auto [next, ec] = std::from_chars(name.data() + prefix.size(), end, index);
    if (ec == std::errc() && next == end) return tapAction(index);
    return false;
  }
  return ViewController::performAction(name, value);
}

}  // namespace platform
