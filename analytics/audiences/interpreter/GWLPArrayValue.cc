#include "analytics/audiences/interpreter/GWLPArrayValue.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <unordered_set>

#include "analytics/audiences/interpreter/GWLPArrayCommandEvaluator.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPFunctionValue.h"
#include "analytics/audiences/interpreter/GWLPLimits.h"
#include "analytics/audiences/interpreter/GWLPNumberValue.h"
#include "analytics/audiences/interpreter/GWLPObjectManager.h"
#include "analytics/audiences/interpreter/GWLPStringValue.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"
#include "analytics/audiences/interpreter/GWLPValueAllocation.h"
#include "analytics/audiences/interpreter/GWLPValueOperations.h"

namespace {

// The arrays being joined on this thread, so that a cyclic array joins once.
struct JoinState {
  std::unordered_set<const GWLPArrayValue*> active;
  int depth = 0;
};
thread_local JoinState joinState;

bool isLengthKey(const GWLPRuntimeValue& key) {
  return key.isString() && static_cast<const GWLPStringValue&>(key).value() == "length";
}

}  // namespace

GWLPArrayValue::GWLPArrayValue(GWLPValueList elements)
    : GWLPRuntimeValue(GWLPValueKind::Array), elements_(std::move(elements)) {
  for (auto& element : elements_) {
    if (!element) element = GWLPUndefinedValue::sharedInstance();
  }
}

GWLPArrayValue::~GWLPArrayValue() { releaseContents(); }

const GWLPValueRef& GWLPArrayValue::emptyValue() {
  static const GWLPValueRef instance = std::make_shared<GWLPRuntimeValue>();
  return instance;
}

std::string GWLPArrayValue::stringValueWithSeparator(const std::string& separator, platform::Error* error) const {
  GWLPErrorOut out(error);
  if (elements_.empty() || joinState.active.count(this)) return {};
  if (joinState.depth >= kGWLPMaxValueDepth) {
    out.fail(kGWLPErrorResourceLimit);
    return {};
  }
  auto manager = objectManager_.lock();
  if (manager && !manager->chargeWork(elements_.size(), out)) return {};
  joinState.active.insert(this);
  ++joinState.depth;
  // Hold the array and its elements: an element's text never runs script
  // code, but the copy keeps the walk independent of the slots anyway.
  GWLPValueList elements = elements_;
  std::string text;
  for (size_t i = 0; i < elements.size(); ++i) {
    const GWLPValueRef& element = elements[i];
    if (!isHole(element) && !element->isUndefined() && !element->isNull()) {
      text += element->stringValueOrError(out);
      if (out.failed()) break;
    }
    if (i + 1 < elements.size()) text += separator;
    if (text.size() > kGWLPMaxTextBytes) {
      out.fail(kGWLPErrorResourceLimit);
      break;
    }
  }
  --joinState.depth;
  joinState.active.erase(this);
  if (!out.failed() && manager) manager->reserveHeap(text.size(), out);
  if (out.failed()) return {};
  return text;
}

std::string GWLPArrayValue::stringValueOrError(platform::Error* error) const {
  return stringValueWithSeparator(",", error);
}

double GWLPArrayValue::doubleValueOrError(platform::Error* error) const {
  GWLPErrorOut out(error);
  std::string text = stringValueOrError(out);
  if (out.failed()) return std::nan("");
  return GWLPStringValue::doubleFromString(text);
}

bool GWLPArrayValue::booleanValueOrError(platform::Error*) const { return true; }

bool GWLPArrayValue::reserveSlots(size_t newCount, platform::Error* error) {
  if (newCount <= elements_.size()) return true;
  if (newCount > kGWLPMaxArraySlots) {
    platform::setError(error, GWLPRuntimeError(kGWLPErrorResourceLimit));
    return false;
  }
  auto manager = objectManager_.lock();
  return !manager || manager->reserveHeap((newCount - elements_.size()) * kGWLPSlotCost, error);
}

bool GWLPArrayValue::setLength(size_t count, platform::Error* error) {
  if (count < elements_.size()) {
    GWLPValueList removed(std::make_move_iterator(elements_.begin() + static_cast<ptrdiff_t>(count)),
                          std::make_move_iterator(elements_.end()));
    elements_.resize(count);
    for (auto& element : removed) GWLPDeferRelease(std::move(element));
    return true;
  }
  if (!reserveSlots(count, error)) return false;
  elements_.resize(count, emptyValue());
  return true;
}

