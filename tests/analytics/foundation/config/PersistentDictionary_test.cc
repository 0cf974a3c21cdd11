#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>

#include "../FoundationTestSupport.h"
#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/config/GWLPersistentDictionary.h"
#include "platform/core/Log.h"
#include "platform/dispatch/NotificationCenter.h"
#include "platform/storage/AtomicFile.h"
#include "platform/storage/PropertyList.h"

namespace {

namespace fs = std::filesystem;

class PersistentDictionaryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::setAtomicWriteHookForTesting([this](const std::string& temporaryPath) {
      if (temporaryPath.find(prefix_) == std::string::npos) return true;
      ++writes_;
      return !interruptWrites_.load();
    });
  }
  void TearDown() override { platform::setAtomicWriteHookForTesting(nullptr); }

  std::shared_ptr<GWLPersistentDictionary> open() {
    return GWLPersistentDictionary::createAtPath(path_, clock_, center_);
  }
  // Moves the clock and waits for the writes that became due.
  void advance(const std::shared_ptr<GWLPersistentDictionary>& dictionary, double seconds) {
    clock_->advance(seconds);
    dictionary->flush();
  }
  std::optional<platform::Object> fileContent() { return platform::PropertyList::readFile(path_); }

  foundation_test::ScratchDirectory tmp_;
  std::string path_ = (tmp_.path() / "Halcyra" / "Measurement" / "settings.plist").string();
  std::string prefix_ = fs::path(platform::atomicWriteTemporaryPrefix(path_)).filename().string();
  std::shared_ptr<platform::ManualClock> clock_ = std::make_shared<platform::ManualClock>();
  std::shared_ptr<platform::NotificationCenter> center_ = platform::NotificationCenter::create();
  std::atomic<int> writes_{0};
  std::atomic<bool> interruptWrites_{false};
};

TEST_F(PersistentDictionaryTest, BurstOfChangesMakesOneWriteASecondAfterTheFirst) {
  auto dictionary = open();
  ASSERT_TRUE(dictionary);
  for (int i = 0; i < 10; ++i) {
    dictionary->setInteger(i, "key" + std::to_string(i));
    advance(dictionary, 0.02);
  }
  EXPECT_EQ(writes_, 0);
  advance(dictionary, 0.81);  // just past one second after the first change
  EXPECT_EQ(writes_, 1);
  auto content = fileContent();
  ASSERT_TRUE(content && content->dictionaryValue());
  EXPECT_EQ(content->dictionaryValue()->size(), 10u) << "the file holds all ten";
  advance(dictionary, 5);
  EXPECT_EQ(writes_, 1);
}

TEST_F(PersistentDictionaryTest, UnchangedValuesScheduleNoWrite) {
  auto dictionary = open();
  dictionary->setObject("v", "k");
  advance(dictionary, 1);
  ASSERT_EQ(writes_, 1);
  dictionary->setObject("v", "k");
  dictionary->removeObjectForKey("absent");
  dictionary->clearAllData();  // one real change
  dictionary->clearAllData();
  advance(dictionary, 1);
  EXPECT_EQ(writes_, 2);
  EXPECT_EQ(fileContent(), platform::Object(platform::Dictionary{}));
}

TEST_F(PersistentDictionaryTest, ValuesSurviveARestart) {
  {
    auto dictionary = open();
    dictionary->setObject(platform::Dictionary{{"nested", platform::Array{1, 2.5, true}}}, "dict");
    dictionary->setObject(platform::Date{1700000000.25}, "date");
    dictionary->setObject(platform::Bytes{1, 2, 3}, "data");
    dictionary->setDouble(0.1, "double");
  }  // dropped with a write pending: written at once
  auto reopened = open();
  EXPECT_EQ(reopened->dictionaryForKey("dict"),
            (platform::Dictionary{{"nested", platform::Array{1, 2.5, true}}}));
  EXPECT_EQ(reopened->objectForKey("date"), platform::Object(platform::Date{1700000000.25}));
  EXPECT_EQ(reopened->objectForKey("data"), platform::Object(platform::Bytes{1, 2, 3}));
  EXPECT_EQ(reopened->doubleForKey("double"), 0.1);
}

TEST_F(PersistentDictionaryTest, WriteInterruptedBeforeItsRenameKeepsTheOldFile) {
  {
    auto dictionary = open();
    dictionary->setObject("old", "k");
    ASSERT_TRUE(dictionary->synchronize());
    interruptWrites_ = true;  // the process "dies" after writing the temporary file
    dictionary->setObject("new", "k");
    platform::log::ScopedCapture capture;
    EXPECT_FALSE(dictionary->synchronize());
    EXPECT_EQ(capture.sink().lines(), std::vector<std::string>{"I-ACS043000 Cannot persist configs to disk"});
  }
  interruptWrites_ = false;
  auto reopened = open();
  EXPECT_EQ(reopened->stringForKey("k"), "old");
  EXPECT_EQ(reopened->setAsidePath(), std::nullopt) << "the old file is whole";
  reopened->setObject("newer", "k");
  EXPECT_TRUE(reopened->synchronize());
  EXPECT_EQ(open()->stringForKey("k"), "newer");
}

