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

void setReason(std::string* error, std::string reason) {
  if (error) *error = std::move(reason);
}

std::vector<std::string> uuidsOf(const std::vector<SpreadsheetFile>& files) {
  std::vector<std::string> uuids;
  uuids.reserve(files.size());
  for (const SpreadsheetFile& file : files) uuids.push_back(file.uuid);
  return uuids;
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
  if (std::optional<std::string> kept = userDefaults_->unreadableStorage()) {
    stored.contents.unreadable = true;
    stored.contents.storageKept = true;
    stored.contents.reason = *kept;
    return stored;
  }
  stored.value = userDefaults_->sharedObjectForKey(storageKey);
  if (!stored.value) return stored;
  const bool readBefore = isKnown(stored.value);
  if (readBefore && known_->files) {
    stored.contents.files = *known_->files;
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
  std::vector<SpreadsheetFileJSON::Span> spans;
  if (auto files = SpreadsheetFileJSON::decodeArray(json, &reason, &spans)) {
    known_ = Known{stored.value, uuidsOf(*files), std::move(spans), std::nullopt};
    // Read a second time: the documents are kept for the reads to come.
    if (readBefore) known_->files = *files;
    stored.contents.files = std::move(*files);
  } else {
    stored.contents.unreadable = true;
    stored.contents.reason = std::move(reason);
  }
  return stored;
}

SpreadsheetPersistance::StoredFiles SpreadsheetPersistance::readFiles() const { return read().contents; }

std::vector<SpreadsheetFile> SpreadsheetPersistance::loadFiles() const { return read().contents.files; }

bool SpreadsheetPersistance::storageWritable(std::string* error) const {
  if (!userDefaults_->unreadableStorage()) return true;
  setReason(error, "the stored documents could not be read; they are kept as they are and nothing is stored "
                   "until they are set aside");
  return false;
}

bool SpreadsheetPersistance::store(platform::Bytes json, Known known, std::string* error) {
  std::string reason;
  if (!userDefaults_->setData(std::move(json), storageKey, &reason)) {
    setReason(error, reason.empty() ? "the documents could not be stored" : reason);
    return false;
  }
  known.value = userDefaults_->sharedObjectForKey(storageKey);
  if (known.value) {
    known_ = std::move(known);
  } else {
    known_.reset();
  }
  if (!userDefaults_->synchronize()) {
    setReason(error, "the documents could not be written to disk");
    return false;
  }
  return true;
}

bool SpreadsheetPersistance::write(std::vector<SpreadsheetFile> files, const Stored& before, std::string* error) {
  lastWritePath_ = WritePath::full;
  std::vector<SpreadsheetFileJSON::Span> spans;
  std::string reason;
  std::optional<platform::Bytes> json = SpreadsheetFileJSON::encodeArrayData(files, &reason, &spans);
  if (!json) {
    setReason(error, "the documents cannot be encoded: " + reason);
    return false;
  }
  if (before.contents.unreadable) {
    for (uint64_t n = 1;; ++n) {
      std::string backupKey = backupKeyPrefix + std::to_string(n);
      if (!userDefaults_->sharedObjectForKey(backupKey)) {
        // Without its backup the unreadable value is not written over.
        if (!userDefaults_->setObject(*before.value, backupKey, &reason)) {
          setReason(error, "the unreadable documents could not be kept: " + reason);
          return false;
        }
        break;
      }
    }
  }
  std::vector<std::string> uuids = uuidsOf(files);
  return store(std::move(*json), Known{nullptr, std::move(uuids), std::move(spans), std::move(files)}, error);
}

std::optional<bool> SpreadsheetPersistance::splice(const std::vector<std::string>& uuids,
                                                   std::optional<SpreadsheetFile>& added, std::string* error) {
  std::shared_ptr<const platform::Object> value = userDefaults_->sharedObjectForKey(storageKey);
  if (!value || !isKnown(value) || !value->bytesValue()) return std::nullopt;
  const platform::Bytes& bytes = *value->bytesValue();
  const std::vector<SpreadsheetFileJSON::Span>& spans = known_->spans;

  lastWritePath_ = WritePath::splice;
  std::optional<std::string> piece;
  if (added) {
    std::string reason;
    piece = SpreadsheetFileJSON::encode(*added, &reason);
    if (!piece) {
      setReason(error, "the document cannot be encoded: " + reason);
      return false;
    }
  }
  platform::Bytes spliced;
  spliced.reserve(bytes.size() + (piece ? piece->size() + 1 : 0));
  Known next;
  spliced.push_back('[');
  auto append = [&](const uint8_t* begin, size_t size, const std::string& uuid) {
    if (spliced.size() > 1) spliced.push_back(',');
    next.spans.push_back({spliced.size(), spliced.size() + size});
    next.uuids.push_back(uuid);
    spliced.insert(spliced.end(), begin, begin + size);
  };
  for (size_t i = 0; i < spans.size(); ++i) {
    if (contains(uuids, known_->uuids[i])) continue;
    append(bytes.data() + spans[i].begin, spans[i].end - spans[i].begin, known_->uuids[i]);
  }
  if (piece) append(reinterpret_cast<const uint8_t*>(piece->data()), piece->size(), added->uuid);
  spliced.push_back(']');

  next.files = std::move(known_->files);
  known_.reset();
  if (next.files) {
    std::erase_if(*next.files, [&](const SpreadsheetFile& kept) { return contains(uuids, kept.uuid); });
    if (added) next.files->push_back(std::move(*added));
  }
  return store(std::move(spliced), std::move(next), error);
}

bool SpreadsheetPersistance::change(const std::vector<std::string>& uuids, std::optional<SpreadsheetFile> added,
                                    std::string* error) {
  if (!storageWritable(error)) return false;
  if (std::optional<bool> spliced = splice(uuids, added, error)) return *spliced;
  Stored stored = read();
  std::vector<SpreadsheetFile> files = std::move(stored.contents.files);
  std::erase_if(files, [&](const SpreadsheetFile& kept) { return contains(uuids, kept.uuid); });
  if (added) files.push_back(std::move(*added));
  return write(std::move(files), stored, error);
}

bool SpreadsheetPersistance::saveFiles(const std::vector<SpreadsheetFile>& files, std::string* error) {
  if (!storageWritable(error)) return false;
  return write(files, read(), error);
}

bool SpreadsheetPersistance::addFile(const SpreadsheetFile& file, std::string* error) {
  return change({}, file, error);
}

bool SpreadsheetPersistance::createFile(const std::string& title, std::string* error) {
  return change({}, SpreadsheetFile(title, *clock_), error);
}

bool SpreadsheetPersistance::removeFile(const SpreadsheetFile& file, std::string* error) {
  return change({file.uuid}, std::nullopt, error);
}

bool SpreadsheetPersistance::removeFiles(const std::vector<std::string>& uuids, std::string* error) {
  return change(uuids, std::nullopt, error);
}

bool SpreadsheetPersistance::saveFile(const SpreadsheetFile& file, std::string* error) {
  SpreadsheetFile copy = file;
  copy.creationDate = referenceDateNow(*clock_);
  return change({file.uuid}, std::move(copy), error);
}

bool SpreadsheetPersistance::setAsideUnreadableStorage() {
  known_.reset();
  return userDefaults_->setAsideUnreadableStorage();
}

}  // namespace tabulo
