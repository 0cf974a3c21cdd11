#include "app/TabuloApp.h"

#include <gtest/gtest.h>

#include "app/MainNavigation.h"
#include "platform/text/Utf8.h"
#include "tests/app/AppShellTestSupport.h"

namespace tabulo::testing {
namespace {

using platform::UserInterfaceIdiom;

class TabuloAppTest : public AppShellTest {};

TEST_F(TabuloAppTest, FirstLaunchShowsTheIntroductionOnceAndLoadsTheList) {
  ASSERT_TRUE(store->createFile("Stored"));
  AppFileOpener::open(writeCSV("waiting.csv", "a,b\n"));

  launch();

  EXPECT_TRUE(defaults->boolForKey(UserSettings::didShowIntroKey));
  auto popup = presentedPopup();
  ASSERT_NE(popup, nullptr);
  EXPECT_EQ(popup->hosted()->className(), "IntroView");
  EXPECT_EQ(popup->preferredStatusBarStyle(), kStatusBarStyleLightContent);
  EXPECT_EQ(popup->modalPresentationStyle(), platform::ModalPresentationStyle::overFullScreen);
  EXPECT_EQ(popup->modalTransitionStyle(), platform::ModalTransitionStyle::crossDissolve);
  EXPECT_TRUE(popup->modalPresentationCapturesStatusBarAppearance());
  EXPECT_EQ(popup->backgroundColor(), platform::ViewColor::clear());
  // Neither the waiting file nor the review is considered on this appearance.
  EXPECT_EQ(titles(), std::vector<std::string>{"Stored"});
  EXPECT_TRUE(AppFileOpener::pendingURL().has_value());
  EXPECT_FALSE(defaults->objectForKey(kRelevantActionCountKey).has_value());
  EXPECT_EQ(storeReviewRequests, 0);
  EXPECT_EQ(AppFileOpener::delegate(), app->menuView()->viewModel());

  // Its third press closes the introduction; the next launch shows it no more.
  for (int press = 0; press < 3; ++press) popup->performAction("intro.advance");
  EXPECT_EQ(root()->presentedViewController(), nullptr);
  AppFileOpener::reset();
  launch();
  EXPECT_EQ(presentedPopup(), nullptr);
}

// Later launches: a waiting file, else the review decision.
TEST_F(TabuloAppTest, LaterLaunchesTakeAWaitingFileOrDecideOnTheReview) {
  struct Case {
    const char* name;
    bool waitingFile;
    bool achievedSuccess;
    bool didRequest;
    int64_t storedCount;
    UserInterfaceIdiom idiom;
    // Expected:
    size_t documents;
    int storeReviews;
    bool prompt;
    bool didRequestAfter;
    int64_t storedCountAfter;
  };
  const UserInterfaceIdiom phone = UserInterfaceIdiom::phone, pad = UserInterfaceIdiom::pad;
  const Case cases[] = {
      {"waiting file wins over everything", true, true, false, 1, phone, 1, 0, false, false, 1},
      {"a happy user is sent to the store", false, true, false, 1, phone, 0, 1, false, false, 1},
      {"second counted launch asks on phone", false, false, false, 1, phone, 0, 0, true, true, 2},
      {"second counted launch asks the store on pad", false, false, false, 1, pad, 0, 1, false, true, 2},
      {"asked once already", false, false, true, 1, phone, 0, 0, false, true, 2},
      {"first counted launch", false, false, false, 0, phone, 0, 0, false, false, 1},
      {"count passed 2", false, false, false, 2, phone, 0, 0, false, false, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    defaults->values.clear();
    AppFileOpener::reset();
    storeReviewRequests = 0;
    setIntroShown();
    defaults->setBool(c.achievedSuccess, UserSettings::achievedSuccessKey);
    defaults->setBool(c.didRequest, UserSettings::didRequestKey);
    defaults->setInteger(c.storedCount, kRelevantActionCountKey);
    if (c.waitingFile) AppFileOpener::open(writeCSV("handed.csv", "x,y\n1,2\n"));

    launch(c.idiom);

    EXPECT_EQ(model().tabulo.size(), c.documents);
    EXPECT_EQ(storeReviewRequests, c.storeReviews);
    auto popup = presentedPopup();
    EXPECT_EQ(popup != nullptr, c.prompt);
    if (popup) {
      EXPECT_EQ(popup->hosted()->className(), "FeedbacksView");
    }
    EXPECT_EQ(defaults->boolForKey(UserSettings::didRequestKey), c.didRequestAfter);
    EXPECT_EQ(defaults->integerForKey(kRelevantActionCountKey), c.storedCountAfter);
    EXPECT_FALSE(AppFileOpener::pendingURL().has_value());
  }
}

TEST_F(TabuloAppTest, LaunchRunsItsStepsInOrderAndPrintsTheMemento) {
  // What the launch had done when analytics was configured.
  struct Probe : RecordingAppAnalytics {
    std::function<void()> onConfigure;
    void configure() override {
      RecordingAppAnalytics::configure();
      onConfigure();
    }
  };
  auto probe = std::make_shared<Probe>();
  bool outputsExisted = true, keyboardEnabled = true;
  size_t linesPrinted = 1;
  probe->onConfigure = [&] {
    outputsExisted = std::filesystem::exists(fileSystem->outputsURL());
    keyboardEnabled = keyboardManager.isEnabled() || keyboardToolbarManager.isEnabled();
    linesPrinted = console.lines().size();
  };
  AppAnalytics::setShared(probe);
  std::filesystem::remove_all(fileSystem->outputsURL());

  launch();

  EXPECT_EQ(probe->configureCount(), 1);
  EXPECT_FALSE(outputsExisted);
  EXPECT_FALSE(keyboardEnabled);
  EXPECT_EQ(linesPrinted, 0u);
  EXPECT_TRUE(std::filesystem::is_directory(fileSystem->outputsURL()));
  EXPECT_TRUE(keyboardManager.isEnabled());
  EXPECT_EQ(keyboardManager.keyboardDistance(), 100.0);
  EXPECT_TRUE(keyboardToolbarManager.isEnabled());
  ASSERT_EQ(console.lines().size(), 1u);
  EXPECT_EQ(console.lines()[0],
            "Optional(\"UNIVERSO! POR FAVOR! FA\xC3\x87" "A DESTE APLICATIVO UM GRANDE SUCESSO E QUE ELE FA\xC3\x87"
            "A A MINHA VIDA SER MARAVILHOSA!\")");
  EXPECT_EQ(std::string(kMemento).size(), 107u);
  EXPECT_EQ(app->delegate()->memento, kMemento);

  // The scene: a navigation stack rooted at the list, portrait only, one bar look.
  ASSERT_EQ(application->windows().size(), 1u);
  EXPECT_EQ(application->windows()[0]->rootViewController(), app->navigation());
  EXPECT_EQ(app->navigation()->viewControllers().front(), app->menuView());
  EXPECT_TRUE(app->menuView()->isVisible());
  for (auto idiom : {UserInterfaceIdiom::phone, UserInterfaceIdiom::pad}) {
    ui.environment->idiom = idiom;
    EXPECT_EQ(app->delegate()->application(*application, application->windows()[0].get()), 2u);
  }
  ASSERT_NE(MainNavigation::standardAppearance(), nullptr);
  EXPECT_EQ(MainNavigation::standardAppearance(), MainNavigation::scrollEdgeAppearance());
  EXPECT_EQ(MainNavigation::standardAppearance()->backgroundBlurStyle, 4);
  EXPECT_EQ(MainNavigation::standardAppearance()->shadowColor.alpha, 0.5);
}

TEST_F(TabuloAppTest, AFileHandedOverBeforeTheListAppearsIsImportedOnceAtItsAppearance) {
  setIntroShown();
  std::filesystem::path file = writeCSV("Trip plan.csv", "day,place\n1,Porto\n");
  TabuloApp early(TabuloApp::Configuration{ui.environment, application, services(), {}, {}});
  early.openURL(AppFileOpener::fileURLFromPath(file));
  EXPECT_EQ(console.lines().back(), "GOT URL! " + AppFileOpener::fileURLFromPath(file));
  EXPECT_EQ(AppFileOpener::pendingURL(), file);

  launch();
  EXPECT_EQ(titles(), std::vector<std::string>{"Trip plan"});
  EXPECT_FALSE(AppFileOpener::pendingURL().has_value());

  // Back from the editor: the file is not imported a second time.
  ASSERT_TRUE(menu().performAction("row.0"));
  goBack();
  EXPECT_EQ(titles(), std::vector<std::string>{"Trip plan"});
}

TEST_F(TabuloAppTest, AFileHandedOverWhileTheListIsShownIsImportedAtOnceAndOnlyOnce) {
  setIntroShown();
  launch();
  std::filesystem::path file = writeCSV("Budget 100%.csv", "a\n1\n");
  app->openURL(AppFileOpener::fileURLFromPath(file));
  EXPECT_EQ(titles(), std::vector<std::string>{"Budget 100%"});
  EXPECT_FALSE(AppFileOpener::pendingURL().has_value());

  ASSERT_TRUE(menu().performAction("bar.left.0"));  // settings
  goBack();
  EXPECT_EQ(titles(), std::vector<std::string>{"Budget 100%"});
}

TEST_F(TabuloAppTest, PushedScreensShowTheBackChevronWithoutATitle) {
  setIntroShown();
  launch();
  ASSERT_TRUE(menu().performAction("bar.left.0"));  // settings
  auto navigation = app->navigation();
  ASSERT_EQ(navigation->viewControllers().size(), 2u);
  const platform::NavigationItem& below = navigation->viewControllers()[0]->navigationItem();
  EXPECT_EQ(below.title, "Tabulo");
  ASSERT_NE(below.backBarButtonItem, nullptr);
  EXPECT_EQ(below.backButtonLabel(), "");
  EXPECT_EQ(below.backBarButtonItem->style(), platform::BarButtonItem::Style::plain);
  EXPECT_FALSE(below.backBarButtonItem->tap());  // no target, no action

  // Every layout gives the top item a fresh back item, also after one was replaced.
  navigation->viewControllers()[1]->navigationItem().backBarButtonItem = nullptr;
  navigation->viewWillLayoutSubviews();
  ASSERT_NE(navigation->viewControllers()[1]->navigationItem().backBarButtonItem, nullptr);
  EXPECT_EQ(navigation->viewControllers()[1]->navigationItem().backButtonLabel(), "");
  goBack();
}

TEST_F(TabuloAppTest, OnlyFileURLsAreImported) {
  setIntroShown();
  launch();
  writeCSV("x.csv", "a\n");
  for (std::string url : {"https://example.com/x.csv", "tabulo://open?file=x.csv", "file://server/x.csv",
                          "file:relative.csv", "file:///bad%zz.csv"}) {
    SCOPED_TRACE(url);
    app->openURL(url);
    EXPECT_EQ(console.lines().back(), "GOT URL! " + url);
    EXPECT_FALSE(AppFileOpener::pendingURL().has_value());
    EXPECT_FALSE(model().alert.has_value());
  }
  EXPECT_TRUE(model().tabulo.empty());
}

TEST_F(TabuloAppTest, AFileWhosePathIsNotUTF8IsImportedLikeAnyOther) {
  setIntroShown();
  launch();
  std::filesystem::path file = writeCSV("caf\xE9 \xFF.csv", "a,b\n");  // Latin-1 bytes in the name
  app->openURL(AppFileOpener::fileURLFromPath(file));
  EXPECT_FALSE(model().alert.has_value());
  EXPECT_EQ(titles(), std::vector<std::string>{"caf\xC3\xA9 \xC3\xBF"});

  // One that cannot be read says so.
  app->openURL(AppFileOpener::fileURLFromPath(directory.path() / "gone \xFF.csv"));
  ASSERT_TRUE(model().alert.has_value());
  EXPECT_EQ(model().alert->title, "Cannot Import File");
  EXPECT_TRUE(platform::utf8::isValid(model().alert->message));
}

TEST(AppFileOpenerURL, FileURLsBecomeLocalPaths) {
  struct Case {
    const char* url;
    std::optional<std::string> path;
  };
  const Case cases[] = {
      {"file:///tmp/a.csv", "/tmp/a.csv"},
      {"FILE://localhost/tmp/a%20b.csv", "/tmp/a b.csv"},
      {"file:/tmp/a.csv", "/tmp/a.csv"},
      {"file:///tmp/caf%C3%A9.csv?x=1#top", "/tmp/caf\xC3\xA9.csv"},
      {"file://otherhost/tmp/a.csv", std::nullopt},
      {"file://localhostx/tmp/a.csv", std::nullopt},
      {"file:///tmp/%00.csv", std::nullopt},
      {"file:///tmp/%FF.csv", "/tmp/\xFF.csv"},  // a path is bytes
      {"http:///tmp/a.csv", std::nullopt},
      {"file:", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    auto path = AppFileOpener::filePathFromURL(c.url);
    EXPECT_EQ(path ? std::optional<std::string>(path->string()) : std::nullopt, c.path);
  }
  std::filesystem::path odd = "/tmp/100% #1?.csv";
  EXPECT_EQ(AppFileOpener::fileURLFromPath(odd), "file:///tmp/100%25%20%231%3F.csv");
  EXPECT_EQ(AppFileOpener::filePathFromURL(AppFileOpener::fileURLFromPath(odd)), odd);
}

TEST(AppFileOpenerDelegation, HandsAFileToTheRegisteredListOnceAndKeepsOnlyTheLastOtherwise) {
  struct Receiver : AppFileOpenerDelegate {
    std::vector<std::vector<std::filesystem::path>> calls;
    void openFiles(const std::vector<std::filesystem::path>& urls) override { calls.push_back(urls); }
  };
  AppFileOpener::reset();
  AppFileOpener::open("/a.csv");
  AppFileOpener::open("/b.csv");
  EXPECT_EQ(AppFileOpener::pendingURL(), std::filesystem::path("/b.csv"));

  auto receiver = std::make_shared<Receiver>();
  AppFileOpener::setDelegate(receiver);
  AppFileOpener::open("/c.csv");
  ASSERT_EQ(receiver->calls.size(), 1u);
  EXPECT_EQ(receiver->calls[0], std::vector<std::filesystem::path>{"/c.csv"});
  EXPECT_FALSE(AppFileOpener::pendingURL().has_value());

  receiver.reset();  // the list went away: the file waits
  AppFileOpener::open("/d.csv");
  EXPECT_EQ(AppFileOpener::takePendingURL(), std::filesystem::path("/d.csv"));
  EXPECT_FALSE(AppFileOpener::pendingURL().has_value());
  AppFileOpener::reset();
}

}  // namespace
}  // namespace tabulo::testing
