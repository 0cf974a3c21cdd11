#include "analytics/foundation/core/GWLKeychainWrapper.h"

#include <mutex>
#include <vector>

#include "platform/crypto/SecureStore.h"
#include "platform/storage/Paths.h"
#include "platform/text/Utf8.h"
#include "platform/util/Mutex.h"

namespace {

struct StoreState {
  platform::Mutex mutex;
  std::shared_ptr<platform::SecureStore> store ABSL_GUARDED_BY(mutex);
};

StoreState& storeState() {
  static StoreState* state = new StoreState();
  return *state;
}

std::shared_ptr<platform::SecureStore> secureStore() {
  {
    platform::MutexLock lock(storeState().mutex);
    if (storeState().store) return storeState().store;
  }
  auto paths = platform::Paths::current();
  if (!paths) return nullptr;
  return std::make_shared<platform::SecureStore>(std::filesystem::path(paths->libraryDirectory()) / "Keychains");
}

}  // namespace

bool GWLKeychainWrapper::upsertKeychainValue(const std::string& value, const std::string& identifier,
                                             const std::string& appID) {
  if (value.empty() || identifier.empty() || appID.empty()) return false;
  auto store = secureStore();
  if (!store) return false;
  std::vector<uint8_t> bytes(value.begin(), value.end());
  return store->set(appID, identifier, bytes);
}

std::optional<std::string> GWLKeychainWrapper::keychainValueWithIdentifier(const std::string& identifier,
                                                                          const std::string& appID) {
  if (identifier.empty() || appID.empty()) return std::nullopt;
  auto store = secureStore();
  if (!store) return std::nullopt;
  auto bytes = store->get(appID, identifier);
  if (!bytes || bytes->empty()) return std::nullopt;
  std::string text(bytes->begin(), bytes->end());
  if (!platform::utf8::isValid(text)) return std::nullopt;
  return text;
}

void GWLKeychainWrapper::deleteKeychainValueWithIdentifier(const std::string& identifier, const std::string& appID) {
  if (identifier.empty() || appID.empty()) return;
  // Nothing to tell the caller: a value that cannot be removed stays, and the
  // next read answers it as before.
  if (auto store = secureStore()) (void)store->remove(appID, identifier);
}

void GWLKeychainWrapper::setSecureStore(std::shared_ptr<platform::SecureStore> store) {
  platform::MutexLock lock(storeState().mutex);
  storeState().store = std::move(store);
}
