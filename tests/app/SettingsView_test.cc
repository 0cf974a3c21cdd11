// The settings screen: the usage-data switch, its console line and its effect
// on every later event, the two links, and the switch shown on appearance.

#include <gtest/gtest.h>

#include <memory>

#include "app/AppConsole.h"
#include "app/FeedbackViewModel.h"
#include "app/SettingsView.h"
#include "app/SettingsViewModel.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/RecordingAppAnalytics.h"

namespace tabulo {
namespace {

class SettingsViewTest : public ::testing::Test {
 protected:
  SettingsViewTest() : settings_(defaults_) {}

  std::shared_ptr<SettingsView> makeScreen() {
    auto model = std::make_shared<SettingsViewModel>(ui_.urlOpener, defaults_);
    auto screen = std::make_shared<SettingsView>(ui_.environment, model);
    screen->beginAppearanceTransition(true, true);
    screen->endAppearanceTransition();
    return screen;
  }
  static double switchValue(const SettingsView& screen) {
    platform::ViewNode tree = screen.snapshot();
    const platform::ViewNode* toggle = tree.find("usageDataSwitch");
    return toggle && toggle->value ? *toggle->value : -1;
  }
  bool storedFlag() const { return defaults_->boolForKey(UserSettings::sendUsageDataKey); }

  std::shared_ptr<testing::MemoryUserDefaults> defaults_ = std::make_shared<testing::MemoryUserDefaults>();
  UserSettings settings_;
  platform::UIEnvironment::Headless ui_ = platform::UIEnvironment::makeHeadless();
  ScopedRecordingAnalytics analytics_;
};

TEST_F(SettingsViewTest, SwitchPrintsStoresAndGovernsEveryLaterEvent) {
  auto screen = makeScreen();
  EXPECT_EQ(switchValue(*screen), 1.0);  // registered default: on
  FeedbackViewModel rating([] {}, defaults_);
  rating.setEvaluation(3);

  ScopedConsoleCapture console;
  ASSERT_TRUE(screen->performAction(SettingsView::usageDataAction, false));
  EXPECT_FALSE(storedFlag());
  EXPECT_EQ(switchValue(*screen), 0.0);
  // Events of this screen and of other screens are dropped from now on.
  screen->performAction(SettingsView::moreAppsAction);
  rating.submitEvaluation();
  EXPECT_TRUE(analytics_->events().empty());

  ASSERT_TRUE(screen->performAction(SettingsView::usageDataAction, true));
  EXPECT_TRUE(storedFlag());
  screen->performAction(SettingsView::moreAppsAction);
  rating.submitEvaluation();
  EXPECT_EQ(analytics_->eventNames(), (std::vector<std::string>{"developer_tapped", "evaluated_app"}));
  EXPECT_FALSE(analytics_->events()[0].parameters) << "passes none, not an empty dictionary";

  // Sending the switch's current value again is no change: nothing printed.
  screen->performAction(SettingsView::usageDataAction, true);
  EXPECT_EQ(console.lines(), (std::vector<std::string>{"Toggled: false", "Toggled: true"}));
}

TEST_F(SettingsViewTest, LinksOpenTheStorePageAndThePrivacyPolicy) {
  for (bool usageData : {true, false}) {
    SCOPED_TRACE(usageData);
    defaults_->setBool(usageData, UserSettings::sendUsageDataKey);
    ui_.urlOpener->openedURLs.clear();
    auto screen = makeScreen();
    size_t eventsBefore = analytics_->events().size();

    screen->performAction(SettingsView::moreAppsAction);
    screen->performAction(SettingsView::seeMoreAction);

    ASSERT_EQ(ui_.urlOpener->openedURLs.size(), 2u);
    const std::string& store = ui_.urlOpener->openedURLs[0];
    EXPECT_EQ(store.rfind("itms-apps://", 0), 0u) << store;
    std::string path = store.substr(store.find('/', std::string("itms-apps://").size()));
    ASSERT_EQ(path.rfind("/developer/id", 0), 0u) << store;
    EXPECT_GT(path.size(), std::string("/developer/id").size());
    EXPECT_EQ(path.find_first_not_of("0123456789", std::string("/developer/id").size()), std::string::npos);

    const std::string& privacy = ui_.urlOpener->openedURLs[1];
    EXPECT_EQ(privacy.rfind("https://", 0), 0u) << privacy;
    EXPECT_EQ(privacy.substr(privacy.find('/', std::string("https://").size())), "/privacy.html");

    // Only "More apps" logs, and only while usage data is allowed.
    EXPECT_EQ(analytics_->events().size() - eventsBefore, usageData ? 1u : 0u);
  }
}

TEST_F(SettingsViewTest, AppearingAgainShowsTheStoredFlag) {
  auto screen = makeScreen();
  int redraws = 0;
  platform::Connection connection = screen->changed().connect([&] { ++redraws; });
  screen->beginAppearanceTransition(false, true);
  screen->endAppearanceTransition();
  defaults_->setBool(false, UserSettings::sendUsageDataKey);  // changed while the screen was away
  EXPECT_EQ(switchValue(*screen), 1.0);

  screen->beginAppearanceTransition(true, true);
  screen->endAppearanceTransition();
  EXPECT_EQ(switchValue(*screen), 0.0);
  EXPECT_EQ(redraws, 1);
}

TEST_F(SettingsViewTest, ScreenShowsItsTwoSectionsAndTexts) {
  auto screen = makeScreen();
  EXPECT_EQ(screen->navigationItem().title, "Settings");
  platform::ViewNode tree = screen->snapshot();
  const platform::ViewNode* list = tree.find("list");
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->properties.at("listStyle"), "grouped");
  EXPECT_EQ(list->properties.at("titleDisplayMode"), "inline");
  ASSERT_EQ(list->children.size(), 2u);
  EXPECT_EQ(tree.find("caption")->text, "Send usage data");
  EXPECT_EQ(tree.find("usageDataSwitch")->text, "");  // the switch's own label is empty
  EXPECT_EQ(tree.find("explanation")->text,
            "Tabulo collects only anonymous data in order to improve the app usage.");
  EXPECT_EQ(tree.find("seeMore")->text, "See more");
  EXPECT_EQ(tree.find("seeMore")->textColor, platform::ViewColor::link());
  EXPECT_EQ(list->children[1].find("title")->text, "More apps");
  EXPECT_EQ(list->children[1].find("chevron")->properties.at("systemName"), "chevron.right");
  // The tree serialises for a renderer.
  EXPECT_NE(tree.toJSON().find("\"privacy.usageData\""), std::string::npos);
}

TEST_F(SettingsViewTest, CallbacksAfterTheModelIsGoneDoNothing) {
  auto model = std::make_shared<SettingsViewModel>(ui_.urlOpener, defaults_);
  auto screen = std::make_shared<SettingsView>(ui_.environment, model);
  PrivacyCell cell = screen->privacyCell();
  SettingsLinkCell link = screen->moreAppsCell();
  screen.reset();
  model.reset();
  ScopedConsoleCapture console;
  cell.switchChanged(false);
  cell.seeMoreTapped();
  link.tapped();
  EXPECT_TRUE(console.lines().empty());
  EXPECT_TRUE(ui_.urlOpener->openedURLs.empty());
  EXPECT_TRUE(storedFlag());
}

}  // namespace
}  // namespace tabulo
