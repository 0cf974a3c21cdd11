#include "platform/storage/FileBuffer.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <fstream>

#include "tests/platform/TestTmp.h"

namespace platform {
namespace {

TEST(FileBuffer, ReadsARegularFileWholeAndRefusesTheRest) {
  tabulo_test::TestTmp tmp;
  const std::string path = (tmp.path() / "file").string();
  std::ofstream(path, std::ios::binary) << std::string("a\0b", 3);
  Error error;
  auto file = readRegularFile(path, 3, &error);
  ASSERT_TRUE(file) << error.toString();
  EXPECT_EQ(file->text(), std::string_view("a\0b", 3));

  std::ofstream(tmp.path() / "empty");
  auto empty = readRegularFile((tmp.path() / "empty").string(), 0);
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->size(), 0u);

  ASSERT_EQ(::mkfifo((tmp.path() / "fifo").c_str(), 0600), 0);
  const struct {
    std::string path;
    size_t limit;
    int64_t code;
  } refused[] = {
      {path, 2, EFBIG},
      {(tmp.path() / "missing").string(), 10, ENOENT},
      {tmp.path().string(), 10, EISDIR},
      {(tmp.path() / "fifo").string(), 10, EINVAL},  // refused without waiting for a writer
  };
  for (const auto& c : refused) {
    Error failure;
    EXPECT_FALSE(readRegularFile(c.path, c.limit, &failure)) << c.path;
    EXPECT_EQ(failure.domain, kPOSIXErrorDomain) << c.path;
    EXPECT_EQ(failure.code, c.code) << c.path;
  }
}

}  // namespace
}  // namespace platform
