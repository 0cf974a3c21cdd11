// Gzip compression and decompression through zlib, in the standard gzip file
// format (what `gzip` writes and `gzip -d` reads).
//
// Decompression is for data from outside (network bodies, stored files), so it
// never trusts its input:
// - the inflated size is capped (kGzipDefaultMaxInflatedSize unless the caller
//   gives another cap); more output than the cap is an error, and no more than
//   cap + 1 bytes are ever held in memory;
// - a gzip file may hold several members one after another; their contents are
//   joined, as `gzip -d` does, and the cap applies to the total;
// - bytes after the last member that do not begin another member are trailing
//   garbage and make the whole input fail (kGzipErrorTrailingData): a blob with
//   stray bytes at its end was framed or stored wrongly, and we would rather say
//   so than pass on a part of it;
// - only the gzip wrapper is accepted: raw deflate and zlib streams are not gzip.
// Every failure answers std::nullopt and fills `error` (domain kGzipErrorDomain);
// nothing throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/core/Error.h"

namespace platform {

inline constexpr const char* kGzipErrorDomain = "platform.Gzip";

enum GzipErrorCode : int64_t {
  kGzipErrorCorrupt = 1,       // not gzip data, or damaged (bad header, bad deflate data, CRC or length mismatch)
  kGzipErrorTruncated = 2,     // the data ends inside a member (empty input included)
  kGzipErrorTooLarge = 3,      // the inflated data would exceed the cap
  kGzipErrorTrailingData = 4,  // bytes after the last member that are not another member
  kGzipErrorInternal = 5,      // zlib could not start (out of memory)
};

inline constexpr size_t kGzipDefaultMaxInflatedSize = size_t{64} << 20;  // 64 MiB

// `data` compressed as a one-member gzip file (default compression level, no
// file name, modification time 0). Empty input gives a valid gzip file of
// empty content.
std::optional<std::vector<uint8_t>> gzip(std::span<const uint8_t> data, Error* error = nullptr);

// The content of the gzip file `data`, at most `maxInflatedSize` bytes.
[[nodiscard]] std::optional<std::vector<uint8_t>> gunzip(std::span<const uint8_t> data, size_t maxInflatedSize,
                                           Error* error = nullptr);
// The same with the default cap.
[[nodiscard]] std::optional<std::vector<uint8_t>> gunzip(std::span<const uint8_t> data, Error* error = nullptr);

// The utilities-framework forms: nil (std::nullopt) and an error on failure.
// Inflating uses the default cap.
[[nodiscard]] std::optional<std::vector<uint8_t>> hvu_dataByGzippingData(std::span<const uint8_t> data, Error* error = nullptr);
[[nodiscard]] std::optional<std::vector<uint8_t>> hvu_dataByInflatingGzippedData(std::span<const uint8_t> data,
                                                                   Error* error = nullptr);

}  // namespace platform
