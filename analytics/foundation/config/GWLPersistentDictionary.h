// GWLPersistentDictionary — an in-memory dictionary mirrored to a
// property-list file in the library's directory.
//
// The content is read once when the dictionary is made and is the single
// source of truth while the process runs. A change schedules one write of the
// whole content a second later on the dictionary's own queue; further changes
// in that second join it, and setting a value equal to the stored one
// schedules nothing. `synchronize` writes pending changes at once; the host's
// shutdown (the will-terminate notification) and dropping the dictionary do too.
//
// Files are written atomically (temporary file, flush, rename), so a crash
// leaves the old file or the new one. A file that exists but cannot be read
// is moved aside to "<file>.corrupt-<n>" and the dictionary starts empty; when
// it cannot be moved, the dictionary keeps its content in memory only and
// never overwrites the file.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/core/Object.h"
#include "platform/dispatch/NotificationCenter.h"
#include "platform/util/Mutex.h"

namespace platform {
class Clock;
class SerialQueue;
}  // namespace platform

class GWLPersistentDictionary : public std::enable_shared_from_this<GWLPersistentDictionary> {
 public:
  // The dictionary of `<library directory>/<fileName>.plist`; null for an
  // empty name, without a data directory, or when the library's directory
  // cannot be made (error 43004). Writes wait on `clock` (the system clock
  // when null); `center` (the default center when null) tells of the host's shutdown.
  static std::shared_ptr<GWLPersistentDictionary> create(const std::string& fileName,
                                                         std::shared_ptr<platform::Clock> clock = nullptr,
                                                         std::shared_ptr<platform::NotificationCenter> center = nullptr);
  // The same for a file at `path`.
  static std::shared_ptr<GWLPersistentDictionary> createAtPath(const std::string& path,
                                                               std::shared_ptr<platform::Clock> clock = nullptr,
                                                               std::shared_ptr<platform::NotificationCenter> center = nullptr);
  // Writes a pending change at once.
  ~GWLPersistentDictionary();

  // The stored value; nullopt for an empty key (warning 43001) or no value.
  [[nodiscard]] std::optional<platform::Object> objectForKey(const std::string& key) const;
  // Stores a copy of `value`; a null value removes the key. Refuses an empty
  // key (43002) and a value a property list cannot hold (43003).
  void setObject(const platform::Object& value, const std::string& key);
  void removeObjectForKey(const std::string& key);

  // The stored number's value; 0 when the stored value is no number.
  int64_t integerForKey(const std::string& key) const;
  float floatForKey(const std::string& key) const;
  double doubleForKey(const std::string& key) const;
  bool boolForKey(const std::string& key) const;
  // The stored value when it is of that kind, else nullopt.
  [[nodiscard]] std::optional<std::string> stringForKey(const std::string& key) const;
  [[nodiscard]] std::optional<platform::Object> numberForKey(const std::string& key) const;
  [[nodiscard]] std::optional<platform::Array> arrayForKey(const std::string& key) const;
  [[nodiscard]] std::optional<platform::Dictionary> dictionaryForKey(const std::string& key) const;

  void setInteger(int64_t value, const std::string& key);
  void setFloat(float value, const std::string& key);
  void setDouble(double value, const std::string& key);
  void setBool(bool value, const std::string& key);

  // Removes everything.
  void clearAllData();
  // Schedules the delayed write unless one is pending.
  void schedulePersistToDisk();
  // Writes the content now; answers whether the file holds it.
  [[nodiscard]] bool persistToDisk();
  // Writes pending changes at once; answers whether the file holds the content.
  [[nodiscard]] bool synchronize();

  const std::string& filePath() const { return filePath_; }
  // Where an unreadable file found at creation was moved, if one was.
  [[nodiscard]] std::optional<std::string> setAsidePath() const { return setAsidePath_; }
  // Waits until the delayed writes that are due have run (tests).
  void flush();

 private:
  GWLPersistentDictionary(std::string path, std::shared_ptr<platform::Clock> clock);
  void load();
  void changed() ABSL_EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  void scheduleLocked() ABSL_EXCLUSIVE_LOCKS_REQUIRED(mutex_);

  const std::string filePath_;
  const std::shared_ptr<platform::Clock> clock_;
  std::shared_ptr<platform::SerialQueue> serialQueue_;
  platform::ObserverToken terminateObserver_;
  std::optional<std::string> setAsidePath_;
  bool writesAllowed_ = true;  // false when an unreadable file could not be moved aside

  mutable platform::Mutex mutex_;
  platform::Dictionary content_ ABSL_GUARDED_BY(mutex_);
  bool hasPendingPersistence_ ABSL_GUARDED_BY(mutex_) = false;
  uint64_t version_ ABSL_GUARDED_BY(mutex_) = 0;  // counts changes

  platform::Mutex writeMutex_;  // one write at a time; never an older snapshot over a newer one
  uint64_t writtenVersion_ ABSL_GUARDED_BY(writeMutex_) = 0;
};
