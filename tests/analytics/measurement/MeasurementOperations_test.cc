// The engine's operations behind the entry class, run through the small
// engine of OperationsTestSupport.h.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "OperationsTestSupport.h"
#include "analytics/foundation/core/GWLKeychainWrapper.h"

namespace measurement_test {
namespace {

// ---------------------------------------------------------------------------
// Events

TEST_F(MeasurementOperationsTest, EventsAreRoutedToTheWritePipelineTheListenersOrTheInterceptor) {
  struct Case {
    const char* what;
    std::string origin;
    std::string name;
    bool isPublic, enabled, ignoreEnabled, ignoreInterceptor, withInterceptor;
    bool written, notified, intercepted;
  };
  const std::vector<Case> cases = {
      {"public event with interceptor", "app", "shop", true, true, false, false, true, false, false, true},
      {"interceptor ignored", "app", "shop", true, true, false, true, true, true, true, false},
      {"collection flag off", "app", "shop", true, false, false, false, true, true, false, false},
      {"collection flag off, ignored", "app", "shop", true, false, true, false, true, false, false, true},
      {"no interceptor", "app", "shop", true, true, false, false, false, true, true, false},
      {"internal event", "auto", "_s", false, true, false, false, true, true, true, false},
      {"origin gw", "gw", "_ab", false, true, false, false, true, true, false, false},
      {"ad exposure _xa", "auto", "_xa", false, true, false, false, false, true, false, false},
      {"ad unit exposure _xu", "app", "_xu", false, true, false, false, false, true, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    engine_ = makeEngine({});
    std::atomic<int> intercepted{0};
    GWLLogEventInterceptor interceptor;
    if (c.withInterceptor) {
      interceptor = [&](const std::string&, const std::string&, const std::optional<GWLRawParameters>&, double) {
        EXPECT_TRUE(scheduler_->workerQueue()->isCurrent());
        ++intercepted;
      };
    }
    engine_->logEventWithOrigin(c.origin, c.isPublic, c.name, GWLRawParameters{{"p", Object(1)}}, 1000, c.enabled,
                                c.ignoreEnabled, c.ignoreInterceptor, interceptor, std::nullopt);
    drain();
    EXPECT_EQ(engine_->written().size(), c.written ? 1u : 0u);
    EXPECT_EQ(engine_->notified().size(), c.notified ? 1u : 0u);
    EXPECT_EQ(intercepted.load(), c.intercepted ? 1 : 0);
  }
}

TEST_F(MeasurementOperationsTest, EventCarriesDefaultsAndScreenParametersAndListenersSeeItAsLogged) {
  persisted_->setDefaultEventParameters(Dictionary{{"d", Object(1)}});
  engine_->pipelineChangesEvents = true;
  const GWLRawParameters screen = {{"_si", Object(int64_t{7})}, {"_sn", Object("Grid")}};
  engine_->logEventWithOrigin("app", true, "shop", GWLRawParameters{{"p", Object(1)}}, 1000, true, false, false,
                              nullptr, screen);
  // Neither the error event nor an event that ignores the interceptor gets the defaults.
  engine_->logEventWithOrigin("auto", false, "_err", GWLRawParameters{{"_err", Object(3)}}, 1001, true, false, false,
                              nullptr, std::nullopt);
  engine_->logEventWithOrigin("app", true, "tap", std::nullopt, 1002, true, false, true, nullptr, std::nullopt);
  drain();

  auto written = engine_->written();
  ASSERT_EQ(written.size(), 3u);
  const GWLParameters& shop = written[0]->parameters();
  EXPECT_TRUE(shop.count("p") && shop.count("d") && shop.count("_si") && shop.count("_sn"));
  EXPECT_EQ(written[0]->timestamp(), 1000);
  EXPECT_EQ(written[0]->previousTimestamp(), 0);
  EXPECT_FALSE(written[1]->parameters().count("d"));
  EXPECT_FALSE(written[2]->parameters().count("d"));
  // The listeners get a copy taken before the write pipeline changed the event.
  auto notified = engine_->notified();
  ASSERT_EQ(notified.size(), 3u);
  EXPECT_TRUE(written[0]->parameters().count("w"));
  EXPECT_FALSE(notified[0]->parameters().count("w"));
  EXPECT_NE(notified[0].get(), written[0].get());
}

TEST_F(MeasurementOperationsTest, InterceptorGetsTheScreenParametersOverTheEventsOwn) {
  struct Case {
    const char* what;
    std::optional<GWLRawParameters> parameters;
    std::optional<GWLRawParameters> screen;
    std::optional<Dictionary> expected;
  };
  const std::vector<Case> cases = {
      {"both", GWLRawParameters{{"p", Object(1)}, {"_sn", Object("Old")}},
       GWLRawParameters{{"_si", Object(int64_t{7})}, {"_sn", Object("Grid")}},
       Dictionary{{"p", 1}, {"_si", int64_t{7}}, {"_sn", "Grid"}}},
      {"screen only", std::nullopt, GWLRawParameters{{"_si", Object(int64_t{7})}}, Dictionary{{"_si", int64_t{7}}}},
      {"no screen", GWLRawParameters{{"p", Object(1)}}, GWLRawParameters{}, Dictionary{{"p", 1}}},
      {"nothing", std::nullopt, std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::optional<std::optional<Dictionary>> received;
    engine_->logEventWithOrigin(
        "app", true, "shop", c.parameters, 1000, true, false, false,
        [&](const std::string& origin, const std::string& name, const std::optional<GWLRawParameters>& parameters,
            double timestamp) {
          EXPECT_EQ(origin, "app");
          EXPECT_EQ(name, "shop");
          EXPECT_EQ(timestamp, 1000);
          std::optional<Dictionary> plain;
          if (parameters) {
            plain.emplace();
            for (const auto& [key, value] : *parameters) (*plain)[key] = std::get<Object>(value);
          }
          received = plain;
        },
        c.screen);
    drain();
    ASSERT_TRUE(received);
    EXPECT_EQ(*received, c.expected);
  }
  EXPECT_TRUE(engine_->written().empty());
}

TEST_F(MeasurementOperationsTest, RefusedEventsAreReportedAndGoNowhere) {
  engine_->logEvent(nullptr);
  engine_->logEventWithOrigin("app", true, "1bad", GWLRawParameters{{"p", Object(1)}}, 1000, true, false, false,
                              nullptr, std::nullopt);
  drain();
  EXPECT_TRUE(engine_->written().empty());
  // The null event is refused on the caller's thread; the refused name on the worker queue.
  EXPECT_EQ(codes(), (std::vector<int64_t>{23048, 13003, 23219}));

  auto event = GWLEvent::initWithOrigin("auto", false, "_s", 5, 0, GWLRawParameters{}, GWLValueLimits{});
  engine_->logEvent(event);
  drain();
  ASSERT_EQ(engine_->written().size(), 1u);
  EXPECT_EQ(engine_->written()[0], event);
  EXPECT_TRUE(engine_->notified().empty());
}

// The event hop holds the engine: an event logged just before the engine goes
// is still routed, while a weak block (the session ID query) finds it gone.
TEST_F(MeasurementOperationsTest, EventLoggedAsTheEngineGoesIsStillRouted) {
  std::mutex hold;
  hold.lock();
  scheduler_->scheduleOnWorkerQueueBlockID("test", [&] { std::lock_guard<std::mutex> wait(hold); });
  std::atomic<int> intercepted{0};
  engine_->logEventWithOrigin(
      "app", true, "shop", std::nullopt, 1000, true, false, false,
      [&](const std::string&, const std::string&, const std::optional<GWLRawParameters>&, double) { ++intercepted; },
      std::nullopt);
  std::weak_ptr<TestEngine> weak = engine_;
  engine_.reset();
  EXPECT_FALSE(weak.expired());
  hold.unlock();
  drain();
  EXPECT_EQ(intercepted.load(), 1);
  EXPECT_TRUE(weak.expired());
}

// ---------------------------------------------------------------------------
// User properties

TEST_F(MeasurementOperationsTest, OriginHoldsAtMostItsLimitOfPropertiesAndUpdatesStillWork) {
  config_ = configWith(monitor_, {{kGWLSettingMaxPublicUserProperties, "25"}});
  engine_ = makeEngine({});
  struct Case {
    std::string origin;
    std::string prefix;
  };
  for (const Case& c : {Case{"auto", "_p"}, Case{"app", "p"}}) {
    SCOPED_TRACE(c.origin);
    for (int i = 0; i < 25; ++i) ASSERT_TRUE(set(text(c.origin, c.prefix + std::to_string(i), "v")));
    reports();
    EXPECT_FALSE(set(text(c.origin, c.prefix + "new", "v")));
    EXPECT_FALSE(stored(c.prefix + "new"));
    EXPECT_EQ(codes(), std::vector<int64_t>{23084});
    EXPECT_EQ(errorEventCodes(), std::vector<int64_t>{9});
    EXPECT_TRUE(set(text(c.origin, c.prefix + "3", "changed")));
    EXPECT_EQ(*database_->userAttributeWithName(c.prefix + "3")->value().stringValue(), "changed");
  }
  // Another non-public origin has a limit of its own.
  EXPECT_TRUE(set(text("cz", "_other", "v")));
}

// Callers on several threads: the existence check, the limit check and the
// write of one property never interleave with another property's, and the
// decision flags may be read meanwhile.
TEST_F(MeasurementOperationsTest, ConcurrentCallersCannotPassTheLimit) {
  std::vector<std::thread> callers;
  for (int t = 0; t < 4; ++t) {
    callers.emplace_back([this, t] {
      for (int i = 0; i < 10; ++i) {
        engine_->setUserAttribute(text("auto", "_t" + std::to_string(t) + "_" + std::to_string(i), "v"));
        engine_->setShouldUpdateNPAUserProperty(i % 2 == 0);
        (void)engine_->shouldDisableAdPersonalization();
        (void)engine_->foundAdPersonalizationPlistFlag();
      }
    });
  }
  for (auto& caller : callers) caller.join();
  drain();
  EXPECT_EQ(database_->userAttributeCountForOrigin("auto"), 25);
  std::vector<int64_t> refused;
  for (int64_t code : codes()) {
    if (code == 23084) refused.push_back(code);
  }
  EXPECT_EQ(refused.size(), 15u);
  EXPECT_EQ(errorEventCodes(), std::vector<int64_t>(15, 9));
}

TEST_F(MeasurementOperationsTest, ChangedUserIDResetsTheStitchingTokenAndRemovesLastAdvertisingIDReset) {
  struct Case {
    const char* what;
    std::string next;
    const char* failing;  // a stored ID that cannot be read is not known to differ
    bool reset;
  };
  const std::vector<Case> cases = {
      {"same", "user-1", nullptr, false},
      {"changed", "user-2", nullptr, true},
      {"stored ID unreadable", "user-2", "* FROM user_attributes", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(set(text("app", "_id", "user-1")));
    ASSERT_TRUE(set(attribute("auto", "_lair", GWLValue::initWithInt64(1))));
    auto identity = engine_->identity();
    const auto before = identity->sessionStitchingToken(1, false, true);
    ASSERT_TRUE(before);
    FailingStatements failing(*database_);
    if (c.failing) failing.failNext(c.failing);
    ASSERT_TRUE(set(text("app", "_id", c.next)));
    EXPECT_EQ(failing.armed(), 0u);
    EXPECT_EQ(stored("_lair"), !c.reset);
    EXPECT_EQ(identity->sessionStitchingToken(1, false, true) != before, c.reset);
  }
}

TEST_F(MeasurementOperationsTest, NonPersonalizedAdsValueIsHandedToTheConsent) {
  ASSERT_TRUE(set(attribute("auto", "_npa", GWLValue::initWithInt64(1))));
  ASSERT_TRUE(set(attribute("auto", "_npa", GWLValue::initWithInt64(0))));
  EXPECT_EQ(engine_->npaValues(), (std::vector<int64_t>{1, 0}));
}

// Each database call in turn fails while the others work; a missing database
// fails every call without an error.
TEST_F(MeasurementOperationsTest, DatabaseFailureFailsThePropertyWrite) {
  struct Case {
    const char* what;
    const char* failing;  // text of the failing statement; null for no database
    std::string origin;
    std::string name;
    int64_t code;
  };
  const std::vector<Case> cases = {
      {"existence query", "EXISTS", "app", "p", 23082},
      {"public count", "count(1)", "app", "p", 23083},
      {"origin count", "count(1)", "auto", "_p", 23083},
      {"write", "INSERT", "app", "p", 23085},
      {"no database", nullptr, "app", "p", 23082},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FailingStatements failing(*database_);
    engine_->withDatabase = c.failing != nullptr;
    if (c.failing) failing.failNext(c.failing);
    EXPECT_FALSE(set(text(c.origin, c.name, "v")));
    EXPECT_EQ(failing.armed(), 0u);
    EXPECT_EQ(codes(), std::vector<int64_t>{c.code});
    EXPECT_TRUE(errorEventCodes().empty());
    EXPECT_FALSE(stored(c.name));
  }
}

TEST_F(MeasurementOperationsTest, RemovalReportsWhetherThePropertyWentAway) {
  ASSERT_TRUE(set(text("app", "p", "v")));
  reports();
  auto property = text("app", "p", "v");
  {
    FailingStatements failing(*database_);
    failing.failNext("DELETE");
    onWorker([&] { engine_->removeUserAttributeOnWorkerQueue(property); return 0; });
  }
  EXPECT_EQ(codes(), std::vector<int64_t>{23077});
  EXPECT_TRUE(stored("p"));
  engine_->withDatabase = false;
  onWorker([&] { engine_->removeUserAttributeOnWorkerQueue(property); return 0; });
  EXPECT_EQ(codes(), std::vector<int64_t>{23077});
  engine_->withDatabase = true;
  engine_->removeUserAttribute(property);
  drain();
  EXPECT_EQ(codes(), std::vector<int64_t>{23078});
  EXPECT_FALSE(stored("p"));
}

TEST_F(MeasurementOperationsTest, RemovingTheUserIDResetsTheStitchingToken) {
  ASSERT_TRUE(set(text("app", "_id", "user-1")));
  const auto before = engine_->identity()->sessionStitchingToken(1, false, true);
  engine_->removeUserAttribute(text("app", "_id", "user-1"));
  drain();
  EXPECT_FALSE(stored("_id"));
  EXPECT_NE(engine_->identity()->sessionStitchingToken(1, false, true), before);
}

TEST_F(MeasurementOperationsTest, PropertiesAreNeitherSetNorRemovedWhileCollectionIsOff) {
  ASSERT_TRUE(set(text("app", "kept", "v")));
  reports();
  engine_->enabled = false;
  engine_->setUserAttribute(nullptr);
  engine_->removeUserAttribute(nullptr);
  engine_->setUserAttribute(text("app", "p", "v"));
  engine_->removeUserAttribute(text("app", "kept", "v"));
  drain();
  EXPECT_EQ(codes(), (std::vector<int64_t>{23079, 23074, 23081, 23076}));
  EXPECT_FALSE(stored("p"));
  EXPECT_TRUE(stored("kept"));
}

TEST_F(MeasurementOperationsTest, LastAdvertisingIDResetIsSetOnceWhenTheUserIDIsKnown) {
  struct Case {
    const char* what;
    bool userID, lair;
    const char* failing;
    bool written;
    bool flagKept;
  };
  const std::vector<Case> cases = {
      {"user ID, no _lair", true, false, nullptr, true, false},
      // The flag stays until the property is stored.
      {"write fails", true, false, "INSERT", false, true},
      {"no user ID", false, false, nullptr, false, true},
      {"_lair already there", true, true, nullptr, false, true},
      {"_id question fails", true, false, "'_id'", false, true},
      {"_lair question fails", true, false, "'_lair'", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(database_->deleteUserAttributeWithName("_id"));
    ASSERT_TRUE(database_->deleteUserAttributeWithName("_lair"));
    if (c.userID) {
      ASSERT_TRUE(set(text("app", "_id", "user")));
    }
    if (c.lair) {
      ASSERT_TRUE(set(attribute("auto", "_lair", GWLValue::initWithInt64(1))));
    }
    auto identity = engine_->identity();
    identity->setShouldSetLastAdvertisingIDResetUserProperty(true);
    clock_->advance(10);
    FailingStatements failing(*database_);
    if (c.failing) failing.failNext(c.failing);
    onWorker([&] { engine_->setLastAdvertisingIDResetUserPropertyOnWorkerQueue(); return 0; });
    EXPECT_EQ(failing.armed(), 0u);
    auto lair = database_->userAttributeWithName("_lair");
    EXPECT_EQ(lair != nullptr, c.written || c.lair);
    if (c.written) {
      EXPECT_EQ(lair->origin(), "auto");
      EXPECT_EQ(lair->value().int64Value(), 1);
      EXPECT_EQ(lair->lastSetTimestamp(), clock_->now());
    }
    EXPECT_EQ(identity->shouldSetLastAdvertisingIDResetUserProperty(), c.flagKept);
  }
}

TEST_F(MeasurementOperationsTest, UserIDQuestionCountsAFailureAsNo) {
  EXPECT_FALSE(onWorker([&] { return engine_->hasUserPropertyUserIDOnWorkerQueue(); }));
  ASSERT_TRUE(set(text("app", "_id", "user")));
  EXPECT_TRUE(onWorker([&] { return engine_->hasUserPropertyUserIDOnWorkerQueue(); }));
  FailingStatements failing(*database_);
  failing.failNext("'_id'");
  EXPECT_FALSE(onWorker([&] { return engine_->hasUserPropertyUserIDOnWorkerQueue(); }));
}

// ---------------------------------------------------------------------------
// Queries

TEST_F(MeasurementOperationsTest, StoredPropertiesAreAnsweredOnTheGlobalQueue) {
  ASSERT_TRUE(set(text("app", "colour", "blue")));
  ASSERT_TRUE(set(attribute("app", "score", GWLValue::initWithDouble(2.5))));
  ASSERT_TRUE(set(attribute("auto", "_fot", GWLValue::initWithInt64(42))));
  reports();
  for (bool includingInternal : {false, true}) {
    std::optional<Dictionary> answer;
    engine_->userPropertiesIncludingInternal(includingInternal, [&](const Dictionary& properties) {
      EXPECT_TRUE(global_->isCurrent());
      answer = properties;
    });
    drain();
    Dictionary expected{{"colour", "blue"}, {"score", 2.5}};
    if (includingInternal) expected["_fot"] = int64_t{42};
    EXPECT_EQ(answer, expected);
  }

  std::vector<std::shared_ptr<GWLUserAttribute>> found;
  engine_->userAttributeWithName("colour", [&](const std::shared_ptr<GWLUserAttribute>& a) { found.push_back(a); });
  engine_->userAttributeWithName("none", [&](const std::shared_ptr<GWLUserAttribute>& a) { found.push_back(a); });
  drain();
  ASSERT_EQ(found.size(), 2u);
  ASSERT_TRUE(found[0]);
  EXPECT_EQ(*found[0]->value().stringValue(), "blue");
  EXPECT_FALSE(found[1]);

  // A failed read answers nothing found, with a report.
  FailingStatements failing(*database_);
  failing.failNext("user_attributes");
  failing.failNext("user_attributes");
  std::optional<Dictionary> answer;
  engine_->userPropertiesIncludingInternal(true, [&](const Dictionary& properties) { answer = properties; });
  engine_->userAttributeWithName("colour", [&](const std::shared_ptr<GWLUserAttribute>& a) { found.push_back(a); });
  drain();
  EXPECT_EQ(answer, Dictionary{});
  ASSERT_EQ(found.size(), 3u);
  EXPECT_FALSE(found[2]);
  EXPECT_EQ(codes(), (std::vector<int64_t>{23091, 23089}));
}

TEST_F(MeasurementOperationsTest, MaxUserPropertiesIsTwentyFiveForEveryOrigin) {
  std::vector<int32_t> answers;
  for (const char* origin : {"app", "auto", "anything"}) {
    engine_->maxUserPropertiesForOrigin(origin, [&](int32_t max) {
      EXPECT_TRUE(global_->isCurrent());
      answers.push_back(max);
    });
  }
  engine_->maxUserPropertiesForOrigin("", [&](int32_t max) { answers.push_back(max); });
  engine_->maxUserPropertiesForOrigin("app", nullptr);
  engine_->userPropertiesIncludingInternal(true, nullptr);
  engine_->userAttributeWithName("p", nullptr);
  drain();
  EXPECT_EQ(answers, (std::vector<int32_t>{25, 25, 25}));
  EXPECT_EQ(codes(), (std::vector<int64_t>{23093, 23094, 23090, 23088}));
}

// ---------------------------------------------------------------------------
// Session ID

TEST_F(MeasurementOperationsTest, SessionIDAnswersTheStoredIDOrAnError) {
  struct Case {
    const char* what;
    bool enabled, expired, storedID;
    int64_t id;
    std::optional<std::string> error;
  };
  const std::vector<Case> cases = {
      {"stored", true, false, true, 1700000000, std::nullopt},
      {"collection off", false, false, true, 0, "Analytics disabled"},
      {"session expired", true, true, true, 0, "Session expired"},
      {"no session ID", true, false, false, 0, "Session ID not found"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(database_->deleteUserAttributeWithName("_sid"));
    if (c.storedID) {
      ASSERT_TRUE(set(attribute("auto", "_sid", GWLValue::initWithInt64(1700000000))));
    }
    engine_->enabled = c.enabled;
    engine_->sessionExpired = c.expired;
    std::optional<std::pair<int64_t, std::optional<platform::Error>>> answer;
    engine_->sessionIDWithCompletion([&](int64_t id, const std::optional<platform::Error>& error) {
      EXPECT_TRUE(scheduler_->workerQueue()->isCurrent());
      answer.emplace(id, error);
    });
    drain();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->first, c.id);
    ASSERT_EQ(answer->second.has_value(), c.error.has_value());
    if (c.error) {
      EXPECT_EQ(answer->second->domain, kGWLErrorDomain);
      EXPECT_EQ(answer->second->code, 13);
      EXPECT_EQ(answer->second->description, *c.error);
    }
  }
}

TEST_F(MeasurementOperationsTest, SessionIDOfAnEngineThatIsGoneIsAnError) {
  // Holds the worker queue until the engine is gone.
  std::mutex hold;
  hold.lock();
  scheduler_->scheduleOnWorkerQueueBlockID("test", [&] { std::lock_guard<std::mutex> wait(hold); });
  std::optional<std::pair<int64_t, std::optional<platform::Error>>> answer;
  engine_->sessionIDWithCompletion(
      [&](int64_t id, const std::optional<platform::Error>& error) { answer.emplace(id, error); });
  engine_.reset();
  hold.unlock();
  drain();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->first, 0);
  ASSERT_TRUE(answer->second);
  EXPECT_EQ(answer->second->code, 13);
  EXPECT_EQ(answer->second->description, "Analytics deallocated");
}

// ---------------------------------------------------------------------------
// Ad decisions

TEST_F(MeasurementOperationsTest, AdPersonalizationIsDecidedByTheFirstSourceWithAValue) {
  struct Case {
    const char* what;
    std::optional<Object> persisted;
    std::optional<std::string> current;
    std::optional<Object> plist;
    std::optional<std::string> defaults;
    std::optional<bool> disable;
    bool plistFlag;
  };
  const std::vector<Case> cases = {
      {"persisted allow wins", Object(true), "denied", Object(false), "denied", false, false},
      {"persisted deny", Object(false), "granted", std::nullopt, std::nullopt, true, false},
      {"current consent denied", std::nullopt, "denied", Object(true), "granted", true, false},
      {"current consent granted", std::nullopt, "granted", Object(false), "denied", false, false},
      {"Info number 0", std::nullopt, std::nullopt, Object(int64_t{0}), "granted", true, true},
      {"Info true", std::nullopt, std::nullopt, Object(true), "denied", false, true},
      {"Info text", std::nullopt, std::nullopt, Object("NO"), "denied", false, false},
      {"defaults DENIED", std::nullopt, std::nullopt, std::nullopt, "DENIED", true, false},
      {"defaults Granted", std::nullopt, std::nullopt, std::nullopt, "Granted", false, false},
      {"defaults other", std::nullopt, std::nullopt, std::nullopt, "maybe", std::nullopt, false},
      {"nothing", std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Util::resetForTesting();
    persisted_->clearValues();
    Dictionary info;
    if (c.plist) info[kGWLDefaultAllowAdPersonalizationSignalsInfoKey] = *c.plist;
    engine_ = makeEngine(info);
    if (c.persisted) persisted_->setAllowPersonalizedAds(*c.persisted);
    if (c.current) Util::updateSettings(Dictionary{{kGWLConsentTypeAdPersonalization, *c.current}}, 30);
    if (c.defaults) Util::setDefaultSettings(Dictionary{{kGWLConsentTypeAdPersonalization, *c.defaults}});
    EXPECT_EQ(engine_->shouldDisableAdPersonalization(), c.disable);
    EXPECT_EQ(engine_->foundAdPersonalizationPlistFlag(), c.plistFlag);
  }
}

TEST_F(MeasurementOperationsTest, AdNetworkRegistrationFollowsANumberInTheInfoDictionary) {
  struct Case {
    std::optional<Object> value;
    bool allowed;
  };
  const std::vector<Case> cases = {
      {std::nullopt, true}, {Object(false), false}, {Object(int64_t{0}), false},
      {Object(true), true}, {Object(int64_t{1}), true}, {Object("NO"), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value ? c.value->description() : "none");
    Dictionary info;
    if (c.value) info[kGWLRegistrationWithAdNetworkEnabledInfoKey] = *c.value;
    EXPECT_EQ(makeEngine(info)->shouldAllowAdNetworkRegistration(), c.allowed);
  }
}

// ---------------------------------------------------------------------------
// First open, user data

TEST_F(MeasurementOperationsTest, FirstOpenParametersCountEarlierInstallsAndUninstalls) {
  struct Case {
    std::optional<std::string> count;
    std::optional<int64_t> firstInstall;
    int64_t pfo, uwa;
  };
  const std::vector<Case> cases = {
      {std::nullopt, std::nullopt, 0, 0}, {"0", 0, 0, 1}, {"1", 1, 0, 0}, {"3", 0, 2, 1}, {"x", std::nullopt, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count.value_or("none"));
    engine_->setPreviousFirstOpenCount(c.count);
    EXPECT_EQ(engine_->previousFirstOpenCount(), c.count);
    ASSERT_TRUE(database_->deleteUserAttributeWithName("_fi"));
    if (c.firstInstall) {
      ASSERT_TRUE(set(attribute("auto", "_fi", GWLValue::initWithInt64(*c.firstInstall))));
    }
    auto parameters = onWorker([&] { return engine_->firstOpenConsentedEventParams(); });
    EXPECT_EQ(parameters, (GWLParameters{{"_pfo", GWLValue::initWithInt64(c.pfo)},
                                         {"_uwa", GWLValue::initWithInt64(c.uwa)}}));
  }
  auto merged = onWorker([&] {
    return engine_->paramsWithAddedFirstOpenConsentedEventParams({{"_pfo", Object(9)}, {"p", Object(1)}});
  });
  ASSERT_EQ(merged.size(), 3u);
  EXPECT_EQ(std::get<Object>(merged.at("_pfo")), Object(9));
  EXPECT_EQ(std::get<GWLValue>(merged.at("_uwa")), GWLValue::initWithInt64(0));
  // The count is the keychain's, kept for the app's bundle identifier.
  EXPECT_EQ(GWLKeychainWrapper::keychainValueWithIdentifier("_pfo", "com.halcyra.tabulo"), std::string("x"));
}

// The audiences and attribution layers reach these operations through the
// foundation's engine calls.
TEST_F(MeasurementOperationsTest, LayersAboveReachTheOperationsThroughTheEngineCalls) {
  GWLMeasurementEngineCalls& calls = *engine_;
  engine_->setPreviousFirstOpenCount("3");
  onWorker([&] {
    calls.setUserAttributeOnWorkerQueue(text("auto", "_c", "v"));
    return 0;
  });
  EXPECT_TRUE(stored("_c"));
  onWorker([&] {
    calls.removeUserAttributeOnWorkerQueue(text("auto", "_c", "v"));
    return 0;
  });
  EXPECT_FALSE(stored("_c"));
  auto parameters = onWorker([&] { return calls.paramsWithAddedFirstOpenConsentedEventParams({{"p", Object(1)}}); });
  ASSERT_TRUE(parameters.count("_pfo"));
  EXPECT_EQ(std::get<GWLValue>(parameters.at("_pfo")), GWLValue::initWithInt64(2));
}

TEST_F(MeasurementOperationsTest, UserDataGoesToTheConversionQueryOnTheWorkerQueue) {
  engine_->setUserData(Dictionary{{"email", "a@b.c"}});
  drain();
  EXPECT_EQ(engine_->userData(), (std::vector<Dictionary>{Dictionary{{"email", "a@b.c"}}}));
  EXPECT_EQ(engine_->userDataOnWorker(), std::vector<bool>{true});
}

// ---------------------------------------------------------------------------
// Purchases

PaymentTransaction transaction(const std::optional<std::string>& id, PaymentTransactionState state,
                               const std::string& product) {
  PaymentTransaction t;
  t.transactionIdentifier = id;
  t.transactionState = state;
  t.payment.productIdentifier = product;
  return t;
}

TEST_F(MeasurementOperationsTest, PurchasesAreReportedOncePerFingerprint) {
  using S = PaymentTransactionState;
  const std::vector<PaymentTransaction> transactions = {
      transaction("1001", S::Purchased, "first"),     transaction("1001", S::Purchased, "again"),
      transaction("1002", S::Restored, "restored"),   transaction("1003", S::Purchasing, "pending"),
      transaction(std::nullopt, S::Purchased, "no"),  transaction("1004", S::Purchased, "second"),
      transaction("1005", S::Failed, "failed"),
  };
  std::vector<std::string> passed;
  engine_->filterPurchaseTransactions(transactions, [&](const std::vector<PaymentTransaction>& passing) {
    EXPECT_TRUE(global_->isCurrent());
    for (const auto& t : passing) passed.push_back(t.payment.productIdentifier);
  });
  drain();
  EXPECT_EQ(passed, (std::vector<std::string>{"first", "no", "second"}));
  EXPECT_EQ(codes(), std::vector<int64_t>{23141});
  EXPECT_EQ(lastSampledKey(),
            "1E_120500:Purchase has nil or empty fingerprint. Purchase will not be checked for duplicates. Product ID");

  // Seen in an earlier call: still a duplicate. A fingerprint that cannot be saved passes.
  passed.clear();
  FailingStatements failing(*database_);
  failing.failNext("purchase_transactions");
  engine_->filterPurchaseTransactions({transaction("1006", S::Purchased, "unsaved"),
                                       transaction("1004", S::Purchased, "second again")},
                                      [&](const std::vector<PaymentTransaction>& passing) {
                                        for (const auto& t : passing) passed.push_back(t.payment.productIdentifier);
                                      });
  drain();
  EXPECT_EQ(passed, std::vector<std::string>{"unsaved"});
  EXPECT_EQ(codes(), (std::vector<int64_t>{23140, 23141}));
}

}  // namespace
}  // namespace measurement_test
