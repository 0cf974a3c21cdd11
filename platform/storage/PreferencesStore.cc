#include "platform/storage/PreferencesStore.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <limits>
#include <map>

#include "platform/core/BundleIdentifier.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Timer.h"
#include "platform/storage/AtomicFile.h"
#include "platform/storage/Paths.h"
#include "platform/storage/PropertyList.h"

namespace platform {
namespace {

constexpr const char* kSubsystem = "platform";
constexpr const char* kCategory = "preferences";

Error preferencesError(int64_t code, std::string description) {
  return Error(kPreferencesErrorDomain, code, std::move(description));
}

struct Registry {
  std::mutex mutex;
  PreferencesStore::Configuration configuration;
  std::map<std::string, std::shared_ptr<PreferencesStore>> suites;
  std::shared_ptr<Queue> defaultQueue;
};

Registry& registry() {
  static Registry* r = new Registry();  // never destroyed: suites may be used during exit
  return *r;
}

bool isValidSuiteName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

bool isValidKey(const std::string& key, Error* error) {
  if (key.empty()) {
    setError(error, preferencesError(PreferencesStore::kInvalidKey, "empty preferences key"));
    return false;
  }
  Error local;
  if (!PropertyList::isValid(Object(Dictionary{{key, true}}), &local)) {
    setError(error, preferencesError(PreferencesStore::kInvalidKey, "invalid preferences key: " + local.description));
    return false;
  }
  return true;
}

}  // namespace

// --- The shared registry ---------------------------------------------------

void PreferencesStore::configure(Configuration configuration) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  r.configuration = std::move(configuration);
}

std::shared_ptr<PreferencesStore> PreferencesStore::standard() { return suite(""); }

std::shared_ptr<PreferencesStore> PreferencesStore::suite(const std::string& name, Error* error) {
  auto& r = registry();
  std::unique_lock lock(r.mutex);
  Configuration config = r.configuration;
  lock.unlock();

  // Resolved outside the registry's lock: these take locks of their own.
  std::string domain = config.applicationDomain;
  if (domain.empty()) domain = kDefaultBundleIdentifier;
  std::string directory = config.directory;
  if (directory.empty()) {
    if (auto paths = Paths::current()) directory = paths->preferencesDirectory();
  }
  std::shared_ptr<Clock> clock = config.clock ? config.clock : Clock::system();

  const std::string suiteName = name.empty() ? domain : name;
  if (!isValidSuiteName(suiteName)) {
    setError(error, preferencesError(kInvalidSuiteName, "invalid preferences suite name \"" + suiteName + "\""));
    return nullptr;
  }

  lock.lock();
  auto it = r.suites.find(suiteName);
  if (it != r.suites.end()) return it->second;
  std::shared_ptr<Queue> queue = config.queue;
  if (!queue) {
    if (!r.defaultQueue) r.defaultQueue = SerialQueue::create("platform.preferences");
    queue = r.defaultQueue;
  }
  std::string path = directory.empty() ? std::string() : directory + "/" + suiteName + ".plist";
  auto store = create(suiteName, path, clock, queue, config.writeDelay);
  r.suites.emplace(suiteName, store);
  return store;
}

bool PreferencesStore::synchronizeAll() {
  std::vector<std::shared_ptr<PreferencesStore>> suites;
  {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    for (auto& [name, store] : r.suites) suites.push_back(store);
  }
  bool ok = true;
  for (auto& store : suites) ok = store->synchronize() && ok;
  return ok;
}

void PreferencesStore::resetForTesting() {
  std::map<std::string, std::shared_ptr<PreferencesStore>> suites;
  std::shared_ptr<Queue> queue;
  {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    suites.swap(r.suites);
    queue.swap(r.defaultQueue);
    r.configuration = Configuration{};
  }
  // Dropped outside the lock; pending writes of dropped suites do nothing.
}

// --- One suite ---------------------------------------------------------------

std::shared_ptr<PreferencesStore> PreferencesStore::create(std::string suiteName, std::string filePath,
                                                           std::shared_ptr<Clock> clock, std::shared_ptr<Queue> queue,
                                                           double writeDelay) {
  auto store = std::make_shared<PreferencesStore>(std::move(suiteName), std::move(filePath), std::move(clock),
                                                  std::move(queue), writeDelay);
  store->load();
  return store;
}

PreferencesStore::PreferencesStore(std::string suiteName, std::string filePath, std::shared_ptr<Clock> clock,
                                   std::shared_ptr<Queue> queue, double writeDelay)
    : suiteName_(std::move(suiteName)),
      filePath_(std::move(filePath)),
      clock_(std::move(clock)),
      queue_(std::move(queue)),
      writeDelay_(writeDelay) {}

PreferencesStore::~PreferencesStore() {
  if (pendingWrite_) pendingWrite_->cancel();
}

