#include "tools/collection_service/CollectionService.h"

#include <fcntl.h>
#include <httplib.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

#include "analytics/wire/GWLPBEvent.h"
#include "analytics/wire/GWLPBMeasurementBatch.h"
#include "analytics/wire/GWLPBMeasurementBundle.h"
#include "platform/compression/Gzip.h"
#include "tools/collection_service/AttributionRoutes.h"
#include "tools/collection_service/RequestCapture.h"

namespace {

constexpr double kMaxSlowSeconds = 30;
constexpr size_t kMaxUploadBytes = 16 * 1024 * 1024;

std::optional<std::vector<uint8_t>> readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string entityTag(const std::vector<uint8_t>& bytes) {
  uint64_t hash = 1469598103934665603ull;  // FNV-1a
  for (uint8_t b : bytes) {
    hash ^= b;
    hash *= 1099511628211ull;
  }
  char text[24];
  std::snprintf(text, sizeof text, "\"%016llx\"", static_cast<unsigned long long>(hash));
  return text;
}

std::string httpDate(std::filesystem::file_time_type time) {
  auto system = std::chrono::time_point_cast<std::chrono::seconds>(
      time - std::filesystem::file_time_type::clock::now() + std::chrono::system_clock::now());
  std::time_t seconds = std::chrono::system_clock::to_time_t(system);
  std::tm tm{};
  gmtime_r(&seconds, &tm);
  char text[64];
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &tm);
  return text;
}

// An app identifier usable as a file name: no path separators, not hidden.
bool isSafeFileName(const std::string& name) {
  return !name.empty() && name[0] != '.' && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos && name.size() < 200;
}

// The highest number among the batch-NNNNNN.pb files already in `directory`.
uint64_t highestRecordedBatch(const std::filesystem::path& directory) {
  uint64_t highest = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
    const std::string name = entry.path().filename().string();
    if (name.size() < 10 || name.rfind("batch-", 0) != 0 || name.substr(name.size() - 3) != ".pb") continue;
    const std::string digits = name.substr(6, name.size() - 9);
    if (digits.empty() || digits.size() > 18 || digits.find_first_not_of("0123456789") != std::string::npos) continue;
    highest = std::max<uint64_t>(highest, std::stoull(digits));
  }
  return highest;
}

// How many requests a failure switch applies to: the "count" parameter, 1 when absent, within 0 to 1000.
int switchCount(const httplib::Request& request) {
  int n = request.has_param("count") ? std::atoi(request.get_param_value("count").c_str()) : 1;
  return std::clamp(n, 0, 1000);
}

}  // namespace

struct CollectionService::State {
  CollectionServiceOptions options;
  std::unique_ptr<httplib::Server> server;
  std::unique_ptr<AttributionRoutes> attribution;
  std::unique_ptr<RequestCapture> capture;
  std::mutex mutex;  // guards the failure switches and the batch counter
  int failStatus = 0;
  int failCount = 0;
  double slowSeconds = 0;
  int slowCount = 0;
  int dropCount = 0;
  uint64_t batches = 0;
  int recordLock = -1;  // held for as long as the service records into its directory
  std::atomic<uint64_t> requests{0};
  std::mutex stopMutex;
  std::condition_variable stopped;
  bool stopRequested = false;

  // The steps of `bind`, in order, with one function per route.
  bool lockRecordDirectory(std::string* message);
  bool startAttribution(std::string* message);
  bool makeServer(std::string* message);
  void installFailureSwitches(CollectionService& service);
  void installFailRoute();
  void installSlowRoute();
  void installDropRoute();
  void installResetRoute();
  void installUploadRoute();
  // The file name the batch was recorded under, or none when it could not be written.
  std::optional<std::string> recordBatch(const std::vector<uint8_t>& encoded);
  // The line a person watching the service sees for each accepted batch.
  void printAcceptedBatch(const std::string& fileName, const GWLPBMeasurementBatch& batch);
  void installConfigRoute();
  void installExperimentsRoute();
  void installAttributionAndCapture();
  int listen(std::string* message);
};

