// GWLPPropertyMap: the name-to-value store of objects, functions, arrays and
// scopes. Single names can be made immutable and the whole map can be
// frozen; writes to either are ignored without an error.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "analytics/audiences/interpreter/GWLPRuntimeValue.h"

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
    if (!large_) {
      for (uint8_t i = 0; i < smallCount_; ++i) {
        if (small_[i].name == name) return &small_[i].entry.value;
      }
      return nullptr;
    }
    auto it = large_->find(name);
    return it == large_->end() ? nullptr : &it->second.value;
  }
  void setValue(GWLPValueRef value, const std::string& name);
  void setImmutableValue(GWLPValueRef value, const std::string& name);
  // The stored value, or the shared undefined value.
  GWLPValueRef valueForName(const std::string& name) const;
  void removeValueForName(const std::string& name);
  void makeImmutable() { immutable_ = true; }
  bool isImmutable() const { return immutable_; }
  std::vector<std::string> allNames() const;

  size_t count() const { return large_ ? large_->size() : smallCount_; }
  // Calls `visit(name, entry)` for every name in name order.
  template <typename Visit>
  void forEach(Visit visit) const {
    if (large_) {
      for (const auto& [name, entry] : *large_) visit(name, entry);
    } else {
      for (uint8_t i = 0; i < smallCount_; ++i) visit(small_[i].name, small_[i].entry);
    }
  }
  // Pushes every value for marking.
  void markValuesInto(GWLPMarkStack& stack) const;
  // Drops every value, whatever is immutable (the collector's release).
  void clear();

 private:
  // Scopes and most objects hold a handful of names: those live in the map
  // itself, in name order, without a tree node each; a map that grows past
  // them moves into a tree for good.
  static constexpr uint8_t kSmallCapacity = 2;
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
  std::unique_ptr<Tree> large_;
};
