// The interop connector: its tables, the nine operations, and listener
// dispatch from GWLAnalyticsQueue through the connector queue to the main queue.
#include <gtest/gtest.h>

#include <algorithm>
#include <future>

#include "EntryClassTestSupport.h"
#include "analytics/foundation/values/GWLConditionalUserProperty.h"
#include "analytics/measurement/CVNAnalytics.h"
#include "analytics/measurement/CVNAnalyticsConnector.h"
#include "analytics/measurement/CVNConnectorUtils.h"

namespace measurement_test {
namespace {

using platform::Dictionary;
using platform::Object;

class RecordingListener : public CVNAnalyticsInteropListener {
 public:
  explicit RecordingListener(std::shared_ptr<platform::Queue> main = nullptr) : main_(std::move(main)) {}
  void messageTriggered(const std::string& name, const Dictionary& parameters) override {
    if (main_) {
      EXPECT_TRUE(main_->isCurrent());
    }
    std::lock_guard lock(mutex_);
    heard_.emplace_back(name, parameters);
  }
  std::vector<std::pair<std::string, Dictionary>> heard() {
    std::lock_guard lock(mutex_);
    return heard_;
  }
  std::vector<std::string> names() {
    std::vector<std::string> result;
    for (const auto& [name, parameters] : heard()) result.push_back(name);
    return result;
  }

 private:
  std::shared_ptr<platform::Queue> main_;
  std::mutex mutex_;
  std::vector<std::pair<std::string, Dictionary>> heard_;
};

class RecordingController : public GWLConditionalUserPropertyControlling {
 public:
  void setConditionalUserProperty(const std::shared_ptr<GWLConditionalUserProperty>& property,
                                  const std::string& name) override {
    set.emplace_back(property, name);
  }
  void clearConditionalUserPropertyWithClearEvent(const std::shared_ptr<GWLEvent>& clearEvent,
                                                  const std::string& name) override {
    cleared.emplace_back(clearEvent, name);
  }
  std::optional<Properties> conditionalUserPropertiesWithNamePrefix(const std::optional<Object>& prefix,
                                                                    const std::optional<Object>& origin) override {
    asked.emplace_back(prefix, origin);
    return stored;
  }
  std::vector<std::pair<std::shared_ptr<GWLConditionalUserProperty>, std::string>> set;
  std::vector<std::pair<std::shared_ptr<GWLEvent>, std::string>> cleared;
  std::vector<std::pair<std::optional<Object>, std::optional<Object>>> asked;
  Properties stored;
};

class InteropConnectorTest : public EntryClassTest {
 protected:
  void SetUp() override {
    EntryClassTest::SetUp();
    make();
    start();
    CVNAnalyticsConnector::Dependencies dependencies;
    dependencies.controller = controller_;
    dependencies.mainQueue = listenerMain_;
    dependencies.connectorQueue = connectorQueue_;
    dependencies.clock = clock_;
    dependencies.engineExists = [this] { return engineExists_.load(); };
    connector_ = CVNAnalyticsConnector::create(dependencies);
    engine_->clear();
  }

  // Lets the entry class, the connector queue and the main queue run.
  void deliver() {
    settle();
    connectorQueue_->flush();
    listenerMain_->drain();
  }

  std::shared_ptr<GWLEvent> event(const std::string& origin, const std::string& name, const Dictionary& parameters = {}) {
    return GWLEvent::initWithOrigin(origin, false, name, clock_->now(), 0, parameters, GWLValueLimits{});
  }

