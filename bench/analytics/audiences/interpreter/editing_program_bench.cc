// A realistic event-editing program run per event: four rules that read and
// set an event's name and parameters (a currency conversion, a cleaned
// screen name, debug parameters cleared and a counter raised, and a switch
// on the event name). Each event is converted from its native form, passed
// through the rules, converted back and followed by a collection, as event
// editing does.
//
// The same script runs in the same benchmark run in three JavaScript engines,
// each parsing the event from JSON and writing it back to JSON: node with its
// compiler (node_us), node's bytecode interpreter alone (node --jitless,
// jitless_us) and Duktape, embedded (duktape_us). The counters report the
// microseconds per event of each and our ratio to each (ours / theirs); an
// engine that is missing has no counters.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#if TABULO_WITH_DUKTAPE
#include <duktape.h>
#endif

#include "analytics/audiences/interpreter/GWLPBooleanValue.h"
#include "analytics/audiences/interpreter/GWLPCommandTable.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPEvaluator.h"
#include "analytics/audiences/interpreter/GWLPFunctionValue.h"
#include "analytics/audiences/interpreter/GWLPNumberValue.h"
#include "analytics/audiences/interpreter/GWLPRuntime.h"
#include "analytics/audiences/interpreter/GWLPRuntimeEntityConverter.h"
#include "analytics/audiences/interpreter/GWLPStatementValue.h"
#include "analytics/audiences/interpreter/GWLPStringValue.h"

namespace {

using Values = std::initializer_list<GWLPValueRef>;
using Command = GWLPCommand;

// A statement of `command`, named by its number as a program names it.
GWLPValueRef C(Command command, Values arguments = {}) {
  return std::make_shared<GWLPStatementValue>(std::to_string(GWLPCommandEntryFor(command).number),
                                              GWLPValueList(arguments));
}
GWLPValueRef S(const std::string& text) { return GWLPStringValue::make(text); }
GWLPValueRef N(double number) { return GWLPNumberValue::make(number); }
GWLPValueRef Var(const std::string& name) { return C(Command::GetVariable, {S(name)}); }
GWLPValueRef Get(GWLPValueRef object, const std::string& key) { return C(Command::GetProperty, {object, S(key)}); }
GWLPValueRef Put(GWLPValueRef object, GWLPValueRef key, GWLPValueRef value) {
  return C(Command::SetProperty, {object, key, value});
}
GWLPValueRef List(Values statements) { return C(Command::StatementList, statements); }
GWLPValueRef Call(GWLPValueRef receiver, const std::string& method, Values arguments = {}) {
  return C(Command::CallMethod, {receiver, S(method), List(arguments)});
}
GWLPValueRef Const(const std::string& name, GWLPValueRef value) {
  return C(Command::DeclareConstants, {S(name), value});
}
GWLPValueRef If(GWLPValueRef condition, GWLPValueRef then) { return C(Command::If, {condition, then}); }
GWLPValueRef Is(GWLPValueRef left, GWLPValueRef right) { return C(Command::StrictEquals, {left, right}); }
GWLPValueRef Params() { return Get(Var("e"), "params"); }
GWLPValueRef Rule(const std::string& name, Values body) {
  GWLPValueList arguments = {S(name), C(Command::CreateArray, {S("e")})};
  arguments.insert(arguments.end(), body.begin(), body.end());
  return std::make_shared<GWLPStatementValue>(std::to_string(GWLPCommandEntryFor(Command::FunctionDeclaration).number),
                                              arguments);
}

const char* kRuleNames[] = {"r1", "r2", "r3", "r4"};

// function r1(e) { if (e.name === "purchase") { const v = e.params.value;
//   if (typeof v === "number") e.params.value_usd = v * 1.1; } }
// function r2(e) { const s = e.params.screen; if (s) e.params.screen = s.toLowerCase().trim(); }
// function r3(e) { for (const k in e.params) if (k.indexOf("debug_") === 0) e.params[k] = null;
//   e.params.count = (e.params.count || 0) + 1; }
// function r4(e) { switch (e.name) { case "open": e.name = "app_open"; break;
//   case "purchase": e.params.category = "commerce"; break; } }
GWLPValueList program() {
  GWLPValueRef r1 =
      Rule("r1", {If(Is(Get(Var("e"), "name"), S("purchase")),
                     List({Const("v", Get(Params(), "value")),
                           If(Is(C(Command::Typeof, {Var("v")}), S("number")),
                              List({Put(Params(), S("value_usd"), C(Command::Multiply, {Var("v"), N(1.1)}))}))}))});
  GWLPValueRef r2 = Rule("r2", {Const("s", Get(Params(), "screen")),
                                If(Var("s"), List({Put(Params(), S("screen"),
                                                       Call(Call(Var("s"), "toLowerCase"), "trim"))}))});
  GWLPValueRef r3 = Rule(
      "r3", {C(Command::ForInConst,
               {S("k"), Params(),
                List({If(Is(Call(Var("k"), "indexOf", {S("debug_")}), N(0)),
                         List({Put(Params(), Var("k"), C(Command::NullLiteral))}))})}),
             Put(Params(), S("count"),
                 C(Command::Add, {C(Command::LogicalOr, {Get(Params(), "count"), N(0)}), N(1)}))});
  GWLPValueRef r4 = Rule(
      "r4", {C(Command::Switch,
               {Get(Var("e"), "name"), List({S("open"), S("purchase")}),
                List({C(Command::RunStatements, {List({Put(Var("e"), S("name"), S("app_open")), C(Command::Break)})}),
                      C(Command::RunStatements,
                        {List({Put(Params(), S("category"), S("commerce")), C(Command::Break)})})})})});
  return {r1, r2, r3, r4};
}

// The rules and one event's round trip, in the language level every engine
// reads (Duktape reads ECMAScript 5.1: var for const, no for-of).
const char* kScriptRules = R"JS(
function r1(e) { if (e.name === "purchase") { var v = e.params.value;
  if (typeof v === "number") e.params.value_usd = v * 1.1; } }
function r2(e) { var s = e.params.screen; if (s) e.params.screen = s.toLowerCase().trim(); }
function r3(e) { for (var k in e.params) if (k.indexOf("debug_") === 0) e.params[k] = null;
  e.params.count = (e.params.count || 0) + 1; }
function r4(e) { switch (e.name) { case "open": e.name = "app_open"; break;
  case "purchase": e.params.category = "commerce"; break; } }
var rules = [r1, r2, r3, r4];
var nativeEvent = JSON.stringify({name: "purchase", params: {value: 12.5, currency: "EUR",
  screen: "  Checkout Screen ", debug_trace: "x1", count: 3}});
function runEvent() {
  var e = JSON.parse(nativeEvent);
  for (var i = 0; i < rules.length; i++) rules[i](e);
  return JSON.stringify(e);
}
function runEvents(n) {
  var sink = 0;
  for (var i = 0; i < n; i++) sink += runEvent().length;
  return sink;
}
)JS";

