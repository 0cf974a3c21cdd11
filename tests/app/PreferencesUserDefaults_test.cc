#include "app/PreferencesUserDefaults.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <random>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "app/RelevantActionCounter.h"
#include "app/SpreadsheetPersistance.h"
#include "app/UserSettings.h"

namespace tabulo {
namespace {

using ::testing::ElementsAre;

// One "launch": the app's suite opened afresh from its file. No delayed writes
// are scheduled (no queue), so only synchronize() puts bytes on disk.
std::shared_ptr<PreferencesUserDefaults> launch(const std::filesystem::path& plist) {
  return std::make_shared<PreferencesUserDefaults>(
      platform::PreferencesStore::create("app", plist.string(), platform::Clock::system(), nullptr));
}

std::filesystem::path freshPlist(const std::string& name) {
  const char* base = std::getenv("TABULO_TEST_TMP");
  std::filesystem::path directory = std::filesystem::path(base ? base : "/tmp") / ("defaults-" + name);
  std::filesystem::remove_all(directory);
  std::filesystem::create_directories(directory);
  return directory / "app.plist";
}

TEST(PreferencesUserDefaultsDeathTest, AReportedSaveSurvivesTheProcessBeingKilled) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  std::filesystem::path plist = freshPlist("killed");
  auto clock = std::make_shared<platform::ManualClock>(kReferenceDateOffsetFrom1970 + 60);
  SpreadsheetFile file("Kept", *clock);
  file.uuid = "6B1D6A4E-2F7C-4E55-9C0B-1D2E3F405162";  // the child re-runs this test: same document there
  file.contents[2][2].text = "typed just before the crash";

  EXPECT_EXIT(
      {
        SpreadsheetPersistance store(launch(plist), clock);
        if (!store.saveFile(file)) std::_Exit(1);
        std::raise(SIGKILL);  // nothing is flushed or destroyed after the save answered
      },
      ::testing::KilledBySignal(SIGKILL), "");

  SpreadsheetPersistance reopened(launch(plist), clock);
  auto files = reopened.loadFiles();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].uuid, file.uuid);
  EXPECT_EQ(files[0].contents[2][2].text, "typed just before the crash");
  EXPECT_EQ(files[0].creationDate, 60);
}

// Starts the store helper on `plist`, lets it answer `saves` saves, then
// kills it, wherever it is in the next save.
void killDuringRepeatedSaves(const std::filesystem::path& plist, int saves) {
  int output[2];
  ASSERT_EQ(::pipe(output), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, output[0]);
  std::string helper = STORE_HELPER_PATH;
  std::string path = plist.string();
  char* argv[] = {helper.data(), path.data(), nullptr};
  pid_t child = 0;
  ASSERT_EQ(posix_spawn(&child, helper.c_str(), &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(output[1]);
  int lines = 0;
  char c;
  while (lines < saves && ::read(output[0], &c, 1) == 1) {
    if (c == '\n') ++lines;
  }
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  ::close(output[0]);
  ASSERT_EQ(lines, saves) << "the helper stopped on its own";
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}

TEST(PreferencesUserDefaults, KillingTheAppDuringRepeatedSavesLeavesAReadableStore) {
  std::filesystem::path plist = freshPlist("drill");
  auto clock = std::make_shared<platform::ManualClock>();
  std::mt19937 random(11);
  for (int round = 0; round < 12; ++round) {
    const int saves = 1 + static_cast<int>(random() % 6);
    killDuringRepeatedSaves(plist, saves);
    auto defaults = launch(plist);
    SpreadsheetPersistance store(defaults, clock);
    auto read = store.readFiles();
    ASSERT_FALSE(read.unreadable) << read.reason;
    ASSERT_EQ(read.files.size(), 2u) << "round " << round;
    EXPECT_EQ(read.files[0].title, "Kept");
    EXPECT_EQ(read.files[1].title, "Edited");
    const std::string& text = read.files[1].contents[1][1].text;
    ASSERT_TRUE(text.starts_with("save ")) << text;
    EXPECT_GE(std::stoi(text.substr(5)), saves) << "a save that answered true was lost";
    for (const auto& entry : std::filesystem::directory_iterator(plist.parent_path())) {
      EXPECT_EQ(entry.path(), plist) << "left behind: " << entry.path();
    }
  }
}

TEST(PreferencesUserDefaults, DataIsMovedThroughTheSuiteNotCopied) {
  std::filesystem::path plist = freshPlist("moved");
  auto defaults = launch(plist);
  platform::Bytes data(1 << 20, '7');
  const uint8_t* where = data.data();
  ASSERT_TRUE(defaults->setData(std::move(data), SpreadsheetPersistance::storageKey));
  std::shared_ptr<const platform::Object> stored = defaults->sharedObjectForKey(SpreadsheetPersistance::storageKey);
  ASSERT_TRUE(stored && stored->bytesValue());
  EXPECT_EQ(stored->bytesValue()->data(), where);
  EXPECT_EQ(defaults->sharedObjectForKey(SpreadsheetPersistance::storageKey), stored);
  ASSERT_TRUE(defaults->synchronize());
  EXPECT_EQ(defaults->sharedObjectForKey(SpreadsheetPersistance::storageKey), stored);
  EXPECT_EQ(launch(plist)->dataForKey(SpreadsheetPersistance::storageKey), *stored->bytesValue());
}

TEST(PreferencesUserDefaults, FlagsAndCounterAcrossLaunches) {
  std::filesystem::path plist = freshPlist("launches");
  const std::string key = kRelevantActionCountKey;
  std::vector<bool> answers;
  for (int run = 0; run < 3; ++run) {
    auto defaults = launch(plist);
    UserSettings settings(defaults);
    if (run == 0) {
      EXPECT_TRUE(defaults->boolForKey(settings.sendUsageDataKey));
      EXPECT_FALSE(defaults->boolForKey(settings.didShowIntroKey));
      defaults->setBool(true, settings.didShowIntroKey);
      defaults->setBool(false, settings.sendUsageDataKey);
    } else {
      EXPECT_TRUE(defaults->boolForKey(settings.didShowIntroKey));
      EXPECT_FALSE(defaults->boolForKey(settings.sendUsageDataKey));
    }
    RelevantActionCounter counter;
    answers.push_back(counter.reached(*defaults, key));
    answers.push_back(counter.reached(*defaults, key));
    ASSERT_TRUE(defaults->synchronize());
  }
  EXPECT_THAT(answers, ElementsAre(false, false, true, false, false, false));
  EXPECT_EQ(launch(plist)->integerForKey(key), 3);
}

TEST(PreferencesUserDefaults, UnreadableDocumentsAreKeptOnDisk) {
  std::filesystem::path plist = freshPlist("unreadable");
  auto clock = std::make_shared<platform::ManualClock>();
  {
    auto defaults = launch(plist);
    ASSERT_TRUE(defaults->setData({'[', '{'}, SpreadsheetPersistance::storageKey));
    ASSERT_TRUE(defaults->synchronize());
  }
  {
    SpreadsheetPersistance store(launch(plist), clock);
    EXPECT_TRUE(store.readFiles().unreadable);
    ASSERT_TRUE(store.createFile("New"));
  }
  auto defaults = launch(plist);
  EXPECT_EQ(defaults->dataForKey("Persisted_Files.unreadable.1"), (platform::Bytes{'[', '{'}));
  EXPECT_EQ(SpreadsheetPersistance(defaults, clock).loadFiles().size(), 1u);
}

}  // namespace
}  // namespace tabulo
