// A PopupCoordinator for tests that keeps every request it gets.
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "app/PopupCoordinator.h"

namespace tabulo::testing {

class PopupRequestLog : public PopupCoordinator {
 public:
  struct Request {
    Popup::Kind kind;
    std::optional<int> statusBarStyle;
    bool hadCompletion;
  };

  void present(const Popup& popup, std::optional<int> statusBarStyle, std::function<void()> completion) override {
    requests.push_back({popup.kind, statusBarStyle, static_cast<bool>(completion)});
    if (onRequest) onRequest(popup.kind);
    if (completion) completion();
  }

  std::vector<Request> requests;
  std::function<void(Popup::Kind)> onRequest;
};

}  // namespace tabulo::testing
