// The native modules scripts require: the logging module and its three "log"
// functions, the key-value store and the object provider, run from programs.
#include <gtest/gtest.h>

#include "EditingPrograms.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPEventEditing.h"
#include "analytics/audiences/interpreter/GWLPKeyValueStore.h"
#include "analytics/audiences/interpreter/GWLPLimits.h"
#include "analytics/audiences/interpreter/GWLPMessageLogger.h"
#include "analytics/audiences/interpreter/GWLPObjectProvider.h"
#include "analytics/audiences/interpreter/GWLPStatementValue.h"

using namespace script;
using namespace editing_test;

namespace {

struct Line {
  int64_t level;
  std::string message;
  std::vector<std::string> context;
  bool silent;
  bool monitored;
  friend bool operator==(const Line&, const Line&) = default;
};

class RecordingLogger : public GWLPLoggerDelegate {
 public:
  void logWithLevel(int64_t level, const std::string& message, const std::vector<std::string>& context, bool silent,
                    bool monitored) override {
    lines.push_back({level, message, context, silent, monitored});
  }
  std::vector<Line> lines;
};

// An engine whose runtime offers the logging module over `logger`, a
// key-value store "settings" answering "known" with "value", and an object
// provider "facts".
std::unique_ptr<GWLPEventEditing> EngineWithModules(std::shared_ptr<RecordingLogger> logger) {
  auto editing = std::make_unique<GWLPEventEditing>();
  editing->setModuleCreator([logger] { return std::make_shared<GWLPMessageLogger>(logger); }, kGWLPLoggerModuleName);
  editing->setModuleCreator(
      [] {
        return std::make_shared<GWLPKeyValueStore>("settings", [](const std::string& key) -> std::optional<std::string> {
          if (key == "known") return "value";
          return std::nullopt;
        });
      },
      "settings");
  editing->setModuleCreator(
      [] {
        return std::make_shared<GWLPObjectProvider>(
            "facts", [] { return platform::Object(platform::Dictionary{{"platform", "ios"}, {"n", int64_t{1}}}); });
      },
      "facts");
  return editing;
}

// Runs `statements` at the top of a program: "" or the load's error code.
std::string RunTopLevel(GWLPEventEditing& editing, const std::vector<GWLPValueRef>& statements) {
  platform::Error error;
  editing.loadProgram(ProgramOf(statements), &error);
  return GWLPFailed(error) ? std::to_string(error.code) : "";
}

GWLPValueRef Logger() { return Require("internal.logger"); }

TEST(GWLPNativeModulesTest, LogTakesLevelMessageAndUpToThreeContexts) {
  struct Case {
    std::vector<GWLPValueRef> statements;
    std::string error;
    std::vector<Line> lines;
  };
  const std::vector<Case> cases = {
      {{Call(Logger(), "log", {S("hello")})}, "", {{4, "hello", {}, false, true}}},
      {{Call(Logger(), "log", {N(6), S("m"), S("a"), S("b"), S("c"), S("d")})}, "", {{6, "m", {"a", "b", "c"}, false, true}}},
      {{Call(Logger(), "log", {N(5.9), S("m")})}, "", {{5, "m", {}, false, true}}},
      {{Call(Logger(), "log", {N(1e300), N(2)})}, "", {{INT64_MAX, "2", {}, false, true}}},
      {{Call(Get(Logger(), S("silent")), "log", {N(6), S("s")})}, "", {{6, "s", {}, true, true}}},
      // Calling "silent" answers itself: its "log" is the same function.
      {{Let("silent", Get(Logger(), S("silent"))), Call(Invoke("silent", {}), "log", {N(6), S("s")})},
       "",
       {{6, "s", {}, true, true}}},
      {{Call(Get(Logger(), S("unmonitored")), "log", {N(6), S("u")})}, "", {{6, "u", {}, false, false}}},
      {{Call(Logger(), "log")}, "9", {}},
      {{Call(Logger(), "log", {N(6), C(2, {Null(), S("x"), List({})})})}, "7", {}},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    auto logger = std::make_shared<RecordingLogger>();
    auto editing = EngineWithModules(logger);
    EXPECT_EQ(RunTopLevel(*editing, cases[i].statements), cases[i].error);
    EXPECT_EQ(logger->lines, cases[i].lines);
  }
}

TEST(GWLPNativeModulesTest, ARunLogsAtMostAHundredLines) {
  auto logger = std::make_shared<RecordingLogger>();
  auto editing = EngineWithModules(logger);
  ASSERT_EQ(RunTopLevel(*editing, {RuleActivity()}), "");
  platform::Error error;
  ASSERT_TRUE(editing->loadActivityData(
      {"rule", {Entity(Entry("edit", std::nullopt,
                             {ForCount("i", 0, 150, {Call(Logger(), "log", {Var("i")})}), Ret(N(0))}))}},
      &error));
  for (int run = 1; run <= 2; ++run) {
    editing->handleEvent(GWLPEvent("e", 1), &error);
    EXPECT_FALSE(GWLPFailed(error)) << "later lines are dropped without an error";
    EXPECT_EQ(logger->lines.size(), kGWLPMaxLogLinesPerRun * run);
  }
  EXPECT_EQ(logger->lines.back().message, "99");
}

TEST(GWLPNativeModulesTest, GetValueAnswersTheSettingOrTheDefault) {
  struct Case {
    std::vector<GWLPValueRef> arguments;
    std::string error;
    std::string answer;  // the text of the answer, as logged
  };
  const std::vector<Case> cases = {
      {{S("known"), N(7)}, "", "value"},
      {{S("missing"), N(7)}, "", "7"},
      {{S("missing"), Null()}, "", "null"},
      {{S("known")}, "9", ""},
      {{S("a"), S("b"), S("c")}, "9", ""},
  };
  for (const auto& c : cases) {
    auto logger = std::make_shared<RecordingLogger>();
    auto editing = EngineWithModules(logger);
    const GWLPValueRef value =
        C(2, {Require("settings"), S("getValue"), std::make_shared<GWLPStatementValue>("46", c.arguments)});
    EXPECT_EQ(RunTopLevel(*editing, {Call(Logger(), "log", {C(0, {S(""), value})})}), c.error);
    if (c.error.empty()) {
      ASSERT_EQ(logger->lines.size(), 1u);
      EXPECT_EQ(logger->lines[0].message, c.answer);
    }
  }
}

TEST(GWLPNativeModulesTest, ModulesAnswerWhatTheirCallsPromise) {
  auto logger = std::make_shared<RecordingLogger>();
  auto editing = EngineWithModules(logger);
  auto log = [](GWLPValueRef value) { return Call(Logger(), "log", {C(0, {S(""), value})}); };
  EXPECT_EQ(RunTopLevel(*editing, {Let("facts", Require("facts")), Let("a", Invoke("facts", {N(1)})),
                                   Let("b", Invoke("facts", {})), log(C(20, {Var("a"), Var("b")})),
                                   log(Get(Var("a"), S("platform"))), log(Get(Var("b"), S("n"))),
                                   Let("logger", Logger()), log(C(40, {Invoke("logger", {S("x")})})),
                                   Let("settings", Require("settings")), log(C(40, {Invoke("settings", {S("x")})})),
                                   Let("platform", Require("internal.platform")),
                                   log(Call(Var("platform"), "getVersion"))}),
            "");
  std::vector<std::string> messages;
  for (const auto& line : logger->lines) messages.push_back(line.message);
  EXPECT_EQ(messages, (std::vector<std::string>{"false", "ios", "1", "undefined", "undefined", "0"}));

  // Two calls of the object provider: two different objects with equal contents.
  auto provider = std::make_shared<GWLPObjectProvider>(
      "facts", [] { return platform::Object(platform::Dictionary{{"platform", "ios"}}); });
  auto scope = editing->runtime().getRunScope();
  GWLPValueRef first = provider->invokeWithArguments({}, scope);
  GWLPValueRef second = provider->invokeWithArguments({}, scope);
  EXPECT_NE(first, second);
  EXPECT_TRUE(first->isMap());
  EXPECT_TRUE(first->isEqualToRuntimeValue(*second));
}

}  // namespace
