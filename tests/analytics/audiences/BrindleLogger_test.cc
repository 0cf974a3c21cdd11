// Script log lines on their way to the monitor: levels, flags, code 24005 and
// contexts, as the library's monitor prints and samples them.
#include "analytics/audiences/GWLBrindleLogger.h"

#include <gtest/gtest.h>

#include "../foundation/values/ValuesTestSupport.h"
#include "analytics/audiences/GWLEventEditingInterpreter.h"
#include "analytics/audiences/interpreter/GWLPMessageLogger.h"
#include "interpreter/EditingPrograms.h"

using namespace script;
using namespace editing_test;

namespace {

TEST(GWLBrindleLoggerTest, MapsScriptLevelsAndFlagsToMonitorLevels) {
  struct Case {
    int64_t scriptLevel;
    bool silent;
    bool monitored;
    int64_t monitorLevel;
  };
  const Case cases[] = {
      {2, true, false, 8}, {3, false, true, 7},  {5, true, true, 5},   {5, false, true, 4},  {5, false, false, 3},
      {6, true, true, 2},  {6, false, true, 1},  {6, false, false, 0}, {4, false, true, 6},  {4, true, false, 6},
      {0, false, true, 6}, {-6, false, true, 6}, {7, false, true, 6},  {INT64_MAX, true, true, 6},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GWLBrindleLogger::monitorLevel(c.scriptLevel, c.silent, c.monitored), c.monitorLevel)
        << c.scriptLevel << " silent " << c.silent << " monitored " << c.monitored;
  }
}

class ScriptLogTest : public foundation_test::LibraryMonitorTest {
 protected:
  // Runs top-level statements in a runtime whose logging module reports to the monitor.
  void run(const std::vector<GWLPValueRef>& statements) {
    GWLEventEditingInterpreter runtime(monitor_);
    runtime.setModuleCreator(
        [] {
          GWLEventEditingModule module;
          module.kind = GWLEventEditingModule::Kind::MessageLogger;
          return module;
        },
        kGWLPLoggerModuleName);
    platform::Error error;
    ASSERT_TRUE(runtime.loadProgram(MessageOf(ProgramOf(statements)), &error)) << error.toString();
  }
  static GWLPValueRef log(const std::string& function, Values arguments) {
    GWLPValueRef module = Require(kGWLPLoggerModuleName);
    return Call(function == "log" ? module : Get(module, S(function)), "log", arguments);
  }
};

TEST_F(ScriptLogTest, LinesReachTheMonitorWithCode24005) {
  using foundation_test::Report;
  run({log("log", {S("hello")})});
  EXPECT_EQ(reports(), (std::vector<Report>{{6, 24005, "hello"}}));

  run({log("log", {N(6), S("m"), S("a"), S("b"), S("c"), S("d")}), log("log", {N(5.9), S("w")})});
  EXPECT_EQ(reports(), (std::vector<Report>{{1, 24005, "m: a, b, c"}, {4, 24005, "w"}}));
}

TEST_F(ScriptLogTest, ErrorsAreShownAndRecordedSilentOnlyRecordedUnmonitoredOnlyShown) {
  using foundation_test::Report;
  run({log("log", {N(6), S("own")})});
  EXPECT_EQ(reports(), (std::vector<Report>{{1, 24005, "own"}}));
  EXPECT_EQ(lastSampledKey(), "1E_120500:own");

  run({log("silent", {N(6), S("quiet")})});
  EXPECT_TRUE(reports().empty());
  EXPECT_EQ(lastSampledKey(), "1E_120500:quiet");  // level 2: recorded, never shown

  run({log("unmonitored", {N(6), S("loud")})});
  EXPECT_EQ(reports(), (std::vector<Report>{{0, 24005, "loud"}}));
  EXPECT_EQ(lastSampledKey(), "1E_120500:quiet");
}

}  // namespace
