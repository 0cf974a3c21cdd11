// The frames the local collection service and the PSM double trade over a
// pair of pipes: a 4-byte little-endian length, then that many bytes.
//
// A query frame is one kind byte ('P' a private-set-membership query, 'G' a
// group-identifier query, 'O' an on-device measurement query) followed by the request's web-safe base64 text as
// the client sent it. An answer frame is one status byte followed by the
// response's web-safe base64 text (kAnswered) or a message.
//
// This file links nothing but the C library: the collection service, which
// must not load BoringSSL, uses it as well as the double.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tabulo::psm_double {

inline constexpr char kQueryPSM = 'P';
inline constexpr char kQueryGroupID = 'G';
inline constexpr char kQueryOnDeviceMeasurement = 'O';

enum class AnswerStatus : char {
  kAnswered = 0,    // the rest is the response
  kBadRequest = 1,  // the request did not decode or named points that are not on the curve
  kFailed = 2,      // the double could not answer
};

inline constexpr size_t kMaxFrameBytes = 16 * 1024 * 1024;

std::string EncodeFrame(std::string_view payload);

// Writes one frame to `fd`; false when the pipe broke or the payload is too large.
bool WriteFrame(int fd, std::string_view payload);

// Reads one frame from `fd`, waiting at most `timeoutMilliseconds` for each
// chunk (a negative timeout waits without bound). Nullopt at the end of the
// stream, on a read error, on a time-out and for a length above kMaxFrameBytes.
std::optional<std::string> ReadFrame(int fd, int timeoutMilliseconds);

}  // namespace tabulo::psm_double
