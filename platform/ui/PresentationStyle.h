// platform::ModalPresentationStyle, ModalTransitionStyle and
// UserInterfaceIdiom — the platform's presentation enumerations, with their
// platform raw values.
#pragma once

#include <string>

namespace platform {

enum class ModalPresentationStyle : int {
  automatic = -2,
  fullScreen = 0,
  pageSheet = 1,
  formSheet = 2,
  currentContext = 3,
  custom = 4,
  overFullScreen = 5,
  overCurrentContext = 6,
  popover = 7,
};

enum class ModalTransitionStyle : int { coverVertical = 0, flipHorizontal = 1, crossDissolve = 2, partialCurl = 3 };

enum class UserInterfaceIdiom : int { phone = 0, pad = 1 };

std::string toString(ModalPresentationStyle style);
std::string toString(ModalTransitionStyle style);

}  // namespace platform
