// GWLNumericUtil — random numbers for identifiers.
#pragma once

#include <cstdint>

class GWLNumericUtil {
 public:
  // 64 bits from the secure random generator, as a signed 64-bit integer.
  static int64_t randomInt64();
};
