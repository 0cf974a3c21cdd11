#include "platform/ui/web/WebHost.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/random.h>
#include <sys/socket.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/ui/ActivityViewController.h"
#include "platform/ui/DocumentPickerViewController.h"
#include "platform/ui/ImagePickerController.h"
#include "platform/ui/NavigationController.h"

namespace platform {
namespace {

using Json = nlohmann::json;
using Response = WebHost::Response;

constexpr size_t kMaximumJSONSize = 1024 * 1024;
constexpr size_t kMaximumText = 64 * 1024;
constexpr size_t kMaximumActionName = 256;
constexpr size_t kMaximumArray = 100000;
constexpr int kMaximumDepth = 6;
constexpr uintmax_t kMaximumDownload = 512ull * 1024 * 1024;

Response failure(int status, const std::string& message) {
  Response response;
  response.status = status;
  response.body = Json{{"error", message}}.dump();
  return response;
}

std::string randomToken() {
  unsigned char bytes[24];
  size_t filled = 0;
  while (filled < sizeof bytes) {
    ssize_t got = getrandom(bytes + filled, sizeof bytes - filled, 0);
    if (got > 0) filled += static_cast<size_t>(got);
  }
  static const char* digits = "0123456789abcdef";
  std::string token;
  for (unsigned char byte : bytes) {
    token += digits[byte >> 4];
    token += digits[byte & 15];
  }
  return token;
}

bool sameSecret(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  return difference == 0;
}

std::string headerValue(const WebHost::Request& request, const std::string& name) {
  auto found = request.headers.find(name);
  return found == request.headers.end() ? std::string() : found->second;
}

std::optional<std::string> queryValue(const WebHost::Request& request, const std::string& name) {
  auto found = request.query.find(name);
  if (found == request.query.end()) return std::nullopt;
  return found->second;
}

// A non-negative index written in decimal digits only.
std::optional<size_t> parseIndex(const std::optional<std::string>& text) {
  if (!text || text->empty() || text->size() > 6) return std::nullopt;
  size_t value = 0;
  for (char c : *text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<size_t>(c - '0');
  }
  return value;
}

// JSON from the page as the UI layer's value; nullopt when it is too deep,
// too long or not finite.
std::optional<Object> toObject(const Json& json, int depth = 0) {
  if (depth > kMaximumDepth) return std::nullopt;
  switch (json.type()) {
    case Json::value_t::null: return Object();
    case Json::value_t::boolean: return Object(json.get<bool>());
    case Json::value_t::number_integer: return Object(json.get<int64_t>());
    case Json::value_t::number_unsigned: {
      uint64_t value = json.get<uint64_t>();
      if (value > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
      return Object(static_cast<int64_t>(value));
    }
    case Json::value_t::number_float: {
      double value = json.get<double>();
      if (!std::isfinite(value)) return std::nullopt;
      return Object(value);
    }
    case Json::value_t::string: {
      const auto& text = json.get_ref<const std::string&>();
      if (text.size() > kMaximumText) return std::nullopt;
      return Object(text);
    }
    case Json::value_t::array: {
      if (json.size() > kMaximumArray) return std::nullopt;
      Array array;
      for (const Json& element : json) {
        auto value = toObject(element, depth + 1);
        if (!value) return std::nullopt;
        array.push_back(std::move(*value));
      }
      return Object(std::move(array));
    }
    case Json::value_t::object: {
      Dictionary dictionary;
      for (const auto& [key, element] : json.items()) {
        if (key.size() > kMaximumText) return std::nullopt;
        auto value = toObject(element, depth + 1);
        if (!value) return std::nullopt;
        dictionary.emplace(key, std::move(*value));
      }
      return Object(std::move(dictionary));
    }
    default: return std::nullopt;
  }
}

void collectActions(const ViewNode& node, std::vector<const ViewNode*>& found, const std::string& action) {
  if (node.action == action && !node.hidden) found.push_back(&node);
  if (node.hidden) return;
  for (const ViewNode& child : node.children) collectActions(child, found, action);
}

std::optional<int64_t> intProperty(const ViewNode& node, const std::string& key) {
  auto found = node.properties.find(key);
  if (found == node.properties.end()) return std::nullopt;
  auto index = parseIndex(found->second);
  if (!index) return std::nullopt;
  return static_cast<int64_t>(*index);
}

bool inUnitRange(const Object* value) {
  if (!value) return true;
  auto number = value->numberValue();
  return number && *number >= 0 && *number <= 1;
}

// Whether `value` fits the node that carries the action; `message` says why not.
bool valueFits(const ViewNode& node, const Object& value, std::string& message) {
  if (node.kind == "grid") {
    const Object* row = value.find("row");
    const Object* section = value.find("section");
    auto rows = intProperty(node, "rows");
    auto columns = intProperty(node, "columns");
    if (!row || !section || !row->intValue() || !section->intValue() || !rows || !columns) {
      message = "a grid tap needs an integer row and section";
      return false;
    }
    if (*row->intValue() < 0 || *row->intValue() >= *rows || *section->intValue() < 0 ||
        *section->intValue() >= *columns) {
      message = "the cell is outside the grid";
      return false;
    }
    return true;
  }
  if (node.kind == "viewport") {
    // The part of a grid a page shows: an origin in the content, a size on screen.
    constexpr double kLargest = 1e9;
    for (const char* key : {"x", "y", "width", "height"}) {
      const Object* part = value.find(key);
      std::optional<double> number = part ? part->numberValue() : std::nullopt;
      const bool isSize = key[0] == 'w' || key[0] == 'h';
      if (!number || !std::isfinite(*number) || *number < (isSize ? 1 : 0) || *number > kLargest) {
        message = "a grid's view needs x and y from 0 and a width and height from 1";
        return false;
      }
    }
    return true;
  }
  if (node.kind == "slider") {
    auto number = value.numberValue();
    if (!number || (node.minimum && *number < *node.minimum) || (node.maximum && *number > *node.maximum)) {
      message = "the slider value is out of range";
      return false;
    }
    return true;
  }
  if (node.kind == "segmentedControl") {
    auto index = value.intValue();
    if (!index || *index < 0 || *index >= static_cast<int64_t>(node.children.size())) {
      message = "no such segment";
      return false;
    }
    return true;
  }
  if (node.kind == "textField") {
    if (!value.stringValue()) {
      message = "a text field takes a text";
      return false;
    }
    return true;
  }
  if (node.kind == "toggle") {
    if (!value.boolValue()) {
      message = "a switch takes true or false";
      return false;
    }
    return true;
  }
  if (node.kind == "colorPicker") {
    if (!value.dictionaryValue() || !value.find("red") || !value.find("green") || !value.find("blue") ||
        !inUnitRange(value.find("red")) || !inUnitRange(value.find("green")) || !inUnitRange(value.find("blue")) ||
        !inUnitRange(value.find("alpha"))) {
      message = "colour components run from 0 to 1";
      return false;
    }
    return true;
  }
  return true;
}

std::string lowerExtension(const std::filesystem::path& path) {
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension;
}

// A plain file name: letters, digits, space, dot, dash, underscore and
// characters beyond ASCII; no leading dot, no separators.
bool isPlainFileName(const std::string& name) {
  if (name.empty() || name.size() > 255 || name.front() == '.' || name == "..") return false;
  for (unsigned char c : name) {
    if (c >= 0x80 || std::isalnum(c) || c == ' ' || c == '.' || c == '-' || c == '_' || c == '(' || c == ')') continue;
    return false;
  }
  return true;
}

// An uploaded file's name made plain: other characters become '_'.
std::string plainFileName(const std::string& given) {
  std::string name = std::filesystem::path(given).filename().string();
  for (char& c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    if (!(u >= 0x80 || std::isalnum(u) || c == ' ' || c == '.' || c == '-' || c == '_' || c == '(' || c == ')')) c = '_';
  }
  while (!name.empty() && name.front() == '.') name.erase(name.begin());
  if (name.size() > 200) name = name.substr(name.size() - 200);
  return name.empty() ? "Document" : name;
}

std::optional<std::string> readFile(const std::filesystem::path& path, uintmax_t limit) {
  std::error_code failed;
  auto status = std::filesystem::symlink_status(path, failed);
  if (failed || !std::filesystem::is_regular_file(status)) return std::nullopt;
  auto size = std::filesystem::file_size(path, failed);
  if (failed || size > limit) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return bytes;
}

bool isJPEGOrPNG(const std::string& bytes) {
  static const unsigned char png[] = {0x89, 'P', 'N', 'G', 0x0d, 0x0a, 0x1a, 0x0a};
  if (bytes.size() >= 3 && static_cast<unsigned char>(bytes[0]) == 0xff &&
      static_cast<unsigned char>(bytes[1]) == 0xd8 && static_cast<unsigned char>(bytes[2]) == 0xff) {
    return true;
  }
  return bytes.size() >= sizeof png && std::memcmp(bytes.data(), png, sizeof png) == 0;
}

std::string contentTypeFor(const std::filesystem::path& path) {
  std::string extension = lowerExtension(path);
  if (extension == ".pdf") return "application/pdf";
  if (extension == ".csv") return "text/csv";
  if (extension == ".jpg" || extension == ".jpeg") return "image/jpeg";
  if (extension == ".png") return "image/png";
  return "application/octet-stream";
}

std::string percentEncoded(const std::string& text) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '.' || c == '-' || c == '_') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += digits[c >> 4];
      out += digits[c & 15];
    }
  }
  return out;
}

