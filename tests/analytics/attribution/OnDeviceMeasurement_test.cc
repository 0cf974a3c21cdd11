// The engine's on-device measurement runs over a test engine (real worker
// queue, database and settings on a manual clock) with a client class whose
// initialisers each test chooses. Requests go to a closed local port, so each
// one fails at once; the answered queries are in OnDeviceMeasurementLoopback_test.cc.
#include "analytics/attribution/GWLMeasurementOnDeviceMeasurement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "../foundation/values/ValuesTestSupport.h"
#include "OnDeviceMeasurementTestSupport.h"
#include "analytics/attribution/GWLClassRegistry.h"
#include "analytics/wire/GWLPBOnDeviceMeasurementValue.h"
#include "platform/env/AppEnvironment.h"

namespace {

using odm_test::FakePSMClient;
using odm_test::FakePSMClientClass;
using odm_test::ODMTestEngine;
using Initializer = GWLPrivateSetMembershipClientInitializer;

constexpr double kNow = 1'700'000'000.0;
constexpr double kDay = 86'400.0;

class OnDeviceMeasurementTest : public foundation_test::LibraryMonitorTest {
 public:  // the case tables' arrangements reach in
  void SetUp() override {
    LibraryMonitorTest::SetUp();
    Start(std::make_shared<FakePSMClientClass>());
  }
  void TearDown() override {
    Stop();
    GWLClassRegistry<GWLPrivateSetMembershipClientClass>::resetForTesting();
    GWLClassRegistry<ODCPrivateSetMembershipGroupClientClass>::resetForTesting();
    monitor_->setDebugModeEnabled(false);
    monitor_->setVerboseLoggingEnabled(false);
    LibraryMonitorTest::TearDown();
  }
  void Stop() {
    if (engine_) engine_->waitUntilAnswered();
    odm_.reset();
    engine_.reset();
  }
  // A fresh engine with `clientClass` registered under the conversion
  // layer's name (none: no class) and the feature switched on.
  void Start(std::shared_ptr<FakePSMClientClass> clientClass, const std::string& className = kGWLPSMClientFallbackClassName) {
    Stop();
    GWLClassRegistry<GWLPrivateSetMembershipClientClass>::resetForTesting();
    clientClass_ = clientClass;
    if (clientClass) GWLClassRegistry<GWLPrivateSetMembershipClientClass>::registerClass(className, clientClass);
    clock_ = std::make_shared<platform::ManualClock>(kNow);
    engine_ = std::make_shared<ODMTestEngine>(monitor_, clock_);
    engine_->useSettings({{kGWLSettingAdsOnDeviceConversionFeatureEnabled, "1"}});
    GWLMeasurementOnDeviceMeasurement::Dependencies dependencies;
    dependencies.engine = [engine = engine_] { return engine; };
    dependencies.monitor = monitor_;
    dependencies.clock = clock_;
    platform::AppEnvironment::Configuration environment;
    environment.arguments = arguments_;
    dependencies.environment = platform::AppEnvironment::create(environment);
    dependencies.isAppStoreInstallation = [this] { return appStore_; };
    odm_ = GWLMeasurementOnDeviceMeasurement::create(dependencies);
    engine_->onWorkerQueue([&] { odm_->checkPSMDependencyOnWorkerQueue(); });
    reports();
  }

  // The on-device measurement codes printed since the last call.
  std::vector<int64_t> codes() {
    std::vector<int64_t> found;
    for (const auto& report : reports()) {
      if (report.code >= 23225 && report.code <= 23320) found.push_back(report.code);
    }
    return found;
  }
  void userData(const platform::Dictionary& data) {
    engine_->onWorkerQueue([&] { odm_->initiateODM1ProtocolWithUserData(data); });
    engine_->waitUntilAnswered();
  }
  std::shared_ptr<GWLPSMContext> context() { return odm_->ODM1Context(); }
  std::vector<uint8_t> cachedInput() {
    auto stored = engine_->persistedConfig()->PSMHashedInputData();
    return stored && stored->bytesValue() ? *stored->bytesValue() : std::vector<uint8_t>();
  }
  static std::vector<uint8_t> bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

