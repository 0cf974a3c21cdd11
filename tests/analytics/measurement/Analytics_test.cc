#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <future>
#include <limits>
#include <thread>

#include "EntryClassTestSupport.h"
#include "analytics/measurement/GWLLibraryLoad.h"
#include "platform/text/Utf8.h"

namespace measurement_test {
namespace {

using platform::Array;
using platform::Dictionary;
using platform::Object;
using Util = GWLConsentSettingsUtil;

bool contains(const std::vector<int64_t>& codes, int64_t code) {
  return std::find(codes.begin(), codes.end(), code) != codes.end();
}

std::string userDataCall(const Dictionary& data) { return "setUserData " + Object(data).description(); }

bool contains(const std::vector<std::string>& calls, const std::string& call) {
  return std::find(calls.begin(), calls.end(), call) != calls.end();
}

const std::string kServiceFile =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>HALCYRA_APP_ID</key>"
    "<string>1:1:ios:1</string></dict></plist>\n";

// ---------------------------------------------------------------------------
// Start

TEST_F(EntryClassTest, TheStartGateRefusesOrDefers) {
  struct Case {
    std::vector<std::string> components;
    std::string origin;
    bool serviceFile;
    int64_t code;  // 0: passes
  } cases[] = {
      {{"CVNADatabase", "CVNAnalytics"}, "cz", false, 25029},
      {{"CVNADatabase"}, "app", false, 25029},
      {{"CVNAnalytics"}, "app", false, 25026},
      {{"CVNAnalytics"}, "cz", true, 0},  // the public class is there: the service file does not matter
      {{}, "cz", true, 25027},
      {{}, "app", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.origin + (c.components.empty() ? "" : " " + c.components.front()));
    make(with([&](Setup& s) { s.serviceFile = c.serviceFile ? std::optional<std::string>(kServiceFile) : std::nullopt; s.components = c.components; }));
    codes();
    start({{kGWLStartOptionLogTag, "<Test>"}}, c.origin);
    const auto printed = codes();
    if (c.code) {
      EXPECT_TRUE(contains(printed, c.code));
      EXPECT_TRUE(made().empty());
      EXPECT_TRUE(analytics_->operationQueue()->isSuspended());
    } else {
      EXPECT_FALSE(contains(printed, 25026) || contains(printed, 25027) || contains(printed, 25029));
      ASSERT_EQ(made().size(), 1u);
      EXPECT_EQ(made()[0].appID, "1:123:ios:abc");
      EXPECT_FALSE(analytics_->operationQueue()->isSuspended());
    }
    made_.clear();
  }
}

TEST_F(EntryClassTest, AStartStoppedAtTheGateLeavesTheStartForALaterOne) {
  make(with([&](Setup& s) { s.components = {"CVNAnalytics"}; }));
  analytics_->logEventWithName("held", Dictionary{});
  start({{kGWLStartOptionLogTag, "<Test>"}}, "app");
  EXPECT_TRUE(made().empty());
  EXPECT_TRUE(engine_->events().empty());

  start({{kGWLStartOptionLogTag, "<Test>"}}, "cz");
  ASSERT_EQ(made().size(), 1u);
  EXPECT_EQ(identity_->appIDFromQRX(), "1:123:ios:abc");  // "cz" keeps the platform app ID
  EXPECT_EQ(identifiers_->origin(), "cz");
  ASSERT_EQ(engine_->events().size(), 1u);
  EXPECT_EQ(engine_->events()[0].name, "held");
}

TEST_F(EntryClassTest, ALaterStartChangesOnlyTheLogTag) {
  make();
  start({{kGWLStartOptionLogTag, "<One>"}}, "cz", "app-1");
  start({{kGWLStartOptionLogTag, "<Two>"}}, "cz", "app-2");
  EXPECT_EQ(monitor_->logTag(), "<Two>");
  ASSERT_EQ(made().size(), 1u);
  EXPECT_EQ(made()[0].appID, "app-1");
  EXPECT_EQ(identity_->appIDFromQRX(), "app-1");

  for (const Object& tag : {Object(""), Object(7)}) {
    start({{kGWLStartOptionLogTag, tag}});
    EXPECT_EQ(sampled(), kGWLInvalidLogTagReport.message);  // level 2: sampled, never printed
    EXPECT_EQ(monitor_->logTag(), "<Two>");
  }
  start({{"other", 1}});
  EXPECT_EQ(sampled(), kGWLInvalidLogTagReport.message);
  EXPECT_EQ(made().size(), 1u);
}

TEST_F(EntryClassTest, StartOptionsAreReadOnceAndTheWillStartNotificationPosted) {
  make();
  int willStart = 0;
  auto observer = center_->addObserver(kGWLWillStartNotification, nullptr, [&](const platform::Notification& n) {
    EXPECT_TRUE(n.userInfo.empty());
    ++willStart;
  });
  engine_->updateAnswers([](auto& a) { a.wasEnabledDuringInitialization = false; });
  start({{kGWLStartOptionLogTag, "<Test>"},
         {kGWLStartOptionCollectionEnabled, false},
         {kGWLStartOptionCollectionDeactivated, 1},
         {"ad_storage", "denied"},
         {"analytics_storage", "granted"}});
  start({{kGWLStartOptionCollectionEnabled, true}});
  EXPECT_EQ(willStart, 1);
  ASSERT_EQ(made().size(), 1u);
  EXPECT_FALSE(made()[0].isAnalyticsCollectionEnabled);
  EXPECT_TRUE(made()[0].isAnalyticsCollectionDeactivated);
  EXPECT_FALSE(made()[0].safelistedEvents.has_value());
  EXPECT_TRUE(analytics_->collectionDeactivated());
  EXPECT_FALSE(analytics_->collectionEnabled());  // the engine's answer
  EXPECT_EQ(analytics_->consent()->consentSettings1PStart(),
            (Dictionary{{"ad_storage", "denied"}, {"analytics_storage", "granted"}}));
  EXPECT_FALSE(swizzler_->isProxyInstalled());  // deactivated: no app-delegate proxy
}

TEST_F(EntryClassTest, TheSafelistMustBeAnArrayOfInternalEventNames) {
  struct Case {
    Object value;
    int64_t code;
    std::optional<std::vector<std::string>> safelist;
  } cases[] = {
      {Object("_e"), 25034, std::nullopt},
      {Object(Array{"_e", "bad name"}), 25035, std::nullopt},
      {Object(Array{"_e", 5}), 25035, std::nullopt},
      {Object(Array{"_e", "purchase"}), 0, std::vector<std::string>{"_e", "purchase"}},
      {Object(Array{}), 0, std::vector<std::string>{}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value.description());
    make();
    codes();
    start({{kGWLStartOptionLogTag, "<Test>"}, {kGWLStartOptionSafelistedEvents, c.value}});
    if (c.code) {
      EXPECT_TRUE(contains(codes(), c.code));
    }
    ASSERT_EQ(made().size(), 1u);
    EXPECT_EQ(made()[0].safelistedEvents, c.safelist);
    made_.clear();
  }
}

TEST_F(EntryClassTest, TheTagManagerIsStartedWhenItCanBe) {
  int started = 0;
  make(with([&](Setup& s) { s.tagManagerMethods = {{kGWLTagManagerInitializeMethod, [&] { ++started; }}}; s.withTagManager = true; }));
  start();
  EXPECT_EQ(started, 1);

  make(with([&](Setup& s) { s.tagManagerMethods = {{kGWLTagManagerInitializeMethod, {}}}; s.withTagManager = true; }));
  start();
  EXPECT_EQ(sampled(), kGWLTagManagerWithoutInitializerReport.message);
}

TEST_F(EntryClassTest, TheLoadTimestampIsTheLibrarysLoadTime) {
  GWLLibraryLoadResetForTesting();
  auto early = std::make_shared<platform::ManualClock>(1000.0);
  GWLLibraryLoad(early);
  GWLLibraryLoad(std::make_shared<platform::ManualClock>(2000.0));  // only the first call counts
  EXPECT_EQ(GWLLibraryLoadTimestamp(), 1000.0);
  make();
  EXPECT_EQ(analytics_->loadTimestamp(), 1000.0);
  analytics_->setLoadTimestamp(1500.0);
  EXPECT_EQ(analytics_->loadTimestamp(), 1500.0);
  GWLLibraryLoadResetForTesting();
}

// ---------------------------------------------------------------------------
// Events

TEST_F(EntryClassTest, EventsBeforeStartKeepTheirCallTimesAndArriveInOrderAfterTheEngineStart) {
  make();
  const double t0 = clock_->now();
  for (int i = 0; i < 5; ++i) {
    // Three threads take turns; the clock moves a second between calls.
    std::thread([&, i] { analytics_->logEventWithName("event_" + std::to_string(i), Dictionary{{"i", i}}); }).join();
    clock_->advance(1);
  }
  settle();
  EXPECT_EQ(analytics_->operationQueue()->operationCount(), 5u);
  EXPECT_TRUE(engine_->events().empty());

  start();
  const auto events = engine_->events();
  ASSERT_EQ(events.size(), 5u);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(events[i].name, "event_" + std::to_string(i));
    EXPECT_EQ(events[i].timestamp, t0 + i);
    EXPECT_EQ(events[i].origin, "app");
    EXPECT_TRUE(events[i].isPublicEvent);
    EXPECT_TRUE(events[i].enabled);  // the collection flag once the engine was made
    EXPECT_EQ(plain(events[i].parameters), (Dictionary{{"i", i}}));
  }
}

// A clock that moves a millisecond at every reading.
class TickingClock : public platform::ManualClock {
 public:
  double now() const override { return 1'700'000'000.0 + 0.001 * static_cast<double>(ticks_.fetch_add(1)); }

 private:
  mutable std::atomic<int64_t> ticks_{0};
};

TEST_F(EntryClassTest, EventsFromManyThreadsReachTheEngineInTimestampOrder) {
  make(with([&](Setup& s) { s.clock = std::make_shared<TickingClock>(); }));
  start();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) analytics_->logEventWithName("thread_" + std::to_string(t), Dictionary{{"i", i}});
    });
  }
  for (auto& thread : threads) thread.join();
  settle();
  const auto events = engine_->events();
  ASSERT_EQ(events.size(), 200u);
  for (size_t i = 1; i < events.size(); ++i) EXPECT_LT(events[i - 1].timestamp, events[i].timestamp);
}

