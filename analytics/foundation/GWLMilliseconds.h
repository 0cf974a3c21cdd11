// Conversions of stored and wire times: seconds since 1970 as a double to a
// 64-bit integer (whole seconds or milliseconds), truncated toward zero and
// saturating at the integer's limits; NaN gives 0.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

inline int64_t GWLInt64FromDouble(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 9223372036854775807.0) return std::numeric_limits<int64_t>::max();
  if (value <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(value);
}

// Seconds × 1000, truncated.
inline int64_t GWLMillisecondsFromSeconds(double seconds) { return GWLInt64FromDouble(seconds * 1000); }
