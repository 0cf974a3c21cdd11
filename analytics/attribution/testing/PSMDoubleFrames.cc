#include "analytics/attribution/testing/PSMDoubleFrames.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace tabulo::psm_double {

namespace {

bool ReadExactly(int fd, char* out, size_t size, int timeoutMilliseconds) {
  size_t done = 0;
  while (done < size) {
    pollfd waiting{fd, POLLIN, 0};
    const int ready = poll(&waiting, 1, timeoutMilliseconds);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    const ssize_t n = read(fd, out + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string EncodeFrame(std::string_view payload) {
  std::string frame(4, '\0');
  const auto length = static_cast<uint32_t>(payload.size());
  for (int i = 0; i < 4; ++i) frame[static_cast<size_t>(i)] = static_cast<char>((length >> (8 * i)) & 0xff);
  frame.append(payload);
  return frame;
}

bool WriteFrame(int fd, std::string_view payload) {
  if (payload.size() > kMaxFrameBytes) return false;
  const std::string frame = EncodeFrame(payload);
  size_t done = 0;
  while (done < frame.size()) {
    const ssize_t n = write(fd, frame.data() + done, frame.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::optional<std::string> ReadFrame(int fd, int timeoutMilliseconds) {
  char header[4];
  if (!ReadExactly(fd, header, sizeof header, timeoutMilliseconds)) return std::nullopt;
  uint32_t length = 0;
  for (int i = 3; i >= 0; --i) length = (length << 8) | static_cast<uint8_t>(header[i]);
  if (length > kMaxFrameBytes) return std::nullopt;
  std::string payload(length, '\0');
  if (!ReadExactly(fd, payload.data(), payload.size(), timeoutMilliseconds)) return std::nullopt;
  return payload;
}

}  // namespace tabulo::psm_double
