#include "app/SettingsLinkCell.h"

namespace tabulo {

SettingsLinkCell::SettingsLinkCell(std::string title, std::function<void()> onTap)
    : title(std::move(title)), onTap(std::move(onTap)) {}

void SettingsLinkCell::tapped() {
  if (onTap) onTap();
}

platform::ViewNode SettingsLinkCell::node(const std::string& id, const std::string& action) const {
  platform::ViewNode cell("overlay", id);
  cell.properties["alignment"] = "center";

  platform::ViewNode& row = cell.add(platform::ViewNode("stack", "row"));
  row.properties = {{"axis", "horizontal"}, {"alignment", "center"}};
  platform::ViewNode& label = row.add(platform::ViewNode("label", "title"));
  label.text = title;
  label.properties = {{"fontSize", "17"}, {"fontWeight", "medium"}};
  row.add(platform::ViewNode("spacer", "spacer"));
  platform::ViewNode& chevron = row.add(platform::ViewNode("image", "chevron"));
  chevron.properties = {{"systemName", "chevron.right"}, {"fontSize", "14"}, {"fontWeight", "semibold"}};
  chevron.tintColor = platform::ViewColor{0.771, 0.771, 0.779, 1};

  platform::ViewNode& button = cell.add(platform::ViewNode("button", "button"));
  button.text = "";
  button.action = action;
  return cell;
}

}  // namespace tabulo
