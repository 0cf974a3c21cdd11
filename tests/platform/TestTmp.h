// A fresh directory for one test, removed when the test ends: the platform
// tests' scratch directory, answering its path as a filesystem path.
#pragma once

#include <filesystem>

#include "TestSupport.h"

namespace tabulo_test {

class TestTmp {
 public:
  const std::filesystem::path& path() const { return path_; }

 private:
  platform::testing::ScratchDirectory directory_;
  std::filesystem::path path_{directory_.path()};
};

}  // namespace tabulo_test
