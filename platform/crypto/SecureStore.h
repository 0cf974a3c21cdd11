// platform::SecureStore — the keychain stand-in: small secret items, each
// stored under a (service, account) key, kept in one file readable only by
// the user.
//
// The store lives in a directory given to the constructor. The directory is
// created with mode 0700 when the first item is stored; the file inside it
// (kFileName) has mode 0600. Every change rewrites the file atomically
// (temporary file, fsync, rename, fsync of the directory), so a crash leaves
// either the old items or the new ones, never a mix or a torn file.
//
// Permissions are checked on every operation, on the opened descriptors, and a
// store whose directory or file is reachable by others (any group or other
// permission bit), is not owned by this user, or is a symbolic link is refused
// with kSecureStoreErrorInsecure. It is not repaired: a loose mode means the
// secrets may already have been read or replaced by someone else, and quietly
// tightening it would hide that from the user, who is told which path to check.
//
// The file ends with a SHA-256 of its content; a damaged file is reported
// (kSecureStoreErrorCorrupt) and left untouched: get, set and remove all fail
// until it is removed or restored, so no item is ever lost by overwriting it.
//
// Operations are serialised within the process; the data directory's lock
// keeps other processes away. Failures answer false or std::nullopt and fill
// `error`; nothing throws.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/core/Error.h"

namespace platform {

inline constexpr const char* kSecureStoreErrorDomain = "platform.SecureStore";

enum SecureStoreErrorCode : int64_t {
  kSecureStoreErrorItemNotFound = 1,  // get: no item under that key
  kSecureStoreErrorInsecure = 2,      // the directory or file is open to others, not ours, or a link
  kSecureStoreErrorCorrupt = 3,       // the file cannot be read as a store
};
// System call failures are reported in the POSIX domain with their errno.

class SecureStore {
 public:
  static constexpr const char* kFileName = "secure-store.bin";

  using Key = std::pair<std::string, std::string>;  // service, account
  using Items = std::map<Key, std::vector<uint8_t>>;

  explicit SecureStore(std::filesystem::path directory);

  // The item's bytes; std::nullopt with kSecureStoreErrorItemNotFound when
  // there is none, or with another error when the store cannot be read.
  [[nodiscard]] std::optional<std::vector<uint8_t>> get(std::string_view service, std::string_view account,
                                          Error* error = nullptr) const;

  // Stores (or replaces) the item; true once it is on disk.
  [[nodiscard]] bool set(std::string_view service, std::string_view account, std::span<const uint8_t> value,
           Error* error = nullptr);

  // Removes the item; true when it is gone (including when there was none).
  [[nodiscard]] bool remove(std::string_view service, std::string_view account, Error* error = nullptr);

  const std::filesystem::path& directory() const { return directory_; }

  // The file format: "TBSS", version byte 1, item count (u32, big-endian),
  // then per item in key order the service, account and value, each as a u32
  // big-endian length and its bytes; last the SHA-256 of everything before it.
  static std::vector<uint8_t> encode(const Items& items);
  [[nodiscard]] static std::optional<Items> decode(std::span<const uint8_t> file, Error* error = nullptr);

 private:
  std::filesystem::path directory_;
};

}  // namespace platform