bool GWLPArrayValue::setValue(GWLPValueRef value, const GWLPRuntimeValue& key, platform::Error* error) {
  GWLPErrorOut out(error);
  if (!value) value = GWLPUndefinedValue::sharedInstance();
  std::string name = key.stringValueOrError(out);
  if (out.failed()) return false;
  if (isLengthKey(key)) {
    std::optional<uint32_t> length = GWLPArrayIndexFromValue(*value);
    if (!length) {
      out.fail(kGWLPErrorInvalidArrayLength);
      return false;
    }
    return setLength(*length, out);
  }
  if (std::optional<uint32_t> index = GWLPArrayIndexFromValue(key)) {
    size_t slot = *index;
    if (slot >= elements_.size()) {
      if (!reserveSlots(slot + 1, out)) return false;
      elements_.resize(slot + 1, emptyValue());
    }
    GWLPValueRef old = std::move(elements_[slot]);
    elements_[slot] = std::move(value);
    GWLPDeferRelease(std::move(old));
    return true;
  }
  propertyMap_.setValue(std::move(value), name);
  return true;
}

GWLPValueRef GWLPArrayValue::valueForProperty(const GWLPRuntimeValue& key, platform::Error* error) const {
  GWLPErrorOut out(error);
  if (isLengthKey(key)) return GWLPNumberValue::make(static_cast<double>(elements_.size()));
  std::string name = key.stringValueOrError(out);
  if (out.failed()) return GWLPUndefinedValue::sharedInstance();
  if (std::optional<uint32_t> index = GWLPArrayIndexFromValue(key)) {
    if (*index >= elements_.size() || isHole(elements_[*index])) return GWLPUndefinedValue::sharedInstance();
    return elements_[*index];
  }
  return propertyMap_.valueForName(name);
}

void GWLPArrayValue::removeValueForProperty(const GWLPRuntimeValue& key, platform::Error* error) {
  GWLPErrorOut out(error);
  std::string name = key.stringValueOrError(out);
  if (out.failed()) return;
  if (std::optional<uint32_t> index = GWLPArrayIndexFromValue(key)) {
    if (*index < elements_.size()) {
      GWLPValueRef old = std::move(elements_[*index]);
      elements_[*index] = emptyValue();
      GWLPDeferRelease(std::move(old));
    }
    return;
  }
  propertyMap_.removeValueForName(name);
}

GWLPValueList GWLPArrayValue::allPropertyNames() const {
  GWLPValueList names;
  for (const auto& name : propertyMap_.allNames()) names.push_back(GWLPStringValue::make(name));
  for (size_t i = 0; i < elements_.size(); ++i) {
    if (!isHole(elements_[i])) names.push_back(GWLPStringValue::make(std::to_string(i)));
  }
  return names;
}

bool GWLPArrayValue::hasProperty(const GWLPRuntimeValue& key, platform::Error* error) const {
  if (std::optional<uint32_t> index = GWLPArrayIndexFromValue(key)) {
    return *index < elements_.size() && !isHole(elements_[*index]);
  }
  GWLPErrorOut out(error);
  std::string name = key.stringValueOrError(out);
  if (out.failed()) return false;
  return propertyMap_.hasName(name);
}

GWLPValueList GWLPArrayValue::allElements() const {
  GWLPValueList copy = elements_;
  for (auto& element : copy) {
    if (isHole(element)) element = GWLPUndefinedValue::sharedInstance();
  }
  return copy;
}

GWLPValueRef GWLPArrayValue::applyWithName(const std::string& name, const GWLPValueList& arguments,
                                           const GWLPScopeRef& scope, platform::Error* error) {
  auto self = std::static_pointer_cast<GWLPArrayValue>(shared_from_this());
  if (propertyMap_.hasName(name)) {
    GWLPValueRef property = propertyMap_.valueForName(name);
    if (property->isFunction()) {
      return std::static_pointer_cast<GWLPFunctionValue>(property)->invokeWithArguments(arguments, scope, error);
    }
    platform::setError(error, GWLPRuntimeError(kGWLPErrorNoSuchMethod));
    return GWLPUndefinedValue::sharedInstance();
  }
  return GWLPArrayCommandEvaluator::sharedInstance().evaluateCommand(name, self, arguments, scope, error);
}

std::shared_ptr<GWLPArrayValue> GWLPArrayValue::subarrayWithRange(size_t location, size_t length) const {
  location = std::min(location, elements_.size());
  length = std::min(length, elements_.size() - location);
  auto begin = elements_.begin() + static_cast<ptrdiff_t>(location);
  return GWLPMakeShared<GWLPArrayValue>(GWLPValueList(begin, begin + static_cast<ptrdiff_t>(length)));
}

