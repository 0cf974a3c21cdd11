// Event-editing programs for the tests, written with the script builders:
// one global activity function "rule" registers each activity entry's "fn"
// under the entry's options, so a test lists its rules as entries:
//
//   Program({Entry("edit", 5, {Set(...), Ret(N(0))})})
//
// stands for
//
//   function rule(o) { let reg = require("internal.registerCallback"); reg("rule", o.fn, o); }
//   rule({type: "edit", priority: 5, fn: function (e) { ... }});
//
// Inside a rule body the event object is `e`; E(method, arguments) calls
// one of its methods.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ScriptBuilders.h"
#include "analytics/audiences/interpreter/GWLPRuntimeEntity.h"
#include "analytics/wire/GWLPBProgram.h"

namespace editing_test {

using script::Values;

// The entity a compiled program holds for a literal or a statement.
GWLPRuntimeEntity Entity(const GWLPValueRef& value);

struct Activity {
  std::string name;
  std::vector<GWLPValueRef> entries;
};
GWLPProgram ProgramOf(const std::vector<GWLPValueRef>& instructions, const std::vector<Activity>& activities = {});
// The wire form the configuration carries.
std::shared_ptr<GWLPBProgram> MessageOf(const GWLPProgram& program);

// The activity function "rule" described above.
GWLPValueRef RuleActivity();
// An entry of "rule": options {type, priority (when given), fn: function (e) { body }}.
GWLPValueRef Entry(const std::string& type, std::optional<double> priority, const std::vector<GWLPValueRef>& body);
// function name(parameters) { body }, as an expression, over a body list.
GWLPValueRef FnOf(const std::string& name, const std::vector<std::string>& parameters,
                  const std::vector<GWLPValueRef>& body);
// The "rule" activity with `entries`, after RuleActivity and `preamble`.
GWLPProgram Program(const std::vector<GWLPValueRef>& entries, const std::vector<GWLPValueRef>& preamble = {});

// e.method(arguments)
GWLPValueRef E(const std::string& method, Values arguments = {});
// require(name)
GWLPValueRef Require(const std::string& name);

}  // namespace editing_test
