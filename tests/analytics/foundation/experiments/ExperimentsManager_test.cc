#include <gtest/gtest.h>

#include "ExperimentsTestSupport.h"
#include "analytics/foundation/experiments/GWLEExperimentObserverDelegate.h"
#include "analytics/wire/GWLPBAppProperty.h"
#include "analytics/wire/GWLPBClientProperty.h"
#include "analytics/wire/GWLPBCustomProperty.h"
#include "analytics/wire/GWLPBExperimentRequest.h"
#include "analytics/wire/NANO.h"

namespace {

using namespace experiments_test;
using platform::Object;

class ExperimentsManagerTest : public ExperimentsFixture {
 protected:
  void SetUp() override { makeManager(); }

  // The manager hears of storage loaded at start.
  void started(std::vector<GWLESnapshot> activated, std::vector<GWLESnapshot> pending,
               std::vector<GWLESnapshot> launched) {
    manager_->taskManager(*taskManager_, activated, pending, launched);
    manager_->queue()->flush();
  }
  // The manager hears of a fetch.
  void fetched(std::vector<GWLESnapshot> snapshots, std::map<std::string, platform::Error> errors = {}) {
    manager_->taskManager(*taskManager_, snapshots, errors);
    settle();
  }
  std::optional<Object> value(const std::string& flagName, const std::string& sdk = "gauge_well") {
    return manager_->flagValueForFlagName(Object(flagName), Object(sdk));
  }
};

TEST_F(ExperimentsManagerTest, FlagsComeFromActivatedThenLaunchedThenDefaults) {
  registerSDK("gauge_well", {{"a", Object(1)}, {"b", Object("default")}, {"c", Object(2.5)}, {"e", Object(true)}});
  const double now = clock_->now();
  started({snapshot("gauge_well", {experiment(7, {flag("a", Object(10)), emptyFlag("b")})}, now)}, {},
          {snapshot("gauge_well", {experiment(0, {flag("b", Object("launched")), flag("c", Object(3.5))})}, now)});

  struct Case {
    const char* flag;
    std::optional<Object> expected;
  } cases[] = {
      {"a", Object(10)},          // the activated snapshot wins
      {"b", Object("launched")},  // a flag without value in the activated snapshot falls through
      {"c", Object(3.5)},         // the launched snapshot before the default
      {"e", Object(1)},           // a boolean default reads back as an integer
      {"z", std::nullopt},        // nowhere
  };
  for (const auto& c : cases) EXPECT_EQ(value(c.flag), c.expected) << c.flag;

  // Refused lookups.
  EXPECT_EQ(manager_->flagValueForFlagName(Object(3), Object("gauge_well")), std::nullopt);
  EXPECT_EQ(manager_->flagValueForFlagName(Object("a"), Object(3)), std::nullopt);
  EXPECT_EQ(value("", "gauge_well"), std::nullopt);
  EXPECT_EQ(value("a", "other"), std::nullopt);
  EXPECT_TRUE(logged("SDK is not registered yet"));
}

TEST_F(ExperimentsManagerTest, ActivationTable) {
  auto client = registerSDK("gauge_well", {{"a", Object(1)}, {"b", Object(2)}});
  const double now = clock_->now();
  started({}, {}, {snapshot("gauge_well", {experiment(0, {flag("b", Object(20))})}, now)});

  // A pending snapshot is invisible until activated.
  fetched({snapshot("gauge_well", {experiment(42, {flag("a", Object(11))}), experiment(0, {flag("b", Object(21))})},
                    now)});
  EXPECT_EQ(value("a"), Object(1));
  EXPECT_EQ(value("b"), Object(20));
  platform::Error error("untouched", 99);
  ASSERT_TRUE(client->activateLatestSnapshot(&error));
  EXPECT_EQ(value("a"), Object(11));
  EXPECT_EQ(value("b"), Object(21)) << "experiment 0 replaced the launched snapshot";
  EXPECT_EQ(manager_->experimentIDs(), std::vector<int32_t>{42});

  // Nothing pending: no, and the error stays as it was.
  EXPECT_FALSE(client->activateLatestSnapshot(&error));
  EXPECT_EQ(error, platform::Error("untouched", 99));

  // A pending snapshot whose only experiment is 0 leaves an activated snapshot without experiments.
  fetched({snapshot("gauge_well", {experiment(0, {flag("b", Object(22))})}, now)});
  ASSERT_TRUE(client->activateLatestSnapshot());
  EXPECT_EQ(value("a"), Object(1));
  EXPECT_EQ(value("b"), Object(22));
  EXPECT_TRUE(manager_->experimentIDs().empty());
  EXPECT_EQ(manager_->activatedSnapshotStatusOfSDKName("gauge_well"), 0);

  // An empty name is an argument error.
  EXPECT_FALSE(manager_->activateSnapshotOfSDK("", &error));
  EXPECT_EQ(error.domain, kGWLErrorDomain);
  EXPECT_EQ(error.code, 1);
  EXPECT_EQ(error.description, "SDK name cannot be empty");
}

TEST_F(ExperimentsManagerTest, SnapshotStatusOnTheClock) {
  registerSDK("gauge_well");
  registerSDK("empty");
  fetched({snapshot("gauge_well", {experiment(5, {flag("a", Object(1))})}, clock_->now())});
  ASSERT_TRUE(manager_->activateSnapshotOfSDK("gauge_well"));

  struct Case {
    double advance;
    int64_t expected;
  } cases[] = {{0, 0}, {259199, 0}, {1, 0}, {1, 1}};  // exactly three days is still fresh
  for (const auto& c : cases) {
    clock_->advance(c.advance);
    EXPECT_EQ(manager_->activatedSnapshotStatusOfSDKName("gauge_well"), c.expected) << c.advance;
  }
  EXPECT_TRUE(manager_->clientForSDKName(Object("gauge_well"))->hasStaleSnapshot());
  EXPECT_EQ(manager_->activatedSnapshotStatusOfSDKName("empty"), -2);
  EXPECT_EQ(manager_->activatedSnapshotStatusOfSDKName("unregistered"), -1);
  EXPECT_EQ(manager_->activatedSnapshotStatusOfSDKName(""), -1);

  // Reset to defaults drops the activated snapshot.
  manager_->resetToDefaultsOfSDKName("gauge_well");
  EXPECT_EQ(manager_->activatedSnapshotStatusOfSDKName("gauge_well"), -2);
}

TEST_F(ExperimentsManagerTest, SnapshotsLoadedAtStartKeepTheirStoredTimes) {
  registerSDK("gauge_well");
  const double activatedAt = clock_->now() - 259100;  // activated before this start, still within three days
  auto pending = snapshot("gauge_well", {experiment(3, {})}, activatedAt);
  pending.setManuallyActivated(true);
  started({snapshot("gauge_well", {experiment(5, {})}, activatedAt)}, {pending}, {});
  EXPECT_EQ(manager_->activatedSnapshotStatusOfSDKName("gauge_well"), 0);
  clock_->advance(101);
  EXPECT_EQ(manager_->activatedSnapshotStatusOfSDKName("gauge_well"), 1)
      << "a restart must not make an old activation look new";

  // The copy that is new as of a given time.
  auto fresh = pending.copyWithTimestamp(clock_->now());
  EXPECT_EQ(fresh.timestamp(), clock_->now());
  EXPECT_FALSE(fresh.manuallyActivated());
  GWLESnapshot kept = pending;
  EXPECT_EQ(kept.timestamp(), activatedAt);
  EXPECT_TRUE(kept.manuallyActivated());
}

TEST_F(ExperimentsManagerTest, RegistrationRefusalsAndReplacement) {
  auto property = std::make_shared<GWLESDKProperty>("gauge_well");
  EXPECT_EQ(manager_->registerSDKProperty(property, {{"when", Object(platform::Date{1})}}), nullptr);
  EXPECT_EQ(manager_->registerSDKProperty(nullptr, {}), nullptr);
  EXPECT_EQ(manager_->registerSDKProperty(std::make_shared<GWLESDKProperty>(""), {}), nullptr);
  manager_->queue()->flush();
  EXPECT_EQ(manager_->clientForSDKName(Object("gauge_well")), nullptr) << "a refused registration registers nothing";
  EXPECT_EQ(GWLESDKProperty::initWithName(Object(7)), nullptr);

  registerSDK("gauge_well", {{"a", Object(1)}});
  registerSDK("gauge_well", {{"a", Object(2)}});
  auto all = lines();
  auto has = [&](const std::string& line) { return std::find(all.begin(), all.end(), line) != all.end(); };
  EXPECT_TRUE(has("I-ACS800003 Registered an SDK that has already registered. Default flags will be overwritten. "
                  "SDK name: gauge_well"));
  // The flag functions of the wire layer report through the experiments client's monitor.
  EXPECT_TRUE(has("I-ACS850002 Flag value is invalid: date"));
  EXPECT_EQ(value("a"), Object(2));
  EXPECT_EQ(manager_->clientForSDKName(Object("gauge_well"))->valueForFlag("a"), Object(2));
  EXPECT_EQ(manager_->clientForSDKName(Object("gauge_well"))->objectForKeyedSubscript(Object(1)), std::nullopt);
}

TEST_F(ExperimentsManagerTest, ExperimentIDsLeaveOutSDKsWithTheirOwnDiversionKey) {
  registerSDK("gauge_well");
  registerSDK("other", {}, "own-key");
  const double now = clock_->now();
  started({snapshot("gauge_well", {experiment(30, {}), experiment(4, {}), experiment(12, {})}, now),
           snapshot("other", {experiment(1, {})}, now)},
          {}, {});
  EXPECT_EQ(manager_->experimentIDs(), (std::vector<int32_t>{4, 12, 30}));
}

TEST_F(ExperimentsManagerTest, ExperimentsAndSnapshotsRefuseWhatTheyCannotKeep) {
  struct Case {
    const char* what;
    Object id;
    std::optional<GWLEExperiment::Flags> flags;
    bool made;
  } cases[] = {
      {"no ID", Object(), GWLEExperiment::Flags{}, false},
      {"a text ID", Object("7"), GWLEExperiment::Flags{}, false},
      {"an ID beyond 32 bits", Object(int64_t{1} << 40), GWLEExperiment::Flags{}, false},
      {"no flag list", Object(7), std::nullopt, false},
      {"a missing flag", Object(7), GWLEExperiment::Flags{nullptr}, false},
      {"an integral double ID", Object(7.0), GWLEExperiment::Flags{}, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GWLEExperiment::initWithExperimentID(c.id, c.flags).has_value(), c.made) << c.what;
  }
  // A flag without a name has no key and is left out; a later flag replaces one of the same name.
  auto made = experiment(7, {flag("a", Object(1)), flag("a", Object(2))});
  auto unnamed = GWLPBFlag::initWithMessageInfo();
  made.addFlag(unnamed);
  ASSERT_EQ(made.flags().size(), 1u);
  EXPECT_EQ(GWLPBFlagGetValue(made.flagWithName("a").get()), Object(2));

  EXPECT_FALSE(GWLESnapshot::initWithSDKName("", std::vector<GWLEExperiment>{}, 0));
  EXPECT_FALSE(GWLESnapshot::initWithSDKName("gauge_well", std::nullopt, 0));
  // The first flag of a name, in experiment order; flags go into experiments made on demand.
  auto shot = snapshot("gauge_well", {experiment(9, {flag("a", Object(9))}), experiment(3, {flag("a", Object(3))})}, 0);
  EXPECT_EQ(GWLPBFlagGetValue(shot.flagByName("a").get()), Object(3));
  shot.addFlags({flag("b", Object(5))}, 11);
  shot.addFlag(flag("c", Object(6)), std::nullopt);
  EXPECT_EQ(shot.experiments().size(), 3u);
  EXPECT_EQ(GWLPBFlagGetValue(shot.flagByName("b").get()), Object(5));
  EXPECT_FALSE(shot.flagByName("c"));
  // The wire form reads back to the same snapshot.
  auto back = GWLESnapshot::initWithProtobuf(*shot.proto(), 0);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->proto()->protoBuffer(), shot.proto()->protoBuffer());
}

