#include "app/PopupCoordinator.h"

#include "app/CustomHost.h"

namespace tabulo {

PopupCoordinator::PopupCoordinator(std::shared_ptr<platform::Application> application)
    : application_(application ? std::move(application) : platform::Application::shared()) {}

std::shared_ptr<platform::ViewController> PopupCoordinator::presentingController() const {
  std::shared_ptr<platform::Application> application = application_.lock();
  if (!application) return nullptr;
  return ViewControllerHolder::rootOfFirstWindow(*application).value.lock();
}

void PopupCoordinator::present(const Popup& popup, std::optional<int> statusBarStyle,
                               std::function<void()> completion) {
  std::shared_ptr<platform::ViewController> root = presentingController();
  if (popup.kind == Popup::Kind::dismiss) {
    if (root && root->presentedViewController()) {
      root->dismiss(true, std::move(completion));
    } else if (completion) {
      completion();
    }
    return;
  }
  if (!root) return;
  auto host = CustomHost::make(root->environment(), nullptr, statusBarStyle.value_or(kStatusBarStyleDefault));
  host->setModalPresentationStyle(platform::ModalPresentationStyle::overFullScreen);
  host->setModalTransitionStyle(platform::ModalTransitionStyle::crossDissolve);
  host->setModalPresentationCapturesStatusBarAppearance(true);
  host->setBackgroundColor(platform::ViewColor::clear());
  host->setRootView(popup.popupView({shared_from_this(), host, root->environment()}));
  root->present(host, true, std::move(completion));
}

}  // namespace tabulo