// ---- libmicrohttpd glue ----

struct Exchange {
  WebHost::Request request;
  size_t bodyLimit = 0;
  bool answered = false;  // a response was queued before the body was read
};

MHD_Result collectValue(void* context, MHD_ValueKind, const char* key, const char* value) {
  auto* target = static_cast<std::map<std::string, std::string>*>(context);
  if (key) {
    std::string name(key);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    target->emplace(std::move(name), value ? value : "");
  }
  return MHD_YES;
}

MHD_Result collectQuery(void* context, MHD_ValueKind, const char* key, const char* value) {
  auto* target = static_cast<std::map<std::string, std::string>*>(context);
  if (key) target->emplace(key, value ? value : "");
  return MHD_YES;
}

MHD_Result queue(MHD_Connection* connection, const WebHost::Response& response) {
  MHD_Response* reply = MHD_create_response_from_buffer(response.body.size(), const_cast<char*>(response.body.data()),
                                                        MHD_RESPMEM_MUST_COPY);
  if (!reply) return MHD_NO;
  MHD_add_response_header(reply, "Content-Type", response.contentType.c_str());
  MHD_add_response_header(reply, "Cache-Control", "no-store");
  MHD_add_response_header(reply, "X-Content-Type-Options", "nosniff");
  MHD_add_response_header(reply, "Referrer-Policy", "no-referrer");
  MHD_add_response_header(reply, "X-Frame-Options", "DENY");
  for (const auto& [name, value] : response.headers) MHD_add_response_header(reply, name.c_str(), value.c_str());
  MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(response.status), reply);
  MHD_destroy_response(reply);
  return queued;
}