TEST_F(EntryClassTest, ScreenViewsGoToTheReporterAndEventsCarryTheCurrentScreen) {
  make();
  screens_->setCurrent({{"_si", GWLValue::initWithInt64(7)}, {"_sn", *GWLValue::initWithString("Menu")}});
  analytics_->logEventWithName("screen_view", Dictionary{{"screen_name", "Editor"}});
  EXPECT_EQ(analytics_->operationQueue()->operationCount(), 0u);  // never through the queues
  ASSERT_EQ(screens_->tracked().size(), 1u);
  EXPECT_EQ(plain(screens_->tracked()[0].first), (Dictionary{{"screen_name", "Editor"}}));
  EXPECT_EQ(screens_->tracked()[0].second, clock_->now());

  analytics_->logEventWithName("plain", Dictionary{});
  analytics_->logEventWithName("own_screen", Dictionary{{"_sc", "Mine"}});
  start();
  const auto events = engine_->events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(plain(events[0].addedScreenParameters), (Dictionary{{"_si", 7}, {"_sn", "Menu"}}));
  EXPECT_FALSE(events[1].addedScreenParameters.has_value());  // the event names its own screen
}

TEST_F(EntryClassTest, RefusedEventNamesBecomeErrorEvents) {
  make();
  start();
  const std::string longName(41, 'a');
  analytics_->logEventWithName("corvane_thing", Dictionary{});
  analytics_->logEventWithName(longName, Dictionary{});
  analytics_->logEventWithName("", Dictionary{});
  settle();
  EXPECT_EQ(errorEvents(), (std::vector<Dictionary>{{{"_err", 13}, {"_ev", "corvane_thing"}},
                                                     {{"_err", 2}, {"_ev", std::string(40, 'a') + "..."}},
                                                     {{"_err", 2}, {"_ev", ""}}}));
  EXPECT_EQ(engine_->events().size(), 3u);  // only the error events
}

