#include "platform/filesystem/FileSystem.h"

#include <system_error>

#include "platform/core/Log.h"
#include "platform/storage/Paths.h"

namespace platform {

FileSystem::FileSystem(std::filesystem::path outputsDirectory) : outputs_(std::move(outputsDirectory)) {}

std::shared_ptr<FileSystem> FileSystem::shared() {
  static const std::shared_ptr<FileSystem> instance = [] {
    if (std::shared_ptr<Paths> paths = Paths::current()) {
      return std::make_shared<FileSystem>(std::filesystem::path(paths->documentsDirectory()) / "Outputs");
    }
    std::error_code error;
    std::filesystem::path temporary = std::filesystem::temp_directory_path(error);
    if (error) temporary = "/tmp";
    log::write(LogLevel::Warning, "platform", "filesystem", "",
               "No data directory is set; exports go to " + (temporary / "tabulo-outputs").string());
    return std::make_shared<FileSystem>(temporary / "tabulo-outputs");
  }();
  return instance;
}

void FileSystem::createDirectoriesIfNeeded() const {
  std::error_code error;
  std::filesystem::create_directories(outputs_, error);
  if (error) {
    log::write(LogLevel::Error, "platform", "filesystem", "",
               "Cannot create the outputs directory " + outputs_.string() + ": " + error.message());
  }
}

void FileSystem::deleteFile(const std::filesystem::path& location) const {
  std::error_code error;
  std::filesystem::file_status status = std::filesystem::symlink_status(location, error);
  if (error || !std::filesystem::exists(status) || std::filesystem::is_directory(status)) return;
  std::filesystem::remove(location, error);
}

}  // namespace platform
