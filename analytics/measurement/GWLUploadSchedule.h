// GWLUploadSchedule — when the engine uploads next, as a pure function of the
// newest data, the last successful and failed uploads and the settings, so
// that the schedule can be checked without an engine or a clock.
#pragma once

#include <cstdint>

struct GWLUploadScheduleInputs {
  // Seconds since 1970.
  double now = 0;
  // 0 = never.
  double lastSuccessfulUploadTimestamp = 0;
  double lastFailedUploadTimestamp = 0;
  // The later of the newest queued bundle end time and the newest raw event
  // time; 0 = no data.
  double newestDataTimestamp = 0;
  // The gap after a success: the real-time interval in debug mode or while a
  // real-time event waits, else the regular (or first-window) interval.
  double interval = 3600;
  double initialDelayInterval = 15;
  int32_t retryCount = 6;
  double retryInterval = 1800;
  bool debugMode = false;
  double debugModeInterval = 1;
};

// Seconds since 1970 of the next upload; 0 = do not upload now.
//
// The newest data time C is mirrored into the past when it lies ahead of
// `now` (a clock set back must not postpone uploads). The next time is one
// interval after a recent success, else the initial delay after C. A failure
// not older than C pushes it by the retry interval doubled per retry until it
// lies after the failure; when the retries run out nothing is scheduled until
// new data, a success or an answered configuration fetch. Debug mode caps the
// time at the debug interval after C (not while retrying).
[[nodiscard]] double GWLNextUploadingTime(const GWLUploadScheduleInputs& inputs);