TEST_F(EntryClassTest, InternalEventsSkipTheNameCheckAndForwardedEventsCarryTheirScreen) {
  make();
  start();
  analytics_->logInternalEventWithOrigin("auto", "_s", GWLRawParameters{{"_sid", GWLValue::initWithInt64(5)}});
  analytics_->logInternalEventWithOrigin("auto", "_vs", 123.0, GWLRawParameters{});
  analytics_->logEventWithOrigin("gtm+kxw", false, "fwd", GWLRawParameters{{"_sn", Object("S")}, {"k", Object(1)}},
                                 456.0, false, true);
  settle();
  const auto events = engine_->events();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_FALSE(events[0].isPublicEvent);
  EXPECT_EQ(events[1].timestamp, 123.0);
  EXPECT_EQ(events[2].timestamp, 456.0);
  EXPECT_TRUE(events[2].ignoreInterceptor);
  EXPECT_EQ(plain(events[2].parameters), (Dictionary{{"k", 1}}));
  EXPECT_EQ(plain(events[2].addedScreenParameters), (Dictionary{{"_sn", "S"}}));
}

TEST_F(EntryClassTest, AdEventIDTextBecomesAnInteger) {
  struct Case {
    std::string origin;
    std::string text;
    Object expected;
    bool reported;
  } cases[] = {
      {"gw", "123", Object(123), false},
      {"gw", "-42", Object(-42), false},
      {"gw", "99999999999999999999", Object(std::numeric_limits<int64_t>::max()), false},
      {"gw", "-99999999999999999999", Object(std::numeric_limits<int64_t>::min()), false},
      {"auto", "123", Object("123"), false},
      {"gw", "12a", Object("12a"), true},  // last: its report stays the last sampled one
  };
  make();
  start();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.origin + " " + c.text);
    const size_t before = engine_->events().size();
    analytics_->logInternalEventConvertingAdEventID(c.origin, "_xa", GWLRawParameters{{"_aeid", Object(c.text)}});
    settle();
    const auto events = engine_->events();
    ASSERT_EQ(events.size(), before + 1);
    EXPECT_EQ(plain(events.back().parameters).at("_aeid"), c.expected);
    EXPECT_EQ(sampled() == kGWLAdEventIDNotNumberReport.message, c.reported);
  }
}

TEST_F(EntryClassTest, CallerTextThatIsNotUTF8IsReplaced) {
  make();
  start();
  analytics_->logInternalEventWithOrigin(
      "auto", "_x\xC0", GWLRawParameters{{"k\xFF", Object(Array{Object("v\xFE"), Object(Dictionary{{"n\xFF", 1}})})}});
  analytics_->setUserPropertyString(Object("v\xFF"), "prop");
  analytics_->setDefaultEventParameters(Dictionary{{"d\xFF", "x\xFF"}});
  settle();
  const std::string r = "\xEF\xBF\xBD";
  const auto events = engine_->events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].name, "_x" + r);
  EXPECT_EQ(plain(events[0].parameters),
            (Dictionary{{"k" + r, Array{Object("v" + r), Object(Dictionary{{"n" + r, 1}})}}}));
  EXPECT_TRUE(contains(engine_->calls(), "setUserAttribute prop=v" + r + " (app)"));
  EXPECT_TRUE(contains(engine_->calls(), "setDefaultEventParameters " + Object(Dictionary{{"d" + r, "x" + r}}).description()));
}

// ---------------------------------------------------------------------------
// User properties

