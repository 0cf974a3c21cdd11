// fuzz_support::Reader — reads a fuzzer's input as a little language of
// values: text that need not be UTF-8, numbers, booleans, bytes, dates, and
// arrays and dictionaries nested a few levels deep.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/core/Object.h"

namespace fuzz_support {

using platform::Array;
using platform::Dictionary;
using platform::Object;

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool done() const { return offset_ >= size_; }
  uint8_t byte() { return done() ? 0 : data_[offset_++]; }
  std::string text() {
    const size_t length = byte() % 48;
    std::string result;
    for (size_t i = 0; i < length && !done(); ++i) result.push_back(static_cast<char>(byte()));
    return result;
  }
  int64_t integer() {
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value = (value << 8) | byte();
    return static_cast<int64_t>(value);
  }
  double real() {
    const uint64_t bits = static_cast<uint64_t>(integer());
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
  Object object(int depth = 0) {
    switch (byte() % (depth >= 3 ? 7 : 9)) {
      case 0: return Object();
      case 1: return Object((byte() & 1) != 0);
      case 2: return Object(integer());
      case 3: return Object(real());
      case 4: return Object(platform::Date{real()});
      case 5: return Object(platform::Bytes{byte(), byte()});
      case 6: return Object(text());
      case 7: {
        Array array;
        for (int n = byte() % 4; n > 0 && !done(); --n) array.push_back(object(depth + 1));
        return Object(std::move(array));
      }
      default: return Object(dictionary(depth + 1));
    }
  }
  Dictionary dictionary(int depth = 0) {
    Dictionary result;
    for (int n = byte() % 5; n > 0 && !done(); --n) result.emplace(text(), object(depth + 1));
    return result;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t offset_ = 0;
};

}  // namespace fuzz_support
