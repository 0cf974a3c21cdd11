#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <condition_variable>
#include <fstream>

#include "ExperimentsTestSupport.h"
#include "analytics/wire/GWLPBExperimentResponse.h"
#include "analytics/wire/GWLPBSdkResponse.h"
#include "analytics/wire/GWLPBSnapshot.h"
#include "analytics/wire/NANO.h"
#include "platform/compression/Gzip.h"
#include "tools/CollectionServiceProcess.h"

namespace {

using namespace experiments_test;
using platform::Object;

// Records what the task manager tells its delegate.
class RecordingDelegate : public GWLETaskManagerDelegate {
 public:
  void taskManager(GWLETaskManager&, const std::vector<GWLESnapshot>& activated,
                   const std::vector<GWLESnapshot>& pending, const std::vector<GWLESnapshot>& launched) override {
    std::lock_guard<std::mutex> lock(mutex);
    started = {activated, pending, launched};
  }
  void taskManager(GWLETaskManager&, const std::vector<GWLESnapshot>& snapshots,
                   const std::map<std::string, platform::Error>& errors) override {
    std::lock_guard<std::mutex> lock(mutex);
    fetches.push_back({snapshots, errors});
  }
  void taskManager(GWLETaskManager&, const std::vector<GWLESnapshot>&) override {}

