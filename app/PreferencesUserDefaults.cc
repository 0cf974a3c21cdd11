#include "app/PreferencesUserDefaults.h"

#include "platform/dispatch/Clock.h"

namespace tabulo {

PreferencesUserDefaults::PreferencesUserDefaults(std::shared_ptr<platform::PreferencesStore> store)
    : store_(std::move(store)) {}

std::shared_ptr<PreferencesUserDefaults> PreferencesUserDefaults::standard() {
  static const std::shared_ptr<PreferencesUserDefaults> instance = [] {
    std::shared_ptr<platform::PreferencesStore> store = platform::PreferencesStore::standard();
    // Without a usable suite the values stay in memory, and every save says it
    // did not reach the disk.
    if (!store) store = platform::PreferencesStore::create("standard", "", platform::Clock::system(), nullptr);
    return std::make_shared<PreferencesUserDefaults>(std::move(store));
  }();
  return instance;
}

std::optional<platform::Object> PreferencesUserDefaults::objectForKey(const std::string& key) const {
  return store_->objectForKey(key);
}

std::shared_ptr<const platform::Object> PreferencesUserDefaults::sharedObjectForKey(const std::string& key) const {
  return store_->sharedObjectForKey(key);
}

bool PreferencesUserDefaults::setObject(platform::Object value, const std::string& key, std::string* reason) {
  platform::Error error;
  if (store_->setObject(std::move(value), key, &error)) return true;
  if (reason) *reason = error.description;
  return false;
}

std::optional<std::string> PreferencesUserDefaults::unreadableStorage() const {
  if (!store_->isKeepingUnreadableFile()) return std::nullopt;
  std::optional<platform::Error> error = store_->loadError();
  return store_->filePath() + ": " + (error ? error->description : std::string("unreadable"));
}

bool PreferencesUserDefaults::setAsideUnreadableStorage() { return store_->setAsideUnreadableFile(); }

void PreferencesUserDefaults::registerDefaults(const platform::Dictionary& defaults) {
  store_->registerDefaults(defaults);
}

bool PreferencesUserDefaults::synchronize() { return store_->synchronize(); }

}  // namespace tabulo
