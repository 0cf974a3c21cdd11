#include "analytics/audiences/interpreter/GWLPLoopCommandEvaluator.h"


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

GWLPValueRef evaluate(const GWLPValueRef& statement, const GWLPScopeRef& scope, GWLPErrorOut& out) {
  return GWLPEvaluate(statement, scope, out);
}

enum class BindingForm { Assign, Const, Let };

// The scope one iteration of a for-in or for-of runs in, with the item bound.
// `previous` is the scope of the iteration before, if any: when nothing kept
// it (no closure or surviving inner scope holds it), it is emptied and serves
// again, which no script can tell from a new scope.
template <BindingForm Form>
GWLPScopeRef bind(const GWLPScopeRef& scope, const std::string& name, const GWLPValueRef& item,
                  GWLPScopeRef previous) {
  if constexpr (Form == BindingForm::Assign) {
    scope->setValue(item, name);
    return scope;
  } else {
    if (previous && previous.use_count() == 1 && !previous->contents().isImmutable()) {
      previous->redeclareOnly(item, name, Form == BindingForm::Const);
      return previous;
    }
    previous.reset();
    GWLPScopeRef child = scope->createChildScope();
    if constexpr (Form == BindingForm::Const) {
      child->addImmutableValue(item, name);
    } else {
      child->addValue(item, name);
    }
    return child;
  }
}

// The boolean value of a condition; false when either step fails.
bool evaluateCondition(const GWLPValueRef& statement, const GWLPScopeRef& scope, GWLPErrorOut& out) {
  GWLPValueRef value = evaluate(statement, scope, out);
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

// The items of a for-in or for-of, made one at a time so that a long text
// never turns into a list of texts all at once.
class Items {
 public:
  // The values of `list`.
  static Items of(GWLPValueList list) {
    Items items;
    items.count_ = list.size();
    items.list_ = std::move(list);
    return items;
  }
  // The positions 0 to count - 1 as decimal texts.
  static Items positions(size_t count) {
    Items items;
    items.kind_ = Kind::Positions;
    items.count_ = count;
    return items;
  }
  // One text per UTF-16 unit of `text` (a character beyond the basic plane
  // gives its two halves, each read back as U+FFFD since texts are UTF-8).
  static Items units(const std::string& text) {
    Items items;
    items.kind_ = Kind::Units;
    items.units_ = platform::utf8::toUtf16(text);
    items.count_ = items.units_.size();
    return items;
  }

  size_t count() const { return count_; }
  GWLPValueRef operator[](size_t i) const {
    switch (kind_) {
      case Kind::Positions:
        return GWLPStringValue::make(std::to_string(i));
      case Kind::Units:
        return GWLPStringValue::make(platform::utf8::fromUtf16(std::u16string_view(units_).substr(i, 1)));
      case Kind::List:
      default:
        return list_[i];
    }
  }

 private:
  enum class Kind { List, Positions, Units };
  Kind kind_ = Kind::List;
  size_t count_ = 0;
  GWLPValueList list_;
  std::u16string units_;
};

template <BindingForm Form>
GWLPValueRef runLoopOverItems(const GWLPScopeRef& scope, const std::string& name, const Items& items,
                              const GWLPStatementList& body, GWLPErrorOut& out) {
  if (!body.isList()) {
    out.fail(kGWLPErrorArgumentType);
    return undefined();
  }
  GWLPScopeRef iteration;
  for (size_t i = 0; i < items.count(); ++i) {
    iteration = bind<Form>(scope, name, items[i], std::move(iteration));
    GWLPValueRef result = runLoopBody(body.statements(), iteration, out);
    if (result || out.failed()) return out.failed() ? undefined() : result;
  }
  return undefined();
}

Items keysOf(const GWLPValueRef& object) {
  switch (object->valueKind()) {
    case GWLPValueKind::String:
      return Items::positions(platform::utf8::utf16Length(static_cast<const GWLPStringValue&>(*object).value()));
    case GWLPValueKind::Array:
      return Items::of(static_cast<const GWLPArrayValue&>(*object).allPropertyNames());
    case GWLPValueKind::Map:
    case GWLPValueKind::Function: {
      const GWLPPropertyMap& properties = object->isMap()
                                              ? static_cast<const GWLPMapValue&>(*object).propertyMap()
                                              : static_cast<GWLPFunctionValue&>(*object).propertyMap();
      GWLPValueList keys;
      keys.reserve(properties.count());
      properties.forEach(
          [&](const std::string& name, const GWLPPropertyMap::Entry&) { keys.push_back(GWLPStringValue::make(name)); });
      return Items::of(std::move(keys));
    }
    default:
      return {};
  }
}

// For-in (keys) and for-of (items): (name, object, body), all evaluated.
template <BindingForm Form, bool OfItems>
GWLPValueRef forEachItem(GWLPValueSpan statements, const GWLPScopeRef& scope, platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckArgumentCount(statements, 3, out)) return undefined();
  GWLPValueRef nameValue = evaluate(statements[0], scope, out);
  if (out.failed()) return undefined();
  GWLPValueRef object = evaluate(statements[1], scope, out);
  if (out.failed()) return undefined();
  GWLPStatementList body;
  if (!body.evaluate(statements[2], scope, out)) return undefined();
  std::string name = nameValue->stringValueOrError(out);
  if (out.failed()) return undefined();
  if (object->isString() &&
      !GWLPChargeWork(scope, static_cast<const GWLPStringValue&>(*object).value().size() + 1, out)) {
    return undefined();
  }
  Items items;
  if (!OfItems) {
    items = keysOf(object);
  } else if (object->isString()) {
    items = Items::units(static_cast<const GWLPStringValue&>(*object).value());
  } else if (object->isArray()) {
    items = Items::of(static_cast<const GWLPArrayValue&>(*object).allElements());
  } else {
    out.fail(kGWLPErrorNotIterable);
    return undefined();
  }
  return runLoopOverItems<Form>(scope, name, items, body, out);
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
GWLPValueRef forLet(GWLPValueSpan statements, const GWLPScopeRef& scope, platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckArgumentCount(statements, 4, out)) return undefined();
  GWLPStatementList nameList;
  if (!nameList.evaluateList(statements[0], scope, out)) return undefined();
  GWLPStatementList body;
  if (!body.evaluateList(statements[3], scope, out)) return undefined();
  std::vector<std::string> names;
  for (const auto& value : nameList.statements()) {
    names.push_back(value->stringValueOrError(out));
    if (out.failed()) return undefined();
  }
  const GWLPValueRef& condition = statements[1];
  const GWLPValueRef& update = statements[2];

  GWLPScopeRef iteration = copyLoopVariables(scope, scope, names);
  if (!evaluateCondition(condition, iteration, out)) return undefined();
  while (true) {
    GWLPValueRef result = runLoopBody(body.statements(), iteration, out);
    if (result || out.failed()) return out.failed() ? undefined() : result;
    GWLPScopeRef next = copyLoopVariables(scope, iteration, names);
    evaluate(update, next, out);
    if (out.failed()) return undefined();
    iteration = std::move(next);
    if (!evaluateCondition(condition, iteration, out)) return undefined();
  }
}

