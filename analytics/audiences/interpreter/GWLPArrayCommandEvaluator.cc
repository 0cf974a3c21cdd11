#include "analytics/audiences/interpreter/GWLPArrayCommandEvaluator.h"

#include <algorithm>
#include <cmath>

#include "analytics/audiences/interpreter/GWLPArguments.h"
#include "analytics/audiences/interpreter/GWLPArrayValue.h"
#include "analytics/audiences/interpreter/GWLPBooleanValue.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPFunctionValue.h"
#include "analytics/audiences/interpreter/GWLPNumberValue.h"
#include "analytics/audiences/interpreter/GWLPObjectManager.h"
#include "analytics/audiences/interpreter/GWLPScope.h"
#include "analytics/audiences/interpreter/GWLPStringValue.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"
#include "analytics/audiences/interpreter/GWLPValueOperations.h"

namespace {

using ArrayRef = std::shared_ptr<GWLPArrayValue>;
using FunctionRef = std::shared_ptr<GWLPFunctionValue>;

GWLPValueRef undefined() { return GWLPUndefinedValue::sharedInstance(); }

GWLPValueRef number(double value) { return GWLPNumberValue::make(value); }

// Charges `steps` of native work to the run of `scope`.
bool chargeWork(const GWLPScopeRef& scope, size_t steps, platform::Error* error) {
  auto manager = scope ? scope->objectManager() : nullptr;
  return !manager || manager->chargeWork(steps, error);
}

// The integer of a value: GWLPToInteger of its number value.
std::optional<double> integerOf(const GWLPValueRef& value, GWLPErrorOut& out) {
  double number = value->doubleValueOrError(out);
  if (out.failed()) return std::nullopt;
  return GWLPToInteger(number);
}

// A position counted from the end when negative, clamped to [low, count].
size_t clampedPosition(double position, double low, size_t count) {
  double n = static_cast<double>(count);
  if (position < 0) position += n;
  position = std::clamp(position, low, n);
  return static_cast<size_t>(position);
}

// The single function argument of a callback method (error 9, then 10).
FunctionRef callbackOf(const GWLPValueList& values, GWLPErrorOut& out) {
  if (!GWLPCheckArgumentCount(values, 1, out)) return nullptr;
  if (!values[0]->isFunction()) {
    out.fail(kGWLPErrorArgumentType);
    return nullptr;
  }
  return std::static_pointer_cast<GWLPFunctionValue>(values[0]);
}

// Calls `function` on (element, index, array) for each present element below
// the count read at the start; `step` answers false to stop. Presence is
// checked again before every call, so a callback that shrinks the array
// only shortens the walk.
template <typename Step>
bool callbackWalk(const ArrayRef& array, const FunctionRef& function, const GWLPScopeRef& scope, GWLPErrorOut& out,
                  Step step) {
  const size_t count = array->count();
  for (size_t i = 0; i < count; ++i) {
    GWLPValueRef index = number(static_cast<double>(i));
    bool present = array->hasProperty(*index, out);
    if (out.failed()) return false;
    if (!present) continue;
    GWLPValueRef element = array->valueForProperty(*index, out);
    if (out.failed()) return false;
    GWLPValueRef result = function->invokeWithArguments({element, index, array}, scope, out);
    if (out.failed()) return false;
    if (!step(element, i, result)) break;
  }
  return true;
}

GWLPValueRef fold(const ArrayRef& array, const GWLPValueList& values, const GWLPScopeRef& scope,
                  platform::Error* error, bool forward) {
  GWLPErrorOut out(error);
  if (!GWLPCheckMinimumArgumentCount(values, 1, out) || !GWLPCheckMaximumArgumentCount(values, 2, out)) {
    return undefined();
  }
  if (!values[0]->isFunction()) {
    out.fail(kGWLPErrorArgumentType);
    return undefined();
  }
  auto function = std::static_pointer_cast<GWLPFunctionValue>(values[0]);
  GWLPValueRef accumulator;
  if (values.size() == 2) {
    if (values[1]->isControl()) {
      out.fail(kGWLPErrorArgumentType);
      return undefined();
    }
    accumulator = values[1];
  }
  const size_t count = array->count();
  for (size_t step = 0; step < count; ++step) {
    size_t i = forward ? step : count - 1 - step;
    GWLPValueRef index = number(static_cast<double>(i));
    bool present = array->hasProperty(*index, out);
    if (out.failed()) return undefined();
    if (!present) continue;
    GWLPValueRef element = array->valueForProperty(*index, out);
    if (out.failed()) return undefined();
    if (!accumulator) {
      accumulator = element;
      continue;
    }
    accumulator = function->invokeWithArguments({accumulator, element, index, array}, scope, out);
    if (out.failed()) return undefined();
  }
  if (!accumulator) {
    out.fail(kGWLPErrorReduceOfEmptyArray);
    return undefined();
  }
  return accumulator;
}

GWLPValueRef concatMethod(const ArrayRef& array, const GWLPValueList& values, const GWLPScopeRef& scope,
                          platform::Error* error) {
  GWLPErrorOut out(error);
  GWLPArrayValue result(array->elements());
  for (const auto& value : values) {
    if (!result.concat(value, out)) return undefined();
  }
  if (!chargeWork(scope, result.count(), out)) return undefined();
  auto made = GWLPObjectManager::arrayValueWithArray(result.takeElements(), scope, out);
  return made ? GWLPValueRef(made) : undefined();
}

GWLPValueRef everyMethod(const ArrayRef& array, const GWLPValueList& values, const GWLPScopeRef& scope,
                         platform::Error* error) {
  GWLPErrorOut out(error);
  FunctionRef function = callbackOf(values, out);
  if (!function) return undefined();
  bool all = true;
  callbackWalk(array, function, scope, out, [&](const GWLPValueRef&, size_t, const GWLPValueRef& result) {
    bool truth = result->booleanValueOrError(out);
    if (out.failed()) return false;
    if (!truth) all = false;
    return truth;
  });
  if (out.failed()) return undefined();
  return GWLPBooleanValue::booleanValueWithBool(all);
}

GWLPValueRef someMethod(const ArrayRef& array, const GWLPValueList& values, const GWLPScopeRef& scope,
                        platform::Error* error) {
  GWLPErrorOut out(error);
  FunctionRef function = callbackOf(values, out);
  if (!function) return undefined();
  bool any = false;
  callbackWalk(array, function, scope, out, [&](const GWLPValueRef&, size_t, const GWLPValueRef& result) {
    bool truth = result->booleanValueOrError(out);
    if (out.failed()) return false;
    if (truth) any = true;
    return !truth;
  });
  if (out.failed()) return undefined();
  return GWLPBooleanValue::booleanValueWithBool(any);
}

GWLPValueRef filterMethod(const ArrayRef& array, const GWLPValueList& values, const GWLPScopeRef& scope,
                          platform::Error* error) {
  GWLPErrorOut out(error);
  FunctionRef function = callbackOf(values, out);
  if (!function) return undefined();
  GWLPValueList kept;
  callbackWalk(array, function, scope, out, [&](const GWLPValueRef& element, size_t, const GWLPValueRef& result) {
    bool truth = result->booleanValueOrError(out);
    if (out.failed()) return false;
    if (truth) kept.push_back(element);
    return true;
  });
  if (out.failed()) return undefined();
  auto made = GWLPObjectManager::arrayValueWithArray(std::move(kept), scope, out);
  return made ? GWLPValueRef(made) : undefined();
}

GWLPValueRef forEachMethod(const ArrayRef& array, const GWLPValueList& values, const GWLPScopeRef& scope,
                           platform::Error* error) {
  GWLPErrorOut out(error);
  FunctionRef function = callbackOf(values, out);
  if (!function) return undefined();
  callbackWalk(array, function, scope, out, [](const GWLPValueRef&, size_t, const GWLPValueRef&) { return true; });
  return undefined();
}

GWLPValueRef mapMethod(const ArrayRef& array, const GWLPValueList& values, const GWLPScopeRef& scope,
                       platform::Error* error) {
  GWLPErrorOut out(error);
  FunctionRef function = callbackOf(values, out);
  if (!function) return undefined();
  auto result = GWLPObjectManager::arrayValueWithScope(scope);
  callbackWalk(array, function, scope, out, [&](const GWLPValueRef&, size_t i, const GWLPValueRef& mapped) {
    return result->setValue(mapped, *number(static_cast<double>(i)), out);
  });
  if (out.failed()) return undefined();
  return result;
}

GWLPValueRef hasOwnPropertyMethod(const ArrayRef& array, const GWLPValueList& values, const GWLPScopeRef&,
                                  platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckArgumentCount(values, 1, out)) return undefined();
  std::string name = values[0]->stringValueOrError(out);
  if (out.failed()) return undefined();
  if (name == "length") return GWLPBooleanValue::booleanValueWithBool(true);
  bool has = array->hasProperty(*values[0], out);
  if (out.failed()) return undefined();
  return GWLPBooleanValue::booleanValueWithBool(has);
}

