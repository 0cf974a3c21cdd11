// Event editing: programs loaded through GWLPEventEditing, whose edit and
// create rules run over events as real rules, and the editable event itself.
#include "analytics/audiences/interpreter/GWLPEventEditing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "EditingPrograms.h"
#include "analytics/audiences/interpreter/GWLPEditingCallbackHandler.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPLimits.h"

using namespace script;
using namespace editing_test;

namespace {

// "runtime 9", "editing 4", or "" without an error.
std::string ErrorText(const platform::Error& error) {
  if (!GWLPFailed(error)) return "";
  std::string domain = error.domain == kGWLPEditingErrorDomain   ? "editing"
                       : error.domain == kGWLPRuntimeErrorDomain ? "runtime"
                                                                 : error.domain;
  return domain + " " + std::to_string(error.code);
}

std::string Load(GWLPEventEditing& editing, const GWLPProgram& program) {
  platform::Error error;
  bool loaded = editing.loadProgram(program, &error);
  EXPECT_EQ(loaded, !GWLPFailed(error));
  return ErrorText(error);
}

// The event the rules see: a purchase with a text, an integer, a double and items.
GWLPEvent Purchase() {
  return GWLPEvent("purchase", 1'700'000'000.25,
                   {{"label", "gold"},
                    {"count", int64_t{1}},
                    {"value", 1.5},
                    {"_c", int64_t{1}},
                    {"order", ""},
                    {"items", platform::Array{platform::Dictionary{{"item_id", "sku"}}}}});
}

// setParamValue(name, value); return 0
std::vector<GWLPValueRef> SetAndKeep(const std::string& name, GWLPValueRef value) {
  return {E("setParamValue", {S(name), value}), Ret(N(0))};
}

// Appends `label` to the text parameter "order": the rules' run order.
GWLPValueRef Mark(const std::string& label) {
  return E("setParamValue", {S("order"), C(0, {E("getParamValue", {S("order")}), S(label)})});
}

TEST(GWLPEventEditingTest, ARulesResultDecidesWhetherItsChangesStay) {
  struct Case {
    const char* what;
    std::vector<GWLPValueRef> body;
    bool kept;
  };
  const std::vector<Case> cases = {
      {"return 2", {E("setParamValue", {S("x"), N(1)}), Ret(N(2))}, false},
      {"return a text", {E("setParamValue", {S("x"), N(1)}), Ret(S("0"))}, false},
      {"last statement not a number", {E("setParamValue", {S("x"), N(1)}), S("done")}, false},
      // setParamValue answers the value it was given: here the number 1.
      {"ends with setParamValue of a number", {E("setParamValue", {S("x"), N(1)})}, true},
      {"ends with setParamValue of a text", {E("setParamValue", {S("x"), S("one")})}, false},
      {"return 0", {E("setParamValue", {S("x"), N(1)}), Ret(N(0))}, true},
      {"last statement a number", {E("setParamValue", {S("x"), N(1)}), N(7)}, true},
      {"return 2.5 (2 once truncated)", {E("setParamValue", {S("x"), N(1)}), Ret(N(2.5))}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    GWLPEventEditing editing;
    ASSERT_EQ(Load(editing, Program({Entry("edit", std::nullopt, c.body)})),
              "");
    platform::Error error;
    EXPECT_EQ(editing.handleEvent(Purchase(), &error), c.kept);
    EXPECT_EQ(ErrorText(error), "");
    EXPECT_EQ(editing.hasEdits(), c.kept);
    EXPECT_EQ(editing.eventContext()->outputEvent().hasParameterName("x"), c.kept);
    EXPECT_FALSE(editing.hasCreatedEvents());
  }
}

TEST(GWLPEventEditingTest, ADiscardedRuleLeavesTheEventAsTheRuleFoundIt) {
  // The first rule's change stays; the second renames, changes, removes and
  // adds parameters (one of them twice) and answers 2: all of it is undone.
  GWLPEventEditing editing;
  ASSERT_EQ(Load(editing, Program({Entry("edit", 1, SetAndKeep("kept", S("yes"))),
                                   Entry("edit", 2,
                                         {E("setEventName", {S("renamed")}), E("setParamValue", {S("label"), S("a")}),
                                          E("setParamValue", {S("label"), S("b")}),
                                          E("setParamValue", {S("count"), Null()}),
                                          E("setParamValue", {S("kept"), S("no")}),
                                          E("setParamValue", {S("added"), N(1)}), Ret(N(2))})})),
            "");
  ASSERT_TRUE(editing.handleEvent(Purchase()));
  GWLPEvent expected = Purchase();
  expected.setParameter(platform::Object("yes"), "kept");
  EXPECT_TRUE(editing.eventContext()->outputEvent().isEqualToEvent(expected));
  EXPECT_EQ(editing.eventContext()->outputEvent().parameters(), expected.parameters());
}

TEST(GWLPEventEditingTest, SettingAParameterToNullRemovesItAndIsAnEdit) {
  GWLPEventEditing editing;
  ASSERT_EQ(Load(editing, Program({Entry("edit", std::nullopt, {E("setParamValue", {S("label"), Null()}), Ret(N(0))})})),
            "");
  EXPECT_TRUE(editing.handleEvent(Purchase()));
  EXPECT_TRUE(editing.hasEdits());
  EXPECT_FALSE(editing.eventContext()->outputEvent().hasParameterName("label"));
  EXPECT_TRUE(editing.eventContext()->inputEvent().hasParameterName("label"));
}

TEST(GWLPEventEditingTest, RulesRunInPriorityOrderAndTakenPrioritiesMoveBehind) {
  struct Case {
    std::vector<std::optional<double>> requested;
    std::vector<int64_t> registered;  // in run order
    std::string runOrder;             // rules are named A, B, C in registration order
  };
  const std::vector<Case> cases = {
      {{5, 5, 1}, {1, 5, 6}, "CAB"},
      {{5, 100, 5}, {5, 100, 101}, "ABC"},
      {{std::nullopt, std::nullopt}, {1000, 1001}, "AB"},
      // 64-bit inside: a rule moved behind the largest 32-bit priority does not wrap.
      {{2147483647, 2147483647}, {2147483647, 2147483648}, "AB"},
      // A priority converts as a 32-bit integer: 2^32 + 3 asks for 3.
      {{4294967299.0, 4}, {3, 4}, "AB"},
  };
  for (const auto& c : cases) {
    std::vector<GWLPValueRef> entries;
    for (size_t i = 0; i < c.requested.size(); ++i) {
      entries.push_back(Entry("edit", c.requested[i], {Mark(std::string(1, char('A' + i))), Ret(N(0))}));
    }
    GWLPEventEditing editing;
    ASSERT_EQ(Load(editing, Program(entries)), "");
    std::vector<int64_t> registered;
    for (const auto& rule : editing.callbackHandler().editRules()) registered.push_back(rule.priority);
    EXPECT_EQ(registered, c.registered);
    ASSERT_TRUE(editing.handleEvent(Purchase()));
    EXPECT_EQ(*editing.eventContext()->outputEvent().parameterForName("order"), platform::Object(c.runOrder));
  }
}

TEST(GWLPEventEditingTest, LoadingFailsWithTheFirstError) {
  std::vector<GWLPValueRef> tooMany;
  for (int i = 0; i < 1001; ++i) tooMany.push_back(Entry(i % 2 ? "edit" : "create", i, {Ret(N(0))}));
  const GWLPValueRef rule = Fn("", {"e"}, {Ret(N(0))});
  struct Case {
    const char* what;
    GWLPProgram program;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"1001st rule", Program(tooMany), "editing 4"},
      {"no type", Program({Obj({S("fn"), rule})}), "editing 2"},
      {"type modify", Program({Entry("modify", std::nullopt, {Ret(N(0))})}), "editing 3"},
      {"top-level return", ProgramOf({RuleActivity(), Ret(N(1))}), "editing 5"},
      {"numeric activity datum", ProgramOf({RuleActivity()}, {{"rule", {N(3)}}}), "editing 6"},
      {"activity named after a number", ProgramOf({Let("five", N(5))}, {{"five", {Obj({})}}}), "editing 7"},
      {"activity named after nothing", ProgramOf({}, {{"missing", {Obj({})}}}), "editing 7"},
      {"callback not a function",
       Program({Obj({S("type"), S("edit"), S("fn"), N(1)})}), "runtime 10"},
      {"registration with two arguments",
       ProgramOf({C(50, {S("two"), Arr({S("o")}), Let("reg", Require("internal.registerCallback")),
                         Invoke("reg", {S("rule"), Var("o")})})},
                 {{"two", {Obj({})}}}),
       "runtime 9"},
      {"statement error at top level", ProgramOf({Invoke("require")}), "runtime 9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    GWLPEventEditing editing;
    EXPECT_EQ(Load(editing, c.program), c.error);
  }
  // Rules registered before the failure stay registered (the caller drops the engine).
  GWLPEventEditing editing;
  EXPECT_EQ(Load(editing, Program(tooMany)), "editing 4");
  EXPECT_EQ(editing.callbackHandler().ruleCount(), kGWLPMaxEditingRules);
}

TEST(GWLPEventEditingTest, SetParamValueNormalisesNumbersAgainstTheOldValue) {
  struct Case {
    std::string name;
    std::optional<platform::Object> old;
    GWLPValueRef value;
    platform::Object stored;
  };
  const double kBig = 1e300;
  const std::vector<Case> cases = {
      {"_c", int64_t{1}, N(7), int64_t{1}},  // an internal integer keeps its value
      {"_err", std::nullopt, N(2.7), int64_t{2}},
      {"_err", int64_t{5}, N(-2.7), int64_t{-2}},
      {"_syn", 1.5, N(3.9), int64_t{3}},
      {"_el", std::nullopt, N(kBig), std::numeric_limits<int64_t>::max()},  // saturates
      {"_el", std::nullopt, NaN(), "NaN"},  // NaN has no native number: its text
      {"label", "gold", N(5), "5"},
      {"label", "gold", N(2.5), "2.5"},
      {"count", int64_t{1}, N(2.5), int64_t{2}},
      {"count", int64_t{1}, N(-1e30), std::numeric_limits<int64_t>::min()},
      {"", int64_t{3}, N(9.9), int64_t{9}},
      {"value", 1.5, N(3), 3.0},
      {"fresh", std::nullopt, N(3), 3.0},
      {"items", platform::Array{}, N(4), 4.0},
      {"count", int64_t{1}, S("x"), "x"},
      {"_c", int64_t{1}, S("12"), int64_t{1}},  // the text 12 arrives as the number 12
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name + " <- " + c.stored.description());
    GWLPEventEditing editing;
    auto body = SetAndKeep(c.name, c.value);
    ASSERT_EQ(Load(editing, Program({Entry("edit", std::nullopt, body)})),
              "");
    platform::Dictionary parameters;
    if (c.old) parameters[c.name] = *c.old;
    platform::Error error;
    editing.handleEvent(GWLPEvent("e", 1, parameters), &error);
    ASSERT_EQ(ErrorText(error), "");
    const platform::Object* stored = editing.eventContext()->outputEvent().parameterForName(c.name);
    ASSERT_TRUE(stored);
    EXPECT_EQ(*stored, c.stored);
    EXPECT_EQ(stored->type(), c.stored.type());
  }
}

TEST(GWLPEventEditingTest, EventObjectMethodsReadAndChangeTheOutputEvent) {
  const GWLPValueRef firstItem = Get(E("getParamValue", {S("items")}), N(0));
  const GWLPValueRef missingIsNull = C(20, {E("getParamValue", {S("missing")}), Null()});
  GWLPEventEditing editing;
  ASSERT_EQ(Load(editing, Program({Entry("edit", std::nullopt,
                                         {E("setParamValue", {S("was"), E("getEventName")}),
                                          E("setEventName", {S("renamed")}),
                                          E("setParamValue", {S("time"), E("getTimestamp")}),
                                          E("setParamValue", {S("copy"), Get(E("getParams"), S("label"))}),
                                          E("setParamValue", {S("found"), missingIsNull}),
                                          E("setParamValue", {S("item"), Get(firstItem, S("item_id"))}),
                                          Ret(N(0))})})),
            "");
  ASSERT_TRUE(editing.handleEvent(Purchase()));
  const GWLPEvent& output = editing.eventContext()->outputEvent();
  EXPECT_EQ(output.name(), "renamed");
  EXPECT_EQ(*output.parameterForName("was"), platform::Object("purchase"));
  EXPECT_EQ(*output.parameterForName("time"), platform::Object(1'700'000'000.25));
  EXPECT_EQ(*output.parameterForName("copy"), platform::Object("gold"));
  EXPECT_EQ(*output.parameterForName("found"), platform::Object(1.0));  // true, as a number
  EXPECT_EQ(*output.parameterForName("item"), platform::Object("sku"));
  EXPECT_EQ(editing.eventContext()->inputEvent().name(), "purchase");
}

TEST(GWLPEventEditingTest, ParameterReadsFollowChangesWithinARunAndAcrossEvents) {
  // On each of two events the rule reads "p" (as "a"), sets it to `next` and
  // reads it again through getParams (as "b"); the reads pass through
  // `read`. The second event's reads must see its own values.
  const auto inverse = [](GWLPValueRef x) { return C(10, {N(1), x}); };  // 1 / x tells 0 from -0
  const auto kind = [](GWLPValueRef x) { return C(40, {x}); };           // typeof x
  const auto same = [](GWLPValueRef x) { return x; };
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    const char* what;
    platform::Object first, second;
    GWLPValueRef next;
    std::function<GWLPValueRef(GWLPValueRef)> read;
    platform::Object a, b;  // on the second event
  };
  const std::vector<Case> cases = {
      {"texts", "gold", "silver", S("bronze"), same, "silver", "bronze"},
      {"numbers", 1.5, 2.5, N(3.5), same, 2.5, 3.5},
      {"zero and minus zero", 0.0, -0.0, N(0), inverse, -inf, inf},
      {"a text, then a number", "7", int64_t{7}, S("x"), kind, "number", "string"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    GWLPEventEditing editing;
    ASSERT_EQ(Load(editing, Program({Entry("edit", std::nullopt,
                                           {E("setParamValue", {S("a"), c.read(E("getParamValue", {S("p")}))}),
                                            E("setParamValue", {S("p"), c.next}),
                                            E("setParamValue", {S("b"), c.read(Get(E("getParams"), S("p")))}),
                                            Ret(N(0))})})),
              "");
    for (const platform::Object& p : {c.first, c.second}) {
      platform::Error error;
      editing.handleEvent(GWLPEvent("e", 1, {{"p", p}}), &error);
      ASSERT_EQ(ErrorText(error), "");
    }
    const GWLPEvent& output = editing.eventContext()->outputEvent();
    EXPECT_EQ(*output.parameterForName("a"), c.a);
    EXPECT_EQ(*output.parameterForName("b"), c.b);
  }
}

TEST(GWLPEventEditingTest, EventObjectMethodsCheckTheirArguments) {
  const std::vector<std::pair<std::vector<GWLPValueRef>, std::string>> cases = {
      {{E("setEventName", {Undefined()})}, "runtime 10"},
      {{E("setEventName", {Null()})}, "runtime 10"},
      {{E("getEventName", {N(1)})}, "runtime 9"},
      {{E("getParamValue")}, "runtime 9"},
      {{E("setParamValue", {S("a")})}, "runtime 9"},
      {{E("noSuchMethod")}, "runtime 17"},
  };
  for (const auto& [body, error] : cases) {
    SCOPED_TRACE(error);
    GWLPEventEditing editing;
    std::vector<GWLPValueRef> full = {E("setParamValue", {S("before"), N(1)})};
    full.insert(full.end(), body.begin(), body.end());
    ASSERT_EQ(Load(editing, Program({Entry("edit", std::nullopt, full)})),
              "");
    platform::Error runError;
    EXPECT_FALSE(editing.handleEvent(Purchase(), &runError));
    EXPECT_EQ(ErrorText(runError), error);
    // The failing rule's own changes are undone.
    EXPECT_FALSE(editing.hasEdits());
  }
}

TEST(GWLPEventEditingTest, EveryRunGetsAnEventObjectNoEarlierRunTouched) {
  // Each rule records what it finds of an earlier run, then leaves a trace
  // of its own on the event object; the second event must find none.
  struct Case {
    const char* what;
    GWLPValueRef seen;   // what the rule records as "seen"
    GWLPValueRef trace;  // how it marks the object
    platform::Object expected;
  };
  const std::vector<Case> cases = {
      // e.tag read while missing is undefined, stored as the empty text.
      {"a property added", Get(Var("e"), S("tag")), Put(Var("e"), S("tag"), N(1)), platform::Object("")},
      {"the object kept in a global", C(20, {Var("kept"), Var("e")}), Set("kept", Var("e")), platform::Object(0.0)},
      {"the object kept by a closure", C(20, {Invoke("keeper"), Var("e")}),
       Set("keeper", Fn("", {}, {Ret(Var("e"))})), platform::Object(0.0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    GWLPEventEditing editing;
    ASSERT_EQ(Load(editing, Program({Entry("edit", std::nullopt,
                                           {E("setParamValue", {S("seen"), c.seen}), c.trace, Ret(N(0))})},
                                    {Let("kept", Null()), Let("keeper", Fn("", {}, {Ret(Null())}))})),
              "");
    for (int run = 0; run < 2; ++run) {
      platform::Error error;
      EXPECT_TRUE(editing.handleEvent(Purchase(), &error));
      ASSERT_EQ(ErrorText(error), "");
      EXPECT_EQ(*editing.eventContext()->outputEvent().parameterForName("seen"), c.expected) << "run " << run;
    }
  }
}

TEST(GWLPEventEditingTest, AFailingRuleEndsTheRunAndKeepsWhatEarlierRulesDid) {
  GWLPEventEditing editing;
  const GWLPValueRef logEvent = Invoke("log", {S("made"), N(1), Obj({})});
  ASSERT_EQ(Load(editing, Program({Entry("edit", 1, SetAndKeep("first", N(1))),
                                   Entry("edit", 2, {E("setParamValue", {S("second"), N(1)}), Invoke("require")}),
                                   Entry("create", 3, {Let("log", Require("internal.eventLogger")), logEvent,
                                                       Invoke("require")})})),
            "");
  platform::Error error;
  EXPECT_FALSE(editing.handleEvent(Purchase(), &error));
  EXPECT_EQ(ErrorText(error), "runtime 9");
  EXPECT_TRUE(editing.eventContext()->outputEvent().hasParameterName("first"));
  EXPECT_FALSE(editing.eventContext()->outputEvent().hasParameterName("second"));
  EXPECT_FALSE(editing.hasCreatedEvents()) << "the create rules never ran";
}

TEST(GWLPEventEditingTest, ACreateRulesFailureKeepsTheEventsCreatedSoFar) {
  GWLPEventEditing editing;
  ASSERT_EQ(Load(editing, Program({Entry("create", 1, {Let("log", Require("internal.eventLogger")),
                                                       Invoke("log", {S("made"), N(1), Obj({})}),
                                                       Invoke("log", {S("broken")})})})),
            "");
  platform::Error error;
  EXPECT_FALSE(editing.handleEvent(Purchase(), &error));
  EXPECT_EQ(ErrorText(error), "runtime 9");
  EXPECT_EQ(editing.eventContext()->eventsToLog().size(), 1u);
}

TEST(GWLPEventEditingTest, CreatedEventsGetWholeSecondsAndNormalisedParameters) {
  struct Case {
    GWLPValueRef time;
    double stored;
  };
  const std::vector<Case> cases = {
      {N(12.9), 12},
      {N(-3.5), -3},
      {S("7.5"), 7},
      {Inf(), 9223372036854775807.0},
      {C(27, {Inf()}), -9223372036854775808.0},
      {NaN(), 0},
  };
  for (const auto& c : cases) {
    GWLPEventEditing editing;
    ASSERT_EQ(Load(editing, Program({Entry("create", std::nullopt,
                                           {Let("log", Require("internal.eventLogger")),
                                            Invoke("log", {S("made"), c.time,
                                                           Obj({S("label"), N(5), S("count"), N(2.5), S("gone"), Null(),
                                                                S("_c"), N(3)})})})})),
              "");
    platform::Error error;
    EXPECT_TRUE(editing.handleEvent(Purchase(), &error));
    ASSERT_EQ(ErrorText(error), "");
    ASSERT_TRUE(editing.hasCreatedEvents());
    EXPECT_FALSE(editing.hasEdits());
    const GWLPEvent& made = editing.eventContext()->eventsToLog().at(0);
    EXPECT_EQ(made.name(), "made");
    EXPECT_EQ(made.timestamp(), c.stored);
    // Normalised against the input event's parameters of the same names.
    EXPECT_EQ(made.parameters(), (platform::Dictionary{{"label", "5"}, {"count", int64_t{2}}, {"_c", int64_t{1}}}));
  }
}

TEST(GWLPEventEditingTest, ARunCreatesAtMostAThousandEvents) {
  for (const auto& [count, error] : std::vector<std::pair<double, std::string>>{{1000, ""}, {1001, "runtime 19"}}) {
    GWLPEventEditing editing;
    ASSERT_EQ(Load(editing, Program({Entry("create", std::nullopt,
                                           {Let("log", Require("internal.eventLogger")),
                                            ForCount("i", 0, count, {Invoke("log", {S("made"), Var("i"), Obj({})})})})})),
              "");
    for (int run = 0; run < 2; ++run) {  // each run starts from none
      platform::Error runError;
      editing.handleEvent(Purchase(), &runError);
      EXPECT_EQ(ErrorText(runError), error);
      EXPECT_EQ(editing.eventContext()->eventsToLog().size(), 1000u);
    }
  }
}

TEST(GWLPEventEditingTest, WhatRulesHandOverCountsAgainstTheRunsHeapBudget) {
  // A text of 2^17 characters, then as many events or parameters carrying it
  // as the run allows.
  const std::vector<GWLPValueRef> bigText = {Let("text", S("x")),
                                             ForCount("i", 0, 17, {Set("text", C(0, {Var("text"), Var("text")}))})};
  const GWLPValueRef createOne = Invoke("log", {S("made"), N(1), Obj({S("text"), Var("text")})});
  const GWLPValueRef setOne = E("setParamValue", {C(0, {S("p"), Var("i")}), Var("text")});
  for (const auto& [type, body] : std::vector<std::pair<std::string, GWLPValueRef>>{
           {"create", C(53, {Let("log", Require("internal.eventLogger")), ForCount("i", 0, 1000, {createOne})})},
           {"edit", ForCount("i", 0, 1000, {setOne})}}) {
    SCOPED_TRACE(type);
    std::vector<GWLPValueRef> rule = bigText;
    rule.push_back(body);
    GWLPEventEditing editing;
    ASSERT_EQ(Load(editing, Program({Entry(type, std::nullopt, rule)})), "");
    platform::Error error;
    EXPECT_FALSE(editing.handleEvent(Purchase(), &error));
    EXPECT_EQ(ErrorText(error), "runtime 19");
    const size_t kept = editing.eventContext()->eventsToLog().size() + editing.eventContext()->outputEvent().parameters().size();
    EXPECT_LT(kept, kGWLPHeapBudgetBytes / (size_t{1} << 17) + Purchase().parameters().size());
  }
}

TEST(GWLPEventEditingTest, ARuleRegisteredDuringARunJoinsFromTheNextEvent) {
  GWLPEventEditing editing;
  // The first rule registers a second one, once; the second marks the event.
  const GWLPValueRef late = Fn("", {"e"}, {E("setParamValue", {S("late"), N(1)}), Ret(N(0))});
  ASSERT_EQ(Load(editing, Program({Entry("edit", 1,
                                         {C(22, {C(28, {Var("registered")}),
                                                 List({Set("registered", B(true)),
                                                       Let("reg", Require("internal.registerCallback")),
                                                       Invoke("reg", {S("late"), late,
                                                                      Obj({S("type"), S("edit"), S("priority"),
                                                                           N(5)})})})}),
                                          Ret(N(0))})},
                                 {Let("registered", B(false))})),
            "");
  ASSERT_EQ(ErrorText([&] {
              platform::Error error;
              editing.handleEvent(Purchase(), &error);
              return error;
            }()),
            "");
  EXPECT_FALSE(editing.eventContext()->outputEvent().hasParameterName("late"));
  EXPECT_EQ(editing.callbackHandler().editRules().size(), 2u);
  editing.handleEvent(Purchase());
  EXPECT_TRUE(editing.eventContext()->outputEvent().hasParameterName("late"));
  EXPECT_EQ(editing.callbackHandler().editRules().size(), 2u);
}

TEST(GWLPEventEditingTest, ARuleThatNeverEndsFailsAndTheNextEventRunsAfresh) {
  GWLPEventEditing editing;
  ASSERT_EQ(Load(editing, Program({Entry("edit", 1,
                                         {C(22, {C(20, {E("getEventName"), S("loop")}),
                                                 List({C(42, {B(true), N(0), B(false), List({})})})}),
                                          E("setParamValue", {S("seen"), N(1)}), Ret(N(0))})})),
            "");
  platform::Error error;
  EXPECT_FALSE(editing.handleEvent(GWLPEvent("loop", 1), &error));
  EXPECT_EQ(ErrorText(error), "runtime 18");
  platform::Error next;
  EXPECT_TRUE(editing.handleEvent(Purchase(), &next));
  EXPECT_EQ(ErrorText(next), "");
  EXPECT_TRUE(editing.eventContext()->outputEvent().hasParameterName("seen"));
}

TEST(GWLPEventTest, EqualityComparesNamesTimesAndParametersByKind) {
  const GWLPEvent base("e", 10, {{"n", int64_t{1}}, {"items", platform::Array{platform::Dictionary{{"q", int64_t{1}}}}}});
  struct Case {
    const char* what;
    GWLPEvent other;
    bool equal;
  };
  const std::vector<Case> cases = {
      {"the same", base, true},
      {"time within 2^-52", GWLPEvent("e", 10 + 1e-17, base.parameters()), true},
      {"later time", GWLPEvent("e", 10.001, base.parameters()), false},
      {"other name", GWLPEvent("f", 10, base.parameters()), false},
      {"extra parameter",
       GWLPEvent("e", 10, {{"n", int64_t{1}}, {"x", ""}, {"items", base.parameters().at("items")}}), false},
      {"1.0 against 1", GWLPEvent("e", 10, {{"n", 1.0}, {"items", base.parameters().at("items")}}), false},
      {"1.0 inside items",
       GWLPEvent("e", 10, {{"n", int64_t{1}}, {"items", platform::Array{platform::Dictionary{{"q", 1.0}}}}}), true},
      {"other item value",
       GWLPEvent("e", 10, {{"n", int64_t{1}}, {"items", platform::Array{platform::Dictionary{{"q", 2.0}}}}}), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(base.isEqualToEvent(c.other), c.equal);
    EXPECT_EQ(c.other.isEqualToEvent(base), c.equal);
  }
  const GWLPEvent nan("e", 10, {{"d", std::nan("")}});
  EXPECT_TRUE(nan.isEqualToEvent(GWLPEvent("e", 10, {{"d", std::nan("")}})));
}

TEST(GWLPEventTest, DiscardingRestoresEveryParameterAfterManyRepeatedChanges) {
  // Forty names (beyond what a short search covers), each changed three
  // times, half of them removed in between; then a second recording reuses
  // the journal and keeps its changes.
  GWLPEvent event("e", 1, {{"p0", "x"}, {"p7", int64_t{7}}, {"p33", 3.5}});
  const GWLPEvent before = event;
  event.beginChanges();
  event.setName("renamed");
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 40; ++i) {
      const std::string name = "p" + std::to_string(i);
      event.setParameter(i % 2 && round == 1 ? platform::Object() : platform::Object(round * 100 + i), name);
    }
  }
  event.discardChanges();
  EXPECT_TRUE(event.isEqualToEvent(before));
  EXPECT_EQ(event.parameters(), before.parameters());

  event.beginChanges();
  event.setParameter(platform::Object("y"), "p0");
  event.setParameter(platform::Object(), "p7");
  event.keepChanges();
  event.discardChanges();  // nothing recorded any more: no effect
  EXPECT_EQ(*event.parameterForName("p0"), platform::Object("y"));
  EXPECT_FALSE(event.hasParameterName("p7"));
}

TEST(GWLPEventTest, CopiesShareParametersUntilOneChanges) {
  GWLPEvent original("e", 1, {{"a", "x"}});
  GWLPEvent copy = original;
  copy.setParameter(platform::Object("y"), "a");
  EXPECT_EQ(*original.parameterForName("a"), platform::Object("x"));
  EXPECT_EQ(*copy.parameterForName("a"), platform::Object("y"));
  copy.setParameter(platform::Object(), "a");
  EXPECT_FALSE(copy.hasParameterName("a"));
  EXPECT_TRUE(original.hasParameterName("a"));

  // Assigned over and changed, an event holds the new parameters and its
  // change alone: nothing of what it held before (alone, as `copy`, or with
  // a copy, as `original`), and the copies keep theirs.
  copy.setParameter(platform::Object("s"), "stale");
  const GWLPEvent held = original;
  const GWLPEvent next("n", 2, {{"b", int64_t{1}}});
  for (GWLPEvent* event : {&copy, &original}) {
    *event = next;
    event->setParameter(platform::Object("z"), "c");
    EXPECT_EQ(event->parameters(), (platform::Dictionary{{"b", int64_t{1}}, {"c", "z"}}));
  }
  EXPECT_EQ(next.parameters(), (platform::Dictionary{{"b", int64_t{1}}}));
  EXPECT_EQ(held.parameters(), (platform::Dictionary{{"a", "x"}}));
}

}  // namespace
