// AppDelegate — the app's launch handler.
//
// At launch, in this order: configures analytics (AppAnalytics::shared()),
// makes the outputs directory, enables the keyboard manager with a keyboard
// distance of 100 points and the keyboard toolbar manager, and prints the
// memento line. The app runs in portrait only, on every device.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/core/Object.h"
#include "platform/filesystem/FileSystem.h"
#include "platform/keyboard/IQKeyboardManager.h"
#include "platform/keyboard/IQKeyboardToolbarManager.h"
#include "platform/ui/Application.h"

namespace tabulo {

inline constexpr const char* kMemento =
    "UNIVERSO! POR FAVOR! FA\xC3\x87" "A DESTE APLICATIVO UM GRANDE SUCESSO E QUE ELE FA\xC3\x87" "A A MINHA VIDA SER "
    "MARAVILHOSA!";
inline constexpr double kKeyboardDistance = 100.0;

class AppDelegate {
 public:
  struct Dependencies {
    std::shared_ptr<platform::FileSystem> fileSystem;
    platform::IQKeyboardManager* keyboardManager = nullptr;
    platform::IQKeyboardToolbarManager* keyboardToolbarManager = nullptr;

    // The shared file system and keyboard managers.
    static Dependencies standard();
  };

  explicit AppDelegate(Dependencies dependencies = Dependencies::standard());

  // Set at creation, never changed.
  std::optional<std::string> memento;

  // didFinishLaunchingWithOptions: the launch steps; answers true. The
  // options are not read.
  bool application(platform::Application& application, const std::optional<platform::Dictionary>& launchOptions);
  // supportedInterfaceOrientationsForWindow: portrait only, for every window.
  unsigned application(platform::Application& application, const platform::Window* window) const;

  // The memento as the launch prints it: Optional("...").
  std::string mementoLine() const;

 private:
  Dependencies dependencies_;
};

}  // namespace tabulo
