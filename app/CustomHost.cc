#include "app/CustomHost.h"

namespace tabulo {

ViewControllerHolder ViewControllerHolder::rootOfFirstWindow(const platform::Application& application) {
  if (application.windows().empty()) return {};
  return {application.windows().front()->rootViewController()};
}

std::shared_ptr<CustomHost> CustomHost::make(std::shared_ptr<platform::UIEnvironment> environment,
                                             std::shared_ptr<platform::ViewController> rootView, int style) {
  auto host = std::make_shared<CustomHost>(environment, style);
  host->setRootView(rootView ? std::move(rootView) : std::make_shared<platform::ViewController>(environment));
  return host;
}

void CustomHost::setRootView(std::shared_ptr<platform::ViewController> rootView) {
  while (auto current = hosted()) current->removeFromParent();
  addChild(rootView);
  setNeedsSnapshot();
}

platform::ViewNode CustomHost::snapshot() const {
  platform::ViewNode node = HostingController::snapshot();
  node.properties["statusBarStyle"] = std::to_string(style_);
  node.backgroundColor = backgroundColor_;
  return node;
}

}  // namespace tabulo
