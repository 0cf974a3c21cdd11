#include "platform/env/VendorIdentifier.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>
#include <vector>

#include "platform/TestSupport.h"
#include "platform/storage/Paths.h"
#include "platform/util/UUID.h"

namespace platform {
namespace {

class VendorIdentifierTest : public ::testing::Test {
 protected:
  void SetUp() override { VendorIdentifier::resetForTesting(); }
  void TearDown() override { VendorIdentifier::resetForTesting(); }

  testing::ScratchDirectory tmp_;
  std::shared_ptr<Paths> paths_ = Paths::open(tmp_ / "data");
  SeededRandom random_{5};
};

TEST_F(VendorIdentifierTest, MadeOnceAndKeptInTheDataDirectory) {
  ASSERT_TRUE(paths_);
  auto first = VendorIdentifier::identifierForVendor(*paths_, random_);
  ASSERT_TRUE(first);
  EXPECT_TRUE(isUUIDString(*first));
  EXPECT_EQ(testing::readFile(VendorIdentifier::filePath(*paths_)), *first);
  // A new process reads the same identifier back.
  VendorIdentifier::resetForTesting();
  EXPECT_EQ(VendorIdentifier::identifierForVendor(*paths_, random_), first);
}

TEST_F(VendorIdentifierTest, ADamagedFileIsReplacedByANewIdentifier) {
  for (const std::string& damaged : std::vector<std::string>{"", "not a uuid", std::string(100, 'A'), std::string("\0\xFF", 2)}) {
    VendorIdentifier::resetForTesting();
    testing::writeFile(VendorIdentifier::filePath(*paths_), damaged);
    auto identifier = VendorIdentifier::identifierForVendor(*paths_, random_);
    ASSERT_TRUE(identifier);
    EXPECT_TRUE(isUUIDString(*identifier));
    EXPECT_EQ(testing::readFile(VendorIdentifier::filePath(*paths_)), *identifier);
  }
}

TEST_F(VendorIdentifierTest, AnUnreadableFileGivesNoIdentifierAndIsLeftAlone) {
  // A directory where the file should be cannot be read (nor replaced).
  const std::string path = VendorIdentifier::filePath(*paths_);
  std::filesystem::create_directories(path + "/kept");
  Error error;
  EXPECT_EQ(VendorIdentifier::identifierForVendor(*paths_, random_, &error), std::nullopt);
  EXPECT_EQ(error.domain, kPOSIXErrorDomain);
  EXPECT_TRUE(std::filesystem::is_directory(path + "/kept"));
}

TEST_F(VendorIdentifierTest, ThreadsAskingAtOnceGetOneIdentifier) {
  std::vector<std::optional<std::string>> answers(4);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < answers.size(); ++i) {
    threads.emplace_back([&, i] {
      SeededRandom own(100 + i);
      answers[i] = VendorIdentifier::identifierForVendor(*paths_, own);
    });
  }
  for (auto& thread : threads) thread.join();
  for (const auto& answer : answers) EXPECT_EQ(answer, answers[0]);
}

}  // namespace
}  // namespace platform
