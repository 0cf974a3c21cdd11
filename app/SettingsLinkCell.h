// SettingsLinkCell — a settings row that leads somewhere: its title with a
// chevron at the trailing end, the whole row one button.
#pragma once

#include <functional>
#include <string>

#include "platform/ui/ViewNode.h"

namespace tabulo {

class SettingsLinkCell {
 public:
  SettingsLinkCell(std::string title, std::function<void()> onTap);

  std::string title;
  std::function<void()> onTap;

  void tapped();
  // The row, whose button sends `action`.
  platform::ViewNode node(const std::string& id, const std::string& action) const;
};

}  // namespace tabulo
