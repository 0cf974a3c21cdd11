// Stored raw events: any bytes decode to an event or to nothing, and an event
// read from the wire encodes again and reads back to the same encoding (bytes
// compare where values may not: a stored double may be NaN).
#include <cstdint>
#include <span>

#include "QuietLibraryMonitor.h"
#include "analytics/foundation/values/GWLEvent.h"
#include "analytics/wire/GWLPBEvent.h"
#include "analytics/wire/NANO.h"

namespace {

using fuzz_support::check;

int testOneInput(const uint8_t* data, size_t size) {
  auto proto = GWLPBEvent::initWithBuffer(std::span<const uint8_t>(data, size));
  if (!proto) return 0;
  auto event = GWLEvent::initWithEventProto(*proto, GWLValueLimits{});
  if (!event) return 0;
  auto bytes = event->protoEvent()->protoBuffer();
  check(bytes.has_value());
  auto again = GWLEvent::initWithEventProto(*GWLPBEvent::initWithBuffer(*bytes), GWLValueLimits{});
  check(again && again->name() == event->name() && again->origin() == event->origin());
  // Milliseconds survive the trip through seconds wherever a double holds them exactly.
  constexpr int64_t kExact = int64_t{1} << 53;
  auto exact = [&](int32_t field) {
    int64_t value = NANOGetInt64(proto, field);
    return value > -kExact && value < kExact;
  };
  if (exact(GWLPBEvent::Field::timestamp) && exact(GWLPBEvent::Field::previous_timestamp)) {
    check(again->protoEvent()->protoBuffer() == bytes);
  }
  return 0;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::runWithQuietLibraryMonitor(testOneInput, data, size);
}
