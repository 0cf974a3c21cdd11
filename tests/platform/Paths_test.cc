#include "platform/storage/Paths.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "platform/TestSupport.h"

namespace platform {
namespace {

bool isDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST(Paths, ChoosesTheDataDirectoryFromArgumentsThenEnvironmentThenXDG) {
  using Env = std::map<std::string, std::string>;
  const Env all{{"TABULO_DATA_DIR", "/env"}, {"XDG_DATA_HOME", "/xdg"}, {"HOME", "/home/u"}};
  struct Case {
    std::vector<std::string> arguments;
    Env environment;
    std::string expected;
  } cases[] = {
      {{"--data-dir", "/arg"}, all, "/arg"},
      {{"file.csv", "--data-dir=/arg2"}, all, "/arg2"},
      {{}, all, "/env"},
      {{}, {{"TABULO_DATA_DIR", ""}, {"XDG_DATA_HOME", "/xdg"}}, "/xdg/tabulo"},
      {{}, {{"XDG_DATA_HOME", "relative"}, {"HOME", "/home/u"}}, "/home/u/.local/share/tabulo"},
      {{}, {{"HOME", "/home/u"}}, "/home/u/.local/share/tabulo"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Paths::dataDirectoryFrom(c.arguments, c.environment), c.expected);
  }
  Error error;
  EXPECT_FALSE(Paths::dataDirectoryFrom({"--data-dir"}, all, &error));
  EXPECT_EQ(error.code, Paths::kDataDirectoryUnavailableError);
  EXPECT_FALSE(Paths::dataDirectoryFrom({}, {}, &error));
}

TEST(Paths, OpenLaysOutTheContainerAndHoldsItExclusively) {
  testing::ScratchDirectory scratch;
  const std::string root = scratch / "data";
  Error error;
  auto paths = Paths::open(root + "/", &error);
  ASSERT_TRUE(paths) << error.toString();
  EXPECT_EQ(paths->dataDirectory(), root);
  for (const auto& dir : {paths->libraryDirectory(), paths->preferencesDirectory(),
                          paths->applicationSupportDirectory(), paths->documentsDirectory(),
                          paths->temporaryDirectory()}) {
    EXPECT_TRUE(isDirectory(dir)) << dir;
  }
  EXPECT_EQ(paths->applicationSupportDirectory(), root + "/Library/Application Support");

  // A second holder is refused while the first lives, and admitted afterwards.
  EXPECT_FALSE(Paths::open(root, &error));
  EXPECT_EQ(error.domain, kPathsErrorDomain);
  EXPECT_EQ(error.code, Paths::kDataDirectoryInUseError);
  EXPECT_EQ(error.description, "data directory " + root + " is in use by another Tabulo process");
  paths.reset();
  EXPECT_TRUE(Paths::open(root, &error)) << error.toString();
}

TEST(Paths, AFileInTheWayIsAnError) {
  testing::ScratchDirectory scratch;
  testing::writeFile(scratch / "file", "x");
  Error error;
  EXPECT_FALSE(Paths::open(scratch / "file", &error));
  EXPECT_EQ(error.code, Paths::kDataDirectoryUnavailableError);
}

TEST(Paths, TheAppRefusesADataDirectoryHeldByAnotherProcess) {
  testing::ScratchDirectory scratch;
  const std::string tool = TABULO_BINARY_DIR "/tools/tabulo";
  auto held = Paths::open(scratch.path());
  ASSERT_TRUE(held);
  auto refused = testing::runChild(tool, {"--data-dir", scratch.path(), "--once"});
  EXPECT_NE(refused.exitCode, 0);
  EXPECT_NE(refused.output.find("data directory " + scratch.path() + " is in use by another Tabulo process"),
            std::string::npos)
      << refused.output;

  held.reset();
  auto started = testing::runChild(tool, {"--data-dir", scratch.path(), "--once"});
  EXPECT_EQ(started.exitCode, 0) << started.output;
  EXPECT_NE(started.output.find("Data directory: " + scratch.path()), std::string::npos) << started.output;
}

}  // namespace
}  // namespace platform
