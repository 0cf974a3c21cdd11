#include "platform/ui/NavigationItem.h"

#include <charconv>

namespace platform {

ViewNode NavigationItem::snapshot() const {
  ViewNode bar("navigationBar", "navigationBar");
  bar.text = title;
  bar.properties["hidesBackButton"] = hidesBackButton ? "true" : "false";
  for (size_t i = 0; i < leftBarButtonItems.size(); ++i) {
    if (leftBarButtonItems[i]) bar.add(leftBarButtonItems[i]->snapshot("left." + std::to_string(i), "bar.left." + std::to_string(i)));
  }
  for (size_t i = 0; i < rightBarButtonItems.size(); ++i) {
    if (rightBarButtonItems[i]) bar.add(rightBarButtonItems[i]->snapshot("right." + std::to_string(i), "bar.right." + std::to_string(i)));
  }
  return bar;
}

std::string NavigationItem::backButtonLabel() const {
  if (backBarButtonItem) return backBarButtonItem->title().value_or("");
  if (title && !title->empty()) return *title;
  return "Back";
}

bool NavigationItem::perform(const std::string& action) const {
  const std::string prefix = "bar.";
  if (action.compare(0, prefix.size(), prefix) != 0) return false;
  std::string rest = action.substr(prefix.size());
  const std::vector<std::shared_ptr<BarButtonItem>>* items = nullptr;
  if (rest.compare(0, 5, "left.") == 0) {
    items = &leftBarButtonItems;
    rest = rest.substr(5);
  } else if (rest.compare(0, 6, "right.") == 0) {
    items = &rightBarButtonItems;
    rest = rest.substr(6);
  } else {
    return false;
  }
  size_t index = 0;
  auto [next, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), index);
  if (ec != std::errc() || index >= items->size() || !(*items)[index]) return false;
  const BarButtonItem& item = *(*items)[index];
  const std::string tail(next, static_cast<const char*>(rest.data() + rest.size()));
  if (tail.empty()) return item.tap();
  const std::string menuPrefix = ".menu.";
  if (item.menu() && item.isEnabled() && tail.compare(0, menuPrefix.size(), menuPrefix) == 0) {
    return item.menu()->perform(tail.substr(menuPrefix.size()));
  }
  return false;
}

}  // namespace platform
