// Tests that speak to the local collection service with the library's HTTP
// client: one request and its answer, and the requests the service captured
// (--capture DIR, see RequestCapture.h).
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/Queue.h"
#include "platform/net/HVUNetwork.h"

namespace tabulo::test {

struct HTTPAnswer {
  int status = -1;  // -1: no answer
  std::vector<uint8_t> body;
  std::shared_ptr<const platform::HTTPURLResponse> response;

  std::string text() const { return std::string(body.begin(), body.end()); }
};

// Sends one request (POST with `payload`, any other method as a GET) and
// waits at most 30 seconds for the answer: real socket I/O.
inline HTTPAnswer exchange(const std::string& method, const std::string& url, const std::vector<uint8_t>& payload = {},
                           const platform::HVUNetwork::Headers& headers = {}) {
  auto queue = platform::SerialQueue::create("test.loopback");
  platform::HVUNetwork network;
  std::mutex mutex;
  std::condition_variable done;
  std::optional<HTTPAnswer> answer;
  auto handler = [&](std::shared_ptr<const platform::HTTPURLResponse> response, std::vector<uint8_t> body,
                     std::optional<platform::Error>) {
    std::lock_guard<std::mutex> lock(mutex);
    answer = HTTPAnswer{response ? response->statusCode : -1, std::move(body), response};
    done.notify_all();
  };
  if (method == "POST") {
    network.postURL(url, headers, payload, queue, false, handler);
  } else {
    network.getURL(url, headers, queue, false, handler);
  }
  std::unique_lock<std::mutex> lock(mutex);
  done.wait_for(lock, std::chrono::seconds(30), [&] { return answer.has_value(); });
  return answer.value_or(HTTPAnswer{});
}

// The captured requests in `directory`, in the order they were answered.
inline std::vector<std::string> capturedRequests(const std::filesystem::path& directory) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  std::vector<std::string> texts;
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    texts.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return texts;
}

}  // namespace tabulo::test
