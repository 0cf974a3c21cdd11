#include "e2e/E2EHarness.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <thread>

#include "analytics/foundation/config/GWLServiceHosts.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "analytics/measurement/CVNAnalytics.h"
#include "analytics/measurement/GWLAnalytics.h"
#include "analytics/measurement/GWLLibraryLoad.h"
#include "analytics/measurement/GWLMeasurement.h"
#include "analytics/wire/GWLPBEvent.h"
#include "analytics/wire/GWLPBEventParam.h"
#include "analytics/wire/GWLPBMeasurementBatch.h"
#include "analytics/wire/GWLPBMeasurementBundle.h"
#include "analytics/wire/GWLPBMeasurementConfig.h"
#include "analytics/wire/GWLPBUserAttribute.h"
#include "analytics/wire/WireValueText.h"
#include "platform/appdelegate/LaunchOptions.h"
#include "platform/corvane/CVNApp.h"
#include "platform/dispatch/NotificationCenter.h"
#include "platform/dispatch/Queue.h"
#include "platform/env/AppEnvironment.h"
#include "platform/storage/Paths.h"
#include "platform/storage/PreferencesStore.h"
#include "platform/storage/PropertyList.h"
#include "tests/tools/CollectionServiceProcess.h"
#include "tests/tools/LoopbackHTTP.h"
#include "tools/tabulo/TabuloHost.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using WallClock = std::chrono::steady_clock;

constexpr const char* kDebugModeArgument = "-CVNAnalyticsDebugEnabled";
// How long a wait for the library's threads or the service may take.
constexpr double kWaitSeconds = 20;

void writePropertyList(const fs::path& file, const platform::Object& object) {
  auto bytes = platform::PropertyList::serialize(object, platform::PropertyListFormat::XML);
  ASSERT_TRUE(bytes) << file;
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes->data()), static_cast<std::streamsize>(bytes->size()));
}

std::shared_ptr<GWLMeasurement> engine() {
  if (!GWLMeasurement::hasSharedInstance()) return nullptr;
  return std::dynamic_pointer_cast<GWLMeasurement>(GWLMeasurement::sharedInstance());
}

// A flag a library thread raises and the test thread waits for.
struct Flag {
  std::mutex mutex;
  std::condition_variable raised;
  bool up = false;
  void raise() {
    std::lock_guard lock(mutex);
    up = true;
    raised.notify_all();
  }
  bool isUp() {
    std::lock_guard lock(mutex);
    return up;
  }
};

}  // namespace

std::vector<std::shared_ptr<GWLPBMeasurementBundle>> RecordedBatch::bundles() const {
  return batch ? batch->bundles() : std::vector<std::shared_ptr<GWLPBMeasurementBundle>>{};
}

E2ETest::E2ETest() = default;
E2ETest::~E2ETest() = default;

