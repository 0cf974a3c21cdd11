// A realistic event-editing program run per event as real rules: four edit
// rules registered by the program's activity through
// "internal.registerCallback", each reading and changing the event through
// the event object's methods (a currency conversion, a cleaned screen name,
// debug parameters removed and a counter raised, and a switch on the event
// name). Each event goes through GWLPEventEditing::handleEvent: the input
// event copied to the output, a copy before every edit rule, the rules, the
// comparison of output and input, and a collection. Beside it, the same
// engine without rules (bare_us): what handling costs before any program
// runs.
//
// The same script runs in the same benchmark run in three JavaScript engines,
// each parsing the event from JSON, running the four rules over an event
// object with the same methods (a copy of the parameters before each rule, so
// that a rule's changes can be discarded) and writing the event back to JSON:
// node with its compiler (node_us), node's bytecode interpreter alone (node
// --jitless, jitless_us) and Duktape, embedded (duktape_us). The counters
// report the microseconds per event of each and our ratio to each (ours /
// theirs); an engine that is missing has no counters.
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
#include "analytics/audiences/interpreter/GWLPEventEditing.h"
#include "analytics/audiences/interpreter/GWLPNumberValue.h"
#include "analytics/audiences/interpreter/GWLPStatementValue.h"
#include "analytics/audiences/interpreter/GWLPStringValue.h"

