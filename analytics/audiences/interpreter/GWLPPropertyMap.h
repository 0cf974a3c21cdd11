// GWLPPropertyMap: the name-to-value store of objects, functions, arrays and
// scopes. Single names can be made immutable and the whole map can be
// frozen; writes to either are ignored without an error.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "analytics/audiences/interpreter/GWLPRuntimeValue.h"

namespace gwlp_detail {
// The bytes at `p` as one word (an unaligned load, not a call).
template <typename Word>
inline Word loadWord(const char* p) {
  Word word;
  std::memcpy(&word, p, sizeof word);
  return word;
}
}  // namespace gwlp_detail

// Whether two names are the same. Names of up to 16 bytes, which are most of
// the names scripts use, compare as two overlapping words in place; longer
// ones with memcmp.
inline bool GWLPSameName(std::string_view a, std::string_view b) {
  using gwlp_detail::loadWord;
  const size_t n = a.size();
  if (n != b.size()) return false;
  const char* x = a.data();
  const char* y = b.data();
  if (n >= 8) {
    if (n > 16) return std::memcmp(x, y, n) == 0;
    return loadWord<uint64_t>(x) == loadWord<uint64_t>(y) &&
           loadWord<uint64_t>(x + n - 8) == loadWord<uint64_t>(y + n - 8);
  }
  if (n >= 4) {
    return loadWord<uint32_t>(x) == loadWord<uint32_t>(y) &&
           loadWord<uint32_t>(x + n - 4) == loadWord<uint32_t>(y + n - 4);
  }
  // 0 to 3 bytes: the first, middle and last byte are all of them.
  return n == 0 || (x[0] == y[0] && x[n / 2] == y[n / 2] && x[n - 1] == y[n - 1]);
}

// The order of names: that of std::string (bytes compared as unsigned), with
// the first bytes compared in place, which decides most comparisons of the
// short names scripts use without a call to compare the rest.
struct GWLPNameLess {
  bool operator()(const std::string& a, const std::string& b) const {
    if (!a.empty() && !b.empty() && a[0] != b[0]) {
      return static_cast<unsigned char>(a[0]) < static_cast<unsigned char>(b[0]);
    }
    return a < b;
  }
};

class GWLPPropertyMap {
 public:
  // One name's value, and whether it can no longer change.
  struct Entry {
    GWLPValueRef value;
    bool immutable = false;
  };

  GWLPPropertyMap() = default;
  ~GWLPPropertyMap();
  GWLPPropertyMap(const GWLPPropertyMap&) = delete;
  GWLPPropertyMap& operator=(const GWLPPropertyMap&) = delete;

  bool hasName(const std::string& name) const { return find(name) != nullptr; }
  // The stored value, or none. Valid until the map next changes.
  const GWLPValueRef* find(const std::string& name) const {
    if (large_) {
      auto it = large_->find(name);
      return it == large_->end() ? nullptr : &it->second.value;
    }
    const Slot* slots = flat_.empty() ? small_ : flat_.data();
    const size_t count = flat_.empty() ? smallCount_ : flat_.size();
    for (size_t i = 0; i < count; ++i) {
      if (GWLPSameName(slots[i].name, name)) return &slots[i].entry.value;
    }
    return nullptr;
  }
  void setValue(GWLPValueRef value, const std::string& name);
  void setImmutableValue(GWLPValueRef value, const std::string& name);
  // The stored value, or the shared undefined value.
  GWLPValueRef valueForName(const std::string& name) const;
  void removeValueForName(const std::string& name);
  void makeImmutable() { immutable_ = true; }
  bool isImmutable() const { return immutable_; }
  std::vector<std::string> allNames() const;

  size_t count() const { return large_ ? large_->size() : flat_.empty() ? smallCount_ : flat_.size(); }
  // Calls `visit(name, entry)` for every name in name order.
  template <typename Visit>
  void forEach(Visit visit) const {
    if (large_) {
      for (const auto& [name, entry] : *large_) visit(name, entry);
    } else if (!flat_.empty()) {
      for (const Slot& slot : flat_) visit(slot.name, slot.entry);
    } else {
      for (uint8_t i = 0; i < smallCount_; ++i) visit(small_[i].name, small_[i].entry);
    }
  }
  // Pushes every value for marking.
  void markValuesInto(GWLPMarkStack& stack) const;
  // Drops every value, whatever is immutable (the collector's release).
  void clear();
  // What clear() and then setting `name` (as a constant when `immutable`)
  // leave: `name` alone, holding `value`. A map that holds just `name`
  // keeps its slot.
  void resetTo(GWLPValueRef value, const std::string& name, bool immutable);

 private:
  // Scopes and most objects hold a handful of names, kept in name order
  // without a tree node each: up to two in the map itself, then up to eight
  // in one array; a map that grows past that moves into a tree for good.
  static constexpr uint8_t kSmallCapacity = 2;
  static constexpr size_t kFlatCapacity = 8;
  struct Slot {
    std::string name;
    Entry entry;
  };
  using Tree = std::map<std::string, Entry, GWLPNameLess>;

  // The entry of `name`, made empty when it was missing (`inserted`).
  Entry& slotFor(const std::string& name, bool& inserted);

  Slot small_[kSmallCapacity];
  uint8_t smallCount_ = 0;
  bool immutable_ = false;
  // In use (never empty) once the names outgrew small_, until they outgrow it too.
  std::vector<Slot> flat_;
  std::unique_ptr<Tree> large_;
};