TEST_F(PersistentDictionaryTest, UnreadableFileIsSetAsideNotOverwritten) {
  fs::create_directories(fs::path(path_).parent_path());
  for (const std::string& bytes : {std::string("not a property list"),
                                   std::string("<?xml version=\"1.0\"?><plist><array/></plist>")}) {
    std::ofstream(path_, std::ios::binary) << bytes;
    platform::log::ScopedCapture capture;
    auto dictionary = open();
    ASSERT_TRUE(dictionary);
    EXPECT_FALSE(dictionary->objectForKey("k"));
    ASSERT_TRUE(dictionary->setAsidePath());
    std::ifstream aside(*dictionary->setAsidePath(), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(aside), {}), bytes) << "the bytes are kept";
    EXPECT_TRUE(capture.sink().contains("Cannot read config plist file; moved it aside to"));

    dictionary->setObject("fresh", "k");
    EXPECT_TRUE(dictionary->synchronize());
    EXPECT_EQ(open()->stringForKey("k"), "fresh");
    fs::remove(*dictionary->setAsidePath());
  }
}

TEST_F(PersistentDictionaryTest, SynchronizeAndShutdownWriteAtOnce) {
  auto dictionary = open();
  dictionary->setObject("a", "k");
  EXPECT_TRUE(dictionary->synchronize());
  EXPECT_EQ(writes_, 1);
  EXPECT_TRUE(dictionary->synchronize()) << "nothing pending: the file already holds the content";
  EXPECT_EQ(writes_, 1);

  dictionary->setObject("b", "k");
  center_->post(platform::kApplicationWillTerminateNotification);
  EXPECT_EQ(writes_, 2);
  EXPECT_EQ(fileContent(), platform::Object(platform::Dictionary{{"k", "b"}}));
  advance(dictionary, 2);
  EXPECT_EQ(writes_, 2) << "the delayed write finds nothing new";
}

TEST_F(PersistentDictionaryTest, RefusesBadKeysAndValuesAndReadsByKind) {
  platform::log::ScopedCapture capture;
  auto dictionary = open();
  dictionary->setObject("x", "");
  EXPECT_FALSE(dictionary->objectForKey(""));
  dictionary->setObject(platform::Array{platform::Object()}, "k");
  EXPECT_FALSE(dictionary->objectForKey("k"));
  EXPECT_EQ(capture.sink().lines(),
            (std::vector<std::string>{
                "I-ACS043002 Cannot set object for invalid config key.",
                "I-ACS043001 Cannot get object for invalid config key.",
                "I-ACS043003 Cannot set invalid object to config. Must be a string, number, array, dictionary, date, "
                "or data. Value [null]"}));

  dictionary->setInteger(5, "number");
  dictionary->setObject("5", "text");
  EXPECT_EQ(dictionary->stringForKey("number"), std::nullopt);
  EXPECT_EQ(dictionary->integerForKey("text"), 0);
  EXPECT_EQ(dictionary->doubleForKey("number"), 5.0);
  EXPECT_TRUE(dictionary->boolForKey("number"));
  dictionary->setDouble(1e300, "huge");
  EXPECT_EQ(dictionary->integerForKey("huge"), INT64_MAX);

  platform::Array items{1, 2};
  dictionary->setObject(items, "array");
  items.push_back(3);  // the stored value is a copy
  EXPECT_EQ(dictionary->arrayForKey("array"), (platform::Array{1, 2}));
}

// The settings dictionary and the preferences suites answer typed reads alike:
// the number's value, a bool as 1 or 0, nothing for what is no number.
TEST_F(PersistentDictionaryTest, TypedReadsAnswerAsThePreferencesSuitesDo) {
  auto dictionary = open();
  auto suite = foundation_test::suiteIn(tmp_.path(), "typed.reads");
  struct Case {
    const char* name;
    platform::Object value;
    int64_t integer;
    double number;
    bool flag;
  };
  const Case cases[] = {
      {"true", true, 1, 1.0, true},
      {"false", false, 0, 0.0, false},
      {"zero", 0, 0, 0.0, false},
      {"half", 0.5, 0, 0.5, true},
      {"negative", -2.75, -2, -2.75, true},
      {"huge", 1e300, INT64_MAX, 1e300, true},
      {"text", "1", 0, 0.0, false},
  };
  for (const Case& c : cases) {
    dictionary->setObject(c.value, c.name);
    suite->setObject(c.value, c.name);
  }
  for (const Case& c : cases) {
    EXPECT_EQ(dictionary->integerForKey(c.name), c.integer) << c.name;
    EXPECT_EQ(suite->integerForKey(c.name), c.integer) << c.name;
    EXPECT_EQ(dictionary->doubleForKey(c.name), c.number) << c.name;
    EXPECT_EQ(suite->doubleForKey(c.name), c.number) << c.name;
    EXPECT_EQ(dictionary->boolForKey(c.name), c.flag) << c.name;
    EXPECT_EQ(suite->boolForKey(c.name), c.flag) << c.name;
  }
  EXPECT_FALSE(dictionary->boolForKey("absent"));
  EXPECT_FALSE(suite->boolForKey("absent"));
}

TEST_F(PersistentDictionaryTest, NoDictionaryWithoutNameOrDataDirectory) {
  platform::Paths::setCurrent(nullptr);
  platform::log::ScopedCapture capture;
  EXPECT_EQ(GWLPersistentDictionary::create(""), nullptr);
  GWLMeasurementRegistry::resetForTesting(foundation_test::MonitorSetup().make());
  EXPECT_EQ(GWLPersistentDictionary::create("settings"), nullptr);
  GWLMeasurementRegistry::resetForTesting();
}

}  // namespace
