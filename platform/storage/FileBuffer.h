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
// `RegularFileReader` opens a file the same way and reads it in pieces at
// given offsets, for a reader that places parts of a file in buffers of their
// own (a property list's large data value read straight into its value).
//
// Errors are in the POSIX domain: the open's errno (ENOENT for a missing
// file), EISDIR or EINVAL for what is not a regular file, EFBIG for a file
// over the limit, EAGAIN for a file that changed size while it was read.
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

[[nodiscard]] std::optional<FileBuffer> readRegularFile(const std::string& path, size_t maxBytes, Error* error = nullptr);

// A regular file open for reading. Not safe to share between threads while
// reading (each read names its own offset, but the object is one owner's).
class RegularFileReader {
 public:
  // Opens `path` as readRegularFile does, with the same refusals.
  [[nodiscard]] static std::optional<RegularFileReader> open(const std::string& path, size_t maxBytes, Error* error = nullptr);

  RegularFileReader(RegularFileReader&& other) noexcept;
  RegularFileReader& operator=(RegularFileReader&& other) noexcept;
  RegularFileReader(const RegularFileReader&) = delete;
  RegularFileReader& operator=(const RegularFileReader&) = delete;
  ~RegularFileReader();

  const std::string& path() const { return path_; }
  // The file's size when it was opened.
  size_t size() const { return size_; }

  // Fills `into` with the bytes at `offset`. A file that ends sooner answers
  // false with EAGAIN (it changed since it was opened).
  [[nodiscard]] bool readAt(uint64_t offset, std::span<uint8_t> into, Error* error = nullptr) const;
  // Whether the file still ends at size(): false with EAGAIN once it grew.
  [[nodiscard]] bool endsAtSize(Error* error = nullptr) const;
  // The whole file, as readRegularFile answers it.
  [[nodiscard]] std::optional<FileBuffer> readAll(Error* error = nullptr) const;

 private:
  RegularFileReader(int fd, std::string path, size_t size) : fd_(fd), path_(std::move(path)), size_(size) {}

  int fd_ = -1;
  std::string path_;
  size_t size_ = 0;
};

}  // namespace platform
