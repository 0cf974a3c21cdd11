// platform::IQKeyboardToolbarManager — shows a toolbar (previous, next, done)
// above the on-screen keyboard.
//
// A stand-in for the keyboard library: it holds the switch that a renderer
// with an on-screen keyboard reads. One process-wide instance.
#pragma once

#include <atomic>

namespace platform {

class IQKeyboardToolbarManager {
 public:
  static IQKeyboardToolbarManager& shared();

  bool isEnabled() const { return enabled_.load(); }
  void setEnabled(bool enabled) { enabled_.store(enabled); }

 private:
  std::atomic<bool> enabled_{false};
};

}  // namespace platform
