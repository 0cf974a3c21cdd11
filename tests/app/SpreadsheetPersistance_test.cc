#include "app/SpreadsheetPersistance.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "AppTestSupport.h"
#include "app/RelevantActionCounter.h"
#include "app/SpreadsheetFileJSON.h"
#include "app/UserSettings.h"

namespace tabulo {
namespace {

using ::testing::ElementsAre;
using testing::MemoryUserDefaults;

platform::Bytes bytes(const std::string& text) { return platform::Bytes(text.begin(), text.end()); }

class SpreadsheetPersistanceTest : public ::testing::Test {
 protected:
  std::vector<std::string> storedTitles() const {
    std::vector<std::string> titles;
    for (const auto& file : store.loadFiles()) titles.push_back(file.title);
    return titles;
  }
  SpreadsheetFile document(const std::string& title) { return SpreadsheetFile(title, *clock); }

  std::shared_ptr<MemoryUserDefaults> defaults = std::make_shared<MemoryUserDefaults>();
  std::shared_ptr<platform::ManualClock> clock = std::make_shared<platform::ManualClock>(kReferenceDateOffsetFrom1970 + 1000);
  SpreadsheetPersistance store{defaults, clock};
};

TEST_F(SpreadsheetPersistanceTest, EmptyStoreAndCreateFile) {
  EXPECT_TRUE(store.loadFiles().empty());
  EXPECT_FALSE(store.readFiles().unreadable);
  ASSERT_TRUE(store.createFile("Budget"));
  auto files = store.loadFiles();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].title, "Budget");
  EXPECT_EQ(files[0].creationDate, 1000);
  EXPECT_EQ(testing::gridTexts(files[0]), testing::gridTexts(document("x")));
  // What was reported saved is what reached the disk.
  EXPECT_EQ(defaults->disk, defaults->values);
  EXPECT_TRUE(defaults->disk.at(SpreadsheetPersistance::storageKey).isBytes());
}

TEST_F(SpreadsheetPersistanceTest, SaveFileStampsAndMovesToTheEnd) {
  SpreadsheetFile a = document("A"), b = document("B"), c = document("C");
  ASSERT_TRUE(store.saveFiles({a, b, c}));
  clock->setNow(kReferenceDateOffsetFrom1970 + 5000.25);
  b.contents[1][1].text = "edited";
  ASSERT_TRUE(store.saveFile(b));
  EXPECT_THAT(storedTitles(), ElementsAre("A", "C", "B"));
  auto files = store.loadFiles();
  EXPECT_EQ(files[2].creationDate, 5000.25);
  EXPECT_EQ(files[2].contents[1][1].text, "edited");
  EXPECT_EQ(files[2].uuid, b.uuid);
  EXPECT_EQ(b.creationDate, 1000);  // the caller's copy is not stamped

  // A uuid held twice is held once afterwards, at the end; an unknown uuid is appended.
  ASSERT_TRUE(store.saveFiles({b, a, b, c}));
  ASSERT_TRUE(store.saveFile(b));
  EXPECT_THAT(storedTitles(), ElementsAre("A", "C", "B"));
  SpreadsheetFile d = document("D");
  ASSERT_TRUE(store.saveFile(d));
  EXPECT_THAT(storedTitles(), ElementsAre("A", "C", "B", "D"));
}

TEST_F(SpreadsheetPersistanceTest, AddAndRemove) {
  SpreadsheetFile a = document("A"), b = document("B"), c = document("C");
  a.creationDate = 42.5;
  ASSERT_TRUE(store.addFile(a));
  ASSERT_TRUE(store.addFile(b));
  ASSERT_TRUE(store.addFile(c));
  EXPECT_EQ(store.loadFiles()[0].creationDate, 42.5);
  ASSERT_TRUE(store.removeFile(b));
  EXPECT_THAT(storedTitles(), ElementsAre("A", "C"));
  ASSERT_TRUE(store.removeFile(b));
  EXPECT_THAT(storedTitles(), ElementsAre("A", "C"));
}

TEST_F(SpreadsheetPersistanceTest, FailuresAreReportedAndKeepTheStoredArray) {
  ASSERT_TRUE(store.createFile("A"));
  platform::Object before = defaults->values.at(SpreadsheetPersistance::storageKey);

  SpreadsheetFile broken = document("B");
  broken.rowHeights[0] = std::numeric_limits<float>::infinity();
  EXPECT_FALSE(store.saveFile(broken));
  EXPECT_FALSE(store.addFile(broken));
  EXPECT_EQ(defaults->values.at(SpreadsheetPersistance::storageKey), before);

  defaults->refuseWrites = true;
  EXPECT_FALSE(store.createFile("C"));
  EXPECT_EQ(defaults->values.at(SpreadsheetPersistance::storageKey), before);
  defaults->refuseWrites = false;

  defaults->failSynchronize = true;
  EXPECT_FALSE(store.createFile("C"));
  EXPECT_EQ(defaults->disk.at(SpreadsheetPersistance::storageKey), before);
}

