// Picked photos: any bytes from the image picker must either become JPEG
// bytes that the grid accepts, or be refused with an encoding or image error,
// without crashing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/grid/Image.h"
#include "platform/ui/JPEGRepresentation.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  platform::EncodedImage picked{std::vector<uint8_t>(data, data + size)};
  platform::Error error;
  auto jpeg = platform::jpegRepresentation(picked, 8.0, &error);
  if (!jpeg) {
    if (error.domain != platform::kImageEncodingErrorDomain) std::abort();
    return 0;
  }
  const bool passedThrough = size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
  if (passedThrough && *jpeg != picked.bytes) std::abort();
  // What the encoder makes from a PNG is always a JPEG the grid can show.
  if (!passedThrough && !platform::Image::fromJPEGData(*jpeg, &error)) std::abort();
  return 0;
}
