// GWLPRuntimeValue: the base of every script value (undefined, null,
// booleans, numbers, texts, maps, arrays, functions, statements and control
// values). Values are shared by reference (std::shared_ptr) and never change
// class. The base itself is the hole marker of arrays: it has no text, number
// or boolean value and equals only itself.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "analytics/audiences/interpreter/GWLPLimits.h"
#include "analytics/audiences/interpreter/GWLPMarkable.h"
#include "platform/core/Error.h"

class GWLPRuntimeValue;
class GWLPScope;
using GWLPValueRef = std::shared_ptr<GWLPRuntimeValue>;
using GWLPValueList = std::vector<GWLPValueRef>;
using GWLPScopeRef = std::shared_ptr<GWLPScope>;

enum class GWLPValueKind { Base, Undefined, Null, Boolean, Number, String, Map, Array, Function, Statement, Control };

// State of one structural comparison: the pairs of containers being compared
// (a pair met again is taken as equal, so cyclic values compare without end)
// and the nesting reached (beyond the value-depth bound the answer is false).
struct GWLPEqualityContext {
  std::set<std::pair<const void*, const void*>> inProgress;
  int depth = 0;

  // Compares the contents of the containers `left` and `right` with
  // `compareContents`, one level deeper and with the pair marked in progress.
  template <typename CompareContents>
  bool compareNested(const void* left, const void* right, CompareContents compareContents) {
    const auto pair = std::make_pair(left, right);
    if (inProgress.count(pair)) return true;
    if (depth >= kGWLPMaxValueDepth) return false;
    inProgress.insert(pair);
    ++depth;
    const bool equal = compareContents();
    --depth;
    inProgress.erase(pair);
    return equal;
  }
};

class GWLPRuntimeValue;
// Drops a reference to `value`. The last reference to a value that holds
// others (maps, arrays, functions, statements, control values) is released
// through GWLPDeferRelease, so that freeing a deeply nested value never
// recurses; any other reference is simply dropped.
inline void GWLPReleaseValue(GWLPValueRef value);

class GWLPRuntimeValue : public GWLPMarkable, public std::enable_shared_from_this<GWLPRuntimeValue> {
 public:
  // `kind` is fixed for the value's life: a value never changes class.
  explicit GWLPRuntimeValue(GWLPValueKind kind = GWLPValueKind::Base) : kind_(kind) {}
  GWLPRuntimeValue(const GWLPRuntimeValue&) = delete;
  GWLPRuntimeValue& operator=(const GWLPRuntimeValue&) = delete;
  ~GWLPRuntimeValue() override = default;

  // Held in the value itself: the kind tests of every evaluation cost no call.
  GWLPValueKind valueKind() const { return kind_; }

  // Conversions. On failure: the empty text, NaN or false, and the error.
  virtual std::string stringValueOrError(platform::Error* error = nullptr) const;
  virtual double doubleValueOrError(platform::Error* error = nullptr) const;
  virtual bool booleanValueOrError(platform::Error* error = nullptr) const;

  // Calls the method `name` of this value with argument values or statements
  // (evaluated in `scope` by the method). The base answers "toString". The
  // caller holds a reference to the receiver for the whole call, so that a
  // method that drops the receiver's last other reference cannot free it
  // while it runs.
  virtual GWLPValueRef applyWithName(const std::string& name, const GWLPValueList& arguments,
                                     const GWLPScopeRef& scope, platform::Error* error = nullptr);

  // Structural equality; safe on cyclic values.
  bool isEqualToRuntimeValue(const GWLPRuntimeValue& other) const;
  virtual bool isEqualToRuntimeValue(const GWLPRuntimeValue& other, GWLPEqualityContext& context) const;

  // Collector hooks: no-ops except for maps, arrays and functions.
  void markInto(GWLPMarkStack&) override {}
  virtual void sweep() {}
  // Drops what this value holds (an unmarked value's sweep, and the
  // runtime's teardown); it then behaves as an empty value of its class.
  virtual void releaseContents() {}

  bool isUndefined() const { return valueKind() == GWLPValueKind::Undefined; }
  bool isNull() const { return valueKind() == GWLPValueKind::Null; }
  bool isControl() const { return valueKind() == GWLPValueKind::Control; }
  bool isFunction() const { return valueKind() == GWLPValueKind::Function; }
  bool isMap() const { return valueKind() == GWLPValueKind::Map; }
  bool isArray() const { return valueKind() == GWLPValueKind::Array; }
  bool isString() const { return valueKind() == GWLPValueKind::String; }
  bool isNumber() const { return valueKind() == GWLPValueKind::Number; }
  bool isBoolean() const { return valueKind() == GWLPValueKind::Boolean; }
  bool isStatement() const { return valueKind() == GWLPValueKind::Statement; }

  // "toString": a new text value of this value's text, or the conversion's error.
  GWLPValueRef toStringMethod(const GWLPValueList& arguments, const GWLPScopeRef& scope, platform::Error* error) const;

 private:
  const GWLPValueKind kind_;
};

inline void GWLPReleaseValue(GWLPValueRef value) {
  if (!value || value.use_count() > 1) return;
  switch (value->valueKind()) {
    case GWLPValueKind::Map:
    case GWLPValueKind::Array:
    case GWLPValueKind::Function:
    case GWLPValueKind::Statement:
    case GWLPValueKind::Control:
      GWLPDeferRelease(std::move(value));
      return;
    default:
      return;
  }
}
