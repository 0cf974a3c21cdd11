// GWLPEventEditing: one configuration's event-editing engine. It owns a
// runtime, the rule registry (a collection root of that runtime) and the
// event context reused for every event, and registers the modules
// "internal.registerCallback" and "internal.eventLogger" with the runtime.
//
// Loading a program runs its top-level statements in the global scope, then
// hands each activity entry (an object) to the global function named after
// the activity, which registers rules through "internal.registerCallback".
// A failed load leaves the engine unusable: the caller drops it (rules
// registered before the failure stay registered).
//
// Handling an event starts a new run (instruction count and budgets from
// zero), runs the edit rules and then the create rules in one run scope over
// one event object, and collects garbage, whether or not a rule failed. The
// outcome of the last run stays readable: hasEdits, hasCreatedEvents and the
// event context's output event and created events.
//
// Used by one thread at a time: built where the configuration is parsed,
// then driven by the engine's worker queue. It holds no locks.
#pragma once

#include <memory>
#include <string>

#include "analytics/audiences/interpreter/GWLPDynamicProvider.h"
#include "analytics/audiences/interpreter/GWLPEventContext.h"
#include "analytics/audiences/interpreter/GWLPRuntime.h"
#include "analytics/audiences/interpreter/GWLPRuntimeEntity.h"

class GWLPBProgram;
class GWLPEditingCallbackHandler;

class GWLPEventEditing {
 public:
  // An engine over a new runtime.
  GWLPEventEditing();
  explicit GWLPEventEditing(std::shared_ptr<GWLPRuntime> runtime);
  ~GWLPEventEditing();
  GWLPEventEditing(const GWLPEventEditing&) = delete;
  GWLPEventEditing& operator=(const GWLPEventEditing&) = delete;

  // Makes a module available to "require" (forwarded to the runtime).
  void setModuleCreator(GWLPModuleCreator creator, const std::string& name);

  // Runs the rules over `event`. True when the run ended without error and
  // the output differs from the input or an event was created; false with
  // the run's first error when a rule failed.
  bool handleEvent(const GWLPEvent& event, platform::Error* error = nullptr);
  // Whether the last run's output event differs from its input event.
  bool hasEdits() const;
  // Whether the last run created at least one event.
  bool hasCreatedEvents() const;

  // Loads a program of the configuration: its top-level statements, then its
  // activities. Editing error 5 when the statements end in a control value;
  // the first error ends loading.
  bool loadProgram(const std::shared_ptr<GWLPBProgram>& program, platform::Error* error = nullptr);
  bool loadProgram(const GWLPProgram& program, platform::Error* error = nullptr);
  // Evaluates each entry of the activity and registers it with the
  // activity's function; editing error 6 for an entry that is no object.
  bool loadActivityData(const GWLPOgtActivity& activity, platform::Error* error = nullptr);
  // Calls the function that the run scope names `name` with `rule`; editing
  // error 7 when the name holds no function.
  bool registerRuleWithName(const std::string& name, const GWLPValueRef& rule, platform::Error* error = nullptr);

  const std::shared_ptr<GWLPEventContext>& eventContext() const { return eventContext_; }
  GWLPRuntime& runtime() { return *runtime_; }
  const GWLPEditingCallbackHandler& callbackHandler() const { return *callbackHandler_; }

 private:
  std::shared_ptr<GWLPRuntime> runtime_;
  std::shared_ptr<GWLPEventContext> eventContext_;
  std::shared_ptr<GWLPEditingCallbackHandler> callbackHandler_;
};