void GWLPArrayValue::sortUsingFunctionValue(const std::shared_ptr<GWLPFunctionValue>& function,
                                            const GWLPScopeRef& scope, platform::Error* error) {
  GWLPErrorOut out(error);
  auto self = shared_from_this();
  const size_t count = elements_.size();

  // Holes go last and undefined just before them, whatever the comparator
  // says; only the other values are compared.
  GWLPValueList defined;
  size_t undefinedCount = 0;
  defined.reserve(count);
  for (const auto& element : elements_) {
    if (isHole(element)) continue;
    if (element->isUndefined()) {
      ++undefinedCount;
    } else {
      defined.push_back(element);
    }
  }
  const size_t n = defined.size();
  size_t levels = 1;
  while ((size_t{1} << levels) < n) ++levels;
  // A comparator's calls are counted as instructions; sorting by text is
  // native work for every comparison.
  auto manager = objectManager_.lock();
  if (manager && !manager->chargeWork(function ? count : count + n * levels, out)) return;

  bool failed = false;
  platform::Error firstError;
  if (function) {
    // Three-way order from the comparator's sign; once a call has failed,
    // every later comparison is equal.
    auto compare = [&](const GWLPValueRef& a, const GWLPValueRef& b) -> int {
      if (failed) return 0;
      platform::Error e;
      GWLPValueRef result = function->invokeWithArguments({a, b}, scope, &e);
      double sign = GWLPFailed(e) ? 0 : result->doubleValueOrError(&e);
      if (GWLPFailed(e)) {
        failed = true;
        firstError = e;
        return 0;
      }
      return sign < 0 ? -1 : (sign > 0 ? 1 : 0);
    };
    // Bottom-up merge sort between two buffers: stable, and every index it
    // touches lies within the copy whatever the comparator answers or does
    // to the array meanwhile.
    GWLPValueList buffer(n);
    for (size_t width = 1; width < n; width *= 2) {
      for (size_t left = 0; left < n; left += 2 * width) {
        size_t middle = std::min(left + width, n);
        size_t right = std::min(left + 2 * width, n);
        size_t i = left, j = middle, k = left;
        while (i < middle && j < right) {
          if (compare(defined[j], defined[i]) < 0) {
            buffer[k++] = std::move(defined[j++]);
          } else {
            buffer[k++] = std::move(defined[i++]);
          }
        }
        while (i < middle) buffer[k++] = std::move(defined[i++]);
        while (j < right) buffer[k++] = std::move(defined[j++]);
      }
      defined.swap(buffer);
    }
  } else {
    // By text: each value's text once, then a stable sort of the positions
    // by those keys. A value without text leaves the order as it was.
    std::vector<std::string> texts;
    texts.reserve(n);
    bool ascii = true;
    for (const auto& value : defined) {
      platform::Error e;
      texts.push_back(value->stringValueOrError(&e));
      if (GWLPFailed(e)) {
        failed = true;
        firstError = e;
        break;
      }
      for (unsigned char c : texts.back()) ascii = ascii && c < 0x80;
    }
    if (!failed) {
      std::vector<size_t> order(n);
      for (size_t i = 0; i < n; ++i) order[i] = i;
      if (ascii) {
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return texts[a] < texts[b]; });
      } else {
        std::vector<std::u16string> keys;
        keys.reserve(n);
        for (const auto& text : texts) keys.push_back(GWLPComparisonKey(text));
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return keys[a] < keys[b]; });
      }
      GWLPValueList sorted;
      sorted.reserve(n);
      for (size_t index : order) sorted.push_back(std::move(defined[index]));
      defined.swap(sorted);
    }
  }

  // Write the order back over the first `count` slots; a comparator that
  // shortened the array gets them back.
  defined.resize(n + undefinedCount, GWLPUndefinedValue::sharedInstance());
  defined.resize(count, emptyValue());
  if (elements_.size() < count) elements_.resize(count, emptyValue());
  for (size_t i = 0; i < count; ++i) {
    GWLPValueRef old = std::move(elements_[i]);
    elements_[i] = std::move(defined[i]);
    GWLPDeferRelease(std::move(old));
  }
  if (failed) out.fail(firstError);
}

GWLPValueList GWLPArrayValue::spliceFrom(size_t start, size_t deleteCount, const GWLPValueList& addValues,
                                         platform::Error* error) {
  start = std::min(start, elements_.size());
  deleteCount = std::min(deleteCount, elements_.size() - start);
  size_t newCount = elements_.size() - deleteCount + addValues.size();
  if (!reserveSlots(newCount, error)) return {};
  auto first = elements_.begin() + static_cast<ptrdiff_t>(start);
  GWLPValueList removed(first, first + static_cast<ptrdiff_t>(deleteCount));
  elements_.erase(first, first + static_cast<ptrdiff_t>(deleteCount));
  elements_.insert(elements_.begin() + static_cast<ptrdiff_t>(start), addValues.begin(), addValues.end());
  return removed;
}