// The length the request announces for its body, if it announces one.
std::optional<uint64_t> declaredLength(const WebHost::Request& request) {
  auto found = request.headers.find("content-length");
  if (found == request.headers.end() || found->second.empty() || found->second.size() > 19) return std::nullopt;
  uint64_t length = 0;
  for (char c : found->second) {
    if (c < '0' || c > '9') return std::nullopt;
    length = length * 10 + static_cast<uint64_t>(c - '0');
  }
  return length;
}

MHD_Result answer(void* context, MHD_Connection* connection, const char* url, const char* method, const char*,
                  const char* uploadData, size_t* uploadDataSize, void** connectionContext) {
  auto* host = static_cast<WebHost*>(context);
  auto* exchange = static_cast<Exchange*>(*connectionContext);
  if (!exchange) {
    // The headers have arrived: the connection met its deadline, and the
    // request is checked before a byte of its body is read.
    host->headersArrived(connection);
    exchange = new Exchange();
    *connectionContext = exchange;
    exchange->request.method = method ? method : "";
    exchange->request.path = url ? url : "";
    MHD_get_connection_values(connection, MHD_HEADER_KIND, collectValue, &exchange->request.headers);
    MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, collectQuery, &exchange->request.query);
    exchange->bodyLimit = WebHost::bodyLimit(exchange->request.method, exchange->request.path);
    std::optional<WebHost::Response> refusal = host->refusal(exchange->request, declaredLength(exchange->request));
    if (!refusal) return MHD_YES;
    exchange->answered = true;
    return queue(connection, *refusal);
  }
  if (*uploadDataSize > 0) {
    WebHost::Request& request = exchange->request;
    const size_t size = *uploadDataSize;
    *uploadDataSize = 0;
    if (exchange->answered) return MHD_YES;  // the rest of a refused body goes unread
    if (request.body.size() + size > exchange->bodyLimit) {
      request.body.clear();
      request.body.shrink_to_fit();
      request.bodyTooLarge = true;
      exchange->answered = true;
      return queue(connection, *host->refusal(request, std::nullopt));
    }
    request.body.append(uploadData, size);
    return MHD_YES;
  }
  if (exchange->answered) return MHD_YES;
  exchange->answered = true;
  return queue(connection, host->handle(exchange->request));
}