  std::shared_ptr<platform::ManualClock> clock_;
  std::shared_ptr<ODMTestEngine> engine_;
  std::shared_ptr<FakePSMClientClass> clientClass_;
  std::shared_ptr<GWLMeasurementOnDeviceMeasurement> odm_;
  std::vector<std::string> arguments_ = {"tabulo"};
  bool appStore_ = false;
  foundation_test::DataDirectory data_;
};

TEST_F(OnDeviceMeasurementTest, TheQueryGateRefusesWithTheFirstFailingCheck) {
  struct Case {
    const char* name;
    std::function<void(OnDeviceMeasurementTest&)> arrange;
    std::vector<int64_t> printed;
  };
  const std::vector<Case> cases = {
      {"no client class", [](OnDeviceMeasurementTest& t) { t.Start(nullptr); }, {23233}},
      {"ad storage denied", [](OnDeviceMeasurementTest& t) { t.engine_->setAdStorageDenied(true); }, {23298}},
      {"feature off",
       [](OnDeviceMeasurementTest& t) { t.engine_->useSettings({}); }, {23299}},
      {"61 days after the first open",
       [](OnDeviceMeasurementTest& t) {
         t.engine_->persistedConfig()->setFirstOpenTimestampMilliseconds(int64_t((kNow - 61 * kDay) * 1000));
       },
       {23261}},
      {"request in progress", [](OnDeviceMeasurementTest& t) { t.context()->isPSMRequestInProgress = true; }, {23235}},
      {"three queries this run", [](OnDeviceMeasurementTest& t) { t.context()->PSMStartCount = 3; }, {23236}},
      // A refused e-mail query with a value found before starts the group run (no group class here).
      {"existing match", [](OnDeviceMeasurementTest& t) { t.engine_->setRow(kGWLODM1ValueRowName, "v", kNow); },
       {23237, 23309}},
      {"existing match as a property only",
       [](OnDeviceMeasurementTest& t) { t.engine_->setProperty(kGWLPSMValueProperty, *GWLValue::initWithString("v"), kNow); },
       {23237, 23309}},
      {"retry limit", [](OnDeviceMeasurementTest& t) { t.context()->PSMRetryCount = 5; }, {23238}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Start(std::make_shared<FakePSMClientClass>());
    c.arrange(*this);
    reports();
    userData({{kGWLUserDataEmailAddressKey, "user@example.com"}});
    EXPECT_EQ(codes(), c.printed);
    EXPECT_EQ(engine_->requestCount(), 0u);
  }

  // With every check passing, the query is sent (and, on a closed port, fails).
  Start(std::make_shared<FakePSMClientClass>());
  engine_->persistedConfig()->setFirstOpenTimestampMilliseconds(int64_t((kNow - 59 * kDay) * 1000));
  userData({{kGWLUserDataEmailAddressKey, "user@example.com"}});
  EXPECT_EQ(codes(), (std::vector<int64_t>{23228}));
  EXPECT_EQ(engine_->requestCount(), 1u);
}

TEST_F(OnDeviceMeasurementTest, EachInputKindChecksItsInputAndTheClassFirst) {
  struct Case {
    const char* name;
    std::set<Initializer> responds;
    platform::Dictionary data;
    std::vector<int64_t> printed;
  };
  const auto all = FakePSMClientClass::allInitializers();
  auto without = [&](std::initializer_list<Initializer> missing) {
    auto set = all;
    for (auto m : missing) set.erase(m);
    return set;
  };
  const std::vector<Case> cases = {
      {"empty e-mail", all, {{kGWLUserDataEmailAddressKey, ""}}, {23234}},
      {"empty phone", all, {{kGWLUserDataPhoneNumberKey, ""}}, {23239}},
      {"no phone initialiser", without({Initializer::kPhoneNumber}), {{kGWLUserDataPhoneNumberKey, "+15551234567"}},
       {23262}},
      {"empty hashed e-mail", all, {{kGWLUserDataHashedEmailAddressKey, platform::Bytes{}}}, {23264}},
      {"no hashed initialisers", without({Initializer::kHashedEmailAddress, Initializer::kHashedPhoneNumber}),
       {{kGWLUserDataHashedPhoneNumberKey, bytes("hash")}}, {23265}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Start(std::make_shared<FakePSMClientClass>(c.responds));
    userData(c.data);
    EXPECT_EQ(codes(), c.printed);
    EXPECT_EQ(engine_->requestCount(), 0u);
  }
}

TEST_F(OnDeviceMeasurementTest, FourQueriesOfARunAreRefusedUnlessDebugModeAllowsTen) {
  // Each query is answered for good (its client dropped), as a completed one would be.
  auto query = [&](int i) {
    userData({{kGWLUserDataEmailAddressKey, "user" + std::to_string(i) + "@example.com"}});
    engine_->onWorkerQueue([&] { context()->PSMClient = nullptr; });
  };
  for (int i = 0; i < 3; ++i) query(i);
  reports();
  query(3);
  EXPECT_EQ(codes(), (std::vector<int64_t>{23236}));
  EXPECT_EQ(engine_->requestCount(), 3u);

  monitor_->setDebugModeEnabled(true);
  for (int i = 3; i < 10; ++i) query(i);
  EXPECT_EQ(engine_->requestCount(), 10u);
  reports();
  query(10);
  EXPECT_EQ(codes(), (std::vector<int64_t>{23236}));
  EXPECT_EQ(engine_->requestCount(), 10u);
}

TEST_F(OnDeviceMeasurementTest, UserDataTriesEMailFirstAndTheNextKindOnlyWithoutAClient) {
  struct Case {
    const char* name;
    platform::Dictionary data;
    std::vector<std::string> made;
    std::string sentWith;  // the client's input; empty: nothing sent
    std::string cached;
  };
  const std::vector<Case> cases = {
      {"e-mail wins; the phone is not even normalised",
       {{kGWLUserDataEmailAddressKey, "user@example.com"}, {kGWLUserDataPhoneNumberKey, "+15551234567"}},
       {"email:user@example.com"}, "user@example.com", "user@example.com"},
      {"an empty e-mail clears the cache and the phone is used",
       {{kGWLUserDataEmailAddressKey, ""}, {kGWLUserDataPhoneNumberKey, "+15551234567"}},
       {"email:", "phone:+15551234567"}, "+15551234567", "+15551234567"},
      {"an address that does not normalise keeps the cache and the phone is tried next",
       {{kGWLUserDataEmailAddressKey, "unusable"}, {kGWLUserDataPhoneNumberKey, "+15551234567"}},
       {"email:unusable", "phone:+15551234567"}, "+15551234567", "+15551234567"},
      {"an address that does not normalise alone: nothing sent, the cache kept",
       {{kGWLUserDataEmailAddressKey, "unusable"}}, {"email:unusable"}, "", "earlier"},
      {"hashed e-mail before hashed phone",
       {{kGWLUserDataHashedEmailAddressKey, bytes("he")}, {kGWLUserDataHashedPhoneNumberKey, bytes("hp")}},
       {"hashed_email:he"}, "he", "he"},
      {"hashed phone alone", {{kGWLUserDataHashedPhoneNumberKey, bytes("hp")}}, {"hashed_phone:hp"}, "hp", "hp"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Start(std::make_shared<FakePSMClientClass>());
    engine_->persistedConfig()->setPSMHashedInputData(platform::Object(bytes("earlier")));
    engine_->persistedConfig()->setPSMInputType(1);
    userData(c.data);
    EXPECT_EQ(clientClass_->calls(), c.made);
    auto client = std::dynamic_pointer_cast<FakePSMClient>(context()->PSMClient);
    EXPECT_EQ(client ? client->input() : std::string(), c.sentWith);
    EXPECT_EQ(engine_->requestCount(), c.sentWith.empty() ? 0u : 1u);
    EXPECT_EQ(cachedInput(), bytes(c.cached));
  }
}

TEST_F(OnDeviceMeasurementTest, TheRequestURLCarriesTheCountFirstOpenSessionAndDebugKey) {
  // 10:00:00.123 UTC on 14 November 2023, and the session ID of a later session.
  constexpr int64_t kFirstOpenMs = 1'699'956'000'123;
  constexpr int64_t kTenOhOne = 1'699'956'060;
  engine_->persistedConfig()->setFirstOpenTimestampMilliseconds(kFirstOpenMs);
  engine_->setProperty(kGWLPSMCountPhoneProperty, GWLValue::initWithInt64(2), kNow);
  engine_->setProperty(kGWLSessionIDProperty, GWLValue::initWithInt64(1'699'999'990), kNow);
  const std::string host = "http://127.0.0.1:1/adconv/app/psm?version=1.1&retry_count=";

  auto url = [&](std::shared_ptr<GWLPrivateSetMembershipClient> client, double sessionStart, int32_t retry = 0) {
    GWLPSMContext context;
    context.PSMClient = std::move(client);
    context.sessionStartTimestamp = sessionStart;
    context.PSMRetryCount = retry;
    std::optional<std::string> made;
    engine_->onWorkerQueue([&] { made = odm_->PSMRequestURL(context); });
    return made.value_or("none");
  };
  auto mail = std::make_shared<FakePSMClient>("a", 1, 14, "http://127.0.0.1:1");
  auto phone = std::make_shared<FakePSMClient>("b", 2, 11, "http://127.0.0.1:1");
  const std::string firstOpen = "&timestamp_first_open=" + std::to_string(kTenOhOne);
  EXPECT_EQ(url(mail, 0, 3), host + "3&psm_count=0" + firstOpen);
  EXPECT_EQ(url(phone, 0), host + "0&psm_phone_count=2" + firstOpen);
  EXPECT_EQ(url(mail, kNow), host + "0&psm_count=0&tss=1700000040");
  EXPECT_EQ(url(nullptr, 0), "none");

  engine_->persistedConfig()->setFirstOpenTimestampMilliseconds(kFirstOpenMs - 123);
  EXPECT_EQ(url(mail, 0), host + "0&psm_count=0" + firstOpen);

  // The debug key needs all four: debug mode or verbose logging, no store
  // installation, a client that has one and the launch argument.
  const std::string key = "&debug_psm_key=key-a";
  struct Case {
    bool debug, verbose, appStore, argument;
    bool sent;
  };
  const Case cases[] = {{true, false, false, true, true},   {false, true, false, true, true},
                        {false, false, false, true, false}, {true, false, true, true, false},
                        {true, false, false, false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.debug << c.verbose << c.appStore << c.argument);
    arguments_ = c.argument ? std::vector<std::string>{"tabulo", kGWLPSMDebugLaunchArgument}
                            : std::vector<std::string>{"tabulo"};
    appStore_ = c.appStore;
    Start(std::make_shared<FakePSMClientClass>());
    monitor_->setDebugModeEnabled(c.debug);
    monitor_->setVerboseLoggingEnabled(c.verbose);
    EXPECT_EQ(url(mail, kNow).find(key) != std::string::npos, c.sent);
  }
}

TEST_F(OnDeviceMeasurementTest, FailuresRetryWithDoublingDelaysUntilTheLimit) {
  userData({{kGWLUserDataEmailAddressKey, "user@example.com"}});
  EXPECT_EQ(codes(), (std::vector<int64_t>{23228}));
  std::vector<int32_t> retryCounts;
  for (double delay : {300.0, 600.0, 1200.0, 2400.0}) {
    SCOPED_TRACE(delay);
    const size_t sent = engine_->requestCount();
    clock_->advance(delay - 1);
    engine_->waitUntilAnswered();
    EXPECT_EQ(engine_->requestCount(), sent);  // not a second early
    clock_->advance(1);
    engine_->waitUntilAnswered();
    EXPECT_EQ(engine_->requestCount(), sent + 1);
  }
  EXPECT_EQ(codes(), (std::vector<int64_t>{23228, 23228, 23228, 23228, 23231}));
  clock_->advance(100'000);
  engine_->waitUntilAnswered();
  EXPECT_EQ(engine_->requestCount(), 5u);
  // Every answer, failed or not, counts for the input type.
  EXPECT_EQ(engine_->property(kGWLPSMCountProperty)->value().int64Value(), 5);
  // The next query of the run is refused until new user data start afresh.
  engine_->onWorkerQueue([&] { EXPECT_EQ(context()->PSMRetryCount, 5); });
}

TEST_F(OnDeviceMeasurementTest, SessionStartsQueryWithTheCachedInputWithoutTheGate) {
  // No cached input yet.
  engine_->onWorkerQueue([&] { odm_->initiateODMSessionStartProtocolWithTimestamp(kNow); });
  EXPECT_EQ(codes(), (std::vector<int64_t>{23284}));

  engine_->persistedConfig()->setPSMHashedInputData(platform::Object(bytes("cached-hash")));
  engine_->persistedConfig()->setPSMInputType(4);
  engine_->onWorkerQueue([&] { context()->PSMStartCount = 3; });  // the user-data limit does not apply
  engine_->onWorkerQueue([&] { odm_->initiateODMSessionStartProtocolWithTimestamp(kNow); });
  engine_->waitUntilAnswered();
  EXPECT_EQ(engine_->requestCount(), 1u);
  EXPECT_EQ(clientClass_->calls(), (std::vector<std::string>{"cached:cached-hash"}));
  auto client = context()->PSMClient;
  ASSERT_TRUE(client);
  EXPECT_EQ(client->prefixBitLength(), 11);  // the session-start phone prefix
  EXPECT_EQ(engine_->property(kGWLPSMCountHashedPhoneProperty)->value().int64Value(), 1);

  // A class without the cached-input initialiser, and the feature switched off.
  Start(std::make_shared<FakePSMClientClass>(std::set<Initializer>{Initializer::kEmailAddress}));
  engine_->onWorkerQueue([&] { odm_->initiateODMSessionStartProtocolWithTimestamp(kNow); });
  EXPECT_EQ(codes(), (std::vector<int64_t>{23283}));
  engine_->useSettings({});
  engine_->onWorkerQueue([&] { odm_->initiateODMSessionStartProtocolWithTimestamp(kNow); });
  EXPECT_EQ(codes(), std::vector<int64_t>{});
}

TEST_F(OnDeviceMeasurementTest, ValuesAreStoredOnceAsRowPropertyAndEvent) {
  engine_->onWorkerQueue([&] { odm_->handlePSMValueOnWorkerQueue("v", false); });
  EXPECT_EQ(engine_->rowValue(kGWLODM1ValueRowName), "v");
  EXPECT_EQ(engine_->rowSetTime(kGWLODM1ValueRowName), kNow);
  auto property = engine_->property(kGWLPSMValueProperty);
  ASSERT_TRUE(property);
  EXPECT_EQ(*property->value().stringValue(), "v");
  EXPECT_EQ(property->origin(), "auto");
  auto events = engine_->events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0]->name(), "_fx");
  EXPECT_EQ(events[0]->origin(), "auto");
  EXPECT_TRUE(events[0]->isRealtime());
  ASSERT_TRUE(events[0]->parameters().count("_fxs"));
  EXPECT_EQ(*events[0]->parameters().at("_fxs").stringValue(), "psm");

  // The same session value twice keeps its set time; a new one renews it.
  engine_->onWorkerQueue([&] { odm_->handlePSMValueOnWorkerQueue("s", true); });
  clock_->advance(60);
  engine_->onWorkerQueue([&] { odm_->handlePSMValueOnWorkerQueue("s", true); });
  EXPECT_EQ(engine_->rowSetTime(kGWLODM1SessionValueRowName), kNow);
  engine_->onWorkerQueue([&] { odm_->handlePSMValueOnWorkerQueue("t", true); });
  EXPECT_EQ(engine_->rowValue(kGWLODM1SessionValueRowName), "t");
  EXPECT_EQ(engine_->rowSetTime(kGWLODM1SessionValueRowName), kNow + 60);
  EXPECT_EQ(engine_->events().size(), 1u);
  engine_->onWorkerQueue([&] { odm_->handlePSMValueOnWorkerQueue("", false); });
  EXPECT_EQ(engine_->events().size(), 1u);
}

TEST_F(OnDeviceMeasurementTest, ValuesExpireAfterNinetyDays) {
  const char* counts[] = {kGWLPSMCountProperty, kGWLPSMCountPhoneProperty, kGWLPSMCountHashedProperty,
                          kGWLPSMCountHashedPhoneProperty};
  auto arrange = [&](double age) {
    for (const char* row : {kGWLODM1ValueRowName, kGWLODM1SessionValueRowName, kGWLODM1GroupIDRowName}) {
      engine_->setRow(row, "x", kNow - age);
    }
    engine_->setProperty(kGWLPSMValueProperty, *GWLValue::initWithString("p"), kNow - age);
    for (const char* count : counts) engine_->setProperty(count, GWLValue::initWithInt64(1), kNow - age);
    engine_->onWorkerQueue([&] { odm_->maybeDeleteExpiredPSMValueOnWorkerQueue(); });
  };
  arrange(90 * kDay);
  for (const char* row : {kGWLODM1ValueRowName, kGWLODM1SessionValueRowName, kGWLODM1GroupIDRowName}) {
    EXPECT_FALSE(engine_->row(row)) << row;
  }
  EXPECT_FALSE(engine_->property(kGWLPSMValueProperty));
  for (const char* count : counts) EXPECT_FALSE(engine_->property(count)) << count;

  // A day younger everything stays; without the row it is rebuilt from the property.
  arrange(89 * kDay);
  EXPECT_EQ(engine_->rowValue(kGWLODM1GroupIDRowName), "x");
  EXPECT_TRUE(engine_->property(kGWLPSMCountProperty));
  engine_->onWorkerQueue([&] { (void)engine_->database()->deleteODMValueWithName(kGWLODM1ValueRowName); });
  engine_->onWorkerQueue([&] { odm_->maybeDeleteExpiredPSMValueOnWorkerQueue(); });
  EXPECT_EQ(engine_->rowValue(kGWLODM1ValueRowName), "p");
  EXPECT_EQ(engine_->rowSetTime(kGWLODM1ValueRowName), kNow - 89 * kDay);
}

TEST_F(OnDeviceMeasurementTest, WithoutAClientClassAFormerUserIsToldOnceAndNothingStarts) {
  Start(nullptr);
  EXPECT_EQ(codes(), std::vector<int64_t>{});
  engine_->setProperty(kGWLPSMCountPhoneProperty, GWLValue::initWithInt64(3), kNow);
  engine_->onWorkerQueue([&] { odm_->checkPSMDependencyOnWorkerQueue(); });
  EXPECT_EQ(codes(), (std::vector<int64_t>{23254}));
  EXPECT_FALSE(context());
  EXPECT_FALSE(odm_->isGWLPrivateSetMembershipClientLinked());

  Start(std::make_shared<FakePSMClientClass>());
  EXPECT_TRUE(context());
  EXPECT_FALSE(odm_->isGWLPrivateSetMembershipClientLinked());  // the conversion layer's class
  Start(std::make_shared<FakePSMClientClass>(), kGWLPSMClientClassName);
  EXPECT_TRUE(odm_->isGWLPrivateSetMembershipClientLinked());
}

TEST_F(OnDeviceMeasurementTest, AWipeOutStartsFreshContextsAndStopsTheOldRetry) {
  userData({{kGWLUserDataEmailAddressKey, "user@example.com"}});
  auto old = context();
  engine_->onWorkerQueue([&] { odm_->resetContexts(); });
  EXPECT_NE(context(), old);
  EXPECT_TRUE(odm_->ODM1GroupContext());
  engine_->onWorkerQueue([&] { EXPECT_EQ(context()->PSMStartCount, 0); });
  clock_->advance(300);
  engine_->waitUntilAnswered();
  EXPECT_EQ(engine_->requestCount(), 1u);

  // The answer to a request sent before a wipe-out leaves the fresh context
  // (here with a request of its own in flight) and the counts alone.
  engine_->onWorkerQueue([&] { (void)engine_->database()->deleteUserAttributeWithName(kGWLPSMCountProperty); });
  engine_->onWorkerQueue([&] {
    odm_->initiateODM1ProtocolWithUserData({{kGWLUserDataEmailAddressKey, "user@example.com"}});
    odm_->resetContexts();
    context()->isPSMRequestInProgress = true;
  });
  engine_->waitUntilAnswered();
  EXPECT_EQ(engine_->requestCount(), 2u);
  engine_->onWorkerQueue([&] { EXPECT_TRUE(context()->isPSMRequestInProgress); });
  EXPECT_FALSE(engine_->property(kGWLPSMCountProperty));
  clock_->advance(600);  // no retry of the wiped data's failed request
  engine_->waitUntilAnswered();
  EXPECT_EQ(engine_->requestCount(), 2u);
}

// A group client class that records the clients it makes; their fetches answer nothing.
class FakeGroupClientClass : public ODCPrivateSetMembershipGroupClientClass {
 public:
  class Client : public ODCPrivateSetMembershipGroupClientProtocol {
   public:
    explicit Client(std::vector<uint8_t> input) : input_(std::move(input)) {}
    std::vector<uint8_t> hashedInput() const override { return input_; }
    int32_t prefixBitLength() const override { return 22; }
    int64_t inputType() const override { return 1; }
    void fetchGroupIDWithNetwork(const std::shared_ptr<platform::HVUNetwork>&, Completion) override {}

   private:
    std::vector<uint8_t> input_;
  };
  explicit FakeGroupClientClass(bool responds = true) : responds_(responds) {}
  bool respondsToInitWithHashedInput() const override { return responds_; }
  std::shared_ptr<ODCPrivateSetMembershipGroupClientProtocol> initWithHashedInput(std::span<const uint8_t> input,
                                                                                  int64_t, const std::string&,
                                                                                  int32_t prefix) const override {
    ++made;
    lastPrefix = prefix;
    return std::make_shared<Client>(std::vector<uint8_t>(input.begin(), input.end()));
  }
  mutable std::atomic<int> made{0};
  mutable std::atomic<int32_t> lastPrefix{0};

 private:
  bool responds_;
};

TEST_F(OnDeviceMeasurementTest, TheGroupRunChecksInOrderAndLeavesTheDayOfAPhoneInput) {
  struct Case {
    const char* name;
    std::function<void(OnDeviceMeasurementTest&)> arrange;
    std::string sampled;  // the last sampled line's text (levels 4 and 5 are sampled)
  };
  auto registerGroup = [](bool responds) {
    GWLClassRegistry<ODCPrivateSetMembershipGroupClientClass>::registerClass(
        kGWLPSMGroupClientClassName, std::make_shared<FakeGroupClientClass>(responds));
  };
  auto cache = [](OnDeviceMeasurementTest& t, int64_t type) {
    t.engine_->persistedConfig()->setPSMHashedInputData(platform::Object(bytes("hash")));
    t.engine_->persistedConfig()->setPSMInputType(type);
  };
  const std::vector<Case> cases = {
      {"consent first, even without input",
       [](OnDeviceMeasurementTest& t) { t.engine_->setAdStorageDenied(true); }, kGWLGroupAdStorageDeniedLine.message},
      {"feature off", [&](OnDeviceMeasurementTest& t) { cache(t, 1); t.engine_->useSettings({}); },
       kGWLGroupFeatureDisabledLine.message},
      {"no class", [&](OnDeviceMeasurementTest& t) { cache(t, 1); }, kGWLGroupUnsupportedLine.message},
      {"class without the initialiser",
       [&](OnDeviceMeasurementTest& t) { cache(t, 1); registerGroup(false); }, kGWLGroupUnsupportedLine.message},
      {"no cached input", [&](OnDeviceMeasurementTest&) { registerGroup(true); }, kGWLGroupNoCachedInputLine.message},
      {"phone input", [&](OnDeviceMeasurementTest& t) { cache(t, 2); registerGroup(true); },
       kGWLGroupPhoneUnsupportedLine.message},
      {"hashed phone input", [&](OnDeviceMeasurementTest& t) { cache(t, 4); registerGroup(true); },
       kGWLGroupPhoneUnsupportedLine.message},
      {"queried today",
       [&](OnDeviceMeasurementTest& t) {
         cache(t, 3);
         registerGroup(true);
         t.engine_->persistedConfig()->setPSMCurrentDay(platform::Object(int64_t{19675}));
       },
       kGWLGroupDailyCapLine.message},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    GWLClassRegistry<ODCPrivateSetMembershipGroupClientClass>::resetForTesting();
    Start(std::make_shared<FakePSMClientClass>());
    engine_->persistedConfig()->setPSMCurrentDay(platform::Object(int64_t{7}));
    c.arrange(*this);
    const auto dayBefore = engine_->persistedConfig()->PSMCurrentDay();
    engine_->onWorkerQueue([&] { odm_->initiateODMGroupIDProtocol(); });
    EXPECT_NE(lastSampledKey().find(c.sampled), std::string::npos) << lastSampledKey();
    EXPECT_EQ(engine_->persistedConfig()->PSMCurrentDay(), dayBefore);
  }

  // Every check passing: the day is cleared and a client made with the group prefix.
  auto group = std::make_shared<FakeGroupClientClass>();
  GWLClassRegistry<ODCPrivateSetMembershipGroupClientClass>::registerClass(kGWLPSMGroupClientClassName, group);
  Start(std::make_shared<FakePSMClientClass>());
  cache(*this, 3);
  engine_->persistedConfig()->setPSMCurrentDay(platform::Object(int64_t{7}));
  engine_->onWorkerQueue([&] { odm_->initiateODMGroupIDProtocol(); });
  EXPECT_FALSE(engine_->persistedConfig()->PSMCurrentDay());
  EXPECT_EQ(group->made.load(), 1);
  EXPECT_EQ(group->lastPrefix.load(), 22);
  engine_->onWorkerQueue([&] { EXPECT_TRUE(odm_->ODM1GroupContext()->isPSMRequestInProgress); });
}

TEST_F(OnDeviceMeasurementTest, DaysTurnAtTheInstallsOwnOffsetFromMidnight) {
  Stop();
  engine_ = std::make_shared<ODMTestEngine>(monitor_, clock_, 3'600'000);
  GWLMeasurementOnDeviceMeasurement::Dependencies dependencies;
  dependencies.engine = [engine = engine_] { return engine; };
  dependencies.monitor = monitor_;
  dependencies.clock = clock_;
  odm_ = GWLMeasurementOnDeviceMeasurement::create(dependencies);
  clock_->setNow(1'700'009'999);  // 00:59:59 UTC
  EXPECT_EQ(odm_->currentDayNumber(), 19675);
  clock_->setNow(1'700'010'000);
  EXPECT_EQ(odm_->currentDayNumber(), 19676);
}

TEST(OnDeviceMeasurementValueFromRow, ConvertsRowsWithBothFields) {
  auto value = GWLOnDeviceMeasurementValueFromRow(
      {{"name", "odm1_value"}, {"value", "v"}, {"set_timestamp", 1'700'000'000.1239}});
  ASSERT_TRUE(value);
  EXPECT_EQ(value->setTimestamp(), 1'700'000'000'123);
  EXPECT_EQ(value->value(), "v");
  EXPECT_FALSE(GWLOnDeviceMeasurementValueFromRow({{"value", "v"}}));
  EXPECT_FALSE(GWLOnDeviceMeasurementValueFromRow({{"set_timestamp", 1.0}}));
}

}  // namespace
