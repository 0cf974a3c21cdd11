// The conversion service: when a run starts, what the store keeps, and how
// every caller is served (once, on the completion queue, in order). The runs
// go to the local collection service's on-device measurement routes on
// loopback; retries run on the manual clock.
#include "ads/conversion_tracking/app_conversion/odm/ODCConversionService.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ODCChainTestSupport.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCConversionManager.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCConversionStore.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCError.h"
#include "analytics/attribution/GWLClassRegistry.h"
#include "platform/core/Log.h"
#include "platform/text/PercentEncoding.h"
#ifdef TABULO_HAS_COLLECTION_SERVICE
#include "tests/tools/CollectionServiceProcess.h"
#include "tests/tools/LoopbackHTTP.h"
#endif

namespace {

using namespace std::chrono_literals;

constexpr double kDay = 86'400;
constexpr auto kWait = std::chrono::seconds(30);

// One completion call as a caller saw it.
struct Served {
  std::string caller;
  std::optional<std::string> value;
  std::optional<platform::Error> error;
  bool onSerialQueue = false;
};

class ODCConversionServiceTest : public ::testing::Test {
 protected:
  ~ODCConversionServiceTest() override {
    service_.reset();
    serial_->flush();
  }

  // A service whose store lives in the scratch directory, first launched
  // `firstLaunchAge` seconds ago (unless the store already has a launch).
  void Make(double firstLaunchAge, GWLServiceEndpoint endpoint = {"http", "127.0.0.1", 9},
            std::function<std::optional<std::string>()> applicationSupport = nullptr) {
    ODCConversionService::Dependencies dependencies;
    dependencies.serialQueue = serial_;
    dependencies.applicationSupportDirectory =
        applicationSupport ? applicationSupport : [this] { return std::optional<std::string>(scratch_.path()); };
    dependencies.loadDate = clock_->now() - firstLaunchAge;
    dependencies.installation.clock = clock_;
    dependencies.installation.endpoint = endpoint;
    dependencies.installation.app = chain_.app;
    dependencies.installation.environmentInfo =
        std::make_shared<ODCEnvironmentInfo>(ODCEnvironmentInfo::Values{"Model14,5", "17.2", "en-us", 0});
    service_ = ODCConversionService::create(std::move(dependencies));
  }

  ODCConversionServiceProtocol::Completion Caller(const std::string& name) {
    return [this, name](std::optional<std::string> value, std::optional<platform::Error> error) {
      std::lock_guard<std::mutex> lock(mutex_);
      served_.push_back({name, std::move(value), std::move(error), serial_->isCurrent()});
      changed_.notify_all();
    };
  }
  // Waits until `count` completions were called, then a little to show there are no more.
  std::vector<Served> WaitForServed(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    EXPECT_TRUE(changed_.wait_for(lock, kWait, [&] { return served_.size() >= count; }));
    // Whatever else was posted with them has run by the time the serial queue
    // and the global queue have both been passed once more.
    lock.unlock();
    serial_->flush();
    platform::ConcurrentQueue::globalDefault()->sync([] {});
    lock.lock();
    return served_;
  }
  bool LoggedCode(const std::string& code) {
    for (const auto& record : log_.sink().records()) {
      if (record.code == code) return true;
    }
    return false;
  }
  // Runs `body` on the serial queue and waits for it.
  void OnQueue(const std::function<void(ODCConversionStore&)>& body) {
    serial_->sync([&] { body(*service_->conversionStore()); });
  }