void completed(void* context, MHD_Connection* connection, void** connectionContext, MHD_RequestTerminationCode) {
  delete static_cast<Exchange*>(*connectionContext);
  *connectionContext = nullptr;
  // A kept-alive connection has the same time again for its next request's headers.
  static_cast<WebHost*>(context)->awaitHeaders(connection);
}

void connectionChanged(void* context, MHD_Connection* connection, void** socketContext,
                       MHD_ConnectionNotificationCode code) {
  auto* host = static_cast<WebHost*>(context);
  if (code == MHD_CONNECTION_NOTIFY_STARTED) {
    host->connectionStarted(connection, socketContext);
  } else {
    host->connectionClosed(*socketContext);
  }
}

}  // namespace

WebHost::WebHost(Configuration configuration)
    : configuration_(std::move(configuration)),
      clock_(configuration_.clock ? configuration_.clock : Clock::system()),
      token_(configuration_.token.empty() ? randomToken() : configuration_.token) {}

void WebHost::clearInbox() {
  // Files a page uploaded that the app never took (the host stopped first).
  std::error_code failed;
  for (const auto& entry : std::filesystem::directory_iterator(configuration_.inboxDirectory, failed)) {
    if (entry.is_regular_file(failed) || entry.is_symlink(failed)) std::filesystem::remove(entry.path(), failed);
  }
}

WebHost::~WebHost() { stop(); }

bool WebHost::start(Error* error) {
  if (daemon_) return true;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(configuration_.port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  clearInbox();
  daemon_ = MHD_start_daemon(MHD_USE_INTERNAL_POLLING_THREAD, configuration_.port, nullptr, nullptr, &answer, this,
                             MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&address),
                             MHD_OPTION_NOTIFY_COMPLETED, &completed, this,
                             MHD_OPTION_NOTIFY_CONNECTION, &connectionChanged, this,
                             MHD_OPTION_CONNECTION_LIMIT, kConnectionLimit,
                             MHD_OPTION_CONNECTION_TIMEOUT, kIdleTimeoutSeconds,
                             MHD_OPTION_END);
  if (!daemon_) {
    setError(error, Error(kPlatformErrorDomain, 1, "cannot listen on 127.0.0.1:" + std::to_string(configuration_.port)));
    return false;
  }
  const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
  port_ = info ? info->port : configuration_.port;
  return true;
}

void WebHost::stop() {
  {
    std::lock_guard lock(waits_->mutex);
    waits_->stopping = true;
  }
  waits_->changed.notify_all();
  if (daemon_) {
    MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
  }
}

std::string WebHost::address() const {
  return "http://127.0.0.1:" + std::to_string(port_.load()) + "/?token=" + token_;
}

