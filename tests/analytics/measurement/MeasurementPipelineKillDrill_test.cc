// A process writing events through the pipeline is killed (SIGKILL) at
// random points: every event it had reported stored is in the database
// reopened afterwards, and the daily counters and aggregates agree with the
// stored rows, whatever the write was doing when the process died.
//
// The writer is this test program itself, run again with only the writer
// test selected; it reports the number of each stored event on a pipe.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>
#include <string>

#include "PipelineTestSupport.h"
#include "analytics/foundation/core/GWLPaths.h"

namespace measurement_test {
namespace {

constexpr const char* kReportFdVariable = "TABULO_PIPELINE_DRILL_FD";
constexpr const char* kWriterTest = "PipelineTest.DISABLED_KillDrillWriter";

void writeLine(int fd, const std::string& line) {
  const std::string text = line + "\n";
  if (::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) std::_Exit(3);
}

// The writer: its data directory first, then the number of every event once
// its transaction has committed, until it is killed.
TEST_F(PipelineTest, DISABLED_KillDrillWriter) {
  const char* fdText = std::getenv(kReportFdVariable);
  if (!fdText) GTEST_SKIP() << "run by the kill drill only";
  const int fd = std::atoi(fdText);
  writeLine(fd, data_.root());
  for (int64_t n = 1;; ++n) {
    // New public names, internal names and known names in turn.
    const std::string name = n % 3 == 0 ? "_vs" : "drill_" + std::to_string(n % 40);
    handle(event(name, {{"n", n}, {"label", std::string(100, 'x')}}, n % 3 == 0 ? "auto" : "app"));
    writeLine(fd, std::to_string(n));
  }
}

struct DrillResult {
  std::string dataDirectory;
  int64_t lastReported = 0;
};

// Runs the writer until it has reported `events` events, then kills it.
DrillResult runWriterAndKill(int64_t events) {
  DrillResult result;
  int pipeFds[2];
  EXPECT_EQ(::pipe(pipeFds), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeFds[0]);
    const int quiet = ::open("/dev/null", O_WRONLY);
    if (quiet >= 0) ::dup2(quiet, STDOUT_FILENO);
    ::setenv(kReportFdVariable, std::to_string(pipeFds[1]).c_str(), 1);
    const std::string filter = std::string("--gtest_filter=") + kWriterTest;
    ::execl("/proc/self/exe", "writer", filter.c_str(), "--gtest_also_run_disabled_tests",
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  std::string pending;
  char buffer[256];
  bool haveDirectory = false;
  while (result.lastReported < events) {
    const ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer);
    if (got <= 0) break;
    pending.append(buffer, static_cast<size_t>(got));
    size_t newline;
    while ((newline = pending.find('\n')) != std::string::npos) {
      const std::string line = pending.substr(0, newline);
      pending.erase(0, newline + 1);
      if (!haveDirectory) {
        result.dataDirectory = line;
        haveDirectory = true;
      } else {
        result.lastReported = std::stoll(line);
      }
    }
  }
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  ::close(pipeFds[0]);
  EXPECT_TRUE(WIFSIGNALED(status)) << "the writer ended by itself with status " << status;
  return result;
}

class PipelineKillDrill : public ::testing::Test {
 protected:
  foundation_test::DataDirectory data_;
};

TEST_F(PipelineKillDrill, EveryReportedEventSurvivesAndCountersAgreeWithRows) {
  std::random_device device;
  const unsigned seed = device();
  std::mt19937 random(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  for (int round = 0; round < 3; ++round) {
    const int64_t events = std::uniform_int_distribution<int64_t>(5, 120)(random);
    SCOPED_TRACE("killed after " + std::to_string(events));
    const DrillResult drill = runWriterAndKill(events);
    ASSERT_FALSE(drill.dataDirectory.empty());
    ASSERT_GE(drill.lastReported, events);

    // The files as the writer left them move into this test's data directory.
    const std::filesystem::path left = std::filesystem::path(drill.dataDirectory) / "Library" /
                                       "Application Support" / kGWLMeasurementDirectoryName / kGWLDatabaseFileName;
    const std::string path = GWLMeasurementDirectoryPath(kGWLDatabaseFileName);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
      std::filesystem::remove(path + suffix);
      if (std::filesystem::exists(left.string() + suffix)) {
        std::filesystem::copy_file(left.string() + suffix, path + suffix);
      }
    }
    std::filesystem::remove_all(std::filesystem::path(drill.dataDirectory).parent_path());

    platform::Error error;
    auto database = GWLDatabase::initWithDatabaseName(kGWLDatabaseFileName, nullptr, &error);
    ASSERT_TRUE(database) << error.toString();
    auto rows = database->allRawEventsWithError(&error);
    ASSERT_TRUE(rows) << error.toString();
    std::set<int64_t> numbers;
    std::set<std::string> names;
    for (const auto& row : *rows) {
      numbers.insert(row->rawEvent()->parameters().at("n").int64Value());
      names.insert(row->rawEvent()->name());
    }
    for (int64_t n = 1; n <= drill.lastReported; ++n) EXPECT_TRUE(numbers.contains(n)) << "event " << n;
    EXPECT_EQ(numbers.size(), rows->size()) << "no event stored twice";

    auto counts = database->dailyCounts(&error);
    ASSERT_TRUE(counts) << error.toString();
    EXPECT_EQ(counts->allEventsCount(), static_cast<int32_t>(rows->size()));
    int64_t publicRows = 0;
    for (const auto& row : *rows) publicRows += row->rawEvent()->name()[0] != '_' ? 1 : 0;
    EXPECT_EQ(counts->publicEventsCount(), publicRows);
    auto aggregates = database->allEventAggregates(&error);
    ASSERT_TRUE(aggregates) << error.toString();
    std::set<std::string> aggregateNames;
    for (const auto& aggregate : *aggregates) aggregateNames.insert(aggregate->name());
    EXPECT_EQ(aggregateNames, names) << "one aggregates row per stored name, and none more";
    database.reset();
  }
}

}  // namespace
}  // namespace measurement_test
