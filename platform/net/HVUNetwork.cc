#include "platform/net/HVUNetwork.h"

#include <arpa/inet.h>
#include <errno.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <poll.h>
#include <signal.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <condition_variable>
#include <cstring>
#include <strings.h>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/dispatch/Queue.h"
#include "platform/net/HTTPResponseParser.h"
#include "platform/net/URL.h"

namespace platform {

namespace {

// Message codes of the client's reports.
constexpr int64_t kRequestStartedCode = 902001;
constexpr int64_t kRequestFinishedCode = 902002;
constexpr int64_t kRequestFailedCode = 902003;
constexpr int64_t kRequestRefusedCode = 902004;
constexpr int64_t kHeaderSkippedCode = 902005;

std::atomic<uint64_t> gNextRequestID{1};

Error networkError(HVUNetworkErrorCode code, const std::string& description) {
  return Error(kHVUNetworkErrorDomain, code, description);
}

bool isTokenChar(unsigned char c) {
  if ((c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z')) return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

bool isValidHeaderName(const std::string& name) {
  if (name.empty()) return false;
  for (unsigned char c : name) {
    if (!isTokenChar(c)) return false;
  }
  return true;
}

bool isValidHeaderValue(const std::string& value) {
  for (unsigned char c : value) {
    if ((c < 0x20 && c != '\t') || c == 0x7f) return false;
  }
  return true;
}

bool equalsIgnoringCase(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

// Header fields the client writes itself.
bool isManagedHeader(const std::string& name) {
  return equalsIgnoringCase(name, "Host") || equalsIgnoringCase(name, "Content-Length") ||
         equalsIgnoringCase(name, "Connection") || equalsIgnoringCase(name, "Transfer-Encoding");
}

bool isLoopbackHost(const std::string& host) {
  return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

// What one request needs, copied when it starts.
struct RequestSpec {
  std::string method;
  URL url;
  std::vector<std::pair<std::string, std::string>> headers;
  std::vector<uint8_t> payload;
  double timeout = kHVUNetworkDefaultTimeoutInterval;
  size_t maxBodyBytes = kHVUNetworkDefaultMaxBodyBytes;
  std::string trustFile;
};

struct Outcome {
  std::shared_ptr<const HTTPURLResponse> response;
  std::vector<uint8_t> body;
  std::optional<Error> error;
  bool unreachable = false;
};

}  // namespace

struct HVUNetwork::Shared {
  std::mutex mutex;
  int wakeFd = -1;  // readable once the client is destroyed
  std::atomic<bool> cancelled{false};
  std::atomic<int> inFlight{0};
  // Request threads run detached, each holding this state alive; the client's
  // destructor waits until the last of them has ended, so a finished request
  // leaves no thread behind for anyone to join.
  int runningWorkers = 0;  // guarded by mutex
  std::condition_variable workersEnded;

  // Settings, guarded by mutex.
  double timeout = kHVUNetworkDefaultTimeoutInterval;
  size_t maxBodyBytes = kHVUNetworkDefaultMaxBodyBytes;
  std::string trustFile = kHVUNetworkDefaultTrustFile;
  bool debug = false;
  std::weak_ptr<HVUNetworkLoggerDelegate> logger;
  std::weak_ptr<HVUNetworkReachabilityDelegate> reachabilityDelegate;
  std::optional<bool> lastReachable;
  std::optional<bool> reachabilityOverride;

  // The interface watch, running while a reachability delegate is set:
  // guarded by mutex (the thread itself only reads the two descriptors).
  std::thread watcher;
  int watchStopFd = -1;  // readable: the watch ends
  int watchPokeFd = -1;  // readable: look at the interfaces as if the kernel had reported a change

  void log(int level, int64_t code, const std::string& message, const std::vector<std::string>& contexts = {}) {
    std::shared_ptr<HVUNetworkLoggerDelegate> delegate;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (level >= 7 && !debug) return;
      delegate = logger.lock();
    }
    if (delegate) delegate->HVUNetwork_logWithLevel(level, code, message, contexts);
  }
};

namespace {

// One connection: a non-blocking socket, with TLS on top for https. Every
// wait also watches the client's wake descriptor, so destroying the client
// ends it at once.
class Connection {
 public:
  Connection(const RequestSpec& request, int wakeFd) : request_(request), wakeFd_(wakeFd) {}
  ~Connection() {
    if (ssl_) SSL_free(ssl_);
    if (ctx_) SSL_CTX_free(ctx_);
    if (fd_ >= 0) close(fd_);
  }

  std::optional<Error> open(bool* unreachable) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* addresses = nullptr;
    const std::string port = std::to_string(request_.url.port);
    int status = getaddrinfo(request_.url.host.c_str(), port.c_str(), &hints, &addresses);
    if (status != 0) {
      *unreachable = status == EAI_AGAIN;
      return networkError(kHVUNetworkErrorCannotConnect,
                          "cannot resolve " + request_.url.host + ": " + gai_strerror(status));
    }
    std::optional<Error> failure;
    for (addrinfo* a = addresses; a; a = a->ai_next) {
      failure = connectTo(a, unreachable);
      if (!failure) break;
      if (failure->code == kHVUNetworkErrorCancelled) break;
    }
    freeaddrinfo(addresses);
    if (failure) return failure;
    if (request_.url.isTLS()) return startTLS();
    return std::nullopt;
  }

  std::optional<Error> sendAll(const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
      ssize_t n;
      if (ssl_) {
        int chunk = static_cast<int>(std::min<size_t>(bytes.size() - sent, 1 << 20));
        n = SSL_write(ssl_, bytes.data() + sent, chunk);
        if (n <= 0) {
          if (auto error = waitForTLS(static_cast<int>(n), "sending")) return error;
          continue;
        }
      } else {
        n = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0) {
          if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            if (auto error = wait(POLLOUT, "sending")) return error;
            continue;
          }
          return networkError(kHVUNetworkErrorConnectionLost, std::string("send failed: ") + strerror(errno));
        }
      }
      sent += static_cast<size_t>(n);
    }
    return std::nullopt;
  }

  // Reads into `buffer`; answers the byte count, 0 at the end of the stream.
  std::optional<Error> receive(std::vector<uint8_t>* buffer, size_t* count) {
    for (;;) {
      if (ssl_) {
        int n = SSL_read(ssl_, buffer->data(), static_cast<int>(buffer->size()));
        if (n > 0) {
          *count = static_cast<size_t>(n);
          return std::nullopt;
        }
        int error = SSL_get_error(ssl_, n);
        if (error == SSL_ERROR_ZERO_RETURN || (error == SSL_ERROR_SYSCALL && ERR_peek_error() == 0)) {
          *count = 0;  // closed, with or without close_notify
          return std::nullopt;
        }
        if (auto failure = waitForTLS(n, "reading")) return failure;
      } else {
        ssize_t n = recv(fd_, buffer->data(), buffer->size(), 0);
        if (n >= 0) {
          *count = static_cast<size_t>(n);
          return std::nullopt;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
          if (auto failure = wait(POLLIN, "reading")) return failure;
          continue;
        }
        return networkError(kHVUNetworkErrorConnectionLost, std::string("receive failed: ") + strerror(errno));
      }
    }
  }

 private:
  std::optional<Error> connectTo(const addrinfo* address, bool* unreachable) {
    if (fd_ >= 0) close(fd_);
    fd_ = socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address->ai_protocol);
    if (fd_ < 0) return networkError(kHVUNetworkErrorCannotConnect, std::string("socket: ") + strerror(errno));
    int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (connect(fd_, address->ai_addr, address->ai_addrlen) != 0) {
      if (errno != EINPROGRESS) return connectFailure(errno, unreachable);
      if (auto failure = wait(POLLOUT, "connecting")) return failure;
      int socketError = 0;
      socklen_t length = sizeof socketError;
      getsockopt(fd_, SOL_SOCKET, SO_ERROR, &socketError, &length);
      if (socketError != 0) return connectFailure(socketError, unreachable);
    }
    return std::nullopt;
  }

