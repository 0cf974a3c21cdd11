// GWLAEU — facts about the app and the device that several components ask for.
//
// Everything comes from the app environment (platform::AppEnvironment): the
// install source is fixed when the program is built (a release build counts as
// a store build), and device model and system version are configured values,
// never read from the host. Answers are computed on each call.
//
// The app-state functions beside it answer whether the app is active, whether
// this launch was pre-warmed and whether the Info dictionary declares scenes.
//
// Threads: any thread; the app-state provider is guarded by a mutex.
#pragma once

#include <functional>
#include <optional>
#include <string>

class GWLAEU {
 public:
  // The store receipt's location: the shared store's receipt file (which
  // exists once something was bought); none without a store (no data
  // directory) and none when the Info dictionary's
  // "CorvaneAppStoreReceiptURLCheckEnabled" is a false number.
  [[nodiscard]] static std::optional<std::string> appStoreRURL();
  // Installed from the store: never in the simulator or with a sandbox
  // receipt; otherwise the app environment's install source.
  static bool isFAS();
  // The receipt is a sandbox receipt.
  static bool isASRS();
  // The device model is a simulator's ("x86_64" or "i386").
  static bool isNOD();
  static std::string deviceModel();
  static std::string systemVersion();
  // Running as an app extension; this platform has none.
  static bool isAEX();
  // Whether a class of that name is present in the process: the app
  // environment's registry of optional components.
  [[nodiscard]] static bool classExists(const std::string& className);
};

// Whether the app is active, as the screen-view reporter tells it. Until a
// reporter installs its answer with GWLSetAppActiveProvider, the app counts as
// not active.
bool GWLIsAppActive();
void GWLSetAppActiveProvider(std::function<bool()> provider);
// The environment holds "ActivePrewarm" with a true value (a pre-warmed launch).
bool GWLIsActivePrewarm();
// The Info dictionary has an entry "UIApplicationSceneManifest".
[[nodiscard]] bool GWLHasSceneManifest();