// node's own timing of the same events: warm-up, then microseconds per event.
const char* kNodeTiming = R"JS(
runEvents(20000);
const n = 200000;
const start = process.hrtime.bigint();
const sink = runEvents(n);
const elapsed = Number(process.hrtime.bigint() - start) / 1000 / n;
console.log(elapsed, sink > 0 ? "" : "-");
)JS";

// Microseconds per event in node with `flags`, or a negative number when
// node is missing.
double nodeMicrosecondsPerEvent(const std::string& flags) {
  std::string file = "/tmp/editing_program_bench_" + std::to_string(getpid()) + ".js";
  std::ofstream(file) << kScriptRules << kNodeTiming;
  FILE* pipe = popen(("node " + flags + " '" + file + "' 2>/dev/null").c_str(), "r");
  double microseconds = -1;
  if (pipe) {
    if (std::fscanf(pipe, "%lf", &microseconds) != 1) microseconds = -1;
    pclose(pipe);
  }
  std::remove(file.c_str());
  return microseconds;
}

// Microseconds per event in Duktape, timed here around the script's own loop
// after a warm-up; negative when Duktape is not built in or the script fails.
double duktapeMicrosecondsPerEvent() {
#if TABULO_WITH_DUKTAPE
  duk_context* context = duk_create_heap_default();
  if (!context) return -1;
  double microseconds = -1;
  auto runEvents = [&](int n) {
    duk_get_global_string(context, "runEvents");
    duk_push_int(context, n);
    bool ok = duk_pcall(context, 1) == DUK_EXEC_SUCCESS && duk_get_number(context, -1) > 0;
    duk_pop(context);
    return ok;
  };
  if (duk_peval_string(context, kScriptRules) == 0) {
    duk_pop(context);
    const int n = 50000;
    if (runEvents(2000)) {
      auto start = std::chrono::steady_clock::now();
      if (runEvents(n)) {
        microseconds =
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() / n;
      }
    }
  }
  duk_destroy_heap(context);
  return microseconds;
#else
  return -1;
#endif
}

