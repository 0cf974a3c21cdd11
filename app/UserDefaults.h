// UserDefaults — the persistent key/value store that the app keeps its
// documents, flags and counters in.
//
// Values are platform::Object (data, booleans, integers, ...) under text keys.
// A read answers the stored value, else the registered default, else nothing;
// registered defaults live in memory only and are never written. Writes are
// kept in memory at once and reach the disk later; `synchronize()` writes them
// now and answers whether they are on disk.
//
// PreferencesUserDefaults puts the interface over a preferences suite;
// `standard()` is the app's own suite, shared with the analytics library.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/core/Object.h"

namespace tabulo {

class UserDefaults {
 public:
  virtual ~UserDefaults() = default;

  virtual std::optional<platform::Object> objectForKey(const std::string& key) const = 0;
  // The value under `key` without a copy where the store keeps it shared (a
  // large data value); null when there is none. The value never changes: a
  // later write stores a new one.
  virtual std::shared_ptr<const platform::Object> sharedObjectForKey(const std::string& key) const;
  // Answers false, storing nothing, for a value or key the store cannot keep
  // (one that would make the store larger than it may be, among them), and
  // says why in `reason`.
  virtual bool setObject(platform::Object value, const std::string& key, std::string* reason = nullptr) = 0;
  virtual void registerDefaults(const platform::Dictionary& defaults) = 0;
  virtual bool synchronize() = 0;

  // Why the store's storage could not be read when it was opened; it is then
  // kept as it is, the store starts empty, and nothing is written to it until
  // setAsideUnreadableStorage(). None when it was read (or set aside).
  virtual std::optional<std::string> unreadableStorage() const { return std::nullopt; }
  // Moves the unreadable storage aside, keeping it, so that the store may be
  // written again; false when it could not be moved.
  virtual bool setAsideUnreadableStorage() { return true; }

  // Typed reads over objectForKey.
  // The data value under `key`; none when absent or of another kind.
  std::optional<platform::Bytes> dataForKey(const std::string& key) const;
  // A boolean, or a number other than 0, reads true; anything else false.
  bool boolForKey(const std::string& key) const;
  // An integer, a boolean (0 or 1) or a double (truncated, saturating); else 0.
  int64_t integerForKey(const std::string& key) const;

  bool setBool(bool value, const std::string& key) { return setObject(platform::Object(value), key); }
  bool setInteger(int64_t value, const std::string& key) { return setObject(platform::Object(value), key); }
  bool setData(platform::Bytes value, const std::string& key, std::string* reason = nullptr) {
    return setObject(platform::Object(std::move(value)), key, reason);
  }
};

}  // namespace tabulo
