#include "platform/keyboard/IQKeyboardManager.h"

namespace platform {

IQKeyboardManager& IQKeyboardManager::shared() {
  static IQKeyboardManager instance;
  return instance;
}

}  // namespace platform
