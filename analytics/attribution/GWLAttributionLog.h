// GWLAttributionLogLine — one log line of an attribution component: its
// message code, monitor level and text, kept as a named constant in the
// component's table so that code and tests name the same line.
#pragma once

#include <cstdint>

#include "analytics/foundation/core/GWLMonitor.h"

struct GWLAttributionLogLine {
  int64_t code;
  int64_t level;
  const char* message;
};

// Logs `line` with its contexts (none to three) through `monitor`.
template <class... Contexts>
void GWLLogAttributionLine(GWLMonitor& monitor, const GWLAttributionLogLine& line, const Contexts&... contexts) {
  static_assert(sizeof...(Contexts) <= 3, "a log line carries at most three contexts");
  monitor.logWithLevel(line.level, line.code, line.message, GWLLogContext(contexts)...);
}
