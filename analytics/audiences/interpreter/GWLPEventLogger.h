// GWLPEventLogger: the module "internal.eventLogger", a function of three
// arguments (name, time, parameters) that queues a created event on the
// event context. The time becomes whole seconds (truncated toward zero,
// saturating at the ends of the 64-bit range; NaN gives 0); the parameters
// object's properties become native values, those that give nothing left
// out, each normalised against the input event's parameter of that name.
// Answers undefined.
//
// What the created events hold is charged to the run's heap budget, so that
// one program cannot queue more than a run may allocate (error 19); at most
// kGWLPMaxCreatedEventsPerRun events are queued per run (error 19 beyond).
#pragma once

#include <memory>

#include "analytics/audiences/interpreter/GWLPFunctionValue.h"

class GWLPEventContext;

inline constexpr const char* kGWLPEventLoggerModuleName = "internal.eventLogger";

class GWLPEventLogger : public GWLPFunctionValue {
 public:
  explicit GWLPEventLogger(std::shared_ptr<GWLPEventContext> eventContext);

  // Exactly three arguments (error 9); parameters that are no object fail
  // with error 10; conversion errors pass through and queue nothing.
  GWLPValueRef invokeWithArguments(const GWLPValueList& arguments, const GWLPScopeRef& scope,
                                   platform::Error* error = nullptr) override;

 private:
  std::shared_ptr<GWLPEventContext> eventContext_;
};
