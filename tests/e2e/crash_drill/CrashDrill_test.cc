// The crash drill: the driver (crash_drill_driver, the app's host logging
// numbered events through the library's public class) is killed with
// SIGKILL over and over on one data directory, at random moments and at
// injected points (see DrillProtocol.h): inside an event's transaction and
// during its commit, during bundling, while an upload is on the wire, and
// after an upload was answered but before its bundles were deleted. A last,
// clean run then uploads what is left. The collection service records every
// batch it accepts; the test decodes them all and checks that
//   - every number the driver reported as written arrived;
//   - an event that arrived more than once did so only as part of a bundle
//     sent again whole (the rows of a sent upload were not yet deleted when
//     the driver died);
//   - the user properties set along the way are all there, with their
//     latest values;
//   - the database passes SQLite's integrity check.
//
// CTest runs a short drill (label "e2e"); the full drill (label "drill")
// runs only with TABULO_FULL_DRILL=1 (TABULO_DRILL_ROUNDS, default 200, and
// TABULO_DRILL_SEED to repeat one) and prints its log.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "analytics/foundation/core/GWLPaths.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/wire/GWLPBEvent.h"
#include "analytics/wire/GWLPBEventParam.h"
#include "analytics/wire/GWLPBMeasurementBatch.h"
#include "analytics/wire/GWLPBMeasurementBundle.h"
#include "analytics/wire/GWLPBUserAttribute.h"
#include "e2e/crash_drill/DrillProtocol.h"
#include "platform/TestTmp.h"
#include "tests/tools/ChildProcess.h"
#include "tests/tools/CollectionServiceProcess.h"
#include "tests/tools/LoopbackHTTP.h"
#include "tests/tools/AppServiceFiles.h"


namespace crash_drill {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kServiceFile = TABULO_BINARY_DIR "/tools/HalcyraService-Info.plist";
// The numbers of round r start here, so no two rounds share one.
constexpr int64_t kNumbersPerRound = 1000000;
// How long an injected point may take to be reached before the test kills
// the driver itself.
constexpr double kPointSeconds = 20;

// One run of the driver, its report pipe read as it goes.
class Driver {
 public:
  Driver(const std::vector<std::string>& arguments, const std::string& killPoint, const fs::path& log)
      : process_(options(arguments, killPoint, log)) {}
  bool started() const { return process_.started(); }

  // Reads reports until `done` holds, the pipe closes (the driver died) or
  // `seconds` pass; answers whether `done` held.
  template <typename Done>
  bool readUntil(Done done, double seconds) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0 || process_.closed()) return false;
      if (process_.readSome(pending_, static_cast<int>(left))) takeLines();
    }
    return true;
  }
  bool ready() const { return ready_; }
  bool done() const { return done_; }
  bool closed() const { return process_.closed(); }
  const std::vector<int64_t>& numbers() const { return numbers_; }
  // The values of kLastProperty, as the driver set them.
  const std::vector<int64_t>& lastValues() const { return lastValues_; }

  // Sends `signal` (none: only waits) and answers the wait status; -1 when
  // the driver did not end within `seconds`.
  int end(int signal, double seconds) {
    const int status = process_.end(signal, seconds, pending_);
    takeLines();  // what it reported before it died
    return status;
  }

 private:
  static tabulo::test::ChildProcess::Options options(const std::vector<std::string>& arguments,
                                                     const std::string& killPoint, const fs::path& log) {
    tabulo::test::ChildProcess::Options options;
    options.arguments = {CRASH_DRILL_DRIVER_PATH, "--report-fd", "3"};
    options.arguments.insert(options.arguments.end(), arguments.begin(), arguments.end());
    options.removedVariables = {kKillVariable};
    options.environment = {std::string(kKillVariable) + "=" + killPoint};
    options.pipeDescriptor = 3;
    options.log = log;
    return options;
  }

  void takeLines() {
    for (size_t newline; (newline = pending_.find('\n')) != std::string::npos; pending_.erase(0, newline + 1)) {
      const std::string line = pending_.substr(0, newline);
      if (line == "ready") {
        ready_ = true;
      } else if (line == "done") {
        done_ = true;
      } else if (line.rfind(std::string(kLastProperty) + " ", 0) == 0) {
        lastValues_.push_back(std::stoll(line.substr(std::string(kLastProperty).size() + 1)));
      } else {
        numbers_.push_back(std::stoll(line));
      }
    }
  }

  tabulo::test::ChildProcess process_;
  std::string pending_;
  bool ready_ = false;
  bool done_ = false;
  std::vector<int64_t> numbers_;
  std::vector<int64_t> lastValues_;
};

