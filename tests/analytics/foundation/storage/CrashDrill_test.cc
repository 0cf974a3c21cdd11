#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "DatabaseTestSupport.h"
#include "analytics/foundation/storage/GWLRawEventData.h"
#include "analytics/foundation/values/GWLEvent.h"

namespace {

// A writer process killed in the middle of its work leaves every event it
// had committed readable, and the database opens as usual.
class CrashDrillTest : public database_test::DatabaseTest {};

TEST_F(CrashDrillTest, KilledWriterLeavesEveryCommittedEventReadable) {
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  // The writer locks a data directory of its own.
  foundation_test::ScratchDirectory writerData;
  const std::string dataDirectory = writerData.path().string();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::dup2(pipeFds[1], STDOUT_FILENO);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    ::execl(DATABASE_WRITER_PATH, DATABASE_WRITER_PATH, dataDirectory.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  // Read the numbers of committed events until enough are in, then kill the
  // writer wherever it is.
  int64_t lastCommitted = 0;
  std::string pending;
  char buffer[256];
  while (lastCommitted < 300) {
    const ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer);
    if (got <= 0) break;
    pending.append(buffer, static_cast<size_t>(got));
    size_t newline;
    while ((newline = pending.find('\n')) != std::string::npos) {
      lastCommitted = std::stoll(pending.substr(0, newline));
      pending.erase(0, newline + 1);
    }
  }
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  ::close(pipeFds[0]);
  ASSERT_TRUE(WIFSIGNALED(status)) << "writer ended by itself with status " << status;
  ASSERT_GE(lastCommitted, 300);

  // The files as the killed writer left them (database, log and index) move
  // into this test's data directory.
  const std::filesystem::path left =
      writerData.path() / "Library" / "Application Support" / kGWLMeasurementDirectoryName / kGWLDatabaseFileName;
  std::filesystem::create_directories(std::filesystem::path(path()).parent_path());
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    const std::string from = left.string() + suffix;
    if (std::filesystem::exists(from)) std::filesystem::copy_file(from, path() + suffix);
  }
  platform::Error error;
  ASSERT_TRUE(open(&error)) << error.toString();
  setSettings({{kGWLSettingMaxEventsStored, "1000000"}});
  auto events = database_->allRawEventsWithError(&error);
  ASSERT_TRUE(events) << error.toString();
  ASSERT_GE(static_cast<int64_t>(events->size()), lastCommitted);
  for (int64_t i = 0; i < static_cast<int64_t>(events->size()); ++i) {
    const auto& record = (*events)[static_cast<size_t>(i)];
    EXPECT_EQ(record->rawEvent()->parameters().at("n"), GWLValue::initWithInt64(i + 1));
  }
}

}  // namespace