// (condition, update, run-first, body) in the current scope: a pre-tested
// loop with an update after every tested body, or with one untested body
// first when run-first is true.
GWLPValueRef loop(GWLPValueSpan statements, const GWLPScopeRef& scope, platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckArgumentCount(statements, 4, out)) return undefined();
  bool runFirst = evaluateCondition(statements[2], scope, out);
  if (out.failed()) return undefined();
  GWLPStatementList body;
  if (!body.evaluateList(statements[3], scope, out)) return undefined();
  if (runFirst) {
    GWLPValueRef result = runLoopBody(body.statements(), scope, out);
    if (result || out.failed()) return out.failed() ? undefined() : result;
  }
  while (evaluateCondition(statements[0], scope, out)) {
    GWLPValueRef result = runLoopBody(body.statements(), scope, out);
    if (result || out.failed()) return out.failed() ? undefined() : result;
    evaluate(statements[1], scope, out);
    if (out.failed()) return undefined();
  }
  return undefined();
}

}  // namespace

GWLPLoopCommandEvaluator::GWLPLoopCommandEvaluator()
    : GWLPHandlerCommandEvaluator(GWLPCommandEvaluatorKind::Loop, GWLPArgumentStyle::Statements) {
  setHandler(GWLPCommand::Loop, loop);
  setHandler(GWLPCommand::ForInAssign, forEachItem<BindingForm::Assign, false>);
  setHandler(GWLPCommand::ForInConst, forEachItem<BindingForm::Const, false>);
  setHandler(GWLPCommand::ForInLet, forEachItem<BindingForm::Let, false>);
  setHandler(GWLPCommand::ForLet, forLet);
  setHandler(GWLPCommand::ForOfAssign, forEachItem<BindingForm::Assign, true>);
  setHandler(GWLPCommand::ForOfConst, forEachItem<BindingForm::Const, true>);
  setHandler(GWLPCommand::ForOfLet, forEachItem<BindingForm::Let, true>);
}
