// Photo files from the outputs directory: the JPEG header check must refuse
// anything malformed without crashing, and an accepted photo must carry a
// sane size and its bytes unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/grid/Image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  platform::Error error;
  std::shared_ptr<const platform::Image> image = platform::Image::fromJPEGData(bytes, &error);
  if (image) {
    if (image->width() < 1 || image->height() < 1 || image->width() > platform::Image::kMaxSide ||
        image->height() > platform::Image::kMaxSide || image->jpegData() != bytes) {
      std::abort();
    }
  } else if (error.domain != platform::kImageErrorDomain) {
    std::abort();
  }
  return 0;
}