  std::optional<Error> connectFailure(int errnum, bool* unreachable) {
    *unreachable = errnum == ENETUNREACH || errnum == EHOSTUNREACH;
    return networkError(kHVUNetworkErrorCannotConnect,
                        "cannot connect to " + request_.url.hostHeader() + ": " + strerror(errnum));
  }

  std::optional<Error> startTLS() {
    ctx_ = SSL_CTX_new(TLS_method());
    if (!ctx_) return tlsError("cannot create a TLS context");
    SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
    if (SSL_CTX_load_verify_locations(ctx_, request_.trustFile.c_str(), nullptr) != 1) {
      return tlsError("cannot load the trust file " + request_.trustFile);
    }
    SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, nullptr);
    ssl_ = SSL_new(ctx_);
    if (!ssl_ || SSL_set_fd(ssl_, fd_) != 1) return tlsError("cannot create a TLS connection");
    if (request_.url.isIPAddress()) {
      if (X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), request_.url.host.c_str()) != 1) {
        return tlsError("cannot verify the address " + request_.url.host);
      }
    } else {
      if (SSL_set_tlsext_host_name(ssl_, request_.url.host.c_str()) != 1 || SSL_set1_host(ssl_, request_.url.host.c_str()) != 1) {
        return tlsError("cannot verify the host " + request_.url.host);
      }
    }
    for (;;) {
      int result = SSL_connect(ssl_);
      if (result == 1) break;
      if (auto failure = waitForTLS(result, "the TLS handshake")) return failure;
    }
    return std::nullopt;
  }

  // After an SSL call answered `result` <= 0: waits for what it wants, or fails.
  std::optional<Error> waitForTLS(int result, const char* what) {
    int error = SSL_get_error(ssl_, result);
    if (error == SSL_ERROR_WANT_READ) return wait(POLLIN, what);
    if (error == SSL_ERROR_WANT_WRITE) return wait(POLLOUT, what);
    long verify = SSL_get_verify_result(ssl_);
    if (verify != X509_V_OK) {
      ERR_clear_error();
      return networkError(kHVUNetworkErrorSecureConnectionFailed,
                          std::string("certificate not trusted: ") + X509_verify_cert_error_string(verify));
    }
    if (error == SSL_ERROR_SYSCALL && ERR_peek_error() == 0) {
      return networkError(kHVUNetworkErrorConnectionLost, std::string("connection closed during ") + what);
    }
    return tlsError(std::string("TLS failure during ") + what);
  }

  Error tlsError(const std::string& what) {
    char text[256] = {0};
    uint32_t code = ERR_get_error();
    if (code) ERR_error_string_n(code, text, sizeof text);
    ERR_clear_error();
    return networkError(kHVUNetworkErrorSecureConnectionFailed, code ? what + ": " + text : what);
  }

  std::optional<Error> wait(short events, const char* what) {
    pollfd fds[2] = {{fd_, events, 0}, {wakeFd_, POLLIN, 0}};
    const double ms = std::ceil(request_.timeout * 1000.0);
    const int timeoutMs = ms > 2e9 ? 2000000000 : static_cast<int>(ms);
    for (;;) {
      int ready = poll(fds, 2, timeoutMs);
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) return networkError(kHVUNetworkErrorConnectionLost, std::string("poll: ") + strerror(errno));
      if (ready == 0) return networkError(kHVUNetworkErrorTimedOut, std::string("timed out ") + what);
      if (fds[1].revents) return networkError(kHVUNetworkErrorCancelled, "cancelled");
      return std::nullopt;
    }
  }

  const RequestSpec& request_;
  const int wakeFd_;
  int fd_ = -1;
  SSL_CTX* ctx_ = nullptr;
  SSL* ssl_ = nullptr;
};