GWLPValueRef indexOfMethod(const ArrayRef& array, const GWLPValueList& values, const GWLPScopeRef& scope,
                           platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckMaximumArgumentCount(values, 2, out)) return undefined();
  GWLPValueRef search = values.empty() ? undefined() : values[0];
  const double count = static_cast<double>(array->count());
  double start = 0;
  if (values.size() == 2) {
    auto integer = integerOf(values[1], out);
    if (!integer) return undefined();
    start = *integer;
  }
  if (start >= count) return number(-1);
  if (start < 0) start = std::max(start + count, 0.0);
  if (!chargeWork(scope, array->count(), out)) return undefined();
  int64_t index = array->indexOfValue(*search, static_cast<size_t>(start), out);
  if (out.failed()) return undefined();
  return number(static_cast<double>(index));
}

GWLPValueRef lastIndexOfMethod(const ArrayRef& array, const GWLPValueList& values, const GWLPScopeRef& scope,
                               platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckMaximumArgumentCount(values, 2, out)) return undefined();
  GWLPValueRef search = values.empty() ? undefined() : values[0];
  const double count = static_cast<double>(array->count());
  double start = count - 1;
  if (values.size() == 2) {
    double raw = values[1]->doubleValueOrError(out);
    if (out.failed()) return undefined();
    if (!std::isnan(raw)) start = GWLPToInteger(raw);
  }
  if (start < 0) start += count;
  if (start < 0) return number(-1);
  start = std::min(start, count - 1);
  if (!chargeWork(scope, array->count(), out)) return undefined();
  int64_t index = array->lastIndexOfValue(*search, static_cast<int64_t>(start), out);
  if (out.failed()) return undefined();
  return number(static_cast<double>(index));
}