class RecordingObserver : public GWLEExperimentObserverDelegate {
 public:
  RecordingObserver(bool takesSnapshots, std::optional<bool> shouldFetch)
      : takesSnapshots_(takesSnapshots), shouldFetch_(shouldFetch) {}
  bool implementsClientDidReceiveNewSnapshot() const override { return takesSnapshots_; }
  void clientDidReceiveNewSnapshot(const std::shared_ptr<GWLEClient>& client) override {
    notices.push_back(client->SDKName());
  }
  bool implementsClientDidReceiveFetchError() const override { return true; }
  void client(const std::shared_ptr<GWLEClient>&, const platform::Error& error) override {
    std::lock_guard<std::mutex> lock(mutex);
    errors.push_back(error.code);
  }
  std::optional<bool> shouldFetchExperimentsForClient(const std::shared_ptr<GWLEClient>&) override {
    return shouldFetch_;
  }

  std::vector<std::string> notices;  // main queue only
  std::mutex mutex;
  std::vector<int64_t> errors;

 private:
  bool takesSnapshots_;
  std::optional<bool> shouldFetch_;
};

TEST_F(ExperimentsManagerTest, ObserversHearOfSnapshotsAndErrorsAndDecideOnFetches) {
  // The task manager needs its database for the manually activated snapshots.
  taskManager_->startTaskManager();
  settle();
  EXPECT_EQ(manager_->taskManagerShouldFetchExperiments(*taskManager_), false) << "nobody registered";

  auto observer = std::make_shared<RecordingObserver>(true, false);
  auto client = registerSDK("gauge_well");
  client->setDelegate(observer);
  EXPECT_EQ(manager_->taskManagerShouldFetchExperiments(*taskManager_), false);
  auto silent = std::make_shared<RecordingObserver>(false, std::nullopt);
  registerSDK("plain")->setDelegate(silent);
  EXPECT_EQ(manager_->taskManagerShouldFetchExperiments(*taskManager_), true) << "no opinion means fetch";

  fetched({snapshot("gauge_well", {experiment(9, {})}, clock_->now()), snapshot("plain", {experiment(8, {})}, 0)},
          {{"gauge_well", platform::Error(kGWLExperimentErrorDomain, -3)}});
  std::thread([this] { mainQueue_->drain(); }).join();  // a main thread of its own, not the test's
  EXPECT_EQ(observer->notices, std::vector<std::string>{"gauge_well"});
  EXPECT_EQ(observer->errors, std::vector<int64_t>{-3});

  // Only the snapshot of the client that activates itself was stored as manually activated.
  auto database = GWLEDatabase::initWithPath(databasePath(), clock_);
  auto pending = database->fetchAllPendingSnapshots();
  ASSERT_TRUE(pending);
  ASSERT_EQ(pending->size(), 1u);
  EXPECT_EQ((*pending)[0].SDKName(), "gauge_well");
  EXPECT_TRUE((*pending)[0].manuallyActivated());
}

