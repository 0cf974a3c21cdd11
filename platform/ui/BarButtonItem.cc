#include "platform/ui/BarButtonItem.h"

namespace platform {

std::shared_ptr<BarButtonItem> BarButtonItem::withTitle(std::string title, Style style, std::function<void()> action) {
  auto item = std::make_shared<BarButtonItem>();
  item->title_ = std::move(title);
  item->style_ = style;
  item->action_ = std::move(action);
  return item;
}

std::shared_ptr<BarButtonItem> BarButtonItem::withImage(std::string systemImage,
                                                        std::optional<SymbolConfiguration> configuration,
                                                        Style style, std::function<void()> action) {
  auto item = std::make_shared<BarButtonItem>();
  item->systemImage_ = std::move(systemImage);
  item->symbolConfiguration_ = configuration;
  item->style_ = style;
  item->action_ = std::move(action);
  return item;
}

std::shared_ptr<BarButtonItem> BarButtonItem::withMenu(std::string systemImage, std::shared_ptr<Menu> menu) {
  auto item = std::make_shared<BarButtonItem>();
  item->systemImage_ = std::move(systemImage);
  item->menu_ = std::move(menu);
  return item;
}

bool BarButtonItem::tap() const {
  if (!enabled_ || !action_) return false;
  action_();
  return true;
}

ViewNode BarButtonItem::snapshot(const std::string& id, const std::string& action) const {
  ViewNode node("barButtonItem", id);
  node.text = title_;
  if (systemImage_) node.properties["image"] = *systemImage_;
  node.properties["style"] = std::to_string(static_cast<int>(style_));
  node.enabled = enabled_;
  if (action_) node.action = action;
  if (menu_) node.add(menu_->snapshot(id + ".menu", action + ".menu."));
  return node;
}

}  // namespace platform
