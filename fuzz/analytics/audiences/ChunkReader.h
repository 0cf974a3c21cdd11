// The input of the audience fuzz targets: single bytes, length-prefixed chunks
// (two bytes, little endian, cut short at the end of the input) and numbers
// in their in-memory form; past the end, zero bytes and empty chunks.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace fuzz_support {

class ChunkReader {
 public:
  ChunkReader(const uint8_t* data, size_t size) : bytes_(data, size) {}
  uint8_t byte() { return at_ < bytes_.size() ? bytes_[at_++] : 0; }
  std::span<const uint8_t> chunk() {
    const size_t length = byte() | (size_t{byte()} << 8);
    const size_t taken = std::min(length, bytes_.size() - at_);
    auto piece = bytes_.subspan(at_, taken);
    at_ += taken;
    return piece;
  }
  template <typename T>
  T number() {
    T value{};
    const size_t taken = std::min(sizeof(T), bytes_.size() - at_);
    std::memcpy(&value, bytes_.data() + at_, taken);
    at_ += taken;
    return value;
  }

 private:
  std::span<const uint8_t> bytes_;
  size_t at_ = 0;
};

}  // namespace fuzz_support
