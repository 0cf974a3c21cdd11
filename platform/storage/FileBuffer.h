// platform::FileBuffer — a whole regular file read into memory in one sized
// read.
//
// `readRegularFile` opens the file without blocking (a FIFO or device handed
// over in place of a file cannot hang the open), refuses anything that is not
// a regular file and files larger than `maxBytes`, allocates the file's size
// once without filling the buffer first, and reads into it. A file that grows
// past its size while being read is refused (EAGAIN) rather than cut short;
// one that shrinks gives the bytes that were there.
//
// Errors are in the POSIX domain: the open's errno (ENOENT for a missing
// file), EISDIR or EINVAL for what is not a regular file, EFBIG for a file
// over the limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/core/Error.h"

namespace platform {

class FileBuffer {
 public:
  FileBuffer() = default;
  FileBuffer(std::unique_ptr<uint8_t[]> data, size_t size) : data_(std::move(data)), size_(size) {}

  const uint8_t* data() const { return data_.get(); }
  size_t size() const { return size_; }
  std::span<const uint8_t> bytes() const { return {data_.get(), size_}; }
  std::string_view text() const { return {reinterpret_cast<const char*>(data_.get()), size_}; }

 private:
  std::unique_ptr<uint8_t[]> data_;
  size_t size_ = 0;
};

std::optional<FileBuffer> readRegularFile(const std::string& path, size_t maxBytes, Error* error = nullptr);

}  // namespace platform
