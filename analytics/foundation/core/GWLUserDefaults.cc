#include "analytics/foundation/core/GWLUserDefaults.h"

#include <filesystem>

#include "analytics/foundation/core/GWLASLLogger.h"
#include "analytics/foundation/core/GWLPaths.h"
#include "platform/core/Log.h"
#include "platform/storage/PreferencesStore.h"
#include "platform/storage/PropertyList.h"

namespace {

constexpr int64_t kExcludeFailedCode = 41000;
constexpr const char* kExcludeFailedMessage = "Failed to exclude preferences file from backup. Error code %s";
constexpr int64_t kInvalidGetKeyCode = 41001;
constexpr const char* kInvalidGetKeyMessage = "Cannot get object for invalid user default key.";
constexpr int64_t kInvalidSetKeyCode = 41002;
constexpr const char* kInvalidSetKeyMessage = "Cannot set object for invalid user default key.";
constexpr int64_t kInvalidValueCode = 41003;
constexpr const char* kInvalidValueMessage =
    "Cannot set invalid object to user defaults. Must be a string or number or an array. Value %s";
constexpr int64_t kSynchronizeFailedCode = 41004;
constexpr const char* kSynchronizeFailedMessage = "Cannot synchronize user defaults to disk";

std::shared_ptr<platform::PreferencesStore> storeForSuite(const std::string& suiteName) {
  auto store = suiteName.empty() ? platform::PreferencesStore::standard() : platform::PreferencesStore::suite(suiteName);
  // A name that cannot be a file name still gets a store, kept in memory only.
  if (!store) store = platform::PreferencesStore::create(suiteName, std::string(), nullptr, nullptr);
  return store;
}

}  // namespace

std::shared_ptr<GWLUserDefaults> GWLUserDefaults::sharedUserDefaults() {
  static platform::Mutex mutex;
  static std::shared_ptr<GWLUserDefaults> shared;  // under `mutex`
  platform::MutexLock lock(mutex);
  // The app's own domain may change when tests reset the preferences; the
  // shared instance follows the store that is current.
  auto store = platform::PreferencesStore::standard();
  if (!shared || shared->store_ != store) {
    shared = std::make_shared<GWLUserDefaults>(store);
    shared->setIsPreferenceFileExcluded(true);
  }
  return shared;
}

GWLUserDefaults::GWLUserDefaults() : GWLUserDefaults(std::string()) {}

GWLUserDefaults::GWLUserDefaults(const std::string& suiteName)
    : suiteName_(suiteName), store_(storeForSuite(suiteName)) {}

GWLUserDefaults::GWLUserDefaults(std::shared_ptr<platform::PreferencesStore> store, const std::string& suiteName)
    : suiteName_(suiteName), store_(store ? std::move(store) : storeForSuite(suiteName)) {}

GWLUserDefaults::~GWLUserDefaults() = default;

std::optional<platform::Object> GWLUserDefaults::objectForKey(const std::string& key) const {
  if (key.empty()) {
    platform::HVUOSLogWarning(kGWLLogSubsystem, kGWLDefaultLogTag, false, GWLMessageCodeString(kInvalidGetKeyCode),
                              "%s", kInvalidGetKeyMessage);
    return std::nullopt;
  }
  return store_->objectForKey(key);
}

void GWLUserDefaults::setObject(const platform::Object& value, const std::string& key) {
  if (key.empty()) {
    platform::HVUOSLogWarning(kGWLLogSubsystem, kGWLDefaultLogTag, false, GWLMessageCodeString(kInvalidSetKeyCode),
                              "%s", kInvalidSetKeyMessage);
    return;
  }
  if (value.isNull()) {
    store_->removeObjectForKey(key);
    return;
  }
  if (!platform::PropertyList::isValid(value)) {
    platform::HVUOSLogWarning(kGWLLogSubsystem, kGWLDefaultLogTag, false, GWLMessageCodeString(kInvalidValueCode),
                              kInvalidValueMessage, value.description().c_str());
    return;
  }
  // The key and the value were checked above: the store cannot refuse them.
  (void)store_->setObject(value, key);
}

