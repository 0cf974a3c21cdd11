// platform::Signal — a list of callbacks that an object calls when something
// about it changed (a screen's snapshot, a controller's appearance).
//
// connect() answers a Connection; the callback stays connected while the
// Connection (or a copy) lives, and a callback that disconnects itself or
// others while the signal is emitted is safe. Main thread only.
#pragma once

#include <functional>
#include <memory>
#include <vector>

namespace platform {

class Connection {
 public:
  Connection() = default;
  explicit Connection(std::shared_ptr<void> token) : token_(std::move(token)) {}
  void disconnect() { token_.reset(); }
  bool connected() const { return token_ != nullptr; }

 private:
  std::shared_ptr<void> token_;
};

template <typename... Args>
class Signal {
 public:
  using Callback = std::function<void(Args...)>;

  [[nodiscard]] Connection connect(Callback callback) {
    auto slot = std::make_shared<Callback>(std::move(callback));
    slots_.push_back(slot);
    return Connection(slot);
  }

  void emit(Args... args) {
    // Copy first: callbacks may connect or disconnect while we run them.
    std::vector<std::weak_ptr<Callback>> slots = slots_;
    for (const auto& weak : slots) {
      if (auto slot = weak.lock()) (*slot)(args...);
    }
    std::erase_if(slots_, [](const std::weak_ptr<Callback>& weak) { return weak.expired(); });
  }

 private:
  std::vector<std::weak_ptr<Callback>> slots_;
};

}  // namespace platform
