#include "analytics/audiences/interpreter/GWLPLoopCommandEvaluator.h"

#include <functional>

#include "analytics/audiences/interpreter/GWLPArguments.h"
#include "analytics/audiences/interpreter/GWLPArrayValue.h"
#include "analytics/audiences/interpreter/GWLPControlValue.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPEvaluator.h"
#include "analytics/audiences/interpreter/GWLPFunctionValue.h"
#include "analytics/audiences/interpreter/GWLPMapValue.h"
#include "analytics/audiences/interpreter/GWLPObjectManager.h"
#include "analytics/audiences/interpreter/GWLPScope.h"
#include "analytics/audiences/interpreter/GWLPStringValue.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"
#include "platform/text/Utf8.h"

namespace {

GWLPValueRef undefined() { return GWLPUndefinedValue::sharedInstance(); }

// The scope one iteration of a for-in or for-of runs in, with the item bound.
using Binding = std::function<GWLPScopeRef(const GWLPValueRef& item)>;
enum class BindingForm { Assign, Const, Let };

Binding bindingFor(BindingForm form, const GWLPScopeRef& scope, const std::string& name) {
  switch (form) {
    case BindingForm::Assign:
      return [scope, name](const GWLPValueRef& item) {
        scope->setValue(item, name);
        return scope;
      };
    case BindingForm::Const:
      return [scope, name](const GWLPValueRef& item) {
        GWLPScopeRef child = scope->createChildScope();
        child->addImmutableValue(item, name);
        return child;
      };
    case BindingForm::Let:
    default:
      return [scope, name](const GWLPValueRef& item) {
        GWLPScopeRef child = scope->createChildScope();
        child->addValue(item, name);
        return child;
      };
  }
}

// The boolean value of a condition; false when either step fails.
bool evaluateCondition(const GWLPValueRef& statement, const GWLPScopeRef& scope, GWLPErrorOut& out) {
  GWLPValueRef value = GWLPEvaluator::evaluateStatement(statement, scope, out);
  if (out.failed()) return false;
  return value->booleanValueOrError(out);
}

// One run of a loop body. None means the loop goes on (the body ended, or
// continued); a value means it ends with that value (undefined after a break
// or a failure, the return value itself for a return). Every turn costs one
// instruction, so a loop whose body and condition are empty still ends.
GWLPValueRef runLoopBody(const GWLPValueList& body, const GWLPScopeRef& scope, GWLPErrorOut& out) {
  GWLPCountInstruction(scope, out);
  if (out.failed()) return undefined();
  GWLPValueRef result = GWLPEvaluator::executeStatements(body, scope, out);
  if (out.failed()) return undefined();
  if (result == GWLPControlValue::breakValue()) return undefined();
  if (result->isControl() && static_cast<const GWLPControlValue&>(*result).type() == kGWLPControlTypeReturn) {
    return result;
  }
  return nullptr;
}

// The elements of a statement list value (error 10 for anything else).
bool bodyOf(const GWLPValueRef& value, GWLPValueList& body, GWLPErrorOut& out) {
  if (!value->isArray()) {
    out.fail(kGWLPErrorArgumentType);
    return false;
  }
  body = static_cast<const GWLPArrayValue&>(*value).allElements();
  return true;
}

// The items of a for-in or for-of, made one at a time so that a long text
// never turns into a list of texts all at once.
struct Items {
  size_t count = 0;
  std::function<GWLPValueRef(size_t)> item;
};

GWLPValueRef runLoopOverItems(const Binding& binding, const Items& items, const GWLPValueRef& bodyValue,
                              GWLPErrorOut& out) {
  GWLPValueList body;
  if (!bodyOf(bodyValue, body, out)) return undefined();
  for (size_t i = 0; i < items.count; ++i) {
    GWLPValueRef result = runLoopBody(body, binding(items.item(i)), out);
    if (result || out.failed()) return out.failed() ? undefined() : result;
  }
  return undefined();
}

Items listItems(GWLPValueList list) {
  auto shared = std::make_shared<GWLPValueList>(std::move(list));
  return {shared->size(), [shared](size_t i) { return (*shared)[i]; }};
}

// One text per UTF-16 unit of `text` (a character beyond the basic plane
// gives its two halves, each read back as U+FFFD since texts are UTF-8).
Items unitsOf(const std::string& text) {
  auto units = std::make_shared<std::u16string>(platform::utf8::toUtf16(text));
  return {units->size(), [units](size_t i) {
            return GWLPStringValue::make(platform::utf8::fromUtf16(std::u16string_view(*units).substr(i, 1)));
          }};
}

Items keysOf(const GWLPValueRef& object) {
  switch (object->valueKind()) {
    case GWLPValueKind::String: {
      size_t length = platform::utf8::utf16Length(static_cast<const GWLPStringValue&>(*object).value());
      return {length, [](size_t i) { return GWLPStringValue::make(std::to_string(i)); }};
    }
    case GWLPValueKind::Array:
      return listItems(static_cast<const GWLPArrayValue&>(*object).allPropertyNames());
    case GWLPValueKind::Map:
    case GWLPValueKind::Function: {
      std::vector<std::string> names = object->isMap()
                                           ? static_cast<const GWLPMapValue&>(*object).allPropertyNames()
                                           : static_cast<const GWLPFunctionValue&>(*object).allPropertyNames();
      GWLPValueList keys;
      for (auto& name : names) keys.push_back(GWLPStringValue::make(std::move(name)));
      return listItems(std::move(keys));
    }
    default:
      return {};
  }
}

// For-in (keys) and for-of (items): (name, object, body), all evaluated.
GWLPCommandHandler forEachItem(BindingForm form, bool ofItems) {
  return [form, ofItems](const GWLPValueList& statements, const GWLPScopeRef& scope,
                         platform::Error* error) -> GWLPValueRef {
    GWLPErrorOut out(error);
    if (!GWLPCheckArgumentCount(statements, 3, out)) return undefined();
    GWLPValueList values = GWLPEvaluateArguments(statements, scope, out);
    if (out.failed()) return undefined();
    std::string name = values[0]->stringValueOrError(out);
    if (out.failed()) return undefined();
    const GWLPValueRef& object = values[1];
    if (object->isString() &&
        !GWLPChargeWork(scope, static_cast<const GWLPStringValue&>(*object).value().size() + 1, out)) {
      return undefined();
    }
    Items items;
    if (!ofItems) {
      items = keysOf(object);
    } else if (object->isString()) {
      items = unitsOf(static_cast<const GWLPStringValue&>(*object).value());
    } else if (object->isArray()) {
      items = listItems(static_cast<const GWLPArrayValue&>(*object).allElements());
    } else {
      out.fail(kGWLPErrorNotIterable);
      return undefined();
    }
    return runLoopOverItems(bindingFor(form, scope, name), items, values[2], out);
  };
}

// A new child of `scope` holding a copy of each loop variable as `from` sees it.
GWLPScopeRef copyLoopVariables(const GWLPScopeRef& scope, const GWLPScopeRef& from,
                               const std::vector<std::string>& names) {
  GWLPScopeRef iteration = scope->createChildScope();
  for (const auto& name : names) iteration->addValue(from->valueForName(name), name);
  return iteration;
}

// for (let names...; condition; update) body: every iteration has its own
// scope with its own copies of the loop variables.
GWLPValueRef forLet(const GWLPValueList& statements, const GWLPScopeRef& scope, platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckArgumentCount(statements, 4, out)) return undefined();
  GWLPValueRef nameList = GWLPEvaluator::evaluateStatement(statements[0], scope, out);
  if (out.failed()) return undefined();
  GWLPValueList nameValues;
  if (!bodyOf(nameList, nameValues, out)) return undefined();
  GWLPValueRef bodyValue = GWLPEvaluator::evaluateStatement(statements[3], scope, out);
  if (out.failed()) return undefined();
  GWLPValueList body;
  if (!bodyOf(bodyValue, body, out)) return undefined();
  std::vector<std::string> names;
  for (const auto& value : nameValues) {
    names.push_back(value->stringValueOrError(out));
    if (out.failed()) return undefined();
  }
  const GWLPValueRef& condition = statements[1];
  const GWLPValueRef& update = statements[2];