std::string requestBytes(const RequestSpec& request) {
  std::string bytes = request.method + " " + request.url.target + " HTTP/1.1\r\n";
  bytes += "Host: " + request.url.hostHeader() + "\r\n";
  bytes += "Connection: close\r\n";
  for (const auto& [name, value] : request.headers) bytes += name + ": " + value + "\r\n";
  if (request.method == "POST") bytes += "Content-Length: " + std::to_string(request.payload.size()) + "\r\n";
  bytes += "\r\n";
  bytes.append(reinterpret_cast<const char*>(request.payload.data()), request.payload.size());
  return bytes;
}

Outcome perform(const RequestSpec& request, int wakeFd) {
  Outcome outcome;
  Connection connection(request, wakeFd);
  if (auto error = connection.open(&outcome.unreachable)) {
    outcome.error = error;
    return outcome;
  }
  if (auto error = connection.sendAll(requestBytes(request))) {
    outcome.error = error;
    return outcome;
  }
  HTTPResponseParser parser(request.maxBodyBytes);
  std::vector<uint8_t> buffer(16 * 1024);
  while (parser.state() == HTTPResponseParser::State::Reading) {
    size_t count = 0;
    if (auto error = connection.receive(&buffer, &count)) {
      outcome.error = error;
      return outcome;
    }
    if (count == 0) {
      parser.finish();
    } else {
      parser.feed(std::span<const uint8_t>(buffer.data(), count));
    }
  }
  if (parser.state() == HTTPResponseParser::State::Failed) {
    const std::string& reason = parser.failureReason();
    HVUNetworkErrorCode code = kHVUNetworkErrorBadServerResponse;
    if (reason == "body too large") code = kHVUNetworkErrorResponseTooLarge;
    if (reason.rfind("connection closed", 0) == 0) code = kHVUNetworkErrorConnectionLost;
    outcome.error = networkError(code, reason);
    return outcome;
  }
  auto response = std::make_shared<HTTPURLResponse>(parser.response());
  response->url = request.url.absoluteString();
  outcome.response = std::move(response);
  outcome.body = std::move(parser.body());
  return outcome;
}

