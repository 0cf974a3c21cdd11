// platform::NavigationItem — what a navigation bar shows for the controller on
// top of a navigation stack: a title, whether the platform's back button is
// hidden, the left and right bar button items (the first right item stands
// at the outer edge), and the back item that a screen pushed on top of this
// one shows as its way back (none: the platform's, labelled with this title).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/BarButtonItem.h"
#include "platform/ui/ViewNode.h"

namespace platform {

struct NavigationItem {
  std::optional<std::string> title;
  bool hidesBackButton = false;
  std::vector<std::shared_ptr<BarButtonItem>> leftBarButtonItems;
  std::vector<std::shared_ptr<BarButtonItem>> rightBarButtonItems;
  std::shared_ptr<BarButtonItem> backBarButtonItem;

  // The label of the way back that a screen pushed on top of this one shows:
  // the back item's title when there is a back item (an empty title leaves
  // the chevron alone), else this item's title, else "Back".
  std::string backButtonLabel() const;

  // A "navigationBar" node; item actions are "bar.left.<i>" and
  // "bar.right.<i>", menu entries "bar.right.<i>.menu.<index path>".
  ViewNode snapshot() const;
  // Runs an action name of snapshot(); false when it names nothing.
  bool perform(const std::string& action) const;
};

}  // namespace platform
