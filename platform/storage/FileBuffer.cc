#include "platform/storage/FileBuffer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace platform {
namespace {

Error changedWhileRead(const std::string& path) { return posixError(EAGAIN, path + " changed while it was read"); }

// Reads up to `size` bytes at `offset`, stopping early only at the end of the
// file; the count read, or -1 with errno.
ssize_t readUpTo(int fd, uint64_t offset, uint8_t* into, size_t size) {
  size_t filled = 0;
  while (filled < size) {
    const ssize_t n = ::pread(fd, into + filled, size - filled, static_cast<off_t>(offset + filled));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    filled += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(filled);
}

}  // namespace

std::optional<FileBuffer> readRegularFile(const std::string& path, size_t maxBytes, Error* error) {
  std::optional<RegularFileReader> file = RegularFileReader::open(path, maxBytes, error);
  if (!file) return std::nullopt;
  return file->readAll(error);
}

std::optional<RegularFileReader> RegularFileReader::open(const std::string& path, size_t maxBytes, Error* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    setError(error, posixError(errno, "cannot open " + path));
    return std::nullopt;
  }
  auto fail = [&](int errnum, const std::string& what) -> std::optional<RegularFileReader> {
    ::close(fd);
    setError(error, posixError(errnum, what));
    return std::nullopt;
  };
  struct stat st {};
  if (::fstat(fd, &st) != 0) return fail(errno, "cannot read " + path);
  if (S_ISDIR(st.st_mode)) return fail(EISDIR, path + " is a directory");
  if (!S_ISREG(st.st_mode)) return fail(EINVAL, path + " is not a regular file");
  const auto size = static_cast<uint64_t>(st.st_size);
  if (size > maxBytes) return fail(EFBIG, path + " is larger than " + std::to_string(maxBytes) + " bytes");
  return RegularFileReader(fd, path, static_cast<size_t>(size));
}

RegularFileReader::RegularFileReader(RegularFileReader&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)), size_(other.size_) {}

RegularFileReader& RegularFileReader::operator=(RegularFileReader&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
    size_ = other.size_;
  }
  return *this;
}

RegularFileReader::~RegularFileReader() {
  if (fd_ >= 0) ::close(fd_);
}

bool RegularFileReader::readAt(uint64_t offset, std::span<uint8_t> into, Error* error) const {
  const ssize_t n = readUpTo(fd_, offset, into.data(), into.size());
  if (n < 0) {
    setError(error, posixError(errno, "cannot read " + path_));
    return false;
  }
  if (static_cast<size_t>(n) < into.size()) {
    setError(error, changedWhileRead(path_));
    return false;
  }
  return true;
}

bool RegularFileReader::endsAtSize(Error* error) const {
  uint8_t beyond = 0;
  const ssize_t n = readUpTo(fd_, size_, &beyond, 1);
  if (n < 0) {
    setError(error, posixError(errno, "cannot read " + path_));
    return false;
  }
  if (n > 0) {
    setError(error, changedWhileRead(path_));
    return false;
  }
  return true;
}

std::optional<FileBuffer> RegularFileReader::readAll(Error* error) const {
  // A byte more than the size tells a file that grew meanwhile.
  const size_t capacity = size_ + 1;
  std::unique_ptr<uint8_t[]> data(new uint8_t[capacity]);
  const ssize_t n = readUpTo(fd_, 0, data.get(), capacity);
  if (n < 0) {
    setError(error, posixError(errno, "cannot read " + path_));
    return std::nullopt;
  }
  const auto filled = static_cast<size_t>(n);
  if (filled > size_) {
    setError(error, changedWhileRead(path_));
    return std::nullopt;
  }
  return FileBuffer(std::move(data), filled);
}

}  // namespace platform
