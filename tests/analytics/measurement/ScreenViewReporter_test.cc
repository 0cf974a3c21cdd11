// The screen-view reporter over a fake engine: screen parameters, the app's
// own "screen_view" events, view controllers made current (directly and
// through the UI layer's appearance), manual screens, the application's life
// and the calls into the session and ad reporters.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>

#include "analytics/foundation/config/GWLAdReportingHooks.h"
#include "analytics/foundation/values/GWLScreen.h"
#include "analytics/measurement/GWLScreenViewReporter.h"
#include "analytics/measurement/GWLSessionReporting.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Queue.h"
#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/PageViewController.h"
#include "platform/ui/TabBarController.h"
#include "platform/ui/UIEnvironment.h"
#include "platform/ui/ViewController.h"
#include "../foundation/values/ValuesTestSupport.h"

namespace measurement_test {
namespace {

using platform::Object;

class NamedController : public platform::ViewController {
 public:
  NamedController(std::shared_ptr<platform::UIEnvironment> environment, std::string name)
      : ViewController(std::move(environment)), name_(std::move(name)) {}
  std::string className() const override { return name_; }

 private:
  std::string name_;
};

// A class of the platform's frameworks, with its superclass's name.
class PlatformController : public NamedController {
 public:
  PlatformController(std::shared_ptr<platform::UIEnvironment> environment, std::string name, std::string superclass)
      : NamedController(std::move(environment), std::move(name)), superclass_(std::move(superclass)) {}
  bool isPlatformClass() const override { return true; }
  std::string superclassName() const override { return superclass_; }

 private:
  std::string superclass_;
};

struct Call {
  std::string what;
  std::optional<int64_t> previous;
  std::optional<int64_t> next;
  friend bool operator==(const Call&, const Call&) = default;
};

std::optional<int64_t> idOf(const std::shared_ptr<const GWLScreen>& screen) {
  if (!screen) return std::nullopt;
  return screen->instanceID();
}

class CallLog {
 public:
  void add(Call call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
  }
  std::vector<Call> take() {
    std::lock_guard lock(mutex_);
    return std::exchange(calls_, {});
  }

 private:
  std::mutex mutex_;
  std::vector<Call> calls_;
};

class FakeSessionReporter : public GWLSessionReporting {
 public:
  explicit FakeSessionReporter(std::shared_ptr<CallLog> log) : log_(std::move(log)) {}
  void handleAppDidBecomeActive() override { log_->add({"session active", std::nullopt, std::nullopt}); }
  void handleAppWillResignActiveWithScreen(const std::shared_ptr<const GWLScreen>& screen) override {
    log_->add({"session resign", std::nullopt, idOf(screen)});
  }
  void handleScreenDidChangeFromScreen(const std::shared_ptr<const GWLScreen>& previous,
                                       const std::shared_ptr<const GWLScreen>& next) override {
    log_->add({"session change", idOf(previous), idOf(next)});
  }
  int64_t cutFreerideEngagementTimeMillis() override { return freeride.exchange(0); }
  std::atomic<int64_t> freeride{0};

 private:
  std::shared_ptr<CallLog> log_;
};

class FakeAdHooks : public GWLAdReportingHooks {
 public:
  explicit FakeAdHooks(std::shared_ptr<CallLog> log) : log_(std::move(log)) {}
  void handleScreenDidChangeFromScreen(std::shared_ptr<const GWLScreen> previous,
                                       std::shared_ptr<const GWLScreen> next) override {
    log_->add({"ad change", idOf(previous), idOf(next)});
  }
  void handleAppDidBecomeActive() override { log_->add({"ad active", std::nullopt, std::nullopt}); }
  void handleAppWillResignActiveWithScreen(std::shared_ptr<const GWLScreen> screen) override {
    log_->add({"ad resign", std::nullopt, idOf(screen)});
  }

 private:
  std::shared_ptr<CallLog> log_;
};

struct LoggedEvent {
  std::string origin;
  std::string name;
  std::optional<double> timestamp;
  GWLRawParameters parameters;

