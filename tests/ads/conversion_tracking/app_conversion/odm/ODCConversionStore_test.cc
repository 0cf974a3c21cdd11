// The conversion layer's store: typed keys, writes only on a change, the file
// read back by a new store, and the directory that cannot be made.
#include "ads/conversion_tracking/app_conversion/odm/ODCConversionStore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <string>

#include "platform/core/Log.h"
#include "platform/storage/PropertyList.h"
#include "tests/platform/TestSupport.h"

namespace {

// Identifies the file's current version: an atomic rewrite puts a new inode
// in place, so an unchanged inode means the file was not rewritten.
ino_t Inode(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

platform::Dictionary FileContent(const std::string& path) {
  auto read = platform::PropertyList::readFile(path);
  const platform::Dictionary* dictionary = read ? read->dictionaryValue() : nullptr;
  return dictionary ? *dictionary : platform::Dictionary{};
}

bool Logged(platform::log::ScopedCapture& capture, const std::string& code) {
  for (const auto& record : capture.sink().records()) {
    if (record.code == code) return true;
  }
  return false;
}

class ODCConversionStoreTest : public ::testing::Test {
 protected:
  std::string FilePath() const {
    return scratch_ / "Halcyra/Ads/OnDeviceConversion/com.halcyra.ads.on_device_conversion.plist";
  }
  std::shared_ptr<ODCConversionStore> MakeStore() { return ODCConversionStore::create(scratch_.path()); }

  platform::testing::ScratchDirectory scratch_;
};

TEST_F(ODCConversionStoreTest, KeepsEveryKeyInTheFileAndANewStoreReadsIt) {
  auto store = MakeStore();
  ASSERT_TRUE(store);
  EXPECT_EQ(store->filePath(), FilePath());
  EXPECT_FALSE(store->firstLaunchTimestamp());
  EXPECT_FALSE(store->odm2RetryCount());
  store->setFirstLaunchTimestamp(1'700'000'000.25);
  store->setMatchFoundTimestamp(1'700'086'400.0);
  store->setOdm2RetryCount(2);
  store->setAggregateConversionInfo("aaps-1");
  store->setMeasurementInfo("vexa-1");

  const platform::Dictionary file = FileContent(FilePath());
  EXPECT_TRUE(file.at(kODCFirstLaunchTimestampKey).isDate());
  EXPECT_TRUE(file.at(kODCODM2RetryCountKey).isInt());
  EXPECT_EQ(*file.at(kODCStoreMeasurementInfoKey).stringValue(), "vexa-1");

  auto reread = MakeStore();
  ASSERT_TRUE(reread);
  EXPECT_EQ(reread->firstLaunchTimestamp(), 1'700'000'000.25);
  EXPECT_EQ(reread->matchFoundTimestamp(), 1'700'086'400.0);
  EXPECT_EQ(reread->odm2RetryCount(), 2);
  EXPECT_EQ(reread->aggregateConversionInfo(), "aaps-1");
  EXPECT_EQ(reread->measurementInfo(), "vexa-1");

  reread->setMeasurementInfo(std::nullopt);
  reread->setOdm2RetryCount(std::nullopt);
  EXPECT_EQ(FileContent(FilePath()).count(kODCStoreMeasurementInfoKey), 0u);
  EXPECT_EQ(FileContent(FilePath()).count(kODCODM2RetryCountKey), 0u);
  EXPECT_EQ(MakeStore()->aggregateConversionInfo(), "aaps-1");
}

TEST_F(ODCConversionStoreTest, AWrongTypedValueIsLoggedRemovedAndReadAsNothing) {
  struct Case {
    const char* key;
    platform::Object wrong;
    std::function<bool(ODCConversionStore&)> readsNothing;
    const char* code;
  };
  const Case cases[] = {
      {kODCFirstLaunchTimestampKey, platform::Object(1'700'000'000.0),
       [](ODCConversionStore& s) { return !s.firstLaunchTimestamp(); }, "I-ODC003001"},
      {kODCMatchFoundTimestampKey, platform::Object("yesterday"),
       [](ODCConversionStore& s) { return !s.matchFoundTimestamp(); }, "I-ODC003002"},
      {kODCStoreAggregateConversionInfoKey, platform::Object(int64_t{7}),
       [](ODCConversionStore& s) { return !s.aggregateConversionInfo(); }, "I-ODC003003"},
      {kODCStoreMeasurementInfoKey, platform::Object(int64_t{7}),
       [](ODCConversionStore& s) { return !s.measurementInfo(); }, "I-ODC003003"},
      {kODCODM2RetryCountKey, platform::Object("3"), [](ODCConversionStore& s) { return !s.odm2RetryCount(); },
       "I-ODC003006"},
      {kODCODM2RetryCountKey, platform::Object(true), [](ODCConversionStore& s) { return !s.odm2RetryCount(); },
       "I-ODC003006"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    std::filesystem::create_directories(std::filesystem::path(FilePath()).parent_path());
    ASSERT_TRUE(platform::PropertyList::writeFile(FilePath(),
                                                  platform::Dictionary{{c.key, c.wrong}, {"Unrelated", "kept"}}));
    auto store = MakeStore();
    ASSERT_TRUE(store);
    platform::log::ScopedCapture capture;
    EXPECT_TRUE(c.readsNothing(*store));
    EXPECT_TRUE(Logged(capture, c.code));
    const platform::Dictionary file = FileContent(FilePath());
    EXPECT_EQ(file.count(c.key), 0u);
    EXPECT_EQ(file.size(), 1u);  // the other key stays
  }
}

TEST_F(ODCConversionStoreTest, WritesOnlyOnAChange) {
  auto store = MakeStore();
  ASSERT_TRUE(store);
  store->setFirstLaunchTimestamp(1'700'000'000.1);
  ino_t last = Inode(FilePath());
  ASSERT_NE(last, 0u);
  // Each step: the change, and whether the file is rewritten.
  const std::pair<std::function<void()>, bool> steps[] = {
      {[&] { store->setFirstLaunchTimestamp(1'700'000'000.9); }, false},  // same whole second
      {[&] { store->setFirstLaunchTimestamp(1'700'000'001.0); }, true},   // one second later
      {[&] { store->setMatchFoundTimestamp(std::nullopt); }, false},      // absent stays absent
      {[&] { store->setOdm2RetryCount(0); }, true},
      {[&] { store->setOdm2RetryCount(0); }, false},
      {[&] { store->setMeasurementInfo("v"); }, true},
      {[&] { store->setMeasurementInfo("v"); }, false},
      {[&] { store->setMeasurementInfo(std::nullopt); }, true},
      {[&] { store->setMeasurementInfo(std::nullopt); }, false},
  };
  int index = 0;
  for (const auto& [change, rewrites] : steps) {
    change();
    const ino_t now = Inode(FilePath());
    EXPECT_EQ(now != last, rewrites) << "step " << index;
    last = now;
    ++index;
  }
  EXPECT_EQ(MakeStore()->firstLaunchTimestamp(), 1'700'000'001.0);
}

TEST(ODCDatesEqualToTheSecond, ComparesWholeSecondsRoundedDown) {
  EXPECT_TRUE(ODCDatesEqualToTheSecond(std::nullopt, std::nullopt));
  EXPECT_FALSE(ODCDatesEqualToTheSecond(1.0, std::nullopt));
  EXPECT_FALSE(ODCDatesEqualToTheSecond(std::nullopt, 1.0));
  EXPECT_TRUE(ODCDatesEqualToTheSecond(10.0, 10.999));
  EXPECT_FALSE(ODCDatesEqualToTheSecond(10.999, 11.0));
  EXPECT_FALSE(ODCDatesEqualToTheSecond(-0.5, 0.5));  // before 1970 rounds down too
}

TEST_F(ODCConversionStoreTest, AnUnreadableFileStartsEmptyAndIsReplacedWhole) {
  std::filesystem::create_directories(std::filesystem::path(FilePath()).parent_path());
  platform::testing::writeFile(FilePath(), "not a property list");
  auto store = MakeStore();
  ASSERT_TRUE(store);
  EXPECT_FALSE(store->measurementInfo());
  store->setMeasurementInfo("v");
  EXPECT_EQ(FileContent(FilePath()), (platform::Dictionary{{kODCStoreMeasurementInfoKey, "v"}}));
}

TEST_F(ODCConversionStoreTest, NoStoreWithoutItsDirectory) {
  {
    platform::log::ScopedCapture capture;
    EXPECT_FALSE(ODCConversionStore::create(std::nullopt));
    EXPECT_TRUE(Logged(capture, "I-ODC001000"));
    EXPECT_TRUE(Logged(capture, "I-ODC003000"));
  }
  // Application Support is a file: the subdirectories cannot be made.
  platform::testing::writeFile(scratch_ / "file", "x");
  platform::log::ScopedCapture capture;
  EXPECT_FALSE(ODCConversionStore::create(scratch_ / "file"));
  EXPECT_TRUE(Logged(capture, "I-ODC003000"));
}

TEST_F(ODCConversionStoreTest, AFailedWriteKeepsTheValueInMemory) {
  auto store = MakeStore();
  ASSERT_TRUE(store);
  store->setMeasurementInfo("old");
  // The file's place is taken by a directory: the rename cannot replace it.
  std::filesystem::remove(FilePath());
  std::filesystem::create_directories(FilePath() + "/blocker");
  platform::log::ScopedCapture capture;
  store->setMeasurementInfo("new");
  EXPECT_TRUE(Logged(capture, "I-ODC003004"));
  EXPECT_EQ(store->measurementInfo(), "new");
}

}  // namespace
