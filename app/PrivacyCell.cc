#include "app/PrivacyCell.h"

namespace tabulo {

namespace {
platform::ViewNode text(const std::string& id, const std::string& value, const char* size, const char* weight) {
  platform::ViewNode node("label", id);
  node.text = value;
  node.properties["fontSize"] = size;
  node.properties["fontWeight"] = weight;
  return node;
}
}  // namespace

PrivacyCell::PrivacyCell(Binding usageDataEnabled, std::function<void(bool)> onPermissionChange,
                         std::function<void()> onSeeMoreTapped, std::string appName)
    : usageDataEnabled(std::move(usageDataEnabled)),
      onPermissionChange(std::move(onPermissionChange)),
      onSeeMoreTapped(std::move(onSeeMoreTapped)),
      appName(std::move(appName)) {}

void PrivacyCell::switchChanged(bool isOn) {
  // A switch reports a change only when its value really changes.
  if (usageDataEnabled.get && usageDataEnabled.get() == isOn) return;
  if (usageDataEnabled.set) usageDataEnabled.set(isOn);
  if (onPermissionChange) onPermissionChange(isOn);
}

void PrivacyCell::seeMoreTapped() {
  if (onSeeMoreTapped) onSeeMoreTapped();
}

platform::ViewNode PrivacyCell::node() const {
  platform::ViewNode cell("stack", "privacyCell");
  cell.properties = {{"axis", "vertical"}, {"alignment", "leading"}, {"spacing", "10"}};

  platform::ViewNode& row = cell.add(platform::ViewNode("stack", "usageData"));
  row.properties = {{"axis", "horizontal"}, {"alignment", "center"}};
  row.add(text("caption", kSendUsageDataCaption, "17", "medium"));
  platform::ViewNode& toggle = row.add(platform::ViewNode("toggle", "usageDataSwitch"));
  toggle.text = "";
  toggle.value = usageDataEnabled.get && usageDataEnabled.get() ? 1.0 : 0.0;
  toggle.action = switchAction;

  platform::ViewNode& details = cell.add(platform::ViewNode("stack", "details"));
  details.properties = {{"axis", "vertical"}, {"alignment", "leading"}, {"spacing", "8"}};
  details.add(text("explanation", appName + kCollectsAnonymousDataText, "13", "regular"));
  platform::ViewNode seeMore = text("seeMore", kSeeMoreText, "15", "regular");
  seeMore.kind = "button";
  seeMore.textColor = platform::ViewColor::link();
  seeMore.properties["buttonStyle"] = "borderless";
  seeMore.action = seeMoreAction;
  details.add(std::move(seeMore));
  return cell;
}

}  // namespace tabulo