void E2ETest::start(const Scenario& scenario) {
  ASSERT_FALSE(started_) << "start once per scenario";
  // The library and the core framework start once per process.
  static bool startedInThisProcess = false;
  ASSERT_FALSE(startedInThisProcess) << "each scenario runs in a process of its own: run them through ctest, or "
                                        "one at a time with --gtest_filter";
  startedInThisProcess = true;
  started_ = true;
  scenario_ = scenario;
  const fs::path root = root_.path();
  for (const char* directory : {"config", "record", "capture", "data", "app"}) fs::create_directories(root / directory);

  // 1. The collection service.
  if (scenario.config) {
    scenario.config->setAppId(kAppID);
    const auto bytes = *scenario.config->protoBuffer();
    std::ofstream(root / "config" / (std::string(kAppID) + ".pb"), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  std::ofstream(root / "attribution.json") << scenario.attribution.value_or("{}");
  service_ = std::make_unique<tabulo::test::CollectionServiceProcess>(std::vector<std::string>{
      "--record", (root / "record").string(), "--config-dir", (root / "config").string(), "--capture",
      (root / "capture").string(), "--psm-double", std::string(TABULO_BINARY_DIR) + "/tools/psm_double",
      "--attribution", (root / "attribution.json").string()});
  ASSERT_GT(service_->port(), 0) << "the collection service did not start";

  // 2. The app's platform.
  platform::Error error;
  auto paths = platform::Paths::open((root / "data").string(), &error);
  ASSERT_TRUE(paths) << error.toString();
  platform::Paths::setCurrent(paths);
  platform::Dictionary info = {{"CFBundleIdentifier", std::string(kBundleID)},
                               {"CFBundleName", std::string("Tabulo")},
                               {"CFBundleShortVersionString", std::string("1.0.0")},
                               {"CFBundleVersion", std::string("1")}};
  for (const auto& [key, value] : scenario.info) info.insert_or_assign(key, value);
  ASSERT_NO_FATAL_FAILURE(writePropertyList(root / "app" / "Info.plist", platform::Object(info)));
  ASSERT_NO_FATAL_FAILURE(writePropertyList(
      root / "app" / platform::kCVNServiceInfoFileName,
      platform::Object(platform::Dictionary{{platform::kCVNServiceAppIDKey, std::string(kAppID)},
                                            {"BUNDLE_ID", std::string(kBundleID)}})));
  platform::AppEnvironment::Configuration environment;
  environment.infoDictionaryPath = (root / "app" / "Info.plist").string();
  environment.arguments = {"tabulo"};
  if (scenario.debugMode) environment.arguments.push_back(kDebugModeArgument);
  environment.arguments.insert(environment.arguments.end(), scenario.arguments.begin(), scenario.arguments.end());
  auto app = platform::AppEnvironment::create(environment, &error);
  ASSERT_TRUE(app) << error.toString();
  app->registerComponent(kGWLPublicClassName);
  for (const auto& component : scenario.components) app->registerComponent(component);
  platform::AppEnvironment::setShared(app);
  platform::PreferencesStore::Configuration preferences;
  preferences.directory = paths->preferencesDirectory();
  preferences.applicationDomain = app->bundleIdentifier();
  platform::PreferencesStore::configure(preferences);

  // 3. The library, on the harness's clock, set to the real time so that
  //    what reads the system clock (the installation's identity) agrees.
  //    As in the app, the load call comes first and the host chooses the
  //    library's services after it.
  clock_ = std::make_shared<platform::ManualClock>(platform::Clock::system()->now(), 1'000.0);
  GWLLibraryLoad(clock_);
  GWLMeasurement::setProcessServiceHosts(
      GWLServiceHosts::local("http", "127.0.0.1", static_cast<uint16_t>(service_->port())));
  GWLAnalytics::Dependencies analytics;
  analytics.clock = clock_;
  analytics.engineFactory = [clock = clock_](const GWLAnalyticsEngineConfiguration& configuration) {
    GWLMeasurement::Dependencies dependencies;
    dependencies.clock = clock;
    dependencies.hosts = GWLMeasurement::processServiceHosts();
    return std::static_pointer_cast<GWLAnalyticsEngine>(GWLMeasurement::create(configuration, std::move(dependencies)));
  };
  GWLAnalytics::setSharedInstanceForTesting(GWLAnalytics::create(std::move(analytics)));

  auto center = platform::NotificationCenter::defaultCenter();
  ASSERT_TRUE(platform::CVNApp::configure(app, center, &error)) << error.toString();
  post(platform::kApplicationDidFinishLaunchingNotification);
  ASSERT_TRUE(libraryCaughtUp(kWaitSeconds)) << "the library did not start";
  ASSERT_TRUE(engine()) << "the library made no engine";
  post(platform::kApplicationDidBecomeActiveNotification);

  // The engine fetches its configuration before its first upload (a second
  // after its first events, in debug mode), then uploads what it logged as
  // it started (first open, session start). The scenario begins after that.
  ASSERT_TRUE(settle());
  for (double moved = 0; moved < 60 && !(fetchedConfiguration() && !allBatches().empty()); moved += 1) advance(1);
  ASSERT_TRUE(fetchedConfiguration()) << "no configuration fetch";
  ASSERT_FALSE(allBatches().empty()) << "the start's events were not uploaded";
  startBatches_ = allBatches().size();
}

bool E2ETest::fetchedConfiguration() const {
  for (const auto& line : requestLines()) {
    if (line.rfind("GET /config/app/", 0) == 0) return true;
  }
  return false;
}

void E2ETest::TearDown() {
  if (!started_) return;
  if (engine()) {
    (void)settle();
    EXPECT_TRUE(tabulo_host::shutDownAnalytics()) << "the library did not shut down in time";
  }
  (void)platform::PreferencesStore::synchronizeAll();
  checkPrivacy();
  service_.reset();
}

void E2ETest::checkPrivacy() {
  PrivateInputs inputs;
  inputs.emailAddresses = scenario_.emailAddresses;
  inputs.phoneNumbers = scenario_.phoneNumbers;
  // The membership inputs are salted with the identity's app ID, the bundle identifier.
  inputs.appID = kBundleID;
  inputs.debugKeyAllowed = scenario_.debugKeyAllowed;
  for (const auto& leak : findPrivacyLeaks(captured(), inputs)) ADD_FAILURE() << "privacy: " << leak;
}

bool E2ETest::waitUntil(const std::function<bool()>& done, double seconds) {
  auto main = platform::MainQueue::shared();
  const auto deadline = WallClock::now() + std::chrono::duration<double>(seconds);
  while (true) {
    main->drain();
    clock_->advance(0);  // what fell due at this moment
    if (done()) return true;
    if (WallClock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

// Through the library's own way: the operation queue, GWLAnalyticsQueue and
// twice through the worker queue (an event's block may post once more).
bool E2ETest::libraryCaughtUp(double seconds) {
  auto flag = std::make_shared<Flag>();
  CVNAnalytics::queueOperationWithBlock([flag] {
    auto running = engine();
    if (!running) return flag->raise();
    auto worker = running->scheduler()->workerQueue();
    worker->async([worker, flag] { worker->async([flag] { flag->raise(); }); });
  });
  return waitUntil([flag] { return flag->isUp(); }, seconds);
}

bool E2ETest::settle() {
  for (int round = 0; round < 3; ++round) {
    if (!libraryCaughtUp(kWaitSeconds)) {
      ADD_FAILURE() << "the library's queues did not catch up";
      return false;
    }
    if (!waitUntil([] { auto running = engine(); return !running || !running->isNetworkRequestPending(); },
                   kWaitSeconds)) {
      ADD_FAILURE() << "a request of the library did not finish";
      return false;
    }
  }
  return true;
}

void E2ETest::advance(double seconds) {
  // A minute at a time, the library settling in between, so that what falls
  // due runs at about its time, as with time passing.
  constexpr double kStep = 60;
  for (double left = seconds; left > 0; left -= kStep) {
    clock_->advance(std::min(left, kStep));
    if (!settle()) return;
  }
}

size_t E2ETest::uploadAttempts() const {
  size_t attempts = 0;
  for (const auto& request : captured()) {
    if (request.requestLine.rfind("POST /a ", 0) == 0 || request.requestLine.rfind("POST /a?", 0) == 0) ++attempts;
  }
  return attempts;
}

std::vector<RecordedBatch> E2ETest::waitForBatches(size_t count, double maxSeconds) {
  auto recorded = waitForUploads([count](const auto& batches) { return batches.size() >= count; }, maxSeconds);
  EXPECT_GE(recorded.size(), count) << "batches recorded within " << maxSeconds << " s of the clock";
  return recorded;
}

std::vector<RecordedBatch> E2ETest::waitForEvent(const std::string& name, size_t count, double maxSeconds) {
  auto has = [&](const std::vector<RecordedBatch>& batches) {
    const auto names = eventNames(batches);
    return static_cast<size_t>(std::count(names.begin(), names.end(), name)) >= count;
  };
  auto recorded = waitForUploads(has, maxSeconds);
  EXPECT_TRUE(has(recorded)) << count << " \"" << name << "\" not uploaded within " << maxSeconds
                             << " s of the clock; uploaded:\n" << describeEvents(recorded);
  return recorded;
}

std::vector<RecordedBatch> E2ETest::waitForUploads(const UploadCheck& done, double maxSeconds) {
  (void)settle();
  for (double moved = 0; !done(batches()) && moved < maxSeconds; moved += 1) advance(1);
  return batches();
}

void E2ETest::post(const std::string& notification, const platform::Dictionary& userInfo) {
  platform::NotificationCenter::defaultCenter()->post(notification, userInfo);
}

std::vector<RecordedBatch> E2ETest::batches() const {
  auto all = allBatches();
  all.erase(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(std::min(startBatches_, all.size())));
  return all;
}

std::vector<RecordedBatch> E2ETest::allBatches() const {
  auto recorded = readRecordedBatches(root_.path() / "record");
  for (const auto& batch : recorded) {
    EXPECT_TRUE(batch.batch) << "the service recorded a batch that does not decode: " << batch.file;
  }
  return recorded;
}

std::vector<CapturedRequest> E2ETest::captured() const { return readCapturedRequests(root_.path() / "capture"); }

std::vector<std::string> E2ETest::requestLines() const {
  std::vector<std::string> lines;
  for (const auto& request : captured()) lines.push_back(request.requestLine);
  return lines;
}

std::string E2ETest::serviceURL(const std::string& path) const { return service_ ? service_->url(path) : ""; }

std::pair<int, std::string> E2ETest::serviceRequest(const std::string& method, const std::string& path,
                                                    const std::string& body) {
  const auto answer = tabulo::test::exchange(method, serviceURL(path), std::vector<uint8_t>(body.begin(), body.end()));
  return {answer.status, answer.text()};
}

void E2ETest::failNext(int status, int count) {
  const auto [code, text] = serviceRequest(
      "POST", "/control/fail?status=" + std::to_string(status) + "&count=" + std::to_string(count));
  EXPECT_TRUE(code >= 200 && code < 300) << code << " " << text;
}

void E2ETest::dropNext(int count) {
  const auto [code, text] = serviceRequest("POST", "/control/drop?count=" + std::to_string(count));
  EXPECT_TRUE(code >= 200 && code < 300) << code << " " << text;
}

// ---- reading decoded uploads ----

std::vector<RecordedBatch> readRecordedBatches(const fs::path& directory) {
  std::vector<fs::path> files;
  std::error_code failed;
  for (const auto& entry : fs::directory_iterator(directory, failed)) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  std::vector<RecordedBatch> result;
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    result.push_back({file.filename().string(),
                      GWLPBMeasurementBatch::initWithBuffer(std::span<const uint8_t>(
                          reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()))});
  }
  return result;
}

std::vector<LoggedEvent> eventsIn(const std::vector<RecordedBatch>& batches) {
  std::vector<LoggedEvent> events;
  for (const auto& batch : batches) {
    for (const auto& bundle : batch.bundles()) {
      for (const auto& event : bundle->events()) events.push_back({bundle, event});
    }
  }
  return events;
}

std::vector<std::string> eventNames(const std::vector<RecordedBatch>& batches) {
  std::vector<std::string> names;
  for (const auto& logged : eventsIn(batches)) names.push_back(logged.event->name().value_or(""));
  return names;
}

std::optional<LoggedEvent> eventNamed(const std::vector<RecordedBatch>& batches, const std::string& name) {
  for (const auto& logged : eventsIn(batches)) {
    if (logged.event->name() == name) return logged;
  }
  return std::nullopt;
}

std::string parameter(const std::shared_ptr<GWLPBEvent>& event, const std::string& name) {
  if (!event) return "no event";
  for (const auto& param : event->params()) {
    if (param->name() == name) return wire_test::describeWireValue(param);
  }
  return "none";
}

std::string describeEvents(const std::vector<RecordedBatch>& batches) {
  std::string text;
  for (const auto& logged : eventsIn(batches)) {
    text += logged.event->name().value_or("") + " @" + std::to_string(logged.event->timestamp()) + " {";
    for (const auto& param : logged.event->params()) {
      text += param->name().value_or("") + ": " + wire_test::describeWireValue(param) + ", ";
    }
    text += "}\n";
  }
  return text;
}

std::string userProperty(const std::shared_ptr<GWLPBMeasurementBundle>& bundle, const std::string& name) {
  if (!bundle) return "no bundle";
  for (const auto& property : bundle->userAttributes()) {
    if (property->name() == name) return wire_test::describeWireValue(property);
  }
  return "none";
}

}  // namespace e2e
