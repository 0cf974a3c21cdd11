#include "platform/grid/Image.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/TestTmp.h"

namespace platform {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes segment(uint8_t marker, const Bytes& body) {
  size_t length = body.size() + 2;
  Bytes out{0xFF, marker, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

Bytes frame(int precision, int width, int height, int components) {
  Bytes body{static_cast<uint8_t>(precision),  static_cast<uint8_t>(height >> 8), static_cast<uint8_t>(height),
             static_cast<uint8_t>(width >> 8), static_cast<uint8_t>(width),       static_cast<uint8_t>(components)};
  for (int i = 0; i < components; ++i) body.insert(body.end(), {static_cast<uint8_t>(i + 1), 0x11, 0});
  return body;
}

// Start of image, a JFIF segment, then `rest`, then start of scan and end.
Bytes jpeg(const Bytes& rest) {
  Bytes out{0xFF, 0xD8};
  Bytes app0 = segment(0xE0, {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0});
  out.insert(out.end(), app0.begin(), app0.end());
  out.insert(out.end(), rest.begin(), rest.end());
  Bytes scan = segment(0xDA, {1, 1, 0, 0, 0x3F, 0});
  out.insert(out.end(), scan.begin(), scan.end());
  out.insert(out.end(), {0x12, 0x34, 0xFF, 0xD9});
  return out;
}

TEST(Image, ChecksTheJPEGHeader) {
  struct Case {
    const char* name;
    Bytes data;
    int64_t code;  // 0: accepted
    int width = 0, height = 0, components = 0;
  };
  Bytes baseline = jpeg(segment(0xC0, frame(8, 640, 480, 3)));
  Bytes cut(baseline.begin(), baseline.begin() + 25);
  Bytes longSegment = jpeg(segment(0xC0, frame(8, 64, 48, 3)));
  longSegment[5] = 0xF0;  // the JFIF segment claims to run past the end
  const Case cases[] = {
      {"baseline colour", baseline, 0, 640, 480, 3},
      {"progressive gray", jpeg(segment(0xC2, frame(8, 7, 9, 1))), 0, 7, 9, 1},
      {"fill bytes and a restart marker",
       jpeg(Bytes{0xFF, 0xFF, 0xFF, 0xD0, 0xFF, 0xC1, 0, 11, 8, 0, 2, 0, 3, 1, 1, 0x11, 0}), 0, 3, 2, 1},
      {"empty", {}, kImageErrorNotJPEG},
      {"PNG signature", {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, kImageErrorNotJPEG},
      {"cut inside the header", cut, kImageErrorNotJPEG},
      {"segment longer than the data", longSegment, kImageErrorNotJPEG},
      {"scan before any frame", jpeg({}), kImageErrorNotJPEG},
      {"garbage between segments", jpeg(Bytes{0x00, 0xFF, 0xC0}), kImageErrorNotJPEG},
      {"short frame header", jpeg(segment(0xC0, {8, 0, 1})), kImageErrorNotJPEG},
      {"components missing from the frame", jpeg(segment(0xC0, {8, 0, 1, 0, 1, 3, 1, 0x11, 0})), kImageErrorNotJPEG},
      {"no width", jpeg(segment(0xC0, frame(8, 0, 10, 3))), kImageErrorNotJPEG},
      {"CMYK", jpeg(segment(0xC0, frame(8, 10, 10, 4))), kImageErrorUnsupported},
      {"12-bit samples", jpeg(segment(0xC1, frame(12, 10, 10, 3))), kImageErrorUnsupported},
      {"arithmetic coding", jpeg(segment(0xC9, frame(8, 10, 10, 3))), kImageErrorUnsupported},
      {"lossless", jpeg(segment(0xC3, frame(8, 10, 10, 3))), kImageErrorUnsupported},
      {"too wide", jpeg(segment(0xC0, frame(8, 20000, 10, 3))), kImageErrorTooLarge},
      {"too many pixels", jpeg(segment(0xC0, frame(8, 10000, 9000, 3))), kImageErrorTooLarge},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Error error;
    std::shared_ptr<const Image> image = Image::fromJPEGData(c.data, &error);
    if (c.code == 0) {
      ASSERT_TRUE(image) << error.toString();
      EXPECT_EQ(image->width(), c.width);
      EXPECT_EQ(image->height(), c.height);
      EXPECT_EQ(image->components(), c.components);
      EXPECT_EQ(image->jpegData(), c.data);
      EXPECT_EQ(image->byteCost(), c.data.size());
    } else {
      EXPECT_FALSE(image);
      EXPECT_EQ(error.domain, kImageErrorDomain);
      EXPECT_EQ(error.code, c.code) << error.toString();
    }
  }
}

TEST(Image, ReadsOnlyRegularFiles) {
  tabulo_test::TestTmp tmp;
  Bytes good = jpeg(segment(0xC0, frame(8, 4, 4, 3)));
  {
    std::FILE* out = std::fopen((tmp.path() / "good.jpg").c_str(), "wb");
    ASSERT_TRUE(out);
    std::fwrite(good.data(), 1, good.size(), out);
    std::fclose(out);
  }
  ASSERT_EQ(::mkfifo((tmp.path() / "fifo.jpg").c_str(), 0600), 0);
  std::filesystem::create_directory(tmp.path() / "directory.jpg");

  std::shared_ptr<const Image> image = Image::fromJPEGFile(tmp.path() / "good.jpg");
  ASSERT_TRUE(image);
  EXPECT_EQ(image->jpegData(), good);
  for (const char* name : {"missing.jpg", "fifo.jpg", "directory.jpg"}) {
    SCOPED_TRACE(name);
    Error error;
    EXPECT_FALSE(Image::fromJPEGFile(tmp.path() / name, &error));
    EXPECT_EQ(error.code, kImageErrorUnreadable);
  }
}

}  // namespace
}  // namespace platform
