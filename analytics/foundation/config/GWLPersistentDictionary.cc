#include "analytics/foundation/config/GWLPersistentDictionary.h"

#include <cerrno>
#include <cmath>
#include <filesystem>
#include <limits>

#include "analytics/foundation/core/GWLASLLogger.h"
#include "analytics/foundation/core/GWLPaths.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/storage/PropertyList.h"

namespace fs = std::filesystem;

namespace {

constexpr int64_t kPersistFailedCode = 43000;
constexpr const char* kPersistFailedMessage = "Cannot persist configs to disk";
constexpr int64_t kInvalidGetKeyCode = 43001;
constexpr const char* kInvalidGetKeyMessage = "Cannot get object for invalid config key.";
constexpr int64_t kInvalidSetKeyCode = 43002;
constexpr const char* kInvalidSetKeyMessage = "Cannot set object for invalid config key.";
constexpr int64_t kInvalidValueCode = 43003;
constexpr const char* kInvalidValueMessage =
    "Cannot set invalid object to config. Must be a string, number, array, dictionary, date, or data. Value %s";
constexpr int64_t kNoDirectoryCode = 43004;
constexpr const char* kNoDirectoryMessage = "Cannot create subdirectories for config plist files.";
constexpr int64_t kUnreadableFileCode = 43005;
constexpr const char* kUnreadableFileMovedMessage = "Cannot read config plist file; moved it aside to %s";
constexpr const char* kUnreadableFileKeptMessage =
    "Cannot read config plist file and cannot move it aside; configs are kept in memory only";

constexpr double kPersistDelaySeconds = 1.0;

void warn(int64_t code, const char* message) {
  platform::HVUOSLogWarning(kGWLLogSubsystem, kGWLDefaultLogTag, false, GWLMessageCodeString(code), "%s", message);
}

void logError(int64_t code, const std::string& message) {
  platform::HVUOSLogError(kGWLLogSubsystem, kGWLDefaultLogTag, false, GWLMessageCodeString(code), "%s",
                          message.c_str());
}

}  // namespace

std::shared_ptr<GWLPersistentDictionary> GWLPersistentDictionary::create(
    const std::string& fileName, std::shared_ptr<platform::Clock> clock,
    std::shared_ptr<platform::NotificationCenter> center) {
  if (fileName.empty()) return nullptr;
  std::string path = GWLMeasurementPlistPath(fileName);
  if (path.empty()) return nullptr;
  return createAtPath(path, std::move(clock), std::move(center));
}

std::shared_ptr<GWLPersistentDictionary> GWLPersistentDictionary::createAtPath(
    const std::string& path, std::shared_ptr<platform::Clock> clock,
    std::shared_ptr<platform::NotificationCenter> center) {
  if (path.empty()) return nullptr;
  std::error_code ec;
  fs::create_directories(fs::path(path).parent_path(), ec);
  if (ec) {
    logError(kNoDirectoryCode, kNoDirectoryMessage);
    return nullptr;
  }
  std::shared_ptr<GWLPersistentDictionary> dictionary(
      new GWLPersistentDictionary(path, clock ? std::move(clock) : platform::Clock::system()));
  dictionary->load();
  if (!center) center = platform::NotificationCenter::defaultCenter();
  std::weak_ptr<GWLPersistentDictionary> weakDictionary = dictionary;
  dictionary->terminateObserver_ = center->addObserver(
      platform::kApplicationWillTerminateNotification, nullptr, [weakDictionary](const platform::Notification&) {
        // The process is ending: a failed write is reported by the write itself.
        if (auto strongDictionary = weakDictionary.lock()) (void)strongDictionary->synchronize();
      });
  return dictionary;
}

GWLPersistentDictionary::GWLPersistentDictionary(std::string path, std::shared_ptr<platform::Clock> clock)
    : filePath_(std::move(path)),
      clock_(std::move(clock)),
      serialQueue_(platform::SerialQueue::create("GWLPersistentDictionary")) {}

GWLPersistentDictionary::~GWLPersistentDictionary() {
  terminateObserver_.reset();
  bool pending;
  {
    platform::MutexLock lock(mutex_);
    pending = hasPendingPersistence_;
  }
  if (pending) (void)persistToDisk();  // reports its own failure
}

void GWLPersistentDictionary::load() {
  platform::Error error;
  std::optional<platform::Object> read = platform::PropertyList::readFile(filePath_, &error);
  if (read && read->dictionaryValue()) {
    // Before the dictionary is shared, but the content is the mutex's all the same.
    platform::MutexLock lock(mutex_);
    content_ = *read->dictionaryValue();
    return;
  }
  if (!read && error.domain == platform::kPOSIXErrorDomain && error.code == ENOENT) return;  // no file yet

  // The file is there but holds no settings we can read: keep its bytes for
  // whoever wants to look at them, and start empty.
  for (int n = 1; n < 1000; ++n) {
    std::string aside = filePath_ + ".corrupt-" + std::to_string(n);
    std::error_code ec;
    if (fs::exists(aside, ec)) continue;
    fs::rename(filePath_, aside, ec);
    if (!ec) {
      setAsidePath_ = aside;
      logError(kUnreadableFileCode, platform::formatString(kUnreadableFileMovedMessage, aside.c_str()));
      return;
    }
    break;
  }
  writesAllowed_ = false;
  logError(kUnreadableFileCode, kUnreadableFileKeptMessage);
}

