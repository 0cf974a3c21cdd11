// RequestCapture — writes every request the collection service answers to a
// directory (--capture DIR), one file per request, numbered in the order the
// answers are made: request-000001.http, request-000002.http, ...
//
// A file holds the request as an HTTP/1.1 message: the request line (method,
// target as sent, version), the header fields as received, an empty line and
// the body as the handlers saw it (a gzip content coding undone; no body when
// a failure switch answered before the body was read). A file is complete
// before the answer goes out, so a client that has its answer finds it.
// Requests to /control/ are not captured.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace httplib {
class Server;
struct Request;
}

class RequestCapture {
 public:
  explicit RequestCapture(std::filesystem::path directory) : directory_(std::move(directory)) {}

  void install(httplib::Server& server);
  // Writes one request; false when the file could not be written.
  bool capture(const httplib::Request& request, const std::string* body = nullptr);
  // The body of `request` as a route that read it itself saw it; captured in
  // place of the request's own (empty) body. None forgets what was noted.
  void noteBody(const httplib::Request& request, std::optional<std::string> body);

 private:
  std::filesystem::path directory_;
  std::atomic<uint64_t> count_{0};
  std::mutex mutex_;
  std::map<const httplib::Request*, std::string> notedBodies_;
};
