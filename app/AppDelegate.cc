#include "app/AppDelegate.h"

#include "app/AppAnalytics.h"
#include "app/AppConsole.h"

namespace tabulo {

AppDelegate::Dependencies AppDelegate::Dependencies::standard() {
  return {platform::FileSystem::shared(), &platform::IQKeyboardManager::shared(),
          &platform::IQKeyboardToolbarManager::shared()};
}

AppDelegate::AppDelegate(Dependencies dependencies) : memento(kMemento), dependencies_(std::move(dependencies)) {}

std::string AppDelegate::mementoLine() const {
  return memento ? "Optional(\"" + *memento + "\")" : "nil";
}

bool AppDelegate::application(platform::Application&, const std::optional<platform::Dictionary>&) {
  AppAnalytics::shared()->configure();
  if (dependencies_.fileSystem) dependencies_.fileSystem->createDirectoriesIfNeeded();
  if (dependencies_.keyboardManager) {
    dependencies_.keyboardManager->setEnabled(true);
    dependencies_.keyboardManager->setKeyboardDistance(kKeyboardDistance);
  }
  if (dependencies_.keyboardToolbarManager) dependencies_.keyboardToolbarManager->setEnabled(true);
  printLine(mementoLine());
  return true;
}

unsigned AppDelegate::application(platform::Application&, const platform::Window*) const {
  return platform::kInterfaceOrientationMaskPortrait;
}

}  // namespace tabulo
