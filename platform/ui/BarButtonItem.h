// platform::BarButtonItem — an item of a navigation bar: a title or a system
// symbol image (with its symbol configuration), a style, an enabled flag, and
// either an action (the target's method, held by the caller as a callback)
// or a menu that a tap opens. Items are reference objects: a screen keeps the
// item it made and changes its enabled flag later.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/ui/Menu.h"
#include "platform/ui/ViewNode.h"

namespace platform {

struct SymbolConfiguration {
  double pointSize = 0;
  int weight = 0;  // the platform's symbol weight value (medium is 5)
  friend bool operator==(const SymbolConfiguration&, const SymbolConfiguration&) = default;
};

class BarButtonItem {
 public:
  enum class Style : int { plain = 0, bordered = 1, done = 2 };

  static std::shared_ptr<BarButtonItem> withTitle(std::string title, Style style, std::function<void()> action);
  static std::shared_ptr<BarButtonItem> withImage(std::string systemImage,
                                                  std::optional<SymbolConfiguration> configuration, Style style,
                                                  std::function<void()> action);
  static std::shared_ptr<BarButtonItem> withMenu(std::string systemImage, std::shared_ptr<Menu> menu);

  const std::optional<std::string>& title() const { return title_; }
  const std::optional<std::string>& systemImage() const { return systemImage_; }
  const std::optional<SymbolConfiguration>& symbolConfiguration() const { return symbolConfiguration_; }
  Style style() const { return style_; }
  const std::shared_ptr<Menu>& menu() const { return menu_; }

  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled) { enabled_ = enabled; }

  // A tap: runs the action when the item is enabled and has one; false otherwise.
  bool tap() const;

  ViewNode snapshot(const std::string& id, const std::string& action) const;

 private:
  std::optional<std::string> title_;
  std::optional<std::string> systemImage_;
  std::optional<SymbolConfiguration> symbolConfiguration_;
  Style style_ = Style::plain;
  bool enabled_ = true;
  std::function<void()> action_;
  std::shared_ptr<Menu> menu_;
};

}  // namespace platform
