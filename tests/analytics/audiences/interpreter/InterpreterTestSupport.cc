#include "InterpreterTestSupport.h"

#include <gtest/gtest.h>

#include <mutex>
#include <sstream>

#include "analytics/audiences/interpreter/GWLPArguments.h"
#include "analytics/audiences/interpreter/GWLPArrayValue.h"
#include "analytics/audiences/interpreter/GWLPBooleanValue.h"
#include "analytics/audiences/interpreter/GWLPCommandRegistrar.h"
#include "analytics/audiences/interpreter/GWLPControlValue.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPEvaluator.h"
#include "analytics/audiences/interpreter/GWLPHandlerCommandEvaluator.h"
#include "analytics/audiences/interpreter/GWLPMapValue.h"
#include "analytics/audiences/interpreter/GWLPNullValue.h"
#include "analytics/audiences/interpreter/GWLPNumberValue.h"
#include "analytics/audiences/interpreter/GWLPObjectManager.h"
#include "analytics/audiences/interpreter/GWLPScope.h"
#include "analytics/audiences/interpreter/GWLPStatementValue.h"
#include "analytics/audiences/interpreter/GWLPStringValue.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"

namespace interpreter_test {

GWLPRuntimeEntity StrEntity(const std::string& text) {
  GWLPRuntimeEntity entity;
  entity.kind = kGWLPEntityKindString;
  entity.stringValue = text;
  return entity;
}

GWLPRuntimeEntity NumEntity(double number) {
  GWLPRuntimeEntity entity;
  entity.kind = kGWLPEntityKindNumber;
  entity.numberValue = number;
  return entity;
}

GWLPRuntimeEntity BoolEntity(bool value) {
  GWLPRuntimeEntity entity;
  entity.kind = kGWLPEntityKindBoolean;
  entity.booleanValue = value;
  return entity;
}

GWLPRuntimeEntity StmtEntity(const std::string& name, std::initializer_list<GWLPRuntimeEntity> arguments) {
  GWLPRuntimeEntity entity;
  entity.kind = kGWLPEntityKindStatement;
  entity.functionName = name;
  entity.value.assign(arguments.begin(), arguments.end());
  return entity;
}

GWLPValueRef Str(const std::string& text) { return GWLPStringValue::make(text); }
GWLPValueRef Num(double number) { return GWLPNumberValue::make(number); }
GWLPValueRef Bool(bool value) { return GWLPBooleanValue::booleanValueWithBool(value); }
GWLPValueRef Undef() { return GWLPUndefinedValue::sharedInstance(); }
GWLPValueRef Null() { return GWLPNullValue::sharedInstance(); }
GWLPValueRef Stmt(const std::string& name, std::initializer_list<GWLPValueRef> arguments) {
  return std::make_shared<GWLPStatementValue>(name, GWLPValueList(arguments));
}

namespace {

class NativeFunction : public GWLPFunctionValue {
 public:
  NativeFunction(NativeBody body, const std::string& name) : GWLPFunctionValue(name), body_(std::move(body)) {}
  GWLPValueRef invokeWithArguments(const GWLPValueList& arguments, const GWLPScopeRef& scope,
                                   platform::Error* error) override {
    GWLPErrorOut out(error);
    GWLPValueList values = GWLPEvaluateArguments(arguments, scope, out);
    if (out.failed()) return Undef();
    GWLPValueRef result = body_(values, out);
    return out.failed() ? Undef() : result;
  }

