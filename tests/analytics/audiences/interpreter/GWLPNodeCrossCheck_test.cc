// Cross-check against a reference engine: every vector row that has a
// JavaScript form runs in node, and node's answers are compared with the
// interpreter's. Rows that mean plain JavaScript must agree; rows marked as
// deliberate differences must really differ (the interpreter is held to the
// row's own answer by the vector tests). Skipped when node is not on PATH.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "ScriptBuilders.h"
#include "ScriptVectors.h"
#include "platform/text/Utf8.h"

namespace {

std::string findOnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  if (!path) return {};
  std::stringstream entries(path);
  for (std::string directory; std::getline(entries, directory, ':');) {
    if (directory.empty()) continue;
    std::string candidate = directory + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

// The form both sides are compared in: printable ASCII as it is, every other
// UTF-16 unit as \uXXXX, so that a lone surrogate stays visible.
std::string escaped(const std::string& text) {
  std::string out;
  for (char16_t unit : platform::utf8::toUtf16(text)) {
    if (unit >= 0x20 && unit < 0x7f) {
      out += static_cast<char>(unit);
    } else {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(unit));
      out += buffer;
    }
  }
  return out;
}

// A node program that prints one escaped answer per row, in the form of
// interpreter_test::Describe.
std::string nodeProgram(const std::vector<const ScriptVector*>& rows) {
  std::string program = R"JS(
const d = (v) => {
  if (typeof v === 'string') return '"' + v + '"';
  if (Array.isArray(v)) {
    const parts = [];
    for (let i = 0; i < v.length; i++) parts.push(i in v ? d(v[i]) : '<hole>');
    return '[' + parts.join(', ') + ']';
  }
  return String(v);
};
const esc = (s) => s.replace(/[^\x20-\x7e]/g, (c) => '\\u' + c.charCodeAt(0).toString(16).padStart(4, '0'));
const rows = [
)JS";
  for (const auto* row : rows) program += "  () => (" + row->js + "),\n";
  program += R"JS(];
for (const row of rows) {
  let answer;
  try { answer = d(row()); } catch (e) { answer = 'throws ' + e.name; }
  console.log(esc(answer));
}
)JS";
  return program;
}

TEST(GWLPNodeCrossCheckTest, PlainJavaScriptRowsAgreeAndListedDifferencesDiffer) {
  std::string node = findOnPath("node");
  if (node.empty()) GTEST_SKIP() << "node is not on PATH: the cross-check against the reference engine is skipped";

  std::vector<const ScriptVector*> rows;
  for (const auto& row : ScriptVectors()) {
    if (!row.js.empty()) rows.push_back(&row);
  }
  const char* tmp = std::getenv("TABULO_TEST_TMP");
  std::string directory = tmp && *tmp ? tmp : "/tmp";
  std::filesystem::create_directories(directory);
  std::string file = directory + "/interpreter_cross_check_" + std::to_string(getpid()) + ".js";
  {
    std::ofstream stream(file);
    stream << nodeProgram(rows);
    ASSERT_TRUE(stream.good()) << file;
  }
  FILE* pipe = popen(("'" + node + "' '" + file + "'").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[4096];
  while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
  int status = pclose(pipe);
  std::remove(file.c_str());
  ASSERT_EQ(status, 0) << output;

  std::vector<std::string> answers;
  std::stringstream lines(output);
  for (std::string line; std::getline(lines, line);) answers.push_back(line);
  ASSERT_EQ(answers.size(), rows.size());

  int agreeing = 0, differing = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    const ScriptVector& row = *rows[i];
    GWLPRuntime runtime;
    std::string ours = escaped(script::Run(runtime, row.program));
    if (row.differs) {
      ++differing;
      EXPECT_NE(answers[i], ours) << row.group << ": listed as a difference but node agrees: " << row.js;
    } else {
      ++agreeing;
      EXPECT_EQ(answers[i], ours) << row.group << ": " << row.js;
    }
  }
  EXPECT_GT(agreeing, 0);
  EXPECT_GT(differing, 0);
}

}  // namespace
