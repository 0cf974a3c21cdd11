// The star-rating popup (its event with an integer "rating", the happy flag,
// the review request, closing) and the progress HUD's texts.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/FeedbackView.h"
#include "app/ProgressHUDView.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/PopupRequestLog.h"
#include "tests/app/RecordingAppAnalytics.h"

namespace tabulo {
namespace {

class FeedbackViewTest : public ::testing::Test {
 protected:
  FeedbackViewTest() : settings_(defaults_) {}

  std::shared_ptr<FeedbackView> makePopup() {
    return std::make_shared<FeedbackView>(
        ui_.environment, coordinator_, kSystemGray, kSystemBlue, [this] { steps_.push_back("review"); }, defaults_);
  }

  std::shared_ptr<testing::MemoryUserDefaults> defaults_ = std::make_shared<testing::MemoryUserDefaults>();
  UserSettings settings_;
  platform::UIEnvironment::Headless ui_ = platform::UIEnvironment::makeHeadless();
  std::shared_ptr<testing::PopupRequestLog> coordinator_ = std::make_shared<testing::PopupRequestLog>();
  ScopedRecordingAnalytics analytics_;
  std::vector<std::string> steps_;
};

TEST_F(FeedbackViewTest, SendIsDisabledUntilAStarIsChosen) {
  auto popup = makePopup();
  const platform::ViewNode* send = nullptr;
  platform::ViewNode tree = popup->snapshot();
  send = tree.find("send");
  ASSERT_NE(send, nullptr);
  EXPECT_EQ(send->text, "SEND");
  EXPECT_FALSE(send->enabled);
  EXPECT_EQ(send->textColor, kSystemGray);

  popup->performAction(FeedbackView::sendAction);  // a disabled button does nothing
  EXPECT_TRUE(analytics_->events().empty());
  EXPECT_TRUE(coordinator_->requests.empty());

  popup->performAction(StarEvaluationView::starAction(3));
  tree = popup->snapshot();
  send = tree.find("send");
  EXPECT_TRUE(send->enabled);
  EXPECT_EQ(send->textColor, kSystemBlue);
  EXPECT_EQ(tree.find("headline")->text, "Give us your feedback");
  EXPECT_EQ(tree.find("question")->text, "Are you enjoying\nTabulo?");
  EXPECT_EQ(tree.find("blur")->properties.at("blurStyle"), "2");
}

TEST_F(FeedbackViewTest, SendingLogsTheRatingAndAsksForAReviewFromFourStars) {
  struct Case {
    int64_t stars;
    bool usageData;
    bool happy;
  };
  for (Case c : {Case{1, true, false}, Case{3, true, false}, Case{4, true, true}, Case{5, true, true},
                 Case{3, false, false}, Case{5, false, true}}) {
    SCOPED_TRACE(::testing::Message() << c.stars << " stars, usage data " << c.usageData);
    defaults_->values.clear();
    defaults_->setBool(c.usageData, UserSettings::sendUsageDataKey);
    coordinator_->requests.clear();
    steps_.clear();
    coordinator_->onRequest = [this](Popup::Kind) { steps_.push_back("dismiss"); };
    size_t eventsBefore = analytics_->events().size();

    auto popup = makePopup();
    popup->starTapped(c.stars);
    popup->sendTapped();

    auto events = analytics_->events();
    if (c.usageData) {
      ASSERT_EQ(events.size(), eventsBefore + 1);
      EXPECT_EQ(events.back().name, "evaluated_app");
      ASSERT_TRUE(events.back().parameters);
      ASSERT_EQ(events.back().parameters->size(), 1u);
      const platform::Object& rating = events.back().parameters->at("rating");
      EXPECT_TRUE(rating.isInt());
      EXPECT_EQ(rating.intValue(), c.stars);
    } else {
      EXPECT_EQ(events.size(), eventsBefore);
    }
    // Below four stars the happy flag is left as it was (here: never written).
    EXPECT_EQ(defaults_->values.count(UserSettings::achievedSuccessKey), c.happy ? 1u : 0u);
    EXPECT_EQ(defaults_->boolForKey(UserSettings::achievedSuccessKey), c.happy);
    // The review is asked before the popup closes; the popup closes once, plainly.
    EXPECT_EQ(steps_, c.happy ? (std::vector<std::string>{"review", "dismiss"})
                              : (std::vector<std::string>{"dismiss"}));
    ASSERT_EQ(coordinator_->requests.size(), 1u);
    EXPECT_EQ(coordinator_->requests[0].kind, Popup::Kind::dismiss);
    EXPECT_FALSE(coordinator_->requests[0].statusBarStyle.has_value());
    EXPECT_FALSE(coordinator_->requests[0].hadCompletion);
  }
}

TEST_F(FeedbackViewTest, ALaterTapReplacesTheChoice) {
  auto popup = makePopup();
  popup->starTapped(5);
  popup->starTapped(2);
  popup->starTapped(0);  // no such star
  popup->starTapped(6);
  EXPECT_EQ(popup->viewModel().evaluation(), 2);
  platform::ViewNode stars = popup->stars().node();
  std::vector<std::string> images;
  for (const auto& star : stars.children) images.push_back(star.properties.at("imageName"));
  EXPECT_EQ(images, (std::vector<std::string>{"starSelected", "starSelected", "starDeselected", "starDeselected",
                                              "starDeselected"}));
}

TEST_F(FeedbackViewTest, SendingAfterTheCoordinatorIsGoneStillLogs) {
  auto popup = makePopup();
  coordinator_.reset();
  popup->starTapped(4);
  popup->sendTapped();
  EXPECT_EQ(analytics_->eventNames(), std::vector<std::string>{"evaluated_app"});
}

TEST(ProgressHUDViewTest, ShowsItsTextAndTheSecondOnlyWhenGiven) {
  auto ui = platform::UIEnvironment::makeHeadless();
  ProgressHUDView both(ui.environment, "Exporting", std::string("3 of 10 sheets"));
  ProgressHUDView one(ui.environment, "Saving…", std::nullopt);

  platform::ViewNode tree = both.snapshot();
  EXPECT_EQ(tree.find("text")->text, "Exporting");
  EXPECT_EQ(tree.find("secondaryText")->text, "3 of 10 sheets");
  EXPECT_NE(tree.find("indicator"), nullptr);
  EXPECT_EQ(tree.find("blur")->properties.at("blurStyle"), "5");

  tree = one.snapshot();
  EXPECT_EQ(tree.find("text")->text, "Saving…");
  EXPECT_EQ(tree.find("secondaryText"), nullptr);
  const platform::ViewNode* content = tree.find("content");
  ASSERT_NE(content, nullptr);
  EXPECT_EQ(content->children.size(), 2u);  // the indicator and the main text
  EXPECT_TRUE(tree.find("button") == nullptr);
}

}  // namespace
}  // namespace tabulo