// Whether an interface that can carry traffic to `host` is up.
bool hasUsableInterface(bool loopbackCounts) {
  ifaddrs* interfaces = nullptr;
  if (getifaddrs(&interfaces) != 0) return false;
  bool usable = false;
  for (ifaddrs* i = interfaces; i && !usable; i = i->ifa_next) {
    if (!i->ifa_addr || !(i->ifa_flags & IFF_UP) || !(i->ifa_flags & IFF_RUNNING)) continue;
    if (i->ifa_addr->sa_family != AF_INET && i->ifa_addr->sa_family != AF_INET6) continue;
    const bool loopback = (i->ifa_flags & IFF_LOOPBACK) != 0;
    if (!loopback || loopbackCounts) usable = true;
  }
  freeifaddrs(interfaces);
  return usable;
}

}  // namespace

HVUNetwork::HVUNetwork() : HVUNetwork(std::nullopt) {}

HVUNetwork::HVUNetwork(std::optional<std::string> reachabilityHost)
    : shared_(std::make_shared<Shared>()), reachabilityHost_(std::move(reachabilityHost)) {
  shared_->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

HVUNetwork::~HVUNetwork() {
  stopInterfaceWatch();
  cancelAllRequests();
  if (shared_->wakeFd >= 0) close(shared_->wakeFd);
}

void HVUNetwork::cancelAllRequests() {
  shared_->cancelled.store(true);
  if (shared_->wakeFd >= 0) {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t written = write(shared_->wakeFd, &one, sizeof one);
  }
  {
    std::unique_lock<std::mutex> lock(shared_->mutex);
    shared_->workersEnded.wait(lock, [this] { return shared_->runningWorkers == 0; });
  }
}

void HVUNetwork::setLoggerDelegate(std::weak_ptr<HVUNetworkLoggerDelegate> delegate) {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->logger = std::move(delegate);
}

void HVUNetwork::setIsDebugModeEnabled(bool enabled) {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->debug = enabled;
}

void HVUNetwork::setTimeoutInterval(double seconds) {
  if (!(seconds > 0) || std::isinf(seconds)) return;
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->timeout = seconds;
}

double HVUNetwork::timeoutInterval() const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->timeout;
}

void HVUNetwork::setReachabilityDelegate(std::weak_ptr<HVUNetworkReachabilityDelegate> delegate) {
  const bool watch = !delegate.expired();
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->reachabilityDelegate = std::move(delegate);
  }
  if (watch) {
    startInterfaceWatch();
  } else {
    stopInterfaceWatch();
  }
}