  GWLPScopeRef iteration = copyLoopVariables(scope, scope, names);
  if (!evaluateCondition(condition, iteration, out)) return undefined();
  while (true) {
    GWLPValueRef result = runLoopBody(body, iteration, out);
    if (result || out.failed()) return out.failed() ? undefined() : result;
    GWLPScopeRef next = copyLoopVariables(scope, iteration, names);
    GWLPEvaluator::evaluateStatement(update, next, out);
    if (out.failed()) return undefined();
    iteration = std::move(next);
    if (!evaluateCondition(condition, iteration, out)) return undefined();
  }
}

// (condition, update, run-first, body) in the current scope: a pre-tested
// loop with an update after every tested body, or with one untested body
// first when run-first is true.
GWLPValueRef loop(const GWLPValueList& statements, const GWLPScopeRef& scope, platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckArgumentCount(statements, 4, out)) return undefined();
  bool runFirst = evaluateCondition(statements[2], scope, out);
  if (out.failed()) return undefined();
  GWLPValueRef bodyValue = GWLPEvaluator::evaluateStatement(statements[3], scope, out);
  if (out.failed()) return undefined();
  GWLPValueList body;
  if (!bodyOf(bodyValue, body, out)) return undefined();
  if (runFirst) {
    GWLPValueRef result = runLoopBody(body, scope, out);
    if (result || out.failed()) return out.failed() ? undefined() : result;
  }
  while (evaluateCondition(statements[0], scope, out)) {
    GWLPValueRef result = runLoopBody(body, scope, out);
    if (result || out.failed()) return out.failed() ? undefined() : result;
    GWLPEvaluator::evaluateStatement(statements[1], scope, out);
    if (out.failed()) return undefined();
  }
  return undefined();
}

}  // namespace

GWLPLoopCommandEvaluator::GWLPLoopCommandEvaluator()
    : GWLPHandlerCommandEvaluator({"42", "47", "54", "55", "63", "64", "65", "66"}, GWLPArgumentStyle::Statements) {
  handlers_["42"] = loop;
  handlers_["47"] = forEachItem(BindingForm::Assign, false);
  handlers_["54"] = forEachItem(BindingForm::Const, false);
  handlers_["55"] = forEachItem(BindingForm::Let, false);
  handlers_["63"] = forLet;
  handlers_["64"] = forEachItem(BindingForm::Assign, true);
  handlers_["65"] = forEachItem(BindingForm::Const, true);
  handlers_["66"] = forEachItem(BindingForm::Let, true);
}