namespace {

using Entity = GWLPRuntimeEntity;
using Entities = std::initializer_list<Entity>;
using Command = GWLPCommand;

// A statement of `command`, named by its number as a program names it.
Entity C(Command command, Entities arguments = {}) {
  Entity entity;
  entity.kind = kGWLPEntityKindStatement;
  entity.functionName = std::to_string(GWLPCommandEntryFor(command).number);
  entity.value.assign(arguments.begin(), arguments.end());
  return entity;
}
Entity S(const std::string& text) {
  Entity entity;
  entity.kind = kGWLPEntityKindString;
  entity.stringValue = text;
  return entity;
}
Entity N(double number) {
  Entity entity;
  entity.kind = kGWLPEntityKindNumber;
  entity.numberValue = number;
  return entity;
}
// A call of the function bound to `name`.
Entity Invoke(const std::string& name, Entities arguments) {
  Entity entity = C(Command::Add, arguments);
  entity.functionName = name;
  return entity;
}
Entity Var(const std::string& name) { return C(Command::GetVariable, {S(name)}); }
Entity Get(Entity object, const std::string& key) { return C(Command::GetProperty, {object, S(key)}); }
Entity List(Entities statements) { return C(Command::StatementList, statements); }
Entity Call(Entity receiver, const std::string& method, Entities arguments = {}) {
  return C(Command::CallMethod, {receiver, S(method), List(arguments)});
}
Entity Const(const std::string& name, Entity value) { return C(Command::DeclareConstants, {S(name), value}); }
Entity If(Entity condition, Entity then) { return C(Command::If, {condition, then}); }
Entity Is(Entity left, Entity right) { return C(Command::StrictEquals, {left, right}); }
Entity E(const std::string& method, Entities arguments = {}) { return Call(Var("e"), method, arguments); }
Entity Return0() { return C(Command::Return, {N(0)}); }
Entity Rule(const std::string& name, Entities body) {
  Entity rule = C(Command::FunctionDeclaration, {S(name), C(Command::CreateArray, {S("e")})});
  rule.value.insert(rule.value.end(), body.begin(), body.end());
  return rule;
}

const char* kRuleNames[] = {"r1", "r2", "r3", "r4"};

// function r1(e) { if (e.getEventName() === "purchase") { const v = e.getParamValue("value");
//   if (typeof v === "number") e.setParamValue("value_usd", v * 1.1); } return 0; }
// function r2(e) { const s = e.getParamValue("screen");
//   if (s) e.setParamValue("screen", s.toLowerCase().trim()); return 0; }
// function r3(e) { for (const k in e.getParams()) if (k.indexOf("debug_") === 0) e.setParamValue(k, null);
//   e.setParamValue("count", (e.getParamValue("count") || 0) + 1); return 0; }
// function r4(e) { switch (e.getEventName()) { case "open": e.setEventName("app_open"); break;
//   case "purchase": e.setParamValue("category", "commerce"); break; } return 0; }
// function rule(o) { const reg = require("internal.registerCallback"); reg("rule", o.fn, o); }
// with the activity "rule" over {type: "edit", priority: i, fn: ri} for each rule.
GWLPProgram program() {
  Entity r1 = Rule("r1", {If(Is(E("getEventName"), S("purchase")),
                             List({Const("v", E("getParamValue", {S("value")})),
                                   If(Is(C(Command::Typeof, {Var("v")}), S("number")),
                                      List({E("setParamValue",
                                              {S("value_usd"), C(Command::Multiply, {Var("v"), N(1.1)})})}))})),
                          Return0()});
  Entity r2 = Rule("r2", {Const("s", E("getParamValue", {S("screen")})),
                          If(Var("s"), List({E("setParamValue", {S("screen"), Call(Call(Var("s"), "toLowerCase"), "trim")})})),
                          Return0()});
  Entity r3 = Rule(
      "r3", {C(Command::ForInConst,
               {S("k"), E("getParams"),
                List({If(Is(Call(Var("k"), "indexOf", {S("debug_")}), N(0)),
                         List({E("setParamValue", {Var("k"), C(Command::NullLiteral)})}))})}),
             E("setParamValue",
               {S("count"), C(Command::Add, {C(Command::LogicalOr, {E("getParamValue", {S("count")}), N(0)}), N(1)})}),
             Return0()});
  Entity r4 = Rule(
      "r4", {C(Command::Switch,
               {E("getEventName"), List({S("open"), S("purchase")}),
                List({C(Command::RunStatements, {List({E("setEventName", {S("app_open")}), C(Command::Break)})}),
                      C(Command::RunStatements,
                        {List({E("setParamValue", {S("category"), S("commerce")}), C(Command::Break)})})})}),
             Return0()});
  Entity activity = Rule("rule", {});
  activity.value[1] = C(Command::CreateArray, {S("o")});
  activity.value.push_back(Const("reg", Invoke("require", {S("internal.registerCallback")})));
  activity.value.push_back(Invoke("reg", {S("rule"), Get(Var("o"), "fn"), Var("o")}));

  GWLPProgram program;
  program.instructions = {r1, r2, r3, r4, activity};
  GWLPOgtActivity rules;
  rules.activityName = "rule";
  for (int i = 0; i < 4; ++i) {
    rules.data.push_back(C(Command::CreateObject, {S("type"), S("edit"), S("priority"), N(i + 1), S("fn"),
                                                   Var(kRuleNames[i])}));
  }
  program.activities.push_back(std::move(rules));
  return program;
}

// The rules and one event's round trip, in the language level every engine
// reads (Duktape reads ECMAScript 5.1: var for const, no for-of). The event
// object offers the methods rules call; a rule answering 2 or no number has
// its changes undone, as in our engine.
const char* kScriptRules = R"JS(
function r1(e) { if (e.getEventName() === "purchase") { var v = e.getParamValue("value");
  if (typeof v === "number") e.setParamValue("value_usd", v * 1.1); } return 0; }
function r2(e) { var s = e.getParamValue("screen");
  if (s) e.setParamValue("screen", s.toLowerCase().trim()); return 0; }
function r3(e) { var p = e.getParams(); for (var k in p) if (k.indexOf("debug_") === 0) e.setParamValue(k, null);
  e.setParamValue("count", (e.getParamValue("count") || 0) + 1); return 0; }
function r4(e) { switch (e.getEventName()) { case "open": e.setEventName("app_open"); break;
  case "purchase": e.setParamValue("category", "commerce"); break; } return 0; }
var rules = [r1, r2, r3, r4];
function copyParams(params) { var copy = {}; for (var k in params) copy[k] = params[k]; return copy; }
function EventObject(event) { this.event = event; }
EventObject.prototype.getEventName = function () { return this.event.name; };
EventObject.prototype.setEventName = function (name) { this.event.name = String(name); return this.event.name; };
EventObject.prototype.getParamValue = function (name) {
  var v = this.event.params[name]; return v === undefined ? null : v; };
EventObject.prototype.getParams = function () { return copyParams(this.event.params); };
EventObject.prototype.setParamValue = function (name, value) {
  if (value === null) delete this.event.params[name]; else this.event.params[name] = value; return value; };
var nativeEvent = JSON.stringify({name: "purchase", params: {value: 12.5, currency: "EUR",
  screen: "  Checkout Screen ", debug_trace: "x1", count: 3}});
function runEvent() {
  var event = JSON.parse(nativeEvent);
  var object = new EventObject(event);
  for (var i = 0; i < rules.length; i++) {
    var name = event.name, params = copyParams(event.params);
    var result = rules[i](object);
    if (typeof result !== "number" || result === 2) { event.name = name; event.params = params; }
  }
  return JSON.stringify(event);
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

GWLPEvent nativeEvent() {
  return GWLPEvent("purchase", 1'700'000'000.25,
                   {{"value", 12.5},
                    {"currency", "EUR"},
                    {"screen", "  Checkout Screen "},
                    {"debug_trace", "x1"},
                    {"count", int64_t{3}}});
}

// Microseconds per event that `editing` takes for `events` runs over `event`.
double microsecondsPerEvent(GWLPEventEditing& editing, const GWLPEvent& event, int events) {
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < events; ++i) {
    bool edited = editing.handleEvent(event);
    benchmark::DoNotOptimize(edited);
  }
  return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() / events;
}

void BM_EditingProgramPerEvent(benchmark::State& state) {
  GWLPEventEditing editing;
  platform::Error error;
  if (!editing.loadProgram(program(), &error)) {
    state.SkipWithError(("the editing program did not load: " + error.toString()).c_str());
    return;
  }
  const GWLPEvent event = nativeEvent();
  {
    // The rules must really edit the event before their time means anything.
    bool edited = editing.handleEvent(event, &error);
    const GWLPEvent& output = editing.eventContext()->outputEvent();
    auto text = [&](const char* key) {
      const platform::Object* value = output.parameterForName(key);
      return value && value->stringValue() ? *value->stringValue() : std::string();
    };
    const platform::Object* count = output.parameterForName("count");
    const platform::Object* converted = output.parameterForName("value_usd");
    if (GWLPFailed(error) || !edited || output.hasParameterName("debug_trace") || !converted ||
        converted->doubleValue() != 12.5 * 1.1 || text("screen") != "checkout screen" ||
        text("category") != "commerce" || !count || count->intValue() != 4) {
      state.SkipWithError("the editing program did not edit the event as expected");
      return;
    }
  }
  int64_t events = 0;
  auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    platform::Error runError;
    bool edited = editing.handleEvent(event, &runError);
    benchmark::DoNotOptimize(edited);
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
  GWLPEventEditing bare;
  microsecondsPerEvent(bare, event, 2000);
  state.counters["bare_us"] = microsecondsPerEvent(bare, event, 100000);
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