  platform::log::ScopedCapture log_;
  platform::testing::ScratchDirectory scratch_;
  tabulo::test::ChainFixture chain_;
  std::shared_ptr<platform::ManualClock> clock_ = std::make_shared<platform::ManualClock>();
  std::shared_ptr<platform::SerialQueue> serial_ = platform::SerialQueue::create("ODCConversionService");
  std::shared_ptr<ODCConversionService> service_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Served> served_;
};

TEST_F(ODCConversionServiceTest, VersionsAndTheLoadDateAsFirstLaunch) {
  Make(3 * kDay);
  EXPECT_EQ(service_->versionString(), "3.2.0");
  EXPECT_EQ(service_->versionNumber(), 30200);
  OnQueue([&](ODCConversionStore& store) { EXPECT_EQ(store.firstLaunchTimestamp(), clock_->now() - 3 * kDay); });
  // A stored first launch is not replaced by a later load date; setFirstLaunchTime moves it, nothing is ignored.
  service_.reset();
  Make(1 * kDay);
  OnQueue([&](ODCConversionStore& store) { EXPECT_EQ(store.firstLaunchTimestamp(), clock_->now() - 3 * kDay); });
  service_->setFirstLaunchTime(std::nullopt);
  service_->setFirstLaunchTime(clock_->now() - 5);
  service_->setFirstLaunchTime(std::nullopt);
  OnQueue([&](ODCConversionStore& store) { EXPECT_EQ(store.firstLaunchTimestamp(), clock_->now() - 5); });
}

// No run starts in any of these; each caller is served from the store at once.
TEST_F(ODCConversionServiceTest, NoRunOutsideTheWindowOrAfterAMatch) {
  struct Case {
    const char* name;
    double firstLaunchAge;
    std::optional<double> matchAge;  // none: no match found yet
    std::optional<std::string> stored;
    std::optional<std::string> served;
    const char* logged;
  };
  const Case cases[] = {
      {"first launch exactly 7 days ago", 604'800, std::nullopt, std::nullopt, std::nullopt, "I-ODC008004"},
      {"match 90 days and 1 s ago", 100 * kDay, 7'776'001, "vexa", std::nullopt, "I-ODC008002"},
      {"match exactly 90 days ago", 100 * kDay, 7'776'000, "vexa", "vexa", "I-ODC008002"},
      {"match a day ago, window still open", 2 * kDay, kDay, "vexa", "vexa", "I-ODC008002"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(scratch_ / "Halcyra");
    {
      std::lock_guard<std::mutex> lock(mutex_);
      served_.clear();
    }
    Make(c.firstLaunchAge);
    OnQueue([&](ODCConversionStore& store) {
      if (c.matchAge) store.setMatchFoundTimestamp(clock_->now() - *c.matchAge);
      store.setMeasurementInfo(c.stored);
      store.setAggregateConversionInfo(c.stored);
    });
    service_->fetchMeasurementInfoForInteraction(ODCInteractionTypeInstallation, Caller("m"));
    service_->fetchAggregateConversionInfoForInteraction(ODCInteractionTypeInstallation, Caller("a"));
    const auto served = WaitForServed(2);
    ASSERT_EQ(served.size(), 2u);
    for (const Served& each : served) {
      EXPECT_EQ(each.value, c.served);
      EXPECT_EQ(each.error, std::nullopt);
      EXPECT_FALSE(each.onSerialQueue);
    }
    EXPECT_TRUE(LoggedCode(c.logged));
    OnQueue([&](ODCConversionStore& store) {
      EXPECT_FALSE(store.odm2RetryCount());  // no run was started
      EXPECT_EQ(store.measurementInfo(), c.served);
      // A match time is never removed; a request that starts no run ends as
      // a run without an error does, which records now when there was none.
      EXPECT_EQ(store.matchFoundTimestamp(), clock_->now() - c.matchAge.value_or(0));
    });
    service_.reset();
  }
}

TEST_F(ODCConversionServiceTest, AStoreThatCannotBeMadeServesError3000OncePerRequest) {
  Make(kDay, {"http", "127.0.0.1", 9}, [] { return std::nullopt; });
  EXPECT_FALSE(service_->conversionStore());
  service_->fetchMeasurementInfoForInteraction(ODCInteractionTypeInstallation, Caller("m"));
  service_->fetchAggregateConversionInfoForInteraction(ODCInteractionTypeInstallation, Caller("a"));
  service_->setFirstLaunchTime(clock_->now());  // dropped, no crash
  const auto served = WaitForServed(2);
  ASSERT_EQ(served.size(), 2u);
  for (const Served& each : served) {
    EXPECT_EQ(each.value, std::nullopt);
    ASSERT_TRUE(each.error);
    EXPECT_EQ(each.error->domain, kODCErrorDomain);
    EXPECT_EQ(each.error->code, 3000);
    EXPECT_EQ(each.error->description, "Cannot create subdirectories for config plist files.");
    EXPECT_FALSE(each.onSerialQueue);
  }
}

TEST_F(ODCConversionServiceTest, AnUnknownInteractionIsLoggedAndItsCallerServedOnceWithTheError) {
  Make(kDay);
  service_->fetchAggregateConversionInfoForInteraction(1, Caller("a"));
  service_->fetchMeasurementInfoForInteraction(-3, Caller("m"));
  service_->fetchMeasurementInfoForInteraction(2, nullptr);  // nobody to serve, nothing breaks
  const auto served = WaitForServed(2);
  ASSERT_EQ(served.size(), 2u);
  std::map<std::string, Served> byCaller;
  for (const Served& each : served) byCaller[each.caller] = each;
  ASSERT_TRUE(byCaller["a"].error);
  EXPECT_EQ(byCaller["a"].error->code, 8000);
  EXPECT_EQ(byCaller["a"].error->description, "Skipping aggregate fetch. Unknown ODCInteractionType value 1.");
  ASSERT_TRUE(byCaller["m"].error);
  EXPECT_EQ(byCaller["m"].error->code, 8001);
  EXPECT_EQ(byCaller["m"].error->description, "Skipping measurement fetch. Unknown ODCInteractionType value -3.");
  EXPECT_EQ(byCaller["m"].value, std::nullopt);
  EXPECT_TRUE(log_.sink().contains("Skipping measurement fetch. Unknown ODCInteractionType value 2."));
  OnQueue([](ODCConversionStore& store) { EXPECT_FALSE(store.odm2RetryCount()); });
}

TEST(ODCConversionServiceRegistration, TheClassIsFoundByNameAndTheManagerForwards) {
  platform::testing::ScratchDirectory scratch;
  ODCConversionService::resetSharedInstanceForTesting();
  GWLClassRegistry<ODCConversionServiceClass>::resetForTesting();
  EXPECT_FALSE(GWLClassRegistry<ODCConversionServiceClass>::classNamed("ODCConversionService"));
  auto clock = std::make_shared<platform::ManualClock>(1'700'000'000.5);
  ODCRegisterConversionService(clock);
  clock->advance(100);
  ODCRegisterConversionService(clock);  // the first load date stays
  EXPECT_EQ(ODCConversionService::processLoadDate(), 1'700'000'000.5);
  auto found = GWLClassRegistry<ODCConversionServiceClass>::classNamed("ODCConversionService");
  ASSERT_TRUE(found);
  EXPECT_TRUE(found->respondsToSharedInstance());
  auto instance = found->sharedInstance();
  ASSERT_TRUE(instance);
  EXPECT_EQ(instance, ODCConversionService::sharedInstance());
  EXPECT_EQ(instance->versionNumber(), 30200);
  EXPECT_EQ(ODCConversionManager::sharedInstance(), ODCConversionManager::sharedInstance());
  EXPECT_EQ(ODCConversionManager::sharedInstance()->versionString(), "3.2.0");
  GWLClassRegistry<ODCConversionServiceClass>::resetForTesting();
  ODCConversionService::resetSharedInstanceForTesting();
}

#ifdef TABULO_HAS_COLLECTION_SERVICE

constexpr const char* kConfig =
    R"("config": {"matching_id": "bWF0Y2gtMQ", "bucketed_date": "2024-05-01", "prefix_length": 12})";
constexpr const char* kEntries = R"("entries": [
    {"value": "mv-a", "order_key": 5, "kind": 2, "group": "g1"},
    {"value": "", "order_key": 9, "preferred": 1, "group": "g2"},
    {"value": "mv-b", "order_key": 5, "kind": 1, "group": "g1"},
    {"value": "mv-c", "order_key": 1, "group": "g2"}])";
constexpr const char* kAnswer =
    R"("values": ["mv-b", "mv-c"], "answer": {"mv_vexa": "vexa-1", "mv_aaps": "aaps-1"})";

class ODCConversionServiceLoopbackTest : public ODCConversionServiceTest {
 protected:
  void Start(const std::string& odm, double firstLaunchAge) {
    platform::testing::writeFile(directory_ / "scenario.json",
                                 R"({"bundle_id": "com.halcyra.tabulo", "odm": {)" + odm + "}}");
    std::filesystem::create_directories(directory_ / "capture");
    process_ = std::make_unique<tabulo::test::CollectionServiceProcess>(std::vector<std::string>{
        "--psm-double", std::string(TABULO_BINARY_DIR) + "/tools/psm_double", "--attribution",
        directory_ / "scenario.json", "--capture", directory_ / "capture"});
    ASSERT_GT(process_->port(), 0);
    Make(firstLaunchAge, {"http", "127.0.0.1", static_cast<uint16_t>(process_->port())});
  }
  // The captured requests' first lines ("GET /odm/config?…").
  std::vector<std::string> RequestLines() const {
    std::vector<std::string> lines;
    for (const std::string& text : tabulo::test::capturedRequests(directory_ / "capture")) {
      lines.push_back(text.substr(0, text.find('\r')));
    }
    return lines;
  }
  // Waits until a failed attempt has armed its retry on the manual clock.
  bool WaitForRetry() {
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (clock_->pendingCalls() == 0) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(2ms);
    }
    return true;
  }

  platform::testing::ScratchDirectory directory_;
  std::unique_ptr<tabulo::test::CollectionServiceProcess> process_;
};

TEST_F(ODCConversionServiceLoopbackTest, TheFirstRequestRunsTheChainAndKeepsBothAnswers) {
  Start(std::string(kConfig) + "," + kEntries + R"(, "validate": {)" + kAnswer + "}", kDay);
  service_->fetchMeasurementInfoForInteraction(ODCInteractionTypeInstallation, Caller("m"));
  const auto served = WaitForServed(1);
  ASSERT_EQ(served.size(), 1u);
  EXPECT_EQ(served[0].value, "vexa-1");
  EXPECT_EQ(served[0].error, std::nullopt);
  EXPECT_FALSE(served[0].onSerialQueue);
  const auto lines = RequestLines();
  ASSERT_EQ(lines.size(), 3u);
  for (const std::string& line : lines) {
    EXPECT_NE(line.find("&odm2_count=0&"), std::string::npos) << line;
    EXPECT_NE(line.find("&source=vexa"), std::string::npos) << line;
  }
  const double now = clock_->now();
  OnQueue([&](ODCConversionStore& store) {
    EXPECT_EQ(store.matchFoundTimestamp(), now);
    EXPECT_EQ(store.measurementInfo(), "vexa-1");
    EXPECT_EQ(store.aggregateConversionInfo(), "aaps-1");
    EXPECT_EQ(store.odm2RetryCount(), 0);
  });
  // Later requests are served from the store; no new run.
  service_->fetchAggregateConversionInfoForInteraction(ODCInteractionTypeInstallation, Caller("a"));
  EXPECT_EQ(WaitForServed(2).back().value, "aaps-1");
  EXPECT_EQ(RequestLines().size(), 3u);
}

TEST_F(ODCConversionServiceLoopbackTest, RequestsDuringARunShareItAndAreServedAggregateFirstInArrivalOrder) {
  // The validation fails once, so the run waits for its retry on the manual clock.
  Start(std::string(kConfig) + "," + kEntries + R"(, "validate": {)" + kAnswer + R"(, "fail_statuses": [500]})",
        kDay);
  service_->fetchMeasurementInfoForInteraction(ODCInteractionTypeInstallation, Caller("m1"));
  ASSERT_TRUE(WaitForRetry());
  service_->fetchAggregateConversionInfoForInteraction(ODCInteractionTypeInstallation, Caller("a1"));
  service_->fetchMeasurementInfoForInteraction(ODCInteractionTypeInstallation, Caller("m2"));
  service_->fetchAggregateConversionInfoForInteraction(ODCInteractionTypeInstallation, Caller("a2"));
  serial_->flush();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    EXPECT_TRUE(served_.empty());
  }
  clock_->advance(60);
  const auto served = WaitForServed(4);
  ASSERT_EQ(served.size(), 4u);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"a1", "aaps-1"}, {"a2", "aaps-1"}, {"m1", "vexa-1"}, {"m2", "vexa-1"}};
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(served[i].caller, expected[i].first);
    EXPECT_EQ(served[i].value, expected[i].second);
  }
  const auto lines = RequestLines();
  ASSERT_EQ(lines.size(), 4u);  // one configuration: one run
  EXPECT_NE(lines.back().find("&source=vexa"), std::string::npos) << "the source the run began with";
}