  int64_t integer(const std::string& key) const {
    auto it = parameters.find(key);
    if (it == parameters.end()) return -1;
    return std::get<GWLValue>(it->second).int64Value();
  }
  std::string text(const std::string& key) const {
    auto it = parameters.find(key);
    if (it == parameters.end()) return "(none)";
    const auto* string = std::get<GWLValue>(it->second).stringValue();
    return string ? *string : "(not text)";
  }
  bool has(const std::string& key) const { return parameters.count(key) > 0; }
};

class ScreenViewReporterTest : public foundation_test::LibraryMonitorTest {
 protected:
  void SetUp() override {
    LibraryMonitorTest::SetUp();
    monitor_->setVerboseLoggingEnabled(true);
    GWLScreenViewReporter::Dependencies dependencies;
    dependencies.monitor = monitor_;
    dependencies.notifications = notifications_;
    dependencies.isScreenReportingEnabled = [this] { return reporting_.load(); };
    dependencies.isMainThread = [this] { return mainThread_.load(); };
    dependencies.engine = [this] {
      GWLScreenViewReporter::EngineState state;
      state.exists = true;
      state.enabled = true;
      state.didInitializeComponents = true;
      state.efficientEngagementReportingEnabled = efficient_.load();
      state.sessionReporter = session_;
      state.limits.maxPublicEventParameterValueLength = 12;
      return state;
    };
    dependencies.logInternalEvent = [this](const std::string& origin, const std::string& name,
                                           std::optional<double> timestamp, const GWLRawParameters& parameters) {
      std::lock_guard lock(eventsMutex_);
      events_.push_back({origin, name, timestamp, parameters});
    };
    dependencies.adHooks = [hooks = adHooks_] { return hooks; };
    dependencies.application = [application = application_] { return application; };
    dependencies.keyWindowRootClassName = [] { return std::optional<std::string>("RootScreen"); };
    dependencies.randomInt64 = [] { return int64_t{1000}; };
    reporter_ = GWLScreenViewReporter::create(std::move(dependencies));
    hooks_ = GWLScreenViewReporter::hookViewControllers([this] { return reporter_; }, true, false);
  }

  void TearDown() override {
    hooks_.disconnect();
    LibraryMonitorTest::TearDown();
  }

  // A window of the test's application with `root`, made key and visible.
  std::shared_ptr<platform::Window> show(const std::shared_ptr<platform::ViewController>& root) {
    auto window = std::make_shared<platform::Window>(std::make_shared<platform::WindowScene>("main"));
    application_->addWindow(window);
    window->setRootViewController(root);
    window->makeKeyAndVisible();
    return window;
  }
  std::string currentClass() {
    auto screen = reporter_->currentScreen();
    return screen && screen->className() ? *screen->className() : "(none)";
  }

  std::shared_ptr<platform::ViewController> controller(const std::string& className) {
    return std::make_shared<NamedController>(ui_.environment, className);
  }

  // Every event logged so far (waits for the reporter's queue first).
  std::vector<LoggedEvent> events() {
    (void)reporter_->currentScreen();
    std::lock_guard lock(eventsMutex_);
    return std::exchange(events_, {});
  }
  // The reporter's own report codes (the validators' reports left out).
  std::vector<int64_t> codes() {
    std::vector<int64_t> codes;
    for (const auto& report : reports()) {
      if (report.code >= 31000 && report.code < 32000) codes.push_back(report.code);
    }
    return codes;
  }
  void activate() { notifications_->post(platform::kApplicationDidBecomeActiveNotification); }

