#include "platform/storage/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace platform {
namespace {

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

}  // namespace

std::string atomicWriteTemporaryPrefix(const std::string& path) {
  auto slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  return dir + "." + name + ".tmp-";
}

void setAtomicWriteHookForTesting(std::function<bool(const std::string&)> h) {
  std::lock_guard lock(hookMutex());
  hook() = std::move(h);
}

bool writeFileAtomically(const std::string& path, std::span<const uint8_t> bytes, Error* error, unsigned mode) {
  const std::span<const uint8_t> pieces[] = {bytes};
  return writeFileAtomically(path, std::span<const std::span<const uint8_t>>(pieces), error, mode);
}

bool writeFileAtomically(const std::string& path, std::span<const std::span<const uint8_t>> pieces, Error* error,
                         unsigned mode) {
  if (path.empty() || path.back() == '/') {
    setError(error, posixError(EINVAL, "cannot write to \"" + path + "\""));
    return false;
  }
  std::string templ = atomicWriteTemporaryPrefix(path) + "XXXXXX";
  std::vector<char> name(templ.begin(), templ.end());
  name.push_back('\0');
  int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    setError(error, posixError(errno, "cannot create a temporary file next to " + path));
    return false;
  }
  const std::string temporary(name.data());
  auto fail = [&](const std::string& what) {
    int err = errno;
    if (fd >= 0) ::close(fd);
    ::unlink(temporary.c_str());
    setError(error, posixError(err, what));
    return false;
  };
  // mkostemp creates 0600; apply the requested mode (minus the umask).
  mode_t mask = ::umask(0);
  ::umask(mask);
  if (::fchmod(fd, static_cast<mode_t>(mode) & ~mask) != 0) return fail("cannot set the mode of " + temporary);
  if (!writeAll(fd, pieces)) return fail("cannot write " + temporary);
  if (::fsync(fd) != 0) return fail("cannot flush " + temporary);
  int closeResult = ::close(fd);
  fd = -1;
  if (closeResult != 0) return fail("cannot close " + temporary);

  {
    std::function<bool(const std::string&)> h;
    {
      std::lock_guard lock(hookMutex());
      h = hook();
    }
    if (h && !h(temporary)) {
      setError(error, posixError(EINTR, "write of " + path + " interrupted before its rename"));
      return false;
    }
  }

  if (::rename(temporary.c_str(), path.c_str()) != 0) return fail("cannot rename " + temporary + " to " + path);

  // The rename is durable only once the directory entry is on disk.
  std::string dir = directoryOf(path);
  int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) {
    setError(error, posixError(errno, "cannot open directory " + dir));
    return false;
  }
  int syncResult = ::fsync(dirFd);
  int syncErrno = errno;
  ::close(dirFd);
  if (syncResult != 0) {
    setError(error, posixError(syncErrno, "cannot flush directory " + dir));
    return false;
  }
  return true;
}

}  // namespace platform