bool WebHost::runOnMain(const std::function<void()>& block) {
  if (configuration_.mainQueue->isCurrent()) {
    block();
    return true;
  }
  // 0: waiting to run, 1: running, 2: done, 3: given up (the host stopped
  // before the main loop reached the block, which then does nothing).
  auto waits = waits_;
  auto state = std::make_shared<int>(0);
  {
    std::lock_guard lock(waits->mutex);
    if (waits->stopping) return false;
  }
  configuration_.mainQueue->async([waits, state, &block] {
    {
      std::lock_guard lock(waits->mutex);
      if (*state == 3) return;
      *state = 1;
    }
    block();
    std::lock_guard lock(waits->mutex);
    *state = 2;
    waits->changed.notify_all();
  });
  std::unique_lock lock(waits->mutex);
  waits->changed.wait(lock, [&] { return *state == 2 || (waits->stopping && *state == 0); });
  if (*state != 2) {
    *state = 3;
    return false;
  }
  return true;
}

size_t WebHost::bodyLimit(const std::string& method, const std::string& path) {
  if (method != "POST") return 0;
  if (path == "/api/upload") return kMaximumBodySize;
  if (path == "/api/action" || path == "/api/lifecycle") return kMaximumJSONBodySize;
  return 0;
}

std::optional<WebHost::Response> WebHost::refusal(const Request& request, std::optional<uint64_t> bodySize) const {
  const std::string expectedHost = "127.0.0.1:" + std::to_string(port_.load());
  if (headerValue(request, "host") != expectedHost) return failure(421, "this server answers at " + expectedHost);
  const bool changesState = request.method != "GET" && request.method != "HEAD";
  if (changesState) {
    auto origin = request.headers.find("origin");
    if (origin != request.headers.end() && origin->second != "http://" + expectedHost) {
      return failure(403, "requests that change the app come from its own page only");
    }
  }
  std::string presented = headerValue(request, "x-tabulo-token");
  if (presented.empty()) presented = queryValue(request, "token").value_or("");
  if (!sameSecret(presented, token_)) return failure(403, "the address's token is missing or wrong");
  const bool known = (request.path == "/" && request.method == "GET") ||
                     (request.path == "/api/tree" && request.method == "GET") ||
                     (request.path == "/api/action" && request.method == "POST") ||
                     (request.path == "/api/upload" && request.method == "POST") ||
                     (request.path == "/api/download" && request.method == "GET") ||
                     (request.path == "/api/photo" && request.method == "GET") ||
                     (request.path == "/api/lifecycle" && request.method == "POST");
  if (!known) return failure(404, "no such address");
  if (request.bodyTooLarge || (bodySize && *bodySize > bodyLimit(request.method, request.path))) {
    return failure(413, "the request is too large");
  }
  return std::nullopt;
}

WebHost::Response WebHost::handle(const Request& request) {
  if (std::optional<Response> refused = refusal(request, request.body.size())) return *refused;
  if (request.path == "/") return page();
  if (request.path == "/api/photo") return photo(request);
  Response response = failure(503, "the app is closing");
  // A host that is stopping does not run the block: the response stays the 503 above.
  (void)runOnMain([&] { response = handleOnMain(request); });
  return response;
}

// --- The header deadline ------------------------------------------------------
//
// Each connection has headerDeadline seconds, whatever it sends meanwhile, to
// complete the headers of its request (and, kept alive, of each next one). A
// clock call per connection cuts the socket when the time is up; the server
// then sees the connection end and closes it. Connections are known by a
// number kept as the server's socket context, so that a late call can never
// reach a later connection.

namespace {
uint64_t connectionNumber(void* socketContext) {
  return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(socketContext));
}
uint64_t connectionNumber(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
  return info ? connectionNumber(info->socket_context) : 0;
}
}  // namespace

void WebHost::connectionStarted(MHD_Connection* connection, void** socketContext) {
  const MHD_ConnectionInfo* fd = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
  std::lock_guard lock(connections_->mutex);
  const uint64_t number = ++connections_->lastNumber;
  connections_->open[number] = Connection{fd ? fd->connect_fd : -1, 0};
  *socketContext = reinterpret_cast<void*>(static_cast<uintptr_t>(number));
  armDeadline(number);
}

