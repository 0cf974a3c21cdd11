// PrivacyCell — the settings row that lets the user allow or forbid the
// sending of usage data: a caption with a switch (the switch itself has an
// empty label), a line saying what is collected, and a "See more" link.
#pragma once

#include <functional>
#include <string>

#include "platform/core/Object.h"
#include "platform/ui/ViewNode.h"

namespace tabulo {

inline constexpr const char* kSendUsageDataCaption = "Send usage data";
// Follows the app's name in the row's explanation.
inline constexpr const char* kCollectsAnonymousDataText = " collects only anonymous data in order to improve the app usage.";
inline constexpr const char* kSeeMoreText = "See more";

class PrivacyCell {
 public:
  // A two-way binding to a boolean owned elsewhere.
  struct Binding {
    std::function<bool()> get;
    std::function<void(bool)> set;
  };

  // Action names of the switch and of the "See more" button in node().
  static constexpr const char* switchAction = "privacy.usageData";
  static constexpr const char* seeMoreAction = "privacy.seeMore";

  PrivacyCell(Binding usageDataEnabled, std::function<void(bool)> onPermissionChange,
              std::function<void()> onSeeMoreTapped, std::string appName);

  Binding usageDataEnabled;
  std::function<void(bool)> onPermissionChange;
  std::function<void()> onSeeMoreTapped;
  std::string appName;

  // The switch was moved to `isOn`: the binding takes the value, and when it
  // changed, onPermissionChange hears of it.
  void switchChanged(bool isOn);
  void seeMoreTapped();

  platform::ViewNode node() const;
};

}  // namespace tabulo
