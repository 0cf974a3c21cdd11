// A small reader of protocol-buffer wire bytes that does not use the library's
// codec, so that tests can check what actually goes on the wire.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <span>
#include <vector>

namespace measurement_test {

inline uint64_t varint(std::span<const uint8_t> bytes, size_t& at) {
  uint64_t value = 0;
  for (int shift = 0; at < bytes.size() && shift < 64; shift += 7) {
    const uint8_t byte = bytes[at++];
    value |= static_cast<uint64_t>(byte & 0x7f) << shift;
    if (!(byte & 0x80)) return value;
  }
  ADD_FAILURE() << "a truncated varint";
  return value;
}

// Top-level field tag -> the values of its varint fields (or the length of
// its length-delimited ones), in order. With `nested`, the bytes of each
// length-delimited field are collected there under its tag.
inline std::map<uint32_t, std::vector<uint64_t>> topLevelFields(
    std::span<const uint8_t> bytes, std::map<uint32_t, std::vector<std::vector<uint8_t>>>* nested = nullptr) {
  std::map<uint32_t, std::vector<uint64_t>> fields;
  size_t at = 0;
  while (at < bytes.size()) {
    const uint64_t key = varint(bytes, at);
    const auto tag = static_cast<uint32_t>(key >> 3);
    switch (key & 7) {
      case 0: fields[tag].push_back(varint(bytes, at)); break;
      case 1: at += 8; fields[tag].push_back(0); break;
      case 2: {
        const uint64_t length = varint(bytes, at);
        if (nested && at + length <= bytes.size()) {
          (*nested)[tag].emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                      bytes.begin() + static_cast<std::ptrdiff_t>(at + length));
        }
        at += length;
        fields[tag].push_back(length);
        break;
      }
      case 5: at += 4; fields[tag].push_back(0); break;
      default: ADD_FAILURE() << "wire type " << (key & 7); return fields;
    }
  }
  EXPECT_EQ(at, bytes.size());
  return fields;
}

// The length-delimited fields `tag` of `bytes` (a batch's bundles, a bundle's strings).
inline std::vector<std::vector<uint8_t>> lengthDelimited(std::span<const uint8_t> bytes, uint32_t tag) {
  std::map<uint32_t, std::vector<std::vector<uint8_t>>> nested;
  topLevelFields(bytes, &nested);
  return nested[tag];
}

}  // namespace measurement_test
