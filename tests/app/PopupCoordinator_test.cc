#include "app/PopupCoordinator.h"

#include <gtest/gtest.h>

#include "app/CustomHost.h"
#include "platform/ui/RecordingPresenter.h"

namespace tabulo {
namespace {

class PopupCoordinatorTest : public ::testing::Test {
 protected:
  void showWindow() {
    root = std::make_shared<platform::ViewController>(ui.environment);
    auto window = std::make_shared<platform::Window>(std::make_shared<platform::WindowScene>("main"));
    window->setRootViewController(root);
    application->addWindow(window);
    window->makeKeyAndVisible();
  }

  platform::UIEnvironment::Headless ui = platform::UIEnvironment::makeHeadless();
  std::shared_ptr<platform::Application> application = std::make_shared<platform::Application>();
  std::shared_ptr<PopupCoordinator> coordinator = std::make_shared<PopupCoordinator>(application);
  std::shared_ptr<platform::ViewController> root;
};

TEST_F(PopupCoordinatorTest, WithoutAWindowPresentingIsDroppedButADismissStillCompletes) {
  int completions = 0;
  coordinator->present(Popup::feedback(), 1, [&] { ++completions; });
  EXPECT_EQ(completions, 0);
  coordinator->present(Popup::dismiss(), std::nullopt, [&] { ++completions; });
  EXPECT_EQ(completions, 1);
  EXPECT_TRUE(ui.presenter->records().empty());
}

TEST_F(PopupCoordinatorTest, PresentsOverTheFirstWindowsRootAndDismissesWithTheCompletion) {
  showWindow();
  std::vector<std::string> order;
  coordinator->present(Popup::progressHUD("Saving", std::nullopt), std::nullopt, [&] { order.push_back("shown"); });
  auto host = std::dynamic_pointer_cast<CustomHost>(root->presentedViewController());
  ASSERT_NE(host, nullptr);
  EXPECT_EQ(host->preferredStatusBarStyle(), kStatusBarStyleDefault);
  EXPECT_TRUE(host->isVisible());
  ASSERT_EQ(ui.presenter->records().size(), 1u);
  EXPECT_TRUE(ui.presenter->records()[0].animated);

  coordinator->present(Popup::dismiss(), std::nullopt, [&] {
    order.push_back(root->presentedViewController() ? "dismissed while shown" : "dismissed");
  });
  EXPECT_EQ(order, (std::vector<std::string>{"shown", "dismissed"}));
  EXPECT_FALSE(host->isVisible());

  // Nothing presented: the completion still runs.
  coordinator->present(Popup::dismiss(), std::nullopt, [&] { order.push_back("nothing to dismiss"); });
  EXPECT_EQ(order.back(), "nothing to dismiss");
}

TEST_F(PopupCoordinatorTest, APopupViewGetsItsHostAndTheCoordinator) {
  showWindow();
  PopupViewContext seen;
  Popup::setViewBuilder(Popup::Kind::intro, [&](const Popup&, const PopupViewContext& context) {
    seen = context;
    return std::make_shared<platform::ViewController>(context.environment);
  });
  coordinator->present(Popup::intro(), 1);
  Popup::setViewBuilder(Popup::Kind::intro, nullptr);

  EXPECT_EQ(seen.popupCoordinator, coordinator);
  EXPECT_EQ(seen.viewController.lock(), root->presentedViewController());
  // Readers outside a popup get the first window's root.
  EXPECT_EQ(ViewControllerHolder::rootOfFirstWindow(*application).value.lock(), root);
}

}  // namespace
}  // namespace tabulo
