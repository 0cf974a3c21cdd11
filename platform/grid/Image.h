// platform::Image — a photo held as the bytes of its JPEG file.
//
// An image is made only from bytes whose JPEG header checks out: the
// start-of-image marker, well-formed segments up to a baseline, extended or
// progressive frame header with 8-bit samples, one (gray) or three (colour)
// components and a size of at least 1 by 1 pixels and at most kMaxSide on a
// side and kMaxPixels in all. The compressed data after the header is not
// decoded: renderers that can embed JPEG data (PDF) use the bytes as they are.
//
// Everything here reads outside input (photo files) and reports a refusal as
// none plus an Error in kImageErrorDomain; nothing throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <vector>

#include "platform/core/Error.h"

namespace platform {

inline constexpr const char* kImageErrorDomain = "platform.image";
enum ImageErrorCode : int64_t {
  kImageErrorUnreadable = 1,   // the file could not be read, or is not a regular file
  kImageErrorTooLarge = 2,     // the file or the picture exceeds the limits
  kImageErrorNotJPEG = 3,      // the bytes are not a JPEG file or its header is damaged
  kImageErrorUnsupported = 4,  // a JPEG kind that is not embedded (arithmetic, lossless, 12-bit, CMYK)
};

class Image {
 public:
  static constexpr int kMaxSide = 16384;
  static constexpr int64_t kMaxPixels = 50'000'000;
  static constexpr size_t kMaxFileBytes = 64 * 1024 * 1024;

  [[nodiscard]] static std::shared_ptr<const Image> fromJPEGData(std::vector<uint8_t> data, Error* error = nullptr);
  // Reads a regular file of at most kMaxFileBytes and checks it as above.
  [[nodiscard]] static std::shared_ptr<const Image> fromJPEGFile(const std::filesystem::path& path, Error* error = nullptr);

  int width() const { return width_; }
  int height() const { return height_; }
  // 1 for gray, 3 for colour.
  int components() const { return components_; }
  const std::vector<uint8_t>& jpegData() const { return data_; }
  // What the image costs in memory: the size of its bytes.
  size_t byteCost() const { return data_.size(); }

 private:
  Image(std::vector<uint8_t> data, int width, int height, int components)
      : data_(std::move(data)), width_(width), height_(height), components_(components) {}

  std::vector<uint8_t> data_;
  int width_;
  int height_;
  int components_;
};

}  // namespace platform