// What the service recorded, decoded.
struct Received {
  // The drill events: number -> the bundles (by index) it arrived in.
  std::map<int64_t, std::vector<size_t>> events;
  // Each bundle: its batch file and what identifies its events (names,
  // timestamps and numbers in order).
  struct Bundle {
    std::string file;
    std::string key;
    std::map<std::string, std::string> properties;
    bool done = false;
  };
  std::vector<Bundle> bundles;
  std::set<std::string> decodedFiles;
};

void decodeNewBatches(const fs::path& directory, Received& received) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(directory)) {
    if (entry.path().extension() == ".pb" && !received.decodedFiles.count(entry.path().filename().string())) {
      files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    received.decodedFiles.insert(file.filename().string());
    const std::string bytes = platform::testing::readFile(file.string());
    auto batch = GWLPBMeasurementBatch::initWithBuffer(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
    ASSERT_TRUE(batch) << file;
    for (const auto& bundle : batch->bundles()) {
      Received::Bundle entry{file.filename().string(), "", {}, false};
      const size_t index = received.bundles.size();
      for (const auto& event : bundle->events()) {
        const std::string name = event->name().value_or("");
        entry.key += name + "@" + std::to_string(event->timestamp());
        entry.done = entry.done || name == kDoneEventName;
        if (name != kEventName) continue;
        for (const auto& param : event->params()) {
          if (param->name().value_or("") != kNumberParameter) continue;
          entry.key += "#" + std::to_string(param->intValue());
          received.events[param->intValue()].push_back(index);
        }
        entry.key += ";";
      }
      for (const auto& attribute : bundle->userAttributes()) {
        entry.properties[attribute->name().value_or("")] =
            attribute->hasStringValue() ? attribute->stringValue().value_or("") : std::to_string(attribute->intValue());
      }
      received.bundles.push_back(std::move(entry));
    }
  }
}

// SQLite's integrity check of a database no process has open ("ok" when
// sound); a log left behind is recovered first, as the library would.
std::string integrityCheck(const fs::path& database) {
  sqlite3* handle = nullptr;
  std::string answer = "cannot open";
  if (sqlite3_open_v2(database.c_str(), &handle, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    sqlite3_stmt* statement = nullptr;
    answer.clear();
    if (sqlite3_prepare_v2(handle, "PRAGMA integrity_check", -1, &statement, nullptr) == SQLITE_OK) {
      while (sqlite3_step(statement) == SQLITE_ROW) {
        answer += (answer.empty() ? "" : "; ") + std::string(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
      }
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(handle);
  return answer;
}

class CrashDrill : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* directory : {"config", "record"}) fs::create_directories(root_.path() / directory);
    const std::string id = tabulo::test::serveEmptyConfiguration(kServiceFile, root_.path() / "config");
    ASSERT_FALSE(id.empty()) << "the app's service file beside its Info dictionary";
    service_ = std::make_unique<tabulo::test::CollectionServiceProcess>(
        std::vector<std::string>{"--record", (root_.path() / "record").string(), "--config-dir",
                                 (root_.path() / "config").string(), "--max-seconds", "7200"});
    ASSERT_GT(service_->port(), 0);
  }
  void TearDown() override {
    if (!HasFailure()) return;
    // The end of the drivers' output (the directory goes with the test).
    const std::string output = platform::testing::readFile(log().string());
    size_t start = output.size();
    for (int lines = 0; lines < 80 && start > 0; ++lines) start = output.rfind('\n', start - 1);
    std::fprintf(stderr, "the end of the drivers' output:\n%s\n", output.substr(start == std::string::npos ? 0 : start).c_str());
  }

  fs::path data() const { return root_.path() / "app"; }
  fs::path log() const { return root_.path() / "drivers.log"; }
  fs::path database() const {
    return data() / "Library" / "Application Support" / kGWLMeasurementDirectoryName / kGWLDatabaseFileName;
  }
  std::vector<std::string> arguments() const {
    return {"--data-dir", data().string(), "--service", "http://127.0.0.1:" + std::to_string(service_->port())};
  }
  void control(const std::string& pathAndQuery) {
    EXPECT_EQ(tabulo::test::exchange("POST", service_->url(pathAndQuery)).status, 204) << pathAndQuery;
  }

  // `inTurn`: the points one after the other (random moments among them)
  // rather than drawn at random.
  void drill(int rounds, uint64_t seed, bool inTurn = false);

  tabulo_test::TestTmp root_;
  std::unique_ptr<tabulo::test::CollectionServiceProcess> service_;
};

void CrashDrill::drill(int rounds, uint64_t seed, bool inTurn) {
  std::mt19937_64 random(seed);
  auto between = [&](int64_t low, int64_t high) { return std::uniform_int_distribution<int64_t>(low, high)(random); };
  std::printf("crash drill: %d rounds, seed %llu\n", rounds, static_cast<unsigned long long>(seed));
  std::map<std::string, int> pointsUsed, pointsNotReached;
  std::set<int64_t> reported, lastValues;
  int64_t lastRoundReporting = -1;
  // Whether "drill_first" is known to be written: a round that set it
  // reported an event after it. Until then each round sets it again (a round
  // killed before its first event may have lost it, and rightly so).
  bool firstPropertyWritten = false;
  int unsound = 0;  // rounds whose database failed the integrity check
  const auto started = Clock::now();

  for (int round = 0; round < rounds; ++round) {
    // The point: one of the injected ones, or a moment the test picks (as
    // often as any two points together).
    const size_t choice = inTurn ? static_cast<size_t>(round) % (std::size(kInjectedPoints) + 1)
                                 : static_cast<size_t>(between(0, std::size(kInjectedPoints) + 1));
    const std::string point = choice < std::size(kInjectedPoints) ? kInjectedPoints[choice] : kRandomPoint;
    int64_t k = 1;
    if (point == kEventRowPoint || point == kEventCommitPoint) k = between(1, 80);
    if (point == kBundlingPoint || point == kUploadedPoint) k = between(1, 2);
    const std::string pointText = point == kRandomPoint ? point : point + ":" + std::to_string(k);
    if (point == kInFlightPoint) {
      control("/control/slow?seconds=" + std::to_string(kServiceHoldSeconds) + "&count=1");
    }

    std::vector<std::string> args = arguments();
    for (const std::string& extra : {std::string("--first"), std::to_string(round * kNumbersPerRound + 1),
                                     std::string("--round"), std::to_string(round), std::string("--seed"),
                                     std::to_string(random())}) {
      args.push_back(extra);
    }
    if (!firstPropertyWritten) args.push_back("--set-first");
    Driver driver(args, pointText, log());
    ASSERT_TRUE(driver.started());
    // A point may be reached while the library starts up (an upload of
    // what the last round left, say), before the driver is ready.
    const bool ready = driver.readUntil([&] { return driver.ready(); }, 60);
    ASSERT_TRUE(ready || driver.closed()) << "round " << round << ": the driver neither started nor ended";

    bool reached = true;
    if (ready && point == kRandomPoint) {
      driver.readUntil([] { return false; }, static_cast<double>(between(100, 3000)) / 1000);
    } else if (ready) {
      reached = !driver.readUntil([] { return false; }, kPointSeconds) && driver.closed();
    }
    const int status = driver.end(point == kRandomPoint || !reached ? SIGKILL : 0, 30);
    ASSERT_NE(status, -1) << "round " << round << ": the driver did not end";
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
        << "round " << round << " (" << pointText << "): the driver ended by itself, status " << status;
    if (point == kInFlightPoint) control("/control/reset");

    // The database as the kill left it, checked on a copy so that the next
    // round finds the files untouched.
    const fs::path copy = root_.path() / "check" / kGWLDatabaseFileName;
    fs::remove_all(copy.parent_path());
    fs::create_directories(copy.parent_path());
    for (const char* suffix : {"", "-wal", "-shm"}) {
      if (fs::exists(database().string() + suffix)) fs::copy_file(database().string() + suffix, copy.string() + suffix);
    }
    const std::string left = integrityCheck(copy);
    EXPECT_EQ(left, "ok") << "round " << round << " (" << pointText << ")";
    unsound += left == "ok" ? 0 : 1;

    (reached ? pointsUsed : pointsNotReached)[point]++;
    reported.insert(driver.numbers().begin(), driver.numbers().end());
    lastValues.insert(driver.lastValues().begin(), driver.lastValues().end());
    if (!driver.numbers().empty()) {
      lastRoundReporting = round;
      firstPropertyWritten = true;
    }
    std::printf("round %d: %s, %zu reported%s\n", round, pointText.c_str(), driver.numbers().size(),
                !reached ? " (not reached: killed by the test)" : ready ? "" : " (reached while starting)");
    std::fflush(stdout);
  }

  // The clean run: it logs one last event and uploads everything.
  Driver final(
      [&] {
        auto args = arguments();
        args.push_back("--final");
        if (!firstPropertyWritten) args.push_back("--set-first");
        return args;
      }(),
      "", log());
  ASSERT_TRUE(final.readUntil([&] { return final.done(); }, 60)) << "the clean run did not log its event";
  const fs::path record = root_.path() / "record";
  Received received;
  auto allArrived = [&] {
    decodeNewBatches(record, received);
    const bool done = std::any_of(received.bundles.begin(), received.bundles.end(), [](const auto& b) { return b.done; });
    return done && std::all_of(reported.begin(), reported.end(), [&](int64_t n) { return received.events.count(n); });
  };
  const auto deadline = Clock::now() + std::chrono::seconds(120);
  while (!allArrived() && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(250));
  const int finalStatus = final.end(SIGTERM, 30);
  EXPECT_TRUE(WIFEXITED(finalStatus) && WEXITSTATUS(finalStatus) == 0) << "the clean run's shutdown: " << finalStatus;
  decodeNewBatches(record, received);

  // Every reported number arrived.
  std::vector<int64_t> lost;
  for (int64_t n : reported) {
    if (!received.events.count(n)) lost.push_back(n);
  }
  EXPECT_TRUE(lost.empty()) << lost.size() << " reported events never arrived, the first " << lost.front();

  // An event that arrived more than once came in whole bundles sent again.
  size_t duplicatedEvents = 0;
  std::set<size_t> resentBundles;
  std::set<std::string> resentBatches;  // the batches first holding a bundle sent again
  for (const auto& [n, bundles] : received.events) {
    if (bundles.size() < 2) continue;
    ++duplicatedEvents;
    std::set<std::string> files;
    for (size_t b : bundles) {
      EXPECT_EQ(received.bundles[b].key, received.bundles[bundles[0]].key)
          << "event " << n << " arrived in " << received.bundles[bundles[0]].file << " and in a different bundle in "
          << received.bundles[b].file;
      files.insert(received.bundles[b].file);
      if (b != bundles[0]) resentBundles.insert(b);
    }
    resentBatches.insert(received.bundles[bundles[0]].file);
    EXPECT_EQ(files.size(), bundles.size()) << "event " << n << " twice in one batch";
  }

  // Each batch sent again is one whose answer the driver did not live to
  // handle: a round killed after it was sent and before its bundles were
  // deleted (at those points, or at a moment the test picked).
  int couldResend = 0;
  for (const char* point : {kUploadedPoint, kInFlightPoint, kRandomPoint}) couldResend += pointsUsed[point];
  for (const auto& [point, count] : pointsNotReached) couldResend += count;
  EXPECT_LE(static_cast<int>(resentBatches.size()), couldResend) << "batches sent again";

  // The user properties, as the clean run's bundle carries them.
  const auto last = std::find_if(received.bundles.rbegin(), received.bundles.rend(), [](const auto& b) { return b.done; });
  ASSERT_NE(last, received.bundles.rend()) << "the clean run's event never arrived";
  const auto property = [&](const char* name) {
    return last->properties.count(name) ? last->properties.at(name) : std::string("(missing)");
  };
  EXPECT_EQ(property(kFirstProperty), kFirstValue);
  if (!reported.empty()) {
    // The value set before the burst of the last reported event was written
    // before that event.
    ASSERT_NE(lastValues.upper_bound(*reported.rbegin()), lastValues.begin()) << "a burst without its value";
    const auto committed = std::prev(lastValues.upper_bound(*reported.rbegin()));
    EXPECT_GE(std::atoll(property(kLastProperty).c_str()), *committed) << "the value set before event " << *reported.rbegin();
    EXPECT_GE(std::atoll(property(kRoundProperty).c_str()), lastRoundReporting) << "the last round set";
  }

  const std::string integrity = integrityCheck(database());
  EXPECT_EQ(integrity, "ok");

  size_t drillEventsReceived = 0;
  for (const auto& [n, bundles] : received.events) drillEventsReceived += bundles.size();
  std::printf("--- crash drill log ---\n");
  std::printf("rounds: %d (seed %llu), %.0f s\n", rounds, static_cast<unsigned long long>(seed),
              std::chrono::duration<double>(Clock::now() - started).count());
  std::printf("kill points used:");
  for (const auto& [point, count] : pointsUsed) std::printf(" %s=%d", point.c_str(), count);
  std::printf("\nkill points not reached in %.0f s (the test killed the driver):", kPointSeconds);
  for (const auto& [point, count] : pointsNotReached) std::printf(" %s=%d", point.c_str(), count);
  std::printf("\nevents reported: %zu\n", reported.size());
  std::printf("events received: %zu drill events (%zu distinct numbers) in %zu batches, %zu bundles\n",
              drillEventsReceived, received.events.size(), received.decodedFiles.size(), received.bundles.size());
  std::printf("events lost: %zu\n", lost.size());
  std::printf("duplicates: %zu events, all in %zu bundles sent again whole, from %zu batches\n", duplicatedEvents,
              resentBundles.size(), resentBatches.size());
  std::printf("user properties at the end: %s=%s %s=%s %s=%s\n", kFirstProperty, property(kFirstProperty).c_str(),
              kLastProperty, property(kLastProperty).c_str(), kRoundProperty, property(kRoundProperty).c_str());
  std::printf("integrity_check: after each of the %d kills (on a copy): %d not ok; at the end: %s\n", rounds, unsound,
              integrity.c_str());
  std::fflush(stdout);
}

uint64_t seedFromEnvironment() {
  if (const char* text = std::getenv("TABULO_DRILL_SEED")) return std::strtoull(text, nullptr, 10);
  return std::random_device()();
}

// Each point once, and one random moment.
TEST_F(CrashDrill, ShortDrill) { drill(std::size(kInjectedPoints) + 1, seedFromEnvironment(), true); }

TEST_F(CrashDrill, FullDrill) {
  if (!std::getenv("TABULO_FULL_DRILL")) GTEST_SKIP() << "the full drill runs with TABULO_FULL_DRILL=1";
  const char* rounds = std::getenv("TABULO_DRILL_ROUNDS");
  drill(rounds ? std::atoi(rounds) : 200, seedFromEnvironment());
}

}  // namespace
}  // namespace crash_drill
