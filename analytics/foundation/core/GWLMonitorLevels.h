// The monitor's report levels (GWLMonitor::logWithLevel), one name per row:
// a level decides the report's class, the framework logger level it maps to,
// whether it can print and whether it feeds the health sample.
//
//   level  class    framework level  printed                       sampled
//   0      error    3                when the framework admits it  no
//   1      error    3                when the framework admits it  yes (E)
//   2      error    3                never                         yes (E)
//   3      warning  4                when the framework admits it  no
//   4      warning  4                when the framework admits it  yes (W)
//   5      warning  4                never                         yes (W)
//   6      notice   5                when the framework admits it  no
//   7      debug    7                when the framework admits it  no
//   8      debug    7                only while verbose logging is on
//   other  -        4                never                         yes (?)
//
#pragma once

#include <cstdint>

inline constexpr int64_t kGWLLevelError = 0;           // error, printed, not sampled
inline constexpr int64_t kGWLLevelErrorSampled = 1;    // error, printed and sampled
inline constexpr int64_t kGWLLevelErrorSilent = 2;     // error, sampled, never printed
inline constexpr int64_t kGWLLevelWarning = 3;         // warning, printed, not sampled
inline constexpr int64_t kGWLLevelWarningSampled = 4;  // warning, printed and sampled
inline constexpr int64_t kGWLLevelWarningSilent = 5;   // warning, sampled, never printed
inline constexpr int64_t kGWLLevelNotice = 6;          // notice
inline constexpr int64_t kGWLLevelDebug = 7;           // debug
inline constexpr int64_t kGWLLevelVerbose = 8;         // debug, printed only while verbose logging is on
