// Feeds arbitrary bytes to the HTTP answer parser, whole and in pieces whose
// sizes come from the input, and checks its bounds hold.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/net/HTTPResponseParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr size_t kCap = 4096;
  platform::HTTPResponseParser whole(kCap);
  whole.feed({data, size});
  whole.finish();

  platform::HTTPResponseParser pieces(kCap);
  size_t offset = 0;
  size_t step = size ? (data[0] % 7) + 1 : 1;
  while (offset < size) {
    size_t n = std::min(step, size - offset);
    pieces.feed({data + offset, n});
    offset += n;
  }
  pieces.finish();
  if (whole.state() != pieces.state()) std::abort();
  if (whole.body().size() > kCap) std::abort();
  if (whole.state() == platform::HTTPResponseParser::State::Complete &&
      (whole.response().statusCode < 200 || whole.response().statusCode > 999)) {
    std::abort();
  }
  return 0;
}
