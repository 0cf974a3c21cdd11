// platform::PreferencesStore — user-defaults suites kept as property-list files.
//
// A suite is a dictionary of values (string, integer, double, bool, data,
// date, array, dictionary) stored in `<directory>/<suite>.plist`. Every part
// of the process that names the same suite shares one PreferencesStore:
// `suite(name)` answers the same object for the same name, and the app's own
// domain (`standard()`, the empty name, or the bundle identifier) is one suite
// that the app and the library share.
//
// Values live in memory, each one shared and never changed once stored: a
// value is moved in by setObject, handed out without a copy by
// sharedObjectForKey, and the write takes a snapshot of pointers, so a large
// data value (the app's documents) is not copied on its way to the disk.
// Changes are written to disk together a short while
// after the first unsaved change (`Configuration::writeDelay`, 0.1 s by
// default, on the configured queue and clock), so a burst of changes makes one
// write. `synchronize()` writes at once and answers whether the bytes reached
// the disk. Writes are atomic: a crash leaves the old file or the new one.
//
// Registered defaults (`registerDefaults`) are answers for keys with nothing
// stored; they stay in memory and are never written.
//
// A file that exists but cannot be read as a dictionary (damaged, or larger
// than PropertyList::kMaximumSize) is kept where it is and never written over:
// `loadFailed()` answers true, the suite starts empty in memory, and every
// write is refused (kUnreadableFileKept) until `setAsideUnreadableFile()`
// moves the file to `<suite>.plist.corrupt-<n>` (logged), after which the
// suite is written as usual.
//
// Size budget: the suite's file must stay readable, so a value that would
// make it larger than PropertyList::kMaximumSize (by PropertyList's bound of
// the encoded size) is refused with kTooLarge and stores nothing.
//
// All members are safe to call from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Error.h"
#include "platform/core/Object.h"
#include "platform/storage/PropertyList.h"

namespace platform {

class Clock;
class Queue;
class Timer;

class PreferencesStore : public std::enable_shared_from_this<PreferencesStore> {
 public:
  // Error codes in kPreferencesErrorDomain.
  enum Code : int64_t {
    kInvalidKey = 1,          // empty key or key that is no valid UTF-8
    kInvalidValue = 2,        // value a property list cannot hold
    kInvalidSuiteName = 3,    // name that cannot be a file name
    kNoStorage = 4,           // the suite has no file (no directory configured)
    kCorruptFileKept = 5,     // the unreadable file could not be moved aside
    kUnreadableFileKept = 6,  // the file could not be read when opened and is not written over
    kTooLarge = 7,            // the suite's file would exceed PropertyList::kMaximumSize
  };

  struct Configuration {
    // Where suites' files live (a data directory's Library/Preferences).
    // Empty: Paths::current()'s preferences directory, if any; without one,
    // suites live in memory only and synchronize() answers false.
    std::string directory;
    // The app's own suite name: the app's bundle identifier, which the app
    // passes in. Empty: kDefaultBundleIdentifier.
    std::string applicationDomain;
    // Null: Clock::system().
    std::shared_ptr<Clock> clock;
    // Where delayed writes run. Null: a serial queue of the preferences.
    std::shared_ptr<Queue> queue;
    double writeDelay = 0.1;
  };

  // Sets how suites opened from now on are made.
  static void configure(Configuration configuration);
  // The app's own suite.
  static std::shared_ptr<PreferencesStore> standard();
  // The shared suite named `name` (empty: the app's own). A name that cannot
  // be a file name ("", ".", "..", or one holding '/' or NUL) answers null.
  [[nodiscard]] static std::shared_ptr<PreferencesStore> suite(const std::string& name, Error* error = nullptr);
  // Writes every open suite at once; answers whether all writes succeeded.
  [[nodiscard]] static bool synchronizeAll();
  // Tests: forgets every open suite without writing and the configuration.
  static void resetForTesting();

  // A store on its own, outside the shared registry (tests, tools). An empty
  // `filePath` keeps the values in memory only.
  static std::shared_ptr<PreferencesStore> create(std::string suiteName, std::string filePath,
                                                  std::shared_ptr<Clock> clock, std::shared_ptr<Queue> queue,
                                                  double writeDelay = 0.1);

  ~PreferencesStore();
  PreferencesStore(const PreferencesStore&) = delete;
  PreferencesStore& operator=(const PreferencesStore&) = delete;

  const std::string& suiteName() const { return suiteName_; }
  const std::string& filePath() const { return filePath_; }