void PreferencesStore::load() {
  if (filePath_.empty()) return;
  removeAtomicWriteLeftovers(filePath_);
  Error error;
  auto object = PropertyList::readFile(filePath_, &error);
  std::lock_guard lock(mutex_);
  if (!object) {
    if (error.domain == kPOSIXErrorDomain && error.code == ENOENT) return;
    loadError_ = error;
  } else if (!object->isDictionary()) {
    loadError_ = preferencesError(kInvalidValue, filePath_ + " holds no dictionary");
  } else {
    for (auto& [key, value] : *object->mutableDictionary()) {
      values_.emplace_hint(values_.end(), key, std::make_shared<const Object>(std::move(value)));
    }
    return;
  }
  log::write(LogLevel::Error, kSubsystem, kCategory, "",
             "Cannot read preferences file " + filePath_ + " (" + loadError_->toString() +
                 "); it is kept as it is, and the suite is not written until it is set aside");
}

std::optional<Object> PreferencesStore::objectForKey(const std::string& key) const {
  std::shared_ptr<const Object> value = sharedObjectForKey(key);
  if (!value) return std::nullopt;
  return *value;
}

std::shared_ptr<const Object> PreferencesStore::sharedObjectForKey(const std::string& key) const {
  std::lock_guard lock(mutex_);
  auto it = values_.find(key);
  if (it != values_.end()) return it->second;
  auto reg = registered_.find(key);
  if (reg != registered_.end()) return std::make_shared<const Object>(reg->second);
  return nullptr;
}

bool PreferencesStore::storeValue(const std::string& key, std::optional<Object> value, Error* error) {
  Error local;
  if (!isValidKey(key, &local)) {
    setError(error, local);
    return false;
  }
  if (value && !PropertyList::isValid(*value, &local)) {
    setError(error, preferencesError(kInvalidValue, "invalid preferences value for \"" + key + "\": " +
                                                        local.description));
    return false;
  }
  std::lock_guard lock(mutex_);
  auto it = values_.find(key);
  if (!value) {
    if (it == values_.end()) return true;
    values_.erase(it);
  } else {
    if (it != values_.end() && *it->second == *value) return true;
    // A value that takes no more room than the one it replaces is always let
    // in (a suite read from disk may be near the limit by the bound's measure);
    // the writer still never writes what could not be read back.
    const bool grows = it == values_.end() ||
                       PropertyList::binarySizeBound(*value) > PropertyList::binarySizeBound(*it->second);
    if (!filePath_.empty() && grows && boundWith(key, &*value) > PropertyList::kMaximumSize) {
      setError(error, preferencesError(kTooLarge, "the value for \"" + key + "\" would make preferences suite " +
                                                      suiteName_ + " larger than " +
                                                      std::to_string(PropertyList::kMaximumSize) + " bytes"));
      return false;
    }
    values_.insert_or_assign(key, std::make_shared<const Object>(std::move(*value)));
  }
  changed();
  return true;
}

size_t PreferencesStore::boundWith(const std::string& key, const Object* value) const {
  size_t total = PropertyList::kBinaryFileOverhead + PropertyList::binarySizeBound(Object(Dictionary{}));
  for (const auto& [name, stored] : values_) {
    if (name == key) continue;
    total += PropertyList::binarySizeBound(name) + PropertyList::binarySizeBound(*stored);
  }
  if (value) total += PropertyList::binarySizeBound(key) + PropertyList::binarySizeBound(*value);
  return total;
}

bool PreferencesStore::setObject(Object value, const std::string& key, Error* error) {
  if (value.isNull()) return storeValue(key, std::nullopt, error);
  return storeValue(key, std::move(value), error);
}

void PreferencesStore::removeObjectForKey(const std::string& key) { storeValue(key, std::nullopt, nullptr); }

void PreferencesStore::removeObjectsForKeys(const std::vector<std::string>& keys) {
  std::lock_guard lock(mutex_);
  bool any = false;
  for (const auto& key : keys) any = values_.erase(key) > 0 || any;
  if (any) changed();
}

std::vector<std::string> PreferencesStore::keys() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  out.reserve(values_.size());
  for (const auto& [key, value] : values_) out.push_back(key);
  return out;
}

int64_t PreferencesStore::integerForKey(const std::string& key) const {
  auto value = objectForKey(key);
  return value ? value->integerValueOrZero() : 0;
}

double PreferencesStore::doubleForKey(const std::string& key) const {
  auto value = objectForKey(key);
  return value ? value->doubleValueOrZero() : 0.0;
}

bool PreferencesStore::boolForKey(const std::string& key) const {
  auto value = objectForKey(key);
  return value && value->boolValueOrFalse();
}

std::optional<std::string> PreferencesStore::stringForKey(const std::string& key) const {
  auto value = objectForKey(key);
  if (!value || !value->stringValue()) return std::nullopt;
  return *value->stringValue();
}

std::optional<Bytes> PreferencesStore::dataForKey(const std::string& key) const {
  auto value = objectForKey(key);
  if (!value || !value->bytesValue()) return std::nullopt;
  return *value->bytesValue();
}

std::optional<Array> PreferencesStore::arrayForKey(const std::string& key) const {
  auto value = objectForKey(key);
  if (!value || !value->arrayValue()) return std::nullopt;
  return *value->arrayValue();
}

