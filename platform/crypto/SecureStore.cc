#include "platform/crypto/SecureStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/crypto/Digest.h"
#include "platform/storage/AtomicFile.h"

namespace platform {
namespace {

constexpr uint8_t kMagic[4] = {'T', 'B', 'S', 'S'};
constexpr uint8_t kVersion = 1;
constexpr size_t kChecksumSize = 32;
constexpr off_t kMaxFileSize = 16 << 20;  // far beyond any real store; refuses absurd files
constexpr std::string_view kTempPrefix = ".secure-store.tmp-";

// One lock for every store in the process: two SecureStore objects on the same
// directory must not interleave their read-modify-write cycles.
std::mutex& storeMutex() {
  static std::mutex mutex;
  return mutex;
}

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.release()) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd& operator=(Fd&&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

Error storeError(SecureStoreErrorCode code, std::string description) {
  return Error(kSecureStoreErrorDomain, code, std::move(description));
}

// Refuses anything another user could read, write or swap.
std::optional<Error> checkOwnership(int fd, const std::filesystem::path& path, bool directory) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return posixError(errno, "cannot inspect " + path.string());
  if (directory ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode)) {
    return storeError(kSecureStoreErrorInsecure, path.string() + " is not a " + (directory ? "directory" : "file"));
  }
  if (st.st_uid != ::geteuid()) {
    return storeError(kSecureStoreErrorInsecure, path.string() + " is owned by another user");
  }
  if ((st.st_mode & 077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return storeError(kSecureStoreErrorInsecure, path.string() + " has mode " + mode + "; it must be " +
                                                     (directory ? "0700" : "0600") + " to hold secrets");
  }
  return std::nullopt;
}

// Opens the store's directory; with `create`, makes it (0700) when missing.
// An invalid Fd without error means the directory does not exist.
Fd openDirectory(const std::filesystem::path& dir, bool create, Error& error, bool& failed) {
  failed = false;
  if (create) {
    std::error_code ec;
    if (dir.has_parent_path()) std::filesystem::create_directories(dir.parent_path(), ec);
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
      error = posixError(errno, "cannot create " + dir.string());
      failed = true;
      return Fd();
    }
  }
  Fd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.valid()) {
    if (errno == ENOENT && !create) return Fd();
    failed = true;
    if (errno == ELOOP || errno == ENOTDIR) {
      error = storeError(kSecureStoreErrorInsecure, dir.string() + " is not a plain directory");
    } else {
      error = posixError(errno, "cannot open " + dir.string());
    }
    return Fd();
  }
  if (auto problem = checkOwnership(fd.get(), dir, true)) {
    error = *problem;
    failed = true;
    return Fd();
  }
  return fd;
}

std::optional<SecureStore::Items> readItems(int dirFd, const std::filesystem::path& dir, Error& error) {
  const std::filesystem::path path = dir / SecureStore::kFileName;
  Fd fd(::openat(dirFd, SecureStore::kFileName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.valid()) {
    if (errno == ENOENT) return SecureStore::Items();
    if (errno == ELOOP) {
      error = storeError(kSecureStoreErrorInsecure, path.string() + " is a symbolic link");
    } else {
      error = posixError(errno, "cannot open " + path.string());
    }
    return std::nullopt;
  }
  if (auto problem = checkOwnership(fd.get(), path, false)) {
    error = *problem;
    return std::nullopt;
  }
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) {
    error = posixError(errno, "cannot inspect " + path.string());
    return std::nullopt;
  }
  if (st.st_size > kMaxFileSize) {
    error = storeError(kSecureStoreErrorCorrupt, path.string() + " is too large to be a secure store");
    return std::nullopt;
  }
  std::vector<uint8_t> bytes;
  uint8_t buffer[8192];
  for (;;) {
    ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = posixError(errno, "cannot read " + path.string());
      return std::nullopt;
    }
    if (n == 0) break;
    bytes.insert(bytes.end(), buffer, buffer + n);
    if (bytes.size() > static_cast<size_t>(kMaxFileSize)) {
      error = storeError(kSecureStoreErrorCorrupt, path.string() + " is too large to be a secure store");
      return std::nullopt;
    }
  }
  Error decodeError;
  auto items = SecureStore::decode(bytes, &decodeError);
  if (!items) {
    error = storeError(kSecureStoreErrorCorrupt, path.string() + ": " + decodeError.description);
  }
  return items;
}

// Replaces the file through the checked directory descriptor, clearing first
// what a write cut off before its rename left behind.
bool writeItems(int dirFd, const std::filesystem::path& dir, const SecureStore::Items& items, Error& error) {
  const std::vector<uint8_t> bytes = SecureStore::encode(items);
  const std::span<const uint8_t> pieces[] = {bytes};
  AtomicWriteOptions options;
  options.mode = 0600;
  options.exactMode = true;
  options.temporaryPrefix = std::string(kTempPrefix);
  options.removeLeftovers = true;
  return writeFileAtomicallyAt(dirFd, dir.string(), SecureStore::kFileName,
                               std::span<const std::span<const uint8_t>>(pieces), options, &error);
}

