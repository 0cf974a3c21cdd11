#include <gtest/gtest.h>

#include "app/BoxwellAnalytics.h"
#include "app/FeedbacksView.h"
#include "app/MenuViewModel.h"
#include "tests/app/AppShellTestSupport.h"

namespace tabulo::testing {
namespace {

class ReviewPromptTest : public AppShellTest {
 protected:
  ReviewPromptTest() { setIntroShown(); }

  // Launches and asks: the prompt is up.
  std::shared_ptr<FeedbacksView> prompt() {
    launch();
    model().askForReview();
    auto popup = presentedPopup();
    if (!popup) return nullptr;
    return std::dynamic_pointer_cast<FeedbacksView>(popup->hosted());
  }
};

TEST_F(ReviewPromptTest, TheSupportMailLinkIsExact) {
  EXPECT_EQ(supportMailLink(), "mailto:support@halcyra.com?subject=Support%20Request%20for%20Tabulo");
}

TEST_F(ReviewPromptTest, AskingPresentsTheTitledPromptOnceWithLightStatusBar) {
  auto view = prompt();
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->dependencies().title, "Tabulo");
  EXPECT_EQ(view->snapshot().find("title")->text, "Tabulo");
  EXPECT_EQ(presentedPopup()->preferredStatusBarStyle(), kStatusBarStyleLightContent);
  EXPECT_TRUE(defaults->boolForKey(UserSettings::didRequestKey));

  app->popupCoordinator()->present(Popup::dismiss());
  model().askForReview();  // DID_REQUEST is set: never again
  EXPECT_EQ(presentedPopup(), nullptr);
}

// Both answers, with usage data on and off.
TEST_F(ReviewPromptTest, AnswersSendTheirEventOnlyWithUsageDataAndRouteToStoreOrMail) {
  struct Case {
    const char* action;
    bool usageData;
    std::vector<std::string> events;
    int storeReviews;
    std::vector<std::string> mails;
    bool achievedSuccess;
  };
  const std::string mail = "mailto:support@halcyra.com?subject=Support%20Request%20for%20Tabulo";
  const Case cases[] = {
      {"feedbacks.positive", true, {"positive_review"}, 1, {}, true},
      {"feedbacks.positive", false, {}, 1, {}, true},
      {"feedbacks.negative", true, {"negative_review"}, 0, {mail}, false},
      {"feedbacks.negative", false, {}, 0, {mail}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.action) + (c.usageData ? " with usage data" : " without usage data"));
    defaults->values.clear();
    setIntroShown();
    ScopedRecordingAnalytics events;

    auto view = prompt();
    ASSERT_NE(view, nullptr);
    defaults->setBool(!c.achievedSuccess, UserSettings::achievedSuccessKey);
    ui.urlOpener->openedURLs.clear();
    storeReviewRequests = 0;
    // The setting is read when the answer comes, not when the prompt was shown.
    defaults->setBool(c.usageData, UserSettings::sendUsageDataKey);
    ASSERT_TRUE(view->performAction(c.action));

    EXPECT_EQ(presentedPopup(), nullptr);  // the prompt closed first
    EXPECT_EQ(events->eventNames(), c.events);
    for (const auto& event : events->events()) EXPECT_FALSE(event.parameters) << "passes none, not an empty dictionary";
    EXPECT_EQ(storeReviewRequests, c.storeReviews);
    EXPECT_EQ(ui.urlOpener->openedURLs, c.mails);
    EXPECT_EQ(defaults->boolForKey(UserSettings::achievedSuccessKey), c.achievedSuccess);
  }
}

TEST_F(ReviewPromptTest, APadGoesStraightToTheStoreReview) {
  launch(platform::UserInterfaceIdiom::pad);
  model().askForReview();
  EXPECT_EQ(presentedPopup(), nullptr);
  EXPECT_EQ(storeReviewRequests, 1);
  EXPECT_TRUE(defaults->boolForKey(UserSettings::didRequestKey));
}

TEST_F(ReviewPromptTest, AnAnswerAfterTheListIsGoneDoesNothing) {
  auto view = prompt();
  ASSERT_NE(view, nullptr);
  // The list and its view model go away.
  app.reset();
  application->removeAllWindows();
  ASSERT_TRUE(view->performAction("feedbacks.positive"));
  EXPECT_TRUE(analytics->events().empty());
  EXPECT_EQ(storeReviewRequests, 0);
  EXPECT_FALSE(defaults->boolForKey(UserSettings::achievedSuccessKey));
}

TEST_F(ReviewPromptTest, AnAnswerIsKeptEvenWhenThePromptWasAlreadyClosed) {
  auto view = prompt();
  ASSERT_NE(view, nullptr);
  app->popupCoordinator()->present(Popup::dismiss());  // closed by someone else
  ASSERT_TRUE(view->performAction("feedbacks.negative"));
  EXPECT_EQ(analytics->eventNames(), std::vector<std::string>{"negative_review"});
  EXPECT_EQ(ui.urlOpener->openedURLs.size(), 1u);
}

TEST_F(ReviewPromptTest, AMailLinkThatCannotBeOpenedIsPrinted) {
  launch();
  ui.urlOpener->opens = false;
  model().openSupportMail();
  EXPECT_TRUE(ui.urlOpener->openedURLs.empty());
  EXPECT_EQ(console.lines().back(), "Failed to open mail");
}

TEST_F(ReviewPromptTest, StoreReviewNeedsAWindowWithAScene) {
  platform::Application none;
  requestStoreReviewInFirstWindowScene(none);
  none.addWindow(std::make_shared<platform::Window>(nullptr));
  requestStoreReviewInFirstWindowScene(none);
  EXPECT_EQ(storeReviewRequests, 0);
  none.removeAllWindows();
  none.addWindow(std::make_shared<platform::Window>(std::make_shared<platform::WindowScene>("s")));
  requestStoreReviewInFirstWindowScene(none);
  EXPECT_EQ(storeReviewRequests, 1);
}

TEST_F(ReviewPromptTest, EvaluationsAreSentWithTheirRatingOnlyWithUsageData) {
  BoxwellAnalytics::logEvaluation(3, *defaults);
  defaults->setBool(false, UserSettings::sendUsageDataKey);
  BoxwellAnalytics::logEvaluation(5, *defaults);
  ASSERT_EQ(analytics->events().size(), 1u);
  EXPECT_EQ(analytics->events()[0].name, "evaluated_app");
  EXPECT_EQ(analytics->events()[0].parameters, std::optional<platform::Dictionary>(platform::Dictionary{{"rating", int64_t{3}}}));
}

}  // namespace
}  // namespace tabulo::testing
