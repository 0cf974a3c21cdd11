// A realistic event-editing program run per event: four rules that read and
// set an event's name and parameters (a currency conversion, a cleaned
// screen name, debug parameters cleared and a counter raised, and a switch
// on the event name). Each event is converted from its native form, passed
// through the rules, converted back and followed by a collection, as event
// editing does. The same program runs in node in the same benchmark run, and
// the counters report both times per event and their ratio (ours / node).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "analytics/audiences/interpreter/GWLPBooleanValue.h"
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

GWLPValueRef C(int number, Values arguments = {}) {
  return std::make_shared<GWLPStatementValue>(std::to_string(number), GWLPValueList(arguments));
}
GWLPValueRef S(const std::string& text) { return GWLPStringValue::make(text); }
GWLPValueRef N(double number) { return GWLPNumberValue::make(number); }
GWLPValueRef Var(const std::string& name) { return C(15, {S(name)}); }
GWLPValueRef Get(GWLPValueRef object, const std::string& key) { return C(16, {object, S(key)}); }
GWLPValueRef Put(GWLPValueRef object, GWLPValueRef key, GWLPValueRef value) { return C(43, {object, key, value}); }
GWLPValueRef List(Values statements) { return C(46, statements); }
GWLPValueRef Call(GWLPValueRef receiver, const std::string& method, Values arguments = {}) {
  return C(2, {receiver, S(method), List(arguments)});
}
GWLPValueRef Const(const std::string& name, GWLPValueRef value) { return C(52, {S(name), value}); }
GWLPValueRef Params() { return Get(Var("e"), "params"); }
GWLPValueRef Rule(const std::string& name, Values body) {
  GWLPValueList arguments = {S(name), C(7, {S("e")})};
  arguments.insert(arguments.end(), body.begin(), body.end());
  return std::make_shared<GWLPStatementValue>("50", arguments);
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
  GWLPValueRef r1 = Rule(
      "r1", {C(22, {C(20, {Get(Var("e"), "name"), S("purchase")}),
                    List({Const("v", Get(Params(), "value")),
                          C(22, {C(20, {C(40, {Var("v")}), S("number")}),
                                 List({Put(Params(), S("value_usd"), C(26, {Var("v"), N(1.1)}))})})})})});
  GWLPValueRef r2 = Rule("r2", {Const("s", Get(Params(), "screen")),
                                C(22, {Var("s"), List({Put(Params(), S("screen"),
                                                           Call(Call(Var("s"), "toLowerCase"), "trim"))})})});
  GWLPValueRef r3 = Rule(
      "r3", {C(54, {S("k"), Params(),
                    List({C(22, {C(20, {Call(Var("k"), "indexOf", {S("debug_")}), N(0)}),
                                 List({Put(Params(), Var("k"), C(45))})})})}),
             Put(Params(), S("count"), C(0, {C(30, {Get(Params(), "count"), N(0)}), N(1)}))});
  GWLPValueRef r4 = Rule(
      "r4", {C(38, {Get(Var("e"), "name"), List({S("open"), S("purchase")}),
                    List({C(5, {List({Put(Var("e"), S("name"), S("app_open")), C(4)})}),
                          C(5, {List({Put(Params(), S("category"), S("commerce")), C(4)})})})})});
  return {r1, r2, r3, r4};
}

const char* kNodeProgram = R"JS(
function r1(e) { if (e.name === "purchase") { const v = e.params.value;
  if (typeof v === "number") e.params.value_usd = v * 1.1; } }
function r2(e) { const s = e.params.screen; if (s) e.params.screen = s.toLowerCase().trim(); }
function r3(e) { for (const k in e.params) if (k.indexOf("debug_") === 0) e.params[k] = null;
  e.params.count = (e.params.count || 0) + 1; }
function r4(e) { switch (e.name) { case "open": e.name = "app_open"; break;
  case "purchase": e.params.category = "commerce"; break; } }
const rules = [r1, r2, r3, r4];
const native = JSON.stringify({name: "purchase", params: {value: 12.5, currency: "EUR",
  screen: "  Checkout Screen ", debug_trace: "x1", count: 3}});
function runEvent() {
  const e = JSON.parse(native);
  for (const r of rules) r(e);
  return JSON.stringify(e);
}
let sink = 0;
for (let i = 0; i < 20000; i++) sink += runEvent().length;
const n = 200000;
const start = process.hrtime.bigint();
for (let i = 0; i < n; i++) sink += runEvent().length;
const elapsed = Number(process.hrtime.bigint() - start) / 1000 / n;
console.log(elapsed, sink > 0 ? "" : "-");
)JS";

// Microseconds per event in node, or a negative number when node is missing.
double nodeMicrosecondsPerEvent() {
  static double answer = [] {
    std::string file = "/tmp/editing_program_bench_" + std::to_string(getpid()) + ".js";
    std::ofstream(file) << kNodeProgram;
    FILE* pipe = popen(("node '" + file + "' 2>/dev/null").c_str(), "r");
    double microseconds = -1;
    if (pipe) {
      if (std::fscanf(pipe, "%lf", &microseconds) != 1) microseconds = -1;
      pclose(pipe);
    }
    std::remove(file.c_str());
    return microseconds;
  }();
  return answer;
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
  double node = nodeMicrosecondsPerEvent();
  state.counters["ours_us"] = ours;
  if (node > 0) {
    state.counters["node_us"] = node;
    state.counters["ratio"] = ours / node;
  }
}
BENCHMARK(BM_EditingProgramPerEvent)->Unit(benchmark::kMicrosecond);

}  // namespace
