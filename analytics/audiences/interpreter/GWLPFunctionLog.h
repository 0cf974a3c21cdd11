// GWLPFunctionLog: a "log" function of the logging module. Called with one
// argument it logs that argument's text at script level 4; with more, the
// first is the level (truncated toward zero, saturating at the ends of the
// 64-bit range), the second the message and the third to fifth the
// contexts (further arguments are evaluated and ignored). At least one
// argument (error 9); a conversion that fails ends the call with its error
// and logs nothing. A run logs at most kGWLPMaxLogLinesPerRun lines; later
// calls succeed and log nothing. Answers undefined.
#pragma once

#include <memory>

#include "analytics/audiences/interpreter/GWLPFunctionValue.h"
#include "analytics/audiences/interpreter/GWLPLoggerDelegate.h"

// The script level of a log call with a message only.
inline constexpr int64_t kGWLPDefaultLogLevel = 4;
// Contexts a log line carries at most.
inline constexpr size_t kGWLPMaxLogContexts = 3;

class GWLPFunctionLog : public GWLPFunctionValue {
 public:
  GWLPFunctionLog(std::shared_ptr<GWLPLoggerDelegate> logger, bool silent, bool monitored);

  GWLPValueRef invokeWithArguments(const GWLPValueList& arguments, const GWLPScopeRef& scope,
                                   platform::Error* error = nullptr) override;

  bool isSilent() const { return silent_; }
  bool isMonitored() const { return monitored_; }

 private:
  bool silent_;
  bool monitored_;
  std::shared_ptr<GWLPLoggerDelegate> logger_;
};
