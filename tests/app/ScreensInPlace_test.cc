// The settings screen and the three popups in their places: pushed from the
// document list, and built by the popup coordinator over the first window.

#include <gtest/gtest.h>

#include <memory>

#include "app/CustomHost.h"
#include "app/FeedbackView.h"
#include "app/IntroView.h"
#include "app/PopupCoordinator.h"
#include "app/ProgressHUDView.h"
#include "app/SettingsView.h"
#include "app/MenuView.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/RecordingAppAnalytics.h"

namespace tabulo {
namespace {

class ScreensInPlaceTest : public ::testing::Test {
 protected:
  ScreensInPlaceTest() : settings_(defaults_) {
    root_ = std::make_shared<platform::ViewController>(ui_.environment);
    auto window = std::make_shared<platform::Window>(std::make_shared<platform::WindowScene>("main"));
    window->setRootViewController(root_);
    application_->addWindow(window);
    window->makeKeyAndVisible();
  }

  // The view hosted by the popup that the root presents, if any.
  template <typename View>
  std::shared_ptr<View> shownPopup() const {
    auto host = std::dynamic_pointer_cast<CustomHost>(root_->presentedViewController());
    return host ? std::dynamic_pointer_cast<View>(host->hosted()) : nullptr;
  }

  std::shared_ptr<testing::MemoryUserDefaults> defaults_ = std::make_shared<testing::MemoryUserDefaults>();
  UserSettings settings_;
  platform::UIEnvironment::Headless ui_ = platform::UIEnvironment::makeHeadless();
  std::shared_ptr<platform::Application> application_ = std::make_shared<platform::Application>();
  std::shared_ptr<PopupCoordinator> coordinator_ = std::make_shared<PopupCoordinator>(application_);
  std::shared_ptr<platform::ViewController> root_;
  ScopedRecordingAnalytics analytics_;
};

TEST_F(ScreensInPlaceTest, IntroductionRunsToItsEndAndALatePressClosesNothingElse) {
  coordinator_->present(Popup::intro(), kStatusBarStyleLightContent);
  auto intro = shownPopup<IntroView>();
  ASSERT_NE(intro, nullptr);
  EXPECT_EQ(ui_.haptics->events.size(), 1u);  // prepared when shown

  auto host = root_->presentedViewController();
  for (int press = 0; press < 3; ++press) host->performAction(IntroView::advanceAction);
  EXPECT_EQ(root_->presentedViewController(), nullptr);

  // Another popup comes up; a second press on the closed introduction must not close it.
  coordinator_->present(Popup::progressHUD("Exporting", std::nullopt));
  ASSERT_NE(shownPopup<ProgressHUDView>(), nullptr);
  intro->advancePage();
  EXPECT_NE(shownPopup<ProgressHUDView>(), nullptr);
  EXPECT_EQ(shownPopup<ProgressHUDView>()->snapshot().find("text")->text, "Exporting");
}

TEST_F(ScreensInPlaceTest, RatingPopupSendsAndCloses) {
  coordinator_->present(Popup::feedback(), kStatusBarStyleLightContent);
  auto popup = shownPopup<FeedbackView>();
  ASSERT_NE(popup, nullptr);
  EXPECT_EQ(popup->disabledColor(), kSystemGray);
  EXPECT_EQ(popup->enabledColor(), kSystemBlue);
  auto host = root_->presentedViewController();
  host->performAction(StarEvaluationView::starAction(3));
  host->performAction(FeedbackView::sendAction);
  EXPECT_EQ(root_->presentedViewController(), nullptr);
  ASSERT_EQ(analytics_->events().size(), 1u);
  EXPECT_EQ(analytics_->events()[0].parameters->at("rating").intValue(), 3);
}

TEST_F(ScreensInPlaceTest, ListPushesTheSettingsScreenWithTheFlagItWasGiven) {
  defaults_->setBool(false, UserSettings::sendUsageDataKey);
  auto screen = std::dynamic_pointer_cast<SettingsView>(
      MenuView::Destinations::standard().settings(defaults_, ui_.environment));
  ASSERT_NE(screen, nullptr);
  EXPECT_FALSE(screen->viewModel()->isUsageDataEnabled());
  screen->performAction(SettingsView::seeMoreAction);
  EXPECT_EQ(ui_.urlOpener->openedURLs.size(), 1u);
}

}  // namespace
}  // namespace tabulo