void WebHost::armDeadline(uint64_t number) {
  auto found = connections_->open.find(number);
  if (found == connections_->open.end()) return;
  if (found->second.timer) clock_->cancelCall(found->second.timer);
  std::weak_ptr<Connections> weak = connections_;
  found->second.timer = clock_->callAt(clock_->uptime() + configuration_.headerDeadline, [weak, number] {
    auto connections = weak.lock();
    if (!connections) return;
    std::lock_guard lock(connections->mutex);
    auto still = connections->open.find(number);
    if (still == connections->open.end() || !still->second.timer || still->second.fd < 0) return;
    still->second.timer = 0;
    ::shutdown(still->second.fd, SHUT_RDWR);
  });
}

void WebHost::awaitHeaders(MHD_Connection* connection) {
  std::lock_guard lock(connections_->mutex);
  armDeadline(connectionNumber(connection));
}

void WebHost::headersArrived(MHD_Connection* connection) {
  std::lock_guard lock(connections_->mutex);
  auto found = connections_->open.find(connectionNumber(connection));
  if (found == connections_->open.end() || !found->second.timer) return;
  clock_->cancelCall(found->second.timer);
  found->second.timer = 0;
}

void WebHost::connectionClosed(void* socketContext) {
  std::lock_guard lock(connections_->mutex);
  auto found = connections_->open.find(connectionNumber(socketContext));
  if (found == connections_->open.end()) return;
  if (found->second.timer) clock_->cancelCall(found->second.timer);
  connections_->open.erase(found);
}

WebHost::Response WebHost::handleOnMain(const Request& request) {
  try {
    if (request.path == "/api/tree") return tree();
    if (request.path == "/api/action") return action(request);
    if (request.path == "/api/upload") return upload(request);
    if (request.path == "/api/download") return download(request);
    if (request.path == "/api/lifecycle") return lifecycle(request);
  } catch (const std::exception& exception) {
    return failure(500, exception.what());
  }
  return failure(404, "no such address");
}

WebHost::Response WebHost::page() {
  auto bytes = readFile(configuration_.pageDirectory / "index.html", 4 * 1024 * 1024);
  if (!bytes) return failure(500, "the page is missing");
  Response response;
  response.contentType = "text/html; charset=utf-8";
  response.body = std::move(*bytes);
  response.headers["Content-Security-Policy"] =
      "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; img-src 'self' data:; "
      "connect-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'none'";
  return response;
}

namespace {
// The controller that `screen` or one of the controllers it contains presents.
std::shared_ptr<ViewController> presentedWithin(const std::shared_ptr<ViewController>& screen, int depth = 0) {
  if (screen->presentedViewController()) return screen->presentedViewController();
  if (depth > 32) return nullptr;
  for (const auto& child : screen->children()) {
    if (auto presented = presentedWithin(child, depth + 1)) return presented;
  }
  return nullptr;
}

bool canGoBack(NavigationController& navigation) {
  const auto& stack = navigation.viewControllers();
  return stack.size() > 1 && !stack.back()->navigationItem().hidesBackButton;
}
}  // namespace

std::vector<std::shared_ptr<ViewController>> WebHost::chain() {
  std::vector<std::shared_ptr<ViewController>> screens;
  std::shared_ptr<ViewController> screen = configuration_.rootController ? configuration_.rootController() : nullptr;
  while (screen && screens.size() < 64) {
    screens.push_back(screen);
    screen = presentedWithin(screen);
  }
  return screens;
}

std::shared_ptr<ViewController> WebHost::screenAt(const Request& request, Response* failed) {
  auto index = parseIndex(queryValue(request, "screen"));
  auto screens = chain();
  if (!index || *index >= screens.size()) {
    *failed = failure(404, "no such screen");
    return nullptr;
  }
  return screens[*index];
}

