#include "platform/ui/Menu.h"

#include <charconv>

namespace platform {

const MenuAction* Menu::find(const std::vector<std::string>& titles) const {
  if (titles.empty()) return nullptr;
  for (const Element& element : children) {
    if (const auto* action = std::get_if<MenuAction>(&element)) {
      if (titles.size() == 1 && action->title == titles.front()) return action;
    } else if (const auto& submenu = std::get<std::shared_ptr<Menu>>(element);
               submenu && titles.size() > 1 && submenu->title == titles.front()) {
      return submenu->find(std::vector<std::string>(titles.begin() + 1, titles.end()));
    }
  }
  return nullptr;
}

ViewNode Menu::snapshot(const std::string& id, const std::string& actionPrefix) const {
  ViewNode node("menu", id);
  node.text = title;
  if (image) node.properties["image"] = *image;
  if (options & displayInline) node.properties["displayInline"] = "true";
  for (size_t i = 0; i < children.size(); ++i) {
    const std::string path = actionPrefix + std::to_string(i);
    if (const auto* action = std::get_if<MenuAction>(&children[i])) {
      ViewNode& entry = node.add(ViewNode("menuAction", id + "." + std::to_string(i)));
      entry.text = action->title;
      if (action->image) entry.properties["image"] = *action->image;
      entry.enabled = (action->attributes & 1) == 0;
      entry.selected = action->state == MenuAction::State::on;
      entry.action = path;
    } else if (const auto& submenu = std::get<std::shared_ptr<Menu>>(children[i])) {
      node.add(submenu->snapshot(id + "." + std::to_string(i), path + "."));
    }
  }
  return node;
}

bool Menu::perform(const std::string& indexPath) const {
  size_t index = 0;
  const char* begin = indexPath.data();
  const char* end = begin + indexPath.size();
  auto [next, ec] = std::from_chars(begin, end, index);
  if (ec != std::errc() || index >= children.size()) return false;
  if (const auto* action = std::get_if<MenuAction>(&children[index])) {
    if (next != end || !action->handler || (action->attributes & 1)) return false;
    action->handler();
    return true;
  }
  const auto& submenu = std::get<std::shared_ptr<Menu>>(children[index]);
  if (!submenu || next == end || *next != '.') return false;
  return submenu->perform(std::string(next + 1, end));
}

}  // namespace platform
