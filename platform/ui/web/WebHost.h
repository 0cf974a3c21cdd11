// platform::WebHost — shows the app's screens in a browser on this machine.
//
// An HTTP server (libmicrohttpd) bound to 127.0.0.1 serves one page and a JSON
// interface over the window's root controller and its chain of presented
// controllers:
//   GET  /                      the page (index.html from the page directory)
//   GET  /api/tree              {"screens":[snapshot, ...],"open":[url, ...]}:
//                               the root first, then each presented
//                               controller, with its presentation style (and
//                               the label of a navigation stack's way back,
//                               empty for the chevron alone); the URLs the
//                               app has opened since, for the page to open
//   POST /api/action            {"screen":i,"action":name,"value":v}: a tap or
//                               change, answered with the new tree
//   POST /api/upload?screen=i&name=f   the body is a picked file: copied into
//                               the inbox for a document picker, handed over
//                               as JPEG or PNG bytes to an image picker
//   GET  /api/download?screen=i&item=j  a file of a share sheet
//   GET  /api/photo?name=f      a cell photo from the photos directory
//   POST /api/lifecycle         {"state":"active"|"inactive"}: the page was
//                               shown or hidden
// Every request presents the per-run token (query `token` or header
// X-Tabulo-Token); the Host header must name 127.0.0.1 and the server's port;
// a POST that carries an Origin must come from the page's own origin. No CORS
// headers are sent. These checks, the route and the body's announced length
// are judged as soon as the headers have arrived: a refused request is
// answered before any of its body is read, and a body is read only up to the
// limit of its route (bodyLimit: none for GET, kMaximumJSONBodySize for
// actions, kMaximumBodySize for an upload). Every connection must complete
// the headers of each request within `headerDeadline` seconds from its start
// (or from the end of its previous request), however slowly it trickles them;
// otherwise it is closed. Files uploaded for a document picker are copied
// into the inbox, handed over, and removed once the picker has them; the
// inbox is emptied when the host starts. An action is accepted only when the screen's current
// snapshot shows a node with that action, and its value is checked against
// that node (grid positions in range, slider values within bounds, colour
// components from 0 to 1, texts of bounded length).
//
// Requests are handled on the server's thread; everything that touches a
// controller runs on the main queue, in the order the requests arrive, while
// the server's thread waits. stop() (or the destructor) ends the waits and the
// server; call it from the main thread once the main loop has ended.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/core/Error.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/NotificationCenter.h"
#include "platform/dispatch/Queue.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/web/WebURLOpener.h"

struct MHD_Daemon;
struct MHD_Connection;

namespace platform {

class WebHost {
 public:
  struct Configuration {
    std::shared_ptr<MainQueue> mainQueue;
    std::shared_ptr<NotificationCenter> notificationCenter;
    // The window's root controller, asked on the main queue at every request.
    std::function<std::shared_ptr<ViewController>()> rootController;
    std::filesystem::path pageDirectory;    // holds index.html
    std::filesystem::path photosDirectory;  // cell photos, served by name
    std::filesystem::path inboxDirectory;   // where uploaded documents are copied
    // URLs the app opens go to the page with the next tree (may be null).
    std::shared_ptr<WebURLOpener> urlOpener;
    uint16_t port = 0;                      // 0: any free port
    std::string token;                      // empty: a random one
    double headerDeadline = 5;              // seconds a connection has for its request's headers
    std::shared_ptr<Clock> clock;           // null: Clock::system()
  };

  struct Request {
    std::string method;
    std::string path;
    std::map<std::string, std::string> query;
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
    bool bodyTooLarge = false;
  };

  struct Response {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
    std::map<std::string, std::string> headers;
  };

  // The largest request bodies taken: an uploaded file, and an action's JSON.
  static constexpr size_t kMaximumBodySize = 20 * 1024 * 1024;
  static constexpr size_t kMaximumJSONBodySize = 1024 * 1024;
  static constexpr unsigned kConnectionLimit = 64;
  static constexpr unsigned kIdleTimeoutSeconds = 60;
  // The most body a request to `path` with `method` may carry.
  static size_t bodyLimit(const std::string& method, const std::string& path);

  // Checks the configuration; the server is not started yet.
  explicit WebHost(Configuration configuration);
  ~WebHost();
  WebHost(const WebHost&) = delete;
  WebHost& operator=(const WebHost&) = delete;

  // Starts listening on 127.0.0.1; false with `error` when it cannot.
  [[nodiscard]] bool start(Error* error = nullptr);
  void stop();

  uint16_t port() const { return port_; }
  const std::string& token() const { return token_; }
  // The address to open: http://127.0.0.1:PORT/?token=TOKEN
  std::string address() const;

  // Answers one request (any thread; the server calls it). Exposed for tests.
  Response handle(const Request& request);
  // The answer a request gets from its headers alone (Host, token, Origin,
  // route, and the body size announced or read so far); none when it may go on.
  [[nodiscard]] std::optional<Response> refusal(const Request& request, std::optional<uint64_t> bodySize) const;

  // Called by the server's thread as connections come, send their headers and go.
  void connectionStarted(MHD_Connection* connection, void** socketContext);
  void headersArrived(MHD_Connection* connection);
  void awaitHeaders(MHD_Connection* connection);
  void connectionClosed(void* socketContext);

 private:
  Response handleOnMain(const Request& request);
  Response tree();
  Response action(const Request& request);
  Response upload(const Request& request);
  Response download(const Request& request);
  Response photo(const Request& request);
  Response lifecycle(const Request& request);
  Response page();
  std::vector<std::shared_ptr<ViewController>> chain();
  std::shared_ptr<ViewController> screenAt(const Request& request, Response* failure);
  // Runs `block` on the main queue and waits; false once the host is stopping.
  [[nodiscard]] bool runOnMain(const std::function<void()>& block);
  void armDeadline(uint64_t connection);  // with connections_->mutex held
  void clearInbox();

  struct Connection {
    int fd = -1;
    uint64_t timer = 0;  // the clock's call that cuts it; 0: its headers are in
  };
  struct Connections {
    std::mutex mutex;
    std::map<uint64_t, Connection> open;
    uint64_t lastNumber = 0;
  };

  Configuration configuration_;
  std::shared_ptr<Clock> clock_;
  std::shared_ptr<Connections> connections_ = std::make_shared<Connections>();
  std::string token_;
  std::atomic<uint16_t> port_{0};
  MHD_Daemon* daemon_ = nullptr;
  std::optional<bool> active_;

  struct Waits {
    std::mutex mutex;
    std::condition_variable changed;
    bool stopping = false;
  };
  std::shared_ptr<Waits> waits_ = std::make_shared<Waits>();
};

}  // namespace platform