// The kernel reports link and address changes on a routing socket; each
// report (or a poke from a test) is followed by a fresh look at the
// interfaces, which tells the delegate when the answer changed.
void HVUNetwork::startInterfaceWatch() {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  if (shared_->watcher.joinable()) return;
  const int stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  const int pokeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  const int route = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
  sockaddr_nl address{};
  address.nl_family = AF_NETLINK;
  address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR;
  if (stopFd < 0 || pokeFd < 0 || route < 0 ||
      bind(route, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    // Without the watch, changes are still noticed whenever connectivity is asked for.
    for (int fd : {stopFd, pokeFd, route}) {
      if (fd >= 0) close(fd);
    }
    return;
  }
  shared_->watchStopFd = stopFd;
  shared_->watchPokeFd = pokeFd;
  shared_->watcher = std::thread([this, stopFd, pokeFd, route] {
    pollfd waits[3] = {{stopFd, POLLIN, 0}, {route, POLLIN, 0}, {pokeFd, POLLIN, 0}};
    char buffer[8192];
    for (;;) {
      if (poll(waits, 3, -1) < 0) {
        if (errno == EINTR) continue;
        break;
      }
      if (waits[0].revents) break;
      bool changed = false;
      if (waits[1].revents) {
        while (recv(route, buffer, sizeof buffer, MSG_DONTWAIT) > 0) changed = true;
      }
      if (waits[2].revents) {
        uint64_t count = 0;
        changed = read(pokeFd, &count, sizeof count) > 0 || changed;
      }
      if (changed) (void)isNetworkConnected();
    }
    close(route);
  });
}

void HVUNetwork::stopInterfaceWatch() {
  std::thread watcher;
  int stopFd = -1;
  int pokeFd = -1;
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    watcher.swap(shared_->watcher);
    stopFd = std::exchange(shared_->watchStopFd, -1);
    pokeFd = std::exchange(shared_->watchPokeFd, -1);
  }
  if (!watcher.joinable()) return;
  uint64_t one = 1;
  [[maybe_unused]] ssize_t written = write(stopFd, &one, sizeof one);
  if (watcher.get_id() == std::this_thread::get_id()) {
    // Called from a delegate on the watch's own thread: it ends by itself.
    watcher.detach();
    return;
  }
  watcher.join();
  close(stopFd);
  close(pokeFd);
}

bool HVUNetwork::isWatchingInterfacesForTesting() const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->watcher.joinable();
}

void HVUNetwork::pokeInterfaceWatchForTesting() {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  if (shared_->watchPokeFd < 0) return;
  uint64_t one = 1;
  [[maybe_unused]] ssize_t written = write(shared_->watchPokeFd, &one, sizeof one);
}

void HVUNetwork::setTrustFile(std::string path) {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->trustFile = std::move(path);
}

void HVUNetwork::setMaxBodyBytes(size_t bytes) {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->maxBodyBytes = bytes;
}

bool HVUNetwork::isNetworkConnected() {
  std::optional<bool> forced;
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    forced = shared_->reachabilityOverride;
  }
  const bool loopback = reachabilityHost_ && isLoopbackHost(*reachabilityHost_);
  const bool connected = forced ? *forced : hasUsableInterface(loopback);
  noteReachability(connected);
  return connected;
}

void HVUNetwork::setReachabilityOverrideForTesting(std::optional<bool> connected) {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->reachabilityOverride = connected;
}

void HVUNetwork::noteReachability(bool connected) {
  std::shared_ptr<HVUNetworkReachabilityDelegate> delegate;
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    const bool changed = shared_->lastReachable && *shared_->lastReachable != connected;
    shared_->lastReachable = connected;
    if (changed) delegate = shared_->reachabilityDelegate.lock();
  }
  if (delegate) delegate->reachabilityDidChange();
}

bool HVUNetwork::hasUploadInProgress() const { return shared_->inFlight.load() > 0; }

std::string HVUNetwork::postURL(const std::string& url, const Headers& headers, std::span<const uint8_t> payload,
                                std::shared_ptr<Queue> queue, bool, CompletionHandler completionHandler) {
  return startRequest("POST", url, headers, payload, std::move(queue), std::move(completionHandler));
}

std::string HVUNetwork::postURL(const std::string& url, std::span<const uint8_t> payload, std::shared_ptr<Queue> queue,
                                bool, CompletionHandler completionHandler) {
  return startRequest("POST", url, {}, payload, std::move(queue), std::move(completionHandler));
}

