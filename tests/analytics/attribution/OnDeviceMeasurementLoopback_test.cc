// The engine's on-device measurement runs against the local collection
// service, whose PSM double answers with the real protocol: the conversion
// layer's clients (registered for the service's hosts), a test engine with a
// real worker queue, database and settings, and a manual clock. Only the real
// I/O is waited for. Every request the service saw is captured and checked
// for identifiers in a usable form.
#ifdef TABULO_HAS_COLLECTION_SERVICE

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <condition_variable>
#include <mutex>

#include "../foundation/values/ValuesTestSupport.h"
#include "OnDeviceMeasurementTestSupport.h"
#include "absl/strings/escaping.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCPrivateSetMembershipFunctions.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCPrivateSetMembershipRegistration.h"
#include "analytics/attribution/GWLClassRegistry.h"
#include "analytics/attribution/GWLMeasurementOnDeviceMeasurement.h"
#include "tests/platform/TestSupport.h"
#include "tests/tools/CollectionServiceProcess.h"
#include "tests/tools/LoopbackHTTP.h"

namespace {

using odm_test::ODMTestEngine;

constexpr double kNow = 1'700'000'000.0;
constexpr const char* kMember = "jollso@webmail.example";
constexpr const char* kMemberAsGiven = "Jo1i5.0@legacy-webmail.example";
constexpr const char* kPhone = "+15551234567";

std::string WebSafe(const std::string& text) {
  std::string encoded;
  absl::WebSafeBase64Escape(text, &encoded);
  return encoded;
}

// The conversion layer's group client class, whose fetches tell the test when
// their completion has run (and so has handed the answer to the worker queue).
class CountingGroupClientClass : public ODCPrivateSetMembershipGroupClientClass {
 public:
  explicit CountingGroupClientClass(std::shared_ptr<const ODCPrivateSetMembershipGroupClientClass> inner)
      : inner_(std::move(inner)), state_(std::make_shared<State>()) {}
  bool respondsToInitWithHashedInput() const override { return inner_->respondsToInitWithHashedInput(); }
  std::shared_ptr<ODCPrivateSetMembershipGroupClientProtocol> initWithHashedInput(std::span<const uint8_t> input,
                                                                                  int64_t type,
                                                                                  const std::string& appID,
                                                                                  int32_t prefix) const override {
    auto client = inner_->initWithHashedInput(input, type, appID, prefix);
    return client ? std::make_shared<Client>(client, state_) : nullptr;
  }
  bool waitUntilAnswered() {
    std::unique_lock<std::mutex> lock(state_->mutex);
    return state_->changed.wait_for(lock, std::chrono::seconds(30),
                                    [&] { return state_->answered == state_->started; });
  }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable changed;
    int started = 0;
    int answered = 0;
  };
  class Client : public ODCPrivateSetMembershipGroupClientProtocol {
   public:
    Client(std::shared_ptr<ODCPrivateSetMembershipGroupClientProtocol> inner, std::shared_ptr<State> state)
        : inner_(std::move(inner)), state_(std::move(state)) {}
    std::vector<uint8_t> hashedInput() const override { return inner_->hashedInput(); }
    int32_t prefixBitLength() const override { return inner_->prefixBitLength(); }
    int64_t inputType() const override { return inner_->inputType(); }
    void fetchGroupIDWithNetwork(const std::shared_ptr<platform::HVUNetwork>& network,
                                 Completion completion) override {
      {
        std::lock_guard<std::mutex> lock(state_->mutex);
        ++state_->started;
      }
      // The inner client holds itself weakly; the completion keeps it alive until it answers.
      inner_->fetchGroupIDWithNetwork(
          network, [inner = inner_, state = state_, completion](std::optional<std::string> value,
                                                                std::optional<platform::Error> error) {
            completion(std::move(value), std::move(error));
            std::lock_guard<std::mutex> lock(state->mutex);
            ++state->answered;
            state->changed.notify_all();
          });
    }

   private:
    std::shared_ptr<ODCPrivateSetMembershipGroupClientProtocol> inner_;
    std::shared_ptr<State> state_;
  };
  std::shared_ptr<const ODCPrivateSetMembershipGroupClientClass> inner_;
  std::shared_ptr<State> state_;
};