TEST_F(ExperimentsManagerTest, RequestCarriesTheAppAndEverySDKWithADiversionKey) {
  GWLEExperimentRequestBuilder builder([] {
    GWLEExperimentRequestBuilder::AppFacts facts;
    facts.bundleIdentifier = "com.halcyra.tabulo";
    facts.fromAppStore = true;
    facts.preferredLanguages = {"pt-BR", "en"};
    return facts;
  });
  EXPECT_EQ(GWLEManager::version(), 10000);

  auto own = std::make_shared<GWLESDKProperty>("own");
  own->setDiversionKey("k1");
  own->setVersion(3);
  own->setAppID("1:app");
  own->setCustomProperties({{"tier", "free"}, {"region", "eu"}});
  struct Dynamic : GWLESDKPropertyProviderDelegate {
    std::map<std::string, std::string> dynamicCustomPropertiesForSDKProperty(const GWLESDKProperty&) override {
      return {{"tier", "paid"}};
    }
  };
  auto dynamic = std::make_shared<Dynamic>();
  own->setDelegate(dynamic);
  builder.addSDKProperty(own);
  builder.addSDKProperty(std::make_shared<GWLESDKProperty>("borrowed"));

  // Without any diversion key the SDK is left out; with none at all only the app property is sent.
  auto alone = GWLEExperimentRequestBuilder();
  alone.addSDKProperty(std::make_shared<GWLESDKProperty>("borrowed"));
  EXPECT_TRUE(NANOGetArray(alone.request(), GWLPBExperimentRequest::Field::client_properties)->empty());

  builder.setIdentity(std::make_shared<FixedIdentity>("install"));
  auto request = builder.request();
  auto app = NANOGetMessage<GWLPBAppProperty>(request, GWLPBExperimentRequest::Field::app_property);
  ASSERT_TRUE(app);
  EXPECT_EQ(NANOGetString(app, GWLPBAppProperty::Field::platform), "ios");
  EXPECT_EQ(NANOGetString(app, GWLPBAppProperty::Field::language), "pt-br");
  EXPECT_EQ(NANOGetString(app, GWLPBAppProperty::Field::bundle_id), "com.halcyra.tabulo");
  EXPECT_TRUE(NANOGetBool(app, GWLPBAppProperty::Field::from_app_store));
  EXPECT_EQ(NANOGetInt64(app, GWLPBAppProperty::Field::version), 10000);
  EXPECT_FALSE(NANOHasField(app, GWLPBAppProperty::Field::string_tag2));

  auto clients = NANOGetMessageArray<GWLPBClientProperty>(request, GWLPBExperimentRequest::Field::client_properties);
  ASSERT_TRUE(clients);
  ASSERT_EQ(clients->size(), 2u);
  std::map<std::string, std::shared_ptr<GWLPBClientProperty>> byName;
  for (auto& c : *clients) byName[*NANOGetString(c, GWLPBClientProperty::Field::sdk_name)] = c;
  EXPECT_EQ(NANOGetString(byName["borrowed"], GWLPBClientProperty::Field::diversion_id), "install-borrowed");
  EXPECT_FALSE(NANOHasField(byName["borrowed"], GWLPBClientProperty::Field::app_id));
  auto& ownProto = byName["own"];
  EXPECT_EQ(NANOGetString(ownProto, GWLPBClientProperty::Field::diversion_id), "k1-own");
  EXPECT_EQ(NANOGetInt64(ownProto, GWLPBClientProperty::Field::sdk_version), 3);
  EXPECT_EQ(NANOGetString(ownProto, GWLPBClientProperty::Field::app_id), "1:app");
  std::map<std::string, std::string> custom;
  auto properties = NANOGetMessageArray<GWLPBCustomProperty>(ownProto, GWLPBClientProperty::Field::custom_properties);
  ASSERT_TRUE(properties);
  for (auto& p : *properties) {
    custom[*NANOGetString(p, GWLPBCustomProperty::Field::key)] = *NANOGetString(p, GWLPBCustomProperty::Field::value);
  }
  EXPECT_EQ(custom, (std::map<std::string, std::string>{{"region", "eu"}, {"tier", "paid"}}));
}

}  // namespace
