// Property-list bytes from outside (preferences files, Info dictionaries):
// parsing answers an object or an error and never crashes; what parses also
// serialises and parses back to the same object.
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/storage/PropertyList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace platform;
  auto object = PropertyList::parse(std::span<const uint8_t>(data, size));
  if (!object) return 0;
  // Compared as bytes, so that a NaN read from the input still counts as the same.
  if (auto bytes = PropertyList::serialize(*object, PropertyListFormat::Binary)) {
    auto again = PropertyList::parse(*bytes);
    if (!again) __builtin_trap();
    auto bytesAgain = PropertyList::serialize(*again, PropertyListFormat::Binary);
    if (!bytesAgain || *bytesAgain != *bytes) __builtin_trap();
  }
  return 0;
}