std::optional<Dictionary> PreferencesStore::dictionaryForKey(const std::string& key) const {
  auto value = objectForKey(key);
  if (!value || !value->dictionaryValue()) return std::nullopt;
  return *value->dictionaryValue();
}

void PreferencesStore::setInteger(int64_t value, const std::string& key) { storeValue(key, Object(value), nullptr); }
void PreferencesStore::setDouble(double value, const std::string& key) { storeValue(key, Object(value), nullptr); }
void PreferencesStore::setBool(bool value, const std::string& key) { storeValue(key, Object(value), nullptr); }
bool PreferencesStore::setString(std::string value, const std::string& key, Error* error) {
  return storeValue(key, Object(std::move(value)), error);
}
bool PreferencesStore::setData(Bytes value, const std::string& key, Error* error) {
  return storeValue(key, Object(std::move(value)), error);
}
bool PreferencesStore::setArray(Array value, const std::string& key, Error* error) {
  return storeValue(key, Object(std::move(value)), error);
}
bool PreferencesStore::setDictionary(Dictionary value, const std::string& key, Error* error) {
  return storeValue(key, Object(std::move(value)), error);
}

void PreferencesStore::registerDefaults(const Dictionary& defaults) {
  std::lock_guard lock(mutex_);
  for (const auto& [key, value] : defaults) registered_.insert_or_assign(key, value);
}

void PreferencesStore::changed() {
  ++version_;
  if (pendingWrite_ || filePath_.empty() || !clock_ || !queue_) return;
  // The write is due a fixed delay after the first unsaved change; later
  // changes ride along instead of pushing it back.
  std::weak_ptr<PreferencesStore> weak = weak_from_this();
  pendingWrite_ = Timer::schedule(clock_, queue_, writeDelay_, [weak] {
    if (auto self = weak.lock()) self->writeFromTimer();
  });
}

void PreferencesStore::writeFromTimer() {
  Error error;
  if (!synchronize(&error)) {
    log::write(LogLevel::Error, kSubsystem, kCategory, "",
               "Cannot write preferences suite " + suiteName_ + ": " + error.toString());
  }
}

bool PreferencesStore::moveCorruptFileAside(Error* error) {
  for (int n = 1; n < 10000; ++n) {
    std::string target = filePath_ + ".corrupt-" + std::to_string(n);
    struct stat st {};
    if (::lstat(target.c_str(), &st) == 0) continue;
    if (::rename(filePath_.c_str(), target.c_str()) != 0) {
      if (errno == ENOENT) return true;  // nothing left to keep
      setError(error, preferencesError(kCorruptFileKept, posixError(errno, "cannot move the unreadable " + filePath_ +
                                                                               " aside; not overwriting it")
                                                             .description));
      return false;
    }
    corruptCopy_ = target;
    log::write(LogLevel::Warning, kSubsystem, kCategory, "",
               "Kept the unreadable preferences file " + filePath_ + " as " + target);
    return true;
  }
  setError(error, preferencesError(kCorruptFileKept, "too many kept copies of " + filePath_ + "; not overwriting it"));
  return false;
}

bool PreferencesStore::synchronize(Error* error) {
  std::lock_guard writeLock(writeMutex_);
  SharedDictionary snapshot;
  uint64_t snapshotVersion;
  std::shared_ptr<Timer> pending;
  {
    std::lock_guard lock(mutex_);
    pending.swap(pendingWrite_);
    if (filePath_.empty()) {
      setError(error, preferencesError(kNoStorage, "preferences suite " + suiteName_ + " has no file"));
      return false;
    }
    if (version_ == writtenVersion_) return true;
    if (loadError_ && !setAside_) {
      setError(error, preferencesError(kUnreadableFileKept, "preferences file " + filePath_ +
                                                                " could not be read and is kept; it is not written over"));
      return false;
    }
    snapshot = values_;
    snapshotVersion = version_;
  }
  if (pending) pending->cancel();

  Error local;
  bool ok = PropertyList::writeFile(filePath_, snapshot, PropertyListFormat::Binary, 0600, &local);
  if (!ok) {
    setError(error, local);
    return false;
  }
  std::lock_guard lock(mutex_);
  writtenVersion_ = snapshotVersion;
  return true;
}

bool PreferencesStore::setAsideUnreadableFile(Error* error) {
  std::lock_guard lock(mutex_);
  if (!loadError_ || setAside_) return true;
  Error local;
  if (!moveCorruptFileAside(&local)) {
    setError(error, local);
    return false;
  }
  setAside_ = true;
  changed();
  return true;
}

bool PreferencesStore::isKeepingUnreadableFile() const {
  std::lock_guard lock(mutex_);
  return loadError_.has_value() && !setAside_;
}

bool PreferencesStore::loadFailed() const {
  std::lock_guard lock(mutex_);
  return loadError_.has_value();
}

std::optional<Error> PreferencesStore::loadError() const {
  std::lock_guard lock(mutex_);
  return loadError_;
}

std::optional<std::string> PreferencesStore::corruptFileCopyPath() const {
  std::lock_guard lock(mutex_);
  return corruptCopy_;
}

}  // namespace platform
