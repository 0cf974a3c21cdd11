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
#include "app/AppServices.h"
#include "app/MenuViewModel.h"
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

// The document list over a store on `defaults`, as the app builds it.
struct ListOnDisk {
  explicit ListOnDisk(std::shared_ptr<PreferencesUserDefaults> userDefaults)
      : defaults(std::move(userDefaults)),
        store(std::make_shared<SpreadsheetPersistance>(defaults, clock)),
        model(MenuViewModel::make(AppServices::make(
            store, defaults, std::make_shared<TabuloIO>(fileSystem, clock), std::make_shared<RelevantActionCounter>(),
            platform::UIEnvironment::makeHeadless().environment, std::make_shared<platform::Application>()))) {
    defaults->setBool(true, UserSettings::didShowIntroKey);
  }
  std::vector<std::string> titles() const {
    std::vector<std::string> result;
    for (const auto& file : model->tabulo) result.push_back(file.title);
    return result;
  }

  testing::TemporaryDirectory outputs;
  std::shared_ptr<platform::FileSystem> fileSystem = std::make_shared<platform::FileSystem>(outputs.path());
  std::shared_ptr<platform::ManualClock> clock = std::make_shared<platform::ManualClock>();
  std::shared_ptr<PreferencesUserDefaults> defaults;
  std::shared_ptr<SpreadsheetPersistance> store;
  std::shared_ptr<MenuViewModel> model;
};

TEST(PreferencesUserDefaults, AnImportTheStoreCannotHoldIsRefusedAndEveryDocumentStays) {
  std::filesystem::path plist = freshPlist("import");
  const std::filesystem::path folder = plist.parent_path();
  {
    ListOnDisk list(launch(plist));
    ASSERT_TRUE(list.store->createFile("Earlier"));
    std::string big = "big\n" + std::string(40u << 20, 'x');
    testing::writeFile(folder / "Big.csv", big);
    list.model->openFiles({folder / "Big.csv"});
    ASSERT_FALSE(list.model->alert) << list.model->alert->message;
    ASSERT_EQ(list.titles(), (std::vector<std::string>{"Earlier", "Big"}));

    // An ordinary export of 100,000 rows x 10 columns: more cells than a store holds.
    std::string rows;
    for (int r = 0; r < 100'000; ++r) rows += "1,2,3,4,5,6,7,8,9,10\n";
    testing::writeFile(folder / "Rows.csv", rows);
    // One field that fits the import's bounds but not the store beside "Big".
    testing::writeFile(folder / "Field.csv", std::string(30u << 20, 'y'));
    for (const char* name : {"Rows.csv", "Field.csv"}) {
      list.model->alert.reset();
      list.model->openFiles({folder / name});
      ASSERT_TRUE(list.model->alert) << name;
      EXPECT_EQ(list.model->alert->title, "Cannot Import File") << name;
      EXPECT_EQ(list.titles(), (std::vector<std::string>{"Earlier", "Big"})) << name;
    }
    EXPECT_THAT(list.model->alert->message, ::testing::HasSubstr("larger than"));
  }
  ListOnDisk restarted(launch(plist));
  restarted.model->onAppear();
  EXPECT_FALSE(restarted.model->alert);
  EXPECT_EQ(restarted.titles(), (std::vector<std::string>{"Earlier", "Big"}));
}

TEST(PreferencesUserDefaults, AStoreOverTheBudgetIsKeptUntouchedUntilThePersonStartsOver) {
  std::filesystem::path plist = freshPlist("over");
  // Written by hand: a property list larger than any the app reads.
  const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                           "<key>Persisted_Files</key><data>";
  const std::string tail = "W10=</data></dict></plist>\n";
  const std::string bytes = head + std::string(platform::PropertyList::kMaximumSize, '\n') + tail;
  testing::writeFile(plist, bytes);

  ListOnDisk list(launch(plist));
  list.model->onAppear();
  ASSERT_TRUE(list.model->alert);
  EXPECT_EQ(list.model->alert->title, "Cannot Read Documents");
  EXPECT_TRUE(list.model->alert->offersStartOver);
  EXPECT_TRUE(list.model->tabulo.empty());

  // Nothing is written: not a new document, not a flag.
  list.model->dismissAlert();
  list.model->newFileName = "New";
  list.model->createNewFile();
  ASSERT_TRUE(list.model->alert);
  EXPECT_EQ(list.model->alert->title, "Cannot Save Documents");
  EXPECT_FALSE(list.defaults->synchronize());
  EXPECT_EQ(std::filesystem::file_size(plist), bytes.size());
  EXPECT_TRUE(testing::readFile(plist) == bytes);

  // Starting over keeps the file whole beside the new store.
  list.model->startOver();
  EXPECT_FALSE(list.model->alert);
  EXPECT_TRUE(testing::readFile(plist.string() + ".corrupt-1") == bytes);
  list.model->newFileName = "New";
  list.model->createNewFile();
  EXPECT_FALSE(list.model->alert);
  ListOnDisk restarted(launch(plist));
  restarted.model->onAppear();
  EXPECT_EQ(restarted.titles(), std::vector<std::string>{"New"});
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