  platform::UIEnvironment::Headless ui_ = platform::UIEnvironment::makeHeadless();
  std::shared_ptr<platform::NotificationCenter> notifications_ = platform::NotificationCenter::create();
  std::shared_ptr<platform::Application> application_ = std::make_shared<platform::Application>(notifications_);
  platform::Connection hooks_;
  std::shared_ptr<CallLog> calls_ = std::make_shared<CallLog>();
  std::shared_ptr<FakeSessionReporter> session_ = std::make_shared<FakeSessionReporter>(calls_);
  std::shared_ptr<FakeAdHooks> adHooks_ = std::make_shared<FakeAdHooks>(calls_);
  std::atomic<bool> reporting_{true};
  std::atomic<bool> mainThread_{true};
  std::atomic<bool> efficient_{false};
  std::mutex eventsMutex_;
  std::vector<LoggedEvent> events_;
  std::shared_ptr<GWLScreenViewReporter> reporter_;
};

TEST(ScreenFunctionsTest, StrippedClassNames) {
  const std::pair<const char*, const char*> cases[] = {
      {"Shop.ListViewController", "ListViewController"}, {"A.", "A."}, {"NoDot", "NoDot"},
      {"a.b.C", "C"}, {"", ""}, {".Hidden", "Hidden"}};
  for (const auto& [name, stripped] : cases) EXPECT_EQ(GWLStrippedClassName(name), stripped) << name;
}

TEST(ScreenFunctionsTest, ScreenReportingSwitchReadsTheFirstKeyThenTheSecond) {
  struct Case {
    std::map<std::string, Object> info;
    bool enabled;
  };
  const Case cases[] = {
      {{}, true},
      {{{"CorvaneScreenReportingEnabled", Object(false)}}, false},
      {{{"CorvaneScreenReportingEnabled", Object(int64_t{0})}}, false},
      {{{"CorvaneScreenReportingEnabled", Object("NO")}}, true},
      {{{"CorvaneAutomaticScreenReportingEnabled", Object(false)}}, false},
      {{{"CorvaneScreenReportingEnabled", Object(true)}, {"CorvaneAutomaticScreenReportingEnabled", Object(false)}},
       true},
  };
  for (const auto& testCase : cases) {
    bool enabled = GWLIsScreenReportingEnabled([&](const std::string& key) -> std::optional<Object> {
      auto it = testCase.info.find(key);
      if (it == testCase.info.end()) return std::nullopt;
      return it->second;
    });
    EXPECT_EQ(enabled, testCase.enabled) << testCase.info.size();
  }
}

TEST(ScreenFunctionsTest, PreviousScreenParametersLeaveOutInvalidTexts) {
  GWLValueLimits limits;
  limits.maxPublicEventParameterValueLength = 4;
  auto parameters = GWLPreviousScreenParameters(GWLScreen("Long name", "Cart", 7), limits);
  EXPECT_EQ(parameters.at("_pi").int64Value(), 7);
  EXPECT_EQ(*parameters.at("_pc").stringValue(), "Cart");
  EXPECT_FALSE(parameters.count("_pn"));
}

TEST_F(ScreenViewReporterTest, NavigationMakesScreensCurrentAndCarriesThePreviousOne) {
  activate();
  auto a = controller("Shop.ListViewController");
  auto b = controller("DetailScreen");
  reporter_->setCurrentViewController(a);
  reporter_->setCurrentViewController(b);
  reporter_->setCurrentViewController(a);
  auto logged = events();
  ASSERT_EQ(logged.size(), 3u);
  EXPECT_EQ(logged[0].origin, "auto");
  EXPECT_EQ(logged[0].text("_sc"), "ListViewCont");  // cut to the 12-character limit
  EXPECT_FALSE(logged[0].has("_pi"));
  EXPECT_EQ(logged[1].text("_sc"), "DetailScreen");
  EXPECT_EQ(logged[1].integer("_pi"), logged[0].integer("_si"));
  EXPECT_EQ(logged[1].text("_pc"), "ListViewCont");
  // Back to A: A's own screen again, with its old instance ID.
  EXPECT_EQ(logged[2].integer("_si"), logged[0].integer("_si"));
  EXPECT_EQ(logged[2].integer("_pi"), logged[1].integer("_si"));
  auto reportCodes = codes();
  EXPECT_NE(std::find(reportCodes.begin(), reportCodes.end(), 31007), reportCodes.end());

  // The same controller again changes nothing.
  reporter_->setCurrentViewController(a);
  EXPECT_TRUE(events().empty());
  reportCodes = codes();
  EXPECT_NE(std::find(reportCodes.begin(), reportCodes.end(), 31006), reportCodes.end());
  EXPECT_EQ(reporter_->screenParameters().at("_si").int64Value(), logged[0].integer("_si"));
}

TEST_F(ScreenViewReporterTest, ManualScreens) {
  activate();
  reporter_->setScreenName("Cart", std::nullopt);
  EXPECT_TRUE(events().empty());
  EXPECT_EQ(codes(), (std::vector<int64_t>{31003}));

  // The screen goes to the top of the key window's stack.
  auto cart = controller("CartScreen");
  show(cart);
  (void)events();
  (void)codes();
  reporter_->setScreenName("Cart", "Basket");
  auto logged = events();
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].text("_sn"), "Cart");
  EXPECT_EQ(logged[0].text("_sc"), "Basket");
  EXPECT_EQ(logged[0].text("_pc"), "CartScreen");
  (void)codes();
  reporter_->setScreenName("Cart", "Basket");
  EXPECT_TRUE(events().empty());
  EXPECT_EQ(codes(), (std::vector<int64_t>{31004}));

