// Gunzip over arbitrary bytes: never crashes, never goes over its cap, and
// whatever it accepts it also produces again after a round trip through gzip.
#include <cstdlib>

#include "platform/compression/Gzip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> input(data, size);
  constexpr size_t kCap = 1 << 20;
  platform::Error error;
  auto inflated = platform::gunzip(input, kCap, &error);
  if (!inflated) {
    if (error.domain != platform::kGzipErrorDomain || error.code < 1 || error.code > 5) std::abort();
    return 0;
  }
  if (inflated->size() > kCap) std::abort();
  auto again = platform::gzip(*inflated);
  if (!again || platform::gunzip(*again, kCap) != inflated) std::abort();
  return 0;
}
