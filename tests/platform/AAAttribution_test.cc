#include "platform/adservices/AAAttribution.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/TestSupport.h"
#include "platform/env/AppEnvironment.h"
#include "platform/storage/Paths.h"

namespace platform {
namespace {

// An app environment with or without the framework and a data directory of its own.
class AAAttributionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = AppEnvironment::shared();
    environment_ = AppEnvironment::create({});
    environment_->registerComponent(kAAAttributionComponentName);
    AppEnvironment::setShared(environment_);
    paths_ = Paths::open(scratch_ / "data");
    ASSERT_TRUE(paths_);
    Paths::setCurrent(paths_);
    tokenFile_ = std::filesystem::path(paths_->libraryDirectory()) / kAAAttributionTokenDirectory /
                 kAAAttributionTokenFileName;
    std::filesystem::create_directories(tokenFile_.parent_path());
  }
  void TearDown() override {
    AAAttribution::resetForTesting();
    Paths::setCurrent(nullptr);
    AppEnvironment::setShared(previous_);
  }

  testing::ScratchDirectory scratch_;
  std::shared_ptr<AppEnvironment> previous_;
  std::shared_ptr<AppEnvironment> environment_;
  std::shared_ptr<Paths> paths_;
  std::filesystem::path tokenFile_;
};

TEST_F(AAAttributionTest, AnswersTheTokenFileWithoutSurroundingBlanks) {
  EXPECT_TRUE(AAAttribution::isPresent());
  testing::writeFile(tokenFile_, "  token-ä1==\r\n");
  Error error;
  EXPECT_EQ(AAAttribution::attributionTokenWithError(&error), "token-ä1==");
}

TEST_F(AAAttributionTest, RefusesWhatIsNoToken) {
  const struct {
    const char* name;
    std::optional<std::string> contents;  // none: no file
    int64_t code;
  } cases[] = {
      {"no file", std::nullopt, kAAAttributionErrorNoToken},
      {"only blanks", " \n\t", kAAAttributionErrorNoToken},
      {"not UTF-8", std::string("tok\xff\xfe", 5), kAAAttributionErrorUnreadableToken},
      {"too large", std::string(kAAAttributionMaxTokenBytes + 1, 'a'), kAAAttributionErrorUnreadableToken},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(tokenFile_);
    if (c.contents) testing::writeFile(tokenFile_, *c.contents);
    Error error;
    EXPECT_FALSE(AAAttribution::attributionTokenWithError(&error)) << c.name;
    EXPECT_EQ(error.domain, kAAAttributionErrorDomain) << c.name;
    EXPECT_EQ(error.code, c.code) << c.name;
  }
  // A directory in place of the file cannot be read.
  std::filesystem::remove(tokenFile_);
  std::filesystem::create_directories(tokenFile_);
  Error error;
  EXPECT_FALSE(AAAttribution::attributionTokenWithError(&error));
  EXPECT_EQ(error.code, kAAAttributionErrorUnreadableToken);
}

TEST_F(AAAttributionTest, TestAnswersWinAndNothingAnswersWithoutTheComponent) {
  testing::writeFile(tokenFile_, "from-file");
  AAAttribution::setAnswerForTesting("from-test");
  EXPECT_EQ(AAAttribution::attributionTokenWithError(), "from-test");
  AAAttribution::setAnswerForTesting(std::nullopt, Error("test", 7, "scripted"));
  Error error;
  EXPECT_FALSE(AAAttribution::attributionTokenWithError(&error));
  EXPECT_EQ(error, Error("test", 7, "scripted"));
  AAAttribution::resetForTesting();
  EXPECT_EQ(AAAttribution::attributionTokenWithError(), "from-file");

  AppEnvironment::setShared(AppEnvironment::create({}));
  EXPECT_FALSE(AAAttribution::isPresent());
  EXPECT_FALSE(AAAttribution::attributionTokenWithError(&error));
  EXPECT_EQ(error.code, kAAAttributionErrorNotPresent);
}

}  // namespace
}  // namespace platform
