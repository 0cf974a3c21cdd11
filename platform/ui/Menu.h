// platform::Menu and MenuAction — the menus that bar button items open.
//
// A menu has a title, an optional system-symbol image, options (displayInline
// shows its entries in the parent menu, separated, instead of as a submenu)
// and its entries in order: actions and submenus. An action has a title, an
// optional system-symbol image, an identifier, a discoverability title,
// attributes and a state as the platform has them, and a handler that a tap
// runs. Menus are values; their handlers may hold screens only weakly.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/ui/ViewNode.h"

namespace platform {

struct MenuAction {
  enum class State : int { off = 0, on = 1, mixed = 2 };

  std::string title;
  std::optional<std::string> image;  // system symbol name
  std::optional<std::string> identifier;
  std::optional<std::string> discoverabilityTitle;
  int attributes = 0;  // disabled 1, destructive 2, hidden 4
  State state = State::off;
  std::function<void()> handler;
};

struct Menu {
  static constexpr int displayInline = 1;
  static constexpr int destructive = 2;

  using Element = std::variant<MenuAction, std::shared_ptr<Menu>>;

  std::string title;
  std::optional<std::string> image;
  int options = 0;
  std::vector<Element> children;

  // The action reached by following `titles` (submenu titles, then the
  // action's title); null when there is none.
  const MenuAction* find(const std::vector<std::string>& titles) const;

  // The menu as a "menu" node; each action is a "menuAction" node whose
  // action name is `actionPrefix` followed by its index path ("0", "2.1"...).
  ViewNode snapshot(const std::string& id, const std::string& actionPrefix) const;
  // Runs the handler named by an index path of snapshot(); false when there is none.
  bool perform(const std::string& indexPath) const;
};

}  // namespace platform
