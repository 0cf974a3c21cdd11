#include "tools/collection_service/RequestCapture.h"

#include <httplib.h>

#include <cstdio>
#include <fstream>
#include <optional>
#include <string>

namespace {

// Fields the server library adds to a request's headers; the client sent none of them.
bool isAddedByServer(const std::string& name) {
  return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT";
}

}  // namespace

void RequestCapture::install(httplib::Server& server) {
  // The post-routing handler runs after a request has been answered and
  // before the answer is written out.
  server.set_post_routing_handler([this](const httplib::Request& request, httplib::Response&) {
    std::optional<std::string> noted;
    {
      std::lock_guard lock(mutex_);
      if (auto found = notedBodies_.find(&request); found != notedBodies_.end()) {
        noted = std::move(found->second);
        notedBodies_.erase(found);
      }
    }
    if (request.path.rfind("/control/", 0) == 0) return;
    if (!capture(request, noted ? &*noted : nullptr)) {
      std::fprintf(stderr, "collection_service: cannot capture %s\n", request.target.c_str());
    }
  });
}

void RequestCapture::noteBody(const httplib::Request& request, std::optional<std::string> body) {
  std::lock_guard lock(mutex_);
  if (body) {
    notedBodies_[&request] = std::move(*body);
  } else {
    notedBodies_.erase(&request);
  }
}

bool RequestCapture::capture(const httplib::Request& request, const std::string* body) {
  std::string text = request.method + " " + request.target + " " +
                     (request.version.empty() ? std::string("HTTP/1.1") : request.version) + "\r\n";
  for (const auto& [name, value] : request.headers) {
    if (!isAddedByServer(name)) text += name + ": " + value + "\r\n";
  }
  text += "\r\n";
  text += body ? *body : request.body;

  char name[40];
  std::snprintf(name, sizeof name, "request-%06llu.http", static_cast<unsigned long long>(count_.fetch_add(1) + 1));
  const std::filesystem::path path = directory_ / name;
  std::filesystem::path temporary = path;
  temporary += ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!out) return false;
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  return !error;
}