  reporter_->setScreenName("Far too long a name", std::nullopt);
  reporter_->setScreenName(std::nullopt, "");
  EXPECT_TRUE(events().empty());
  EXPECT_EQ(codes(), (std::vector<int64_t>{31001, 31002}));
}

TEST_F(ScreenViewReporterTest, WithAutomaticReportingOffOnlyTheAppsScreenViewsAreLogged) {
  reporting_ = false;
  activate();
  reporter_->setCurrentViewController(controller("ListScreen"));
  EXPECT_TRUE(events().empty());
  reporter_->setScreenName("Cart", std::nullopt);
  EXPECT_EQ(codes().back(), 31000);

  reporter_->trackScreenWithParameters({{"screen_name", Object("Cart")}, {"item", Object("pen")}}, 1700000000.5);
  auto logged = events();
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].origin, "app");
  EXPECT_EQ(logged[0].timestamp, 1700000000.5);
  EXPECT_EQ(logged[0].integer("_mst"), 1);
  EXPECT_EQ(logged[0].text("_sn"), "Cart");
  EXPECT_EQ(logged[0].text("_sc"), "RootScreen");  // the key window root's class on the main thread
  EXPECT_EQ(logged[0].text("item"), "pen");
  EXPECT_FALSE(logged[0].has("screen_name"));
  EXPECT_FALSE(logged[0].has("screen_class"));
}

TEST_F(ScreenViewReporterTest, AppScreenViewsOffTheMainThreadTakeTheCurrentClass) {
  activate();
  reporter_->setCurrentViewController(controller("ListScreen"));
  (void)events();
  mainThread_ = false;
  reporter_->trackScreenWithParameters({{"screen_name", Object("Cart")}}, 5);
  auto logged = events();
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].text("_sc"), "ListScreen");
  EXPECT_EQ(logged[0].text("_pc"), "ListScreen");

  // Refused texts.
  reporter_->trackScreenWithParameters({{"screen_name", Object("")}}, 5);
  reporter_->trackScreenWithParameters({{"screen_class", Object(int64_t{3})}}, 5);
  EXPECT_TRUE(events().empty());
  auto reportCodes = codes();
  EXPECT_NE(std::find(reportCodes.begin(), reportCodes.end(), 31027), reportCodes.end());
  EXPECT_NE(std::find(reportCodes.begin(), reportCodes.end(), 31028), reportCodes.end());
}

TEST_F(ScreenViewReporterTest, InTheBackgroundNothingIsLoggedUntilTheNextActivation) {
  // Right at launch, before any activation, the app's screen view is accepted.
  reporter_->trackScreenWithParameters({{"screen_name", Object("Launch")}}, 1);
  EXPECT_EQ(events().size(), 1u);

  activate();
  notifications_->post(platform::kApplicationDidEnterBackgroundNotification);
  EXPECT_TRUE(reporter_->screenParameters().empty());
  (void)codes();
  reporter_->trackScreenWithParameters({{"screen_name", Object("Cart")}}, 2);
  EXPECT_EQ(codes(), (std::vector<int64_t>{31026}));
  auto list = controller("ListScreen");
  reporter_->setCurrentViewController(list);
  EXPECT_TRUE(events().empty());
  auto reportCodes = codes();
  EXPECT_NE(std::find(reportCodes.begin(), reportCodes.end(), 31013), reportCodes.end());

  // The screen made current meanwhile is logged on activation.
  activate();
  auto logged = events();
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].text("_sc"), "ListScreen");
  EXPECT_EQ(logged[0].text("_pn"), "Launch");
  EXPECT_EQ(reporter_->screenParameters().at("_sc"), *GWLValue::initWithString("ListScreen"));
}

