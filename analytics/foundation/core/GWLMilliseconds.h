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

// Seconds × 1000, truncated. A time that was made from whole milliseconds
// (milliseconds ÷ 1000) gives those milliseconds back: the product may fall a
// hair short of the whole number, which truncation alone would lose.
inline int64_t GWLMillisecondsFromSeconds(double seconds) {
  const int64_t milliseconds = GWLInt64FromDouble(seconds * 1000);
  if (seconds > 0 && milliseconds < std::numeric_limits<int64_t>::max() &&
      static_cast<double>(milliseconds + 1) / 1000 == seconds) {
    return milliseconds + 1;
  }
  if (seconds < 0 && milliseconds > std::numeric_limits<int64_t>::min() &&
      static_cast<double>(milliseconds - 1) / 1000 == seconds) {
    return milliseconds - 1;
  }
  return milliseconds;
}