GWLPValueRef joinMethod(const ArrayRef& array, const GWLPValueList& values, const GWLPScopeRef&,
                        platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckMaximumArgumentCount(values, 1, out)) return undefined();
  std::string separator = ",";
  if (values.size() == 1) {
    if (values[0]->isUndefined() || values[0]->isNull()) {
      separator.clear();
    } else {
      separator = values[0]->stringValueOrError(out);
      if (out.failed()) return undefined();
    }
  }
  std::string text = array->stringValueWithSeparator(separator, out);
  if (out.failed()) return undefined();
  return GWLPStringValue::make(std::move(text));
}

GWLPValueRef popMethod(const ArrayRef& array, const GWLPValueList& values, const GWLPScopeRef&,
                       platform::Error* error) {
  if (!GWLPCheckArgumentCount(values, 0, error)) return undefined();
  return array->removeLastElement();
}

GWLPValueRef shiftMethod(const ArrayRef& array, const GWLPValueList& values, const GWLPScopeRef& scope,
                         platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckArgumentCount(values, 0, out) || !chargeWork(scope, array->count(), out)) return undefined();
  return array->removeFirstElement();
}

GWLPValueRef pushMethod(const ArrayRef& array, const GWLPValueList& values, const GWLPScopeRef&,
                        platform::Error* error) {
  GWLPErrorOut out(error);
  size_t count = array->appendElements(values, out);
  if (out.failed()) return undefined();
  return number(static_cast<double>(count));
}

GWLPValueRef unshiftMethod(const ArrayRef& array, const GWLPValueList& values, const GWLPScopeRef& scope,
                           platform::Error* error) {
  GWLPErrorOut out(error);
  if (!chargeWork(scope, array->count() + values.size(), out)) return undefined();
  size_t count = array->prependElements(values, out);
  if (out.failed()) return undefined();
  return number(static_cast<double>(count));
}

GWLPValueRef reverseMethod(const ArrayRef& array, const GWLPValueList& values, const GWLPScopeRef& scope,
                           platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckArgumentCount(values, 0, out) || !chargeWork(scope, array->count(), out)) return undefined();
  array->reverse();
  return array;
}

GWLPValueRef sliceMethod(const ArrayRef& array, const GWLPValueList& values, const GWLPScopeRef& scope,
                         platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckMaximumArgumentCount(values, 2, out)) return undefined();
  const size_t count = array->count();
  size_t start = 0;
  size_t end = count;
  if (!values.empty()) {
    auto integer = integerOf(values[0], out);
    if (!integer) return undefined();
    start = clampedPosition(*integer, 0, count);
  }
  if (values.size() == 2) {
    auto integer = integerOf(values[1], out);
    if (!integer) return undefined();
    end = clampedPosition(*integer, static_cast<double>(start), count);
  }
  if (!chargeWork(scope, end - start, out)) return undefined();
  auto made = GWLPObjectManager::subarrayWithArray(*array, start, end - start, scope, out);
  return made ? GWLPValueRef(made) : undefined();
}