bool GWLPArrayValue::concat(const GWLPValueRef& value, platform::Error* error) {
  if (!value || value->isControl()) {
    platform::setError(error, GWLPRuntimeError(kGWLPErrorArgumentType));
    return false;
  }
  if (value->isArray()) {
    // A copy first: the array may be this one.
    GWLPValueList other = static_cast<const GWLPArrayValue&>(*value).elements_;
    if (!reserveSlots(elements_.size() + other.size(), error)) return false;
    elements_.insert(elements_.end(), other.begin(), other.end());
    return true;
  }
  if (!reserveSlots(elements_.size() + 1, error)) return false;
  elements_.push_back(value);
  return true;
}

void GWLPArrayValue::reverse() { std::reverse(elements_.begin(), elements_.end()); }

GWLPValueRef GWLPArrayValue::removeFirstElement() {
  if (elements_.empty()) return GWLPUndefinedValue::sharedInstance();
  GWLPValueRef first = std::move(elements_.front());
  elements_.erase(elements_.begin());
  return isHole(first) ? GWLPUndefinedValue::sharedInstance() : first;
}

GWLPValueRef GWLPArrayValue::removeLastElement() {
  if (elements_.empty()) return GWLPUndefinedValue::sharedInstance();
  GWLPValueRef last = std::move(elements_.back());
  elements_.pop_back();
  return isHole(last) ? GWLPUndefinedValue::sharedInstance() : last;
}

size_t GWLPArrayValue::appendElements(const GWLPValueList& values, platform::Error* error) {
  if (!reserveSlots(elements_.size() + values.size(), error)) return elements_.size();
  elements_.insert(elements_.end(), values.begin(), values.end());
  return elements_.size();
}

size_t GWLPArrayValue::prependElements(const GWLPValueList& values, platform::Error* error) {
  if (!reserveSlots(elements_.size() + values.size(), error)) return elements_.size();
  elements_.insert(elements_.begin(), values.begin(), values.end());
  return elements_.size();
}

int64_t GWLPArrayValue::indexOfValue(const GWLPRuntimeValue& value, size_t fromIndex, platform::Error* error) const {
  GWLPErrorOut out(error);
  for (size_t i = fromIndex; i < elements_.size(); ++i) {
    bool equal = GWLPStrictEquals(value, *elements_[i], out);
    if (out.failed()) return -1;
    if (equal) return static_cast<int64_t>(i);
  }
  return -1;
}

int64_t GWLPArrayValue::lastIndexOfValue(const GWLPRuntimeValue& value, int64_t fromIndex,
                                         platform::Error* error) const {
  GWLPErrorOut out(error);
  if (elements_.empty() || fromIndex < 0) return -1;
  size_t start = std::min(static_cast<size_t>(fromIndex), elements_.size() - 1);
  for (size_t i = start + 1; i-- > 0;) {
    bool equal = GWLPStrictEquals(value, *elements_[i], out);
    if (out.failed()) return -1;
    if (equal) return static_cast<int64_t>(i);
  }
  return -1;
}

bool GWLPArrayValue::isEqualToRuntimeValue(const GWLPRuntimeValue& other, GWLPEqualityContext& context) const {
  if (this == &other) return true;
  if (other.valueKind() != GWLPValueKind::Array) return false;
  const auto& array = static_cast<const GWLPArrayValue&>(other);
  if (array.elements_.size() != elements_.size()) return false;
  return context.compareNested(this, &other, [&] {
    for (size_t i = 0; i < elements_.size(); ++i) {
      if (!elements_[i]->isEqualToRuntimeValue(*array.elements_[i], context)) return false;
    }
    return true;
  });
}

void GWLPArrayValue::markInto(GWLPMarkStack& stack) {
  if (mark_) return;
  mark_ = true;
  propertyMap_.markValuesInto(stack);
  for (const auto& element : elements_) stack.push(element.get());
}

void GWLPArrayValue::sweep() {
  if (mark_) {
    mark_ = false;
  } else {
    releaseContents();
  }
}

void GWLPArrayValue::releaseContents() {
  GWLPValueList elements = takeElements();
  for (auto& element : elements) GWLPDeferRelease(std::move(element));
  propertyMap_.clear();
}

GWLPValueList GWLPArrayValue::takeElements() {
  GWLPValueList elements;
  elements.swap(elements_);
  return elements;
}

void GWLPArrayValue::setObjectManager(GWLPObjectManager* objectManager) {
  // Weak: an array may outlive the runtime whose run made it.
  objectManager_ = objectManager ? objectManager->weak_from_this() : std::weak_ptr<GWLPObjectManager>();
}
