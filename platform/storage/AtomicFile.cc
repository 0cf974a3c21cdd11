#include "platform/storage/AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <random>
#include <string_view>
#include <vector>

namespace platform {
namespace {

constexpr int kCreateAttempts = 16;

std::mutex& hookMutex() {
  static std::mutex mutex;
  return mutex;
}

std::function<bool(const std::string&)>& hook() {
  static std::function<bool(const std::string&)> h;
  return h;
}

std::string directoryOf(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string fileNameOf(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string joined(const std::string& directory, const std::string& name) {
  return directory.ends_with('/') ? directory + name : directory + "/" + name;
}

// Twelve random hex digits: a temporary name no other writer picks.
std::string randomSuffix() {
  std::random_device device;
  const uint64_t value = (static_cast<uint64_t>(device()) << 32) | device();
  char text[13];
  std::snprintf(text, sizeof text, "%012llx", static_cast<unsigned long long>(value & 0xFFFF'FFFF'FFFFull));
  return text;
}

bool writeAll(int fd, std::span<const std::span<const uint8_t>> pieces) {
  for (std::span<const uint8_t> bytes : pieces) {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      done += static_cast<size_t>(n);
    }
  }
  return true;
}

bool fail(const AtomicWriteOptions& options, AtomicWriteStep step, Error* error, Error failure) {
  if (options.failedStep) *options.failedStep = step;
  setError(error, std::move(failure));
  return false;
}

bool writeAtPath(const std::string& path, std::span<const std::span<const uint8_t>> pieces,
                 const AtomicWriteOptions& options, Error* error) {
  if (path.empty() || path.back() == '/') {
    return fail(options, AtomicWriteStep::kCreate, error, posixError(EINVAL, "cannot write to \"" + path + "\""));
  }
  const std::string directory = directoryOf(path);
  int dirFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) {
    return fail(options, AtomicWriteStep::kCreate, error,
                posixError(errno, "cannot create a temporary file next to " + path));
  }
  bool written = writeFileAtomicallyAt(dirFd, directory, fileNameOf(path), pieces, options, error);
  ::close(dirFd);
  return written;
}

}  // namespace

std::string atomicWriteTemporaryPrefix(const std::string& path) {
  auto slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  return dir + "." + fileNameOf(path) + ".tmp-";
}

void setAtomicWriteHookForTesting(std::function<bool(const std::string&)> h) {
  std::lock_guard lock(hookMutex());
  hook() = std::move(h);
}

void removeAtomicWriteLeftovers(int directoryFd, const std::string& prefix) {
  if (prefix.empty()) return;
  int listFd = ::openat(directoryFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listFd < 0) return;
  DIR* d = ::fdopendir(listFd);
  if (!d) {
    ::close(listFd);
    return;
  }
  std::vector<std::string> leftovers;
  while (dirent* entry = ::readdir(d)) {
    if (std::string_view(entry->d_name).starts_with(prefix)) leftovers.emplace_back(entry->d_name);
  }
  ::closedir(d);
  for (const auto& name : leftovers) ::unlinkat(directoryFd, name.c_str(), 0);
}

void removeAtomicWriteLeftovers(const std::string& path) {
  int dirFd = ::open(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return;
  removeAtomicWriteLeftovers(dirFd, fileNameOf(atomicWriteTemporaryPrefix(path)));
  ::close(dirFd);
}

bool writeFileAtomically(const std::string& path, std::span<const uint8_t> bytes, Error* error, unsigned mode) {
  const std::span<const uint8_t> pieces[] = {bytes};
  return writeFileAtomically(path, std::span<const std::span<const uint8_t>>(pieces), error, mode);
}

bool writeFileAtomically(const std::string& path, std::span<const std::span<const uint8_t>> pieces, Error* error,
                         unsigned mode) {
  AtomicWriteOptions options;
  options.mode = mode;
  return writeAtPath(path, pieces, options, error);
}

bool writeFileAtomically(const std::string& path, std::span<const uint8_t> bytes, const AtomicWriteOptions& options,
                         Error* error) {
  const std::span<const uint8_t> pieces[] = {bytes};
  return writeAtPath(path, std::span<const std::span<const uint8_t>>(pieces), options, error);
}

bool writeFileAtomicallyAt(int directoryFd, const std::string& directoryPath, const std::string& name,
                           std::span<const std::span<const uint8_t>> pieces, const AtomicWriteOptions& options,
                           Error* error) {
  const std::string target = joined(directoryPath, name);
  if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
    return fail(options, AtomicWriteStep::kCreate, error, posixError(EINVAL, "cannot write to \"" + target + "\""));
  }
  const std::string prefix = options.temporaryPrefix.empty() ? "." + name + ".tmp-" : options.temporaryPrefix;
  if (options.removeLeftovers) removeAtomicWriteLeftovers(directoryFd, prefix);

  // O_EXCL with O_NOFOLLOW: never opens what is already there, a link included.
  // The kernel applies the umask to the mode given here.
  std::string temporaryName;
  int fd = -1;
  for (int attempt = 0; attempt < kCreateAttempts && fd < 0; ++attempt) {
    temporaryName = prefix + randomSuffix();
    fd = ::openat(directoryFd, temporaryName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  static_cast<mode_t>(options.mode & 07777));
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    return fail(options, AtomicWriteStep::kCreate, error,
                posixError(errno, "cannot create a temporary file next to " + target));
  }
  const std::string temporary = joined(directoryPath, temporaryName);
  auto abandon = [&](AtomicWriteStep step, const std::string& what) {
    int err = errno;
    if (fd >= 0) ::close(fd);
    ::unlinkat(directoryFd, temporaryName.c_str(), 0);
    return fail(options, step, error, posixError(err, what));
  };
  if (options.exactMode && ::fchmod(fd, static_cast<mode_t>(options.mode & 07777)) != 0) {
    return abandon(AtomicWriteStep::kSetMode, "cannot set the mode of " + temporary);
  }
  if (!writeAll(fd, pieces)) return abandon(AtomicWriteStep::kWrite, "cannot write " + temporary);
  if (::fsync(fd) != 0) return abandon(AtomicWriteStep::kFlush, "cannot flush " + temporary);
  int closeResult = ::close(fd);
  fd = -1;
  if (closeResult != 0) return abandon(AtomicWriteStep::kClose, "cannot close " + temporary);

  {
    std::function<bool(const std::string&)> h;
    {
      std::lock_guard lock(hookMutex());
      h = hook();
    }
    if (h && !h(temporary)) {
      return fail(options, AtomicWriteStep::kInterrupted, error,
                  posixError(EINTR, "write of " + target + " interrupted before its rename"));
    }
  }

  if (::renameat(directoryFd, temporaryName.c_str(), directoryFd, name.c_str()) != 0) {
    return abandon(AtomicWriteStep::kRename, "cannot rename " + temporary + " to " + target);
  }
  // The rename is durable only once the directory entry is on disk.
  if (::fsync(directoryFd) != 0) {
    return fail(options, AtomicWriteStep::kFlushDirectory, error,
                posixError(errno, "cannot flush directory " + directoryPath));
  }
  return true;
}

}  // namespace platform
