// The tables of script vectors, one test per group: every row's program must
// give the row's answer (see ScriptVectors.cc for the rows).
#include <gtest/gtest.h>

#include "ScriptBuilders.h"
#include "ScriptVectors.h"

namespace {

void runGroup(const std::string& group) {
  int rows = 0;
  for (const auto& row : ScriptVectors()) {
    if (row.group != group) continue;
    ++rows;
    GWLPRuntime runtime;
    EXPECT_EQ(script::Run(runtime, row.program), row.expected) << group << ": " << row.name;
  }
  EXPECT_GT(rows, 0) << group;
}

TEST(GWLPOperatorsTest, Bitwise) { runGroup("bitwise"); }
TEST(GWLPOperatorsTest, Equality) { runGroup("equality"); }
TEST(GWLPOperatorsTest, Ordering) { runGroup("ordering"); }
TEST(GWLPOperatorsTest, ShortCircuit) { runGroup("short-circuit"); }
TEST(GWLPOperatorsTest, Add) { runGroup("add"); }
TEST(GWLPOperatorsTest, DivideModuloAndTheRest) { runGroup("arithmetic"); }
TEST(GWLPOperatorsTest, AssignmentAndDeclarations) { runGroup("variables"); }
TEST(GWLPOperatorsTest, PropertyAccess) { runGroup("property"); }
TEST(GWLPOperatorsTest, Typeof) { runGroup("typeof"); }
TEST(GWLPControlFlowTest, ControlCommands) { runGroup("control"); }
TEST(GWLPControlFlowTest, SwitchFallThroughAndPropagation) { runGroup("switch"); }
TEST(GWLPControlFlowTest, LoopsClosuresPerIterationAndPropagation) { runGroup("loops"); }
TEST(GWLPStringMethodsTest, EveryMethodRow) { runGroup("string"); }

}  // namespace
