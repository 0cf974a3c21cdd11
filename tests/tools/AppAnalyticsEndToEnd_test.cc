// The app's usage events end to end. Each run of the app is a child process
// of this test (the library and the core framework exist once per process)
// that composes the app exactly as tools/tabulo does (TabuloHost), on a
// temporary data directory, pointed at the local collection service, which
// records every batch it accepts. The child drives the screens through their
// controllers, as the browser page would, and hides the page; the test reads
// the recorded batches back with the wire classes.
//
// Most runs pass the debug launch argument, with which the library uploads
// about a second after each event, so the batches arrive within seconds.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sqlite3.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/TestTmp.h"
#include "analytics/foundation/core/GWLPaths.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/measurement/CVNAnalytics.h"
#include "analytics/measurement/GWLLibraryLoad.h"
#include "analytics/measurement/GWLMeasurement.h"
#include "analytics/wire/GWLPBEvent.h"
#include "analytics/wire/GWLPBEventParam.h"
#include "analytics/wire/GWLPBMeasurementBatch.h"
#include "analytics/wire/GWLPBMeasurementBundle.h"
#include "app/FeedbackView.h"
#include "app/Popup.h"
#include "app/SettingsView.h"
#include "app/SpreadsheetPersistance.h"
#include "app/StarEvaluationView.h"
#include "app/TabuloApp.h"
#include "app/UserSettings.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/HVUNetwork.h"
#include "platform/storage/PreferencesStore.h"
#include "tests/tools/ChildProcess.h"
#include "tests/tools/CollectionServiceProcess.h"
#include "tests/tools/LoopbackHTTP.h"
#include "tests/tools/AppServiceFiles.h"
#include "tools/tabulo/TabuloHost.h"


namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kScenarioVariable = "TABULO_E2E_SCENARIO";
constexpr const char* kDataVariable = "TABULO_E2E_DATA";
constexpr const char* kServiceVariable = "TABULO_E2E_SERVICE";
constexpr const char* kDebugVariable = "TABULO_E2E_DEBUG";
constexpr const char* kFileVariable = "TABULO_E2E_FILE";
constexpr const char* kChildFilter = "AppAnalyticsChild.DISABLED_Run";
constexpr const char* kInfoDictionary = TABULO_BINARY_DIR "/tools/Info.plist";
constexpr const char* kServiceFile = TABULO_BINARY_DIR "/tools/HalcyraService-Info.plist";

// ---------------------------------------------------------------------------
// The child: one run of the app.

void say(const std::string& line) {
  std::printf("e2e: %s\n", line.c_str());
  std::fflush(stdout);
}

// Raised on the worker queue once every call made before has been done there.
void whenTheLibraryHasCaughtUp(std::function<void()> then) {
  auto engine = std::dynamic_pointer_cast<GWLMeasurement>(GWLMeasurement::sharedInstance());
  ASSERT_TRUE(engine);
  auto worker = engine->scheduler()->workerQueue();
  // Twice through the worker queue: the event's own block may post once more.
  CVNAnalytics::queueOperationWithBlock([worker, then] { worker->async([worker, then] { worker->async(then); }); });
}

// The usage scenario: a document opened from the list (the editor pushed
// from it), the settings screen with its developer link, a star rating, and
// the page hidden.
void useTheApp(tabulo_host::TabuloHost& host) {
  tabulo::TabuloApp& app = *host.app();
  auto navigation = app.navigation();
  ASSERT_TRUE(app.menuView()->performAction("row.0"));
  ASSERT_NE(navigation->topViewController(), app.menuView()) << "the editor pushed";
  navigation->popViewController(false);
  ASSERT_TRUE(navigation->performAction("bar.left.0"));
  auto settings = navigation->topViewController();
  ASSERT_EQ(settings->className(), "SettingsView");
  ASSERT_TRUE(settings->performAction(tabulo::SettingsView::moreAppsAction));
  navigation->popViewController(false);
  app.popupCoordinator()->present(tabulo::Popup::feedback());
  auto rating = navigation->presentedViewController();  // the star-rating popup's host
  ASSERT_TRUE(rating);
  ASSERT_TRUE(rating->performAction(tabulo::StarEvaluationView::starAction(4)));
  ASSERT_TRUE(rating->performAction(tabulo::FeedbackView::sendAction));
  host.setPageVisible(false);
  say("hidden");
}

