// The screen-view reporter over a fake engine: screen parameters, the app's
// own "screen_view" events, view controllers made current, manual screens,
// the application's life and the calls into the session and ad reporters.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>

#include "analytics/foundation/config/GWLAdReportingHooks.h"
#include "analytics/foundation/values/GWLScreen.h"
#include "analytics/measurement/GWLScreenViewReporter.h"
#include "analytics/measurement/GWLSessionReporting.h"
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
    dependencies.keyWindowRootClassName = [] { return std::optional<std::string>("RootScreen"); };
    dependencies.randomInt64 = [] { return int64_t{1000}; };
    reporter_ = GWLScreenViewReporter::create(std::move(dependencies));
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

  auto cart = controller("CartScreen");
  reporter_->setCurrentViewController(cart);
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

}  // namespace
}  // namespace measurement_test
