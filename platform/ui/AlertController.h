// platform::AlertController — an alert (or action sheet) with a title, a
// message and actions in order.
//
// A tap on an action (tapAction, or the action "alert.<index>" from a
// renderer) dismisses the alert, animated, and then runs the action's
// handler with the action. Handlers hold screens only weakly.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/ViewController.h"

namespace platform {

struct AlertAction {
  enum class Style : int { defaultStyle = 0, cancel = 1, destructive = 2 };
  std::string title;
  Style style = Style::defaultStyle;
  std::function<void(const AlertAction&)> handler;
  bool enabled = true;
};

class AlertController : public ViewController {
 public:
  enum class Style : int { actionSheet = 0, alert = 1 };

  static std::shared_ptr<AlertController> make(std::shared_ptr<UIEnvironment> environment,
                                               std::optional<std::string> title, std::optional<std::string> message,
                                               Style preferredStyle);

  AlertController(std::shared_ptr<UIEnvironment> environment, std::optional<std::string> title,
                  std::optional<std::string> message, Style preferredStyle);
  std::string className() const override { return "UIAlertController"; }
  bool isPlatformClass() const override { return isExactly<AlertController>(); }

  const std::optional<std::string>& title() const { return title_; }
  const std::optional<std::string>& message() const { return message_; }
  Style preferredStyle() const { return preferredStyle_; }

  void addAction(AlertAction action) { actions_.push_back(std::move(action)); }
  const std::vector<AlertAction>& actions() const { return actions_; }

  // The user taps the action at `index`; false when there is none or it is disabled.
  bool tapAction(size_t index);
  // The user taps the first action titled `title`.
  bool tapAction(const std::string& title);

  ViewNode snapshot() const override;
  bool performAction(const std::string& name, const Object& value = {}) override;

 private:
  std::optional<std::string> title_;
  std::optional<std::string> message_;
  Style preferredStyle_;
  std::vector<AlertAction> actions_;
};

}  // namespace platform
