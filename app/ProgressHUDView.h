// ProgressHUDView — a small card over a prominent blur with a spinning
// indicator, a main text and, when given, a secondary text. It has no button
// and no time-out: it stays until the popup coordinator dismisses it.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/ui/ViewController.h"

namespace tabulo {

class ProgressHUDView : public platform::ViewController {
 public:
  ProgressHUDView(std::shared_ptr<platform::UIEnvironment> environment, std::string text,
                  std::optional<std::string> secondaryText);
  std::string className() const override { return "ProgressHUDView"; }

  const std::string& text() const { return text_; }
  const std::optional<std::string>& secondaryText() const { return secondaryText_; }

  platform::ViewNode snapshot() const override;

 private:
  std::string text_;
  std::optional<std::string> secondaryText_;
};

}  // namespace tabulo
