// Helpers for the interpreter's tests: entity and statement builders, native
// functions made from lambdas, and a test-only command evaluator (names
// starting with "test.") for the few cases that need commands the operator
// and control evaluators would give a real program.
//
// Test commands (arguments are statements unless said otherwise):
//   test.loop(body)             evaluates body forever, until it fails
//   test.declare(name, value)   declares name in the current scope
//   test.assign(name, value)    assigns through the scope chain
//   test.get(name)              reads a name
//   test.block(statements...)   runs statements in a new child scope
//   test.function(name, params, statements...)  declares a function value
//                               (params: comma-separated names) and answers it
//   test.return(value)          a return control value
//   test.break()                the break control value
//   test.array(values...)       a new array of the values
//   test.object()               a new map
//   test.call(receiver, method, arguments...)   receiver's method
#pragma once

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>

#include "analytics/audiences/interpreter/GWLPFunctionValue.h"
#include "analytics/audiences/interpreter/GWLPRuntimeEntity.h"
#include "analytics/audiences/interpreter/GWLPRuntimeValue.h"

namespace interpreter_test {

GWLPRuntimeEntity StrEntity(const std::string& text);
GWLPRuntimeEntity NumEntity(double number);
GWLPRuntimeEntity BoolEntity(bool value);
GWLPRuntimeEntity StmtEntity(const std::string& name, std::initializer_list<GWLPRuntimeEntity> arguments = {});

GWLPValueRef Str(const std::string& text);
GWLPValueRef Num(double number);
GWLPValueRef Bool(bool value);
GWLPValueRef Undef();
GWLPValueRef Null();
GWLPValueRef Stmt(const std::string& name, std::initializer_list<GWLPValueRef> arguments = {});

// A native function that evaluates its arguments in the calling scope and
// hands the values to `body`.
using NativeBody = std::function<GWLPValueRef(const GWLPValueList& values, platform::Error* error)>;
std::shared_ptr<GWLPFunctionValue> MakeFunction(NativeBody body, const std::string& name = "");

// Registers the test commands with the shared registrar (once; a global
// test environment does it before the first test).
void RegisterTestCommands();

// Readable text of a value for expectations: texts quoted, holes as "<hole>".
std::string Describe(const GWLPValueRef& value);

}  // namespace interpreter_test
