// Property-list bytes from outside (preferences files, Info dictionaries):
// parsing answers an object or an error and never crashes; what we write of
// a parsed object parses again.
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/storage/PropertyList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace platform;
  auto object = PropertyList::parse(std::span<const uint8_t>(data, size));
  if (!object) return 0;
  // (Dates may move by a microsecond through the library's own conversions,
  // so the objects are not compared.)
  if (auto bytes = PropertyList::serialize(*object, PropertyListFormat::Binary)) {
    auto again = PropertyList::parse(*bytes);
    if (!again || again->type() != object->type()) __builtin_trap();
  }
  return 0;
}