class OnDeviceMeasurementLoopbackTest : public foundation_test::LibraryMonitorTest {
 protected:
  void SetUp() override {
    LibraryMonitorTest::SetUp();
    monitor_->setDebugModeEnabled(true);  // level 7 lines are printed too
    platform::testing::writeFile(scratch_ / "scenario.json", R"({
      "app_id": "tabulo-app-1",
      "psm": {"members": [
        {"identifier": "jollso@webmail.example", "value": "v-mail"},
        {"identifier": "+15551234567", "value": "v-phone"}
      ]},
      "group_ids": {"members": [{"identifier": "jollso@webmail.example", "value": "group-7"}]}
    })");
    std::filesystem::create_directories(scratch_ / "capture");
    service_ = std::make_unique<tabulo::test::CollectionServiceProcess>(std::vector<std::string>{
        "--psm-double", std::string(TABULO_BINARY_DIR) + "/tools/psm_double", "--attribution",
        scratch_ / "scenario.json", "--capture", scratch_ / "capture"});
    ASSERT_GT(service_->port(), 0);
    port_ = static_cast<uint16_t>(service_->port());
    ODCRegisterPrivateSetMembershipClients(GWLServiceHosts::local("http", "127.0.0.1", port_));
    groupClass_ = std::make_shared<CountingGroupClientClass>(
        GWLClassRegistry<ODCPrivateSetMembershipGroupClientClass>::classNamed(kGWLPSMGroupClientClassName));
    GWLClassRegistry<ODCPrivateSetMembershipGroupClientClass>::registerClass(kGWLPSMGroupClientClassName, groupClass_);
    engine_ = std::make_shared<ODMTestEngine>(monitor_, clock_);
    engine_->useSettings({{kGWLSettingAdsOnDeviceConversionFeatureEnabled, "1"}});
    GWLMeasurementOnDeviceMeasurement::Dependencies dependencies;
    dependencies.engine = [engine = engine_] { return engine; };
    dependencies.monitor = monitor_;
    dependencies.clock = clock_;
    odm_ = GWLMeasurementOnDeviceMeasurement::create(dependencies);
    engine_->onWorkerQueue([&] { odm_->checkPSMDependencyOnWorkerQueue(); });
    reports();
  }
  void TearDown() override {
    if (engine_) engine_->waitUntilAnswered();
    odm_.reset();
    engine_.reset();
    // Whatever the test did, nothing that left the device holds an identifier.
    ExpectNoIdentifierInCapturedTraffic();
    service_.reset();
    GWLClassRegistry<GWLPrivateSetMembershipClientClass>::resetForTesting();
    GWLClassRegistry<ODCPrivateSetMembershipGroupClientClass>::resetForTesting();
    monitor_->setDebugModeEnabled(false);
    LibraryMonitorTest::TearDown();
  }

  std::vector<int64_t> codes() {
    std::vector<int64_t> found;
    for (const auto& report : reports()) {
      if (report.code >= 23225 && report.code <= 23320) found.push_back(report.code);
    }
    return found;
  }
  // Waits for the group queries' answers, which reach the worker queue on their own.
  void settleGroup() {
    engine_->flush();
    ASSERT_TRUE(groupClass_->waitUntilAnswered());
    engine_->flush();
  }
  void userData(const platform::Dictionary& data) {
    engine_->onWorkerQueue([&] { odm_->initiateODM1ProtocolWithUserData(data); });
    engine_->waitUntilAnswered();
    settleGroup();
  }
  void control(const std::string& target) {
    auto answer = tabulo::test::exchange("POST", "http://127.0.0.1:" + std::to_string(port_) + target);
    ASSERT_EQ(answer.status, 204) << target;
  }

  std::vector<std::string> Captured() const { return tabulo::test::capturedRequests(scratch_ / "capture"); }
  // The request targets on the PSM path, in order.
  std::vector<std::string> PSMTargets() const {
    std::vector<std::string> targets;
    for (const std::string& text : Captured()) {
      const std::string line = text.substr(0, text.find("\r\n"));
      if (line.find("/adconv/app/psm") != std::string::npos) targets.push_back(line);
    }
    return targets;
  }
  void ExpectNoIdentifierInCapturedTraffic() {
    std::vector<std::string> forbidden = {kMember, kMemberAsGiven, kPhone, "5551234567"};
    for (const char* identifier : {kMember, kPhone}) {
      const std::vector<uint8_t> hash = ODCSHA256OfString(identifier);
      const std::string raw(hash.begin(), hash.end());
      forbidden.push_back(raw);
      forbidden.push_back(absl::BytesToHexString(raw));
      forbidden.push_back(absl::Base64Escape(raw).substr(0, 40));
      forbidden.push_back(WebSafe(raw).substr(0, 40));
    }
    for (const std::string& text : Captured()) {
      for (const std::string& identifier : forbidden) {
        EXPECT_EQ(text.find(identifier), std::string::npos) << "a request carries an identifier";
      }
    }
  }

  platform::testing::ScratchDirectory scratch_;
  foundation_test::DataDirectory data_;
  std::unique_ptr<tabulo::test::CollectionServiceProcess> service_;
  uint16_t port_ = 0;
  std::shared_ptr<platform::ManualClock> clock_ = std::make_shared<platform::ManualClock>(kNow);
  std::shared_ptr<ODMTestEngine> engine_;
  std::shared_ptr<GWLMeasurementOnDeviceMeasurement> odm_;
  std::shared_ptr<CountingGroupClientClass> groupClass_;
};

