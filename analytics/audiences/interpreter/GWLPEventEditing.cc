#include "analytics/audiences/interpreter/GWLPEventEditing.h"

#include "analytics/audiences/interpreter/GWLPEditingCallbackHandler.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPEventLogger.h"
#include "analytics/audiences/interpreter/GWLPProgramReader.h"
#include "analytics/audiences/interpreter/GWLPRegisterCallbackNativeFunctionValue.h"
#include "analytics/audiences/interpreter/GWLPScope.h"
#include "analytics/wire/GWLPBProgram.h"

GWLPEventEditing::GWLPEventEditing() : GWLPEventEditing(std::make_shared<GWLPRuntime>()) {}

GWLPEventEditing::GWLPEventEditing(std::shared_ptr<GWLPRuntime> runtime)
    : runtime_(runtime ? std::move(runtime) : std::make_shared<GWLPRuntime>()),
      eventContext_(std::make_shared<GWLPEventContext>()),
      callbackHandler_(std::make_shared<GWLPEditingCallbackHandler>()) {
  runtime_->addGarbageCollectionRoot(callbackHandler_);
  std::weak_ptr<GWLPEditingCallbackHandler> handler = callbackHandler_;
  runtime_->setModuleCreator(
      [handler] { return std::make_shared<GWLPRegisterCallbackNativeFunctionValue>(handler.lock()); },
      kGWLPRegisterCallbackModuleName);
  std::weak_ptr<GWLPEventContext> context = eventContext_;
  runtime_->setModuleCreator([context] { return std::make_shared<GWLPEventLogger>(context.lock()); },
                             kGWLPEventLoggerModuleName);
}

GWLPEventEditing::~GWLPEventEditing() {
  // The rules close over the runtime's scopes: the runtime's teardown breaks
  // those cycles, and the registry lets go of the rules.
  runtime_.reset();
}

void GWLPEventEditing::setModuleCreator(GWLPModuleCreator creator, const std::string& name) {
  runtime_->setModuleCreator(std::move(creator), name);
}

bool GWLPEventEditing::handleEvent(const GWLPEvent& event, platform::Error* error) {
  GWLPErrorOut out(error);
  eventContext_->setInputEvent(event);
  runtime_->resetInstructionCount();
  {
    GWLPScopeRef scope = runtime_->getRunScope();
    callbackHandler_->triggerCallbacksWithScope(scope, eventContext_, out);
  }
  runtime_->collectGarbage();
  return !out.failed() && (hasEdits() || hasCreatedEvents());
}

bool GWLPEventEditing::hasEdits() const {
  return !eventContext_->outputEvent().isEqualToEvent(eventContext_->inputEvent());
}

bool GWLPEventEditing::hasCreatedEvents() const { return !eventContext_->eventsToLog().empty(); }

bool GWLPEventEditing::loadProgram(const std::shared_ptr<GWLPBProgram>& program, platform::Error* error) {
  GWLPErrorOut out(error);
  std::optional<GWLPProgram> read = GWLPProgramReader::programFromMessage(program, out);
  if (!read) return false;
  return loadProgram(*read, out);
}

bool GWLPEventEditing::loadProgram(const GWLPProgram& program, platform::Error* error) {
  GWLPErrorOut out(error);
  GWLPValueRef result = runtime_->executeStatements(program.instructions, out);
  if (out.failed()) return false;
  if (result->isControl()) {
    out.fail(GWLPEditingError(kGWLPEditingErrorControlValueAtTopLevel));
    return false;
  }
  for (const GWLPOgtActivity& activity : program.activities) {
    if (!loadActivityData(activity, out)) return false;
  }
  runtime_->collectGarbage();
  return true;
}

bool GWLPEventEditing::loadActivityData(const GWLPOgtActivity& activity, platform::Error* error) {
  GWLPErrorOut out(error);
  for (const GWLPRuntimeEntity& entity : activity.data) {
    GWLPValueRef value = runtime_->executeStatements({entity}, out);
    if (out.failed()) return false;
    if (!value->isMap()) {
      out.fail(GWLPEditingError(kGWLPEditingErrorActivityDataNotObject));
      return false;
    }
    if (!registerRuleWithName(activity.activityName, value, out)) return false;
  }
  return true;
}

bool GWLPEventEditing::registerRuleWithName(const std::string& name, const GWLPValueRef& rule,
                                            platform::Error* error) {
  GWLPErrorOut out(error);
  GWLPScopeRef scope = runtime_->getRunScope();
  GWLPValueRef function = scope->valueForName(name);
  if (!function->isFunction()) {
    out.fail(GWLPEditingError(kGWLPEditingErrorActivityNotFunction));
    return false;
  }
  std::static_pointer_cast<GWLPFunctionValue>(function)->invokeWithArguments(GWLPValueList{rule}, scope, out);
  return !out.failed();
}
