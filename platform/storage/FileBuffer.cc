#include "platform/storage/FileBuffer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

std::optional<FileBuffer> readRegularFile(const std::string& path, size_t maxBytes, Error* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    setError(error, posixError(errno, "cannot open " + path));
    return std::nullopt;
  }
  auto fail = [&](int errnum, const std::string& what) -> std::optional<FileBuffer> {
    ::close(fd);
    setError(error, posixError(errnum, what));
    return std::nullopt;
  };
  struct stat st {};
  if (::fstat(fd, &st) != 0) return fail(errno, "cannot read " + path);
  if (S_ISDIR(st.st_mode)) return fail(EISDIR, path + " is a directory");
  if (!S_ISREG(st.st_mode)) return fail(EINVAL, path + " is not a regular file");
  const auto expected = static_cast<uint64_t>(st.st_size);
  if (expected > maxBytes) {
    return fail(EFBIG, path + " is larger than " + std::to_string(maxBytes) + " bytes");
  }
  // A byte more than the size tells a file that grew meanwhile.
  const size_t capacity = static_cast<size_t>(expected) + 1;
  std::unique_ptr<uint8_t[]> data(new uint8_t[capacity]);
  size_t filled = 0;
  while (filled < capacity) {
    const ssize_t n = ::read(fd, data.get() + filled, capacity - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail(errno, "cannot read " + path);
    if (n == 0) break;
    filled += static_cast<size_t>(n);
  }
  if (filled > expected) return fail(EAGAIN, path + " changed while it was read");
  ::close(fd);
  return FileBuffer(std::move(data), filled);
}

}  // namespace platform
