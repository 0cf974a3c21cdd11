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
// What it costs: the store remembers the stored value it last decoded or
// wrote, with its documents and where each one's object lies in the text
// (found by SpreadsheetFileJSON::scanArray once, after decoding, or noted
// while encoding). While the stored value is still that one (the same shared
// value, or equal bytes), reads answer the remembered documents without
// decoding, and a change splices: only the changed document is encoded, and
// the new array is the kept documents' text with it put in, which is byte for
// byte what encoding the whole array gives. Any other stored value (written
// by someone else), or one the scanner cannot split, takes the full path:
// decode everything, change, encode everything.
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
  };

  // The stored documents in store order, and whether the stored value was unreadable.
  StoredFiles readFiles() const;
  // The stored documents in store order; none when nothing readable is stored.
  std::vector<SpreadsheetFile> loadFiles() const;

  // Replaces the stored array.
  [[nodiscard]] bool saveFiles(const std::vector<SpreadsheetFile>& files);
  // Appends `file` as it is (its uuid and creationDate unchanged).
  [[nodiscard]] bool addFile(const SpreadsheetFile& file);
  // Appends a new document with the default grid.
  [[nodiscard]] bool createFile(const std::string& title);
  // Removes every stored document with the uuid of `file`.
  [[nodiscard]] bool removeFile(const SpreadsheetFile& file);
  // Removes every stored document whose uuid is one of `uuids`, in one write.
  [[nodiscard]] bool removeFiles(const std::vector<std::string>& uuids);
  // Stores a copy of `file` stamped with the current time at the end of the
  // store order, in place of every stored document with its uuid.
  [[nodiscard]] bool saveFile(const SpreadsheetFile& file);

  const std::shared_ptr<UserDefaults>& userDefaults() const { return userDefaults_; }

  // How the last change was written (tests and benchmarks).
  enum class WritePath { none, splice, full };
  WritePath lastWritePath() const { return lastWritePath_; }

 private:
  struct Stored {
    std::shared_ptr<const platform::Object> value;
    StoredFiles contents;
  };
  // A stored value, the documents it decodes to and, when the text could be
  // split, where each one lies in it (in the same order).
  struct Known {
    std::shared_ptr<const platform::Object> value;
    std::vector<SpreadsheetFile> files;
    std::optional<std::vector<SpreadsheetFileJSON::Span>> spans;
  };

  Stored read() const;
  bool isKnown(const std::shared_ptr<const platform::Object>& value) const;
  // Removes the documents with one of `uuids` and appends `added`, by splice
  // where the stored value allows it, else by the full path.
  bool change(const std::vector<std::string>& uuids, std::optional<SpreadsheetFile> added);
  // nullopt: the stored value cannot be spliced (the caller takes the full path).
  std::optional<bool> splice(const std::vector<std::string>& uuids, std::optional<SpreadsheetFile>& added);
  bool write(std::vector<SpreadsheetFile> files, const Stored& before);
  // Stores `json` under the storage key and remembers it with `files`.
  bool store(platform::Bytes json, std::vector<SpreadsheetFile> files,
             std::optional<std::vector<SpreadsheetFileJSON::Span>> spans);

  std::shared_ptr<UserDefaults> userDefaults_;
  std::shared_ptr<platform::Clock> clock_;
  mutable std::optional<Known> known_;
  WritePath lastWritePath_ = WritePath::none;
};

}  // namespace tabulo