TEST_F(EntryClassTest, UserPropertiesAreCheckedOnTheCallersThread) {
  make();
  start();
  codes();
  analytics_->setInternalUserProperty(Object("v"), "prop", std::string(32, 'o'));
  analytics_->setInternalUserProperty(Object("v"), "prop2", std::string(33, 'o'));
  EXPECT_EQ(sampled(), kGWLInvalidPropertyOriginReport.message);
  analytics_->setInternalUserProperty(Object("v"), "prop3", "");
  analytics_->setUserPropertyString(Object(5), "p");
  analytics_->setUserID(Object(5));
  analytics_->setUserPropertyString(Object("v"), "corvane_p");    // reserved: 15
  analytics_->setUserPropertyString(Object("v"), "1abc");         // invalid: 6
  analytics_->setUserPropertyString(Object(std::string(37, 'x')), "long");  // too long: 7
  analytics_->setInternalUserProperty(Object("v"), "bad name", "app");      // invalid internal name: 6
  analytics_->setUserAttributeNumber(Object(2.5), "score");
  analytics_->setUserAttributeNumber(Object(true), "flag");
  analytics_->setUserAttributeNumber(Object("x"), "text");  // not a number: nothing
  analytics_->setUserID(Object("u1"));
  analytics_->setUserID(Object());
  analytics_->setUserPropertyString(Object(), "gone");
  analytics_->removeUserAttributeForName("_internal");  // not a public name: nothing
  settle();
  EXPECT_EQ(entryCodes(), (std::vector<int64_t>{25003, 25004}));
  EXPECT_EQ(errorEvents(), (std::vector<Dictionary>{{{"_err", 15}, {"_ev", "corvane_p"}},
                                                     {{"_err", 6}, {"_ev", "1abc"}},
                                                     {{"_err", 7}, {"_ev", "long"}, {"_el", 37}},
                                                     {{"_err", 6}, {"_ev", "bad name"}}}));
  EXPECT_EQ(engine_->calls(), (std::vector<std::string>{"setUserAttribute prop=v (" + std::string(32, 'o') + ")",
                                                        "setUserAttribute score=2.5 (auto)",
                                                        "setUserAttribute flag=1 (auto)",
                                                        "setUserAttribute _id=u1 (app)",
                                                        "removeUserAttribute _id",
                                                        "removeUserAttribute _lair",
                                                        "removeUserAttribute gone"}));
}

TEST_F(EntryClassTest, AllowPersonalizedAdsIsKeptAndDecidesNPA) {
  make();
  engine_->updateAnswers([](auto& a) { a.shouldDisableAdPersonalization = true; });
  start();
  analytics_->setUserPropertyString(Object("NO"), kGWLAllowPersonalizedAdsProperty);
  settle();
  EXPECT_EQ(settings_->allowPersonalizedAds(), Object(false));
  EXPECT_EQ(engine_->calls(), std::vector<std::string>{"setUserAttribute _npa=1 (auto)"});

  // Nil clears the setting and an ad-personalisation consent; no decision removes "_npa".
  Util::setConsentSettings(Dictionary{{"ad_personalization", "granted"}});
  engine_->updateAnswers([](auto& a) { a = RecordingAnalyticsEngine::Answers(); });
  analytics_->setUserPropertyString(Object(), kGWLAllowPersonalizedAdsProperty);
  settle();
  EXPECT_FALSE(settings_->allowPersonalizedAds().has_value());
  EXPECT_FALSE(Util::adPersonalization().has_value());
  EXPECT_EQ(engine_->calls().back(), "removeUserAttribute _npa");

  analytics_->setUserPropertyString(Object(Array{}), kGWLAllowPersonalizedAdsProperty);  // no boolean in it
  EXPECT_TRUE(contains(codes(), 25003));
}

TEST_F(EntryClassTest, AllowPersonalizedAdsWhileCollectionIsOffIsStillStored) {
  make();
  engine_->updateAnswers([](auto& a) { a.wasEnabledDuringInitialization = false; a.shouldDisableAdPersonalization = true; });
  start();
  codes();
  analytics_->setUserPropertyString(Object("YES"), kGWLAllowPersonalizedAdsProperty);
  settle();
  EXPECT_EQ(codes(), std::vector<int64_t>{25033});
  EXPECT_EQ(settings_->allowPersonalizedAds(), Object(true));
  EXPECT_TRUE(engine_->calls().empty());
}

TEST_F(EntryClassTest, TheConsentUnitHandsItsEffectsToTheEntryClass) {
  make();
  start();
  analytics_->consent()->setConsent(Dictionary{{"ad_personalization", "denied"}});
  analytics_->consentSink()->logInternalEvent("auto", "_tcf", Dictionary{{"_tcfd", "abc"}});
  settle();
  EXPECT_EQ(settings_->allowPersonalizedAds(), Object(false));  // "allow_personalized_ads" = "NO"
  ASSERT_EQ(engine_->events().size(), 1u);
  EXPECT_EQ(engine_->events()[0].name, "_tcf");
  EXPECT_FALSE(engine_->events()[0].isPublicEvent);
  EXPECT_EQ(plain(engine_->events()[0].parameters), (Dictionary{{"_tcfd", "abc"}}));
}

// ---------------------------------------------------------------------------
// Collection, sessions, reset

TEST_F(EntryClassTest, EnablingWhileDeactivatedPersistsButIsIgnored) {
  make();
  engine_->updateAnswers([](auto& a) { a.wasEnabledDuringInitialization = false; });
  start({{kGWLStartOptionCollectionDeactivated, true}});
  analytics_->setAnalyticsEnabled(true, true);
  settle();
  EXPECT_EQ(settings_->measurementEnabledState(), 1);
  EXPECT_FALSE(analytics_->collectionEnabled());
  EXPECT_TRUE(engine_->calls().empty());

  analytics_->setAnalyticsEnabled(false, true);
  analytics_->setAnalyticsEnabled(true);  // not persisted
  settle();
  EXPECT_EQ(settings_->measurementEnabledState(), 2);
  EXPECT_EQ(engine_->calls(), std::vector<std::string>{"setEnabled 0"});
}

