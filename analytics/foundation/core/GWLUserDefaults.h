// GWLUserDefaults — a thin preferences store on one user-defaults suite.
//
// One instance per suite name; the shared instance works on the app's own
// preferences domain, which the app and the library share. Values live in the
// platform's preferences store (a property-list file per suite); reads and
// writes go there directly from the caller's thread, and `synchronize` writes
// the suite to disk. Accepted values: strings, numbers (booleans count as
// numbers), arrays, dictionaries, dates and data; a null value removes the key.
// Bad keys and unsupported values are refused with a warning in the console.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/core/Error.h"
#include "platform/core/Object.h"
#include "platform/util/Mutex.h"

namespace platform {
class PreferencesStore;
}

class GWLUserDefaults {
 public:
  // The process-wide instance on the app's own domain. It counts as already
  // excluded from backup, so its `synchronize` never excludes a file.
  static std::shared_ptr<GWLUserDefaults> sharedUserDefaults();

  // The app's own domain.
  GWLUserDefaults();
  // A suite; an empty name means the app's own domain.
  explicit GWLUserDefaults(const std::string& suiteName);
  // A suite on a given store (tests).
  explicit GWLUserDefaults(std::shared_ptr<platform::PreferencesStore> store, const std::string& suiteName = {});
  ~GWLUserDefaults();

  // The stored value, or nullopt when there is none or the key is empty (warning 41001).
  [[nodiscard]] std::optional<platform::Object> objectForKey(const std::string& key) const;
  // Stores a copy of `value`; a null value removes the key. An empty key
  // (41002) or an unsupported value (41003) stores nothing. Nothing is
  // written to disk here.
  void setObject(const platform::Object& value, const std::string& key);
  void removeObjectForKey(const std::string& key);

  // The stored number's value; 0 when the stored value is not a number.
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

  // Removes every key of the suite.
  void clearAllData();
  // Writes the suite to disk (error 41004 when that fails) and, once, excludes
  // its file from backup (warning 41000 when that fails; tried again next time).
  [[nodiscard]] bool synchronize(platform::Error* error = nullptr);

  bool isPreferenceFileExcluded() const;
  void setIsPreferenceFileExcluded(bool excluded);

  // The suite name; empty for the app's own domain.
  const std::string& suiteName() const { return suiteName_; }

 private:
  std::string suiteName_;
  std::shared_ptr<platform::PreferencesStore> store_;
  mutable platform::Mutex lock_;
  bool isPreferenceFileExcluded_ ABSL_GUARDED_BY(lock_) = false;
};