TEST_F(ScreenViewReporterTest, TellsTheSessionAndAdReporters) {
  efficient_ = true;
  activate();
  auto a = controller("AScreen");
  auto b = controller("BScreen");
  reporter_->setCurrentViewController(a);
  int64_t aID = reporter_->currentScreen()->instanceID();
  session_->freeride = 1500;
  reporter_->setCurrentViewController(b);
  int64_t bID = reporter_->currentScreen()->instanceID();
  notifications_->post(platform::kApplicationWillResignActiveNotification);
  auto logged = events();
  ASSERT_EQ(logged.size(), 2u);
  EXPECT_FALSE(logged[0].has("_et"));
  EXPECT_EQ(logged[1].integer("_et"), 1500);
  EXPECT_EQ(calls_->take(), (std::vector<Call>{{"session active", std::nullopt, std::nullopt},
                                               {"ad active", std::nullopt, std::nullopt},
                                               {"ad change", std::nullopt, aID},
                                               {"session change", aID, bID},
                                               {"ad change", aID, bID},
                                               {"session resign", std::nullopt, bID},
                                               {"ad resign", std::nullopt, bID}}));
  EXPECT_TRUE(reporter_->isAppActive());  // until the app enters the background
  notifications_->post(platform::kApplicationDidEnterBackgroundNotification);
  EXPECT_FALSE(reporter_->isAppActive());
}

class NullDelegate : public GWLScreenViewReporterDelegate {
 public:
  void viewControllerDidAppear(const platform::ViewController&, bool) override {}
  void viewControllerDidDisappear(const platform::ViewController&) override {}
};

TEST_F(ScreenViewReporterTest, APerformanceDelegateIsNotOverridden) {
  auto first = std::make_shared<NullDelegate>();
  auto second = std::make_shared<NullDelegate>();
  reporter_->setCorvanePerfDelegate(first);
  reporter_->setCorvanePerfDelegate(second);
  EXPECT_EQ(reporter_->corvanePerfDelegate(), first);
  EXPECT_EQ(codes(), (std::vector<int64_t>{31016}));
  reporter_->setCorvanePerfDelegate(nullptr);
  EXPECT_EQ(reporter_->corvanePerfDelegate(), nullptr);
  first.reset();  // held weakly
}

TEST_F(ScreenViewReporterTest, InstanceIDsAreNeitherLostNorRepeatedAcrossThreads) {
  activate();
  mainThread_ = false;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([this] {
      for (int i = 0; i < 25; ++i) reporter_->trackScreenWithParameters({{"screen_name", Object("S")}}, 1);
    });
  }
  for (int i = 0; i < 25; ++i) reporter_->setCurrentViewController(controller("Main"));
  for (auto& thread : threads) thread.join();
  std::set<int64_t> ids;
  for (const auto& event : events()) ids.insert(event.integer("_si"));
  EXPECT_EQ(ids.size(), 125u);
  EXPECT_EQ(reporter_->incrementScreenInstanceID(), 1000 + 126);
}

TEST_F(ScreenViewReporterTest, OnlyTheKeyWindowsControllersAreTrackedAndHiddenPlatformClassesNever) {
  auto key = controller("KeyScreen");
  auto other = controller("OtherScreen");
  auto window = std::make_shared<platform::Window>(std::make_shared<platform::WindowScene>("other"));
  application_->addWindow(window);
  window->setRootViewController(other);
  other->loadViewIfNeeded();
  show(key);
  auto appOwn = controller("Shop._PrivateScreen");
  auto hidden = std::make_shared<PlatformController>(ui_.environment, "_UIHidden", "UIViewController");
  auto hiddenBase = std::make_shared<PlatformController>(ui_.environment, "UIPublicScreen", "_UIHiddenBase");
  auto plainPlatform = std::make_shared<PlatformController>(ui_.environment, "UIPublicScreen", "UIViewController");
  for (const std::shared_ptr<platform::ViewController>& child :
       std::vector<std::shared_ptr<platform::ViewController>>{appOwn, hidden, hiddenBase, plainPlatform}) {
    key->addChild(child);
  }

  const std::pair<std::shared_ptr<platform::ViewController>, bool> cases[] = {
      {key, true},           {other, false},        {appOwn, true},
      {hidden, false},       {hiddenBase, false},   {plainPlatform, true},
      {controller("NotInAWindow"), false},
  };
  for (const auto& [viewController, tracked] : cases) {
    EXPECT_EQ(GWLShouldTrackViewController(*viewController, *application_), tracked) << viewController->className();
  }
  // The platform's own classes answer for objects of exactly their class only.
  EXPECT_TRUE(platform::NavigationController(ui_.environment).isPlatformClass());
  EXPECT_FALSE(key->isPlatformClass());
  EXPECT_EQ(key->superclassName(), "UIViewController");
}

