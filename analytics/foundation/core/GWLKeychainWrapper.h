// GWLKeychainWrapper — small strings kept in the platform's secure store (the
// keychain stand-in), one item per (app identifier, item identifier).
//
// The only item of the library is the previous first-open count "_pfo". The
// store lies in the data directory's "Library/Keychains"; without a data
// directory (or with an unusable store) reads answer nothing and writes fail.
// Both identifiers must be non-empty, and so must a stored value.
//
// Threads: any thread; the store set for tests is guarded by a mutex, and the
// secure store serialises its own operations.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace platform {
class SecureStore;
}

class GWLKeychainWrapper {
 public:
  // Stores `value` under the item; answers whether it is stored.
  [[nodiscard]] static bool upsertKeychainValue(const std::string& value, const std::string& identifier, const std::string& appID);
  // The stored text; nullopt when there is none, it is empty or it is not UTF-8 text.
  [[nodiscard]] static std::optional<std::string> keychainValueWithIdentifier(const std::string& identifier,
                                                                const std::string& appID);
  static void deleteKeychainValueWithIdentifier(const std::string& identifier, const std::string& appID);

  // Uses `store` from now on; null returns to the data directory's store.
  static void setSecureStore(std::shared_ptr<platform::SecureStore> store);
};