std::optional<platform::Object> GWLPersistentDictionary::objectForKey(const std::string& key) const {
  if (key.empty()) {
    warn(kInvalidGetKeyCode, kInvalidGetKeyMessage);
    return std::nullopt;
  }
  platform::MutexLock lock(mutex_);
  auto it = content_.find(key);
  if (it == content_.end()) return std::nullopt;
  return it->second;
}

void GWLPersistentDictionary::setObject(const platform::Object& value, const std::string& key) {
  if (key.empty()) {
    warn(kInvalidSetKeyCode, kInvalidSetKeyMessage);
    return;
  }
  if (!value.isNull() && !platform::PropertyList::isValid(value)) {
    platform::HVUOSLogWarning(kGWLLogSubsystem, kGWLDefaultLogTag, false, GWLMessageCodeString(kInvalidValueCode),
                              kInvalidValueMessage, value.description().c_str());
    return;
  }
  platform::MutexLock lock(mutex_);
  auto it = content_.find(key);
  if (value.isNull()) {
    if (it == content_.end()) return;
    content_.erase(it);
  } else {
    if (it != content_.end() && it->second == value) return;
    content_[key] = value;
  }
  changed();
}

void GWLPersistentDictionary::removeObjectForKey(const std::string& key) { setObject(platform::Object(), key); }

int64_t GWLPersistentDictionary::integerForKey(const std::string& key) const {
  auto value = objectForKey(key);
  return value ? value->integerValueOrZero() : 0;
}

float GWLPersistentDictionary::floatForKey(const std::string& key) const {
  return static_cast<float>(doubleForKey(key));
}

double GWLPersistentDictionary::doubleForKey(const std::string& key) const {
  auto value = objectForKey(key);
  return value ? value->doubleValueOrZero() : 0.0;
}

bool GWLPersistentDictionary::boolForKey(const std::string& key) const {
  auto value = objectForKey(key);
  return value && value->boolValueOrFalse();
}

std::optional<std::string> GWLPersistentDictionary::stringForKey(const std::string& key) const {
  auto value = objectForKey(key);
  if (!value || !value->stringValue()) return std::nullopt;
  return *value->stringValue();
}

std::optional<platform::Object> GWLPersistentDictionary::numberForKey(const std::string& key) const {
  auto value = objectForKey(key);
  if (!value || !value->isNumberOrBool()) return std::nullopt;
  return value;
}

std::optional<platform::Array> GWLPersistentDictionary::arrayForKey(const std::string& key) const {
  auto value = objectForKey(key);
  if (!value || !value->arrayValue()) return std::nullopt;
  return *value->arrayValue();
}

std::optional<platform::Dictionary> GWLPersistentDictionary::dictionaryForKey(const std::string& key) const {
  auto value = objectForKey(key);
  if (!value || !value->dictionaryValue()) return std::nullopt;
  return *value->dictionaryValue();
}

void GWLPersistentDictionary::setInteger(int64_t value, const std::string& key) { setObject(value, key); }

void GWLPersistentDictionary::setFloat(float value, const std::string& key) { setObject(value, key); }

void GWLPersistentDictionary::setDouble(double value, const std::string& key) { setObject(value, key); }

void GWLPersistentDictionary::setBool(bool value, const std::string& key) { setObject(value, key); }

void GWLPersistentDictionary::clearAllData() {
  platform::MutexLock lock(mutex_);
  if (content_.empty()) return;
  content_.clear();
  changed();
}

void GWLPersistentDictionary::changed() {
  ++version_;
  scheduleLocked();
}

void GWLPersistentDictionary::scheduleLocked() {
  if (hasPendingPersistence_) return;  // the second counts from the first unsaved change
  hasPendingPersistence_ = true;
  std::weak_ptr<GWLPersistentDictionary> weakSelf = weak_from_this();
  serialQueue_->after(clock_, kPersistDelaySeconds, [weakSelf] {
    if (auto self = weakSelf.lock()) (void)self->persistToDisk();  // reports its own failure
  });
}

void GWLPersistentDictionary::schedulePersistToDisk() {
  platform::MutexLock lock(mutex_);
  scheduleLocked();
}

bool GWLPersistentDictionary::persistToDisk() {
  platform::Dictionary snapshot;
  uint64_t version;
  {
    platform::MutexLock lock(mutex_);
    snapshot = content_;
    version = version_;
    hasPendingPersistence_ = false;
  }
  if (!writesAllowed_) return false;
  platform::MutexLock writeLock(writeMutex_);
  if (version <= writtenVersion_) return true;  // the file already holds this or a later snapshot
  platform::Error error;
  if (!platform::PropertyList::writeFile(filePath_, platform::Object(std::move(snapshot)),
                                         platform::PropertyListFormat::Binary, &error)) {
    logError(kPersistFailedCode, kPersistFailedMessage);
    return false;
  }
  writtenVersion_ = version;
  return true;
}

bool GWLPersistentDictionary::synchronize() { return persistToDisk(); }

void GWLPersistentDictionary::flush() { serialQueue_->flush(); }
