#include "app/SpreadsheetPersistance.h"

#include <algorithm>
#include <string_view>

#include "app/PreferencesUserDefaults.h"
#include "app/SpreadsheetFileJSON.h"

namespace tabulo {
namespace {

bool contains(const std::vector<std::string>& uuids, std::string_view uuid) {
  return std::find(uuids.begin(), uuids.end(), uuid) != uuids.end();
}

}  // namespace

SpreadsheetPersistance::SpreadsheetPersistance(std::shared_ptr<UserDefaults> userDefaults,
                                               std::shared_ptr<platform::Clock> clock)
    : userDefaults_(std::move(userDefaults)), clock_(std::move(clock)) {}

SpreadsheetPersistance& SpreadsheetPersistance::shared() {
  static SpreadsheetPersistance instance(PreferencesUserDefaults::standard(), platform::Clock::system());
  return instance;
}

bool SpreadsheetPersistance::isKnown(const std::shared_ptr<const platform::Object>& value) const {
  if (!known_ || !value) return false;
  return known_->value == value || *known_->value == *value;
}

SpreadsheetPersistance::Stored SpreadsheetPersistance::read() const {
  Stored stored;
  stored.value = userDefaults_->sharedObjectForKey(storageKey);
  if (!stored.value) return stored;
  if (isKnown(stored.value)) {
    stored.contents.files = known_->files;
    return stored;
  }
  const platform::Bytes* bytes = stored.value->bytesValue();
  if (!bytes) {
    stored.contents.unreadable = true;
    stored.contents.reason = "the stored value is not data";
    return stored;
  }
  std::string_view json(reinterpret_cast<const char*>(bytes->data()), bytes->size());
  std::string reason;
  if (auto files = SpreadsheetFileJSON::decodeArray(json, &reason)) {
    known_ = Known{stored.value, *files, std::nullopt};
    if (auto elements = SpreadsheetFileJSON::scanArray(json); elements && elements->size() == files->size()) {
      std::vector<SpreadsheetFileJSON::Span> spans;
      for (size_t i = 0; i < elements->size() && (*elements)[i].uuid == (*files)[i].uuid; ++i) {
        spans.push_back((*elements)[i].span);
      }
      if (spans.size() == files->size()) known_->spans = std::move(spans);
    }
    stored.contents.files = std::move(*files);
  } else {
    stored.contents.unreadable = true;
    stored.contents.reason = std::move(reason);
  }
  return stored;
}

SpreadsheetPersistance::StoredFiles SpreadsheetPersistance::readFiles() const { return read().contents; }

std::vector<SpreadsheetFile> SpreadsheetPersistance::loadFiles() const { return read().contents.files; }

bool SpreadsheetPersistance::store(platform::Bytes json, std::vector<SpreadsheetFile> files,
                                   std::optional<std::vector<SpreadsheetFileJSON::Span>> spans) {
  if (!userDefaults_->setData(std::move(json), storageKey)) return false;
  known_ = Known{userDefaults_->sharedObjectForKey(storageKey), std::move(files), std::move(spans)};
  if (!known_->value) known_.reset();
  return true;
}

bool SpreadsheetPersistance::write(std::vector<SpreadsheetFile> files, const Stored& before) {
  lastWritePath_ = WritePath::full;
  std::vector<SpreadsheetFileJSON::Span> spans;
  std::optional<platform::Bytes> json = SpreadsheetFileJSON::encodeArrayData(files, nullptr, &spans);
  if (!json) return false;
  if (before.contents.unreadable) {
    for (uint64_t n = 1;; ++n) {
      std::string backupKey = backupKeyPrefix + std::to_string(n);
      if (!userDefaults_->sharedObjectForKey(backupKey)) {
        // Without its backup the unreadable value is not written over.
        if (!userDefaults_->setObject(*before.value, backupKey)) return false;
        break;
      }
    }
  }
  if (!store(std::move(*json), std::move(files), std::move(spans))) return false;
  return userDefaults_->synchronize();
}

std::optional<bool> SpreadsheetPersistance::splice(const std::vector<std::string>& uuids,
                                                   std::optional<SpreadsheetFile>& added) {
  std::shared_ptr<const platform::Object> value = userDefaults_->sharedObjectForKey(storageKey);
  if (!value || !isKnown(value) || !value->bytesValue() || !known_->spans) return std::nullopt;
  const platform::Bytes& bytes = *value->bytesValue();
  const std::vector<SpreadsheetFileJSON::Span>& spans = *known_->spans;

  lastWritePath_ = WritePath::splice;
  std::optional<std::string> piece;
  if (added) {
    piece = SpreadsheetFileJSON::encode(*added);
    if (!piece) return false;
  }
  platform::Bytes spliced;
  spliced.reserve(bytes.size() + (piece ? piece->size() + 1 : 0));
  std::vector<SpreadsheetFile> files;
  std::vector<SpreadsheetFileJSON::Span> splicedSpans;
  spliced.push_back('[');
  auto append = [&](const uint8_t* begin, size_t size) {
    if (spliced.size() > 1) spliced.push_back(',');
    splicedSpans.push_back({spliced.size(), spliced.size() + size});
    spliced.insert(spliced.end(), begin, begin + size);
  };
  for (size_t i = 0; i < spans.size(); ++i) {
    if (contains(uuids, known_->files[i].uuid)) continue;
    append(bytes.data() + spans[i].begin, spans[i].end - spans[i].begin);
  }
  if (piece) append(reinterpret_cast<const uint8_t*>(piece->data()), piece->size());
  spliced.push_back(']');

  files = std::move(known_->files);
  known_.reset();
  std::erase_if(files, [&](const SpreadsheetFile& kept) { return contains(uuids, kept.uuid); });
  if (added) files.push_back(std::move(*added));
  if (!store(std::move(spliced), std::move(files), std::move(splicedSpans))) return false;
  return userDefaults_->synchronize();
}

bool SpreadsheetPersistance::change(const std::vector<std::string>& uuids, std::optional<SpreadsheetFile> added) {
  if (std::optional<bool> spliced = splice(uuids, added)) return *spliced;
  Stored stored = read();
  std::vector<SpreadsheetFile> files = std::move(stored.contents.files);
  std::erase_if(files, [&](const SpreadsheetFile& kept) { return contains(uuids, kept.uuid); });
  if (added) files.push_back(std::move(*added));
  return write(std::move(files), stored);
}

bool SpreadsheetPersistance::saveFiles(const std::vector<SpreadsheetFile>& files) { return write(files, read()); }

bool SpreadsheetPersistance::addFile(const SpreadsheetFile& file) { return change({}, file); }

bool SpreadsheetPersistance::createFile(const std::string& title) {
  return change({}, SpreadsheetFile(title, *clock_));
}

bool SpreadsheetPersistance::removeFile(const SpreadsheetFile& file) { return change({file.uuid}, std::nullopt); }

bool SpreadsheetPersistance::removeFiles(const std::vector<std::string>& uuids) { return change(uuids, std::nullopt); }

bool SpreadsheetPersistance::saveFile(const SpreadsheetFile& file) {
  SpreadsheetFile copy = file;
  copy.creationDate = referenceDateNow(*clock_);
  return change({file.uuid}, std::move(copy));
}

}  // namespace tabulo
