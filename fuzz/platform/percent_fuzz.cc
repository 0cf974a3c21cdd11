// Percent-decoding over arbitrary text: fails cleanly or gives valid UTF-8
// that encodes back to something that decodes to the same text; decoding to
// bytes fails only where the text holds a bad escape.
#include <cstdlib>
#include <string_view>

#include "platform/text/PercentEncoding.h"
#include "platform/text/Utf8.h"

namespace percent = platform::percent;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view s(reinterpret_cast<const char*>(data), size);
  for (bool form : {false, true}) {
    platform::Error error;
    auto decoded = form ? percent::formDecode(s, &error) : percent::decode(s, &error);
    if (!decoded) {
      if (error.domain != percent::kPercentEncodingErrorDomain) std::abort();
      continue;
    }
    if (!platform::utf8::isValid(*decoded)) std::abort();
    const std::string encoded =
        form ? percent::formEncode(*decoded) : percent::encode(*decoded, percent::AllowedSet::unreserved());
    auto back = form ? percent::formDecode(encoded) : percent::decode(encoded);
    if (back != decoded) std::abort();
  }
  // Bytes (a file path): every escape that is well formed decodes, UTF-8 or not,
  // and what it gives encodes back to the same bytes.
  platform::Error error;
  auto bytes = percent::decodeBytes(s, &error);
  if (bytes) {
    if (percent::decodeBytes(percent::encode(*bytes, percent::AllowedSet::unreserved())) != bytes) std::abort();
    if (percent::decode(s) && percent::decode(s) != bytes) std::abort();
  } else if (percent::decode(s)) {
    std::abort();
  }
  return 0;
}
