#include "platform/storage/Paths.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <mutex>

namespace platform {
namespace {

Error pathsError(int64_t code, std::string description) {
  return Error(kPathsErrorDomain, code, std::move(description));
}

std::string lookup(const std::map<std::string, std::string>& env, const char* name) {
  auto it = env.find(name);
  return it == env.end() ? std::string() : it->second;
}

// Makes `path` and its missing parents (0700 for what is created here).
bool makeDirectories(const std::string& path, Error* error) {
  std::filesystem::path p(path);
  std::filesystem::path built;
  for (const auto& part : p) {
    built /= part;
    if (built.empty() || built == built.root_path()) continue;
    if (::mkdir(built.c_str(), 0700) != 0 && errno != EEXIST) {
      setError(error, pathsError(Paths::kDataDirectoryUnavailableError,
                                 posixError(errno, "cannot create " + built.string()).description));
      return false;
    }
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    setError(error, pathsError(Paths::kDataDirectoryUnavailableError, path + " is not a directory"));
    return false;
  }
  return true;
}

std::mutex& currentMutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<Paths>& currentPaths() {
  static std::shared_ptr<Paths> paths;
  return paths;
}

}  // namespace

std::optional<std::string> Paths::dataDirectoryFrom(const std::vector<std::string>& arguments,
                                                    const std::map<std::string, std::string>& environment,
                                                    Error* error) {
  const std::string flag = kDataDirectoryArgument;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& arg = arguments[i];
    if (arg == flag) {
      if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
        setError(error, pathsError(kDataDirectoryUnavailableError, flag + " needs a directory"));
        return std::nullopt;
      }
      return arguments[i + 1];
    }
    if (arg.rfind(flag + "=", 0) == 0) {
      std::string value = arg.substr(flag.size() + 1);
      if (value.empty()) {
        setError(error, pathsError(kDataDirectoryUnavailableError, flag + " needs a directory"));
        return std::nullopt;
      }
      return value;
    }
  }
  std::string fromEnvironment = lookup(environment, kDataDirectoryEnvironmentVariable);
  if (!fromEnvironment.empty()) return fromEnvironment;
  // A relative XDG_DATA_HOME is invalid and ignored.
  std::string dataHome = lookup(environment, "XDG_DATA_HOME");
  if (!dataHome.empty() && dataHome[0] == '/') return dataHome + "/tabulo";
  std::string home = lookup(environment, "HOME");
  if (home.empty()) {
    setError(error, pathsError(kDataDirectoryUnavailableError,
                               "no data directory: pass --data-dir DIR or set TABULO_DATA_DIR or HOME"));
    return std::nullopt;
  }
  return home + "/.local/share/tabulo";
}

std::shared_ptr<Paths> Paths::open(const std::string& dataDirectory, Error* error) {
  if (dataDirectory.empty()) {
    setError(error, pathsError(kDataDirectoryUnavailableError, "empty data directory"));
    return nullptr;
  }
  std::error_code ec;
  std::string root = std::filesystem::absolute(dataDirectory, ec).lexically_normal().string();
  if (ec) {
    setError(error, pathsError(kDataDirectoryUnavailableError, "cannot resolve " + dataDirectory));
    return nullptr;
  }
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  if (!makeDirectories(root, error)) return nullptr;

  // The lock comes first: nothing below touches a directory another process owns.
  std::string lockPath = root + "/.lock";
  int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    setError(error, pathsError(kDataDirectoryUnavailableError, posixError(errno, "cannot open " + lockPath).description));
    return nullptr;
  }
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    int err = errno;
    ::close(fd);
    if (err == EWOULDBLOCK) {
      setError(error, pathsError(kDataDirectoryInUseError,
                                 "data directory " + root + " is in use by another Tabulo process"));
    } else {
      setError(error, pathsError(kDataDirectoryUnavailableError, posixError(err, "cannot lock " + lockPath).description));
    }
    return nullptr;
  }
  std::shared_ptr<Paths> paths(new Paths(root, fd));
  for (const std::string& dir : {paths->preferencesDirectory(), paths->applicationSupportDirectory(),
                                 paths->documentsDirectory(), paths->temporaryDirectory()}) {
    if (!makeDirectories(dir, error)) return nullptr;
  }
  return paths;
}

Paths::~Paths() {
  if (lockFd_ >= 0) ::close(lockFd_);  // closing the descriptor releases the flock
}

std::shared_ptr<Paths> Paths::current() {
  std::lock_guard lock(currentMutex());
  return currentPaths();
}

void Paths::setCurrent(std::shared_ptr<Paths> paths) {
  std::lock_guard lock(currentMutex());
  currentPaths() = std::move(paths);
}

std::string Paths::libraryDirectory() const { return root_ + "/Library"; }
std::string Paths::preferencesDirectory() const { return root_ + "/Library/Preferences"; }
std::string Paths::applicationSupportDirectory() const { return root_ + "/Library/Application Support"; }
std::string Paths::documentsDirectory() const { return root_ + "/Documents"; }
std::string Paths::temporaryDirectory() const { return root_ + "/tmp"; }

}  // namespace platform
