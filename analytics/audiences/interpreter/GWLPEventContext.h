// GWLPEventContext: the state of one editing run, reused for every event: the
// event as handed in, the copy that the rules edit, and the events the rules
// created, in creation order. Each run overwrites the events and empties the
// created list, which stays readable until the next run. The script values
// last made for the output event's name and parameters are kept across runs
// (see outputEventNameValue and parameterValue).
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "analytics/audiences/interpreter/GWLPEvent.h"
#include "analytics/audiences/interpreter/GWLPLimits.h"
#include "analytics/audiences/interpreter/GWLPRuntimeValue.h"
#include "platform/core/Error.h"

class GWLPEventContext {
 public:
  // A context over an event with an empty name, time 0 and no parameters.
  GWLPEventContext() : GWLPEventContext(GWLPEvent()) {}
  explicit GWLPEventContext(const GWLPEvent& event) { setInputEvent(event); }

  // Starts a run: `event` is the input, a copy of it the output, and the
  // created list is emptied.
  void setInputEvent(const GWLPEvent& event);
  // Queues a created event whose parameters are normalised against the input
  // event's parameters of the same names. False with error 19 once the run
  // has queued kGWLPMaxCreatedEventsPerRun events.
  bool logEventWithName(std::string name, double timestamp, const platform::Dictionary& parameters,
                        platform::Error* error = nullptr);

  const std::vector<GWLPEvent>& eventsToLog() const { return eventsToLog_; }
  const GWLPEvent& inputEvent() const { return inputEvent_; }
  const GWLPEvent& outputEvent() const { return outputEvent_; }
  GWLPEvent& outputEvent() { return outputEvent_; }
  void setOutputEvent(GWLPEvent event) { outputEvent_ = std::move(event); }
  // The output event's name as a text value. Texts never change, so the
  // value made for one read serves every later read of the same name.
  const GWLPValueRef& outputEventNameValue();
  // The script value of `value`, the output event's parameter `name`
  // (converted in `scope`; error as the conversion's). Texts and numbers
  // never change either, so the value made for one read of a parameter
  // serves later reads while the parameter holds the same text or number, in
  // this run or a later one; arrays and dictionaries are made anew for every
  // read, since scripts may change them.
  GWLPValueRef parameterValue(const std::string& name, const platform::Object& value, const GWLPScopeRef& scope,
                              platform::Error* error = nullptr);

 private:
  std::vector<GWLPEvent> eventsToLog_;
  GWLPEvent inputEvent_;
  GWLPEvent outputEvent_;
  GWLPValueRef outputNameValue_;
  // The last text or number value made for each parameter name; emptied
  // when it outgrows 256 names, so that streams of ever new names do not
  // grow it without bound.
  std::unordered_map<std::string, GWLPValueRef> parameterValues_;
};
