// platform::jpegRepresentation — an encoded image as JPEG bytes.
//
// JPEG data (it starts with the start-of-image marker FF D8 FF) is answered
// unchanged. PNG data is decoded (cairo) and encoded as a baseline colour
// JPEG with libjpeg-turbo at `compressionQuality` (0.0 to 1.0, clamped; 1.0
// is the best quality); transparent pixels are composed over white. Anything
// else, a PNG that does not decode, or one larger than kMaxPixels, gives none
// with an Error in kImageEncodingErrorDomain. Nothing throws.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/core/Error.h"
#include "platform/ui/ImagePickerController.h"

namespace platform {

inline constexpr const char* kImageEncodingErrorDomain = "platform.imageencoding";
enum ImageEncodingErrorCode : int64_t {
  kImageEncodingErrorUnsupported = 1,  // neither JPEG nor PNG
  kImageEncodingErrorCorrupt = 2,      // the PNG does not decode
  kImageEncodingErrorTooLarge = 3,     // more pixels than kMaxPixels
  kImageEncodingErrorEncoding = 4,     // the JPEG encoder failed
};

inline constexpr int64_t kJPEGRepresentationMaxPixels = 50'000'000;

[[nodiscard]] std::optional<std::vector<uint8_t>> jpegRepresentation(const EncodedImage& image, double compressionQuality,
                                                       Error* error = nullptr);

}  // namespace platform
