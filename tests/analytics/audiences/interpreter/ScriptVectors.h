// The table of script vectors for operators, control flow, loops and string
// methods: each row is a small program, the answer the interpreter must give,
// and, where the row means plain JavaScript, the same program in JavaScript.
// Rows marked `differs` are where the interpreter deliberately answers
// otherwise than JavaScript; the cross-check against node confirms that the
// difference is real, and the interpreter is held to the row's own answer.
#pragma once

#include <string>
#include <vector>

#include "analytics/audiences/interpreter/GWLPRuntimeValue.h"

struct ScriptVector {
  std::string group;
  std::string name;
  GWLPValueList program;
  // Describe text of the result, or "error <code>".
  std::string expected;
  // The same program as a JavaScript expression; empty when it has none.
  std::string js;
  bool differs = false;
};

const std::vector<ScriptVector>& ScriptVectors();