TEST_F(SpreadsheetPersistanceTest, UnreadableStoreIsBackedUpBeforeItIsOverwritten) {
  SpreadsheetFile good = document("Good");
  std::string unreadable = *SpreadsheetFileJSON::encodeArray({good});
  unreadable.replace(unreadable.find("\"textAlignment\":0"), 17, "\"textAlignment\":3");
  const std::string older = "[not json";
  const struct {
    const char* name;
    platform::Object value;
  } cases[] = {
      {"not JSON", bytes("[{\"uuid\":")},
      {"alignment 3", bytes(unreadable)},
      {"not data", platform::Object("a string")},
  };
  for (const auto& c : cases) {
    defaults->values.clear();
    defaults->values["Persisted_Files.unreadable.1"] = bytes(older);
    defaults->values[SpreadsheetPersistance::storageKey] = c.value;

    auto read = store.readFiles();
    EXPECT_TRUE(read.unreadable) << c.name;
    EXPECT_FALSE(read.reason.empty()) << c.name;
    EXPECT_TRUE(read.files.empty()) << c.name;
    EXPECT_EQ(defaults->values.at(SpreadsheetPersistance::storageKey), c.value) << c.name;  // reading changes nothing

    ASSERT_TRUE(store.createFile("New")) << c.name;
    EXPECT_EQ(defaults->disk.at("Persisted_Files.unreadable.1"), platform::Object(bytes(older))) << c.name;
    EXPECT_EQ(defaults->disk.at("Persisted_Files.unreadable.2"), c.value) << c.name;
    EXPECT_THAT(storedTitles(), ElementsAre("New")) << c.name;
    EXPECT_FALSE(store.readFiles().unreadable) << c.name;

    ASSERT_TRUE(store.createFile("Next")) << c.name;  // readable again: no further backup
    EXPECT_FALSE(defaults->values.contains("Persisted_Files.unreadable.3")) << c.name;
  }
}

std::string storedText(const MemoryUserDefaults& defaults) {
  const platform::Bytes& stored = *defaults.values.at(SpreadsheetPersistance::storageKey).bytesValue();
  return std::string(stored.begin(), stored.end());
}

TEST_F(SpreadsheetPersistanceTest, ChangesSpliceTheStoredTextToTheBytesOfAWholeEncoding) {
  using Path = SpreadsheetPersistance::WritePath;
  std::vector<SpreadsheetFile> files;
  for (const char* title : {"First", "Middle", "Last"}) files.push_back(document(title));
  files[1].contents[2][2].text = "needs \"escapes\"\n";
  struct Case {
    const char* name;
    std::function<bool(std::vector<SpreadsheetFile>&)> change;  // on the store, and on `expected`
  };
  const Case cases[] = {
      {"save the first", [&](auto& expected) {
         SpreadsheetFile edited = expected[0];
         edited.contents[1][1].text = "edited";
         expected.erase(expected.begin());
         expected.push_back(edited);
         expected.back().creationDate = 2000;
         return store.saveFile(edited);
       }},
      {"save the middle", [&](auto& expected) {
         SpreadsheetFile edited = expected[1];
         edited.title = "Renamed";
         expected.erase(expected.begin() + 1);
         expected.push_back(edited);
         expected.back().creationDate = 2000;
         return store.saveFile(edited);
       }},
      {"save the last", [&](auto& expected) {
         SpreadsheetFile edited = expected[2];
         edited.mergedRanges.emplace_back(platform::Location{1, 1}, platform::Location{2, 2});
         expected.back() = edited;
         expected.back().creationDate = 2000;
         return store.saveFile(edited);
       }},
      {"add", [&](auto& expected) {
         SpreadsheetFile added = document("Added");
         expected.push_back(added);
         return store.addFile(added);
       }},
      {"remove the middle", [&](auto& expected) {
         SpreadsheetFile removed = expected[1];
         expected.erase(expected.begin() + 1);
         return store.removeFile(removed);
       }},
      {"remove all", [&](auto& expected) {
         std::vector<std::string> uuids;
         for (const auto& file : expected) uuids.push_back(file.uuid);
         expected.clear();
         return store.removeFiles(uuids);
       }},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(store.saveFiles(files));
    clock->setNow(kReferenceDateOffsetFrom1970 + 2000);
    std::vector<SpreadsheetFile> expected = files;
    ASSERT_TRUE(c.change(expected)) << c.name;
    EXPECT_EQ(store.lastWritePath(), Path::splice) << c.name;
    EXPECT_EQ(storedText(*defaults), *SpreadsheetFileJSON::encodeArray(expected)) << c.name;
    EXPECT_EQ(defaults->disk, defaults->values) << c.name;
    auto loaded = store.loadFiles();
    ASSERT_EQ(loaded.size(), expected.size()) << c.name;
    for (size_t i = 0; i < expected.size(); ++i) testing::expectIdentical(loaded[i], expected[i]);
  }
}