  std::shared_ptr<RecordingController> controller_ = std::make_shared<RecordingController>();
  std::shared_ptr<platform::SerialQueue> connectorQueue_ = platform::SerialQueue::create("connector");
  // The main queue as the connector sees it; only the test drains it.
  std::shared_ptr<platform::MainQueue> listenerMain_ = platform::MainQueue::create();
  std::atomic<bool> engineExists_{true};
  std::shared_ptr<CVNAnalyticsConnector> connector_;
};

TEST(ConnectorUtilsTest, TablesAndPredicates) {
  for (const char* origin : {"app", "auto", "gw"}) EXPECT_FALSE(CVNConnectorUtils::isOriginAllowed(origin)) << origin;
  EXPECT_TRUE(CVNConnectorUtils::isOriginAllowed("cvm"));
  EXPECT_TRUE(CVNConnectorUtils::isAppOrigin("app"));
  EXPECT_TRUE(CVNConnectorUtils::isAppOrigin("app+kxw"));
  EXPECT_FALSE(CVNConnectorUtils::isAppOrigin("apple"));
  for (const char* name : {"_e", "_f", "_iap", "_s", "_au", ""}) {
    EXPECT_FALSE(CVNConnectorUtils::shouldLogEventWithName(name, std::nullopt)) << name;
  }
  EXPECT_FALSE(CVNConnectorUtils::shouldLogEventWithName("go", GWLRawParameters{{"_dbg", Object(1)}}));
  EXPECT_TRUE(CVNConnectorUtils::shouldLogEventWithName("go", GWLRawParameters{{"_rr", Object(1)}}));

  struct Case {
    const char* name;
    const char* origin;
    bool allowed;
  };
  for (const Case& test : {Case{"_ln", "cvm", true}, Case{"_ln", "cvi", true}, Case{"_ln", "wfx", false},
                           Case{"_ltv_USD", "cvm", false}, Case{"x_ltv_USD", "cvm", true}, Case{"_ltv_usd", "cvm", true},
                           Case{"_cc3", "cvi", false}, Case{"_cc6", "cvi", true}, Case{"_cc33", "cvi", true},
                           Case{"_id", "cvm", false}, Case{"_sno", "cvm", false}, Case{"", "cvm", false},
                           Case{"level", "cvm", true}}) {
    EXPECT_EQ(CVNConnectorUtils::isUserPropertyAllowed(test.name, test.origin), test.allowed)
        << test.name << " from " << test.origin;
  }
  EXPECT_TRUE(CVNConnectorUtils::isUserPropertyAllowedForQuery("_fot"));
  EXPECT_TRUE(CVNConnectorUtils::isUserPropertyAllowedForQuery("level"));
  EXPECT_FALSE(CVNConnectorUtils::isUserPropertyAllowedForQuery("_sid"));
  EXPECT_FALSE(CVNConnectorUtils::isUserPropertyAllowedForQuery(""));
  EXPECT_TRUE(CVNConnectorUtils::isEventNameAllowedForListenerOrigin("_vs", "wfx"));
  EXPECT_FALSE(CVNConnectorUtils::isEventNameAllowedForListenerOrigin("_vs", "cvi"));
  EXPECT_FALSE(CVNConnectorUtils::isEventNameAllowedForListeners("_exp_set"));
  EXPECT_FALSE(CVNConnectorUtils::isListenerOriginAllowed("cvm"));
  // Each table is built once.
  EXPECT_EQ(&CVNConnectorUtils::hiddenEventNames(), &CVNConnectorUtils::hiddenEventNames());
}

TEST_F(InteropConnectorTest, EventsAreFilteredAndMarkedBeforeTheyReachTheEntryClass) {
  struct Case {
    const char* origin;
    const char* name;
    Dictionary parameters;
    std::optional<Dictionary> logged;  // none: ignored
  };
  const std::vector<Case> cases = {
      {"app", "go", {}, std::nullopt},
      {"auto", "go", {}, std::nullopt},
      {"gw", "go", {}, std::nullopt},
      {"cvm", "_e", {}, std::nullopt},
      {"cvm", "_f", {}, std::nullopt},
      {"cvm", "_iap", {}, std::nullopt},
      {"cvm", "_s", {}, std::nullopt},
      {"cvm", "_au", {}, std::nullopt},
      {"cvm", "go", {{"_r", 1}}, std::nullopt},
      {"cvm", "go", {{"_dbg", 1}}, std::nullopt},
      {"cvl", "_cmp", {{"source", "x"}}, Dictionary{{"source", "x"}, {"_cis", "cvl_integration"}}},
      {"cvr", "_cmp", {}, Dictionary{{"_cis", "cvr_integration"}}},
      {"wfx", "_cmp", {}, Dictionary{}},
      {"wfx", "_ae", {}, Dictionary{{"_r", 1}}},
      {"cvi", "_ae", {}, Dictionary{}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(std::string(test.origin) + " " + test.name);
    engine_->clear();
    connector_->logEventWithOrigin(test.origin, test.name, test.parameters);
    settle();
    const auto events = engine_->events();
    if (!test.logged) {
      EXPECT_TRUE(events.empty());
      continue;
    }
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].origin, test.origin);
    EXPECT_EQ(events[0].name, test.name);
    EXPECT_FALSE(events[0].isPublicEvent);
    EXPECT_EQ(plain(events[0].parameters), *test.logged);
  }
  engine_->clear();
  connector_->logEventWithOrigin("cvm", "go", std::nullopt);  // nil parameters
  settle();
  EXPECT_EQ(engine_->events().size(), 1u);
}

TEST_F(InteropConnectorTest, UserPropertiesAreBoundedByTheTablesBothWays) {
  connector_->setUserPropertyWithOrigin("cvm", "_ln", Object("7"));
  connector_->setUserPropertyWithOrigin("wfx", "_ln", Object("7"));
  connector_->setUserPropertyWithOrigin("cvm", "_ltv_USD", Object(1));
  connector_->setUserPropertyWithOrigin("cvm", "_cc3", Object("a"));
  connector_->setUserPropertyWithOrigin("cvm", "_cc6", Object("b"));
  connector_->setUserPropertyWithOrigin("app", "level", Object("c"));
  settle();
  std::vector<std::string> set;
  for (const auto& attribute : engine_->setAttributes()) set.push_back(attribute->name() + "/" + attribute->origin());
  EXPECT_EQ(set, (std::vector<std::string>{"_ln/cvm", "_cc6/cvm"}));

  engine_->updateAnswers([](auto& answers) {
    answers.userProperties = Dictionary{{"_fot", 1}, {"level", "3"}, {"_sid", 9}, {"_lte", 1}};
  });
  std::promise<Dictionary> answered;
  connector_->getUserPropertiesWithCallback([&](const Dictionary& properties) {
    EXPECT_TRUE(connectorQueue_->isCurrent());
    answered.set_value(properties);
  });
  deliver();
  EXPECT_EQ(answered.get_future().get(), (Dictionary{{"_fot", 1}, {"level", "3"}}));
  connector_->getUserPropertiesWithCallback(nullptr);  // no callback: nothing to answer
  deliver();
}

TEST_F(InteropConnectorTest, TheUserPropertyLimitNeverWaitsEvenOnTheEntryClassQueue) {
  std::promise<std::vector<int64_t>> answers;
  CVNAnalytics::dispatchAsyncOnSerialQueue([&] {
    answers.set_value({connector_->maxUserProperties("cvm"), connector_->maxUserProperties("")});
  });
  settle();
  EXPECT_EQ(answers.get_future().get(), (std::vector<int64_t>{25, 0}));
  engineExists_ = false;
  EXPECT_EQ(connector_->maxUserProperties("cvm"), 0);
}

TEST_F(InteropConnectorTest, ListenersHearOnlyTheEventsMeantForThem) {
  auto wfx = std::make_shared<RecordingListener>(listenerMain_);
  auto cvi = std::make_shared<RecordingListener>(listenerMain_);
  auto replaced = std::make_shared<RecordingListener>();
  connector_->registerAnalyticsListener(replaced, "cvi");
  connector_->registerAnalyticsListener(cvi, "cvi");  // replaces the first
  connector_->registerAnalyticsListener(wfx, "wfx");
  connector_->registerAnalyticsListener(std::make_shared<RecordingListener>(), "cvm");  // not a listener origin
  connector_->registerAnalyticsListener(nullptr, "crash");
  ASSERT_TRUE(connector_->listeners());
  EXPECT_EQ(connector_->listeners()->size(), 2u);
  EXPECT_TRUE(connector_->logEventListener());

  CVNAnalytics::notifyEventListeners(event("auto", "_vs", {{"_sn", "Home"}, {"items", platform::Array{}}}));
  CVNAnalytics::notifyEventListeners(event("auto", "_other"));  // automatic, no own listener, not "_vs": dropped
  CVNAnalytics::notifyEventListeners(event("app", "purchase", {{"value", 2.5}, {"count", 3}}));
  CVNAnalytics::notifyEventListeners(event("app", "_exp_set"));
  CVNAnalytics::notifyEventListeners(event("cvi", "own"));
  settle();
  connectorQueue_->flush();
  EXPECT_TRUE(wfx->heard().empty());  // delivery happens on the main queue only
  listenerMain_->drain();

  EXPECT_EQ(wfx->names(), (std::vector<std::string>{"_vs", "purchase"}));
  EXPECT_EQ(cvi->names(), (std::vector<std::string>{"purchase", "own"}));
  EXPECT_TRUE(replaced->heard().empty());
  // Simplified: numbers and strings only (the origin travels in "_o").
  EXPECT_EQ(wfx->heard()[0].second.count("items"), 0u);
  EXPECT_EQ(wfx->heard()[0].second.at("_sn"), Object("Home"));
  EXPECT_EQ(wfx->heard()[1].second.at("value"), Object(2.5));
  EXPECT_EQ(wfx->heard()[1].second.at("count"), Object(3));

  connector_->unregisterAnalyticsListenerWithOrigin("cvi");
  EXPECT_TRUE(connector_->logEventListener());
  connector_->unregisterAnalyticsListenerWithOrigin("wfx");
  EXPECT_FALSE(connector_->logEventListener());
  EXPECT_FALSE(connector_->listeners());
  CVNAnalytics::notifyEventListeners(event("app", "after"));
  deliver();
  EXPECT_EQ(wfx->names().size(), 2u);
  EXPECT_EQ(cvi->names().size(), 2u);
}

TEST_F(InteropConnectorTest, AConnectorThatIsGoneDeliversNothing) {
  auto listener = std::make_shared<RecordingListener>();
  connector_->registerAnalyticsListener(listener, "cvi");
  CVNAnalytics::notifyEventListeners(event("app", "go"));
  settle();
  connectorQueue_->flush();
  connector_.reset();
  listenerMain_->drain();
  EXPECT_TRUE(listener->heard().empty());
}

TEST_F(InteropConnectorTest, ConditionalPropertiesAreReadThroughTheirFieldTable) {
  connector_->setConditionalUserProperty(std::nullopt);
  connector_->setConditionalUserProperty(Dictionary{});
  EXPECT_TRUE(controller_->set.empty());

  connector_->setConditionalUserProperty(Dictionary{
      {"name", "tier"},
      {"origin", "cvm"},
      {"value", "gold"},
      {"triggerEventName", "buy"},
      {"triggerTimeout", 60},
      {"timeToLive", 3600.5},
      {"creationTimestamp", 1700000000},
      {"active", true},
      {"triggeredEvent", Dictionary{{"origin", "cvm"}, {"name", "fired"}, {"timestamp", 12}, {"parameters", Dictionary{{"a", 1}}}}},
      {"timedOutEvent", "not a dictionary"},
      {"expiredEvent", Dictionary{{"origin", "cvm"}, {"name", "gone"}}},
      {"unknownKey", 1},
      {"triggeredTimestamp", "mistyped"},
  });
  ASSERT_EQ(controller_->set.size(), 1u);
  const auto& [property, name] = controller_->set[0];
  EXPECT_EQ(name, "tier");
  EXPECT_EQ(property->origin, "cvm");
  ASSERT_TRUE(property->value);
  EXPECT_EQ(*property->value->stringValue(), "gold");
  EXPECT_EQ(property->triggerEventName, "buy");
  EXPECT_EQ(property->triggerTimeout, 60);
  EXPECT_EQ(property->timeToLive, 3600.5);
  EXPECT_EQ(property->creationTimestamp, 1700000000);
  EXPECT_EQ(property->triggeredTimestamp, 0);
  EXPECT_TRUE(property->active);
  ASSERT_TRUE(property->triggeredEvent);
  EXPECT_EQ(property->triggeredEvent->name(), "fired");
  EXPECT_EQ(property->triggeredEvent->timestamp(), 12);
  EXPECT_EQ(property->triggeredEvent->parameters().at("a"), GWLValue::initWithInt64(1));
  EXPECT_FALSE(property->timedOutEvent);
  ASSERT_TRUE(property->expiredEvent);
  EXPECT_EQ(property->expiredEvent->timestamp(), clock_->now());  // no timestamp: now

  // A number is no value for the property.
  connector_->setConditionalUserProperty(Dictionary{{"name", "n"}, {"value", 5}});
  EXPECT_FALSE(controller_->set.back().first->value);
}

TEST_F(InteropConnectorTest, ClearingNamesThePropertyAndNeedsClearEventParameters) {
  connector_->clearConditionalUserProperty("tier", "cvm", "cleared", std::nullopt);
  connector_->clearConditionalUserProperty("tier", "cvm", "cleared", Dictionary{});
  EXPECT_TRUE(controller_->cleared.empty());

  connector_->clearConditionalUserProperty("tier", "cvm", "cleared", Dictionary{{"b", 2}, {"a", "x"}});
  ASSERT_EQ(controller_->cleared.size(), 1u);
  EXPECT_EQ(controller_->cleared[0].second, "tier");
  const auto& clearEvent = controller_->cleared[0].first;
  ASSERT_TRUE(clearEvent);
  EXPECT_EQ(clearEvent->origin(), "cvm");
  EXPECT_EQ(clearEvent->name(), "cleared");
  EXPECT_EQ(clearEvent->parameters().count("a"), 1u);  // the first key only
  EXPECT_EQ(clearEvent->parameters().count("b"), 0u);
}

TEST_F(InteropConnectorTest, QueriesAnswerNamedPropertiesWithStringValues) {
  auto property = [](std::string name, std::optional<GWLValue> value) {
    auto made = std::make_shared<GWLConditionalUserProperty>();
    made->name = std::move(name);
    made->value = std::move(value);
    return made;
  };
  controller_->stored = {property("b", GWLValue::initWithString("two")), property("a", GWLValue::initWithInt64(1)),
                         property("c", std::nullopt), property("a2", GWLValue::initWithString("one"))};
  auto answered = connector_->conditionalUserProperties("cvm", "a");
  EXPECT_EQ(answered, (platform::Array{Object(Dictionary{{"name", "b"}, {"value", "two"}}),
                                       Object(Dictionary{{"name", "a2"}, {"value", "one"}})}));
  ASSERT_EQ(controller_->asked.size(), 1u);
  EXPECT_EQ(controller_->asked[0].first, Object("a"));
  EXPECT_EQ(controller_->asked[0].second, Object("cvm"));
}

TEST_F(InteropConnectorTest, TheLibraryRegistersOneInteropComponent) {
  CVNAnalyticsConnector::load();
  const auto libraries = platform::CVNApp::registeredLibraries();
  auto found = std::find_if(libraries.begin(), libraries.end(),
                            [](const auto& library) { return library.name == "corvane-analytics"; });
  ASSERT_NE(found, libraries.end());
  EXPECT_EQ(found->version, "12.5.0");
  ASSERT_EQ(found->components.size(), 1u);
  EXPECT_EQ(found->components[0].protocol(), "CVNAnalyticsInterop");
}

}  // namespace
}  // namespace measurement_test
