// platform::FileSystem — the file-system library's outputs directory.
//
// Exported files and cell photos live in one outputs directory that lasts
// between launches. `createDirectoriesIfNeeded()` is called once at launch,
// before any screen is shown; afterwards the directory exists. `outputsURL()`
// is its location. `deleteFile(at)` removes a file if there is one and never
// fails. Tests make their own instance over a temporary directory.
//
// `shared()` is the process-wide instance, made on first use: its outputs
// directory is "Outputs" in the documents directory of Paths::current(), which
// the host sets before start-up; without one it falls back, with a warning, to
// "tabulo-outputs" in the system's temporary directory.
#pragma once

#include <filesystem>
#include <memory>

namespace platform {

class FileSystem {
 public:
  explicit FileSystem(std::filesystem::path outputsDirectory);

  static std::shared_ptr<FileSystem> shared();

  // Makes the outputs directory (and its parents) when it is missing. A
  // failure is logged; the writes into the directory then fail and say so.
  void createDirectoriesIfNeeded() const;

  const std::filesystem::path& outputsURL() const { return outputs_; }

  // Removes the file at `location` when one is there. Directories are left
  // alone; nothing is reported.
  void deleteFile(const std::filesystem::path& location) const;

 private:
  std::filesystem::path outputs_;
};

}  // namespace platform
