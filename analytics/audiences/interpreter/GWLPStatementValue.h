// GWLPStatementValue: one program statement, a command or function name and
// its argument values (literals and nested statements, evaluated only when the
// statement runs). Immutable after conversion and shared by every run.
//
// A statement resolves its name once, when it is made: the evaluator that the
// shared command registrar routes the name to (the function evaluator for a
// name no evaluator holds) and, for a command number, the command of the
// command table. Evaluators are registered before programs are read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "analytics/audiences/interpreter/GWLPCommandEvaluator.h"
#include "analytics/audiences/interpreter/GWLPCommandTable.h"
#include "analytics/audiences/interpreter/GWLPRuntimeValue.h"


class GWLPStatementValue final : public GWLPRuntimeValue {
 public:
  GWLPStatementValue(std::string functionName, GWLPValueList arguments);
  ~GWLPStatementValue() override;

  const std::string& functionName() const { return functionName_; }
  const GWLPValueList& arguments() const { return arguments_; }
  // The evaluator this statement runs in (never none; the registrar and its
  // evaluators live as long as the process).
  GWLPCommandEvaluator& evaluator() const { return *evaluator_; }
  // The evaluator's plain handler of this statement's command, if any.
  const GWLPCommandRoute& route() const { return route_; }
  // The command of the table that the name stands for, if any.
  std::optional<GWLPCommand> command() const {
    return hasCommand_ ? std::optional<GWLPCommand>(command_) : std::nullopt;
  }
  // For a getVariable statement whose one argument is a literal text, served
  // by the table's handler: that name. Evaluation then reads the variable
  // directly, charging what the handler's path charges.
  const std::string* variableName() const { return variableName_; }
  // Whether this is a statement of `command`.
  bool isCommand(GWLPCommand command) const { return hasCommand_ && command_ == command; }
  // Whether this is a statementList command that its evaluator answers with
  // an array of its argument statements.
  bool buildsStatementList() const { return buildsStatementList_; }

  using GWLPRuntimeValue::isEqualToRuntimeValue;
  bool isEqualToRuntimeValue(const GWLPRuntimeValue& other, GWLPEqualityContext& context) const override;

 private:
  std::string functionName_;
  GWLPValueList arguments_;
  GWLPCommandEvaluator* evaluator_;
  GWLPCommandRoute route_;
  const std::string* variableName_ = nullptr;
  GWLPCommand command_ = GWLPCommand::Add;
  bool hasCommand_ = false;
  bool buildsStatementList_ = false;
};
