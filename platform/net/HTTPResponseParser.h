// platform::HTTPResponseParser — reads one HTTP/1.1 answer from bytes as they
// arrive from a connection.
//
// It reads the status line and header fields, skips interim (1xx) answers,
// and reads the body framed by Content-Length, by chunked transfer coding or
// by the end of the connection. The body is kept as it came (no content
// decoding). Every size is bounded: the header block, each line of the
// chunked framing and the body (`maxBodyBytes`); an answer that breaks the
// framing or a bound puts the parser in the failed state with a reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/net/HTTPURLResponse.h"

namespace platform {

class HTTPResponseParser {
 public:
  enum class State { Reading, Complete, Failed };

  static constexpr size_t kMaxHeaderBytes = 64 * 1024;
  static constexpr size_t kMaxHeaderFields = 256;

  // `bodyExpected` is false for answers to HEAD requests.
  explicit HTTPResponseParser(size_t maxBodyBytes, bool bodyExpected = true);

  // Feeds received bytes; answers the state after them. Bytes after a
  // complete answer are ignored.
  State feed(std::span<const uint8_t> bytes);
  // The connection was closed by the peer: completes an answer framed by
  // the end of the connection, fails any other unfinished one.
  State finish();

  State state() const { return state_; }
  const std::string& failureReason() const { return failureReason_; }
  // Valid once the header block has been read.
  const HTTPURLResponse& response() const { return response_; }
  bool hasHeaders() const { return phase_ > Phase::Headers; }
  std::vector<uint8_t>& body() { return body_; }

 private:
  enum class Phase { StatusLine, Headers, FixedBody, ChunkSize, ChunkData, ChunkDataEnd, Trailers, BodyToEnd, Done };

  bool fail(std::string reason);
  bool takeLine(std::string* line, size_t limit);
  bool parseStatusLine(const std::string& line);
  bool parseHeaderLine(const std::string& line);
  bool headersComplete();
  [[nodiscard]] bool appendBody(const uint8_t* bytes, size_t count);

  const size_t maxBodyBytes_;
  const bool bodyExpected_;
  State state_ = State::Reading;
  Phase phase_ = Phase::StatusLine;
  std::string failureReason_;
  std::string pending_;  // bytes of the line being read
  size_t headerBytes_ = 0;
  uint64_t remaining_ = 0;  // of the fixed body or the current chunk
  HTTPURLResponse response_;
  std::vector<uint8_t> body_;
};

}  // namespace platform