TEST_F(EntryClassTest, TheConfigurationObjectSwitchesCollection) {
  make();
  engine_->updateAnswers([](auto& a) { a.wasEnabledDuringInitialization = false; });
  auto configuration = std::make_shared<int>(0);
  start({{kGWLStartOptionLogTag, "<Test>"}}, "cz", "app", configuration);
  center_->post(kGWLConfigurationSetEnabledNotification, {{kGWLConfigurationSetEnabledNotification, true}},
                configuration);
  center_->post(kGWLConfigurationSetEnabledNotification, {{kGWLConfigurationSetEnabledNotification, false}},
                std::make_shared<int>(0));  // another sender: not observed
  settle();
  EXPECT_TRUE(analytics_->collectionEnabled());
  EXPECT_EQ(engine_->calls(), std::vector<std::string>{"setEnabled 1"});
  EXPECT_EQ(settings_->measurementEnabledState(), 0);  // not persisted

  codes();
  center_->post(kGWLConfigurationSetEnabledNotification, {{kGWLConfigurationSetEnabledNotification, "NO"}},
                configuration);
  EXPECT_EQ(codes(), std::vector<int64_t>{25000});
  analytics_->observeNotificationsForAnalyticsConfiguration(nullptr);  // stops observing
  center_->post(kGWLConfigurationSetEnabledNotification, {{kGWLConfigurationSetEnabledNotification, false}},
                configuration);
  settle();
  EXPECT_EQ(engine_->calls().size(), 1u);
}

TEST_F(EntryClassTest, SessionTimeoutGoesToTheEngineOnceItIsUpElseToTheSettings) {
  make();
  codes();
  analytics_->setSessionTimeoutInterval(30);  // no engine yet
  settle();
  EXPECT_EQ(settings_->sessionTimeoutValue(), Object(30.0));
  for (double bad : {-1.0, std::nan("")}) {
    analytics_->setSessionTimeoutInterval(bad);
    settle();
  }
  EXPECT_EQ(codes(), (std::vector<int64_t>{25059, 25060, 25060}));
  EXPECT_EQ(settings_->sessionTimeoutValue(), Object(30.0));

  engine_->updateAnswers([](auto& a) { a.didInitializeComponents = false; });
  start();
  analytics_->setSessionTimeoutInterval(40);  // the engine exists but is not up
  settle();
  EXPECT_EQ(settings_->sessionTimeoutValue(), Object(40.0));
  engine_->updateAnswers([](auto& a) { a = RecordingAnalyticsEngine::Answers(); });
  analytics_->setSessionTimeoutInterval(45);
  settle();
  EXPECT_EQ(engine_->calls(), std::vector<std::string>{"sessionTimeout 45"});
}