TEST_F(ScreenViewReporterTest, NavigationThroughTheUILayerCarriesThePreviousScreen) {
  activate();
  auto a = controller("Shop.ListScreen");
  auto b = controller("DetailScreen");
  auto navigation = std::make_shared<platform::NavigationController>(ui_.environment);
  navigation->setRoot(a);
  show(navigation);
  auto logged = events();
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].text("_sc"), "ListScreen");
  const int64_t aID = logged[0].integer("_si");

  navigation->pushViewController(b, true);
  logged = events();
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].text("_sc"), "DetailScreen");
  EXPECT_EQ(logged[0].integer("_pi"), aID);
  EXPECT_EQ(logged[0].text("_pc"), "ListScreen");
  EXPECT_FALSE(logged[0].has("_pn"));
  const int64_t bID = logged[0].integer("_si");

  (void)navigation->popViewController(true);
  logged = events();
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].integer("_si"), aID);  // A's own screen again
  EXPECT_EQ(logged[0].integer("_pi"), bID);

  // A manual screen names the top of the stack; pushing over it keeps it current.
  reporter_->setScreenName("Lists", std::nullopt);
  logged = events();
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].text("_sn"), "Lists");
  EXPECT_EQ(logged[0].text("_sc"), "ListScreen");
}

TEST_F(ScreenViewReporterTest, SelectedTabsFirstPagesAndPresentedControllersBecomeCurrent) {
  activate();
  auto first = controller("FirstTab");
  auto second = controller("SecondTab");
  auto tabs = std::make_shared<platform::TabBarController>(ui_.environment);
  tabs->setViewControllers({first, second});
  show(tabs);
  EXPECT_EQ(currentClass(), "FirstTab");
  tabs->setSelectedIndex(1);
  EXPECT_EQ(currentClass(), "SecondTab");

  auto pages = std::make_shared<platform::PageViewController>(ui_.environment);
  pages->setViewControllers({controller("PageOne"), controller("PageTwo")});
  second->present(pages, true);
  EXPECT_EQ(currentClass(), "PageOne");
  second->dismiss(true);
  EXPECT_EQ(currentClass(), "SecondTab");

  second->present(controller("Sheet"), true);
  EXPECT_EQ(currentClass(), "Sheet");
  second->dismiss(true);
  EXPECT_EQ(currentClass(), "SecondTab");

  // A manually named screen lower in the stack wins over what is presented above it.
  reporter_->setScreenName("Settings", std::nullopt);
  (void)events();
  second->present(controller("Overlay"), true);
  EXPECT_TRUE(events().empty());
  std::optional<std::string> name;
  reporter_->getScreenName(&name, nullptr);
  EXPECT_EQ(name, "Settings");
}

TEST_F(ScreenViewReporterTest, AContainerWithAScreenAnswersForAChildWhoseSiblingIsHidden) {
  activate();
  auto tabs = std::make_shared<platform::TabBarController>(ui_.environment);
  show(tabs);  // nothing shown below it: the bottom entry becomes current
  EXPECT_EQ(currentClass(), "UITabBarCont");
  (void)events();
  tabs->setViewControllers({controller("FirstTab"), controller("SecondTab")});
  EXPECT_EQ(currentClass(), "UITabBarCont");
  EXPECT_TRUE(events().empty());
}

TEST_F(ScreenViewReporterTest, WhenAWindowResignsKeyTheNewKeyWindowsScreenBecomesCurrent) {
  activate();
  auto a = controller("AScreen");
  auto first = show(a);
  const int64_t aID = reporter_->currentScreen()->instanceID();
  auto second = show(controller("BScreen"));
  EXPECT_EQ(currentClass(), "BScreen");
  EXPECT_FALSE(first->isKeyWindow());
  (void)events();

  first->makeKeyAndVisible();  // A is already visible: no appearance, only the resign of the second window
  auto logged = events();
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].integer("_si"), aID);
  EXPECT_EQ(logged[0].text("_pc"), "BScreen");
}