TEST(AppAnalyticsChild, DISABLED_Run) {
  const char* scenarioText = std::getenv(kScenarioVariable);
  if (!scenarioText) GTEST_SKIP() << "run by the end-to-end tests only";
  const std::string scenario = scenarioText;
  GWLLibraryLoad();
  std::vector<std::string> arguments = {"tabulo", "--data-dir", std::getenv(kDataVariable), "--collection-service",
                                        std::getenv(kServiceVariable)};
  if (std::getenv(kDebugVariable)) arguments.push_back("-CVNAnalyticsDebugEnabled");
  if (const char* file = std::getenv(kFileVariable)) arguments.push_back(file);
  tabulo_host::TabuloHost host({arguments, {}, kInfoDictionary, ""});
  ASSERT_EQ(host.open(), std::nullopt);
  CVNAnalytics::setOpenURLListener([](const std::string& url) { say("the library saw " + url); });

  auto defaults = platform::PreferencesStore::standard();
  // The list on top: no introduction, no review prompt.
  defaults->setBool(true, tabulo::UserSettings::didShowIntroKey);
  defaults->setBool(true, tabulo::UserSettings::didRequestKey);
  if (scenario == "usage-on" || scenario == "usage-off" || scenario == "kill") {
    defaults->setBool(scenario != "usage-off", tabulo::UserSettings::sendUsageDataKey);
    ASSERT_TRUE(tabulo::SpreadsheetPersistance::shared().createFile("Budget"));
  }

  const int status = host.run([scenario](tabulo_host::TabuloHost& host) {
    say("launched");
    if (scenario == "usage-on" || scenario == "usage-off") {
      useTheApp(host);
    } else if (scenario == "kill" || scenario == "tap") {
      auto navigation = host.app()->navigation();
      ASSERT_TRUE(navigation->performAction("bar.left.0"));
      ASSERT_TRUE(navigation->topViewController()->performAction(tabulo::SettingsView::moreAppsAction));
      whenTheLibraryHasCaughtUp([] { say("logged"); });
    }
  });
  EXPECT_EQ(status, 0);
}

// ---------------------------------------------------------------------------
// The test's side.

struct RecordedEvent {
  std::string batchFile;
  std::string name;
  std::map<std::string, std::string> strings;
  std::map<std::string, int64_t> integers;
};

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class Child {
 public:
  Child(const std::string& scenario, const fs::path& dataDirectory, const std::string& serviceURL, bool debug,
        const fs::path& log, const std::optional<fs::path>& file = std::nullopt)
      : process_(options(scenario, dataDirectory, serviceURL, debug, log, file)) {}

  // Waits (at most `seconds`) for the line "e2e: `what`" on the child's output.
  bool waitFor(const std::string& what, double seconds = 30) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    const std::string line = "e2e: " + what + "\n";
    while (text_.find(line) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0 || !process_.readSome(text_, static_cast<int>(left))) return false;
    }
    return true;
  }
  // Sends `signal` and answers the exit status (-1 when it did not end within 30 seconds).
  int stop(int signal) {
    const int status = process_.end(signal, 30, text_);
    if (status == -1) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  bool started() const { return process_.started(); }
  const std::string& output() const { return text_; }

 private:
  static tabulo::test::ChildProcess::Options options(const std::string& scenario, const fs::path& dataDirectory,
                                                     const std::string& serviceURL, bool debug, const fs::path& log,
                                                     const std::optional<fs::path>& file) {
    tabulo::test::ChildProcess::Options options;
    options.arguments = {"/proc/self/exe", std::string("--gtest_filter=") + kChildFilter,
                         "--gtest_also_run_disabled_tests"};
    options.environment = {std::string(kScenarioVariable) + "=" + scenario,
                           std::string(kDataVariable) + "=" + dataDirectory.string(),
                           std::string(kServiceVariable) + "=" + serviceURL};
    if (debug) options.environment.push_back(std::string(kDebugVariable) + "=1");
    if (file) options.environment.push_back(std::string(kFileVariable) + "=" + file->string());
    options.log = log;
    return options;
  }

  tabulo::test::ChildProcess process_;
  std::string text_;
};

class AppAnalyticsEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* directory : {"config", "record"}) fs::create_directories(root_.path() / directory);
    const std::string id = tabulo::test::serveEmptyConfiguration(kServiceFile, root_.path() / "config");
    ASSERT_FALSE(id.empty()) << "the app's service file beside its Info dictionary";
    service_ = std::make_unique<tabulo::test::CollectionServiceProcess>(std::vector<std::string>{
        "--record", (root_.path() / "record").string(), "--config-dir", (root_.path() / "config").string()});
    ASSERT_GT(service_->port(), 0);
  }
  void TearDown() override {
    if (HasFailure()) std::fprintf(stderr, "the children's standard error:\n%s\n", readFile(log()).c_str());
  }

  fs::path data(const std::string& name) { return root_.path() / name; }
  fs::path log() { return root_.path() / "children.log"; }
  std::string serviceURL() const { return "http://127.0.0.1:" + std::to_string(service_->port()); }
  std::unique_ptr<Child> start(const std::string& scenario, const fs::path& dataDirectory, bool debug = true,
                               const std::optional<std::string>& url = std::nullopt) {
    auto child = std::make_unique<Child>(scenario, dataDirectory, url.value_or(serviceURL()), debug, log());
    EXPECT_TRUE(child->started());
    EXPECT_TRUE(child->waitFor("launched")) << child->output();
    return child;
  }

  // Every event of every recorded batch, in the order of the batches.
  std::vector<RecordedEvent> recorded() {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(root_.path() / "record")) {
      if (entry.path().extension() == ".pb") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    std::vector<RecordedEvent> events;
    for (const auto& file : files) {
      const std::string bytes = readFile(file);
      auto batch = GWLPBMeasurementBatch::initWithBuffer(
          std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
      EXPECT_TRUE(batch) << file;
      if (!batch) continue;
      for (const auto& bundle : batch->bundles()) {
        for (const auto& event : bundle->events()) {
          RecordedEvent recordedEvent{file.filename().string(), event->name().value_or(""), {}, {}};
          for (const auto& param : event->params()) {
            if (param->hasStringValue()) recordedEvent.strings[param->name().value_or("")] = *param->stringValue();
            if (param->hasIntValue()) recordedEvent.integers[param->name().value_or("")] = param->intValue();
          }
          events.push_back(std::move(recordedEvent));
        }
      }
    }
    return events;
  }
  static size_t count(const std::vector<RecordedEvent>& events, const std::string& name) {
    return static_cast<size_t>(std::count_if(events.begin(), events.end(), [&](const auto& e) { return e.name == name; }));
  }
  // Waits (at most 30 seconds) until the recorded events satisfy `done`.
  bool waitForEvents(const std::function<bool(const std::vector<RecordedEvent>&)>& done) {
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (Clock::now() < deadline) {
      if (done(recorded())) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  tabulo_test::TestTmp root_;
  std::unique_ptr<tabulo::test::CollectionServiceProcess> service_;
};

std::set<std::string> screenClasses(const std::vector<RecordedEvent>& events) {
  std::set<std::string> classes;
  for (const auto& event : events) {
    if (event.name == "_vs" && event.strings.count("_sc")) classes.insert(event.strings.at("_sc"));
  }
  return classes;
}

TEST_F(AppAnalyticsEndToEndTest, UsageEventsScreensAndTheLifeCycleReachTheServiceAndASecondRunIsNoFirstOpen) {
  auto child = start("usage-on", data("app"));
  ASSERT_TRUE(child->waitFor("hidden")) << child->output();
  ASSERT_TRUE(waitForEvents([](const auto& events) {
    return count(events, "evaluated_app") > 0 && count(events, "developer_tapped") > 0 && count(events, "_e") > 0;
  })) << "recorded: " << recorded().size() << " events";
  EXPECT_EQ(child->stop(SIGTERM), 0) << child->output();

  auto events = recorded();
  for (const char* name : {"_f", "_s", "_e", "_vs"}) EXPECT_GT(count(events, name), 0u) << name;
  EXPECT_EQ(count(events, "_f"), 1u);
  const auto classes = screenClasses(events);
  // The editor is pushed in the hosting controller that hosts it, whose
  // class is the screen's.
  for (const char* screen : {"MenuView", "UIHostingController", "SettingsView", "CustomHost"}) {
    EXPECT_TRUE(classes.count(screen)) << screen << " among the screen views";
  }
  const auto editor = std::find_if(events.begin(), events.end(), [](const auto& e) {
    return e.name == "_vs" && e.strings.count("_sc") && e.strings.at("_sc") == "UIHostingController";
  });
  ASSERT_NE(editor, events.end());
  EXPECT_EQ(editor->strings.count("_pc") ? editor->strings.at("_pc") : "", "MenuView") << "pushed from the list";
  EXPECT_EQ(count(events, "developer_tapped"), 1u);
  ASSERT_EQ(count(events, "evaluated_app"), 1u);
  const auto rated = std::find_if(events.begin(), events.end(), [](const auto& e) { return e.name == "evaluated_app"; });
  std::map<std::string, int64_t> appParameters;
  for (const auto& [name, value] : rated->integers) {
    if (!name.starts_with("_")) appParameters[name] = value;
  }
  EXPECT_EQ(appParameters, (std::map<std::string, int64_t>{{"rating", 4}})) << "the rating, and no other app parameter";

  // The second run on the same directory: the list's screen view arrives,
  // but no first open and no app update.
  const size_t before = events.size();
  child = start("restart", data("app"));
  ASSERT_TRUE(waitForEvents([before](const auto& all) {
    return std::any_of(all.begin() + static_cast<std::ptrdiff_t>(before), all.end(),
                       [](const auto& e) { return e.name == "_vs"; });
  }));
  EXPECT_EQ(child->stop(SIGTERM), 0) << child->output();
  events = recorded();
  for (size_t i = before; i < events.size(); ++i) {
    EXPECT_NE(events[i].name, "_f") << events[i].batchFile;
    EXPECT_NE(events[i].name, "_au") << events[i].batchFile;
  }
}

TEST_F(AppAnalyticsEndToEndTest, WithUsageDataOffNoAppEventIsSentWhileTheAutomaticOnesArrive) {
  auto child = start("usage-off", data("app"));
  ASSERT_TRUE(child->waitFor("hidden")) << child->output();
  // The engagement event is logged when the page is hidden, after every app
  // event would have been: the batch that holds it holds them too.
  ASSERT_TRUE(waitForEvents([](const auto& events) { return count(events, "_e") > 0; }));
  EXPECT_EQ(child->stop(SIGTERM), 0) << child->output();
  const auto events = recorded();
  for (const char* name : {"_f", "_s", "_vs"}) EXPECT_GT(count(events, name), 0u) << name;
  for (const auto& event : events) {
    for (const char* name : {"developer_tapped", "evaluated_app", "positive_review", "negative_review"}) {
      EXPECT_NE(event.name, name) << event.batchFile;
    }
  }
}

// A file named on the command line reaches the app (which imports it) through
// the app-delegate proxy, where the library's interceptor sees it too.
TEST_F(AppAnalyticsEndToEndTest, AFileArgumentReachesTheAppAndTheLibrarysInterceptor) {
  const fs::path file = root_.path() / "People.csv";
  std::ofstream(file) << "Name,Age\nAda,36\n";
  auto child = std::make_unique<Child>("restart", data("app"), serviceURL(), true, log(), file);
  const std::string url = "file://" + file.string();
  ASSERT_TRUE(child->waitFor("the library saw " + url)) << child->output();
  EXPECT_NE(child->output().find("GOT URL! " + url), std::string::npos) << child->output();
  EXPECT_EQ(child->stop(SIGTERM), 0) << child->output();
}

// The kill drill: the app is killed (SIGKILL) once a usage event is in its
// database and before any upload (no debug argument: the first upload waits
// for its timer). After a restart the event arrives, exactly once.
TEST_F(AppAnalyticsEndToEndTest, AnEventOfAKilledRunArrivesOnceAfterTheRestart) {
  auto child = start("kill", data("app"), /*debug=*/false);
  ASSERT_TRUE(child->waitFor("logged")) << child->output();
  EXPECT_EQ(child->stop(SIGKILL), 128 + SIGKILL);
  ASSERT_TRUE(recorded().empty()) << "the drill needs the kill to come before the first upload";

  child = start("restart", data("app"));
  ASSERT_TRUE(waitForEvents([](const auto& events) { return count(events, "developer_tapped") > 0; }));
  EXPECT_EQ(child->stop(SIGTERM), 0) << child->output();
  const auto events = recorded();
  EXPECT_EQ(count(events, "developer_tapped"), 1u);
  EXPECT_EQ(count(events, "_f"), 1u) << "the first open of the killed run, sent once";
}

// The bundles in the upload queue of a measurement database no process has open.
int queuedBundles(const fs::path& database) {
  sqlite3* handle = nullptr;
  int count = -1;
  if (sqlite3_open_v2(database.c_str(), &handle, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(handle, "SELECT COUNT(*) FROM queue", -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
      count = sqlite3_column_int(statement, 0);
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(handle);
  return count;
}

// A listener that takes connections and never answers: an upload sent to it
// stays in flight until the client gives up.
class SilentListener {
 public:
  SilentListener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd_, 8) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
  }
  ~SilentListener() {
    for (int connection : connections_) ::close(connection);
    if (fd_ >= 0) ::close(fd_);
  }
  int port() const { return port_; }
  // Waits (at most 30 seconds) for a request whose first line starts with `start`.
  bool waitForRequest(const std::string& start) {
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (Clock::now() < deadline) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      const int connection = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection < 0) continue;
      connections_.push_back(connection);
      std::string head;
      char buffer[1024];
      pollfd c{connection, POLLIN, 0};
      while (head.find("\r\n") == std::string::npos && ::poll(&c, 1, 5000) > 0) {
        const ssize_t got = ::read(connection, buffer, sizeof buffer);
        if (got <= 0) break;
        head.append(buffer, static_cast<size_t>(got));
      }
      if (head.rfind(start, 0) == 0) return true;
    }
    return false;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::vector<int> connections_;
};

// The app shut down (SIGTERM) while its upload waits for an answer: it ends
// cleanly, and the batch it was sending stays queued and arrives with the
// next run.
TEST_F(AppAnalyticsEndToEndTest, AShutdownWithAnUploadInFlightKeepsTheBatchForTheNextRun) {
  // A first run fetches the configuration (which then stays fresh) and uploads.
  auto child = start("restart", data("app"));
  ASSERT_TRUE(waitForEvents([](const auto& events) { return count(events, "_f") > 0; }));
  EXPECT_EQ(child->stop(SIGTERM), 0) << child->output();

  SilentListener silent;
  ASSERT_GT(silent.port(), 0);
  child = start("tap", data("app"), true, "http://127.0.0.1:" + std::to_string(silent.port()));
  ASSERT_TRUE(child->waitFor("logged")) << child->output();
  ASSERT_TRUE(silent.waitForRequest("POST /a ")) << "the upload is on its way";
  EXPECT_EQ(child->stop(SIGTERM), 0) << "no crash, and the preferences written: " << child->output();
  EXPECT_EQ(count(recorded(), "developer_tapped"), 0u);
  // The database was closed (its write-ahead log folded in and removed) with
  // the cut-off upload's bundle still queued.
  const fs::path database = data("app") / "Library" / "Application Support" / kGWLMeasurementDirectoryName /
                            kGWLDatabaseFileName;
  EXPECT_FALSE(fs::exists(database.string() + "-wal")) << "the database was closed";
  EXPECT_GE(queuedBundles(database), 1) << "the batch in flight stays queued";

  child = start("restart", data("app"));
  ASSERT_TRUE(waitForEvents([](const auto& events) { return count(events, "developer_tapped") > 0; }));
  EXPECT_EQ(child->stop(SIGTERM), 0) << child->output();
  EXPECT_EQ(count(recorded(), "developer_tapped"), 1u);
}

}  // namespace
