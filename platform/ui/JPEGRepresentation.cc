#include "platform/ui/JPEGRepresentation.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>

// jpeglib.h needs <cstdio> before it.
#include <jpeglib.h>

namespace platform {
namespace {

bool startsWith(std::span<const uint8_t> bytes, std::initializer_list<uint8_t> magic) {
  return bytes.size() >= magic.size() && std::equal(magic.begin(), magic.end(), bytes.begin());
}

struct PNGReader {
  std::span<const uint8_t> bytes;
  size_t offset = 0;
};

cairo_status_t readPNG(void* closure, unsigned char* data, unsigned int length) {
  auto* reader = static_cast<PNGReader*>(closure);
  if (reader->bytes.size() - reader->offset < length) return CAIRO_STATUS_READ_ERROR;
  std::memcpy(data, reader->bytes.data() + reader->offset, length);
  reader->offset += length;
  return CAIRO_STATUS_SUCCESS;
}

// Reads the PNG header's size without decoding the pixels.
bool pngSize(std::span<const uint8_t> bytes, uint32_t* width, uint32_t* height) {
  if (bytes.size() < 24 || std::memcmp(bytes.data() + 12, "IHDR", 4) != 0) return false;
  auto word = [&](size_t at) {
    return (uint32_t{bytes[at]} << 24) | (uint32_t{bytes[at + 1]} << 16) | (uint32_t{bytes[at + 2]} << 8) |
           uint32_t{bytes[at + 3]};
  };
  *width = word(16);
  *height = word(20);
  return true;
}

struct JPEGErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
};

void jpegErrorExit(j_common_ptr info) {
  std::longjmp(reinterpret_cast<JPEGErrorManager*>(info->err)->jump, 1);
}

// Encodes RGB rows; false when libjpeg fails. Kept free of C++ objects with
// destructors between setjmp and longjmp.
bool encodeRGB(const uint8_t* rgb, int width, int height, int quality, unsigned char** buffer, unsigned long* size) {
  jpeg_compress_struct info;
  JPEGErrorManager errors;
  info.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = jpegErrorExit;
  if (setjmp(errors.jump)) {
    jpeg_destroy_compress(&info);
    return false;
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, buffer, size);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  jpeg_start_compress(&info, TRUE);
  const size_t stride = static_cast<size_t>(width) * 3;
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<uint8_t*>(rgb + info.next_scanline * stride);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return true;
}

}  // namespace

std::optional<std::vector<uint8_t>> jpegRepresentation(const EncodedImage& image, double compressionQuality,
                                                       Error* error) {
  std::span<const uint8_t> bytes(image.bytes);
  if (startsWith(bytes, {0xFF, 0xD8, 0xFF})) return image.bytes;
  if (!startsWith(bytes, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A})) {
    setError(error, Error(kImageEncodingErrorDomain, kImageEncodingErrorUnsupported,
                          "The picked file is neither a JPEG nor a PNG image"));
    return std::nullopt;
  }
  uint32_t width = 0, height = 0;
  if (!pngSize(bytes, &width, &height)) {
    setError(error, Error(kImageEncodingErrorDomain, kImageEncodingErrorCorrupt, "The PNG image is damaged"));
    return std::nullopt;
  }
  if (static_cast<uint64_t>(width) * height > static_cast<uint64_t>(kJPEGRepresentationMaxPixels)) {
    setError(error, Error(kImageEncodingErrorDomain, kImageEncodingErrorTooLarge, "The PNG image is too large"));
    return std::nullopt;
  }
  PNGReader reader{bytes, 0};
  std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> surface(
      cairo_image_surface_create_from_png_stream(readPNG, &reader), cairo_surface_destroy);
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
    setError(error, Error(kImageEncodingErrorDomain, kImageEncodingErrorCorrupt,
                          std::string("The PNG image does not decode: ") +
                              cairo_status_to_string(cairo_surface_status(surface.get()))));
    return std::nullopt;
  }
  cairo_surface_flush(surface.get());
  const int w = cairo_image_surface_get_width(surface.get());
  const int h = cairo_image_surface_get_height(surface.get());
  const int stride = cairo_image_surface_get_stride(surface.get());
  const cairo_format_t format = cairo_image_surface_get_format(surface.get());
  const unsigned char* pixels = cairo_image_surface_get_data(surface.get());
  if (w <= 0 || h <= 0 || !pixels) {
    setError(error, Error(kImageEncodingErrorDomain, kImageEncodingErrorCorrupt, "The PNG image has no pixels"));
    return std::nullopt;
  }
  std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint8_t* out = &rgb[(static_cast<size_t>(y) * w + x) * 3];
      if (format == CAIRO_FORMAT_A8) {
        // A mask: black of that coverage over white.
        const uint8_t a = pixels[static_cast<size_t>(y) * stride + x];
        out[0] = out[1] = out[2] = static_cast<uint8_t>(255 - a);
        continue;
      }
      uint32_t pixel;
      std::memcpy(&pixel, pixels + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 4, 4);
      // Premultiplied ARGB (RGB24 has an ignored alpha byte): compose over white.
      const uint32_t a = format == CAIRO_FORMAT_ARGB32 ? (pixel >> 24) & 0xFF : 255;
      const uint32_t r = (pixel >> 16) & 0xFF, g = (pixel >> 8) & 0xFF, b = pixel & 0xFF;
      out[0] = static_cast<uint8_t>(std::min<uint32_t>(255, r + (255 - a)));
      out[1] = static_cast<uint8_t>(std::min<uint32_t>(255, g + (255 - a)));
      out[2] = static_cast<uint8_t>(std::min<uint32_t>(255, b + (255 - a)));
    }
  }
  double quality = std::isfinite(compressionQuality) ? std::clamp(compressionQuality, 0.0, 1.0) : 1.0;
  const int jpegQuality = std::max(1, static_cast<int>(std::lround(quality * 100)));
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  const bool encoded = encodeRGB(rgb.data(), w, h, jpegQuality, &buffer, &size);
  std::vector<uint8_t> jpeg;
  if (encoded && buffer) jpeg.assign(buffer, buffer + size);
  std::free(buffer);
  if (!encoded || jpeg.empty()) {
    setError(error, Error(kImageEncodingErrorDomain, kImageEncodingErrorEncoding, "The JPEG encoder failed"));
    return std::nullopt;
  }
  return jpeg;
}

}  // namespace platform
