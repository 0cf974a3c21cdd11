// GWLClassRegistry — classes that the library looks up by name at run time.
//
// The measurement engine finds optional components (the private-set-membership
// client classes, the on-device conversion service) by class name, so that an
// app that leaves them out simply has no such class. Here a "class" is a
// factory object of the interface `Class`; a component that is linked in
// registers its factory under its name through an explicit registration call
// of the library's composition root (a static library would drop a
// self-registering initialiser that nothing references). A name nobody
// registered is a missing class.
//
// One registry per interface; all are process-wide and safe on any thread.
//
//   GWLClassRegistry<GWLPrivateSetMembershipClientClass>::registerClass("ODCPrivateSetMembershipClient", factory);
//   auto found = GWLClassRegistry<GWLPrivateSetMembershipClientClass>::classNamed("ODCPrivateSetMembershipClient");
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

template <class Class>
class GWLClassRegistry {
 public:
  // Registers `factory` under `name`, replacing an earlier one; null removes it.
  static void registerClass(const std::string& name, std::shared_ptr<const Class> factory) {
    State& state = shared();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (factory) {
      state.classes[name] = std::move(factory);
    } else {
      state.classes.erase(name);
    }
  }

  // The factory registered under `name`, or null: no such class in the app.
  static std::shared_ptr<const Class> classNamed(const std::string& name) {
    State& state = shared();
    std::lock_guard<std::mutex> lock(state.mutex);
    auto it = state.classes.find(name);
    return it == state.classes.end() ? nullptr : it->second;
  }

  static bool classExists(const std::string& name) { return classNamed(name) != nullptr; }

  // Tests: forgets every registration of this interface.
  static void resetForTesting() {
    State& state = shared();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.classes.clear();
  }

 private:
  struct State {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<const Class>> classes;
  };
  static State& shared() {
    static State* state = new State;  // lives until exit: queue threads may still look up
    return *state;
  }
};
