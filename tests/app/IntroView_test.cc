// The introduction: page progression, haptics, closing exactly once, the
// pages' texts, colours and pictures.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/IntroView.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/PopupRequestLog.h"

namespace tabulo {
namespace {

using Haptic = platform::RecordingHapticEngine::Event;

class IntroViewTest : public ::testing::Test {
 protected:
  IntroViewTest() {
    intro_ = std::make_shared<IntroView>(ui_.environment, coordinator_);
    intro_->beginAppearanceTransition(true, true);
    intro_->endAppearanceTransition();
  }

  // The ids of the pages shown, bottom first.
  std::vector<std::string> pagesShown() const {
    std::vector<std::string> ids;
    for (const auto& child : intro_->snapshot().children) {
      if (child.id.rfind("page", 0) == 0) ids.push_back(child.id);
    }
    return ids;
  }
  size_t impacts() const {
    size_t count = 0;
    for (const Haptic& event : ui_.haptics->events) count += event.kind == Haptic::Kind::impact;
    return count;
  }

  platform::UIEnvironment::Headless ui_ = platform::UIEnvironment::makeHeadless();
  std::shared_ptr<testing::PopupRequestLog> coordinator_ = std::make_shared<testing::PopupRequestLog>();
  std::shared_ptr<IntroView> intro_;
};

TEST_F(IntroViewTest, EachPressAddsOnePageAndTheLastOneCloses) {
  EXPECT_EQ(intro_->currentPage(), 0);
  EXPECT_EQ(pagesShown(), std::vector<std::string>{"page1"});
  EXPECT_EQ(intro_->snapshot().find("page1")->properties.count("transition"), 0u);  // shown at once
  EXPECT_EQ(ui_.haptics->events, (std::vector<Haptic>{{Haptic::Kind::prepare, platform::ImpactStyle::heavy}}));

  ASSERT_TRUE(intro_->performAction(IntroView::advanceAction));
  EXPECT_EQ(pagesShown(), (std::vector<std::string>{"page1", "page2"}));
  platform::ViewNode page2 = *intro_->snapshot().find("page2");
  EXPECT_EQ(page2.properties.at("transition"), "opacity");
  EXPECT_EQ(page2.properties.at("animation"), "easeIn");
  EXPECT_EQ(page2.properties.at("animationDuration"), "0.5");

  intro_->performAction(IntroView::advanceAction);
  EXPECT_EQ(pagesShown(), (std::vector<std::string>{"page1", "page2", "page3"}));
  EXPECT_EQ(intro_->snapshot().find("page3")->find("button")->text, "Start");
  EXPECT_TRUE(coordinator_->requests.empty());
  EXPECT_EQ(impacts(), 2u);

  intro_->performAction(IntroView::advanceAction);
  EXPECT_EQ(intro_->currentPage(), 3);
  EXPECT_EQ(impacts(), 3u);  // the closing press taps too
  ASSERT_EQ(coordinator_->requests.size(), 1u);
  EXPECT_EQ(coordinator_->requests[0].kind, Popup::Kind::dismiss);
  EXPECT_FALSE(coordinator_->requests[0].statusBarStyle.has_value());
  EXPECT_FALSE(coordinator_->requests[0].hadCompletion);
}

TEST_F(IntroViewTest, PressesAfterTheLastPageAreIgnored) {
  for (int press = 0; press < 5; ++press) intro_->advancePage();
  EXPECT_EQ(intro_->currentPage(), 3);
  EXPECT_EQ(coordinator_->requests.size(), 1u);
  EXPECT_EQ(impacts(), 3u);
}

TEST_F(IntroViewTest, PreparesTheHapticsOnlyOnTheFirstAppearance) {
  intro_->beginAppearanceTransition(false, false);
  intro_->endAppearanceTransition();
  intro_->beginAppearanceTransition(true, false);
  intro_->endAppearanceTransition();
  EXPECT_EQ(ui_.haptics->events.size(), 1u);
}

TEST_F(IntroViewTest, PagesCarryTheirPictureTextsAndColours) {
  struct Page {
    const char* id;
    const char* image;
    const char* title;
    const char* description;
    const char* button;
  };
  const Page pages[] = {
      {"page1", "intro1", "Welcome to Tabulo", "The best way to organize your data", "Continue"},
      {"page2", "intro2", "Import & Export", "Import .CSV files and export to .PDF with one touch", "Continue"},
      {"page3", "intro3", "Format & Customize", "Personalize your sheets with images, merge cells and more.", "Start"},
  };
  intro_->advancePage();
  intro_->advancePage();
  platform::ViewNode tree = intro_->snapshot();
  const std::vector<platform::ViewColor> colors{{24 / 255.0, 164 / 255.0, 251 / 255.0, 1},
                                                {74 / 255.0, 91 / 255.0, 240 / 255.0, 1}};
  for (const Page& expected : pages) {
    SCOPED_TRACE(expected.id);
    const platform::ViewNode* page = tree.find(expected.id);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->find("picture")->properties.at("imageName"), expected.image);
    EXPECT_EQ(page->find("picture")->properties.at("opacity"), "0.75");
    EXPECT_EQ(page->find("title")->text, expected.title);
    EXPECT_EQ(page->find("title")->properties.at("minimumScaleFactor"), "0.5");
    EXPECT_EQ(page->find("description")->text, expected.description);
    const platform::ViewNode* button = page->find("button");
    EXPECT_EQ(button->text, expected.button);
    EXPECT_EQ(button->action, IntroView::advanceAction);
    const platform::ViewNode* background = page->find("background");
    ASSERT_EQ(background->children.size(), 2u);
    EXPECT_EQ(background->children[0].backgroundColor, colors[0]);
    EXPECT_EQ(background->children[1].backgroundColor, colors[1]);
  }
  EXPECT_EQ(IntroView::pageColors(), colors);
}

TEST(IntroPicturesTest, EveryPagePictureShipsAsAPNG) {
  for (const char* name : {IntroPage1::kContent.imageName, IntroPage2::kContent.imageName,
                           IntroPage3::kContent.imageName}) {
    SCOPED_TRACE(name);
    std::string bytes = testing::readFile(std::string(TABULO_SOURCE_DIR) + "/app/resources/" + name + ".png");
    ASSERT_GT(bytes.size(), 33u);
    EXPECT_EQ(bytes.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(bytes.substr(12, 4), "IHDR");
  }
}

}  // namespace
}  // namespace tabulo
