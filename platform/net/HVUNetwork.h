// HVUNetwork — the library's HTTP client: HTTP/1.1 over POSIX sockets, with
// TLS through BoringSSL for https.
//
// Each request runs on a thread of its own and ends in exactly one call of
// its completion handler on the queue the caller gave, with the answer's
// status line and header fields, its body as received (no content decoding,
// no redirects followed) and no error; or with an error and no answer. A
// request that cannot be made (a URL that is not http or https, a header that
// would break the request, no queue) answers an empty request identifier and
// its completion is posted afterwards all the same. Destroying the client
// (or `cancelAllRequests`) cancels the requests still in flight; their
// completions report kHVUNetworkErrorCancelled.
//
// TLS verifies the server's certificate chain against a trust file (the
// system's bundle unless the client is given another) and the host name or
// address the URL names; names are sent as SNI. The time-out applies to each
// wait: connecting, the TLS handshake, sending and every read.
//
// Background sessions do not exist on this platform: the flag of the request
// operations is accepted and ignored.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/core/Error.h"
#include "platform/net/HTTPURLResponse.h"

namespace platform {

class Queue;

// Status codes the library compares answers with.
inline constexpr int kHVUNetworkHTTPStatusOK = 200;
inline constexpr int kHVUNetworkHTTPStatusNoContent = 204;
inline constexpr int kHVUNetworkHTTPStatusCodeNotModified = 304;
inline constexpr int kHVUNetworkHTTPStatusCodeNotFound = 404;
inline constexpr int kHVUNetworkHTTPStatusCodeCannotAcceptTraffic = 429;
inline constexpr int kHVUNetworkHTTPStatusCodeUnavailable = 503;

inline constexpr const char* kHVUNetworkErrorDomain = "com.halcyra.HVUNetwork.ErrorDomain";
enum HVUNetworkErrorCode : int64_t {
  kHVUNetworkErrorInvalidURL = 1,        // not an http or https URL this client accepts
  kHVUNetworkErrorInvalidRequest = 2,    // a header name or value that would break the request; no queue
  kHVUNetworkErrorCancelled = 3,         // the client was destroyed first
  kHVUNetworkErrorTimedOut = 4,
  kHVUNetworkErrorCannotConnect = 5,     // the host did not resolve or refused every connection
  kHVUNetworkErrorSecureConnectionFailed = 6,  // TLS handshake or certificate verification failed
  kHVUNetworkErrorBadServerResponse = 7,       // the answer broke HTTP's framing
  kHVUNetworkErrorResponseTooLarge = 8,        // the body outgrew the client's cap
  kHVUNetworkErrorConnectionLost = 9,          // the connection ended before the answer did
};

inline constexpr const char* kHVUNetworkDefaultTrustFile = "/etc/ssl/certs/ca-certificates.crt";
inline constexpr size_t kHVUNetworkDefaultMaxBodyBytes = 16 * 1024 * 1024;
inline constexpr double kHVUNetworkDefaultTimeoutInterval = 60;

// Receives the client's reports. Called on the client's request threads.
class HVUNetworkLoggerDelegate {
 public:
  virtual ~HVUNetworkLoggerDelegate() = default;
  virtual void HVUNetwork_logWithLevel(int level, int64_t messageCode, const std::string& message,
                                       const std::vector<std::string>& contexts) = 0;
};

class HVUNetworkReachabilityDelegate {
 public:
  virtual ~HVUNetworkReachabilityDelegate() = default;
  // Called on the thread that noticed the change.
  virtual void reachabilityDidChange() = 0;
};

class HVUNetwork {
 public:
  using Headers = std::map<std::string, std::string>;
  // (answer or null, body, error or nullopt); exactly one call per request.
  using CompletionHandler =
      std::function<void(std::shared_ptr<const HTTPURLResponse>, std::vector<uint8_t>, std::optional<Error>)>;

  HVUNetwork();
  // A client whose reachability is judged for `host` (a loopback host is
  // reachable whenever the loopback interface is up).
  explicit HVUNetwork(std::optional<std::string> reachabilityHost);
  ~HVUNetwork();
  HVUNetwork(const HVUNetwork&) = delete;
  HVUNetwork& operator=(const HVUNetwork&) = delete;

  void setLoggerDelegate(std::weak_ptr<HVUNetworkLoggerDelegate> delegate);
  // In debug mode every request and answer is reported at level 7.
  void setIsDebugModeEnabled(bool enabled);
  // Seconds for each wait of the requests that follow; values that are not
  // positive numbers are ignored.
  void setTimeoutInterval(double seconds);
  double timeoutInterval() const;
  // While a delegate is set, a thread watches the kernel's link and address
  // reports (an rtnetlink socket) and looks at the interfaces after each, so
  // a network that returns is reported at once; setting none ends the watch.
  void setReachabilityDelegate(std::weak_ptr<HVUNetworkReachabilityDelegate> delegate);
  // The certificates trusted for https by the requests that follow.
  void setTrustFile(std::string path);
  // The largest body accepted by the requests that follow.
  void setMaxBodyBytes(size_t bytes);

  // Whether a request can go out now (an interface that can carry it is up).
  // A change since the last answer is reported to the reachability delegate.
  bool isNetworkConnected();
  // Tests: `isNetworkConnected` answers `connected` instead of looking at the
  // interfaces (nullopt looks again); changes are reported as usual.
  void setReachabilityOverrideForTesting(std::optional<bool> connected);
  // Tests: whether the interface watch runs; makes it look at the interfaces
  // as if the kernel had reported a change.
  bool isWatchingInterfacesForTesting() const;
  void pokeInterfaceWatchForTesting();
  // Whether this client has a request in flight.
  bool hasUploadInProgress() const;
  // Cancels the requests in flight and refuses every later one, as
  // destroying the client does (for a host that shuts down while the client
  // lives on): their completions report kHVUNetworkErrorCancelled. Returns
  // once the threads of the requests started before the call have ended, so
  // their completions have been posted to their queues by then.
  void cancelAllRequests();

  // Each answers the request identifier, or the empty string when no request was made.
  std::string postURL(const std::string& url, const Headers& headers, std::span<const uint8_t> payload,
                      std::shared_ptr<Queue> queue, bool usingBackgroundSession, CompletionHandler completionHandler);
  std::string postURL(const std::string& url, std::span<const uint8_t> payload, std::shared_ptr<Queue> queue,
                      bool usingBackgroundSession, CompletionHandler completionHandler);
  std::string getURL(const std::string& url, const Headers& headers, std::shared_ptr<Queue> queue,
                     bool usingBackgroundSession, CompletionHandler completionHandler);

  // Background sessions do not exist here: calls `completionHandler` at once.
  static void handleEventsForBackgroundURLSessionID(const std::string& identifier,
                                                    const std::function<void()>& completionHandler);

  struct Shared;

 private:
  std::string startRequest(const char* method, const std::string& url, const Headers& headers,
                           std::span<const uint8_t> payload, std::shared_ptr<Queue> queue,
                           CompletionHandler completionHandler);
  void noteReachability(bool connected);
  void startInterfaceWatch();
  void stopInterfaceWatch();

  std::shared_ptr<Shared> shared_;
  std::optional<std::string> reachabilityHost_;
};

}  // namespace platform
