// GWLInstalledHook — the one implementation of a seam that the composition
// root installs, for the calls a lower layer makes into a higher one (the
// engine's calls into attribution, for instance).
//
// A seam is a small interface whose virtual functions have do-nothing bodies
// (answering NO, nothing or an empty value). Until an implementation is
// installed, `get` answers one shared instance of the interface itself, so a
// caller never checks for null and a process without the higher layer runs
// the defaults. Once the composition root installs the real implementation,
// production code never reaches the default again.
//
//   class GWLSKAdNetworkHooks { public: virtual ~GWLSKAdNetworkHooks() = default;
//                               virtual void fetchSKANCV() {} };
//   GWLInstalledHook<GWLSKAdNetworkHooks>::install(std::make_shared<Reporter>());
//   GWLInstalledHook<GWLSKAdNetworkHooks>::get()->fetchSKANCV();
//
// Threads: `get`, `install` and `resetForTesting` may be called on any thread;
// the slot is guarded by its own mutex and `get` hands out a shared pointer,
// so a replaced implementation lives until its last caller lets go.
#pragma once

#include <memory>
#include <mutex>
#include <utility>

template <class Interface>
class GWLInstalledHook {
 public:
  // The installed implementation, or the interface's do-nothing default.
  static std::shared_ptr<Interface> get() {
    Slot& slot = theSlot();
    std::lock_guard<std::mutex> lock(slot.mutex);
    if (slot.installed) return slot.installed;
    if (!slot.fallback) slot.fallback = std::make_shared<Interface>();
    return slot.fallback;
  }

  // Whether an implementation other than the default is installed.
  static bool isInstalled() {
    Slot& slot = theSlot();
    std::lock_guard<std::mutex> lock(slot.mutex);
    return slot.installed != nullptr;
  }

  // Installs `implementation` (null puts the default back); answers the one it replaces.
  static std::shared_ptr<Interface> install(std::shared_ptr<Interface> implementation) {
    Slot& slot = theSlot();
    std::lock_guard<std::mutex> lock(slot.mutex);
    std::swap(slot.installed, implementation);
    return implementation;
  }

  // Tests: back to the default.
  static void resetForTesting() { install(nullptr); }

 private:
  struct Slot {
    std::mutex mutex;
    std::shared_ptr<Interface> installed;
    std::shared_ptr<Interface> fallback;
  };
  // Never destroyed: queue threads may still ask for the hook while the
  // process exits.
  static Slot& theSlot() {
    static Slot* slot = new Slot();
    return *slot;
  }
};
