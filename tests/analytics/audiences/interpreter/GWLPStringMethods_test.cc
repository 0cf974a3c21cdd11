// String methods beyond the vector table: the bounds that keep a hostile
// pattern or text from hanging or exhausting a run, and the locale-dependent
// case mapping.
#include <gtest/gtest.h>

#include <unicode/uloc.h>

#include "ScriptBuilders.h"
#include "analytics/audiences/interpreter/GWLPLimits.h"

using namespace script;

namespace {

TEST(GWLPStringMethodsTest, CatastrophicPatternEndsTheMethodWithAnErrorAndTheRuntimeStaysUsable) {
  GWLPRuntime runtime;
  const std::string subject = std::string(30, 'a') + "b";
  for (const char* method : {"match", "search"}) {
    EXPECT_EQ(script::Run(runtime, {Call(S(subject), method, {S("(a+)+$")})}), "error 19") << method;
  }
  // Nested quantifiers over a long text exhaust the backtracking stack bound
  // instead of the process.
  EXPECT_EQ(script::Run(runtime, {Call(S(std::string(200000, 'a')), "search", {S("(a|aa)*c")})}), "error 19");
  EXPECT_EQ(script::Run(runtime, {Call(S(subject), "search", {S("a+b")})}), "0");
}

TEST(GWLPStringMethodsTest, TextsBeyondTheCapFailInsteadOfGrowing) {
  GWLPRuntime runtime;
  // s = "x"; while (true) s = s + s;  and the same with "concat".
  for (GWLPValueRef grow : {Set("s", C(0, {Var("s"), Var("s")})), Set("s", Call(Var("s"), "concat", {Var("s")}))}) {
    GWLPValueRef loop = C(42, {B(true), Undefined(), B(false), List({grow})});
    EXPECT_EQ(script::Run(runtime, {Let("s", S("x")), loop}), "error 19");
  }
  // Splitting a long text into single units stops at the array slot cap.
  std::string longText(kGWLPMaxArraySlots + 1, 'a');
  EXPECT_EQ(script::Run(runtime, {Call(S(longText), "split", {S("")})}), "error 19");
  EXPECT_EQ(script::Run(runtime, {Get(Call(S(longText), "split", {S(""), N(3)}), S("length"))}), "3");
}

TEST(GWLPStringMethodsTest, ReadingALongTextOverAndOverSpendsTheRunsWorkBudget) {
  GWLPRuntime runtime;
  // A megabyte of text that is not all ASCII, read in a loop that never ends
  // by itself: each read walks the whole text, so the run's work budget ends
  // the loop long before its instruction limit would.
  std::string text;
  for (int i = 0; i < (1 << 19); ++i) text += "\u00e9";
  for (GWLPValueRef read : {Get(Var("s"), S("length")), Get(Var("s"), N(5)), Call(Var("s"), "charAt", {N(5)}),
                            C(66, {S("c"), C(0, {S("\u00e9"), Var("s")}), List({C(4)})})}) {
    GWLPValueRef loop = C(42, {B(true), Undefined(), B(false), List({read})});
    EXPECT_EQ(script::Run(runtime, {Let("s", S(text)), loop}), "error 19");
  }
}

TEST(GWLPStringMethodsTest, LocaleCaseMappingFollowsTheCurrentLocale) {
  std::string saved = uloc_getDefault();
  UErrorCode status = U_ZERO_ERROR;
  uloc_setDefault("tr_TR", &status);
  GWLPRuntime runtime;
  EXPECT_EQ(script::Run(runtime, {Call(S("i"), "toLocaleUpperCase")}), "\"\u0130\"");
  EXPECT_EQ(script::Run(runtime, {Call(S("I"), "toLocaleLowerCase")}), "\"\u0131\"");
  EXPECT_EQ(script::Run(runtime, {Call(S("i"), "toUpperCase")}), "\"I\"");
  EXPECT_EQ(script::Run(runtime, {Call(S("I"), "toLowerCase")}), "\"i\"");
  uloc_setDefault(saved.c_str(), &status);
}

}  // namespace
