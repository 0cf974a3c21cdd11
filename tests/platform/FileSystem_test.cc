#include "platform/filesystem/FileSystem.h"

#include <cstdlib>
#include <fstream>

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(FileSystem, MakesTheOutputsDirectoryAndDeletesFiles) {
  const char* base = std::getenv("TABULO_TEST_TMP");
  std::filesystem::path root = std::filesystem::path(base ? base : "/tmp") / "filesystem-test";
  std::filesystem::remove_all(root);
  FileSystem fileSystem(root / "Documents" / "Outputs");
  fileSystem.createDirectoriesIfNeeded();
  fileSystem.createDirectoriesIfNeeded();
  ASSERT_TRUE(std::filesystem::is_directory(fileSystem.outputsURL()));

  std::filesystem::path file = fileSystem.outputsURL() / "a.csv";
  std::ofstream(file) << "x";
  fileSystem.deleteFile(file);
  EXPECT_FALSE(std::filesystem::exists(file));
  fileSystem.deleteFile(file);  // nothing there: no failure

  std::filesystem::create_directory(fileSystem.outputsURL() / "dir");
  fileSystem.deleteFile(fileSystem.outputsURL() / "dir");
  EXPECT_TRUE(std::filesystem::exists(fileSystem.outputsURL() / "dir"));
  std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace platform
