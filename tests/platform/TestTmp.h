// A fresh directory for one test under TABULO_TEST_TMP (or the system's
// temporary directory), removed when the test ends.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace tabulo_test {

class TestTmp {
 public:
  TestTmp() {
    const char* base = std::getenv("TABULO_TEST_TMP");
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::filesystem::path(base && *base ? base : std::filesystem::temp_directory_path().string()) /
            (std::string(info->test_suite_name()) + "." + info->name() + "." + std::to_string(::getpid()));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TestTmp() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace tabulo_test
