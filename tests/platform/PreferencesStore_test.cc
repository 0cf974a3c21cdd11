#include "platform/storage/PreferencesStore.h"

#include <gtest/gtest.h>

#include <fstream>

#include <atomic>
#include <thread>

#include "platform/TestSupport.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/env/AppEnvironment.h"
#include "platform/storage/AtomicFile.h"
#include "platform/storage/PropertyList.h"

namespace platform {
namespace {

class PreferencesStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PreferencesStore::resetForTesting();
    PreferencesStore::Configuration config;
    config.directory = scratch.path();
    config.applicationDomain = "com.halcyra.tabulo";
    config.clock = clock;
    config.queue = queue;
    PreferencesStore::configure(config);
  }
  void TearDown() override {
    setAtomicWriteHookForTesting(nullptr);
    PreferencesStore::resetForTesting();
  }

  // Moves the clock and runs what the timers posted.
  void advance(double seconds) {
    clock->advance(seconds);
    queue->flush();
  }

  std::string path(const std::string& suite) const { return scratch / (suite + ".plist"); }
  std::optional<Object> onDisk(const std::string& suite) const { return PropertyList::readFile(path(suite)); }
  // A store on the same file, as a later process would open it.
  std::shared_ptr<PreferencesStore> reopen(const std::string& suite) const {
    return PreferencesStore::create(suite, path(suite), clock, queue);
  }
  void countWrites() {
    setAtomicWriteHookForTesting([this](const std::string&) {
      ++writes;
      return true;
    });
  }

  testing::ScratchDirectory scratch;
  std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
  std::shared_ptr<SerialQueue> queue = SerialQueue::create("preferences-test");
  std::atomic<int> writes{0};
};

TEST_F(PreferencesStoreTest, ABurstOfChangesMakesOneWriteShortlyAfterTheFirst) {
  countWrites();
  auto defaults = PreferencesStore::standard();
  for (int i = 0; i < 10; ++i) {
    defaults->setInteger(i, "k" + std::to_string(i));
    advance(0.009);
  }
  EXPECT_EQ(writes, 0);  // 0.09 s after the first change
  EXPECT_FALSE(onDisk("com.halcyra.tabulo"));
  advance(0.011);
  EXPECT_EQ(writes, 1);
  ASSERT_TRUE(onDisk("com.halcyra.tabulo"));
  EXPECT_EQ(onDisk("com.halcyra.tabulo")->dictionaryValue()->size(), 10u);

  // Storing what is already stored, or removing what is absent, writes nothing.
  defaults->setInteger(9, "k9");
  defaults->removeObjectForKey("absent");
  EXPECT_EQ(clock->pendingCalls(), 0u);
  advance(1);
  EXPECT_EQ(writes, 1);

  // A later change makes a later write.
  defaults->removeObjectForKey("k0");
  advance(0.1);
  EXPECT_EQ(writes, 2);
  EXPECT_FALSE(onDisk("com.halcyra.tabulo")->find("k0"));
}

TEST_F(PreferencesStoreTest, SynchronizeWritesAtOnceAndSaysWhetherItReachedTheDisk) {
  countWrites();
  auto suite = PreferencesStore::suite("GWLExperimentSuiteName");
  EXPECT_TRUE(suite->synchronize());  // nothing to write
  EXPECT_EQ(writes, 0);
  EXPECT_TRUE(suite->setString("v", "k"));
  EXPECT_TRUE(suite->synchronize());
  EXPECT_EQ(writes, 1);
  EXPECT_EQ(clock->pendingCalls(), 0u);  // the delayed write is no longer needed
  EXPECT_EQ(reopen("GWLExperimentSuiteName")->stringForKey("k"), "v");

  // A directory that cannot be written: false, and the change stays pending.
  auto lost = PreferencesStore::create("lost", scratch / "missing/lost.plist", clock, queue);
  lost->setBool(true, "k");
  Error error;
  EXPECT_FALSE(lost->synchronize(&error));
  EXPECT_EQ(error.code, ENOENT);
  std::filesystem::create_directory(scratch / "missing");
  EXPECT_TRUE(lost->synchronize());
  EXPECT_TRUE(PreferencesStore::create("lost", scratch / "missing/lost.plist", clock, queue)->boolForKey("k"));

  auto memoryOnly = PreferencesStore::create("memory", "", clock, queue);
  memoryOnly->setBool(true, "k");
  EXPECT_TRUE(memoryOnly->boolForKey("k"));
  EXPECT_FALSE(memoryOnly->synchronize(&error));
  EXPECT_EQ(error.code, PreferencesStore::kNoStorage);
}