  struct Fetch {
    std::vector<GWLESnapshot> snapshots;
    std::map<std::string, platform::Error> errors;
  };
  size_t fetchCount() {
    std::lock_guard<std::mutex> lock(mutex);
    return fetches.size();
  }
  std::mutex mutex;
  std::optional<std::array<std::vector<GWLESnapshot>, 3>> started;
  std::vector<Fetch> fetches;
};

std::shared_ptr<GWLPBSdkResponse> sdkResponse(const std::string& name, std::optional<int32_t> status,
                                              std::optional<GWLESnapshot> snapshot) {
  auto answer = GWLPBSdkResponse::initWithMessageInfo();
  NANOSetString(answer, GWLPBSdkResponse::Field::sdk_name, name);
  if (status) NANOSetInt32(answer, GWLPBSdkResponse::Field::error_status, *status);
  if (snapshot) {
    auto proto = snapshot->proto();
    NANOSetString(proto, GWLPBSnapshot::Field::sdk_name, std::nullopt);  // named by its SDK response
    NANOSetMessage(answer, GWLPBSdkResponse::Field::snapshot, proto);
  }
  return answer;
}

// An answer with SDK responses only: "gauge_well" with a snapshot of
// experiments 0 and 42, and "sdk_b" with an error of status `errorStatus`.
std::vector<uint8_t> answerBytes(int32_t errorStatus = 2) {
  auto response = GWLPBExperimentResponse::initWithMessageInfo();
  std::vector<NANOValue> answers = {
      std::shared_ptr<NANOMessageBase>(sdkResponse(
          "gauge_well", 0,
          snapshot("unnamed", {experiment(0, {flag("b", Object(1))}), experiment(42, {flag("a", Object("x"))})}, 0))),
      std::shared_ptr<NANOMessageBase>(sdkResponse("sdk_b", errorStatus, std::nullopt)),
  };
  NANOSetArray(response, GWLPBExperimentResponse::Field::sdk_responses, answers);
  return *response->protoBuffer();
}

std::shared_ptr<const platform::HTTPURLResponse> status(int code) {
  if (code == 0) return nullptr;
  auto response = std::make_shared<platform::HTTPURLResponse>();
  response->statusCode = code;
  return response;
}

class ExperimentsTaskManagerTest : public ExperimentsFixture {
 protected:
  std::shared_ptr<RecordingDelegate> delegate_ = std::make_shared<RecordingDelegate>();
};

TEST_F(ExperimentsTaskManagerTest, FetchTimeVectors) {
  const double N = clock_->now();
  const double S = N - 3600;   // the last success, an hour ago
  const double C = S + 14400;  // four hours after it
  struct Case {
    std::string what;
    bool first;
    double success, failure, expected;
  };
  std::vector<Case> cases = {
      {"first fetch with nothing stored", true, 0, 0, N + 10},
      {"first fetch after a recent success", true, S, 0, C},
      {"first fetch no sooner than 10 s", true, N - 14395, 0, N + 10},
      {"first fetch ignores failures", true, S, C + 100, C},
      {"success plus 14,400 s", false, S, 0, C},
      {"a success an hour ahead counts an hour back", false, N + 3600, 0, C},
      {"failure 100 s after the 4-hour point", false, S, C + 100, C + 1800},
      {"failure 2000 s after it", false, S, C + 2000, C + 5400},
      {"exhausted after the sixth step", false, S, C + 1800 * 63, 0},
      {"no success: steps from the start", false, 0, N + 100, N + 1800},
  };
  for (int i = 0; i < 6; ++i) {  // the six back-off steps
    cases.push_back({"step " + std::to_string(i + 1), false, S, C + 1800 * (std::ldexp(1, i) - 1),
                     C + 1800 * (std::ldexp(1, i + 1) - 1)});
  }
  for (const auto& c : cases) {
    auto taskManager = makeTaskManager();
    if (!c.first) taskManager->fetchTimeFromLastSuccessfulTimestamp(0, 0);
    EXPECT_EQ(taskManager->fetchTimeFromLastSuccessfulTimestamp(c.success, c.failure), c.expected) << c.what;
    EXPECT_TRUE(taskManager->hasMadeInitialFetch());
  }
}

TEST_F(ExperimentsTaskManagerTest, SchedulingArmsTheAlarmOnTheComputedTime) {
  auto taskManager = makeTaskManager();
  const double N = clock_->now();
  auto schedule = [&] { onWorkerQueue([&] { taskManager->scheduleFetchingExperimentsOnWorkerQueue(); }); };

  schedule();
  EXPECT_EQ(alarmTime(), N + 10) << "first fetch of the process";

  suite_->setDouble(N, kGWLExperimentFetchSuccessTimestampKey);
  schedule();
  EXPECT_EQ(alarmTime(), N + 10) << "an alarm firing sooner stays armed";
  alarm_->runAfterDelay(20000, [] {});
  schedule();
  EXPECT_EQ(alarmTime(), N + 14400) << "one firing later is re-armed";

  // The 12-hour hold after a back-off status, though the steps point earlier.
  alarm_->cancel();
  suite_->setDouble(N - 14400, kGWLExperimentFetchSuccessTimestampKey);
  suite_->setDouble(N, kGWLExperimentFetchFailureTimestampKey);
  suite_->setDouble(N - 100, kGWLExperimentFetchBackoffTimestampKey);
  schedule();
  EXPECT_EQ(alarmTime(), N - 100 + 43200);

  // Exhausted: the success time is dropped and nothing is armed.
  alarm_->cancel();
  suite_->setDouble(N + 1800 * 63, kGWLExperimentFetchFailureTimestampKey);
  schedule();
  EXPECT_FALSE(alarmTime());
  EXPECT_FALSE(suite_->objectForKey(kGWLExperimentFetchSuccessTimestampKey));
}

TEST_F(ExperimentsTaskManagerTest, AnswersSetTheFetchTimesAndReschedule) {
  auto taskManager = makeTaskManager();
  taskManager->setDelegate(delegate_);
  taskManager->startTaskManager();
  settle();
  const double N = clock_->now();
  const auto gzipped = answerBytes();
  const std::vector<uint8_t> garbage = {0xff, 0xff, 0xff, 0xff};

  struct Case {
    std::string what;
    int status;
    std::optional<std::vector<uint8_t>> data;
    bool success, backoff;
    double nextFetch;
  } cases[] = {
      {"204 without data", 204, std::nullopt, true, false, N + 14400},
      {"200 with two SDK responses", 200, gzipped, true, false, N + 14400},
      {"503", 503, std::nullopt, false, true, N + 43200},
      {"429", 429, std::nullopt, false, true, N + 43200},
      {"500", 500, std::nullopt, false, false, N + 1800},
      {"no answer at all", 0, std::nullopt, false, false, N + 1800},
      {"200 that does not decode", 200, garbage, false, false, N + 1800},
  };
  for (const auto& c : cases) {
    suite_->clearAllData();
    alarm_->cancel();
    const size_t notices = delegate_->fetchCount();
    onWorkerQueue([&] { taskManager->handleFetchingExperimentsResponse(status(c.status), c.data, std::nullopt); });
    EXPECT_EQ(key(kGWLExperimentFetchSuccessTimestampKey), c.success ? N : 0) << c.what;
    EXPECT_EQ(key(kGWLExperimentFetchFailureTimestampKey), c.success ? 0 : N) << c.what;
    EXPECT_EQ(key(kGWLExperimentFetchBackoffTimestampKey), c.backoff ? N : 0) << c.what;
    EXPECT_EQ(delegate_->fetchCount(), notices + (c.success ? 1 : 0)) << c.what;
    EXPECT_EQ(alarmTime(), c.nextFetch) << c.what;
  }

  // 204: no snapshots and no errors. 200: one snapshot (named by its SDK response) and one error.
  ASSERT_EQ(delegate_->fetches.size(), 2u);
  EXPECT_TRUE(delegate_->fetches[0].snapshots.empty());
  EXPECT_TRUE(delegate_->fetches[0].errors.empty());
  const auto& fetch = delegate_->fetches[1];
  ASSERT_EQ(fetch.snapshots.size(), 1u);
  EXPECT_EQ(fetch.snapshots[0].SDKName(), "gauge_well");
  EXPECT_EQ(fetch.snapshots[0].timestamp(), N);
  ASSERT_EQ(fetch.errors.size(), 1u);
  EXPECT_EQ(fetch.errors.at("sdk_b"), platform::Error(kGWLExperimentErrorDomain, -3));
  // The fetched snapshot waits as pending in storage.
  auto database = GWLEDatabase::initWithPath(databasePath(), clock_);
  auto pending = database->fetchAllPendingSnapshots();
  ASSERT_TRUE(pending && pending->size() == 1u);
  EXPECT_FALSE((*pending)[0].manuallyActivated());
}

TEST_F(ExperimentsTaskManagerTest, SDKResponseStatusesBecomeErrors) {
  auto taskManager = makeTaskManager();
  struct Case {
    std::optional<int32_t> status;
    std::string name;
    std::optional<int64_t> code;
  } cases[] = {{1, "s", -2}, {2, "s", -3}, {3, "s", -4}, {7, "s", -1}, {0, "s", std::nullopt},
               {std::nullopt, "s", std::nullopt}, {2, "", std::nullopt}};
  for (const auto& c : cases) {
    auto response = GWLPBExperimentResponse::initWithMessageInfo();
    NANOSetArray(response, GWLPBExperimentResponse::Field::sdk_responses,
                 std::vector<NANOValue>{std::shared_ptr<NANOMessageBase>(sdkResponse(c.name, c.status, std::nullopt))});
    auto errors = taskManager->errorsFromExperimentResponse(response.get());
    ASSERT_TRUE(errors);
    if (c.code) {
      ASSERT_EQ(errors->size(), 1u);
      EXPECT_EQ(errors->begin()->second.code, *c.code);
    } else {
      EXPECT_TRUE(errors->empty());
    }
  }
  EXPECT_FALSE(taskManager->errorsFromExperimentResponse(nullptr));
  EXPECT_FALSE(taskManager->experimentSnapshotsFromExperimentResponse(nullptr));
  EXPECT_FALSE(taskManager->experimentSnapshotsFromData({}));
}

TEST_F(ExperimentsTaskManagerTest, InflatedAnswerIsSizeCapped) {
  std::vector<uint8_t> big(kGWLEMaxExperimentAnswerBytes + 1, 0);
  auto gz = platform::gzip(big);
  ASSERT_TRUE(gz);
  platform::Error error;
  EXPECT_FALSE(GWLETaskManager::inflateAnswer(*gz, &error));
  EXPECT_EQ(error.code, platform::kGzipErrorTooLarge);
  big.pop_back();
  EXPECT_EQ(GWLETaskManager::inflateAnswer(*platform::gzip(big))->size(), kGWLEMaxExperimentAnswerBytes);
}

TEST_F(ExperimentsTaskManagerTest, StoringAnActivationSplitsLaunchedAndActivated) {
  auto database = GWLEDatabase::initWithPath(databasePath(), clock_);
  ASSERT_TRUE(database);
  const double X = clock_->now();
  auto pending = snapshot("gauge_well", {experiment(0, {flag("b", Object(1))}), experiment(42, {})}, X - 10);
  ASSERT_TRUE(database->upsertPendingExperimentSnapshots({pending}));
  ASSERT_TRUE(database->activateSnapshot(pending, X));
  auto launched = database->fetchAllLaunchedSnapshots();
  auto activated = database->fetchAllActivatedSnapshots();
  ASSERT_TRUE(launched && launched->size() == 1u && activated && activated->size() == 1u);
  EXPECT_EQ((*launched)[0].experimentsByExperimentID().count(0), 1u);
  EXPECT_EQ((*launched)[0].experimentsByExperimentID().size(), 1u);
  EXPECT_EQ((*launched)[0].timestamp(), X);
  EXPECT_EQ((*activated)[0].experimentsByExperimentID().count(42), 1u);
  EXPECT_EQ((*activated)[0].experimentsByExperimentID().size(), 1u);
  EXPECT_TRUE(database->fetchAllPendingSnapshots()->empty());

  // A snapshot fetched after the activation time stays pending.
  auto later = snapshot("gauge_well", {experiment(43, {})}, X + 5);
  ASSERT_TRUE(database->upsertPendingExperimentSnapshots({later}));
  ASSERT_TRUE(database->activateSnapshot(pending, X));
  EXPECT_EQ(database->fetchAllPendingSnapshots()->size(), 1u);

  platform::Error error;
  EXPECT_FALSE(database->activateSnapshot(std::nullopt, X, &error));
  EXPECT_EQ(error.description, "Received nil pending snapshot");
  EXPECT_FALSE(database->deleteActivatedExperimentsOfSDKName("", &error));
  EXPECT_EQ(error.description, "Received empty SDK Name");
}

TEST_F(ExperimentsTaskManagerTest, StartCleansUpAndActivatesPendingSnapshots) {
  const double N = clock_->now();
  {
    auto database = GWLEDatabase::initWithPath(databasePath(), clock_);
    ASSERT_TRUE(database);
    auto stale = snapshot("stale", {experiment(1, {})}, 0);
    auto fresh = snapshot("fresh", {experiment(2, {})}, 0);
    ASSERT_TRUE(database->upsertSnapshot(*stale.proto(), kGWLEActivatedSnapshotTable, N - 259200, std::nullopt));
    ASSERT_TRUE(database->upsertSnapshot(*fresh.proto(), kGWLEActivatedSnapshotTable, N - 259199, std::nullopt));
    auto automatic = snapshot("automatic", {experiment(0, {}), experiment(42, {})}, N - 500);
    auto manual = snapshot("manual", {experiment(7, {})}, N - 400);
    manual.setManuallyActivated(true);
    ASSERT_TRUE(database->upsertPendingExperimentSnapshots({automatic, manual}));
  }
  auto taskManager = makeTaskManager();
  taskManager->setDelegate(delegate_);
  taskManager->startTaskManager();
  settle();

  ASSERT_TRUE(delegate_->started);
  auto names = [](const std::vector<GWLESnapshot>& snapshots) {
    std::map<std::string, double> result;
    for (const auto& s : snapshots) result[s.SDKName()] = s.timestamp();
    return result;
  };
  const auto& [activated, pending, launched] = *delegate_->started;
  EXPECT_EQ(names(activated), (std::map<std::string, double>{{"automatic", N - 500}, {"fresh", N - 259199}}));
  EXPECT_EQ(names(launched), (std::map<std::string, double>{{"automatic", N - 500}}));
  EXPECT_EQ(names(pending), (std::map<std::string, double>{{"manual", N - 400}}));
  ASSERT_EQ(pending.size(), 1u);
  EXPECT_TRUE(pending[0].manuallyActivated());
  EXPECT_EQ(alarmTime(), N + 10) << "the first fetch is scheduled";
}

TEST_F(ExperimentsTaskManagerTest, UnopenableDatabaseLeavesTheClientIdle) {
  std::filesystem::create_directories(databasePath());  // a directory where the file should be
  auto taskManager = makeTaskManager();
  taskManager->setDelegate(delegate_);
  taskManager->startTaskManager();
  settle();
  EXPECT_FALSE(delegate_->started);
  EXPECT_FALSE(alarmTime()) << "no storage, no fetches";
}

TEST_F(ExperimentsTaskManagerTest, ResetEmptiesStorageAndClearLeavesNoFile) {
  auto manager = makeManager();
  registerSDK("gauge_well");
  taskManager_->startTaskManager();
  settle();
  manager->taskManager(*taskManager_, {snapshot("gauge_well", {experiment(4, {})}, clock_->now())}, {});
  settle();
  ASSERT_TRUE(manager->activateSnapshotOfSDK("gauge_well"));
  suite_->setDouble(clock_->now(), kGWLExperimentFetchFailureTimestampKey);
  settle();
  EXPECT_EQ(GWLEDatabase::initWithPath(databasePath(), clock_)->fetchAllActivatedSnapshots()->size(), 1u);

  manager->reset();
  settle();
  EXPECT_EQ(manager->activatedSnapshotStatusOfSDKName("gauge_well"), -2) << "snapshots forgotten";
  EXPECT_TRUE(GWLEDatabase::initWithPath(databasePath(), clock_)->fetchAllActivatedSnapshots()->empty());
  EXPECT_FALSE(suite_->objectForKey(kGWLExperimentFetchFailureTimestampKey));
  EXPECT_TRUE(alarmTime()) << "a fetch is scheduled again";
  EXPECT_TRUE(manager->clientForSDKName(Object("gauge_well"))) << "registrations stay";

  manager->clearAndDelete();
  settle();
  EXPECT_FALSE(std::filesystem::exists(databasePath()));
}

// ---- the whole road, against the local collection service ----

class ExperimentsServiceTest : public ExperimentsTaskManagerTest {
 protected:
  void writeAnswer(const std::vector<uint8_t>& bytes) {
    std::ofstream out(answerFile_, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  // Sets the service's failure switch for the next answer.
  bool failNext(tabulo::test::CollectionServiceProcess& service, int code) {
    platform::HVUNetwork network;
    auto queue = platform::SerialQueue::create("control");
    std::mutex mutex;
    std::condition_variable done;
    std::optional<int> answer;
    network.postURL(service.url("/control/fail?status=" + std::to_string(code) + "&count=1"), {}, queue, false,
                    [&](std::shared_ptr<const platform::HTTPURLResponse> response, std::vector<uint8_t>,
                        std::optional<platform::Error>) {
                      std::lock_guard<std::mutex> lock(mutex);
                      answer = response ? response->statusCode : 0;
                      done.notify_all();
                    });
    std::unique_lock<std::mutex> lock(mutex);
    done.wait_for(lock, std::chrono::seconds(10), [&] { return answer.has_value(); });
    return answer == 204;
  }
  // Fetches once and waits until the answer has been handled.
  void fetch() {
    suite_->clearAllData();
    alarm_->cancel();
    onWorkerQueue([this] { taskManager_->fetchExperiments(); });
    ASSERT_TRUE(eventually([this] {
      taskManager_->workerQueue()->flush();
      return key(kGWLExperimentFetchSuccessTimestampKey) != 0 || key(kGWLExperimentFetchFailureTimestampKey) != 0;
    }));
    // The keys are written part way through the answer's handling on the
    // worker queue; let that block finish (delegate notice included).
    taskManager_->workerQueue()->flush();
  }

  std::string answerFile_ = (tmp_.path() / "answer.pb").string();
};

TEST_F(ExperimentsServiceTest, FetchesFromTheLocalCollectionService) {
  writeAnswer(answerBytes());
  tabulo::test::CollectionServiceProcess service({"--experiments", answerFile_});
  ASSERT_NE(service.port(), 0);
  makeTaskManager({"http", "127.0.0.1", static_cast<uint16_t>(service.port())});
  taskManager_->setDelegate(delegate_);
  builder_->setIdentity(std::make_shared<FixedIdentity>("install"));
  taskManager_->startTaskManager();
  settle();
  const double N = clock_->now();

  ASSERT_TRUE(failNext(service, 204));
  fetch();
  EXPECT_EQ(key(kGWLExperimentFetchSuccessTimestampKey), N) << "204";
  ASSERT_EQ(delegate_->fetchCount(), 1u);
  EXPECT_TRUE(delegate_->fetches[0].snapshots.empty());

  fetch();  // the gzip answer with two SDK responses
  EXPECT_EQ(key(kGWLExperimentFetchSuccessTimestampKey), N);
  ASSERT_EQ(delegate_->fetchCount(), 2u);
  ASSERT_EQ(delegate_->fetches[1].snapshots.size(), 1u);
  EXPECT_EQ(delegate_->fetches[1].snapshots[0].SDKName(), "gauge_well");
  EXPECT_EQ(delegate_->fetches[1].errors.count("sdk_b"), 1u);
  EXPECT_EQ(GWLEDatabase::initWithPath(databasePath(), clock_)->fetchAllPendingSnapshots()->size(), 1u);

  ASSERT_TRUE(failNext(service, 503));
  fetch();
  EXPECT_EQ(key(kGWLExperimentFetchFailureTimestampKey), N) << "503";
  EXPECT_EQ(key(kGWLExperimentFetchBackoffTimestampKey), N);
  EXPECT_EQ(alarmTime(), N + 43200);

  // Answers that arrive but cannot be read are failed fetches, without the 12-hour hold.
  struct Unreadable {
    const char* what;
    std::vector<uint8_t> content;
  } unreadable[] = {
      {"does not decode", {0xff, 0xff, 0xff}},
      {"inflates beyond the cap", std::vector<uint8_t>(kGWLEMaxExperimentAnswerBytes + 1, 0)},
  };
  for (const auto& u : unreadable) {
    writeAnswer(u.content);
    fetch();
    EXPECT_EQ(key(kGWLExperimentFetchFailureTimestampKey), N) << u.what;
    EXPECT_EQ(key(kGWLExperimentFetchSuccessTimestampKey), 0) << u.what;
    EXPECT_EQ(key(kGWLExperimentFetchBackoffTimestampKey), 0) << u.what;
    EXPECT_EQ(alarmTime(), N + 1800) << u.what;
  }
  EXPECT_EQ(delegate_->fetchCount(), 2u);
}

TEST_F(ExperimentsServiceTest, RefusedConnectionIsAFailedFetch) {
  uint16_t port = 0;
  {
    tabulo::test::CollectionServiceProcess service;  // a port that nobody listens on once it is gone
    port = static_cast<uint16_t>(service.port());
  }
  ASSERT_NE(port, 0);
  makeTaskManager({"http", "127.0.0.1", port});
  taskManager_->setDelegate(delegate_);
  fetch();
  EXPECT_EQ(key(kGWLExperimentFetchFailureTimestampKey), clock_->now());
  EXPECT_EQ(key(kGWLExperimentFetchBackoffTimestampKey), 0);
  EXPECT_EQ(delegate_->fetchCount(), 0u);
}

}  // namespace

// The process's own task manager fetches from the experiments service of the
// process's hosts: the built-in one, or the local collection service the host
// program chose (never the built-in host behind the chosen service's back).
TEST(ExperimentsTaskManagerHosts, TheProcessTaskManagerFetchesFromTheProcessHosts) {
  GWLServiceHosts::setForProcess(std::nullopt);
  EXPECT_EQ(GWLETaskManager::init()->fetchURL(), "https://gauge-experiments.halcyra.com/sdk-exp");
  GWLServiceHosts::setForProcess(GWLServiceHosts::local("http", "127.0.0.1", 8080));
  EXPECT_EQ(GWLETaskManager::init()->fetchURL(), "http://127.0.0.1:8080/sdk-exp");
  GWLServiceHosts::setForProcess(std::nullopt);
}