std::optional<CollectionServiceOptions> CollectionServiceOptions::parse(int argc, char** argv, std::string* message) {
  CollectionServiceOptions options;
  auto need = [&](int i, int count) {
    if (i + count < argc) return true;
    *message = std::string("missing value after ") + argv[i];
    return false;
  };
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    try {
      if (arg == "--port" && need(i, 1)) {
        options.port = std::stoi(argv[++i]);
        if (options.port < 0 || options.port > 65535) throw std::out_of_range("port");
      } else if (arg == "--record" && need(i, 1)) {
        options.recordDirectory = argv[++i];
      } else if (arg == "--config-dir" && need(i, 1)) {
        options.configDirectory = argv[++i];
      } else if (arg == "--experiments" && need(i, 1)) {
        options.experimentsFile = argv[++i];
      } else if (arg == "--tls" && need(i, 2)) {
        options.certificateFile = argv[++i];
        options.keyFile = argv[++i];
      } else if (arg == "--psm-double" && need(i, 1)) {
        options.psmDoubleProgram = argv[++i];
      } else if (arg == "--attribution" && need(i, 1)) {
        options.attributionFile = argv[++i];
      } else if (arg == "--capture" && need(i, 1)) {
        options.captureDirectory = argv[++i];
      } else if (arg == "--max-seconds" && need(i, 1)) {
        options.maxSeconds = std::stod(argv[++i]);
        if (!(options.maxSeconds > 0)) throw std::out_of_range("seconds");
      } else if (arg == "--max-requests" && need(i, 1)) {
        options.maxRequests = std::stoull(argv[++i]);
      } else {
        if (message->empty()) {
          *message = "usage: collection_service [--port N] [--record DIR] [--config-dir DIR] [--experiments FILE]"
                     " [--tls CERT KEY] [--psm-double PROGRAM] [--attribution FILE] [--capture DIR]"
                     " [--max-seconds S] [--max-requests N]";
        }
        return std::nullopt;
      }
    } catch (const std::exception&) {
      *message = "bad value for " + arg;
      return std::nullopt;
    }
  }
  return options;
}

CollectionService::CollectionService(CollectionServiceOptions options) : state_(std::make_unique<State>()) {
  state_->options = std::move(options);
}

CollectionService::~CollectionService() {
  stop();
  if (state_->recordLock >= 0) ::close(state_->recordLock);
}

int CollectionService::bind(std::string* message) {
  State& s = *state_;
  if (!s.lockRecordDirectory(message) || !s.startAttribution(message) || !s.makeServer(message)) return -1;
  s.installFailureSwitches(*this);
  s.installFailRoute();
  s.installSlowRoute();
  s.installDropRoute();
  s.installResetRoute();
  s.installUploadRoute();
  s.installConfigRoute();
  s.installExperimentsRoute();
  s.installAttributionAndCapture();
  return s.listen(message);
}