TEST_F(ODCConversionServiceLoopbackTest, AFailedRunStillCountsAndTheNextRequestRunsWithTheNextCount) {
  // A configuration that is no dictionary: every attempt fails.
  Start(R"("config": 5)", kDay);
  service_->fetchAggregateConversionInfoForInteraction(ODCInteractionTypeInstallation, Caller("a"));
  for (double delay : {60, 120, 240, 480, 960}) {
    ASSERT_TRUE(WaitForRetry());
    clock_->advance(delay);
  }
  auto served = WaitForServed(1);
  ASSERT_EQ(served.size(), 1u);
  ASSERT_TRUE(served[0].error);
  EXPECT_EQ(served[0].error->code, 2001);
  EXPECT_EQ(served[0].value, std::nullopt);
  OnQueue([](ODCConversionStore& store) {
    EXPECT_EQ(store.odm2RetryCount(), 0);
    EXPECT_FALSE(store.matchFoundTimestamp());
  });
  auto lines = RequestLines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_NE(lines.front().find("&odm2_count=0&source=aaps"), std::string::npos) << lines.front();

  service_->fetchAggregateConversionInfoForInteraction(ODCInteractionTypeInstallation, Caller("b"));
  ASSERT_TRUE(WaitForRetry());
  OnQueue([](ODCConversionStore& store) { EXPECT_EQ(store.odm2RetryCount(), 1); });
  lines = RequestLines();
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_NE(lines.back().find("&odm2_count=1&"), std::string::npos) << lines.back();
}

#endif  // TABULO_HAS_COLLECTION_SERVICE

}  // namespace
