#include "analytics/audiences/interpreter/GWLPPropertyMap.h"

#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"

GWLPPropertyMap::~GWLPPropertyMap() { clear(); }

void GWLPPropertyMap::setValue(GWLPValueRef value, const std::string& name) {
  if (!isWritable(name)) return;
  if (!value) value = GWLPUndefinedValue::sharedInstance();
  auto [it, inserted] = contents_.try_emplace(name, value);
  if (!inserted) {
    GWLPValueRef old = std::move(it->second);
    it->second = std::move(value);
    GWLPDeferRelease(std::move(old));
  }
}

void GWLPPropertyMap::setImmutableValue(GWLPValueRef value, const std::string& name) {
  if (!isWritable(name)) return;
  setValue(std::move(value), name);
  immutableNames_.insert(name);
}

GWLPValueRef GWLPPropertyMap::valueForName(const std::string& name) const {
  auto it = contents_.find(name);
  return it == contents_.end() ? GWLPUndefinedValue::sharedInstance() : it->second;
}

void GWLPPropertyMap::removeValueForName(const std::string& name) {
  if (!isWritable(name)) return;
  auto it = contents_.find(name);
  if (it == contents_.end()) return;
  GWLPValueRef old = std::move(it->second);
  contents_.erase(it);
  GWLPDeferRelease(std::move(old));
}

std::vector<std::string> GWLPPropertyMap::allNames() const {
  std::vector<std::string> names;
  names.reserve(contents_.size());
  for (const auto& [name, value] : contents_) names.push_back(name);
  return names;
}

void GWLPPropertyMap::markValuesInto(GWLPMarkStack& stack) const {
  for (const auto& [name, value] : contents_) stack.push(value.get());
}

void GWLPPropertyMap::clear() {
  std::map<std::string, GWLPValueRef> contents;
  contents.swap(contents_);
  for (auto& [name, value] : contents) GWLPDeferRelease(std::move(value));
}
