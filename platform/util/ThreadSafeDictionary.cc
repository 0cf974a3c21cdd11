#include "platform/util/ThreadSafeDictionary.h"

#include <utility>

namespace platform {

std::optional<Object> ThreadSafeDictionary::get(const std::string& key) const {
  std::lock_guard lock(mutex_);
  auto found = contents_.find(key);
  if (found == contents_.end()) return std::nullopt;
  return found->second;
}

void ThreadSafeDictionary::set(const std::string& key, std::optional<Object> value) {
  Object previous;  // destroyed outside the lock
  std::lock_guard lock(mutex_);
  auto found = contents_.find(key);
  if (!value || value->isNull()) {
    if (found != contents_.end()) {
      previous = std::move(found->second);
      contents_.erase(found);
    }
    return;
  }
  if (found != contents_.end()) {
    previous = std::exchange(found->second, std::move(*value));
  } else {
    contents_.emplace(key, std::move(*value));
  }
}

void ThreadSafeDictionary::remove(const std::string& key) { set(key, std::nullopt); }

void ThreadSafeDictionary::removeAll() {
  Dictionary previous;
  std::lock_guard lock(mutex_);
  previous.swap(contents_);
}

Dictionary ThreadSafeDictionary::dictionary() const {
  std::lock_guard lock(mutex_);
  return contents_;
}

}  // namespace platform