TEST_F(EntryClassTest, SessionIDAnswersOnTheGlobalQueue) {
  make();
  std::promise<std::pair<int64_t, std::optional<platform::Error>>> uninitialized;
  analytics_->sessionIDWithCompletion([&](int64_t id, const std::optional<platform::Error>& error) {
    EXPECT_TRUE(global_->isCurrent());
    uninitialized.set_value({id, error});
  });
  auto answer = uninitialized.get_future().get();
  EXPECT_EQ(answer.first, 0);
  ASSERT_TRUE(answer.second);
  EXPECT_EQ(answer.second->code, 13);
  EXPECT_EQ(answer.second->description, "Analytics uninitialized");

  engine_->updateAnswers([](auto& a) { a.sessionID = 1'700'000'000; });
  start();
  std::promise<int64_t> up;
  analytics_->sessionIDWithCompletion([&](int64_t id, const std::optional<platform::Error>&) { up.set_value(id); });
  EXPECT_EQ(up.get_future().get(), 1'700'000'000);

  codes();
  analytics_->sessionIDWithCompletion(nullptr);
  EXPECT_EQ(codes(), std::vector<int64_t>{25050});
}

TEST_F(EntryClassTest, ResetKeepsItsKeysUntilTheEngineHasReset) {
  make();
  clock_->advance(10);
  analytics_->resetAnalyticsData();
  EXPECT_EQ(analytics_->loadTimestamp(), clock_->now());
  EXPECT_EQ(analytics_->resetRetryCount(), 1);
  EXPECT_TRUE(analytics_->needFirstOpenAfterReset());
  EXPECT_EQ(analytics_->appInstanceIDAfterReset(), "0123456789ABCDEF0123456789ABCDEF");
  EXPECT_EQ(analytics_->appInstanceID(), "0123456789ABCDEF0123456789ABCDEF");

  // The engine fails: the keys stay for its next start.
  engine_->updateAnswers([](auto& a) { a.resetSucceeds = false; });
  codes();
  start();
  EXPECT_EQ(engine_->calls(), std::vector<std::string>{"reset 0123456789ABCDEF0123456789ABCDEF"});
  EXPECT_EQ(codes(), std::vector<int64_t>{25037});
  EXPECT_EQ(analytics_->resetRetryCount(), 1);

  // It succeeds: the count goes, and the ID when it is still the one handed over.
  engine_->updateAnswers([](auto& a) { a = RecordingAnalyticsEngine::Answers(); });
  analytics_->resetAnalyticsData();
  settle();
  EXPECT_EQ(analytics_->resetRetryCount(), 0);
  EXPECT_FALSE(suite_->objectForKey(kGWLResetRetryCountKey).has_value());
  EXPECT_FALSE(analytics_->appInstanceIDAfterReset().has_value());
  EXPECT_TRUE(analytics_->needFirstOpenAfterReset());
}

TEST_F(EntryClassTest, ResetWhileStorageIsDeniedHandsOverNoID) {
  make();
  start();
  Util::setConsentSettings(Dictionary{{"analytics_storage", "denied"}});
  analytics_->resetAnalyticsData();
  settle();
  EXPECT_EQ(engine_->calls(), std::vector<std::string>{"reset none"});
  EXPECT_FALSE(analytics_->appInstanceIDAfterReset().has_value());
  EXPECT_FALSE(analytics_->appInstanceID().has_value());

  make(with([&](Setup& s) { s.randomAppInstanceID = [] { return std::string(); }; }));
  start();
  codes();
  analytics_->resetAnalyticsData();
  settle();
  EXPECT_EQ(codes(), std::vector<int64_t>{25039});
  EXPECT_EQ(analytics_->resetRetryCount(), 1);  // the steps before the ID stay
  EXPECT_EQ(engine_->calls(), std::vector<std::string>{"reset none"});  // nothing more
}

// ---------------------------------------------------------------------------
// Queries and listeners

TEST_F(EntryClassTest, UserPropertyQueriesAnswerOnTheGivenQueue) {
  make();
  auto caller = platform::SerialQueue::create("caller");
  std::vector<std::string> answers;  // the caller queue's
  auto record = [&](const std::string& what) {
    return [&, what](const Dictionary& properties) {
      EXPECT_TRUE(caller->isCurrent() || main_->isCurrent());
      answers.push_back(what + " " + Object(properties).description());
    };
  };
  engine_->updateAnswers([](auto& a) { a.wasEnabledDuringInitialization = false; a.userProperties = Dictionary{{"p", "v"}}; });
  start();
  analytics_->userPropertiesIncludingInternal(true, caller, nullptr);
  settle();
  EXPECT_EQ(sampled(), kGWLNilUserPropertiesCallbackReport.message);
  analytics_->userPropertiesIncludingInternal(true, nullptr, record("no queue"));
  settle();
  EXPECT_EQ(sampled(), kGWLNilUserPropertiesQueueReport.message);
  analytics_->userPropertiesIncludingInternal(true, caller, record("disabled"));
  settle();
  caller->flush();
  EXPECT_EQ(sampled(), kGWLUserPropertiesWhileDisabledReport.message);
  analytics_->setAnalyticsEnabled(true);
  analytics_->userPropertiesIncludingInternal(false, caller, record("enabled"));
  settle();
  caller->flush();
  EXPECT_EQ(answers, (std::vector<std::string>{"no queue {}", "disabled {}",
                                              "enabled " + Object(Dictionary{{"p", "v"}}).description()}));
  EXPECT_TRUE(contains(engine_->calls(), "userProperties 0"));
}

TEST_F(EntryClassTest, LimitQueriesAreCheckedOnTheCallersThreadAndAlwaysAnswered) {
  make();
  auto caller = platform::SerialQueue::create("caller");
  std::vector<int32_t> answers;
  auto record = [&](int32_t count) {
    EXPECT_TRUE(caller->isCurrent());
    answers.push_back(count);
  };
  analytics_->maxUserPropertiesForOrigin("", caller, record);
  EXPECT_EQ(sampled(), kGWLEmptyMaxUserPropertiesOriginReport.message);
  analytics_->maxUserPropertiesForOrigin("gw", nullptr, record);
  EXPECT_EQ(sampled(), kGWLNilMaxUserPropertiesQueueReport.message);
  analytics_->maxUserPropertiesForOrigin("gw", caller, nullptr);
  EXPECT_EQ(sampled(), kGWLNilMaxUserPropertiesCallbackReport.message);

  // Without an engine the answer is 0, once; and the properties, while collecting, none.
  make();
  start({{kGWLStartOptionLogTag, "<Test>"}}, "cz", "");  // an empty app ID makes no engine
  analytics_->maxUserPropertiesForOrigin("gw", caller, record);
  analytics_->setAnalyticsEnabled(true);
  int propertyAnswers = 0;
  analytics_->userPropertiesIncludingInternal(true, caller, [&](const Dictionary& properties) {
    EXPECT_TRUE(properties.empty());
    ++propertyAnswers;
  });
  settle();
  caller->flush();
  EXPECT_EQ(answers, std::vector<int32_t>{0});
  EXPECT_EQ(propertyAnswers, 1);

  make();
  start();
  analytics_->maxUserPropertiesForOrigin("gw", caller, record);
  settle();
  caller->flush();
  EXPECT_EQ(answers, (std::vector<int32_t>{0, 25}));
}

TEST_F(EntryClassTest, ListenersRegisterInQueueOrderAndReportBadTokens) {
  make();
  EXPECT_FALSE(analytics_->addLogEventListener(nullptr).has_value());
  EXPECT_EQ(sampled(), kGWLNilListenerReport.message);
  analytics_->removeLogEventListener(std::nullopt);
  EXPECT_EQ(sampled(), kGWLNilListenerTokenReport.message);

  std::vector<std::string> heard;
  auto event = GWLEvent::initWithOrigin("app", true, "heard", 1.0, 0.0, Dictionary{}, GWLValueLimits{});
  ASSERT_TRUE(event);
  auto token = analytics_->addLogEventListener([&](const std::shared_ptr<const GWLEvent>& e) { heard.push_back(e->name()); });
  ASSERT_TRUE(token.has_value());  // at once, before start
  analytics_->dispatchAsyncOnSerialQueue([&] { analytics_->notifyEventListenersOnSerialQueue(event); });
  settle();
  EXPECT_TRUE(heard.empty());  // the registration waits for the start

  start();
  analytics_->notifyEventListeners(event);
  settle();
  EXPECT_EQ(heard, std::vector<std::string>{"heard"});

  analytics_->removeLogEventListener(token);
  settle();
  analytics_->removeLogEventListener(token);
  settle();
  EXPECT_EQ(sampled(), kGWLUnknownListenerTokenReport.message);
  analytics_->notifyEventListeners(event);
  settle();
  EXPECT_EQ(heard.size(), 1u);

  make();
  start();
  analytics_->removeLogEventListener(GWLLogEventListenerToken{99});
  settle();
  EXPECT_EQ(sampled(), kGWLNoListenersReport.message);
}

TEST_F(EntryClassTest, CallsBackIntoTheEntryClassFromItsQueueNeverDeadlock) {
  make();
  start();
  auto caller = platform::SerialQueue::create("caller");
  std::promise<int32_t> limit;
  bool done = false;
  analytics_->addLogEventListener([&](const std::shared_ptr<const GWLEvent>&) {
    ASSERT_TRUE(analytics_->isCurrentQueueSerialQueue());
    analytics_->logEventWithName("from_listener", Dictionary{});
    analytics_->setUserData(Dictionary{{"email_address", "a@example.com"}});
    analytics_->setLogEventInterceptor(nullptr);
    auto inner = analytics_->addLogEventListener([](const std::shared_ptr<const GWLEvent>&) {});
    analytics_->removeLogEventListener(inner);
    analytics_->setAnalyticsEnabled(true);
    analytics_->resetAnalyticsData();
    // Waiting here for a limit answer, as a sibling library's connector does, still gets one.
    analytics_->maxUserPropertiesForOrigin("gw", caller, [&](int32_t count) { limit.set_value(count); });
    EXPECT_EQ(limit.get_future().get(), 25);
    done = true;
  });
  settle();
  analytics_->notifyEventListeners(GWLEvent::initWithOrigin("app", true, "go", 1.0, 0.0, Dictionary{}, GWLValueLimits{}));
  settle();
  EXPECT_TRUE(done);
  EXPECT_FALSE(analytics_->operationQueue()->isSuspended());  // setUserData from the queue held nothing back
  EXPECT_TRUE(contains(engine_->calls(), userDataCall({{"email_address", "a@example.com"}})));
}

// ---------------------------------------------------------------------------
// User data and the half-second pause

TEST_F(EntryClassTest, SetUserDataHandsOnTheQueuedCallsThenHoldsLaterOnesForHalfASecond) {
  make();
  start();
  analytics_->setUserData(Dictionary{{"email_address", "a@example.com"}});
  // Every call queued before it is on GWLAnalyticsQueue already; later ones wait.
  EXPECT_TRUE(analytics_->operationQueue()->isSuspended());
  EXPECT_EQ(analytics_->operationQueue()->operationCount(), 0u);
  analytics_->logEventWithName("later", Dictionary{});
  analytics_->setUserData(Dictionary{{"phone_number", "+15550000"}});  // inside the pause: only queued
  settle();
  EXPECT_EQ(engine_->calls(), std::vector<std::string>{userDataCall({{"email_address", "a@example.com"}})});
  EXPECT_TRUE(engine_->events().empty());

  clock_->advance(0.49);
  settle();
  EXPECT_TRUE(engine_->events().empty());
  clock_->advance(0.01);
  settle();
  ASSERT_EQ(engine_->events().size(), 1u);
  EXPECT_EQ(engine_->calls().back(), userDataCall({{"phone_number", "+15550000"}}));
}

TEST_F(EntryClassTest, UserDataWhileCollectionIsOffIsNotSet) {
  make();
  engine_->updateAnswers([](auto& a) { a.wasEnabledDuringInitialization = false; });
  start();
  codes();
  analytics_->setUserData(Dictionary{{"email_address", "a@example.com"}});
  clock_->advance(0.5);
  settle();
  EXPECT_EQ(codes(), std::vector<int64_t>{25044});
  EXPECT_TRUE(engine_->calls().empty());
}

// ---------------------------------------------------------------------------
// Opened URLs, purchases, screens

TEST_F(EntryClassTest, OpenedURLsAndUserActivitiesReachTheLibraryThroughTheAppDelegate) {
  make();
  start();
  EXPECT_TRUE(swizzler_->isProxyInstalled());
  std::vector<std::string> listened;
  analytics_->setOpenURLListener([&](const std::string& url) { listened.push_back(url); });
  const std::string url = "tabulo://open?svtp_debug_enable=1&svtp_preview_key=preview-1";
  const double now = clock_->now();
  main_->async([&] {
    EXPECT_FALSE(swizzler_->openURL(url));
    EXPECT_FALSE(swizzler_->continueUserActivity(
        {platform::kUserActivityTypeBrowsingWeb, "https://x.example/p", "https://ref.example/"}));
    EXPECT_FALSE(swizzler_->continueUserActivity({"com.example.other", "https://x.example/q", std::nullopt}));
  });
  settle();
  EXPECT_EQ(engine_->calls(),
            (std::vector<std::string>{"url " + url + " none @" + Object(now).description(),
                                      "url https://x.example/p https://ref.example/ @" + Object(now).description()}));
  EXPECT_EQ(listened, std::vector<std::string>{url});  // not for user activities
  EXPECT_EQ(GWLMeasurement::SVTPPreviewHeaders(), (GWLMeasurement::Headers{{"X-Kxw-Server-Preview", "preview-1"}}));

  int finished = 0;
  main_->async([&] { swizzler_->handleEventsForBackgroundURLSession("session-1", [&] { ++finished; }); });
  settle();
  EXPECT_EQ(finished, 1);
}

TEST_F(EntryClassTest, TheAppCanTurnTheAppDelegateProxyOff) {
  make(with([&](Setup& s) { s.info = {{"CorvaneAppDelegateProxyEnabled", false}}; }));
  codes();
  start();
  EXPECT_TRUE(contains(codes(), 25036));
  EXPECT_FALSE(swizzler_->isProxyInstalled());
}

TEST_F(EntryClassTest, PurchasesPassTheEngineFilterToTheReporterWhileCollecting) {
  make();
  engine_->updateAnswers([](auto& a) { a.wasEnabledDuringInitialization = false; });
  start();
  EXPECT_EQ(paymentQueue_->observerCount(), 1u);
  platform::PaymentTransaction bought;
  bought.transactionIdentifier = "t1";
  bought.transactionState = platform::PaymentTransactionState::Purchased;
  bought.payment = {"pro", 1};
  platform::PaymentTransaction failed = bought;
  failed.transactionState = platform::PaymentTransactionState::Failed;
  paymentQueue_->updateTransactions({bought, failed});
  settle();
  EXPECT_TRUE(engine_->calls().empty());  // collection off: dropped

  analytics_->setAnalyticsEnabled(true);
  paymentQueue_->updateTransactions({bought, failed});
  settle();
  EXPECT_TRUE(contains(engine_->calls(), "filter 2"));
  EXPECT_EQ(purchases_->filtered(), std::vector<std::vector<platform::PaymentTransaction>>{{bought}});

  GWLStoreTransactionValues values;
  values.productID = "pro";
  values.transactionID = "t2";
  values.paymentQuantity = 1;
  analytics_->logTransactionWithProductID(values);
  EXPECT_EQ(purchases_->reported(), std::vector<GWLStoreTransactionValues>{values});
}

TEST_F(EntryClassTest, TheManualScreenIsTakenOnTheMainQueueOnly) {
  make();
  codes();
  std::thread([&] { analytics_->setScreenName("Off", "Main"); }).join();  // not the main thread
  EXPECT_EQ(codes(), std::vector<int64_t>{25025});
  main_->async([&] { analytics_->setScreenName("Menu", std::nullopt); });
  main_->drain();
  ASSERT_EQ(screens_->manual().size(), 1u);
  EXPECT_EQ(screens_->manual()[0].first, "Menu");
}

// ---------------------------------------------------------------------------
// The engine class's accessors and URL services

TEST_F(EntryClassTest, TheEngineIsMadeOnceAndAnEmptyAppIDMakesNone) {
  int calls = 0;
  auto factory = [&](const GWLAnalyticsEngineConfiguration&) {
    ++calls;
    return engine_;
  };
  EXPECT_FALSE(GWLMeasurement::hasSharedInstance());
  GWLMeasurement::initializeSharedInstanceWithAppID("", true, false, std::nullopt, factory);
  GWLMeasurement::initializeSharedInstanceWithAppID("app", true, false, std::nullopt, factory);
  EXPECT_EQ(calls, 0);  // the first attempt had no app ID: final
  EXPECT_FALSE(GWLMeasurement::hasSharedInstance());
  EXPECT_EQ(GWLMeasurement::sharedInstance(), nullptr);

  GWLMeasurementRegistry::resetForTesting(monitor_);
  GWLMeasurement::initializeSharedInstanceWithAppID("app", false, true, std::vector<std::string>{"_e"}, factory);
  GWLMeasurement::initializeSharedInstanceWithAppID("other", true, false, std::nullopt, factory);
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(GWLMeasurement::hasSharedInstance());
  EXPECT_EQ(GWLMeasurement::sharedInstance(), engine_);
  EXPECT_EQ(GWLMeasurement::monitor(), monitor_);
  EXPECT_EQ(GWLMeasurementRegistry::remoteConfig(), GWLRemoteConfig::defaultInstance());  // the engine has none yet
}

TEST_F(EntryClassTest, TheServerSideTaggingSwitchReadsTheQuery) {
  struct Case {
    std::string url;
    std::optional<GWLMeasurement::Headers> headers;
  } cases[] = {
      {"tabulo://x?svtp_debug_enable=1&svtp_preview_key=abc#frag", GWLMeasurement::Headers{{"X-Kxw-Server-Preview", "abc"}}},
      {"tabulo://x?svtp_debug_enable=1", std::nullopt},
      {"tabulo://x?svtp_debug_enable=1&svtp_preview_key=k2", GWLMeasurement::Headers{{"X-Kxw-Server-Preview", "k2"}}},
      {"tabulo://x?svtp_debug_enable=2", GWLMeasurement::Headers{{"X-Kxw-Server-Preview", "k2"}}},  // unchanged
      {"tabulo://x", GWLMeasurement::Headers{{"X-Kxw-Server-Preview", "k2"}}},
      {"tabulo://x?svtp_debug_enable=0&svtp_preview_key=k3", std::nullopt},
      // A key that would add a header line is refused: debug mode on, no headers.
      {"tabulo://x?svtp_debug_enable=1&svtp_preview_key=a%0D%0AX-Evil:1", std::nullopt},
  };
  for (const auto& c : cases) {
    GWLMeasurement::handleSVTPDebugModeWithURL(c.url);
    EXPECT_EQ(GWLMeasurement::SVTPPreviewHeaders(), c.headers) << c.url;
  }
  EXPECT_FALSE(GWLMeasurement::deepLinkFromUserActivity(std::nullopt));
  EXPECT_FALSE(GWLMeasurement::deepLinkFromUserActivity(
      platform::UserActivity{platform::kUserActivityTypeBrowsingWeb, std::string(), std::nullopt}));
  EXPECT_EQ(GWLMeasurement::deepLinkFromUserActivity(
                platform::UserActivity{platform::kUserActivityTypeBrowsingWeb, "https://x.example/", std::nullopt}),
            "https://x.example/");
}

}  // namespace
}  // namespace measurement_test
