#include "app/SpreadsheetPersistance.h"

#include <algorithm>
#include <string_view>

#include "app/PreferencesUserDefaults.h"
#include "app/SpreadsheetFileJSON.h"

namespace tabulo {

SpreadsheetPersistance::SpreadsheetPersistance(std::shared_ptr<UserDefaults> userDefaults,
                                               std::shared_ptr<platform::Clock> clock)
    : userDefaults_(std::move(userDefaults)), clock_(std::move(clock)) {}

SpreadsheetPersistance& SpreadsheetPersistance::shared() {
  static SpreadsheetPersistance instance(PreferencesUserDefaults::standard(), platform::Clock::system());
  return instance;
}

SpreadsheetPersistance::Stored SpreadsheetPersistance::read() const {
  Stored stored;
  stored.value = userDefaults_->objectForKey(storageKey);
  if (!stored.value) return stored;
  const platform::Bytes* bytes = stored.value->bytesValue();
  if (!bytes) {
    stored.contents.unreadable = true;
    stored.contents.reason = "the stored value is not data";
    return stored;
  }
  std::string_view json(reinterpret_cast<const char*>(bytes->data()), bytes->size());
  std::string reason;
  if (auto files = SpreadsheetFileJSON::decodeArray(json, &reason)) {
    stored.contents.files = std::move(*files);
  } else {
    stored.contents.unreadable = true;
    stored.contents.reason = std::move(reason);
  }
  return stored;
}

SpreadsheetPersistance::StoredFiles SpreadsheetPersistance::readFiles() const { return read().contents; }

std::vector<SpreadsheetFile> SpreadsheetPersistance::loadFiles() const { return read().contents.files; }

bool SpreadsheetPersistance::write(const std::vector<SpreadsheetFile>& files, const Stored& before) {
  std::optional<std::string> json = SpreadsheetFileJSON::encodeArray(files);
  if (!json) return false;
  if (before.contents.unreadable) {
    for (uint64_t n = 1;; ++n) {
      std::string backupKey = backupKeyPrefix + std::to_string(n);
      if (!userDefaults_->objectForKey(backupKey)) {
        // Without its backup the unreadable value is not written over.
        if (!userDefaults_->setObject(*before.value, backupKey)) return false;
        break;
      }
    }
  }
  if (!userDefaults_->setData(platform::Bytes(json->begin(), json->end()), storageKey)) return false;
  return userDefaults_->synchronize();
}

bool SpreadsheetPersistance::saveFiles(const std::vector<SpreadsheetFile>& files) { return write(files, read()); }

bool SpreadsheetPersistance::addFile(const SpreadsheetFile& file) {
  Stored stored = read();
  std::vector<SpreadsheetFile> files = std::move(stored.contents.files);
  files.push_back(file);
  return write(files, stored);
}

bool SpreadsheetPersistance::createFile(const std::string& title) {
  Stored stored = read();
  std::vector<SpreadsheetFile> files = std::move(stored.contents.files);
  files.emplace_back(title, *clock_);
  return write(files, stored);
}

bool SpreadsheetPersistance::removeFile(const SpreadsheetFile& file) {
  Stored stored = read();
  std::vector<SpreadsheetFile> files = std::move(stored.contents.files);
  std::erase_if(files, [&](const SpreadsheetFile& kept) { return kept.uuid == file.uuid; });
  return write(files, stored);
}

bool SpreadsheetPersistance::removeFiles(const std::vector<std::string>& uuids) {
  Stored stored = read();
  std::vector<SpreadsheetFile> files = std::move(stored.contents.files);
  std::erase_if(files, [&](const SpreadsheetFile& kept) {
    return std::find(uuids.begin(), uuids.end(), kept.uuid) != uuids.end();
  });
  return write(files, stored);
}

bool SpreadsheetPersistance::saveFile(const SpreadsheetFile& file) {
  Stored stored = read();
  SpreadsheetFile copy = file;
  copy.creationDate = referenceDateNow(*clock_);
  std::vector<SpreadsheetFile> files = std::move(stored.contents.files);
  std::erase_if(files, [&](const SpreadsheetFile& kept) { return kept.uuid == file.uuid; });
  files.push_back(std::move(copy));
  return write(files, stored);
}

}  // namespace tabulo
