#include "app/PopupCoordinator.h"

namespace tabulo {

void PopupCoordinator::present(const Popup& popup, std::optional<int>, std::function<void()> completion) {
  if (popup.kind == Popup::Kind::dismiss && completion) completion();
}

}  // namespace tabulo
