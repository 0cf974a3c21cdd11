// GWLPPropertyMap: the name-to-value store of objects, functions, arrays and
// scopes. Single names can be made immutable and the whole map can be
// frozen; writes to either are ignored without an error.
#pragma once

#include <map>
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

  bool hasName(const std::string& name) const { return contents_.count(name) != 0; }
  // The stored value, or none.
  const GWLPValueRef* find(const std::string& name) const {
    auto it = contents_.find(name);
    return it == contents_.end() ? nullptr : &it->second.value;
  }
  void setValue(GWLPValueRef value, const std::string& name);
  void setImmutableValue(GWLPValueRef value, const std::string& name);
  // The stored value, or the shared undefined value.
  GWLPValueRef valueForName(const std::string& name) const;
  void removeValueForName(const std::string& name);
  void makeImmutable() { immutable_ = true; }
  bool isImmutable() const { return immutable_; }
  std::vector<std::string> allNames() const;

  size_t count() const { return contents_.size(); }
  const std::map<std::string, Entry, GWLPNameLess>& contents() const { return contents_; }
  // Pushes every value for marking.
  void markValuesInto(GWLPMarkStack& stack) const;
  // Drops every value, whatever is immutable (the collector's release).
  void clear();

 private:
  std::map<std::string, Entry, GWLPNameLess> contents_;
  bool immutable_ = false;
};
