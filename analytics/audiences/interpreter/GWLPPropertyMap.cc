#include "analytics/audiences/interpreter/GWLPPropertyMap.h"

#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"

GWLPPropertyMap::~GWLPPropertyMap() { clear(); }

void GWLPPropertyMap::setValue(GWLPValueRef value, const std::string& name) {
  if (immutable_) return;
  if (!value) value = GWLPUndefinedValue::sharedInstance();
  auto [it, inserted] = contents_.try_emplace(name);
  if (inserted) {
    it->second.value = std::move(value);
  } else if (!it->second.immutable) {
    GWLPValueRef old = std::move(it->second.value);
    it->second.value = std::move(value);
    GWLPReleaseValue(std::move(old));
  }
}

void GWLPPropertyMap::setImmutableValue(GWLPValueRef value, const std::string& name) {
  if (immutable_) return;
  if (!value) value = GWLPUndefinedValue::sharedInstance();
  auto [it, inserted] = contents_.try_emplace(name);
  if (!inserted && it->second.immutable) return;
  GWLPValueRef old = std::move(it->second.value);
  it->second.value = std::move(value);
  it->second.immutable = true;
  GWLPReleaseValue(std::move(old));
}

GWLPValueRef GWLPPropertyMap::valueForName(const std::string& name) const {
  auto it = contents_.find(name);
  return it == contents_.end() ? GWLPUndefinedValue::sharedInstance() : it->second.value;
}

void GWLPPropertyMap::removeValueForName(const std::string& name) {
  if (immutable_) return;
  auto it = contents_.find(name);
  if (it == contents_.end() || it->second.immutable) return;
  GWLPValueRef old = std::move(it->second.value);
  contents_.erase(it);
  GWLPReleaseValue(std::move(old));
}

std::vector<std::string> GWLPPropertyMap::allNames() const {
  std::vector<std::string> names;
  names.reserve(contents_.size());
  for (const auto& [name, entry] : contents_) names.push_back(name);
  return names;
}

void GWLPPropertyMap::markValuesInto(GWLPMarkStack& stack) const {
  for (const auto& [name, entry] : contents_) stack.push(entry.value.get());
}

void GWLPPropertyMap::clear() {
  std::map<std::string, Entry, GWLPNameLess> contents;
  contents.swap(contents_);
  for (auto& [name, entry] : contents) GWLPReleaseValue(std::move(entry.value));
}
