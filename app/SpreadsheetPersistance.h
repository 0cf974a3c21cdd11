// SpreadsheetPersistance — the document store: every document of the app, kept
// as one JSON array (SpreadsheetFileJSON) under "Persisted_Files" in the user
// defaults.
//
// The store keeps no copy in memory: every operation reads and decodes the
// whole array, and every change encodes and writes it whole, then synchronizes
// the user defaults. A change answers true only once the new array is on disk;
// it answers false, and leaves the stored array as it was, when the array
// cannot be encoded, and answers false when the bytes did not reach the disk.
//
// A stored value that cannot be decoded reads as no documents, and
// `readFiles()` tells the caller it was unreadable. It is never lost: before
// the first change writes over it, its value is kept under the first free key
// "Persisted_Files.unreadable.1", ".2", ... (an older backup is never
// overwritten).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/SpreadsheetFile.h"
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

 private:
  struct Stored {
    std::optional<platform::Object> value;
    StoredFiles contents;
  };
  Stored read() const;
  bool write(const std::vector<SpreadsheetFile>& files, const Stored& before);

  std::shared_ptr<UserDefaults> userDefaults_;
  std::shared_ptr<platform::Clock> clock_;
};

}  // namespace tabulo
