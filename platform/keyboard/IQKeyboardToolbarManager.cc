#include "platform/keyboard/IQKeyboardToolbarManager.h"

namespace platform {

IQKeyboardToolbarManager& IQKeyboardToolbarManager::shared() {
  static IQKeyboardToolbarManager instance;
  return instance;
}

}  // namespace platform