TEST_F(SpreadsheetPersistanceTest, ATextWrittenElsewhereIsSplicedOnceReadAndTakesTheFullPathUntilThen) {
  using Path = SpreadsheetPersistance::WritePath;
  SpreadsheetFile a = document("A"), b = document("B");
  const std::string canonical = *SpreadsheetFileJSON::encodeArray({a, b});
  // Spaced out by another writer: readable, but not this store's bytes.
  std::string spaced = canonical;
  spaced.insert(1, "\n  ");
  spaced.insert(spaced.find(",{"), " ");
  // A uuid written with an escape, and a duplicate key whose last value counts.
  std::string escaped = canonical;
  escaped.replace(escaped.find(a.uuid), 1, "\\u00" + std::to_string(static_cast<int>(a.uuid[0]) / 16) +
                                              std::string(1, "0123456789abcdef"[a.uuid[0] % 16]));
  escaped.insert(1 + escaped.find('{', 1), "\"uuid\":\"dropped\",");
  SpreadsheetFile edited = b;
  edited.contents[1][1].text = "edited";
  for (const std::string& stored : {spaced, escaped}) {
    // Changed behind the store's back: the full path, and this store's bytes.
    defaults->values[SpreadsheetPersistance::storageKey] = bytes(stored);
    ASSERT_TRUE(store.saveFile(edited)) << stored;
    EXPECT_EQ(store.lastWritePath(), Path::full) << stored;
    SpreadsheetFile saved = edited;
    saved.creationDate = 1000;
    EXPECT_EQ(storedText(*defaults), *SpreadsheetFileJSON::encodeArray({a, saved})) << stored;
    ASSERT_TRUE(store.removeFile(a));
    EXPECT_EQ(store.lastWritePath(), Path::splice);
    EXPECT_EQ(storedText(*defaults), *SpreadsheetFileJSON::encodeArray({saved}));

    // Read first: the save splices, and the kept document keeps the text it was read from.
    defaults->values[SpreadsheetPersistance::storageKey] = bytes(stored);
    ASSERT_EQ(store.loadFiles().size(), 2u) << stored;
    ASSERT_TRUE(store.saveFile(edited)) << stored;
    EXPECT_EQ(store.lastWritePath(), Path::splice) << stored;
    std::vector<SpreadsheetFileJSON::Span> spans;
    ASSERT_TRUE(SpreadsheetFileJSON::decodeArray(stored, nullptr, &spans));
    EXPECT_EQ(storedText(*defaults), "[" + stored.substr(spans[0].begin, spans[0].end - spans[0].begin) + "," +
                                         *SpreadsheetFileJSON::encode(saved) + "]");
    // The store answers what the spliced text holds, read once or again, and splices on.
    for (int read = 0; read < 2; ++read) {
      auto loaded = store.loadFiles();
      ASSERT_EQ(loaded.size(), 2u);
      testing::expectIdentical(loaded[0], a);
      testing::expectIdentical(loaded[1], saved);
    }
    ASSERT_TRUE(store.removeFile(saved));
    EXPECT_EQ(store.lastWritePath(), Path::splice);
    EXPECT_EQ(storedText(*defaults), "[" + stored.substr(spans[0].begin, spans[0].end - spans[0].begin) + "]");
    ASSERT_EQ(store.loadFiles().size(), 1u);
    testing::expectIdentical(store.loadFiles()[0], a);
  }
}

TEST(UserSettings, FlagsDefaultToFalseExceptUsageData) {
  auto defaults = std::make_shared<MemoryUserDefaults>();
  UserSettings settings(defaults);
  EXPECT_TRUE(defaults->boolForKey(UserSettings::sendUsageDataKey));
  EXPECT_FALSE(defaults->boolForKey(UserSettings::achievedSuccessKey));
  EXPECT_FALSE(defaults->boolForKey(UserSettings::didRequestKey));
  EXPECT_FALSE(defaults->boolForKey(UserSettings::didShowIntroKey));
  EXPECT_TRUE(defaults->values.empty());  // the registered default is not stored

  defaults->setBool(false, settings.sendUsageDataKey);
  defaults->setBool(true, settings.didShowIntroKey);
  EXPECT_FALSE(defaults->boolForKey("SEND_USAGE_DATA"));
  EXPECT_TRUE(defaults->boolForKey("DID_SHOW_INTRO"));
}

TEST(RelevantActionCounter, AnswersTrueOnceInTheSecondProcessThatAsks) {
  MemoryUserDefaults defaults;
  const std::string key = kRelevantActionCountKey;
  {
    RelevantActionCounter firstLaunch;
    EXPECT_FALSE(firstLaunch.reached(defaults, key));
    for (int i = 0; i < 10; ++i) EXPECT_FALSE(firstLaunch.reached(defaults, key));
    EXPECT_EQ(defaults.integerForKey(key), 1);
  }
  {
    RelevantActionCounter secondLaunch;
    EXPECT_TRUE(secondLaunch.reached(defaults, key));
    EXPECT_FALSE(secondLaunch.reached(defaults, key));
    EXPECT_EQ(defaults.integerForKey(key), 2);
  }
  {
    RelevantActionCounter thirdLaunch;
    EXPECT_FALSE(thirdLaunch.reached(defaults, key));
    EXPECT_EQ(defaults.integerForKey(key), 3);
  }
}

}  // namespace
}  // namespace tabulo