TEST_F(OnDeviceMeasurementLoopbackTest, AFoundValueIsStoredOnceAndStopsFurtherQueries) {
  userData({{kGWLUserDataEmailAddressKey, kMemberAsGiven}});
  const std::string value = WebSafe("v-mail");
  EXPECT_EQ(engine_->rowValue(kGWLODM1ValueRowName), value);
  EXPECT_EQ(engine_->rowSetTime(kGWLODM1ValueRowName), kNow);
  auto property = engine_->property(kGWLPSMValueProperty);
  ASSERT_TRUE(property);
  EXPECT_EQ(*property->value().stringValue(), value);
  EXPECT_EQ(engine_->property(kGWLPSMCountProperty)->value().int64Value(), 1);
  auto events = engine_->events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0]->name(), "_fx");
  // The success also fetched the group identifier of the cached hash.
  EXPECT_EQ(engine_->rowValue(kGWLODM1GroupIDRowName), WebSafe("group-7"));
  EXPECT_EQ(engine_->persistedConfig()->PSMCurrentDay(), platform::Object(int64_t{19675}));
  const auto printed = codes();
  for (int64_t code : {23225, 23229, 23315}) {
    EXPECT_NE(std::find(printed.begin(), printed.end(), code), printed.end()) << code;
  }

  userData({{kGWLUserDataEmailAddressKey, kMember}});
  const auto second = codes();
  EXPECT_NE(std::find(second.begin(), second.end(), 23237), second.end());
  EXPECT_EQ(PSMTargets().size(), 1u);
  // The refused e-mail query starts the group run; the new input cleared the day, so it asks again.
  size_t groupQueries = 0;
  for (const std::string& text : Captured()) groupQueries += text.rfind("POST /muf/psm/groupids", 0) == 0 ? 1 : 0;
  EXPECT_EQ(groupQueries, 2u);
}

TEST_F(OnDeviceMeasurementLoopbackTest, FailedQueriesAreRetriedWithTheirCountInTheURL) {
  control("/control/fail?status=500&count=5");
  userData({{kGWLUserDataPhoneNumberKey, "+1 (555) 123-4567"}});
  for (double delay : {300.0, 600.0, 1200.0, 2400.0}) {
    clock_->advance(delay);
    engine_->waitUntilAnswered();
  }
  const auto targets = PSMTargets();
  ASSERT_EQ(targets.size(), 5u);
  for (size_t i = 0; i < targets.size(); ++i) {
    EXPECT_NE(targets[i].find("retry_count=" + std::to_string(i) + "&psm_phone_count=" + std::to_string(i)),
              std::string::npos)
        << targets[i];
  }
  const auto printed = codes();
  EXPECT_EQ(std::count(printed.begin(), printed.end(), 23228), 5);
  EXPECT_EQ(printed.back(), 23231);
  EXPECT_FALSE(engine_->row(kGWLODM1ValueRowName));
}

