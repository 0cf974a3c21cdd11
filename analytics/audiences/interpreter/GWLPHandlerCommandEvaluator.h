// GWLPHandlerCommandEvaluator: a command evaluator that serves a fixed list
// of command numbers through a table of handlers, in one of three argument
// styles: evaluated values; evaluated values of exactly two statements
// (error 9 otherwise); or the unevaluated statements. A supported command
// without a handler answers undefined without an error.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "analytics/audiences/interpreter/GWLPCommandEvaluator.h"

enum class GWLPArgumentStyle { Values, TwoValues, Statements };

// (arguments: values or statements by the evaluator's style, scope, error).
using GWLPCommandHandler =
    std::function<GWLPValueRef(const GWLPValueList& arguments, const GWLPScopeRef& scope, platform::Error* error)>;

class GWLPHandlerCommandEvaluator : public GWLPCommandEvaluator {
 public:
  GWLPValueRef evaluateCommand(const std::string& command, const GWLPValueList& arguments, const GWLPScopeRef& scope,
                               platform::Error* error = nullptr) override;
  std::vector<std::string> allSupportedCommands() const override { return commands_; }
  GWLPArgumentStyle argumentStyle() const { return style_; }
  bool hasHandler(const std::string& command) const { return handlers_.count(command) != 0; }

 protected:
  GWLPHandlerCommandEvaluator(std::vector<std::string> commands, GWLPArgumentStyle style)
      : commands_(std::move(commands)), style_(style) {}

  std::map<std::string, GWLPCommandHandler> handlers_;

 private:
  std::vector<std::string> commands_;
  GWLPArgumentStyle style_;
};
