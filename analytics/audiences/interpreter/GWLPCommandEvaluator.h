// GWLPCommandEvaluator: the base of the evaluators that the command registrar
// routes statements to by command name. The base answers undefined and
// supports no command.
#pragma once

#include <string>
#include <vector>

#include "analytics/audiences/interpreter/GWLPRuntimeValue.h"

class GWLPCommandEvaluator {
 public:
  virtual ~GWLPCommandEvaluator() = default;
  // Runs `command` with the statement's argument statements in `scope`.
  virtual GWLPValueRef evaluateCommand(const std::string& command, const GWLPValueList& arguments,
                                       const GWLPScopeRef& scope, platform::Error* error = nullptr);
  virtual std::vector<std::string> allSupportedCommands() const { return {}; }
};