GWLPValueRef sortMethod(const ArrayRef& array, const GWLPValueList& values, const GWLPScopeRef& scope,
                        platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckMaximumArgumentCount(values, 1, out)) return undefined();
  if (array->count() < 2) return array;
  FunctionRef function;
  if (!values.empty()) {
    if (!values[0]->isFunction()) {
      out.fail(kGWLPErrorArgumentType);
      return array;
    }
    function = std::static_pointer_cast<GWLPFunctionValue>(values[0]);
  }
  array->sortUsingFunctionValue(function, scope, out);
  return array;
}

GWLPValueRef spliceMethod(const ArrayRef& array, const GWLPValueList& values, const GWLPScopeRef& scope,
                          platform::Error* error) {
  GWLPErrorOut out(error);
  if (values.empty()) return GWLPObjectManager::arrayValueWithScope(scope);
  const size_t count = array->count();
  auto startInteger = integerOf(values[0], out);
  if (!startInteger) return undefined();
  size_t start = clampedPosition(*startInteger, 0, count);
  size_t deleteCount = count - start;
  if (values.size() >= 2) {
    auto integer = integerOf(values[1], out);
    if (!integer) return undefined();
    deleteCount = static_cast<size_t>(std::clamp(*integer, 0.0, static_cast<double>(count - start)));
  }
  GWLPValueList inserted;
  if (values.size() > 2) inserted.assign(values.begin() + 2, values.end());
  if (!chargeWork(scope, count + inserted.size(), out)) return undefined();
  GWLPValueList removed = array->spliceFrom(start, deleteCount, inserted, out);
  if (out.failed()) return undefined();
  auto made = GWLPObjectManager::arrayValueWithArray(std::move(removed), scope, out);
  return made ? GWLPValueRef(made) : undefined();
}

GWLPValueRef toStringMethod(const ArrayRef& array, const GWLPValueList& values, const GWLPScopeRef&,
                            platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckArgumentCount(values, 0, out)) return undefined();
  std::string text = array->stringValueOrError(out);
  if (out.failed()) return undefined();
  return GWLPStringValue::make(std::move(text));
}

}  // namespace

GWLPArrayCommandEvaluator::GWLPArrayCommandEvaluator() {
  handlers_ = {
      {"concat", concatMethod},
      {"every", everyMethod},
      {"filter", filterMethod},
      {"forEach", forEachMethod},
      {"hasOwnProperty", hasOwnPropertyMethod},
      {"indexOf", indexOfMethod},
      {"join", joinMethod},
      {"lastIndexOf", lastIndexOfMethod},
      {"map", mapMethod},
      {"pop", popMethod},
      {"push", pushMethod},
      {"reduce",
       [](const ArrayRef& array, const GWLPValueList& values, const GWLPScopeRef& scope, platform::Error* error) {
         return fold(array, values, scope, error, true);
       }},
      {"reduceRight",
       [](const ArrayRef& array, const GWLPValueList& values, const GWLPScopeRef& scope, platform::Error* error) {
         return fold(array, values, scope, error, false);
       }},
      {"reverse", reverseMethod},
      {"shift", shiftMethod},
      {"slice", sliceMethod},
      {"some", someMethod},
      {"sort", sortMethod},
      {"splice", spliceMethod},
      {"toString", toStringMethod},
      {"unshift", unshiftMethod},
  };
}

GWLPArrayCommandEvaluator& GWLPArrayCommandEvaluator::sharedInstance() {
  static GWLPArrayCommandEvaluator* instance = new GWLPArrayCommandEvaluator();
  return *instance;
}

GWLPValueRef GWLPArrayCommandEvaluator::evaluateCommand(const std::string& name,
                                                        const std::shared_ptr<GWLPArrayValue>& array,
                                                        const GWLPValueList& arguments, const GWLPScopeRef& scope,
                                                        platform::Error* error) {
  GWLPErrorOut out(error);
  auto it = handlers_.find(name);
  if (it == handlers_.end()) {
    out.fail(kGWLPErrorNoSuchMethod);
    return undefined();
  }
  GWLPValueList values = GWLPEvaluateArguments(arguments, scope, out);
  if (out.failed()) return undefined();
  return it->second(array, values, scope, out);
}
