// Short builders of interpreter programs for the tests: each makes the
// statement a compiled script would hold for a small piece of JavaScript, so
// that a table row reads close to the source it stands for.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "InterpreterTestSupport.h"
#include "analytics/audiences/interpreter/GWLPRuntime.h"

namespace script {

using Values = std::initializer_list<GWLPValueRef>;

// Command `number` with `arguments`.
GWLPValueRef C(int number, Values arguments = {});
GWLPValueRef S(const std::string& text);
GWLPValueRef N(double number);
GWLPValueRef B(bool value);
GWLPValueRef Undefined();  // undefinedLiteral
GWLPValueRef Null();       // nullLiteral
GWLPValueRef NaN();
GWLPValueRef Inf();

GWLPValueRef Var(const std::string& name);                     // name
GWLPValueRef Let(const std::string& name, GWLPValueRef value);  // let name = value
GWLPValueRef Set(const std::string& name, GWLPValueRef value);  // name = value
GWLPValueRef Get(GWLPValueRef object, GWLPValueRef key);        // object[key]
GWLPValueRef Put(GWLPValueRef object, GWLPValueRef key, GWLPValueRef value);
GWLPValueRef Arr(Values values);                                // [values]
GWLPValueRef Obj(Values keysAndValues);                         // {k: v, ...}
GWLPValueRef List(Values statements);                           // a statement list
GWLPValueRef Call(GWLPValueRef receiver, const std::string& method, Values arguments = {});
GWLPValueRef Push(const std::string& array, GWLPValueRef value);  // array.push(value)
// function name(parameters) { body }, as an expression.
GWLPValueRef Fn(const std::string& name, std::vector<std::string> parameters, Values body);
GWLPValueRef Ret(GWLPValueRef value);
GWLPValueRef Invoke(const std::string& function, Values arguments = {});  // function(arguments)
// for (let name = from; name < to; name++) body, in a block of its own.
GWLPValueRef ForCount(const std::string& name, double from, double to, Values body);

// Runs `statements` in a new run of `runtime`: "error <code>" on failure
// (the domain is added when it is not the runtime's), else the Describe text
// of the last statement's value.
std::string Run(GWLPRuntime& runtime, const GWLPValueList& statements);

}  // namespace script
