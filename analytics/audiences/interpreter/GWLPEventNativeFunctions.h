// GWLPEventNativeFunctions: the event object handed to every editing rule, a
// map whose six methods read and change the run's output event:
//
//   getEventName()               the output event's name
//   getParamValue(name)          a parameter as a script value; null when missing
//   getParams()                  a new object of every parameter
//   getTimestamp()               the time in seconds
//   setEventName(name)           renames (undefined and null: error 10)
//   setParamValue(name, value)   sets, or removes for null; answers the value
//
// What setParamValue stores is charged to the run's heap budget (error 19
// when spent), so that a rule cannot grow the event without bound.
//
// Each evaluates its arguments and requires exactly its count (error 9). Any
// other method name behaves as for a plain object. A script may keep the
// object beyond its run: it then acts on the output event of the current run.
#pragma once

#include <memory>

#include "analytics/audiences/interpreter/GWLPArguments.h"
#include "analytics/audiences/interpreter/GWLPMapValue.h"

class GWLPEventContext;

class GWLPEventNativeFunctions : public GWLPMapValue {
 public:
  explicit GWLPEventNativeFunctions(std::shared_ptr<GWLPEventContext> eventContext)
      : eventContext_(std::move(eventContext)) {}

  GWLPValueRef applyWithName(const std::string& name, const GWLPValueList& arguments, const GWLPScopeRef& scope,
                             platform::Error* error = nullptr) override;

  // The context whose output event the methods act on.
  GWLPEventContext* eventContext() const { return eventContext_.get(); }

  // One method over the evaluated arguments.
  using Handler = GWLPValueRef (*)(GWLPEventContext& eventContext, GWLPValueSpan values, const GWLPScopeRef& scope,
                                   platform::Error* error);

 private:
  std::shared_ptr<GWLPEventContext> eventContext_;
};
