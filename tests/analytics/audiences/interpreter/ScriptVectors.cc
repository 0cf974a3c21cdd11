#include "ScriptVectors.h"

#include "ScriptBuilders.h"

using namespace script;

namespace {

// Plus-one of a variable: name = name + 1.
GWLPValueRef Inc(const std::string& name) { return Set(name, C(0, {Var(name), N(1)})); }
// name = name + value.
GWLPValueRef Append(const std::string& name, GWLPValueRef value) { return Set(name, C(0, {Var(name), value})); }
// A case body that runs its statements in the switch's scope.
GWLPValueRef Body(Values statements) { return C(5, {List(statements)}); }
// [f() for f of fs]: calls each function of the array `fs`.
GWLPValueRef CallEach(const std::string& fs) {
  return Call(Var(fs), "map", {Fn("", {"f"}, {Ret(Invoke("f"))})});
}
GWLPValueRef Emoji() { return S("\U0001F600"); }

std::vector<ScriptVector> build() {
  std::vector<ScriptVector> rows;
  std::string group;
  // A row whose JavaScript gives the same answer.
  auto js = [&](std::string expected, GWLPValueList program, std::string source) {
    rows.push_back({group, source, std::move(program), std::move(expected), source, false});
  };
  // A row that differs from JavaScript on purpose.
  auto differs = [&](std::string expected, GWLPValueList program, std::string source) {
    rows.push_back({group, source, std::move(program), std::move(expected), source, true});
  };
  // A row without a JavaScript counterpart (errors, commands of our own).
  auto only = [&](std::string expected, GWLPValueList program, std::string name) {
    rows.push_back({group, std::move(name), std::move(program), std::move(expected), "", false});
  };

  group = "bitwise";
  js("-2147483648", {C(59, {N(2147483648.0), N(0)})}, "2147483648 | 0");
  js("2147483647", {C(59, {N(-2147483649.0), N(0)})}, "-2147483649 | 0");
  js("0", {C(59, {N(4294967296.0), N(0)})}, "4294967296 | 0");
  js("4294967295", {C(61, {N(4294967295.0), N(0)})}, "4294967295 >>> 0");
  js("4294967295", {C(61, {N(-1), N(0)})}, "-1 >>> 0");
  js("15", {C(61, {N(-1), N(28)})}, "-1 >>> 28");
  js("-2147483648", {C(57, {N(1), N(31)})}, "1 << 31");
  js("1", {C(57, {N(1), N(32)})}, "1 << 32");
  js("-2147483648", {C(57, {N(1), N(-1)})}, "1 << -1");
  js("-5", {C(59, {N(-5.7), N(0)})}, "-5.7 | 0");
  js("0", {C(59, {NaN(), N(0)})}, "NaN | 0");
  js("-6", {C(58, {N(5)})}, "~5");
  js("-1", {C(58, {NaN()})}, "~NaN");
  js("-4", {C(60, {N(-8), N(1)})}, "-8 >> 1");
  js("1", {C(56, {N(5), N(3)})}, "5 & 3");
  js("6", {C(62, {N(5), N(3)})}, "5 ^ 3");
  js("0", {C(59, {Obj({}), N(0)})}, "({}) | 0");
  js("12", {C(59, {S("12"), N(0)})}, "'12' | 0");
  only("error 9", {C(56, {N(1)})}, "bitwiseAnd with one value");
  only("error 9", {C(58, {N(1), N(2)})}, "bitwiseNot with two values");

  group = "equality";
  js("true", {C(12, {Null(), Undefined()})}, "null == undefined");
  js("false", {C(12, {Null(), N(0)})}, "null == 0");
  js("false", {C(12, {Null(), S("")})}, "null == ''");
  js("false", {C(12, {Undefined(), N(0)})}, "undefined == 0");
  js("true", {C(12, {N(1), S("1")})}, "1 == '1'");
  js("true", {C(12, {N(1), B(true)})}, "1 == true");
  js("true", {C(12, {S(""), N(0)})}, "'' == 0");
  js("false", {C(12, {S("true"), B(true)})}, "'true' == true");
  js("true", {C(12, {Arr({N(5)}), N(5)})}, "[5] == 5");
  js("true", {C(12, {Arr({N(5)}), S("5")})}, "[5] == '5'");
  js("true", {C(12, {Arr({N(1), N(2)}), S("1,2")})}, "[1, 2] == '1,2'");
  js("true", {C(12, {Obj({}), S("[object Object]")})}, "({}) == '[object Object]'");
  js("false", {C(12, {Obj({}), Obj({})})}, "({}) == ({})");
  js("false", {C(12, {Arr({N(1)}), Arr({N(1)})})}, "[1] == [1]");
  js("false", {C(12, {NaN(), NaN()})}, "NaN == NaN");
  js("true", {Let("a", Arr({})), C(12, {Var("a"), Var("a")})}, "(() => { let a = []; return a == a; })()");
  js("false", {C(29, {Null(), Undefined()})}, "null != undefined");
  js("true", {C(29, {N(1), N(2)})}, "1 != 2");
  js("false", {C(20, {N(1), S("1")})}, "1 === '1'");
  js("true", {C(20, {N(0), C(27, {N(0)})})}, "0 === -0");
  js("false", {C(20, {NaN(), NaN()})}, "NaN === NaN");
  js("false", {C(20, {B(true), N(1)})}, "true === 1");
  js("true", {C(20, {S("a"), S("a")})}, "'a' === 'a'");
  js("false", {C(20, {Null(), Undefined()})}, "null === undefined");
  js("true", {C(21, {N(1), S("1")})}, "1 !== '1'");
  only("error 9", {C(12, {N(1)})}, "looseEquals with one statement");
  only("error 9", {C(20, {N(1), N(2), N(3)})}, "strictEquals with three statements");

  group = "ordering";
  js("true", {C(23, {S("10"), S("9")})}, "'10' < '9'");
  js("false", {C(23, {N(10), S("9")})}, "10 < '9'");
  js("true", {C(23, {Null(), N(1)})}, "null < 1");
  js("false", {C(23, {Undefined(), N(1)})}, "undefined < 1");
  js("false", {C(24, {Undefined(), N(1)})}, "undefined <= 1");
  js("false", {C(18, {Undefined(), N(1)})}, "undefined > 1");
  js("false", {C(19, {Undefined(), N(1)})}, "undefined >= 1");
  js("false", {C(24, {Undefined(), Undefined()})}, "undefined <= undefined");
  js("true", {C(19, {Null(), N(0)})}, "null >= 0");
  js("true", {C(18, {Arr({N(2)}), N(1)})}, "[2] > 1");
  js("false", {C(23, {NaN(), N(1)})}, "NaN < 1");
  js("false", {C(19, {N(1), NaN()})}, "1 >= NaN");
  js("true", {C(24, {Obj({}), Obj({})})}, "({}) <= ({})");
  js("true", {C(23, {S("Z"), S("a")})}, "'Z' < 'a'");
  js("true", {C(18, {S("b"), S("a")})}, "'b' > 'a'");
  // Canonically equivalent texts order as equal.
  differs("true", {C(24, {S("\u00e9"), S("e\u0301")})}, "'\\u00e9' <= 'e\\u0301'");

  group = "short-circuit";
  js("[0, 1]", {Let("x", N(1)), Let("r", C(1, {N(0), Set("x", N(2))})), Arr({Var("r"), Var("x")})},
     "(() => { let x = 1; let r = 0 && (x = 2); return [r, x]; })()");
  js("[\"a\", 1]", {Let("x", N(1)), Let("r", C(30, {S("a"), Set("x", N(2))})), Arr({Var("r"), Var("x")})},
     "(() => { let x = 1; let r = 'a' || (x = 2); return [r, x]; })()");
  js("\"x\"", {C(30, {S(""), S("x")})}, "'' || 'x'");
  js("\"b\"", {C(1, {N(1), S("b")})}, "1 && 'b'");
  js("null", {C(1, {Null(), N(1)})}, "null && 1");
  js("true", {C(28, {N(0)})}, "!0");
  js("false", {C(28, {S("a")})}, "!'a'");
  js("false", {C(28, {Arr({})})}, "![]");
  js("true", {C(28, {NaN()})}, "!NaN");
  only("error 9", {Let("x", N(1)), C(1, {N(1), Set("x", N(2)), N(3)})}, "logicalAnd with three statements");
  only("error 9", {C(28)}, "logicalNot without a statement");

  group = "add";
  js("2", {C(0, {N(1), B(true)})}, "1 + true");
  js("1", {C(0, {N(1), Null()})}, "1 + null");
  js("NaN", {C(0, {N(1), Undefined()})}, "1 + undefined");
  js("\"aundefined\"", {C(0, {S("a"), Undefined()})}, "'a' + undefined");
  js("\"1,21\"", {C(0, {Arr({N(1), N(2)}), N(1)})}, "[1, 2] + 1");
  js("\"[object Object]1\"", {C(0, {Obj({}), N(1)})}, "({}) + 1");
  js("\"12\"", {C(0, {S("1"), N(2)})}, "'1' + 2");
  js("0.30000000000000004", {C(0, {N(0.1), N(0.2)})}, "0.1 + 0.2");
  js("2", {C(0, {B(true), B(true)})}, "true + true");
  js("\"1null\"", {C(0, {S("1"), Null()})}, "'1' + null");
  js("\"\"", {C(0, {Arr({}), Arr({})})}, "[] + []");
  js("\"3\"", {C(0, {Arr({Null()}), S("3")})}, "[null] + '3'");
  js("1e+21", {C(0, {N(5e20), N(5e20)})}, "5e20 + 5e20");
  only("error 9", {C(0, {N(1)})}, "add with one value");

  group = "arithmetic";
  js("-Infinity", {C(10, {N(1), C(27, {N(0)})})}, "1 / -0");
  js("Infinity", {C(10, {N(1), N(0)})}, "1 / 0");
  js("NaN", {C(10, {N(0), N(0)})}, "0 / 0");
  js("-2", {C(25, {N(-5), N(3)})}, "-5 % 3");
  js("1.5", {C(25, {N(5.5), N(2)})}, "5.5 % 2");
  js("NaN", {C(25, {N(5), N(0)})}, "5 % 0");
  js("5", {C(25, {N(5), Inf()})}, "5 % Infinity");
  js("NaN", {C(25, {Inf(), N(2)})}, "Infinity % 2");
  js("-Infinity", {C(10, {N(1), C(25, {N(-4), N(2)})})}, "1 / (-4 % 2)");
  js("3", {C(37, {S("5"), N(2)})}, "'5' - 2");
  js("NaN", {C(26, {S("a"), N(2)})}, "'a' * 2");
  js("-3", {C(27, {S("3")})}, "-'3'");
  only("1", {C(32, {N(1), N(2)})}, "firstOfTwo answers the first value");
  only("1", {C(33, {N(1), N(2)})}, "33 is firstOfTwo too");
  only("\"5\"", {C(34, {S("5")})}, "identity keeps the value unconverted");
  only("\"5\"", {C(35, {S("5")})}, "35 is identity too");
  only("error 9", {C(27, {N(1), N(2)})}, "negate with two values");

  group = "variables";
  only("error 2", {Set("nope", N(1))}, "assign to an undeclared name");
  only("undefined", {Var("nope")}, "getVariable of an undeclared name");
  js("\"undefined\"", {C(40, {Var("nope")})}, "typeof nope");
  js("[5, 5]", {Let("x", Undefined()), Arr({Set("x", N(5)), Var("x")})},
     "(() => { let x; return [x = 5, x]; })()");
  js("2", {Let("x", N(1)), C(53, {Set("x", N(2))}), Var("x")}, "(() => { let x = 1; { x = 2; } return x; })()");
  js("1", {Let("x", N(1)), C(53, {Let("x", N(2))}), Var("x")},
     "(() => { let x = 1; { let x = 2; } return x; })()");
  // Declaring again resets to undefined; a constant keeps its first value
  // and the assignment still answers the assigned value.
  differs("undefined", {C(41, {S("x")}), Set("x", N(1)), C(41, {S("x")}), Var("x")},
          "(() => { var x = 1; var x; return x; })()");
  differs("[2, 1]", {C(52, {S("c"), N(1)}), Arr({Set("c", N(2)), Var("c")})},
          "(() => { const c = 1; return [c = 2, c]; })()");
  only("[1, 1]", {C(52, {S("c"), N(1), S("c"), N(2)}), C(52, {S("c"), N(3)}), Arr({Var("c"), Var("c")})},
       "a constant declared again keeps its first value");
  only("error 9", {C(52, {S("c")})}, "declareConstants with an odd count");
  only("error 10", {C(52, {N(1), N(2)})}, "declareConstants with a name that is no text");
  only("error 10", {C(41, {N(1)})}, "declareVariables with a name that is no text");
  only("error 10", {C(3, {N(1), N(2)})}, "assign with a name that is no text");
  only("error 10", {C(15, {N(1)})}, "getVariable with a name that is no text");

  group = "property";
  js("\"b\"", {Get(S("abc"), N(1))}, "'abc'[1]");
  js("undefined", {Get(S("abc"), N(3))}, "'abc'[3]");
  js("3", {Get(S("abc"), S("length"))}, "'abc'.length");
  js("2", {Get(Emoji(), S("length"))}, "'\\u{1F600}'.length");
  js("undefined", {Get(N(5), S("x"))}, "(5).x");
  js("[1, undefined]", {Let("s", S("abc")), Arr({Put(Var("s"), S("x"), N(1)), Get(Var("s"), S("x"))})},
     "(() => { let s = 'abc'; return [s.x = 1, s.x]; })()");
  js("7", {Put(N(5), S("x"), N(7))}, "(5).x = 7");
  js("\"b\"", {Get(Obj({N(1), S("a"), S("1"), S("b")}), N(1))}, "({1: 'a', '1': 'b'})[1]");
  js("undefined", {Get(Obj({}), S("missing"))}, "({}).missing");
  js("3", {Let("o", Obj({})), Put(Var("o"), S("k"), N(3)), Get(Var("o"), S("k"))},
     "(() => { let o = {}; o.k = 3; return o.k; })()");
  js("4", {Let("f", Fn("", {}, {})), Put(Var("f"), S("p"), N(4)), Get(Var("f"), S("p"))},
     "(() => { let f = function () {}; f.p = 4; return f.p; })()");
  // Any key whose number value is a whole index addresses a unit; reading
  // from null answers undefined.
  differs("\"b\"", {Get(S("abc"), S("1.0"))}, "'abc'['1.0']");
  differs("undefined", {Get(Null(), S("x"))}, "null.x");
  only("error 6", {Put(Null(), S("x"), N(1))}, "setProperty on null");
  only("error 6", {Put(Undefined(), S("x"), N(1))}, "setProperty on undefined");
  only("error 9", {Obj({S("a"), N(1), S("b")})}, "createObject with three values");
  only("error 9", {C(16, {S("a")})}, "getProperty with one value");

  group = "typeof";
  js("\"object\"", {C(40, {Null()})}, "typeof null");
  js("\"object\"", {C(40, {Arr({})})}, "typeof []");
  js("\"object\"", {C(40, {Obj({})})}, "typeof {}");
  js("\"function\"", {C(40, {Fn("", {}, {})})}, "typeof function () {}");
  js("\"number\"", {C(40, {N(1)})}, "typeof 1");
  js("\"string\"", {C(40, {S("")})}, "typeof ''");
  js("\"boolean\"", {C(40, {B(false)})}, "typeof false");
  js("\"undefined\"", {C(40, {Undefined()})}, "typeof undefined");
  only("error 9", {C(40)}, "typeof without a value");

  group = "control";
  only("undefined", {C(22, {B(true)})}, "if with only a condition");
  only("5", {C(22, {B(true), N(5)})}, "if whose branch is a plain expression");
  only("6", {C(22, {B(false), N(5), N(6)})}, "if takes the else branch");
  only("undefined", {C(22, {B(false), N(5)})}, "if without the branch taken");
  only("error 9", {C(22)}, "if without a condition");
  only("error 9", {C(22, {B(true), N(1), N(2), N(3)})}, "if with four statements");
  js("3",
     {Let("n", N(0)), ForCount("i", 0, 10, {C(22, {C(12, {Var("i"), N(3)}), List({C(4)})}), Inc("n")}), Var("n")},
     "(() => { let n = 0; for (let i = 0; i < 10; i++) { if (i == 3) break; n++; } return n; })()");
  js("\"b\"", {C(39, {B(false), S("a"), S("b")})}, "false ? 'a' : 'b'");
  js("[\"a\", 1]", {Let("x", N(1)), Let("r", C(39, {B(true), S("a"), Set("x", N(2))})), Arr({Var("r"), Var("x")})},
     "(() => { let x = 1; let r = true ? 'a' : (x = 2); return [r, x]; })()");
  only("error 9", {C(4, {N(1)})}, "break with an argument");
  only("error 9", {C(6, {N(1)})}, "continue with an argument");
  only("error 9", {C(36, {N(1), N(2)})}, "return with two arguments");
  js("undefined", {Let("f", Fn("", {}, {C(36)})), Invoke("f")},
     "(() => { let f = function () { return; }; return f(); })()");
  only("error 10", {C(13, {N(1), C(4)})}, "expressionList holding a break");
  js("3", {C(13, {N(1), N(2), N(3)})}, "(1, 2, 3)");
  only("error 9", {C(13)}, "expressionList without an expression");
  js("\"function\"",
     {C(41, {S("f")}), Set("f", N(1)), C(53, {C(50, {S("f"), Arr({}), N(1)})}), C(40, {Var("f")})},
     "(() => { var f = 1; { function f() { return 1; } } return typeof f; })()");
  js("3",
     {C(50, {S("add"), Arr({S("a"), S("b")}), Ret(C(0, {Var("a"), Var("b")}))}), Invoke("add", {N(1), N(2)})},
     "(() => { function add(a, b) { return a + b; } return add(1, 2); })()");
  js("undefined", {C(50, {S("g"), Arr({S("a"), S("b")}), Ret(Var("b"))}), Invoke("g", {N(1)})},
     "(() => { function g(a, b) { return b; } return g(1); })()");
  // Calls one after another, some of them leaving a closure over their scope,
  // one calling itself: each sees only its own parameters and constants.
  js("[2, 3, 4, 6]",
     {C(50, {S("f"), Arr({S("x")}), C(52, {S("y"), C(0, {Var("x"), N(1)})}),
             Ret(C(39, {C(25, {Var("x"), N(2)}), Fn("", {}, {Ret(Var("y"))}), Var("y")}))}),
      C(50, {S("g"), Arr({S("n")}), C(52, {S("m"), Var("n")}),
             C(22, {C(12, {Var("n"), N(0)}), List({Ret(N(0))})}),
             Ret(C(0, {Invoke("g", {C(37, {Var("n"), N(1)})}), Var("m")}))}),
      Let("a", Invoke("f", {N(1)})), Let("b", Invoke("f", {N(2)})), Let("c", Invoke("f", {N(3)})),
      Arr({Invoke("a"), Var("b"), Invoke("c"), Invoke("g", {N(3)})})},
     "(() => { function f(x) { const y = x + 1; return x % 2 ? () => y : y; } "
     "function g(n) { const m = n; if (n == 0) return 0; return g(n - 1) + m; } "
     "let a = f(1), b = f(2), c = f(3); return [a(), b, c(), g(3)]; })()");
  only("\"\"", {Call(Fn("", {}, {}), "toString")}, "an anonymous function expression has the empty name");
  only("error 9", {C(51, {S("f")})}, "functionExpression without a parameter list");
  only("error 10", {C(51, {S("f"), N(1)})}, "functionExpression whose parameter list is no array");
  only("error 17", {Call(N(1), "nope")}, "an unknown method of a number");
  only("error 10", {C(2, {N(1), N(2), List({})})}, "callMethod with a name that is no text");
  only("error 10", {C(2, {S("a"), S("charAt"), N(1)})}, "callMethod with arguments that are no array");
  only("error 9", {C(2, {S("a"), S("charAt")})}, "callMethod with two statements");
  only("error 10", {C(5, {N(1)})}, "runStatements of a value that is no array");
  only("2", {C(9, {List({N(1), N(2)})})}, "runStatements runs the list");
  only("[1, 2]", {C(46, {N(1), N(2)})}, "statementList answers its statements");

  group = "switch";
  js("\"none\"",
     {Let("r", S("none")), C(38, {N(1), List({S("1")}), List({Body({Set("r", S("str"))})})}), Var("r")},
     "(() => { let r = 'none'; switch (1) { case '1': r = 'str'; } return r; })()");
  auto threeCases = [](double discriminant, bool withDefault, bool breakAfterTwo) {
    GWLPValueRef bodies =
        withDefault ? List({Body({Append("r", S("1"))}),
                            Body(breakAfterTwo ? Values{Append("r", S("2")), C(4)} : Values{Append("r", S("2"))}),
                            Body({Append("r", S("d"))})})
                    : List({Body({Append("r", S("1"))}), Body({Append("r", S("2"))})});
    return GWLPValueList{Let("r", S("")), C(38, {N(discriminant), List({N(1), N(2)}), bodies}), Var("r")};
  };
  js("\"12d\"", threeCases(1, true, false),
     "(() => { let r = ''; switch (1) { case 1: r += '1'; case 2: r += '2'; default: r += 'd'; } return r; })()");
  js("\"d\"", threeCases(3, true, false),
     "(() => { let r = ''; switch (3) { case 1: r += '1'; case 2: r += '2'; default: r += 'd'; } return r; })()");
  js("\"\"", threeCases(3, false, false),
     "(() => { let r = ''; switch (3) { case 1: r += '1'; case 2: r += '2'; } return r; })()");
  js("\"12\"", threeCases(1, true, true),
     "(() => { let r = ''; switch (1) { case 1: r += '1'; case 2: r += '2'; break; default: r += 'd'; } return r; "
     "})()");
  only("undefined", {C(38, {N(1), List({N(1)}), List({Body({N(7)})})})}, "a switch answers undefined");
  js("\"02\"",
     {Let("r", S("")),
      ForCount("i", 0, 3, {C(38, {Var("i"), List({N(1)}), List({Body({C(6)})})}), Append("r", Var("i"))}), Var("r")},
     "(() => { let r = ''; for (let i = 0; i < 3; i++) { switch (i) { case 1: continue; } r += i; } return r; })()");
  js("\"012\"",
     {Let("r", S("")),
      ForCount("i", 0, 3, {C(38, {Var("i"), List({N(1)}), List({Body({C(4)})})}), Append("r", Var("i"))}), Var("r")},
     "(() => { let r = ''; for (let i = 0; i < 3; i++) { switch (i) { case 1: break; } r += i; } return r; })()");
  js("\"one\"",
     {Let("f", Fn("", {"x"}, {C(38, {Var("x"), List({N(1)}), List({Body({Ret(S("one"))})})}), Ret(S("other"))})),
      Invoke("f", {N(1)})},
     "(() => { let f = function (x) { switch (x) { case 1: return 'one'; } return 'other'; }; return f(1); })()");
  only("error 9", {C(38, {N(1), N(2), List({})})}, "switch whose cases are no array");
  only("error 9", {C(38, {N(1), List({N(1)}), List({})})}, "switch whose matching case has no body");
  only("error 9", {C(38, {N(1), List({})})}, "switch with two statements");

  group = "loops";
  js("[0, 1, 2]", {Let("fs", Arr({})), ForCount("i", 0, 3, {Push("fs", Fn("", {}, {Ret(Var("i"))}))}), CallEach("fs")},
     "(() => { let fs = []; for (let i = 0; i < 3; i++) fs.push(() => i); return fs.map(f => f()); })()");
  js("[\"0\", \"1\", \"2\"]",
     {Let("fs", Arr({})), C(55, {S("k"), S("abc"), List({Push("fs", Fn("", {}, {Ret(Var("k"))}))})}),
      CallEach("fs")},
     "(() => { let fs = []; for (let k in 'abc') fs.push(() => k); return fs.map(f => f()); })()");
  js("[1, 2, 3]",
     {Let("fs", Arr({})),
      C(66, {S("v"), Arr({N(1), N(2), N(3)}), List({Push("fs", Fn("", {}, {Ret(Var("v"))}))})}), CallEach("fs")},
     "(() => { let fs = []; for (let v of [1, 2, 3]) fs.push(() => v); return fs.map(f => f()); })()");
  // An iteration scope that no closure kept may serve the next item: the
  // closures that were kept still see their own item, and a constant
  // declared in the body is declared afresh.
  js("[\"0\", \"2\"]",
     {Let("fs", Arr({})),
      C(54, {S("k"), S("abc"),
             List({C(22, {C(21, {Var("k"), S("1")}), List({Push("fs", Fn("", {}, {Ret(Var("k"))}))})})})}),
      CallEach("fs")},
     "(() => { let fs = []; for (const k in 'abc') { if (k !== '1') fs.push(() => k); } "
     "return fs.map(f => f()); })()");
  js("[2, 4, 6]",
     {Let("r", Arr({})),
      C(65, {S("v"), Arr({N(1), N(2), N(3)}),
             List({C(52, {S("w"), C(26, {Var("v"), N(2)})}), Push("r", Var("w"))})}),
      Var("r")},
     "(() => { let r = []; for (const v of [1, 2, 3]) { const w = v * 2; r.push(w); } return r; })()");
  js("[\"a\", \"b\"]", {Let("r", Arr({})), C(65, {S("c"), S("ab"), List({Push("r", Var("c"))})}), Var("r")},
     "(() => { let r = []; for (const c of 'ab') r.push(c); return r; })()");
  js("[\"0\", \"1\"]", {Let("r", Arr({})), C(54, {S("k"), S("ab"), List({Push("r", Var("k"))})}), Var("r")},
     "(() => { let r = []; for (const k in 'ab') r.push(k); return r; })()");
  js("[[\"1\", \"1\"], \"1\"]",
     {C(41, {S("k")}), Let("fs", Arr({})),
      C(47, {S("k"), S("ab"), List({Push("fs", Fn("", {}, {Ret(Var("k"))}))})}), Arr({CallEach("fs"), Var("k")})},
     "(() => { var k; let fs = []; for (k in 'ab') fs.push(() => k); return [fs.map(f => f()), k]; })()");
  js("[[6, 6], 6]",
     {C(41, {S("v")}), Let("fs", Arr({})),
      C(64, {S("v"), Arr({N(5), N(6)}), List({Push("fs", Fn("", {}, {Ret(Var("v"))}))})}),
      Arr({CallEach("fs"), Var("v")})},
     "(() => { var v; let fs = []; for (v of [5, 6]) fs.push(() => v); return [fs.map(f => f()), v]; })()");
  js("[1, 3]",
     {Let("r", Arr({})),
      ForCount("i", 0, 5, {C(22, {C(12, {C(25, {Var("i"), N(2)}), N(0)}), List({C(6)})}), Push("r", Var("i"))}),
      Var("r")},
     "(() => { let r = []; for (let i = 0; i < 5; i++) { if (i % 2 == 0) continue; r.push(i); } return r; })()");
  js("10", {Let("i", N(10)), ForCount("i", 0, 3, {}), Var("i")},
     "(() => { let i = 10; for (let i = 0; i < 3; i++) {} return i; })()");
  only("0",
       {Let("i", N(0)), C(63, {List({S("i")}), C(23, {Var("i"), N(3)}), Inc("i"), List({})}), Var("i")},
       "forLet leaves the enclosing scope's loop variable as it was");
  js("0",
     {Let("n", N(0)), C(55, {S("k"), N(5), List({Inc("n")})}), C(55, {S("k"), Null(), List({Inc("n")})}),
      C(55, {S("k"), Undefined(), List({Inc("n")})}), Var("n")},
     "(() => { let n = 0; for (let k in 5) n++; for (let k in null) n++; for (let k in undefined) n++; return n; "
     "})()");
  js("[1, undefined, 3]",
     {Let("a", Arr({N(1)})), Put(Var("a"), N(2), N(3)), Let("r", Arr({})),
      C(66, {S("v"), Var("a"), List({Push("r", Var("v"))})}), Var("r")},
     "(() => { let a = [1]; a[2] = 3; let r = []; for (let v of a) r.push(v); return r; })()");
  js("1", {Let("n", N(0)), C(42, {B(false), Undefined(), B(true), List({Inc("n")})}), Var("n")},
     "(() => { let n = 0; do { n++; } while (false); return n; })()");
  js("0", {Let("n", N(0)), C(42, {B(false), Inc("n"), B(false), List({Inc("n")})}), Var("n")},
     "(() => { let n = 0; while (false) { n++; } return n; })()");
  js("[0, 1, 2]",
     {Let("i", N(0)), Let("r", Arr({})), C(42, {C(23, {Var("i"), N(3)}), Inc("i"), B(false), List({Push("r", Var("i"))})}),
      Var("r")},
     "(() => { let i = 0, r = []; for (; i < 3; i++) r.push(i); return r; })()");
  only("0", {Let("i", N(0)), C(42, {B(false), Set("i", N(5)), B(true), List({})}), Var("i")},
       "the update does not run after the untested first body");
  js("[1, 2]",
     {Let("f", Fn("", {},
                  {ForCount("i", 0, 3,
                            {ForCount("j", 0, 3,
                                      {C(22, {C(12, {C(26, {Var("i"), Var("j")}), N(2)}),
                                              List({Ret(Arr({Var("i"), Var("j")}))})})})}),
                   Ret(S("none"))})),
      Invoke("f")},
     "(() => { let f = function () { for (let i = 0; i < 3; i++) for (let j = 0; j < 3; j++) if (i * j == 2) "
     "return [i, j]; return 'none'; }; return f(); })()");
  js("2",
     {Let("n", N(0)), ForCount("i", 0, 5, {C(53, {C(22, {C(12, {Var("i"), N(2)}), List({C(4)})})}), Inc("n")}),
      Var("n")},
     "(() => { let n = 0; for (let i = 0; i < 5; i++) { { if (i == 2) break; } n++; } return n; })()");
  // Named properties come before the indexes; the items of a for-of are
  // taken once; a text is walked by UTF-16 units.
  differs("[\"x\", \"0\", \"2\"]",
          {Let("a", Arr({N(1)})), Put(Var("a"), N(2), N(3)), Put(Var("a"), S("x"), N(1)), Let("r", Arr({})),
           C(55, {S("k"), Var("a"), List({Push("r", Var("k"))})}), Var("r")},
          "(() => { let a = [1]; a[2] = 3; a.x = 1; let r = []; for (let k in a) r.push(k); return r; })()");
  differs("[1, 2]",
          {Let("a", Arr({N(1), N(2)})), Let("r", Arr({})),
           C(66, {S("v"), Var("a"),
                  List({C(22, {C(23, {Get(Var("a"), S("length")), N(4)}), List({Push("a", N(9))})}),
                        Push("r", Var("v"))})}),
           Var("r")},
          "(() => { let a = [1, 2]; let r = []; for (let v of a) { if (a.length < 4) a.push(9); r.push(v); } "
          "return r; })()");
  differs("2", {Let("n", N(0)), C(66, {S("v"), Emoji(), List({Inc("n")})}), Var("n")},
          "(() => { let n = 0; for (const v of '\\u{1F600}') n++; return n; })()");
  only("error 16", {C(66, {S("v"), N(5), List({})})}, "for-of over a number");
  only("error 16", {C(64, {S("v"), Obj({}), List({})})}, "for-of over a map");
  only("error 18", {C(42, {B(true), Undefined(), B(false), List({})})},
       "a loop with an empty body still ends at the instruction limit");
  only("error 10", {C(42, {B(false), Undefined(), B(false), N(1)})}, "loop whose body is no array");
  only("error 10", {C(63, {N(1), B(false), Undefined(), List({})})}, "forLet whose names are no array");
  only("error 10", {C(55, {S("k"), S(""), N(1)})}, "for-in whose body is no array, even without keys");
  only("error 9", {C(42, {B(false), Undefined(), B(false)})}, "loop with three statements");

  group = "string";
  auto on = [](const std::string& text, const std::string& method, Values arguments = {}) {
    return GWLPValueList{Call(S(text), method, arguments)};
  };
  js("\"b\"", on("abc", "charAt", {N(1)}), "'abc'.charAt(1)");
  js("\"a\"", on("abc", "charAt"), "'abc'.charAt()");
  js("\"\"", on("abc", "charAt", {N(-1)}), "'abc'.charAt(-1)");
  js("\"\"", on("abc", "charAt", {N(3)}), "'abc'.charAt(3)");
  js("\"a\"", on("abc", "charAt", {NaN()}), "'abc'.charAt(NaN)");
  js("\"a1null\"", on("a", "concat", {N(1), Null()}), "'a'.concat(1, null)");
  js("\"a\"", on("a", "concat"), "'a'.concat()");
  js("true", on("", "hasOwnProperty", {S("length")}), "''.hasOwnProperty('length')");
  js("true", on("ab", "hasOwnProperty", {N(1)}), "'ab'.hasOwnProperty(1)");
  js("true", on("ab", "hasOwnProperty", {S("1")}), "'ab'.hasOwnProperty('1')");
  js("false", on("ab", "hasOwnProperty", {N(1.5)}), "'ab'.hasOwnProperty(1.5)");
  js("false", on("ab", "hasOwnProperty", {S("x")}), "'ab'.hasOwnProperty('x')");
  js("false", on("ab", "hasOwnProperty", {NaN()}), "'ab'.hasOwnProperty(NaN)");
  js("false", on("ab", "hasOwnProperty", {N(2)}), "'ab'.hasOwnProperty(2)");
  js("-1", on("abc", "indexOf", {S("b"), N(5)}), "'abc'.indexOf('b', 5)");
  js("1", on("xundefinedx", "indexOf"), "'xundefinedx'.indexOf()");
  js("1", on("abc", "indexOf", {S("b"), N(-3)}), "'abc'.indexOf('b', -3)");
  js("4", on("abcabc", "indexOf", {S("b"), N(2)}), "'abcabc'.indexOf('b', 2)");
  js("4", on("abcabc", "lastIndexOf", {S("b")}), "'abcabc'.lastIndexOf('b')");
  js("1", on("abcabc", "lastIndexOf", {S("b"), N(3)}), "'abcabc'.lastIndexOf('b', 3)");
  js("4", on("abcabc", "lastIndexOf", {S("b"), NaN()}), "'abcabc'.lastIndexOf('b', NaN)");
  js("-1", on("abcabc", "lastIndexOf", {S("b"), N(-5)}), "'abcabc'.lastIndexOf('b', -5)");
  js("0", on("abc", "lastIndexOf", {S("a"), N(-1)}), "'abc'.lastIndexOf('a', -1)");
  js("3", on("abcabc", "lastIndexOf", {S("abc"), N(3)}), "'abcabc'.lastIndexOf('abc', 3)");
  js("2", on("e\u0301\u00e9", "lastIndexOf", {S("\u00e9")}), "'e\\u0301\\u00e9'.lastIndexOf('\\u00e9')");
  js("null", on("abc", "match", {S("x")}), "'abc'.match('x')");
  js("[\"b\"]", on("abc", "match", {S("b")}), "'abc'.match('b')");
  js("[\"bc\"]", on("abcd", "match", {S("b.")}), "'abcd'.match('b.')");
  js("[\"\"]", on("abc", "match"), "'abc'.match()");
  js("[\"\"]", on("abc", "match", {S("")}), "'abc'.match('')");
  js("0", on("abc", "search", {S("")}), "'abc'.search('')");
  js("2", on("abc", "search", {S("c")}), "'abc'.search('c')");
  js("-1", on("abc", "search", {S("x")}), "'abc'.search('x')");
  js("1", on("a.c", "search", {S("\\.")}), "'a.c'.search('\\\\.')");
  js("\"abc\"", on("abc", "replace", {S("x"), S("y")}), "'abc'.replace('x', 'y')");
  js("\"yabc\"", on("abc", "replace", {S(""), S("y")}), "'abc'.replace('', 'y')");
  js("\"aundefinedc\"", on("abc", "replace", {S("b")}), "'abc'.replace('b')");
  js("\"axbc\"", on("abcbc", "replace", {S("bc"), S("x")}), "'abcbc'.replace('bc', 'x')");
  js("\"ab1abcbcb\"",
     on("abcb", "replace", {S("b"), Fn("", {"m", "p", "s"}, {Ret(C(0, {C(0, {Var("m"), Var("p")}), Var("s")}))})}),
     "'abcb'.replace('b', (m, p, s) => m + p + s)");
  js("\"bc\"", on("abc", "slice", {N(-2)}), "'abc'.slice(-2)");
  js("\"b\"", on("abc", "slice", {N(1), N(2)}), "'abc'.slice(1, 2)");
  js("\"\"", on("abc", "slice", {N(2), N(1)}), "'abc'.slice(2, 1)");
  js("\"abc\"", on("abc", "slice", {N(-10)}), "'abc'.slice(-10)");
  js("\"ab\"", on("abc", "slice", {N(0), N(-1)}), "'abc'.slice(0, -1)");
  js("\"ab\"", on("abc", "substring", {N(2), N(0)}), "'abc'.substring(2, 0)");
  js("\"abc\"", on("abc", "substring", {N(-1), N(10)}), "'abc'.substring(-1, 10)");
  js("\"bc\"", on("abc", "substring", {N(1)}), "'abc'.substring(1)");
  js("[\"a,b,,c\"]", on("a,b,,c", "split"), "'a,b,,c'.split()");
  js("[\"a\", \"b\", \"\", \"c\"]", on("a,b,,c", "split", {S(",")}), "'a,b,,c'.split(',')");
  js("[\"a\", \"b\"]", on("a,b,,c", "split", {S(","), N(2)}), "'a,b,,c'.split(',', 2)");
  js("[]", on("a,b,,c", "split", {S(","), N(0)}), "'a,b,,c'.split(',', 0)");
  js("[\"a\", \"b\", \"c\"]", on("abc", "split", {S("")}), "'abc'.split('')");
  js("[\"a\", \"b\"]", on("abc", "split", {S(""), N(2)}), "'abc'.split('', 2)");
  js("[\"\"]", on("", "split", {S(",")}), "''.split(',')");
  js("[\"\", \"a\", \"\"]", on(",a,", "split", {S(",")}), "',a,'.split(',')");
  js("[\"a\", \"b\", \"c\"]", on("a,b,c", "split", {S(","), N(-1)}), "'a,b,c'.split(',', -1)");
  js("\"SS\"", on("\u00df", "toUpperCase"), "'\\u00df'.toUpperCase()");
  {
    std::string sharpS;
    for (int i = 0; i < 20; ++i) sharpS += "\u00df";
    js("\"" + std::string(40, 'S') + "\"", on(sharpS, "toUpperCase"), "'\\u00df'.repeat(20).toUpperCase()");
  }
  js("\"ABC\"", on("abc", "toUpperCase"), "'abc'.toUpperCase()");
  js("\"abc\"", on("ABC", "toLowerCase"), "'ABC'.toLowerCase()");
  js("\"\u03bf\u03b4\u03bf\u03c2\"", on("\u039f\u0394\u039f\u03a3", "toLowerCase"),
     "'\\u039f\\u0394\\u039f\\u03a3'.toLowerCase()");
  js("\"i\u0307\"", on("\u0130", "toLowerCase"), "'\\u0130'.toLowerCase()");
  js("\"abc\"", on("abc", "toString"), "'abc'.toString()");
  js("\"a b\"", on(" \t\na b\r\n ", "trim"), "' \\t\\na b\\r\\n '.trim()");
  js("\"a\"", on("\u00a0\u3000a\u2028", "trim"), "'\\u00a0\\u3000a\\u2028'.trim()");
  js("2", on("\U0001F600a", "indexOf", {S("a")}), "'\\u{1F600}a'.indexOf('a')");
  js("\"a\"", on("\U0001F600a", "slice", {N(2)}), "'\\u{1F600}a'.slice(2)");
  js("\"\U0001F600\"", on("\U0001F600a", "slice", {N(0), N(2)}), "'\\u{1F600}a'.slice(0, 2)");
  js("[\"\U0001F600\", \"\U0001F600\"]", on("\U0001F600,\U0001F600", "split", {S(",")}),
     "'\\u{1F600},\\u{1F600}'.split(',')");
  // Empty search texts never occur; an undefined end reads as 0; "undefined"
  // is the text searched for when no pattern or separator is given; the
  // replacement is literal; "match" answers the whole match only; the
  // searches follow canonical equivalence; trimming keeps U+FEFF; a lone
  // half of a surrogate pair reads as U+FFFD.
  differs("-1", on("abc", "indexOf", {S("")}), "'abc'.indexOf('')");
  differs("-1", on("abc", "lastIndexOf", {S("")}), "'abc'.lastIndexOf('')");
  differs("true", on("ab", "hasOwnProperty", {S("1.0")}), "'ab'.hasOwnProperty('1.0')");
  differs("\"\"", on("abc", "slice", {N(1), Undefined()}), "'abc'.slice(1, undefined)");
  differs("\"a\"", on("abc", "substring", {N(1), Undefined()}), "'abc'.substring(1, undefined)");
  differs("[]", on("a,b,,c", "split", {S(","), Undefined()}), "'a,b,,c'.split(',', undefined)");
  differs("[\"\"]", on("", "split", {S(","), N(0)}), "''.split(',', 0)");
  differs("[\"x\", \"y\"]", on("xundefinedy", "split", {Undefined()}), "'xundefinedy'.split(undefined)");
  differs("-1", on("abc", "search"), "'abc'.search()");
  differs("\"a[$&]c\"", on("abc", "replace", {S("b"), S("[$&]")}), "'abc'.replace('b', '[$&]')");
  differs("[\"abc\"]", on("abc", "match", {S("a(b)c")}), "'abc'.match('a(b)c')");
  differs("3", on("caf\u00e9", "indexOf", {S("e\u0301")}), "'caf\\u00e9'.indexOf('e\\u0301')");
  differs("-1", on("e\u0301", "indexOf", {S("e")}), "'e\\u0301'.indexOf('e')");
  differs("0", on("e\u0301\u00e9", "indexOf", {S("\u00e9")}), "'e\\u0301\\u00e9'.indexOf('\\u00e9')");
  differs("\"cafe!\"", on("caf\u00e9", "replace", {S("e\u0301"), S("e!")}),
          "'caf\\u00e9'.replace('e\\u0301', 'e!')");
  differs("\"\ufeffa\"", on("\ufeffa", "trim"), "'\\ufeffa'.trim()");
  differs("\"\ufffd\"", on("\U0001F600", "charAt", {N(0)}), "'\\u{1F600}'.charAt(0)");
  only("error 66310 GWLPRegularExpressionErrorDomain", on("abc", "match", {S("(")}),
       "match with an unbalanced parenthesis");
  only("error 66310 GWLPRegularExpressionErrorDomain", on("abc", "search", {S("a)")}),
       "search with an unbalanced parenthesis");
  only("error 19", on("abc", "search", {S(std::string(1001, 'a'))}), "search with a pattern beyond the length cap");
  only("error 17", on("abc", "nope"), "an unknown string method");
  only("error 9", on("abc", "charAt", {N(1), N(2)}), "charAt with two values");
  only("error 9", on("abc", "hasOwnProperty"), "hasOwnProperty without a value");
  only("error 9", on("abc", "toUpperCase", {N(1)}), "toUpperCase with a value");
  only("error 9", on("abc", "replace", {S("a"), S("b"), S("c")}), "replace with three values");
  only("error 5", {Call(S("abc"), "indexOf", {C(46, {})}), Call(S("abc"), "concat", {C(4)})},
       "a control value as an argument has no text");
  return rows;
}

}  // namespace

const std::vector<ScriptVector>& ScriptVectors() {
  // Kept for the whole process: values must not be freed after the
  // interpreter's per-thread release list is gone.
  static const auto* rows = new std::vector<ScriptVector>(build());
  return *rows;
}
