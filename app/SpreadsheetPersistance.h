// SpreadsheetPersistance — the document store: every document of the app, kept
// as one JSON array (SpreadsheetFileJSON) under "Persisted_Files" in the user
// defaults.
//
// Every operation answers from the stored array and every change writes the
// whole array, then synchronizes the user defaults. A change answers true only
// once the new array is on disk; it answers false, and leaves the stored array
// as it was, when the array cannot be encoded, and answers false when the
// bytes did not reach the disk.
//
// A stored value that cannot be decoded reads as no documents, and
// `readFiles()` tells the caller it was unreadable. It is never lost: before
// the first change writes over it, its value is kept under the first free key
// "Persisted_Files.unreadable.1", ".2", ... (an older backup is never
// overwritten).
//
// User defaults whose storage could not be read at all (a preferences file
// that is damaged or over the size budget) read as unreadable too, with
// `storageKept`: that storage is kept as it is and every change is refused
// until `setAsideUnreadableStorage()`, the person's choice, moves it aside.
// A change whose stored array would not fit the user defaults' budget does
// not happen; the change answers false and says why.
//
// What it costs: the store remembers the stored value it last decoded or
// wrote, with each document's uuid and where its object lies in the text
// (noted while decoding or while encoding), and the documents themselves once
// a change made them or the same value is read a second time: the first read
// of a value (the list at start-up) hands its documents over without keeping
// a copy. While the stored value is still that one (the same shared value, or
// equal bytes), reads answer the remembered documents without decoding, and a
// change splices: only the changed document is encoded, and the new array is
// the kept documents' text with it put in. For an array this store encoded
// that is byte for byte what encoding the whole array gives; for one read
// from disk the kept documents keep the text they were read from, which
// decodes to them. Any other stored value (changed behind the store's back)
// takes the full path: decode everything, change, encode everything.
//
// Main thread only.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/SpreadsheetFile.h"
#include "app/SpreadsheetFileJSON.h"
#include "app/UserDefaults.h"
#include "platform/dispatch/Clock.h"

namespace tabulo {

class SpreadsheetPersistance {
 public:
  static constexpr const char* storageKey = "Persisted_Files";
  static constexpr const char* backupKeyPrefix = "Persisted_Files.unreadable.";

  SpreadsheetPersistance(std::shared_ptr<UserDefaults> userDefaults, std::shared_ptr<platform::Clock> clock);

  // The process-wide store over the standard user defaults and the system clock.
  static SpreadsheetPersistance& shared();

  struct StoredFiles {
    std::vector<SpreadsheetFile> files;
    // A value is stored but is not a decodable array of documents; `files` is
    // empty and `reason` says what is wrong with it.
    bool unreadable = false;
    std::string reason;
    // The user defaults' whole storage could not be read and is kept.
    bool storageKept = false;
  };

  // The stored documents in store order, and whether the stored value was unreadable.
  StoredFiles readFiles() const;
  // The stored documents in store order; none when nothing readable is stored.
  std::vector<SpreadsheetFile> loadFiles() const;

  // The changes; each answers whether the new array is on disk, and says why
  // not in `error`.
  // Replaces the stored array.
  [[nodiscard]] bool saveFiles(const std::vector<SpreadsheetFile>& files, std::string* error = nullptr);
  // Appends `file` as it is (its uuid and creationDate unchanged).
  [[nodiscard]] bool addFile(const SpreadsheetFile& file, std::string* error = nullptr);
  // Appends a new document with the default grid.
  [[nodiscard]] bool createFile(const std::string& title, std::string* error = nullptr);
  // Removes every stored document with the uuid of `file`.
  [[nodiscard]] bool removeFile(const SpreadsheetFile& file, std::string* error = nullptr);
  // Removes every stored document whose uuid is one of `uuids`, in one write.
  [[nodiscard]] bool removeFiles(const std::vector<std::string>& uuids, std::string* error = nullptr);
  // Stores a copy of `file` stamped with the current time at the end of the
  // store order, in place of every stored document with its uuid.
  [[nodiscard]] bool saveFile(const SpreadsheetFile& file, std::string* error = nullptr);

  // Moves unreadable, kept storage aside (see above); false when it could not be.
  [[nodiscard]] bool setAsideUnreadableStorage();

  const std::shared_ptr<UserDefaults>& userDefaults() const { return userDefaults_; }

  // How the last change was written (tests and benchmarks).
  enum class WritePath { none, splice, full };
  WritePath lastWritePath() const { return lastWritePath_; }

 private:
  struct Stored {
    std::shared_ptr<const platform::Object> value;
    StoredFiles contents;
  };
  // A stored value, the uuid of each document it decodes to and where each
  // one lies in it (in the same order), and the documents when they are kept.
  struct Known {
    std::shared_ptr<const platform::Object> value;
    std::vector<std::string> uuids;
    std::vector<SpreadsheetFileJSON::Span> spans;
    std::optional<std::vector<SpreadsheetFile>> files;
  };

  Stored read() const;
  bool isKnown(const std::shared_ptr<const platform::Object>& value) const;
  // Removes the documents with one of `uuids` and appends `added`, by splice
  // where the stored value allows it, else by the full path.
  bool change(const std::vector<std::string>& uuids, std::optional<SpreadsheetFile> added, std::string* error);
  // nullopt: the stored value cannot be spliced (the caller takes the full path).
  std::optional<bool> splice(const std::vector<std::string>& uuids, std::optional<SpreadsheetFile>& added,
                             std::string* error);
  bool write(std::vector<SpreadsheetFile> files, const Stored& before, std::string* error);
  // Stores `json` under the storage key, remembers it as `known` (whose value
  // is filled in here), and synchronizes.
  bool store(platform::Bytes json, Known known, std::string* error);
  // False, with the reason, while the storage is kept unread.
  bool storageWritable(std::string* error) const;

  std::shared_ptr<UserDefaults> userDefaults_;
  std::shared_ptr<platform::Clock> clock_;
  mutable std::optional<Known> known_;
  WritePath lastWritePath_ = WritePath::none;
};

}  // namespace tabulo
