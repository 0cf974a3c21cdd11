// Helpers for the grid tests: JPEG photos made with libjpeg, a grid view that
// records deselections, PDF tools from poppler-utils, and PPM pixels.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

// jpeglib.h needs <cstdio> before it.
#include <gtest/gtest.h>
#include <jpeglib.h>

#include "platform/grid/SpreadsheetView.h"

namespace tabulo::testing {

// A baseline colour JPEG of `width` by `height` pixels in one colour.
inline std::vector<uint8_t> makeJPEG(int width, int height, std::array<uint8_t, 3> rgb) {
  jpeg_compress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 95, TRUE);
  jpeg_start_compress(&info, TRUE);
  std::vector<uint8_t> row(static_cast<size_t>(width) * 3);
  for (int x = 0; x < width; ++x) std::copy(rgb.begin(), rgb.end(), row.begin() + x * 3);
  while (info.next_scanline < info.image_height) {
    JSAMPROW rows[] = {row.data()};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  std::vector<uint8_t> jpeg(buffer, buffer + size);
  jpeg_destroy_compress(&info);
  std::free(buffer);
  return jpeg;
}

inline void writeBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A grid view that records every deselection and whether it was animated.
class RecordingSpreadsheetView : public platform::SpreadsheetView {
 public:
  void deselectItem(const platform::IndexPath& indexPath, bool animated) override {
    deselected.emplace_back(indexPath, animated);
    platform::SpreadsheetView::deselectItem(indexPath, animated);
  }
  std::vector<std::pair<platform::IndexPath, bool>> deselected;
};

// Standard output of `command`; the test fails when it does not exit with 0.
inline std::string run(const std::string& command) {
  std::string output;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) {
    ADD_FAILURE() << "cannot run " << command;
    return output;
  }
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, n);
  int status = ::pclose(pipe);
  EXPECT_EQ(status, 0) << command;
  return output;
}

// A binary PPM (P6, maxval 255) as pdftoppm writes it.
struct PPM {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;

  std::array<int, 3> at(int x, int y) const {
    size_t i = (static_cast<size_t>(y) * width + x) * 3;
    return {pixels[i], pixels[i + 1], pixels[i + 2]};
  }
};

inline PPM readPPM(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int maxValue = 0;
  PPM image;
  in >> magic >> image.width >> image.height >> maxValue;
  in.get();
  EXPECT_EQ(magic, "P6");
  EXPECT_EQ(maxValue, 255);
  image.pixels.resize(static_cast<size_t>(image.width) * image.height * 3);
  in.read(reinterpret_cast<char*>(image.pixels.data()), static_cast<std::streamsize>(image.pixels.size()));
  return image;
}

// Whether `actual` is within `tolerance` of `expected` in every component.
inline bool near(std::array<int, 3> actual, std::array<int, 3> expected, int tolerance = 12) {
  for (int i = 0; i < 3; ++i) {
    if (std::abs(actual[i] - expected[i]) > tolerance) return false;
  }
  return true;
}

}  // namespace tabulo::testing
