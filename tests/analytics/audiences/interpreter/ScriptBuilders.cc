#include "ScriptBuilders.h"

#include <cmath>
#include <limits>

#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPEvaluator.h"
#include "analytics/audiences/interpreter/GWLPStatementValue.h"

namespace script {

GWLPValueRef C(int number, Values arguments) { return interpreter_test::Stmt(std::to_string(number), arguments); }
GWLPValueRef S(const std::string& text) { return interpreter_test::Str(text); }
GWLPValueRef N(double number) { return interpreter_test::Num(number); }
GWLPValueRef B(bool value) { return interpreter_test::Bool(value); }
GWLPValueRef Undefined() { return C(44); }
GWLPValueRef Null() { return C(45); }
GWLPValueRef NaN() { return N(std::numeric_limits<double>::quiet_NaN()); }
GWLPValueRef Inf() { return N(std::numeric_limits<double>::infinity()); }

GWLPValueRef Var(const std::string& name) { return C(15, {S(name)}); }
GWLPValueRef Let(const std::string& name, GWLPValueRef value) {
  return C(13, {C(41, {S(name)}), C(3, {S(name), value})});
}
GWLPValueRef Set(const std::string& name, GWLPValueRef value) { return C(3, {S(name), value}); }
GWLPValueRef Get(GWLPValueRef object, GWLPValueRef key) { return C(16, {object, key}); }
GWLPValueRef Put(GWLPValueRef object, GWLPValueRef key, GWLPValueRef value) { return C(43, {object, key, value}); }
GWLPValueRef Arr(Values values) { return C(7, values); }
GWLPValueRef Obj(Values keysAndValues) { return C(8, keysAndValues); }
GWLPValueRef List(Values statements) { return C(46, statements); }
GWLPValueRef Call(GWLPValueRef receiver, const std::string& method, Values arguments) {
  return C(2, {receiver, S(method), List(arguments)});
}
GWLPValueRef Push(const std::string& array, GWLPValueRef value) { return Call(Var(array), "push", {value}); }
GWLPValueRef Fn(const std::string& name, std::vector<std::string> parameters, Values body) {
  GWLPValueList arguments = {S(name)};
  GWLPValueList names;
  for (const auto& parameter : parameters) names.push_back(S(parameter));
  arguments.push_back(std::make_shared<GWLPStatementValue>("7", names));
  arguments.insert(arguments.end(), body.begin(), body.end());
  return std::make_shared<GWLPStatementValue>("51", arguments);
}
GWLPValueRef Ret(GWLPValueRef value) { return C(36, {value}); }
GWLPValueRef Invoke(const std::string& function, Values arguments) {
  return std::make_shared<GWLPStatementValue>(function, GWLPValueList(arguments));
}
GWLPValueRef ForCount(const std::string& name, double from, double to, Values body) {
  return C(53, {Let(name, N(from)),
                C(63, {List({S(name)}), C(23, {Var(name), N(to)}), Set(name, C(0, {Var(name), N(1)})), List(body)})});
}

std::string Run(GWLPRuntime& runtime, const GWLPValueList& statements) {
  runtime.resetInstructionCount();
  platform::Error error;
  GWLPValueRef result = GWLPEvaluator::executeStatements(statements, runtime.getRunScope(), &error);
  if (GWLPFailed(error)) {
    std::string text = "error " + std::to_string(error.code);
    if (error.domain != kGWLPRuntimeErrorDomain) text += " " + error.domain;
    return text;
  }
  return interpreter_test::Describe(result);
}

}  // namespace script
