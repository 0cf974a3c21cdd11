#include "platform/env/VendorIdentifier.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>

#include "platform/storage/AtomicFile.h"
#include "platform/storage/Paths.h"
#include "platform/util/UUID.h"

namespace platform {
namespace {

// A stored identifier is 36 characters; anything longer is not one.
constexpr size_t kMaximumFileSize = 64;

struct Remembered {
  std::mutex mutex;
  std::map<std::string, std::string> byFile;  // file path -> identifier
};

Remembered& remembered() {
  static Remembered* state = new Remembered();  // never destroyed: readers may run during exit
  return *state;
}

// The file's bytes (at most kMaximumFileSize + 1 of them); nullopt with the
// error when it cannot be read, an empty string when there is no file.
std::optional<std::string> readSmallFile(const std::string& path, Error* error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return std::string();
    setError(error, posixError(errno, "cannot open " + path));
    return std::nullopt;
  }
  std::string text;
  char buffer[kMaximumFileSize + 1];
  while (text.size() <= kMaximumFileSize) {
    ssize_t n = ::read(fd, buffer, sizeof buffer - text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int err = errno;
      ::close(fd);
      setError(error, posixError(err, "cannot read " + path));
      return std::nullopt;
    }
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return text;
}

}  // namespace

std::string VendorIdentifier::filePath(const Paths& paths) {
  return paths.libraryDirectory() + "/" + kVendorIdentifierFileName;
}

std::optional<std::string> VendorIdentifier::identifierForVendor(const Paths& paths, Random& random, Error* error) {
  const std::string path = filePath(paths);
  auto& state = remembered();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (auto it = state.byFile.find(path); it != state.byFile.end()) return it->second;

  Error local;
  auto stored = readSmallFile(path, &local);
  if (!stored) {
    setError(error, local);
    return std::nullopt;
  }
  std::string identifier = *stored;
  if (!isUUIDString(identifier)) {
    identifier = randomUUIDString(random);
    std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(identifier.data()), identifier.size());
    if (!writeFileAtomically(path, bytes, &local, 0600)) {
      setError(error, local);
      return std::nullopt;
    }
  }
  state.byFile[path] = identifier;
  return identifier;
}

void VendorIdentifier::resetForTesting() {
  auto& state = remembered();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.byFile.clear();
}

}  // namespace platform
