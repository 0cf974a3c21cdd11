#include "platform/filesystem/FileSystem.h"

#include <system_error>

#include "platform/core/Log.h"

namespace platform {

FileSystem::FileSystem(std::filesystem::path outputsDirectory) : outputs_(std::move(outputsDirectory)) {}

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