TEST_F(PreferencesStoreTest, TypedReadsConvertNumbersAndRefuseOtherKinds) {
  auto s = PreferencesStore::standard();
  s->setBool(true, "bool");
  s->setInteger(-7, "int");
  s->setDouble(2.75, "double");
  s->setDouble(1e300, "huge");
  EXPECT_TRUE(s->setString("12", "string"));
  EXPECT_TRUE(s->setData(Bytes{1, 2}, "data"));
  EXPECT_TRUE(s->setArray(Array{1, "a"}, "array"));
  EXPECT_TRUE(s->setDictionary(Dictionary{{"x", 1}}, "dict"));

  EXPECT_EQ(s->integerForKey("bool"), 1);
  EXPECT_EQ(s->integerForKey("double"), 2);
  EXPECT_EQ(s->integerForKey("huge"), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(s->integerForKey("string"), 0);  // a string is not a number
  EXPECT_EQ(s->integerForKey("absent"), 0);
  EXPECT_DOUBLE_EQ(s->doubleForKey("int"), -7.0);
  EXPECT_TRUE(s->boolForKey("int"));
  EXPECT_FALSE(s->boolForKey("data"));

  EXPECT_EQ(s->stringForKey("string"), "12");
  EXPECT_FALSE(s->stringForKey("int"));
  EXPECT_EQ(s->dataForKey("data"), (Bytes{1, 2}));
  EXPECT_FALSE(s->dataForKey("string"));
  EXPECT_EQ(s->arrayForKey("array"), (Array{1, "a"}));
  EXPECT_FALSE(s->arrayForKey("dict"));
  EXPECT_EQ(s->dictionaryForKey("dict"), (Dictionary{{"x", 1}}));
  EXPECT_EQ(s->objectForKey("bool"), Object(true));  // kinds stay apart

  ASSERT_TRUE(s->synchronize());
  auto later = reopen("com.halcyra.tabulo");
  for (const auto& key : s->keys()) EXPECT_EQ(later->objectForKey(key), s->objectForKey(key)) << key;

  // Setting null removes.
  EXPECT_TRUE(s->setObject(nullptr, "bool"));
  EXPECT_FALSE(s->objectForKey("bool"));
  s->removeObjectsForKeys(s->keys());
  EXPECT_TRUE(s->keys().empty());
}

TEST_F(PreferencesStoreTest, InvalidKeysAndValuesStoreNothing) {
  auto s = PreferencesStore::standard();
  Error error;
  EXPECT_FALSE(s->setObject(1, "", &error));
  EXPECT_EQ(error.code, PreferencesStore::kInvalidKey);
  EXPECT_FALSE(s->setObject(Array{1, nullptr}, "k", &error));
  EXPECT_EQ(error.code, PreferencesStore::kInvalidValue);
  EXPECT_FALSE(s->setString(std::string("a\0b", 3), "k", &error));
  EXPECT_TRUE(s->keys().empty());
  EXPECT_EQ(clock->pendingCalls(), 0u);
}

TEST_F(PreferencesStoreTest, RegisteredDefaultsAnswerButAreNeverWritten) {
  auto s = PreferencesStore::standard();
  s->registerDefaults({{"SEND_USAGE_DATA", true}});
  EXPECT_TRUE(s->boolForKey("SEND_USAGE_DATA"));
  EXPECT_TRUE(s->keys().empty());
  s->setBool(false, "DID_REQUEST");
  ASSERT_TRUE(s->synchronize());
  EXPECT_EQ(*onDisk("com.halcyra.tabulo"), Object(Dictionary{{"DID_REQUEST", false}}));

  // A stored value wins over the registered one; removing it brings it back.
  s->setBool(false, "SEND_USAGE_DATA");
  EXPECT_FALSE(s->boolForKey("SEND_USAGE_DATA"));
  s->removeObjectForKey("SEND_USAGE_DATA");
  EXPECT_TRUE(s->boolForKey("SEND_USAGE_DATA"));
}

TEST_F(PreferencesStoreTest, OneSharedStatePerSuiteName) {
  auto app = PreferencesStore::standard();
  EXPECT_EQ(PreferencesStore::suite(""), app);
  EXPECT_EQ(PreferencesStore::suite("com.halcyra.tabulo"), app);
  auto monitor = PreferencesStore::suite("com.halcyra.qrx.measurement.monitor");
  EXPECT_NE(monitor, app);
  EXPECT_EQ(PreferencesStore::suite("com.halcyra.qrx.measurement.monitor"), monitor);
  EXPECT_EQ(monitor->filePath(), path("com.halcyra.qrx.measurement.monitor"));

  for (const std::string& bad : std::vector<std::string>{".", "..", "a/b", std::string("a\0b", 3)}) {
    Error error;
    EXPECT_FALSE(PreferencesStore::suite(bad, &error)) << bad;
    EXPECT_EQ(error.code, PreferencesStore::kInvalidSuiteName);
  }

  app->setInteger(1, "a");
  monitor->setInteger(2, "b");
  EXPECT_TRUE(PreferencesStore::synchronizeAll());
  EXPECT_EQ(reopen("com.halcyra.tabulo")->integerForKey("a"), 1);
  EXPECT_EQ(reopen("com.halcyra.qrx.measurement.monitor")->integerForKey("b"), 2);
}

TEST_F(PreferencesStoreTest, AnUnreadableFileIsKeptWhereItIsUntilItIsSetAside) {
  const std::string cases[] = {
      "not a property list",
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><integer>1</integer></array></plist>",  // no dictionary
  };
  for (const auto& bytes : cases) {
    PreferencesStore::resetForTesting();
    SetUp();
    std::filesystem::remove_all(scratch.path());
    std::filesystem::create_directory(scratch.path());
    testing::writeFile(path("com.halcyra.tabulo"), bytes);

    log::ScopedCapture capture;
    auto s = PreferencesStore::standard();
    EXPECT_TRUE(s->loadFailed());
    EXPECT_TRUE(s->keys().empty());
    EXPECT_TRUE(capture.sink().contains("Cannot read preferences file"));
    // Reading and a clean synchronize leave the file alone.
    EXPECT_TRUE(s->synchronize());
    EXPECT_EQ(testing::readFile(path("com.halcyra.tabulo")), bytes);

    // Changes live in memory; no write reaches the file, however often it is tried.
    s->setBool(true, "DID_SHOW_INTRO");
    EXPECT_TRUE(s->boolForKey("DID_SHOW_INTRO"));
    for (int attempt = 0; attempt < 2; ++attempt) {
      Error error;
      EXPECT_FALSE(s->synchronize(&error));
      EXPECT_EQ(error.code, PreferencesStore::kUnreadableFileKept);
    }
    advance(1);  // the delayed write is refused as well
    EXPECT_EQ(testing::readFile(path("com.halcyra.tabulo")), bytes);
    EXPECT_FALSE(std::filesystem::exists(path("com.halcyra.tabulo") + ".corrupt-1"));

    // Set aside on request; from then on the suite is written as usual.
    ASSERT_TRUE(s->setAsideUnreadableFile());
    EXPECT_EQ(s->corruptFileCopyPath(), path("com.halcyra.tabulo") + ".corrupt-1");
    EXPECT_EQ(testing::readFile(path("com.halcyra.tabulo") + ".corrupt-1"), bytes);
    EXPECT_TRUE(capture.sink().contains("Kept the unreadable preferences file"));
    ASSERT_TRUE(s->synchronize());
    EXPECT_EQ(*onDisk("com.halcyra.tabulo"), Object(Dictionary{{"DID_SHOW_INTRO", true}}));
    EXPECT_TRUE(s->setAsideUnreadableFile());  // only once
    s->setBool(false, "DID_SHOW_INTRO");
    ASSERT_TRUE(s->synchronize());
    EXPECT_FALSE(std::filesystem::exists(path("com.halcyra.tabulo") + ".corrupt-2"));
  }
}

TEST_F(PreferencesStoreTest, AnEarlierCorruptCopyIsNotReplaced) {
  testing::writeFile(path("s") + ".corrupt-1", "first");
  testing::writeFile(path("s"), "second");
  auto s = PreferencesStore::suite("s");
  s->setInteger(1, "k");
  ASSERT_TRUE(s->setAsideUnreadableFile());
  ASSERT_TRUE(s->synchronize());
  EXPECT_EQ(testing::readFile(path("s") + ".corrupt-1"), "first");
  EXPECT_EQ(testing::readFile(path("s") + ".corrupt-2"), "second");
}

TEST_F(PreferencesStoreTest, TheWriterKeepsTheSuiteWithinWhatTheReaderAccepts) {
  auto s = PreferencesStore::standard();
  s->setBool(true, "flag");
  const size_t room = PropertyList::kMaximumSize - 4096;
  ASSERT_TRUE(s->setData(Bytes(room, 'x'), "big"));
  Error error;
  EXPECT_FALSE(s->setData(Bytes(8192, 'y'), "more", &error));
  EXPECT_EQ(error.code, PreferencesStore::kTooLarge);
  EXPECT_FALSE(s->setData(Bytes(room + 8192, 'x'), "big"));
  EXPECT_FALSE(s->objectForKey("more"));
  EXPECT_EQ(s->dataForKey("big")->size(), room);
  ASSERT_TRUE(s->synchronize());
  EXPECT_EQ(reopen("com.halcyra.tabulo")->dataForKey("big")->size(), room);
  // Replacing the large value with a smaller one makes room again.
  ASSERT_TRUE(s->setData(Bytes(16, 'x'), "big"));
  EXPECT_TRUE(s->setData(Bytes(8192, 'y'), "more"));

  // A file over the reader's limit is refused at opening and kept whole.
  const size_t size = PropertyList::kMaximumSize + 1;
  {
    std::ofstream out(path("over"), std::ios::binary);
    out << std::string(size, ' ');
  }
  auto over = PreferencesStore::suite("over");
  EXPECT_TRUE(over->loadFailed());
  EXPECT_EQ(over->loadError()->code, PropertyList::kTooLarge);
  over->setBool(true, "x");
  EXPECT_FALSE(over->synchronize());
  EXPECT_EQ(std::filesystem::file_size(path("over")), size);
}

TEST_F(PreferencesStoreTest, AWriteInterruptedBeforeItsRenameLeavesTheOldFile) {
  auto s = PreferencesStore::standard();
  EXPECT_TRUE(s->setString("old", "stage"));
  ASSERT_TRUE(s->synchronize());
  const std::string before = testing::readFile(path("com.halcyra.tabulo"));

  EXPECT_TRUE(s->setString("new", "stage"));
  setAtomicWriteHookForTesting([](const std::string&) { return false; });
  EXPECT_FALSE(s->synchronize());
  EXPECT_EQ(testing::readFile(path("com.halcyra.tabulo")), before);
  EXPECT_EQ(reopen("com.halcyra.tabulo")->stringForKey("stage"), "old");

  // Opening the suite cleared the leftover temporary file.
  for (const auto& entry : std::filesystem::directory_iterator(scratch.path())) {
    EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
  }
  setAtomicWriteHookForTesting(nullptr);
  EXPECT_TRUE(s->synchronize());  // still pending, written now
  EXPECT_EQ(reopen("com.halcyra.tabulo")->stringForKey("stage"), "new");
}

TEST_F(PreferencesStoreTest, WhatOneProcessWritesTheNextReads) {
  testing::ScratchDirectory data;
  const std::string file = data / "Library/Preferences/com.halcyra.tabulo.plist";
  auto written = testing::runChild(PREFERENCES_HELPER_PATH, {data.path(), "write"});
  ASSERT_EQ(written.exitCode, 0) << written.output;

  auto s = PreferencesStore::create("com.halcyra.tabulo", file, clock, queue);
  EXPECT_FALSE(s->loadFailed());
  EXPECT_TRUE(s->boolForKey("DID_SHOW_INTRO"));
  EXPECT_EQ(s->integerForKey("RELEVANT_ACTION_COUNT_VAR3"), 2);
  EXPECT_EQ(s->objectForKey("ratio"), Object(0.25));
  EXPECT_EQ(s->dataForKey("Persisted_Files"), (Bytes{'[', ']'}));
  EXPECT_EQ(s->objectForKey("when"), Object(Date{1'700'000'000.5}));

  // A process that dies between writing and renaming leaves the old file.
  const std::string before = testing::readFile(file);
  auto crashed = testing::runChild(PREFERENCES_HELPER_PATH, {data.path(), "crash"});
  EXPECT_EQ(crashed.exitCode, 3) << crashed.output;
  EXPECT_EQ(testing::readFile(file), before);
  EXPECT_EQ(PreferencesStore::create("com.halcyra.tabulo", file, clock, queue)->stringForKey("stage"), "old");
}

TEST_F(PreferencesStoreTest, ChangesFromManyThreadsAllReachTheFile) {
  auto s = PreferencesStore::suite("threads");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        s->setInteger(i, "t" + std::to_string(t) + "-" + std::to_string(i));
        if (i % 10 == 0) {
          EXPECT_TRUE(s->synchronize());
        }
      }
    });
  }
  for (int i = 0; i < 20; ++i) advance(0.05);  // delayed writes race the others
  for (auto& thread : threads) thread.join();
  ASSERT_TRUE(s->synchronize());
  EXPECT_EQ(reopen("threads")->keys().size(), 200u);
}

}  // namespace
}  // namespace platform