// One service per record directory; numbering goes on after the batches already there.
bool CollectionService::State::lockRecordDirectory(std::string* message) {
  if (!options.recordDirectory) return true;
  std::error_code madeError;
  std::filesystem::create_directories(*options.recordDirectory, madeError);
  recordLock = ::open(options.recordDirectory->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (recordLock < 0) {
    *message = "cannot record into " + options.recordDirectory->string() + ": " +
               (madeError ? madeError.message() : std::string(std::strerror(errno)));
    return false;
  }
  if (::flock(recordLock, LOCK_EX | LOCK_NB) != 0) {
    *message = "another collection service records into " + options.recordDirectory->string();
    return false;
  }
  batches = highestRecordedBatch(*options.recordDirectory);
  return true;
}

// The PSM double starts before the server, so that it inherits no socket of the server.
bool CollectionService::State::startAttribution(std::string* message) {
  auto path = [](const std::optional<std::filesystem::path>& p) {
    return p ? std::optional<std::string>(p->string()) : std::nullopt;
  };
  attribution = AttributionRoutes::create(path(options.psmDoubleProgram), path(options.attributionFile), message);
  return attribution != nullptr;
}

bool CollectionService::State::makeServer(std::string* message) {
  if (options.certificateFile) {
    auto tlsServer = std::make_unique<httplib::SSLServer>(options.certificateFile->c_str(), options.keyFile->c_str());
    if (!tlsServer->is_valid()) {
      *message = "cannot load the certificate or key";
      return false;
    }
    server = std::move(tlsServer);
  } else {
    server = std::make_unique<httplib::Server>();
  }
  server->set_payload_max_length(kMaxUploadBytes);
  server->set_read_timeout(10, 0);
  server->set_write_timeout(10, 0);
  server->set_keep_alive_max_count(100);
  return true;
}

// Failure switches apply before routing, to every path but the control ones.
void CollectionService::State::installFailureSwitches(CollectionService& service) {
  server->set_pre_routing_handler([this, &service](const httplib::Request& request, httplib::Response& response) {
    if (capture) capture->noteBody(request, std::nullopt);  // nothing left over from an earlier request
    if (requests.fetch_add(1) + 1 > options.maxRequests) {
      response.status = 503;
      std::thread([&service] { service.stop(); }).detach();
      return httplib::Server::HandlerResponse::Handled;
    }
    if (request.path.rfind("/control/", 0) == 0) return httplib::Server::HandlerResponse::Unhandled;
    double slow = 0;
    int status = 0;
    bool drop = false;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (slowCount > 0) {
        --slowCount;
        slow = slowSeconds;
      }
      if (dropCount > 0) {
        --dropCount;
        drop = true;
      } else if (failCount > 0) {
        --failCount;
        status = failStatus;
      }
    }
    if (slow > 0) std::this_thread::sleep_for(std::chrono::duration<double>(slow));
    if (drop) {
      response.status = 200;
      // The header promises a body that never comes: the connection closes.
      response.set_content_provider(
          64, "application/octet-stream", [](size_t, size_t, httplib::DataSink&) { return false; });
      return httplib::Server::HandlerResponse::Handled;
    }
    if (status) {
      response.status = status;
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
}

void CollectionService::State::installFailRoute() {
  server->Post("/control/fail", [this](const httplib::Request& request, httplib::Response& response) {
    int status = std::atoi(request.get_param_value("status").c_str());
    if (status < 100 || status > 599) {
      response.status = 400;
      return;
    }
    std::lock_guard<std::mutex> lock(mutex);
    failStatus = status;
    failCount = switchCount(request);
    response.status = 204;
  });
}

void CollectionService::State::installSlowRoute() {
  server->Post("/control/slow", [this](const httplib::Request& request, httplib::Response& response) {
    double seconds = std::atof(request.get_param_value("seconds").c_str());
    std::lock_guard<std::mutex> lock(mutex);
    slowSeconds = std::clamp(seconds, 0.0, kMaxSlowSeconds);
    slowCount = switchCount(request);
    response.status = 204;
  });
}

void CollectionService::State::installDropRoute() {
  server->Post("/control/drop", [this](const httplib::Request& request, httplib::Response& response) {
    std::lock_guard<std::mutex> lock(mutex);
    dropCount = switchCount(request);
    response.status = 204;
  });
}

void CollectionService::State::installResetRoute() {
  server->Post("/control/reset", [this](const httplib::Request&, httplib::Response& response) {
    std::lock_guard<std::mutex> lock(mutex);
    failCount = slowCount = dropCount = 0;
    response.status = 204;
  });
}

void CollectionService::State::installUploadRoute() {
  server->Post("/a", [this](const httplib::Request& request, httplib::Response& response,
                            const httplib::ContentReader& reader) {
    // The server undoes a gzip content coding as it reads; the inflated body
    // is held to the same cap as a plain one, so a small bomb is refused (413)
    // rather than inflated.
    std::string inflated;
    bool tooLarge = false;
    const bool read = reader([&](const char* data, size_t length) {
      if (length > kMaxUploadBytes - inflated.size()) {
        tooLarge = true;
        return false;
      }
      inflated.append(data, length);
      return true;
    });
    if (capture) capture->noteBody(request, inflated);
    if (tooLarge || !read) {
      response.status = tooLarge ? 413 : 400;
      response.set_content(tooLarge ? "batch larger than 16 MB\n" : "unreadable body\n", "text/plain");
      return;
    }
    std::span<const uint8_t> body(reinterpret_cast<const uint8_t*>(inflated.data()), inflated.size());
    auto batch = GWLPBMeasurementBatch::initWithBuffer(body);
    std::optional<std::vector<uint8_t>> encoded = batch ? batch->protoBuffer() : std::nullopt;
    if (!batch || !encoded) {
      response.status = 400;
      response.set_content("undecodable batch\n", "text/plain");
      return;
    }
    std::string fileName = "(not recorded)";
    if (options.recordDirectory) {
      std::optional<std::string> recorded = recordBatch(*encoded);
      if (!recorded) {
        response.status = 500;
        return;
      }
      fileName = *recorded;
    }
    printAcceptedBatch(fileName, *batch);
    response.status = 204;
  });
}

// One line per accepted batch on standard output, after the port line:
//   batch-000001.pb: 1 bundle, 5 events: _f _s _vs developer_tapped _e
// (at most kPrintedEventNames names; the rest are counted).
void CollectionService::State::printAcceptedBatch(const std::string& fileName, const GWLPBMeasurementBatch& batch) {
  constexpr size_t kPrintedEventNames = 40;
  const auto bundles = batch.bundles();
  std::string names;
  size_t events = 0;
  for (const auto& bundle : bundles) {
    for (const auto& event : bundle->events()) {
      if (++events > kPrintedEventNames) continue;
      names += " " + event->name().value_or("?");
    }
  }
  if (events > kPrintedEventNames) names += " (and " + std::to_string(events - kPrintedEventNames) + " more)";
  std::lock_guard<std::mutex> lock(mutex);
  std::printf("%s: %zu bundle%s, %zu event%s:%s\n", fileName.c_str(), bundles.size(), bundles.size() == 1 ? "" : "s",
              events, events == 1 ? "" : "s", names.c_str());
  std::fflush(stdout);
}

// Writes a batch as the next batch-NNNNNN.pb of the record directory (a temporary file renamed in place).
std::optional<std::string> CollectionService::State::recordBatch(const std::vector<uint8_t>& encoded) {
  uint64_t number;
  {
    std::lock_guard<std::mutex> lock(mutex);
    number = ++batches;
  }
  char name[32];
  std::snprintf(name, sizeof name, "batch-%06llu.pb", static_cast<unsigned long long>(number));
  std::filesystem::path path = *options.recordDirectory / name;
  std::filesystem::path temporary = path;
  temporary += ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(encoded.data()), static_cast<std::streamsize>(encoded.size()));
    if (!out) return std::nullopt;
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  if (error) return std::nullopt;
  return std::string(name);
}

void CollectionService::State::installConfigRoute() {
  server->Get(R"(/config/app/([^/?]+))", [this](const httplib::Request& request, httplib::Response& response) {
    const std::string appID = request.matches[1];
    if (!options.configDirectory || !isSafeFileName(appID)) {
      response.status = 404;
      return;
    }
    std::filesystem::path path = *options.configDirectory / (appID + ".pb");
    std::error_code error;
    auto modified = std::filesystem::last_write_time(path, error);
    auto bytes = error ? std::nullopt : readFile(path);
    if (!bytes) {
      response.status = 404;
      return;
    }
    const std::string tag = entityTag(*bytes);
    const std::string date = httpDate(modified);
    response.set_header("ETag", tag);
    response.set_header("Last-Modified", date);
    const bool tagMatches = request.has_header("If-None-Match") && request.get_header_value("If-None-Match") == tag;
    const bool dateMatches = !request.has_header("If-None-Match") && request.has_header("If-Modified-Since") &&
                             request.get_header_value("If-Modified-Since") == date;
    if (tagMatches || dateMatches) {
      response.status = 304;
      return;
    }
    response.status = 200;
    response.set_content(std::string(bytes->begin(), bytes->end()), "application/x-protobuf");
  });
}

void CollectionService::State::installExperimentsRoute() {
  server->Post("/sdk-exp", [this](const httplib::Request&, httplib::Response& response) {
    auto bytes = options.experimentsFile ? readFile(*options.experimentsFile) : std::nullopt;
    auto compressed = bytes ? platform::gzip(*bytes) : std::nullopt;
    if (!compressed) {
      response.status = 404;
      return;
    }
    response.status = 200;
    response.set_header("Content-Encoding", "gzip");
    response.set_content(std::string(compressed->begin(), compressed->end()), "application/x-protobuf");
  });
}

// The attribution services' routes and, when asked for, the capture of every request.
void CollectionService::State::installAttributionAndCapture() {
  attribution->install(*server);
  if (options.captureDirectory) {
    capture = std::make_unique<RequestCapture>(*options.captureDirectory);
    capture->install(*server);
  }
}

int CollectionService::State::listen(std::string* message) {
  if (options.port == 0) {
    int port = server->bind_to_any_port("127.0.0.1");
    if (port <= 0) {
      *message = "cannot bind to 127.0.0.1";
      return -1;
    }
    return port;
  }
  if (!server->bind_to_port("127.0.0.1", options.port)) {
    *message = "cannot bind to 127.0.0.1:" + std::to_string(options.port);
    return -1;
  }
  return options.port;
}

void CollectionService::run() {
  State& s = *state_;
  if (!s.server) return;
  std::thread watchdog([&s] {
    std::unique_lock<std::mutex> lock(s.stopMutex);
    s.stopped.wait_for(lock, std::chrono::duration<double>(s.options.maxSeconds), [&s] { return s.stopRequested; });
    s.server->stop();
  });
  s.server->listen_after_bind();
  stop();
  watchdog.join();
}

void CollectionService::stop() {
  State& s = *state_;
  {
    std::lock_guard<std::mutex> lock(s.stopMutex);
    s.stopRequested = true;
  }
  s.stopped.notify_all();
}