WebHost::Response WebHost::tree() {
  std::string body = "{\"screens\":[";
  bool first = true;
  for (const auto& screen : chain()) {
    if (!first) body += ',';
    first = false;
    body += "{\"class\":" + Json(screen->className()).dump() + ",\"style\":" +
            Json(toString(screen->modalPresentationStyle())).dump();
    // The platform's back button of a navigation stack, with the label the
    // screen it returns to gives it (empty: the chevron alone). The stack is
    // laid out first, as before every drawing.
    if (auto navigation = std::dynamic_pointer_cast<NavigationController>(screen)) {
      navigation->viewWillLayoutSubviews();
      if (canGoBack(*navigation)) {
        const auto& stack = navigation->viewControllers();
        body += ",\"back\":" + Json(stack[stack.size() - 2]->navigationItem().backButtonLabel()).dump();
      }
    }
    body += ",\"node\":" + screen->snapshot().toJSON() + "}";
  }
  body += "]";
  if (configuration_.urlOpener) {
    auto opened = configuration_.urlOpener->takePending();
    if (!opened.empty()) body += ",\"open\":" + Json(opened).dump();
  }
  body += "}";
  Response response;
  response.body = std::move(body);
  return response;
}

WebHost::Response WebHost::action(const Request& request) {
  if (request.body.size() > kMaximumJSONSize) return failure(413, "the request is too large");
  Json json = Json::parse(request.body, nullptr, false);
  if (json.is_discarded() || !json.is_object()) return failure(400, "the body is not a JSON object");
  auto screenField = json.find("screen");
  auto actionField = json.find("action");
  if (screenField == json.end() || !screenField->is_number_unsigned() || actionField == json.end() ||
      !actionField->is_string()) {
    return failure(400, "an action needs a screen index and an action name");
  }
  const std::string name = actionField->get<std::string>();
  if (name.empty() || name.size() > kMaximumActionName) return failure(400, "the action name is not valid");
  Object value;
  if (auto valueField = json.find("value"); valueField != json.end()) {
    auto converted = toObject(*valueField);
    if (!converted) return failure(400, "the value is too large or not valid");
    value = std::move(*converted);
  }
  auto screens = chain();
  const uint64_t index = screenField->get<uint64_t>();
  if (index >= screens.size()) return failure(404, "no such screen");
  const std::shared_ptr<ViewController> screen = screens[index];
  if (index + 1 != screens.size()) return failure(409, "another screen is in front of this one");

  // The document picker reports a cancel through the host.
  if (auto picker = std::dynamic_pointer_cast<DocumentPickerViewController>(screen)) {
    if (name != "documentPicker.cancel") return failure(404, "no such action on this screen");
    picker->cancel();
    return tree();
  }
  // The back button of a navigation stack belongs to the platform.
  if (name == "navigation.back") {
    auto navigation = std::dynamic_pointer_cast<NavigationController>(screen);
    if (!navigation || !canGoBack(*navigation)) return failure(404, "there is no way back from this screen");
    navigation->popViewController(true);
    return tree();
  }
  // The share sheet is finished by the page once the file is downloaded.
  if (std::dynamic_pointer_cast<ActivityViewController>(screen) && name == "share.complete") {
    if (!value.stringValue() && value.type() != Object::Type::Null) return failure(400, "an activity type is a text");
    screen->performAction(name, value);
    return tree();
  }
  const ViewNode snapshot = screen->snapshot();
  std::vector<const ViewNode*> nodes;
  collectActions(snapshot, nodes, name);
  if (nodes.empty()) return failure(404, "no such action on this screen");
  std::string message;
  bool fits = false;
  bool enabled = false;
  for (const ViewNode* node : nodes) {
    enabled = enabled || node->enabled;
    if (node->enabled && valueFits(*node, value, message)) fits = true;
  }
  if (!enabled) return failure(409, "the control is disabled");
  if (!fits) return failure(400, message);
  if (!screen->performAction(name, value)) return failure(404, "no such action on this screen");
  return tree();
}

