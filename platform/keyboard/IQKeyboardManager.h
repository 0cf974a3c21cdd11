// platform::IQKeyboardManager — keeps an edited text field clear of the
// on-screen keyboard.
//
// A stand-in for the keyboard library: it holds the switch and the distance
// (in points) that a renderer with an on-screen keyboard keeps between the
// edited field and the keyboard. One process-wide instance.
#pragma once

#include <atomic>

namespace platform {

class IQKeyboardManager {
 public:
  static IQKeyboardManager& shared();

  bool isEnabled() const { return enabled_.load(); }
  void setEnabled(bool enabled) { enabled_.store(enabled); }
  double keyboardDistance() const { return keyboardDistance_.load(); }
  void setKeyboardDistance(double points) { keyboardDistance_.store(points); }

 private:
  std::atomic<bool> enabled_{false};
  std::atomic<double> keyboardDistance_{10.0};
};

}  // namespace platform
