#include "analytics/foundation/core/GWLPaths.h"

#include <cerrno>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <utility>

#include "analytics/foundation/core/GWLError.h"
#include "analytics/foundation/core/GWLMonitorLevels.h"
#include "platform/storage/Paths.h"

namespace fs = std::filesystem;

namespace {
constexpr int64_t kNoLibraryDirectoryCode = 19000;
constexpr const char* kNoLibraryDirectoryMessage = "NSSearchPath for Library directory is empty";
constexpr int64_t kNoApplicationSupportDirectoryCode = 19001;
constexpr const char* kNoApplicationSupportDirectoryMessage =
    "NSSearchPath for ApplicationSupport directory is empty";
constexpr const char* kEmptyPathMessage = "Received empty path for deleting file";

struct ReporterState {
  std::mutex mutex;
  GWLPathsReporter reporter;
};

// Never destroyed: paths may be asked for during exit.
ReporterState& reporterState() {
  static ReporterState* state = new ReporterState();
  return *state;
}

void report(int64_t level, int64_t code, const std::string& message) {
  GWLPathsReporter reporter;
  {
    std::lock_guard<std::mutex> lock(reporterState().mutex);
    reporter = reporterState().reporter;
  }
  if (reporter) reporter(level, code, message);
}

std::string withPlistExtension(const std::string& name) {
  return fs::path(name).extension() == ".plist" ? name : name + ".plist";
}
}  // namespace

GWLPathsReporter GWLSetPathsReporter(GWLPathsReporter reporter) {
  std::lock_guard<std::mutex> lock(reporterState().mutex);
  return std::exchange(reporterState().reporter, std::move(reporter));
}

bool GWLExcludePathFromBackup(const std::string& path, platform::Error* error) {
  std::error_code ec;
  if (path.empty() || !fs::exists(path, ec)) {
    platform::setError(error, platform::posixError(ec ? ec.value() : ENOENT, "cannot exclude " + path + " from backup"));
    return false;
  }
  return true;
}

std::string GWLPreferencesFilePath(const std::string& suiteName) {
  if (suiteName.empty()) return {};
  auto paths = platform::Paths::current();
  if (!paths) {
    report(kGWLLevelErrorSilent, kNoLibraryDirectoryCode, kNoLibraryDirectoryMessage);
    return {};
  }
  return (fs::path(paths->preferencesDirectory()) / withPlistExtension(suiteName)).string();
}

std::string GWLMeasurementDirectoryPath(const std::string& name) {
  if (name.empty()) return {};
  auto paths = platform::Paths::current();
  if (!paths) {
    report(kGWLLevelErrorSilent, kNoApplicationSupportDirectoryCode, kNoApplicationSupportDirectoryMessage);
    return {};
  }
  return (fs::path(paths->applicationSupportDirectory()) / kGWLMeasurementDirectoryName / name).string();
}

std::string GWLMeasurementPlistPath(const std::string& name) {
  if (name.empty()) return {};
  return GWLMeasurementDirectoryPath(withPlistExtension(name));
}

bool GWLDeleteFileAtPath(const std::string& path, platform::Error* error) {
  if (path.empty()) {
    GWLSetError(error, kGWLErrorCodeInvalidArgument, kEmptyPathMessage);
    return false;
  }
  std::error_code ec;
  if (!fs::remove(path, ec)) {
    platform::setError(error, platform::posixError(ec ? ec.value() : ENOENT, "cannot delete " + path));
    return false;
  }
  return true;
}

bool GWLMoveSuitePlistToMeasurementDirectory(const std::string& suiteName) {
  if (suiteName.empty()) return false;
  const std::string oldPath = GWLPreferencesFilePath(suiteName);
  const std::string newPath = GWLMeasurementPlistPath(suiteName);
  if (oldPath.empty() || newPath.empty()) return false;
  std::error_code ec;
  if (fs::exists(oldPath, ec)) {
    if (fs::is_directory(oldPath, ec)) return false;
    if (fs::exists(newPath, ec)) {
      if (fs::is_directory(newPath, ec)) return false;
      if (!fs::remove(oldPath, ec)) return false;
    } else {
      fs::create_directories(fs::path(newPath).parent_path(), ec);
      if (ec) return false;
      fs::rename(oldPath, newPath, ec);
      if (ec) return false;
    }
  }
  // The suite is no longer searched for the app's preferences: nothing to do
  // here, suites are never searched together on this platform.
  return true;
}
