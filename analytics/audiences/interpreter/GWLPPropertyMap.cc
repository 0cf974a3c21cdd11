#include "analytics/audiences/interpreter/GWLPPropertyMap.h"

#include <algorithm>

#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"

GWLPPropertyMap::~GWLPPropertyMap() { clear(); }

GWLPPropertyMap::Entry& GWLPPropertyMap::slotFor(const std::string& name, bool& inserted) {
  inserted = false;
  if (!large_ && flat_.empty()) {
    uint8_t at = 0;
    for (; at < smallCount_; ++at) {
      if (GWLPSameName(small_[at].name, name)) return small_[at].entry;
      if (GWLPNameLess()(name, small_[at].name)) break;
    }
    inserted = true;
    if (smallCount_ < kSmallCapacity) {
      for (uint8_t i = smallCount_; i > at; --i) small_[i] = std::move(small_[i - 1]);
      small_[at].name = name;
      small_[at].entry = Entry{};
      ++smallCount_;
      return small_[at].entry;
    }
    flat_.reserve(kFlatCapacity);
    for (uint8_t i = 0; i < smallCount_; ++i) {
      flat_.push_back(std::move(small_[i]));
      small_[i] = Slot{};
    }
    smallCount_ = 0;
    return flat_.insert(flat_.begin() + at, Slot{name, Entry{}})->entry;
  }
  if (!large_) {
    // Names often come in order (a copy of another map, a dictionary's
    // keys): one past the last needs no search.
    size_t at = GWLPNameLess()(flat_.back().name, name) ? flat_.size() : 0;
    for (; at < flat_.size(); ++at) {
      if (GWLPSameName(flat_[at].name, name)) return flat_[at].entry;
      if (GWLPNameLess()(name, flat_[at].name)) break;
    }
    inserted = true;
    if (flat_.size() < kFlatCapacity) {
      Slot& slot = *flat_.emplace(flat_.begin() + static_cast<ptrdiff_t>(at));
      slot.name = name;
      return slot.entry;
    }
    auto tree = std::make_unique<Tree>();
    for (Slot& slot : flat_) tree->emplace(std::move(slot.name), std::move(slot.entry));
    flat_.clear();
    flat_.shrink_to_fit();
    large_ = std::move(tree);
  }
  auto [it, added] = large_->try_emplace(name);
  inserted = added;
  return it->second;
}

void GWLPPropertyMap::setValue(GWLPValueRef value, const std::string& name) {
  if (immutable_) return;
  if (!value) value = GWLPUndefinedValue::sharedInstance();
  bool inserted = false;
  Entry& entry = slotFor(name, inserted);
  if (inserted) {
    entry.value = std::move(value);
  } else if (!entry.immutable) {
    GWLPValueRef old = std::move(entry.value);
    entry.value = std::move(value);
    GWLPReleaseValue(std::move(old));
  }
}

void GWLPPropertyMap::setImmutableValue(GWLPValueRef value, const std::string& name) {
  if (immutable_) return;
  if (!value) value = GWLPUndefinedValue::sharedInstance();
  bool inserted = false;
  Entry& entry = slotFor(name, inserted);
  if (!inserted && entry.immutable) return;
  GWLPValueRef old = std::move(entry.value);
  entry.value = std::move(value);
  entry.immutable = true;
  GWLPReleaseValue(std::move(old));
}

GWLPValueRef GWLPPropertyMap::valueForName(const std::string& name) const {
  const GWLPValueRef* value = find(name);
  return value ? *value : GWLPUndefinedValue::sharedInstance();
}

void GWLPPropertyMap::removeValueForName(const std::string& name) {
  if (immutable_) return;
  GWLPValueRef old;
  if (large_) {
    auto it = large_->find(name);
    if (it == large_->end() || it->second.immutable) return;
    old = std::move(it->second.value);
    large_->erase(it);
  } else if (!flat_.empty()) {
    auto it = std::find_if(flat_.begin(), flat_.end(), [&](const Slot& slot) { return GWLPSameName(slot.name, name); });
    if (it == flat_.end() || it->entry.immutable) return;
    old = std::move(it->entry.value);
    flat_.erase(it);
    if (flat_.empty()) flat_.shrink_to_fit();
  } else {
    uint8_t at = 0;
    while (at < smallCount_ && !GWLPSameName(small_[at].name, name)) ++at;
    if (at == smallCount_ || small_[at].entry.immutable) return;
    old = std::move(small_[at].entry.value);
    for (uint8_t i = at; i + 1 < smallCount_; ++i) small_[i] = std::move(small_[i + 1]);
    --smallCount_;
    small_[smallCount_] = Slot{};
  }
  GWLPReleaseValue(std::move(old));
}

std::vector<std::string> GWLPPropertyMap::allNames() const {
  std::vector<std::string> names;
  names.reserve(count());
  forEach([&](const std::string& name, const Entry&) { names.push_back(name); });
  return names;
}

void GWLPPropertyMap::markValuesInto(GWLPMarkStack& stack) const {
  forEach([&](const std::string&, const Entry& entry) { stack.push(entry.value.get()); });
}

void GWLPPropertyMap::clear() {
  // Taken out first: releasing a value may reach back into this map.
  GWLPValueRef released[kSmallCapacity];
  const uint8_t count = smallCount_;
  for (uint8_t i = 0; i < count; ++i) {
    released[i] = std::move(small_[i].entry.value);
    small_[i].name.clear();
    small_[i].entry.immutable = false;
  }
  smallCount_ = 0;
  if (flat_.empty() && !large_) {
    // Scopes and small objects: nothing but the names kept in the map itself.
    for (uint8_t i = 0; i < count; ++i) GWLPReleaseValue(std::move(released[i]));
    return;
  }
  std::unique_ptr<Tree> tree = std::move(large_);
  std::vector<Slot> flat = std::move(flat_);
  flat_ = {};
  for (uint8_t i = 0; i < count; ++i) GWLPReleaseValue(std::move(released[i]));
  for (Slot& slot : flat) GWLPReleaseValue(std::move(slot.entry.value));
  if (tree) {
    for (auto& [name, entry] : *tree) GWLPReleaseValue(std::move(entry.value));
  }
}

void GWLPPropertyMap::resetTo(GWLPValueRef value, const std::string& name, bool immutable) {
  if (immutable_ || large_ || !flat_.empty() || smallCount_ != 1 || small_[0].name != name) {
    clear();
    if (immutable) {
      setImmutableValue(std::move(value), name);
    } else {
      setValue(std::move(value), name);
    }
    return;
  }
  if (!value) value = GWLPUndefinedValue::sharedInstance();
  GWLPValueRef old = std::move(small_[0].entry.value);
  small_[0].entry.value = std::move(value);
  small_[0].entry.immutable = immutable;
  GWLPReleaseValue(std::move(old));
}
