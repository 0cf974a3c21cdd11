#include "platform/net/HTTPResponseParser.h"

#include <algorithm>
#include <charconv>
#include <strings.h>

namespace platform {

namespace {

constexpr size_t kMaxChunkLineBytes = 1024;

bool equalsIgnoringCase(const std::string& a, const char* b) {
  return strcasecmp(a.c_str(), b) == 0;
}

std::string trimmed(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return text.substr(begin, end - begin);
}

// A token character of a header field name.
bool isTokenChar(unsigned char c) {
  if (c >= '0' && c <= '9') return true;
  if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

}  // namespace

HTTPResponseParser::HTTPResponseParser(size_t maxBodyBytes, bool bodyExpected)
    : maxBodyBytes_(maxBodyBytes), bodyExpected_(bodyExpected) {}

bool HTTPResponseParser::fail(std::string reason) {
  state_ = State::Failed;
  failureReason_ = std::move(reason);
  return false;
}

// Moves one line (without its CR LF or LF) from `pending_` into `line`.
// Answers false while no whole line is there; fails when a line outgrows `limit`.
bool HTTPResponseParser::takeLine(std::string* line, size_t limit) {
  size_t newline = pending_.find('\n');
  if (newline == std::string::npos) {
    if (pending_.size() > limit) fail("line too long");
    return false;
  }
  if (newline > limit) {
    fail("line too long");
    return false;
  }
  size_t end = newline;
  if (end > 0 && pending_[end - 1] == '\r') --end;
  line->assign(pending_, 0, end);
  pending_.erase(0, newline + 1);
  return true;
}

bool HTTPResponseParser::parseStatusLine(const std::string& line) {
  // HTTP/1.x SP 3DIGIT [SP reason]
  if (line.size() < 12 || line.compare(0, 7, "HTTP/1.") != 0 || (line[7] != '0' && line[7] != '1') ||
      line[8] != ' ') {
    return fail("malformed status line");
  }
  int code = 0;
  for (size_t i = 9; i < 12; ++i) {
    if (line[i] < '0' || line[i] > '9') return fail("malformed status code");
    code = code * 10 + (line[i] - '0');
  }
  if (code < 100) return fail("malformed status code");
  if (line.size() > 12 && line[12] != ' ') return fail("malformed status line");
  response_ = HTTPURLResponse{response_.url, code, line.size() > 13 ? line.substr(13) : std::string(), {}};
  return true;
}

bool HTTPResponseParser::parseHeaderLine(const std::string& line) {
  if (line[0] == ' ' || line[0] == '\t') return fail("folded header line");
  size_t colon = line.find(':');
  if (colon == std::string::npos || colon == 0) return fail("malformed header line");
  for (size_t i = 0; i < colon; ++i) {
    if (!isTokenChar(static_cast<unsigned char>(line[i]))) return fail("malformed header name");
  }
  std::string value = trimmed(line.substr(colon + 1));
  for (unsigned char c : value) {
    if ((c < 0x20 && c != '\t') || c == 0x7f) return fail("control character in header value");
  }
  if (response_.headerFields.size() >= kMaxHeaderFields) return fail("too many header fields");
  response_.headerFields.emplace_back(line.substr(0, colon), std::move(value));
  return true;
}

bool HTTPResponseParser::headersComplete() {
  const int code = response_.statusCode;
  if (code < 200) {
    // An interim answer: the real one follows.
    if (code == 101) return fail("unexpected protocol switch");
    phase_ = Phase::StatusLine;
    response_.headerFields.clear();
    return true;
  }
  if (!bodyExpected_ || code == 204 || code == 304) {
    phase_ = Phase::Done;
    return true;
  }
  bool chunked = false;
  std::optional<uint64_t> length;
  for (const auto& [name, value] : response_.headerFields) {
    if (equalsIgnoringCase(name, "Transfer-Encoding")) {
      // Only "chunked" as the last coding frames the body; anything else is refused.
      std::string last = trimmed(value.substr(value.rfind(',') == std::string::npos ? 0 : value.rfind(',') + 1));
      if (!equalsIgnoringCase(last, "chunked")) return fail("unsupported transfer coding");
      chunked = true;
    } else if (equalsIgnoringCase(name, "Content-Length")) {
      uint64_t parsed = 0;
      auto result = std::from_chars(value.data(), value.data() + value.size(), parsed);
      if (value.empty() || result.ec != std::errc() || result.ptr != value.data() + value.size()) {
        return fail("malformed content length");
      }
      if (length && *length != parsed) return fail("conflicting content lengths");
      length = parsed;
    }
  }
  if (chunked) {
    phase_ = Phase::ChunkSize;
  } else if (length) {
    if (*length > maxBodyBytes_) return fail("body too large");
    body_.reserve(static_cast<size_t>(*length));
    remaining_ = *length;
    phase_ = remaining_ == 0 ? Phase::Done : Phase::FixedBody;
  } else {
    phase_ = Phase::BodyToEnd;
  }
  return true;
}

bool HTTPResponseParser::appendBody(const uint8_t* bytes, size_t count) {
  if (count > maxBodyBytes_ - body_.size()) return fail("body too large");
  body_.insert(body_.end(), bytes, bytes + count);
  return true;
}

HTTPResponseParser::State HTTPResponseParser::feed(std::span<const uint8_t> bytes) {
  if (state_ != State::Reading) return state_;
  pending_.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  std::string line;
  while (state_ == State::Reading) {
    switch (phase_) {
      case Phase::StatusLine:
      case Phase::Headers: {
        const size_t before = pending_.size();
        if (!takeLine(&line, kMaxHeaderBytes)) return state_;
        headerBytes_ += before - pending_.size();
        if (headerBytes_ > kMaxHeaderBytes) {
          fail("header block too large");
          break;
        }
        if (phase_ == Phase::StatusLine) {
          if (parseStatusLine(line)) phase_ = Phase::Headers;
        } else if (line.empty()) {
          headersComplete();
        } else {
          parseHeaderLine(line);
        }
        break;
      }
      case Phase::FixedBody:
      case Phase::ChunkData: {
        if (pending_.empty()) return state_;
        size_t take = static_cast<size_t>(std::min<uint64_t>(remaining_, pending_.size()));
        if (!appendBody(reinterpret_cast<const uint8_t*>(pending_.data()), take)) break;
        pending_.erase(0, take);
        remaining_ -= take;
        if (remaining_ == 0) phase_ = phase_ == Phase::FixedBody ? Phase::Done : Phase::ChunkDataEnd;
        break;
      }
      case Phase::ChunkSize: {
        if (!takeLine(&line, kMaxChunkLineBytes)) return state_;
        std::string size = trimmed(line.substr(0, line.find(';')));
        uint64_t parsed = 0;
        auto result = std::from_chars(size.data(), size.data() + size.size(), parsed, 16);
        if (size.empty() || result.ec != std::errc() || result.ptr != size.data() + size.size()) {
          fail("malformed chunk size");
          break;
        }
        if (parsed > maxBodyBytes_ - body_.size()) {
          fail("body too large");
          break;
        }
        remaining_ = parsed;
        phase_ = parsed == 0 ? Phase::Trailers : Phase::ChunkData;
        break;
      }
      case Phase::ChunkDataEnd: {
        if (!takeLine(&line, kMaxChunkLineBytes)) return state_;
        if (!line.empty()) {
          fail("malformed chunk end");
          break;
        }
        phase_ = Phase::ChunkSize;
        break;
      }
      case Phase::Trailers: {
        const size_t before = pending_.size();
        if (!takeLine(&line, kMaxHeaderBytes)) return state_;
        headerBytes_ += before - pending_.size();
        if (headerBytes_ > 2 * kMaxHeaderBytes) {
          fail("trailer block too large");
          break;
        }
        if (line.empty()) phase_ = Phase::Done;  // trailer fields are read and dropped
        break;
      }
      case Phase::BodyToEnd: {
        if (pending_.empty()) return state_;
        if (!appendBody(reinterpret_cast<const uint8_t*>(pending_.data()), pending_.size())) break;
        pending_.clear();
        return state_;
      }
      case Phase::Done:
        state_ = State::Complete;
        pending_.clear();
        break;
    }
  }
  return state_;
}

HTTPResponseParser::State HTTPResponseParser::finish() {
  if (state_ != State::Reading) return state_;
  if (phase_ == Phase::BodyToEnd || phase_ == Phase::Done) {
    state_ = State::Complete;
  } else if (phase_ == Phase::StatusLine && headerBytes_ == 0 && pending_.empty()) {
    fail("connection closed without an answer");
  } else {
    fail("connection closed before the answer was complete");
  }
  pending_.clear();
  return state_;
}

}  // namespace platform