std::string HVUNetwork::getURL(const std::string& url, const Headers& headers, std::shared_ptr<Queue> queue, bool,
                               CompletionHandler completionHandler) {
  return startRequest("GET", url, headers, {}, std::move(queue), std::move(completionHandler));
}

void HVUNetwork::handleEventsForBackgroundURLSessionID(const std::string&,
                                                       const std::function<void()>& completionHandler) {
  if (completionHandler) completionHandler();
}

std::string HVUNetwork::startRequest(const char* method, const std::string& url, const Headers& headers,
                                     std::span<const uint8_t> payload, std::shared_ptr<Queue> queue,
                                     CompletionHandler completionHandler) {
  // A request that cannot be made still ends in one completion, posted after
  // the caller has its (empty) identifier.
  auto refuse = [&](HVUNetworkErrorCode code, const std::string& reason) {
    shared_->log(3, kRequestRefusedCode, "Request not made", {reason});
    if (!completionHandler) return std::string();
    std::shared_ptr<Queue> target = queue;
    if (!target) {
      static const std::shared_ptr<SerialQueue> fallback = SerialQueue::create("com.halcyra.HVUNetwork.callbacks");
      target = fallback;
    }
    target->async([completionHandler, error = networkError(code, reason)] { completionHandler(nullptr, {}, error); });
    return std::string();
  };
  if (!queue) return refuse(kHVUNetworkErrorInvalidRequest, "no queue for the completion");
  if (shared_->cancelled.load()) return refuse(kHVUNetworkErrorCancelled, "cancelled");
  std::optional<URL> parsed = URL::parse(url);
  if (!parsed) return refuse(kHVUNetworkErrorInvalidURL, "not an http or https URL: " + url);

  RequestSpec request;
  request.method = method;
  request.url = *parsed;
  for (const auto& [name, value] : headers) {
    if (!isValidHeaderName(name) || !isValidHeaderValue(value)) {
      return refuse(kHVUNetworkErrorInvalidRequest, "invalid header field " + name);
    }
    if (isManagedHeader(name)) {
      shared_->log(4, kHeaderSkippedCode, "Header field set by the client itself is skipped", {name});
      continue;
    }
    request.headers.emplace_back(name, value);
  }
  request.payload.assign(payload.begin(), payload.end());

  const std::string identifier = std::to_string(gNextRequestID.fetch_add(1));
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    request.timeout = shared_->timeout;
    request.maxBodyBytes = shared_->maxBodyBytes;
    request.trustFile = shared_->trustFile;
    ++shared_->runningWorkers;
    shared_->inFlight.fetch_add(1);
  }
  shared_->log(7, kRequestStartedCode, "Request started", {identifier, request.method, request.url.absoluteString()});

  HVUNetwork* self = this;
  std::thread([request = std::move(request), queue = std::move(queue),
               completionHandler = std::move(completionHandler), identifier, shared = shared_, self]() mutable {
    // A peer that closes early must not end the process with SIGPIPE; the
    // signal stays pending on this thread and dies with it.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);

    Outcome outcome = perform(request, shared->wakeFd);
    if (outcome.error) {
      shared->log(4, kRequestFailedCode, "Request failed", {identifier, outcome.error->toString()});
    } else {
      shared->log(7, kRequestFinishedCode, "Request finished",
                  {identifier, std::to_string(outcome.response->statusCode)});
    }
    if (!shared->cancelled.load()) {
      if (outcome.error && outcome.error->code == kHVUNetworkErrorCannotConnect) {
        if (outcome.unreachable) self->noteReachability(false);
      } else if (!outcome.error) {
        self->noteReachability(true);
      }
    }
    shared->inFlight.fetch_sub(1);
    if (completionHandler) {
      queue->async([completionHandler = std::move(completionHandler), outcome = std::move(outcome)]() mutable {
        completionHandler(std::move(outcome.response), std::move(outcome.body), std::move(outcome.error));
      });
    }
    {
      std::lock_guard<std::mutex> lock(shared->mutex);
      --shared->runningWorkers;
    }
    shared->workersEnded.notify_all();
  }).detach();
  return identifier;
}

}  // namespace platform