platform::Object nativeEvent() {
  platform::Dictionary params = {{"value", 12.5},
                                 {"currency", "EUR"},
                                 {"screen", "  Checkout Screen "},
                                 {"debug_trace", "x1"},
                                 {"count", int64_t{3}}};
  return platform::Dictionary{{"name", "purchase"}, {"params", params}};
}

void BM_EditingProgramPerEvent(benchmark::State& state) {
  GWLPRuntime runtime;
  platform::Error error;
  GWLPEvaluator::executeStatements(program(), runtime.globalScope(), &error);
  std::vector<std::shared_ptr<GWLPFunctionValue>> rules;
  for (const char* name : kRuleNames) {
    rules.push_back(std::static_pointer_cast<GWLPFunctionValue>(runtime.globalScope()->valueForName(name)));
  }
  const platform::Object event = nativeEvent();
  {
    // The rules must really edit the event before their time means anything.
    auto scope = runtime.getRunScope();
    GWLPValueRef value = GWLPRuntimeEntityConverter::runtimeValueFromNSObject(event, scope, &error);
    for (const auto& rule : rules) rule->invokeWithEvaluatedArguments({value}, &error);
    platform::Object edited = GWLPRuntimeEntityConverter::objectFromRuntimeValue(*value, &error);
    const platform::Object* paramsObject = edited.find("params");
    const platform::Dictionary* params = paramsObject ? paramsObject->dictionaryValue() : nullptr;
    auto text = [&](const char* key) {
      const platform::Object* value = params ? paramsObject->find(key) : nullptr;
      const std::string* string = value ? value->stringValue() : nullptr;
      return string ? *string : std::string();
    };
    const platform::Object* count = params ? paramsObject->find("count") : nullptr;
    if (GWLPFailed(error) || !params || params->count("debug_trace") || !params->count("value_usd") ||
        text("screen") != "checkout screen" || text("category") != "commerce" || !count ||
        count->numberValue() != 4.0) {
      state.SkipWithError("the editing program did not edit the event as expected");
      return;
    }
  }
  int64_t events = 0;
  auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    runtime.resetInstructionCount();
    auto scope = runtime.getRunScope();
    platform::Error runError;
    GWLPValueRef value = GWLPRuntimeEntityConverter::runtimeValueFromNSObject(event, scope, &runError);
    for (const auto& rule : rules) rule->invokeWithEvaluatedArguments({value}, &runError);
    platform::Object edited = GWLPRuntimeEntityConverter::objectFromRuntimeValue(*value, &runError);
    benchmark::DoNotOptimize(edited);
    value.reset();
    scope.reset();
    runtime.collectGarbage();
    if (GWLPFailed(runError)) state.SkipWithError(runError.toString().c_str());
    ++events;
  }
  double ours = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() /
                static_cast<double>(std::max<int64_t>(events, 1));
  state.counters["ours_us"] = ours;
  // The engines run after our loop, one at a time, so that none shares the
  // machine with another while it is timed; not in the short runs that only
  // size the iteration count.
  if (state.iterations() < 1000) return;
  const struct {
    const char* name;
    double microseconds;
  } engines[] = {
      {"node", nodeMicrosecondsPerEvent("")},
      {"jitless", nodeMicrosecondsPerEvent("--jitless")},
      {"duktape", duktapeMicrosecondsPerEvent()},
  };
  for (const auto& engine : engines) {
    if (engine.microseconds <= 0) continue;
    state.counters[std::string(engine.name) + "_us"] = engine.microseconds;
    state.counters[std::string("ratio_") + engine.name] = ours / engine.microseconds;
  }
}
BENCHMARK(BM_EditingProgramPerEvent)->Unit(benchmark::kMicrosecond);

}  // namespace