 private:
  NativeBody body_;
};

std::string textOf(const GWLPValueRef& statement, const GWLPScopeRef& scope, platform::Error* error) {
  GWLPValueRef value = GWLPEvaluator::evaluateStatement(statement, scope, error);
  return value->stringValueOrError(error);
}

class TestCommandEvaluator : public GWLPHandlerCommandEvaluator {
 public:
  TestCommandEvaluator()
      : GWLPHandlerCommandEvaluator({"test.loop", "test.declare", "test.assign", "test.get", "test.block",
                                     "test.function", "test.return", "test.break", "test.array", "test.object",
                                     "test.call"},
                                    GWLPArgumentStyle::Statements) {
    handlers_["test.loop"] = [](const GWLPValueList& arguments, const GWLPScopeRef& scope, platform::Error* error) {
      GWLPErrorOut out(error);
      while (!out.failed()) GWLPEvaluator::evaluateStatement(arguments.at(0), scope, out);
      return Undef();
    };
    handlers_["test.declare"] = [](const GWLPValueList& arguments, const GWLPScopeRef& scope,
                                   platform::Error* error) {
      GWLPErrorOut out(error);
      std::string name = textOf(arguments.at(0), scope, out);
      GWLPValueRef value = GWLPEvaluator::evaluateStatement(arguments.at(1), scope, out);
      if (out.failed()) return Undef();
      scope->addValue(value, name);
      return value;
    };
    handlers_["test.assign"] = [](const GWLPValueList& arguments, const GWLPScopeRef& scope,
                                  platform::Error* error) {
      GWLPErrorOut out(error);
      std::string name = textOf(arguments.at(0), scope, out);
      GWLPValueRef value = GWLPEvaluator::evaluateStatement(arguments.at(1), scope, out);
      if (out.failed()) return Undef();
      scope->setValue(value, name);
      return value;
    };
    handlers_["test.get"] = [](const GWLPValueList& arguments, const GWLPScopeRef& scope, platform::Error* error) {
      GWLPErrorOut out(error);
      std::string name = textOf(arguments.at(0), scope, out);
      return out.failed() ? Undef() : scope->valueForName(name);
    };
    handlers_["test.block"] = [](const GWLPValueList& arguments, const GWLPScopeRef& scope, platform::Error* error) {
      return GWLPEvaluator::executeStatements(arguments, scope->createChildScope(), error);
    };
    handlers_["test.function"] = [](const GWLPValueList& arguments, const GWLPScopeRef& scope,
                                    platform::Error* error) -> GWLPValueRef {
      GWLPErrorOut out(error);
      std::string name = textOf(arguments.at(0), scope, out);
      std::string params = textOf(arguments.at(1), scope, out);
      if (out.failed()) return Undef();
      std::vector<std::string> names;
      std::stringstream stream(params);
      for (std::string item; std::getline(stream, item, ',');) {
        if (!item.empty()) names.push_back(item);
      }
      GWLPValueList body(arguments.begin() + 2, arguments.end());
      auto function = GWLPObjectManager::functionValueWithFunctionName(name, names, body, scope);
      if (!name.empty()) scope->addValue(function, name);
      return function;
    };
    handlers_["test.return"] = [](const GWLPValueList& arguments, const GWLPScopeRef& scope,
                                  platform::Error* error) {
      GWLPErrorOut out(error);
      GWLPValueRef value = arguments.empty() ? Undef() : GWLPEvaluator::evaluateStatement(arguments[0], scope, out);
      return out.failed() ? Undef() : GWLPControlValue::returnValueWithData(value);
    };
    handlers_["test.break"] = [](const GWLPValueList&, const GWLPScopeRef&, platform::Error*) {
      return GWLPControlValue::breakValue();
    };
    handlers_["test.array"] = [](const GWLPValueList& arguments, const GWLPScopeRef& scope,
                                 platform::Error* error) -> GWLPValueRef {
      GWLPErrorOut out(error);
      GWLPValueList values = GWLPEvaluateArguments(arguments, scope, out);
      if (out.failed()) return Undef();
      auto array = GWLPObjectManager::arrayValueWithArray(values, scope, out);
      return array ? GWLPValueRef(array) : Undef();
    };
    handlers_["test.object"] = [](const GWLPValueList&, const GWLPScopeRef& scope, platform::Error*) {
      return GWLPObjectManager::mapValueWithScope(scope);
    };
    handlers_["test.call"] = [](const GWLPValueList& arguments, const GWLPScopeRef& scope, platform::Error* error) {
      GWLPErrorOut out(error);
      GWLPValueRef receiver = GWLPEvaluator::evaluateStatement(arguments.at(0), scope, out);
      std::string method = textOf(arguments.at(1), scope, out);
      if (out.failed()) return Undef();
      return receiver->applyWithName(method, GWLPValueList(arguments.begin() + 2, arguments.end()), scope, out);
    };
  }
};

}  // namespace

std::shared_ptr<GWLPFunctionValue> MakeFunction(NativeBody body, const std::string& name) {
  return std::make_shared<NativeFunction>(std::move(body), name);
}

void RegisterTestCommands() {
  static std::once_flag once;
  std::call_once(once, [] {
    GWLPCommandRegistrar::sharedInstance().registerEvaluator(std::make_shared<TestCommandEvaluator>());
  });
}

namespace {
// Every test of the binary, run alone or together, sees the test commands.
class TestCommandsEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { RegisterTestCommands(); }
};
[[maybe_unused]] ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new TestCommandsEnvironment);
}  // namespace

std::string Describe(const GWLPValueRef& value) {
  if (!value) return "<none>";
  if (GWLPArrayValue::isHole(value)) return "<hole>";
  if (value->isString()) return "\"" + static_cast<const GWLPStringValue&>(*value).value() + "\"";
  if (value->isArray()) {
    std::string text = "[";
    const auto& elements = static_cast<const GWLPArrayValue&>(*value).elements();
    for (size_t i = 0; i < elements.size(); ++i) {
      if (i) text += ", ";
      text += Describe(elements[i]);
    }
    return text + "]";
  }
  platform::Error error;
  std::string text = value->stringValueOrError(&error);
  return GWLPFailed(error) ? "<no text>" : text;
}

}  // namespace interpreter_test