void putU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void putField(std::vector<uint8_t>& out, std::span<const uint8_t> field) {
  putU32(out, static_cast<uint32_t>(field.size()));
  out.insert(out.end(), field.begin(), field.end());
}

std::span<const uint8_t> bytesOf(std::string_view s) { return {reinterpret_cast<const uint8_t*>(s.data()), s.size()}; }

}  // namespace

SecureStore::SecureStore(std::filesystem::path directory) : directory_(std::move(directory)) {}

std::optional<std::vector<uint8_t>> SecureStore::get(std::string_view service, std::string_view account,
                                                     Error* error) const {
  std::lock_guard lock(storeMutex());
  Error failure;
  bool failed;
  Fd dirFd = openDirectory(directory_, false, failure, failed);
  if (failed) {
    setError(error, failure);
    return std::nullopt;
  }
  if (dirFd.valid()) {
    auto items = readItems(dirFd.get(), directory_, failure);
    if (!items) {
      setError(error, failure);
      return std::nullopt;
    }
    auto it = items->find(Key(service, account));
    if (it != items->end()) return std::move(it->second);
  }
  setError(error, storeError(kSecureStoreErrorItemNotFound, "no item for this service and account"));
  return std::nullopt;
}

bool SecureStore::set(std::string_view service, std::string_view account, std::span<const uint8_t> value,
                      Error* error) {
  if (service.size() > UINT32_MAX || account.size() > UINT32_MAX || value.size() > UINT32_MAX) {
    setError(error, posixError(EFBIG, "item too large for the secure store"));
    return false;
  }
  std::lock_guard lock(storeMutex());
  Error failure;
  bool failed;
  Fd dirFd = openDirectory(directory_, true, failure, failed);
  std::optional<Items> items;
  if (!failed) items = readItems(dirFd.get(), directory_, failure);
  if (!items) {
    setError(error, failure);
    return false;
  }
  (*items)[Key(service, account)].assign(value.begin(), value.end());
  if (!writeItems(dirFd.get(), directory_, *items, failure)) {
    setError(error, failure);
    return false;
  }
  return true;
}

bool SecureStore::remove(std::string_view service, std::string_view account, Error* error) {
  std::lock_guard lock(storeMutex());
  Error failure;
  bool failed;
  Fd dirFd = openDirectory(directory_, false, failure, failed);
  if (failed) {
    setError(error, failure);
    return false;
  }
  if (!dirFd.valid()) return true;
  auto items = readItems(dirFd.get(), directory_, failure);
  if (!items) {
    setError(error, failure);
    return false;
  }
  if (items->erase(Key(service, account)) == 0) return true;
  if (!writeItems(dirFd.get(), directory_, *items, failure)) {
    setError(error, failure);
    return false;
  }
  return true;
}

std::vector<uint8_t> SecureStore::encode(const Items& items) {
  std::vector<uint8_t> out(std::begin(kMagic), std::end(kMagic));
  out.push_back(kVersion);
  putU32(out, static_cast<uint32_t>(items.size()));
  for (const auto& [key, value] : items) {
    putField(out, bytesOf(key.first));
    putField(out, bytesOf(key.second));
    putField(out, value);
  }
  const auto checksum = Digest::sha256(std::span<const uint8_t>(out));
  out.insert(out.end(), checksum.begin(), checksum.end());
  return out;
}

std::optional<SecureStore::Items> SecureStore::decode(std::span<const uint8_t> file, Error* error) {
  const auto corrupt = [&](const std::string& why) -> std::optional<Items> {
    setError(error, storeError(kSecureStoreErrorCorrupt, why));
    return std::nullopt;
  };
  if (file.size() < sizeof kMagic + 1 + 4 + kChecksumSize || !std::equal(kMagic, kMagic + 4, file.begin())) {
    return corrupt("not a secure store file");
  }
  if (file[4] != kVersion) return corrupt("unsupported secure store version " + std::to_string(file[4]));
  const auto body = file.first(file.size() - kChecksumSize);
  const auto checksum = Digest::sha256(body);
  if (!std::equal(checksum.begin(), checksum.end(), file.begin() + body.size())) {
    return corrupt("secure store checksum does not match");
  }
  size_t pos = 5;
  const auto readU32 = [&](uint32_t& v) {
    if (body.size() - pos < 4) return false;
    v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | body[pos++];
    return true;
  };
  const auto readField = [&](std::span<const uint8_t>& field) {
    uint32_t length;
    if (!readU32(length) || body.size() - pos < length) return false;
    field = body.subspan(pos, length);
    pos += length;
    return true;
  };
  uint32_t count;
  readU32(count);
  Items items;
  for (uint32_t i = 0; i < count; ++i) {
    std::span<const uint8_t> service, account, value;
    if (!readField(service) || !readField(account) || !readField(value)) return corrupt("secure store is truncated");
    Key key(std::string(service.begin(), service.end()), std::string(account.begin(), account.end()));
    if (!items.empty() && !(items.rbegin()->first < key)) return corrupt("secure store items are out of order");
    items.emplace_hint(items.end(), std::move(key), std::vector<uint8_t>(value.begin(), value.end()));
  }
  if (pos != body.size()) return corrupt("secure store has trailing bytes");
  return items;
}

}  // namespace platform