class RecordingDelegate : public GWLScreenViewReporterDelegate {
 public:
  void viewControllerDidAppear(const platform::ViewController& controller, bool tracked) override {
    lines.push_back("appear " + controller.className() + (tracked ? " tracked" : ""));
  }
  void viewControllerDidDisappear(const platform::ViewController& controller) override {
    lines.push_back("disappear " + controller.className());
  }
  std::vector<std::string> lines;
};

TEST_F(ScreenViewReporterTest, TheDelegateHearsEveryAppearanceAndWhetherItWasTracked) {
  activate();
  auto delegate = std::make_shared<RecordingDelegate>();
  reporter_->setCorvanePerfDelegate(delegate);
  auto root = controller("RootScreen");
  show(root);
  root->present(std::make_shared<PlatformController>(ui_.environment, "_UIHidden", "UIViewController"), true);
  EXPECT_EQ(currentClass(), "RootScreen");  // the hidden class is never current
  root->dismiss(true);
  EXPECT_EQ(delegate->lines,
            (std::vector<std::string>{"appear RootScreen tracked", "appear _UIHidden", "disappear _UIHidden"}));
}

TEST_F(ScreenViewReporterTest, NothingIsHookedWhenReportingIsOffOrAnOlderLibraryIsPresent) {
  hooks_.disconnect();
  platform::log::ScopedCapture capture;
  platform::log::setLevel(platform::LogLevel::Debug);
  auto off = GWLScreenViewReporter::hookViewControllers([this] { return reporter_; }, false, false);
  auto older = GWLScreenViewReporter::hookViewControllers([this] { return reporter_; }, true, true);
  EXPECT_FALSE(off.connected());
  EXPECT_FALSE(older.connected());
  std::vector<platform::LogRecord> records;
  for (const auto& record : capture.sink().records()) {
    if (record.code.starts_with("I-ACS03600")) records.push_back(record);
  }
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].code, "I-ACS036001");
  EXPECT_EQ(records[0].level, platform::LogLevel::Info);
  EXPECT_EQ(records[0].message,
            "Analytics screen reporting is disabled. UIViewController transitions will not be logged.");
  EXPECT_EQ(records[1].code, "I-ACS036005");
  EXPECT_EQ(records[1].level, platform::LogLevel::Warning);

  activate();
  show(controller("RootScreen"));
  EXPECT_TRUE(events().empty());
  EXPECT_EQ(reporter_->currentScreen(), nullptr);
}

// The main loop on a thread of its own drives the UI; other threads log the
// app's screen views, read the screen parameters and post the application's
// notifications; the logged events go on to a worker queue that reads them.
TEST_F(ScreenViewReporterTest, MainQueueReporterQueueAndWorkerQueueOnThreads) {
  mainThread_ = false;
  auto main = platform::MainQueue::create();
  auto worker = platform::SerialQueue::create("worker");
  std::atomic<int> workerEvents{0};
  // Events forwarded to the worker queue as the entry class would.
  auto forward = [this, worker, &workerEvents] {
    for (auto& event : events()) {
      worker->async([event = std::move(event), &workerEvents] {
        if (event.has("_si")) workerEvents.fetch_add(1);
      });
    }
  };
  std::thread mainThread([main] { main->run(); });
  activate();
  auto navigation = std::make_shared<platform::NavigationController>(ui_.environment);
  main->sync([&] {
    navigation->setRoot(controller("ListScreen"));
    show(navigation);
  });
  std::thread appThread([this] {
    for (int i = 0; i < 20; ++i) {
      reporter_->trackScreenWithParameters({{"screen_name", Object("Cart")}}, 1);
      (void)reporter_->screenParameters();
    }
  });
  std::thread lifeThread([this] {
    for (int i = 0; i < 10; ++i) {
      notifications_->post(platform::kApplicationWillResignActiveNotification);
      activate();
    }
  });
  for (int i = 0; i < 20; ++i) {
    main->async([&] {
      navigation->pushViewController(controller("DetailScreen"), true);
      reporter_->setScreenName("Detail", std::nullopt);
      (void)navigation->popViewController(true);
    });
    forward();
  }
  appThread.join();
  lifeThread.join();
  main->sync([] {});
  main->stop();
  mainThread.join();
  forward();
  worker->sync([] {});
  EXPECT_GT(workerEvents.load(), 20);
}

}  // namespace
}  // namespace measurement_test
