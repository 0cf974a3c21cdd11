// GWLPEditingCallbackHandler: the rule registry of event editing. Edit rules
// and create rules each run in ascending priority; a rule asking for a
// priority its type already holds is moved behind every rule of that type
// registered so far (largest priority plus one). Priorities are 64-bit, so
// moving a rule behind one at the top of the 32-bit range never wraps.
//
// The registry is a collection root of its runtime: it marks every rule it
// holds. It never shrinks. A run walks the lists as they stood when it
// began: a rule registered while events are handled joins from the next run.
// One thread at a time, as its runtime.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "analytics/audiences/interpreter/GWLPFunctionValue.h"
#include "analytics/audiences/interpreter/GWLPMarkable.h"

class GWLPEventContext;
class GWLPObjectManager;

// Rules of both types together that one registry holds.
inline constexpr size_t kGWLPMaxEditingRules = 1000;
// The priority of a rule whose options name none.
inline constexpr int64_t kGWLPDefaultRulePriority = 1000;
// The rule types of the options' "type".
inline constexpr const char* kGWLPRuleTypeEdit = "edit";
inline constexpr const char* kGWLPRuleTypeCreate = "create";
// Results of an edit rule that discard its changes: 2, or -1 for a result
// that is not a number; a failed invocation also answers 2.
inline constexpr int32_t kGWLPRuleResultDiscard = 2;
inline constexpr int32_t kGWLPRuleResultNotANumber = -1;

class GWLPEditingCallbackHandler : public GWLPMarkable {
 public:
  struct Rule {
    int64_t priority;
    std::shared_ptr<GWLPFunctionValue> callback;
  };
  using RuleList = std::vector<Rule>;

  GWLPEditingCallbackHandler();

  // Registers `callback` as a rule of `ruleType` ("edit" or "create").
  // Editing error 4 once kGWLPMaxEditingRules are registered, 3 for any
  // other type.
  bool registerWithPriority(int64_t priority, std::shared_ptr<GWLPFunctionValue> callback,
                            const std::string& ruleType, platform::Error* error = nullptr);
  // Adds the rule to `rules` under `priority`, or behind every rule of the
  // list when the priority is taken; keeps the list sorted.
  static void addCallback(std::shared_ptr<GWLPFunctionValue> callback, std::shared_ptr<const RuleList>& rules,
                          int64_t priority);

  // Runs the edit rules and then the create rules over the context's output
  // event in `scope`; false with the first error, which ends the run. An
  // edit rule that fails, or answers 2 or no number, has its changes undone.
  // Every run hands its rules an event object that no earlier run's script
  // could have seen changed: the last run's object when no script kept it or
  // gave it properties, else a new one.
  bool triggerCallbacksWithScope(const GWLPScopeRef& scope, const std::shared_ptr<GWLPEventContext>& context,
                                 platform::Error* error = nullptr);
  // Invokes one rule with `arguments` (the event object): 2 when the invocation failed,
  // GWLPToInt32 of a number result, -1 for any other result.
  static int32_t invokeCallbackWithScope(const GWLPScopeRef& scope, GWLPFunctionValue& callback,
                                         const GWLPValueList& arguments, platform::Error* error = nullptr);

  size_t ruleCount() const { return editRules_->size() + createRules_->size(); }
  const RuleList& editRules() const { return *editRules_; }
  const RuleList& createRules() const { return *createRules_; }

  void markInto(GWLPMarkStack& stack) override;

 private:
  // The rules' arguments, the event object alone: the last run's, when it
  // was made for `context` in the run of `manager` and is still untouched,
  // else a new one tracked by `manager`.
  GWLPValueList takeEventArguments(const std::shared_ptr<GWLPEventContext>& context, GWLPObjectManager* manager);
  // Keeps the arguments of a finished run for the next, unless a script
  // still holds the event object or changed it.
  void offerEventArguments(GWLPValueList arguments, GWLPObjectManager* manager);
  bool runRules(const GWLPScopeRef& scope, GWLPEventContext& context, const GWLPValueList& arguments,
                platform::Error* error);

  // Each list is replaced, never changed, when a rule joins: a run holds the
  // list it started with.
  std::shared_ptr<const RuleList> editRules_;
  std::shared_ptr<const RuleList> createRules_;
  // Building the event object (and its argument list) for every event costs
  // allocations and a tracked value per run; an object no script kept or
  // changed is indistinguishable from a new one, so it serves the next run.
  // A run takes the list out while it runs, so that a run inside a run
  // builds its own.
  GWLPValueList spareEventArguments_;
  // The collector that tracks the spare object: a run of another one builds
  // its own, so that every object stays collectable by the run that uses it.
  std::weak_ptr<GWLPObjectManager> spareEventManager_;
};