TEST_F(OnDeviceMeasurementLoopbackTest, ASessionStartDuringAQueryKeepsBothAnswers) {
  engine_->useSettings({{kGWLSettingAdsOnDeviceConversionFeatureEnabled, "1"}, {kGWLSettingPSMGroupIDEnabled, "0"}});
  control("/control/slow?seconds=2&count=1");
  engine_->onWorkerQueue([&] { odm_->initiateODM1ProtocolWithUserData({{kGWLUserDataEmailAddressKey, kMember}}); });
  // While the first request is in flight, a session starts with the input it cached.
  engine_->onWorkerQueue([&] { odm_->initiateODMSessionStartProtocolWithTimestamp(kNow); });
  engine_->waitUntilAnswered();
  auto printed = codes();
  EXPECT_NE(std::find(printed.begin(), printed.end(), 23232), printed.end());
  EXPECT_NE(std::find(printed.begin(), printed.end(), 23229), printed.end());
  EXPECT_EQ(std::find(printed.begin(), printed.end(), 23230), printed.end());
  // The first answer was read with the client that asked: the user-data value is stored.
  EXPECT_EQ(engine_->rowValue(kGWLODM1ValueRowName), WebSafe("v-mail"));
  EXPECT_FALSE(engine_->row(kGWLODM1SessionValueRowName));
  EXPECT_TRUE(odm_->isPSMRequestPostponed());

  // The engine's next upload with nothing more to send runs the postponed request.
  engine_->onWorkerQueue([&] {
    ASSERT_TRUE(odm_->isPSMRequestPostponed());
    odm_->setIsPSMRequestPostponed(false);
    odm_->retrievePSMResponse();
  });
  engine_->waitUntilAnswered();
  printed = codes();
  EXPECT_EQ(std::find(printed.begin(), printed.end(), 23293), printed.end());
  EXPECT_EQ(engine_->rowValue(kGWLODM1SessionValueRowName), WebSafe("v-mail"));
  const auto targets = PSMTargets();
  ASSERT_EQ(targets.size(), 2u);
  EXPECT_NE(targets[1].find("&tss="), std::string::npos);
  EXPECT_EQ(engine_->events().size(), 1u);
}

TEST_F(OnDeviceMeasurementLoopbackTest, TheGroupRunQueriesOncePerDayAndAgainAfterAFailure) {
  engine_->persistedConfig()->setPSMHashedInputData(platform::Object(platform::Bytes(ODCSHA256OfString(kMember))));
  engine_->persistedConfig()->setPSMInputType(3);
  auto trigger = [&] {
    engine_->onWorkerQueue([&] { odm_->initiateODMGroupIDProtocol(); });
    settleGroup();
  };
  auto groupQueries = [&] {
    size_t count = 0;
    for (const std::string& text : Captured()) count += text.rfind("POST /muf/psm/groupids", 0) == 0 ? 1 : 0;
    return count;
  };

  // A failing status and a lost connection leave the day open for another query.
  control("/control/fail?status=500&count=1");
  trigger();
  EXPECT_FALSE(engine_->persistedConfig()->PSMCurrentDay());
  EXPECT_NE(lastSampledKey().find(kGWLGroupRequestFailedLine.message), std::string::npos);
  control("/control/drop?count=1");
  trigger();
  EXPECT_FALSE(engine_->persistedConfig()->PSMCurrentDay());
  trigger();
  EXPECT_EQ(engine_->rowValue(kGWLODM1GroupIDRowName), WebSafe("group-7"));
  EXPECT_EQ(engine_->persistedConfig()->PSMCurrentDay(), platform::Object(int64_t{19675}));
  EXPECT_EQ(groupQueries(), 3u);

  trigger();
  EXPECT_EQ(groupQueries(), 3u);
  EXPECT_NE(lastSampledKey().find(kGWLGroupDailyCapLine.message), std::string::npos);

  // The next day the same identifier keeps the first set time.
  clock_->advance(86'400);
  trigger();
  EXPECT_EQ(groupQueries(), 4u);
  EXPECT_EQ(engine_->persistedConfig()->PSMCurrentDay(), platform::Object(int64_t{19676}));
  EXPECT_EQ(engine_->rowSetTime(kGWLODM1GroupIDRowName), kNow);
}

}  // namespace

#endif  // TABULO_HAS_COLLECTION_SERVICE
