#include "platform/storage/AtomicFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "TestTmp.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

std::span<const uint8_t> bytesOf(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

std::string readText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::string> namesIn(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

bool writeAt(int dirFd, const fs::path& dir, const std::string& name, const std::string& text,
             const AtomicWriteOptions& options, Error* error = nullptr) {
  const std::span<const uint8_t> pieces[] = {bytesOf(text)};
  return writeFileAtomicallyAt(dirFd, dir.string(), name, std::span<const std::span<const uint8_t>>(pieces), options,
                               error);
}

class AtomicFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(dir);
    dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(dirFd, 0);
  }
  void TearDown() override { ::close(dirFd); }

  tabulo_test::TestTmp tmp;
  fs::path dir = tmp.path() / "store";
  int dirFd = -1;
};

TEST_F(AtomicFileTest, ADescriptorRelativeWriteStaysInTheDirectoryItOpened) {
  // The path now names another directory; the write must still land in the one opened.
  const fs::path moved = tmp.path() / "moved";
  fs::rename(dir, moved);
  fs::create_directory(dir);

  ASSERT_TRUE(writeAt(dirFd, dir, "items", "new", {}));
  EXPECT_EQ(readText(moved / "items"), "new");
  EXPECT_TRUE(fs::is_empty(dir));
}

TEST_F(AtomicFileTest, ATargetThatIsALinkIsReplacedNotFollowed) {
  const fs::path outside = tmp.path() / "outside";
  std::ofstream(outside) << "untouched";
  fs::create_symlink(outside, dir / "items");

  ASSERT_TRUE(writeAt(dirFd, dir, "items", "new", {}));
  EXPECT_EQ(readText(outside), "untouched");
  EXPECT_FALSE(fs::is_symlink(dir / "items"));
  EXPECT_EQ(readText(dir / "items"), "new");
}

TEST_F(AtomicFileTest, LeftoversWithThePrefixAreClearedBeforeAWrite) {
  std::ofstream(dir / ".items.tmp-0123456789ab") << "half";
  std::ofstream(dir / ".other.tmp-0123456789ab") << "someone else's";
  AtomicWriteOptions options;
  options.removeLeftovers = true;

  ASSERT_TRUE(writeAt(dirFd, dir, "items", "new", options));
  EXPECT_EQ(namesIn(dir), (std::vector<std::string>{".other.tmp-0123456789ab", "items"}));

  options.temporaryPrefix = ".other.tmp-";
  ASSERT_TRUE(writeAt(dirFd, dir, "items", "newer", options));
  EXPECT_EQ(namesIn(dir), std::vector<std::string>{"items"});
}

TEST_F(AtomicFileTest, AFailedWriteNamesItsStepAndLeavesNoTemporary) {
  fs::create_directory(dir / "taken");
  AtomicWriteStep step = AtomicWriteStep::kFlushDirectory;
  AtomicWriteOptions options;
  options.failedStep = &step;
  Error error;

  EXPECT_FALSE(writeAt(dirFd, dir, "taken", "x", options, &error));
  EXPECT_EQ(step, AtomicWriteStep::kRename);
  EXPECT_EQ(error.code, EISDIR) << error.toString();
  EXPECT_EQ(namesIn(dir), std::vector<std::string>{"taken"});

  EXPECT_FALSE(writeFileAtomically((tmp.path() / "missing" / "file").string(), bytesOf("x"), options, &error));
  EXPECT_EQ(step, AtomicWriteStep::kCreate);
  EXPECT_EQ(error.code, ENOENT);

  for (const char* name : {"", ".", "..", "a/b"}) {
    EXPECT_FALSE(writeAt(dirFd, dir, name, "x", options, &error)) << name;
    EXPECT_EQ(error.code, EINVAL) << name;
  }
}

TEST_F(AtomicFileTest, TheModeIsLessTheUmaskUnlessItIsExact) {
  const mode_t saved = ::umask(077);
  AtomicWriteOptions options;
  options.mode = 0644;
  const bool masked = writeAt(dirFd, dir, "masked", "x", options);
  options.exactMode = true;
  const bool exact = writeAt(dirFd, dir, "exact", "x", options);
  ::umask(saved);

  ASSERT_TRUE(masked && exact);
  struct stat st {};
  ASSERT_EQ(::stat((dir / "masked").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat((dir / "exact").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

}  // namespace
}  // namespace platform
