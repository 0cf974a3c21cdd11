// GWLPHandlerCommandEvaluator: a command evaluator that serves its commands
// through a table of handlers, in one of three argument styles: evaluated
// values; evaluated values of exactly two statements (error 9 otherwise); or
// the unevaluated statements.
//
// The evaluators of the interpreter serve the rows of the command table that
// name them (GWLPCommandTable.h), with one handler per command, indexed by
// the command a statement resolved when it was made. Evaluators of commands
// named outside the table (test and tool commands) keep their handlers by
// name; a command of theirs without a handler answers undefined.
#pragma once

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "analytics/audiences/interpreter/GWLPArguments.h"
#include "analytics/audiences/interpreter/GWLPCommandEvaluator.h"
#include "analytics/audiences/interpreter/GWLPCommandTable.h"

enum class GWLPArgumentStyle { Values, TwoValues, Statements };

// A handler of a command of the table: (arguments: values or statements by
// the evaluator's style, scope, error).
using GWLPCommandFunction = GWLPValueRef (*)(GWLPValueSpan arguments, const GWLPScopeRef& scope,
                                             platform::Error* error);
// A handler of a command named outside the table.
using GWLPCommandHandler =
    std::function<GWLPValueRef(const GWLPValueList& arguments, const GWLPScopeRef& scope, platform::Error* error)>;

class GWLPHandlerCommandEvaluator : public GWLPCommandEvaluator {
 public:
  GWLPValueRef evaluateCommand(const std::string& command, const GWLPValueList& arguments, const GWLPScopeRef& scope,
                               platform::Error* error = nullptr) override;
  GWLPValueRef evaluateStatement(const GWLPStatementValue& statement, const GWLPScopeRef& scope,
                                 platform::Error* error) override;
  std::vector<std::string> allSupportedCommands() const override { return commands_; }
  GWLPCommandRoute routeFor(GWLPCommand command) const override;
  // Runs a statement of a table command along its route.
  static GWLPValueRef run(const GWLPCommandRoute& route, GWLPValueSpan arguments, const GWLPScopeRef& scope,
                          platform::Error* error);
  GWLPArgumentStyle argumentStyle() const { return style_; }
  bool hasHandler(const std::string& command) const;

  // The evaluator of the command table this one is, if any.
  std::optional<GWLPCommandEvaluatorKind> kind() const { return kind_; }
  bool hasHandler(GWLPCommand command) const { return commandHandlers_[static_cast<size_t>(command)] != nullptr; }
  // How many times a handler of a table command was installed (each command
  // of the evaluator exactly once when the table and the handlers agree).
  size_t handlerInstallations() const { return handlerInstallations_; }

 protected:
  // Serves the commands of `kind`'s rows of the command table.
  GWLPHandlerCommandEvaluator(GWLPCommandEvaluatorKind kind, GWLPArgumentStyle style);
  // Serves commands named outside the table, with handlers in `handlers_`.
  GWLPHandlerCommandEvaluator(std::vector<std::string> commands, GWLPArgumentStyle style)
      : commands_(std::move(commands)), style_(style) {}

  // Installs the handler of `command`, a command of this evaluator's rows.
  // A second handler for a command, or one for another evaluator's command,
  // is not installed (the command table test finds it by the count).
  void setHandler(GWLPCommand command, GWLPCommandFunction handler);

  // Handlers of commands named outside the table.
  std::map<std::string, GWLPCommandHandler> handlers_;

 private:
  GWLPCommandRoute route(GWLPCommandFunction handler) const {
    return {handler, style_ != GWLPArgumentStyle::Statements, style_ == GWLPArgumentStyle::TwoValues};
  }

  std::vector<std::string> commands_;
  GWLPArgumentStyle style_;
  std::optional<GWLPCommandEvaluatorKind> kind_;
  std::array<GWLPCommandFunction, kGWLPCommandCount> commandHandlers_{};
  size_t handlerInstallations_ = 0;
};
