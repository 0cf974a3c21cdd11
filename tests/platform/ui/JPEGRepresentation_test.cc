// Picked photos become JPEG bytes: JPEG as it is, PNG re-encoded, the rest refused.
#include <cairo.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include <jpeglib.h>

#include "platform/ui/JPEGRepresentation.h"

namespace platform {
namespace {

cairo_status_t appendBytes(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::vector<uint8_t>*>(closure)->insert(static_cast<std::vector<uint8_t>*>(closure)->end(), data,
                                                       data + length);
  return CAIRO_STATUS_SUCCESS;
}

// A `width` x `height` PNG: the left half opaque red, the right half fully transparent.
std::vector<uint8_t> makePNG(int width, int height) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 1, 0, 0);
  cairo_rectangle(cr, 0, 0, width / 2.0, height);
  cairo_fill(cr);
  cairo_destroy(cr);
  std::vector<uint8_t> png;
  cairo_surface_write_to_png_stream(surface, appendBytes, &png);
  cairo_surface_destroy(surface);
  return png;
}

struct Decoded {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
};

Decoded decodeJPEG(const std::vector<uint8_t>& jpeg) {
  jpeg_decompress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, jpeg.data(), jpeg.size());
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  Decoded out{static_cast<int>(info.output_width), static_cast<int>(info.output_height), {}};
  out.rgb.resize(static_cast<size_t>(out.width) * out.height * 3);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = out.rgb.data() + info.output_scanline * out.width * 3;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return out;
}

TEST(JPEGRepresentationTest, PNGIsReencodedOverWhite) {
  Error error;
  auto jpeg = jpegRepresentation(EncodedImage{makePNG(40, 20)}, 8.0, &error);
  ASSERT_TRUE(jpeg) << error.toString();
  ASSERT_GE(jpeg->size(), 3u);
  EXPECT_EQ((*jpeg)[0], 0xFF);
  EXPECT_EQ((*jpeg)[1], 0xD8);
  const Decoded image = decodeJPEG(*jpeg);
  ASSERT_EQ(image.width, 40);
  ASSERT_EQ(image.height, 20);
  auto pixel = [&](int x, int y) { return &image.rgb[(static_cast<size_t>(y) * 40 + x) * 3]; };
  EXPECT_GT(pixel(5, 10)[0], 240);  // red
  EXPECT_LT(pixel(5, 10)[1], 15);
  EXPECT_GT(pixel(35, 10)[1], 240);  // transparent shows as white
  EXPECT_GT(pixel(35, 10)[2], 240);
}

TEST(JPEGRepresentationTest, JPEGPassesThroughAndOtherBytesAreRefused) {
  const std::vector<uint8_t> jpeg{0xFF, 0xD8, 0xFF, 0xE0, 1, 2, 3};
  EXPECT_EQ(jpegRepresentation(EncodedImage{jpeg}, 1.0), jpeg);

  std::vector<uint8_t> truncated = makePNG(8, 8);
  truncated.resize(truncated.size() / 2);
  std::vector<uint8_t> huge = makePNG(2, 2);
  huge[16] = huge[17] = huge[20] = huge[21] = 0x7F;  // a header claiming 2^31 by 2^31 pixels
  const struct {
    std::vector<uint8_t> bytes;
    int64_t code;
  } cases[] = {
      {{}, kImageEncodingErrorUnsupported},
      {{'G', 'I', 'F', '8', '9', 'a'}, kImageEncodingErrorUnsupported},
      {{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, kImageEncodingErrorCorrupt},
      {truncated, kImageEncodingErrorCorrupt},
      {huge, kImageEncodingErrorTooLarge},
  };
  for (const auto& c : cases) {
    Error error;
    EXPECT_FALSE(jpegRepresentation(EncodedImage{c.bytes}, 1.0, &error));
    EXPECT_EQ(error.domain, kImageEncodingErrorDomain);
    EXPECT_EQ(error.code, c.code) << error.description;
  }
}

}  // namespace
}  // namespace platform
