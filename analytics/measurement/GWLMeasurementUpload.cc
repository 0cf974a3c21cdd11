#include <algorithm>
#include <cfloat>
#include <cmath>

#include "analytics/measurement/GWLUploadSchedule.h"

double GWLNextUploadingTime(const GWLUploadScheduleInputs& in) {
  if (in.newestDataTimestamp < DBL_EPSILON) return 0;
  const double newest = in.now - std::fabs(in.newestDataTimestamp - in.now);
  const double success = in.lastSuccessfulUploadTimestamp;
  double next = std::fabs(in.now - success) < in.interval ? success + in.interval
                                                          : newest + in.initialDelayInterval;
  if (in.lastFailedUploadTimestamp >= newest) {
    for (int32_t retry = 0; retry < in.retryCount; ++retry) {
      next += in.retryInterval * std::ldexp(1.0, retry);
      if (next > in.lastFailedUploadTimestamp) return next;
    }
    return 0;
  }
  if (in.debugMode) next = std::min(next, newest + in.debugModeInterval);
  return next;
}
