// GWLPArrayValue: the script array, an ordered list of element slots that may
// hold holes, plus named properties (every key that is not an array index
// value, "length" aside). A hole is the shared empty value, which scripts
// only ever read as undefined.
//
// Growth is bounded: one array holds at most kGWLPMaxArraySlots slots, and an
// array made in a run charges its slots to that run's heap budget; either
// bound fails the write with error 19 and leaves the array as it was.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "analytics/audiences/interpreter/GWLPPropertyMap.h"
#include "analytics/audiences/interpreter/GWLPRuntimeValue.h"

class GWLPFunctionValue;
class GWLPObjectManager;

class GWLPArrayValue : public GWLPRuntimeValue {
 public:
  GWLPArrayValue() : GWLPRuntimeValue(GWLPValueKind::Array) {}
  // Slots are a copy of `elements`; holes stay holes.
  explicit GWLPArrayValue(GWLPValueList elements);
  ~GWLPArrayValue() override;

  // The hole marker: a bare GWLPRuntimeValue, equal only to itself.
  static const GWLPValueRef& emptyValue();
  static bool isHole(const GWLPValueRef& value) { return value.get() == emptyValue().get(); }

  // The run whose heap budget this array's growth is charged to.
  void setObjectManager(GWLPObjectManager* objectManager);

  // The elements' texts joined by `separator`: holes, undefined and null add
  // nothing. An array met again inside itself adds nothing either.
  std::string stringValueWithSeparator(const std::string& separator, platform::Error* error = nullptr) const;

  std::string stringValueOrError(platform::Error* error = nullptr) const override;
  double doubleValueOrError(platform::Error* error = nullptr) const override;
  bool booleanValueOrError(platform::Error* error = nullptr) const override;

  // Shorter: drops the slots from `count` on; longer: appends holes.
  bool setLength(size_t count, platform::Error* error = nullptr);
  bool setValue(GWLPValueRef value, const GWLPRuntimeValue& key, platform::Error* error = nullptr);
  GWLPValueRef valueForProperty(const GWLPRuntimeValue& key, platform::Error* error = nullptr) const;
  void removeValueForProperty(const GWLPRuntimeValue& key, platform::Error* error = nullptr);
  size_t count() const { return elements_.size(); }
  // Text values: the named properties, then the indexes of present elements.
  GWLPValueList allPropertyNames() const;
  bool hasProperty(const GWLPRuntimeValue& key, platform::Error* error = nullptr) const;
  // A copy of the elements with every hole read as undefined.
  GWLPValueList allElements() const;
  // The slots themselves, holes included.
  const GWLPValueList& elements() const { return elements_; }
  GWLPPropertyMap& propertyMap() { return propertyMap_; }

  // A named property holding a function shadows the method of that name.
  GWLPValueRef applyWithName(const std::string& name, const GWLPValueList& arguments, const GWLPScopeRef& scope,
                             platform::Error* error = nullptr) override;

  // A new array (not known to the collector) over the clamped range.
  std::shared_ptr<GWLPArrayValue> subarrayWithRange(size_t location, size_t length) const;
  // Stable merge sort of a copy of the slots, written back at the end, so a
  // comparator that answers inconsistently or changes the array can never
  // make the sort read outside it. Holes last, undefined before them.
  void sortUsingFunctionValue(const std::shared_ptr<GWLPFunctionValue>& function, const GWLPScopeRef& scope,
                              platform::Error* error = nullptr);
  // Removes the clamped range, inserts `addValues` there; the removed slots.
  GWLPValueList spliceFrom(size_t start, size_t deleteCount, const GWLPValueList& addValues,
                           platform::Error* error = nullptr);
  // Appends an array's slots, or any other value itself; error 10 for a
  // control value.
  bool concat(const GWLPValueRef& value, platform::Error* error = nullptr);
  void reverse();
  // The removed element (undefined for a hole or an empty array).
  GWLPValueRef removeFirstElement();
  GWLPValueRef removeLastElement();
  // The new count.
  size_t appendElements(const GWLPValueList& values, platform::Error* error = nullptr);
  size_t prependElements(const GWLPValueList& values, platform::Error* error = nullptr);
  // Strictly equal elements from `fromIndex` upward / downward; -1 when none.
  int64_t indexOfValue(const GWLPRuntimeValue& value, size_t fromIndex, platform::Error* error = nullptr) const;
  int64_t lastIndexOfValue(const GWLPRuntimeValue& value, int64_t fromIndex, platform::Error* error = nullptr) const;

  using GWLPRuntimeValue::isEqualToRuntimeValue;
  bool isEqualToRuntimeValue(const GWLPRuntimeValue& other, GWLPEqualityContext& context) const override;
  void markInto(GWLPMarkStack& stack) override;
  void sweep() override;
  void releaseContents() override;

  bool isMarked() const { return mark_; }
  // Moves the slots out, leaving the array empty.
  GWLPValueList takeElements();

 private:
  // Checks that the array may grow to `newCount` slots and charges the growth.
  bool reserveSlots(size_t newCount, platform::Error* error);

  GWLPPropertyMap propertyMap_;
  GWLPValueList elements_;
  bool mark_ = false;
  std::weak_ptr<GWLPObjectManager> objectManager_;
};
