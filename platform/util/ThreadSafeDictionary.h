// platform::ThreadSafeDictionary — a string-keyed dictionary of Objects that
// any thread may use at any time (the utilities framework's
// HVUMutableDictionary). Each call is one access under the dictionary's own
// lock; a read followed by a write is two accesses, not one.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "platform/core/Object.h"

namespace platform {

class ThreadSafeDictionary {
 public:
  ThreadSafeDictionary() = default;
  ThreadSafeDictionary(const ThreadSafeDictionary&) = delete;
  ThreadSafeDictionary& operator=(const ThreadSafeDictionary&) = delete;

  // The value for `key`, or nothing when there is no entry.
  [[nodiscard]] std::optional<Object> get(const std::string& key) const;
  // Stores `value` under `key`; nothing (or a null Object) removes the entry,
  // so a dictionary never holds null values.
  void set(const std::string& key, std::optional<Object> value);
  void remove(const std::string& key);
  void removeAll();
  // A plain copy of the contents at this moment.
  Dictionary dictionary() const;

 private:
  mutable std::mutex mutex_;
  Dictionary contents_;
};

using HVUMutableDictionary = ThreadSafeDictionary;

}  // namespace platform
