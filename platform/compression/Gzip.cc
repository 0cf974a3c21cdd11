#include "platform/compression/Gzip.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <string>

namespace platform {
namespace {

constexpr int kGzipWindowBits = MAX_WBITS + 16;  // 16: gzip wrapper only
constexpr size_t kChunk = 64 * 1024;
constexpr uInt kMaxFeed = UINT_MAX;  // zlib counts in uInt

Error gzipError(GzipErrorCode code, std::string description) {
  return Error(kGzipErrorDomain, code, std::move(description));
}

// Hands zlib the next part of `data` when it has used up what it was given.
void feed(z_stream& zs, std::span<const uint8_t> data, size_t& fed) {
  if (zs.avail_in != 0 || fed == data.size()) return;
  size_t n = std::min<size_t>(data.size() - fed, kMaxFeed);
  zs.next_in = const_cast<Bytef*>(data.data() + fed);
  zs.avail_in = static_cast<uInt>(n);
  fed += n;
}

}  // namespace

std::optional<std::vector<uint8_t>> gzip(std::span<const uint8_t> data, Error* error) {
  z_stream zs{};
  if (deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kGzipWindowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    setError(error, gzipError(kGzipErrorInternal, "cannot start gzip compression"));
    return std::nullopt;
  }
  std::vector<uint8_t> out;
  size_t fed = 0;
  uint8_t buffer[kChunk];
  int rc = Z_OK;
  while (rc != Z_STREAM_END) {
    feed(zs, data, fed);
    const int flush = fed == data.size() ? Z_FINISH : Z_NO_FLUSH;
    zs.next_out = buffer;
    zs.avail_out = sizeof buffer;
    rc = deflate(&zs, flush);
    if (rc == Z_STREAM_ERROR) break;
    out.insert(out.end(), buffer, buffer + (sizeof buffer - zs.avail_out));
  }
  deflateEnd(&zs);
  if (rc != Z_STREAM_END) {
    setError(error, gzipError(kGzipErrorInternal, "gzip compression failed"));
    return std::nullopt;
  }
  return out;
}

std::optional<std::vector<uint8_t>> gunzip(std::span<const uint8_t> data, size_t maxInflatedSize, Error* error) {
  if (data.empty()) {
    setError(error, gzipError(kGzipErrorTruncated, "gzip data is empty"));
    return std::nullopt;
  }
  z_stream zs{};
  if (inflateInit2(&zs, kGzipWindowBits) != Z_OK) {
    setError(error, gzipError(kGzipErrorInternal, "cannot start gzip decompression"));
    return std::nullopt;
  }
  // One byte more than the cap may be produced: that byte tells "over the cap"
  // from "exactly at the cap".
  const size_t limit = maxInflatedSize == SIZE_MAX ? SIZE_MAX : maxInflatedSize + 1;
  std::vector<uint8_t> out;
  std::optional<Error> failure;
  size_t fed = 0;
  uint8_t buffer[kChunk];
  for (;;) {
    feed(zs, data, fed);
    zs.next_out = buffer;
    zs.avail_out = static_cast<uInt>(std::min(sizeof buffer, limit - out.size()));
    const int rc = inflate(&zs, Z_NO_FLUSH);
    out.insert(out.end(), buffer, buffer + (zs.next_out - buffer));
    if (out.size() > maxInflatedSize) {
      failure = gzipError(kGzipErrorTooLarge,
                          "gzip data inflates to more than " + std::to_string(maxInflatedSize) + " bytes");
      break;
    }
    if (rc == Z_STREAM_END) {
      const size_t remaining = zs.avail_in + (data.size() - fed);
      if (remaining == 0) break;
      // Another member follows only if it starts with the gzip magic bytes.
      const size_t next = data.size() - remaining;
      if (remaining < 2 || data[next] != 0x1f || data[next + 1] != 0x8b) {
        failure = gzipError(kGzipErrorTrailingData,
                            std::to_string(remaining) + " bytes of trailing data after the gzip data");
        break;
      }
      inflateReset(&zs);
      continue;
    }
    if (rc == Z_OK) continue;
    if (rc == Z_BUF_ERROR && zs.avail_in == 0 && fed == data.size()) {
      failure = gzipError(kGzipErrorTruncated, "gzip data is truncated");
      break;
    }
    if (rc == Z_BUF_ERROR) continue;  // output space ran out: the cap check above decides
    if (rc == Z_MEM_ERROR) {
      failure = gzipError(kGzipErrorInternal, "out of memory while inflating gzip data");
    } else {
      failure = gzipError(kGzipErrorCorrupt, std::string("gzip data is corrupt: ") + (zs.msg ? zs.msg : "bad data"));
    }
    break;
  }
  inflateEnd(&zs);
  if (failure) {
    setError(error, std::move(*failure));
    return std::nullopt;
  }
  return out;
}

std::optional<std::vector<uint8_t>> gunzip(std::span<const uint8_t> data, Error* error) {
  return gunzip(data, kGzipDefaultMaxInflatedSize, error);
}

std::optional<std::vector<uint8_t>> hvu_dataByGzippingData(std::span<const uint8_t> data, Error* error) {
  return gzip(data, error);
}

std::optional<std::vector<uint8_t>> hvu_dataByInflatingGzippedData(std::span<const uint8_t> data, Error* error) {
  return gunzip(data, kGzipDefaultMaxInflatedSize, error);
}

}  // namespace platform