void GWLUserDefaults::removeObjectForKey(const std::string& key) { setObject(platform::Object(), key); }

int64_t GWLUserDefaults::integerForKey(const std::string& key) const {
  auto value = objectForKey(key);
  return value ? value->integerValueOrZero() : 0;
}

float GWLUserDefaults::floatForKey(const std::string& key) const { return static_cast<float>(doubleForKey(key)); }

double GWLUserDefaults::doubleForKey(const std::string& key) const {
  auto value = objectForKey(key);
  return value ? value->doubleValueOrZero() : 0.0;
}

bool GWLUserDefaults::boolForKey(const std::string& key) const {
  auto value = objectForKey(key);
  return value && value->boolValueOrFalse();
}

std::optional<std::string> GWLUserDefaults::stringForKey(const std::string& key) const {
  auto value = objectForKey(key);
  if (!value || !value->stringValue()) return std::nullopt;
  return *value->stringValue();
}

std::optional<platform::Object> GWLUserDefaults::numberForKey(const std::string& key) const {
  auto value = objectForKey(key);
  if (!value || !value->isNumberOrBool()) return std::nullopt;
  return value;
}

std::optional<platform::Array> GWLUserDefaults::arrayForKey(const std::string& key) const {
  auto value = objectForKey(key);
  if (!value || !value->arrayValue()) return std::nullopt;
  return *value->arrayValue();
}

std::optional<platform::Dictionary> GWLUserDefaults::dictionaryForKey(const std::string& key) const {
  auto value = objectForKey(key);
  if (!value || !value->dictionaryValue()) return std::nullopt;
  return *value->dictionaryValue();
}

void GWLUserDefaults::setInteger(int64_t value, const std::string& key) { setObject(platform::Object(value), key); }

void GWLUserDefaults::setFloat(float value, const std::string& key) { setObject(platform::Object(value), key); }

void GWLUserDefaults::setDouble(double value, const std::string& key) { setObject(platform::Object(value), key); }

void GWLUserDefaults::setBool(bool value, const std::string& key) { setObject(platform::Object(value), key); }

void GWLUserDefaults::clearAllData() {
  auto keys = store_->keys();
  if (!keys.empty()) store_->removeObjectsForKeys(keys);
}

bool GWLUserDefaults::synchronize(platform::Error* error) {
  platform::Error local;
  const bool written = store_->synchronize(&local);
  if (!written) {
    platform::HVUOSLogError(kGWLLogSubsystem, kGWLDefaultLogTag, false, GWLMessageCodeString(kSynchronizeFailedCode),
                            "%s", kSynchronizeFailedMessage);
    platform::setError(error, local);
  }
  platform::MutexLock lock(lock_);
  const std::string& path = store_->filePath();
  std::error_code ec;
  if (!isPreferenceFileExcluded_ && !path.empty() && std::filesystem::exists(path, ec)) {
    platform::Error excludeError;
    if (GWLExcludePathFromBackup(path, &excludeError)) {
      isPreferenceFileExcluded_ = true;
    } else {
      platform::HVUOSLogWarning(kGWLLogSubsystem, kGWLDefaultLogTag, false, GWLMessageCodeString(kExcludeFailedCode),
                                kExcludeFailedMessage, std::to_string(excludeError.code).c_str());
    }
  }
  return written;
}

bool GWLUserDefaults::isPreferenceFileExcluded() const {
  platform::MutexLock lock(lock_);
  return isPreferenceFileExcluded_;
}

void GWLUserDefaults::setIsPreferenceFileExcluded(bool excluded) {
  platform::MutexLock lock(lock_);
  isPreferenceFileExcluded_ = excluded;
}
