#include "platform/env/SystemVersion.h"

#include <cstdint>
#include <limits>

namespace platform {

namespace {

// Reads the component that starts at `text[*position]` and moves past its
// dot; at the end of the text every further component reads 0.
uint64_t nextComponent(std::string_view text, size_t* position) {
  uint64_t value = 0;
  size_t i = *position;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10) {
      value = std::numeric_limits<uint64_t>::max();
    } else {
      value = value * 10 + digit;
    }
    ++i;
  }
  while (i < text.size() && text[i] != '.') ++i;
  *position = i < text.size() ? i + 1 : i;
  return value;
}

}  // namespace

int compareSystemVersions(std::string_view a, std::string_view b) {
  size_t positionA = 0;
  size_t positionB = 0;
  while (positionA < a.size() || positionB < b.size()) {
    const uint64_t componentA = nextComponent(a, &positionA);
    const uint64_t componentB = nextComponent(b, &positionB);
    if (componentA != componentB) return componentA < componentB ? -1 : 1;
  }
  return 0;
}

}  // namespace platform