  // The stored value, else the registered default, else nullopt.
  [[nodiscard]] std::optional<Object> objectForKey(const std::string& key) const;
  // The same value without copying it; null when there is none.
  std::shared_ptr<const Object> sharedObjectForKey(const std::string& key) const;
  // Stores `value` under `key`; a null value removes the key. An invalid key
  // or a value a property list cannot hold stores nothing and answers false.
  [[nodiscard]] bool setObject(Object value, const std::string& key, Error* error = nullptr);
  void removeObjectForKey(const std::string& key);
  // Removes `keys` as one change.
  void removeObjectsForKeys(const std::vector<std::string>& keys);
  // Keys with a stored value (registered defaults excluded), ascending.
  std::vector<std::string> keys() const;

  // Typed reads. Numbers convert among themselves (a bool counts as 0 or 1;
  // a double becomes an integer by truncation, saturating); anything else
  // reads as 0 / false. The others answer nullopt for a value of another kind.
  int64_t integerForKey(const std::string& key) const;
  double doubleForKey(const std::string& key) const;
  bool boolForKey(const std::string& key) const;
  [[nodiscard]] std::optional<std::string> stringForKey(const std::string& key) const;
  [[nodiscard]] std::optional<Bytes> dataForKey(const std::string& key) const;
  [[nodiscard]] std::optional<Array> arrayForKey(const std::string& key) const;
  [[nodiscard]] std::optional<Dictionary> dictionaryForKey(const std::string& key) const;

  // Typed writes.
  void setInteger(int64_t value, const std::string& key);
  void setDouble(double value, const std::string& key);
  void setBool(bool value, const std::string& key);
  [[nodiscard]] bool setString(std::string value, const std::string& key, Error* error = nullptr);
  [[nodiscard]] bool setData(Bytes value, const std::string& key, Error* error = nullptr);
  [[nodiscard]] bool setArray(Array value, const std::string& key, Error* error = nullptr);
  [[nodiscard]] bool setDictionary(Dictionary value, const std::string& key, Error* error = nullptr);

  // Adds `defaults` to the registered defaults (in memory only, never written).
  void registerDefaults(const Dictionary& defaults);

  // Writes pending changes now. Answers true when what is in memory is on
  // disk (also when nothing was pending); false, with the error, otherwise.
  [[nodiscard]] bool synchronize(Error* error = nullptr);

  // Whether the suite's existing file could not be read when it was opened.
  bool loadFailed() const;
  [[nodiscard]] std::optional<Error> loadError() const;

  // Whether the file could not be read and is kept, refusing writes.
  bool isKeepingUnreadableFile() const;
  // Moves the unreadable file aside (see above) so that the suite may be
  // written again; true when there is nothing (left) to keep or it was moved.
  [[nodiscard]] bool setAsideUnreadableFile(Error* error = nullptr);
  // Where the unreadable file was moved, once it has been.
  [[nodiscard]] std::optional<std::string> corruptFileCopyPath() const;

  PreferencesStore(std::string suiteName, std::string filePath, std::shared_ptr<Clock> clock,
                   std::shared_ptr<Queue> queue, double writeDelay);

 private:
  void load();
  void changed();  // with mutex_ held
  bool storeValue(const std::string& key, std::optional<Object> value, Error* error);
  [[nodiscard]] bool moveCorruptFileAside(Error* error);  // with mutex_ held
  // PropertyList's bound of the suite's file with `key` holding `value` (none: removed).
  size_t boundWith(const std::string& key, const Object* value) const;  // with mutex_ held
  void writeFromTimer();

  const std::string suiteName_;
  const std::string filePath_;
  const std::shared_ptr<Clock> clock_;
  const std::shared_ptr<Queue> queue_;
  const double writeDelay_;

  mutable std::mutex mutex_;  // guards everything below
  SharedDictionary values_;
  Dictionary registered_;
  uint64_t version_ = 0;         // counts changes
  uint64_t writtenVersion_ = 0;  // the version last on disk
  std::shared_ptr<Timer> pendingWrite_;
  std::optional<Error> loadError_;
  std::optional<std::string> corruptCopy_;
  bool setAside_ = false;  // the unreadable file was moved aside (or was gone): writes may go on

  std::mutex writeMutex_;  // one file write at a time, in snapshot order
};

inline constexpr const char* kPreferencesErrorDomain = "platform.Preferences";

}  // namespace platform
