#include "platform/ui/PresentationStyle.h"

namespace platform {

std::string toString(ModalPresentationStyle style) {
  switch (style) {
    case ModalPresentationStyle::automatic: return "automatic";
    case ModalPresentationStyle::fullScreen: return "fullScreen";
    case ModalPresentationStyle::pageSheet: return "pageSheet";
    case ModalPresentationStyle::formSheet: return "formSheet";
    case ModalPresentationStyle::currentContext: return "currentContext";
    case ModalPresentationStyle::custom: return "custom";
    case ModalPresentationStyle::overFullScreen: return "overFullScreen";
    case ModalPresentationStyle::overCurrentContext: return "overCurrentContext";
    case ModalPresentationStyle::popover: return "popover";
  }
  return "unknown";
}

std::string toString(ModalTransitionStyle style) {
  switch (style) {
    case ModalTransitionStyle::coverVertical: return "coverVertical";
    case ModalTransitionStyle::flipHorizontal: return "flipHorizontal";
    case ModalTransitionStyle::crossDissolve: return "crossDissolve";
    case ModalTransitionStyle::partialCurl: return "partialCurl";
  }
  return "unknown";
}

}  // namespace platform
