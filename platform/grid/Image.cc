#include "platform/grid/Image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace platform {
namespace {

Error imageError(int64_t code, std::string description) {
  return Error(kImageErrorDomain, code, std::move(description));
}

}  // namespace

std::shared_ptr<const Image> Image::fromJPEGData(std::vector<uint8_t> data, Error* error) {
  const size_t size = data.size();
  auto fail = [&](int64_t code, std::string description) -> std::shared_ptr<const Image> {
    setError(error, imageError(code, std::move(description)));
    return nullptr;
  };
  if (size > kMaxFileBytes) return fail(kImageErrorTooLarge, "the JPEG data is too large");
  if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return fail(kImageErrorNotJPEG, "no JPEG start-of-image marker");

  size_t pos = 2;
  while (true) {
    // A marker is 0xFF (any number of fill bytes) followed by its code.
    if (pos >= size || data[pos] != 0xFF)
      return fail(kImageErrorNotJPEG, "a JPEG segment does not start with a marker");
    while (pos < size && data[pos] == 0xFF) ++pos;
    if (pos >= size) return fail(kImageErrorNotJPEG, "the JPEG header is cut short");
    uint8_t marker = data[pos++];
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;  // markers without a length
    if (marker == 0x00 || marker == 0xD8 || marker == 0xD9 || marker == 0xDA) {
      return fail(kImageErrorNotJPEG, "the JPEG data has no frame header");
    }
    if (size - pos < 2) return fail(kImageErrorNotJPEG, "the JPEG header is cut short");
    size_t length = (size_t{data[pos]} << 8) | data[pos + 1];
    if (length < 2 || length > size - pos) return fail(kImageErrorNotJPEG, "a JPEG segment has a wrong length");
    const uint8_t* segment = data.data() + pos + 2;
    const size_t segmentLength = length - 2;
    pos += length;

    const bool frameHeader = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (!frameHeader) continue;
    if (marker > 0xC2) return fail(kImageErrorUnsupported, "the JPEG coding (lossless or arithmetic) is not supported");
    if (segmentLength < 6) return fail(kImageErrorNotJPEG, "the JPEG frame header is cut short");
    int precision = segment[0];
    int height = (segment[1] << 8) | segment[2];
    int width = (segment[3] << 8) | segment[4];
    int components = segment[5];
    if (segmentLength < 6 + 3 * size_t(components))
      return fail(kImageErrorNotJPEG, "the JPEG frame header is cut short");
    if (width == 0 || height == 0) return fail(kImageErrorNotJPEG, "the JPEG picture has no size");
    if (precision != 8 || (components != 1 && components != 3)) {
      return fail(kImageErrorUnsupported, "only 8-bit gray or colour JPEG pictures are supported");
    }
    if (width > kMaxSide || height > kMaxSide || int64_t{width} * height > kMaxPixels) {
      return fail(kImageErrorTooLarge, "the JPEG picture is too large");
    }
    return std::shared_ptr<const Image>(new Image(std::move(data), width, height, components));
  }
}

std::shared_ptr<const Image> Image::fromJPEGFile(const std::filesystem::path& path, Error* error) {
  auto fail = [&](int64_t code, std::string description) -> std::shared_ptr<const Image> {
    setError(error, imageError(code, std::move(description)));
    return nullptr;
  };
  // O_NONBLOCK: opening a FIFO planted under a photo's name must not hang.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return fail(kImageErrorUnreadable, "cannot open " + path.string() + ": " + std::strerror(errno));
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    return fail(kImageErrorUnreadable, path.string() + " is not a regular file");
  }
  if (static_cast<uint64_t>(info.st_size) > kMaxFileBytes) {
    return fail(kImageErrorTooLarge, path.string() + " is too large for a photo");
  }
  std::vector<uint8_t> data(static_cast<size_t>(info.st_size));
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::read(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail(kImageErrorUnreadable, "cannot read " + path.string());
    done += static_cast<size_t>(n);
  }
  return fromJPEGData(std::move(data), error);
}

}  // namespace platform
