// Decimal text from configurations and parameters: the reader answers a number
// or nothing, and a number it answers reads back from its canonical text.
#include <cstdint>
#include <string>

#include "QuietLibraryMonitor.h"
#include "analytics/foundation/values/GWLDecimalNumber.h"

namespace {

using fuzz_support::check;

int testOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  auto number = GWLDecimalNumberFromString(text);
  if (!number) return 0;
  check(GWLIsDecimalString(text));
  const std::string canonical = number->stringValue();
  check(!canonical.empty() && canonical[0] != '+');
  check(number->digits().size() <= GWLDecimalNumber::kMaxDigits);
  auto again = GWLDecimalNumberFromString(canonical);
  check(again && *again == *number && again->stringValue() == canonical);
  check((*number <=> *number) == 0);
  check(number->isNegative() ? *number < number->magnitude() : *number == number->magnitude());
  return 0;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::runWithQuietLibraryMonitor(testOneInput, data, size);
}