WebHost::Response WebHost::upload(const Request& request) {
  Response failed;
  auto screen = screenAt(request, &failed);
  if (!screen) return failed;
  if (auto picker = std::dynamic_pointer_cast<ImagePickerController>(screen)) {
    if (!isJPEGOrPNG(request.body)) return failure(415, "a photo is a JPEG or PNG file");
    picker->pickImage(std::vector<uint8_t>(request.body.begin(), request.body.end()));
    return tree();
  }
  auto documents = std::dynamic_pointer_cast<DocumentPickerViewController>(screen);
  if (!documents) return failure(409, "this screen takes no file");
  std::string name = plainFileName(queryValue(request, "name").value_or("Document"));
  std::error_code failedIO;
  std::filesystem::create_directories(configuration_.inboxDirectory, failedIO);
  if (failedIO) return failure(500, "cannot make the inbox: " + failedIO.message());
  // A free name in the inbox: "name", "name-2", ...
  const std::filesystem::path base(name);
  std::filesystem::path target = configuration_.inboxDirectory / base;
  for (int attempt = 2; std::filesystem::exists(std::filesystem::symlink_status(target, failedIO)); ++attempt) {
    if (attempt > 10000) return failure(500, "the inbox is full");
    target = configuration_.inboxDirectory /
             (base.stem().string() + "-" + std::to_string(attempt) + base.extension().string());
  }
  {
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out.write(request.body.data(), static_cast<std::streamsize>(request.body.size()));
    out.close();
    if (!out) {
      std::filesystem::remove(target, failedIO);
      return failure(500, "cannot copy the file into the inbox");
    }
  }
  documents->pick({target});
  // The picker's receiver has read the file: the copy is not kept.
  std::filesystem::remove(target, failedIO);
  return tree();
}

WebHost::Response WebHost::download(const Request& request) {
  Response failed;
  auto screen = screenAt(request, &failed);
  if (!screen) return failed;
  auto sheet = std::dynamic_pointer_cast<ActivityViewController>(screen);
  if (!sheet) return failure(409, "this screen shares no file");
  auto item = parseIndex(queryValue(request, "item"));
  if (!item || *item >= sheet->activityItems().size()) return failure(404, "no such file");
  const std::filesystem::path& path = sheet->activityItems()[*item];
  auto bytes = readFile(path, kMaximumDownload);
  if (!bytes) return failure(404, "the file cannot be read");
  Response response;
  response.contentType = contentTypeFor(path);
  response.body = std::move(*bytes);
  std::string plain = plainFileName(path.filename().string());
  std::string ascii;
  for (char c : plain) ascii += static_cast<unsigned char>(c) < 0x80 ? c : '_';
  response.headers["Content-Disposition"] =
      "attachment; filename=\"" + ascii + "\"; filename*=UTF-8''" + percentEncoded(path.filename().string());
  return response;
}

WebHost::Response WebHost::photo(const Request& request) {
  auto name = queryValue(request, "name");
  if (!name || !isPlainFileName(*name)) return failure(400, "not a photo name");
  const std::string extension = lowerExtension(*name);
  if (extension != ".jpg" && extension != ".jpeg" && extension != ".png") return failure(400, "not a photo name");
  auto bytes = readFile(configuration_.photosDirectory / *name, kMaximumBodySize * 4);
  if (!bytes) return failure(404, "no such photo");
  Response response;
  response.contentType = contentTypeFor(*name);
  response.body = std::move(*bytes);
  return response;
}

WebHost::Response WebHost::lifecycle(const Request& request) {
  if (request.body.size() > kMaximumJSONSize) return failure(413, "the request is too large");
  Json json = Json::parse(request.body, nullptr, false);
  auto state = json.is_object() ? json.find("state") : json.end();
  if (json.is_discarded() || !json.is_object() || state == json.end() || !state->is_string() ||
      (*state != "active" && *state != "inactive")) {
    return failure(400, "the state is \"active\" or \"inactive\"");
  }
  const bool active = *state == "active";
  if (active_ != active && configuration_.notificationCenter) {
    active_ = active;
    configuration_.notificationCenter->post(active ? kApplicationDidBecomeActiveNotification
                                                   : kApplicationWillResignActiveNotification);
  }
  Response response;
  response.body = "{}";
  return response;
}

}  // namespace platform
