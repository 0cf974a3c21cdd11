// Comparing system version strings ("16.1", "17.0.3") by their numeric
// components, as a person reads them: "16.10" is later than "16.9", "16.1"
// equals "16.1.0" and "16.01".
//
// A component is the run of decimal digits at its start; anything after the
// digits ("16.1 beta", "4b") is ignored, a component without digits counts as
// 0, and missing components count as 0. A value too large for 64 bits is held
// at the largest one. Nothing here fails.
#pragma once

#include <string_view>

namespace platform {

// Negative when `a` is an earlier version than `b`, 0 when they are the same,
// positive when `a` is later.
int compareSystemVersions(std::string_view a, std::string_view b);

// Whether `version` is `minimum` or later.
inline bool isSystemVersionAtLeast(std::string_view version, std::string_view minimum) {
  return compareSystemVersions(version, minimum) >= 0;
}

}  // namespace platform
