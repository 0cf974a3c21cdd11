// A data directory of a fuzz process: "<name>.<pid>" in the system's
// temporary directory, made empty on first use and removed when the process
// exits, so that neither a campaign nor the seed replays leave directories
// behind.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace fuzz_support {

namespace scratch_detail {
struct Directories {
  std::mutex mutex;
  std::vector<std::filesystem::path> paths;
};
// Never destroyed: the exit handler runs after static destructors may have.
inline Directories& directories() {
  static Directories* shared = new Directories();
  return *shared;
}
inline void removeAll() {
  auto& made = directories();
  std::lock_guard lock(made.mutex);
  for (const auto& path : made.paths) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  made.paths.clear();
}
}  // namespace scratch_detail

inline std::filesystem::path processScratchDirectory(const std::string& name) {
  const auto path = std::filesystem::temp_directory_path() / (name + "." + std::to_string(::getpid()));
  auto& made = scratch_detail::directories();
  std::lock_guard lock(made.mutex);
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
  std::filesystem::create_directories(path);
  if (made.paths.empty()) std::atexit(scratch_detail::removeAll);
  made.paths.push_back(path);
  return path;
}

}  // namespace fuzz_support
