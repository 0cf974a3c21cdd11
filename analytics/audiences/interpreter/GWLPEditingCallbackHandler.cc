#include "analytics/audiences/interpreter/GWLPEditingCallbackHandler.h"

#include <algorithm>

#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPEventContext.h"
#include "analytics/audiences/interpreter/GWLPEventNativeFunctions.h"
#include "analytics/audiences/interpreter/GWLPNumberValue.h"
#include "analytics/audiences/interpreter/GWLPObjectManager.h"
#include "analytics/audiences/interpreter/GWLPScope.h"
#include "analytics/audiences/interpreter/GWLPValueOperations.h"

GWLPEditingCallbackHandler::GWLPEditingCallbackHandler()
    : editRules_(std::make_shared<const RuleList>()), createRules_(std::make_shared<const RuleList>()) {}

bool GWLPEditingCallbackHandler::registerWithPriority(int64_t priority, std::shared_ptr<GWLPFunctionValue> callback,
                                                      const std::string& ruleType, platform::Error* error) {
  if (ruleCount() >= kGWLPMaxEditingRules) {
    platform::setError(error, GWLPEditingError(kGWLPEditingErrorTooManyRules));
    return false;
  }
  if (ruleType == kGWLPRuleTypeCreate) {
    addCallback(std::move(callback), createRules_, priority);
  } else if (ruleType == kGWLPRuleTypeEdit) {
    addCallback(std::move(callback), editRules_, priority);
  } else {
    platform::setError(error, GWLPEditingError(kGWLPEditingErrorUnknownRuleType));
    return false;
  }
  return true;
}

void GWLPEditingCallbackHandler::addCallback(std::shared_ptr<GWLPFunctionValue> callback,
                                             std::shared_ptr<const RuleList>& rules, int64_t priority) {
  auto byPriority = [](const Rule& rule, int64_t value) { return rule.priority < value; };
  auto taken = std::lower_bound(rules->begin(), rules->end(), priority, byPriority);
  // Lists are sorted, so the largest priority is the last one.
  if (taken != rules->end() && taken->priority == priority) priority = rules->back().priority + 1;
  auto next = std::make_shared<RuleList>();
  next->reserve(rules->size() + 1);
  next->assign(rules->begin(), rules->end());
  next->insert(std::lower_bound(next->begin(), next->end(), priority, byPriority), Rule{priority, std::move(callback)});
  rules = std::move(next);
}

bool GWLPEditingCallbackHandler::triggerCallbacksWithScope(const GWLPScopeRef& scope,
                                                           const std::shared_ptr<GWLPEventContext>& context,
                                                           platform::Error* error) {
  GWLPObjectManager* manager = scope->objectManager();
  // One event object for the whole run, tracked like any map the run makes:
  // a script may keep it or hang values on it. Every rule is called with the
  // event object alone.
  GWLPValueList arguments = takeEventArguments(context, manager);
  const bool ran = runRules(scope, *context, arguments, error);
  offerEventArguments(std::move(arguments), manager);
  return ran;
}

bool GWLPEditingCallbackHandler::runRules(const GWLPScopeRef& scope, GWLPEventContext& eventContext,
                                          const GWLPValueList& arguments, platform::Error* error) {
  GWLPErrorOut out(error);
  std::shared_ptr<const RuleList> editRules = editRules_;
  for (const Rule& rule : *editRules) {
    eventContext.outputEvent().beginChanges();
    int32_t result = invokeCallbackWithScope(scope, *rule.callback, arguments, out);
    if (out.failed()) {
      eventContext.outputEvent().discardChanges();
      return false;
    }
    if (result == kGWLPRuleResultDiscard || result == kGWLPRuleResultNotANumber) {
      eventContext.outputEvent().discardChanges();
    } else {
      eventContext.outputEvent().keepChanges();
    }
  }
  std::shared_ptr<const RuleList> createRules = createRules_;
  for (const Rule& rule : *createRules) {
    invokeCallbackWithScope(scope, *rule.callback, arguments, out);
    if (out.failed()) return false;
  }
  return true;
}

GWLPValueList GWLPEditingCallbackHandler::takeEventArguments(const std::shared_ptr<GWLPEventContext>& context,
                                                             GWLPObjectManager* manager) {
  GWLPValueList arguments = std::move(spareEventArguments_);
  spareEventArguments_.clear();
  if (arguments.size() == 1 && spareEventManager_.lock().get() == manager &&
      static_cast<const GWLPEventNativeFunctions&>(*arguments[0]).eventContext() == context.get()) {
    return arguments;
  }
  auto eventObject = std::make_shared<GWLPEventNativeFunctions>(context);
  if (manager) manager->addObject(eventObject);
  arguments.assign(1, std::move(eventObject));
  return arguments;
}

void GWLPEditingCallbackHandler::offerEventArguments(GWLPValueList arguments, GWLPObjectManager* manager) {
  // Only this list holds the object (the collector's reference is weak), so
  // no script can reach it; with no properties and not frozen it is as new.
  const auto& eventObject = static_cast<const GWLPEventNativeFunctions&>(*arguments[0]);
  if (arguments[0].use_count() != 1 || eventObject.propertyMap().count() != 0 ||
      eventObject.propertyMap().isImmutable()) {
    return;
  }
  spareEventArguments_ = std::move(arguments);
  spareEventManager_ = manager ? manager->weak_from_this() : std::weak_ptr<GWLPObjectManager>();
}

int32_t GWLPEditingCallbackHandler::invokeCallbackWithScope(const GWLPScopeRef& scope, GWLPFunctionValue& callback,
                                                            const GWLPValueList& arguments, platform::Error* error) {
  GWLPErrorOut out(error);
  GWLPValueRef result = callback.invokeWithArguments(arguments, scope, out);
  if (out.failed()) return kGWLPRuleResultDiscard;
  if (result->isNumber()) return GWLPToInt32(static_cast<const GWLPNumberValue&>(*result).value());
  return kGWLPRuleResultNotANumber;
}

void GWLPEditingCallbackHandler::markInto(GWLPMarkStack& stack) {
  for (const auto* rules : {editRules_.get(), createRules_.get()}) {
    for (const Rule& rule : *rules) stack.push(rule.callback.get());
  }
}
