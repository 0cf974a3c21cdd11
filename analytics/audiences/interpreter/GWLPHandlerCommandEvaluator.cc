#include "analytics/audiences/interpreter/GWLPHandlerCommandEvaluator.h"

#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPStatementValue.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"

GWLPHandlerCommandEvaluator::GWLPHandlerCommandEvaluator(GWLPCommandEvaluatorKind kind, GWLPArgumentStyle style)
    : style_(style), kind_(kind) {
  for (const auto& entry : kGWLPCommandTable) {
    if (entry.evaluator == kind) commands_.push_back(std::to_string(entry.number));
  }
}

void GWLPHandlerCommandEvaluator::setHandler(GWLPCommand command, GWLPCommandFunction handler) {
  ++handlerInstallations_;
  auto& slot = commandHandlers_[static_cast<size_t>(command)];
  if (slot || !kind_ || GWLPCommandEntryFor(command).evaluator != *kind_) return;
  slot = handler;
}

bool GWLPHandlerCommandEvaluator::hasHandler(const std::string& command) const {
  if (handlers_.count(command)) return true;
  const GWLPCommandEntry* entry = GWLPCommandEntryForName(command);
  return entry && hasHandler(entry->command);
}

GWLPCommandRoute GWLPHandlerCommandEvaluator::routeFor(GWLPCommand command) const {
  GWLPCommandFunction handler = commandHandlers_[static_cast<size_t>(command)];
  return handler ? route(handler) : GWLPCommandRoute{};
}

GWLPValueRef GWLPHandlerCommandEvaluator::run(const GWLPCommandRoute& route, GWLPValueSpan arguments,
                                              const GWLPScopeRef& scope, platform::Error* error) {
  if (!route.takesValues) return route.handler(arguments, scope, error);
  if (route.twoValues && !GWLPCheckArgumentCount(arguments, 2, error)) return GWLPUndefinedValue::sharedInstance();
  GWLPValueBuffer values;
  if (!GWLPEvaluateArgumentsInto(arguments, scope, values, error)) return GWLPUndefinedValue::sharedInstance();
  return route.handler(values.span(), scope, error);
}

GWLPValueRef GWLPHandlerCommandEvaluator::evaluateStatement(const GWLPStatementValue& statement,
                                                            const GWLPScopeRef& scope, platform::Error* error) {
  if (std::optional<GWLPCommand> command = statement.command()) {
    if (GWLPCommandFunction handler = commandHandlers_[static_cast<size_t>(*command)]) {
      return run(route(handler), statement.arguments(), scope, error);
    }
  }
  return evaluateCommand(statement.functionName(), statement.arguments(), scope, error);
}

GWLPValueRef GWLPHandlerCommandEvaluator::evaluateCommand(const std::string& command, const GWLPValueList& arguments,
                                                          const GWLPScopeRef& scope, platform::Error* error) {
  if (const GWLPCommandEntry* entry = GWLPCommandEntryForName(command)) {
    if (GWLPCommandFunction handler = commandHandlers_[static_cast<size_t>(entry->command)]) {
      return run(route(handler), arguments, scope, error);
    }
  }
  GWLPErrorOut out(error);
  if (style_ == GWLPArgumentStyle::TwoValues && !GWLPCheckArgumentCount(arguments, 2, out)) {
    return GWLPUndefinedValue::sharedInstance();
  }
  auto it = handlers_.find(command);
  if (it == handlers_.end()) return GWLPUndefinedValue::sharedInstance();
  if (style_ == GWLPArgumentStyle::Statements) return it->second(arguments, scope, out);
  GWLPValueList values = GWLPEvaluateArguments(arguments, scope, out);
  if (out.failed()) return GWLPUndefinedValue::sharedInstance();
  return it->second(values, scope, out);
}
