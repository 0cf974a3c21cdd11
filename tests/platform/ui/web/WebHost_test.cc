#include "platform/ui/web/WebHost.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <nlohmann/json.hpp>
#include <chrono>
#include <thread>

#include "platform/ui/ActivityViewController.h"
#include "platform/ui/DocumentPickerViewController.h"
#include "platform/ui/ImagePickerController.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/web/WebPresenter.h"
#include "tests/platform/TestTmp.h"

namespace platform {
namespace {

using Json = nlohmann::json;

// A screen with one control of each kind the host checks values for.
class ControlsScreen : public ViewController {
 public:
  explicit ControlsScreen(std::shared_ptr<UIEnvironment> environment) : ViewController(std::move(environment)) {
    for (const char* name : {"grid.tap", "grid.scroll", "slider", "field", "tap", "off", "hiddenTap"}) {
      registerAction(name, [this, name](const Object& value) { received.emplace_back(name, value); });
    }
  }
  ViewNode snapshot() const override {
    ViewNode node = screenNode("controls");
    ViewNode& grid = node.add(ViewNode("grid", "grid"));
    grid.action = "grid.tap";
    grid.properties = {{"rows", "3"}, {"columns", "2"}};
    grid.add(ViewNode("viewport", "viewport")).action = "grid.scroll";
    ViewNode& slider = node.add(ViewNode("slider", "slider"));
    slider.action = "slider";
    slider.minimum = 10;
    slider.maximum = 20;
    node.add(ViewNode("textField", "field")).action = "field";
    node.add(ViewNode("button", "tap")).action = "tap";
    ViewNode& off = node.add(ViewNode("button", "off"));
    off.action = "off";
    off.enabled = false;
    ViewNode& hidden = node.add(ViewNode("button", "hidden"));
    hidden.action = "hiddenTap";
    hidden.hidden = true;
    return node;
  }
  std::vector<std::pair<std::string, Object>> received;
};

class RecordingImageDelegate : public ImagePickerControllerDelegate {
 public:
  void imagePickerControllerDidFinishPickingMedia(ImagePickerController&, const PickedMediaInfo& info) override {
    picked.push_back(info);
  }
  void imagePickerControllerDidCancel(ImagePickerController&) override {}
  std::vector<PickedMediaInfo> picked;
};

class RecordingDocumentDelegate : public DocumentPickerDelegate {
 public:
  void documentPicker(DocumentPickerViewController&, const std::vector<std::filesystem::path>& urls) override {
    picked.push_back(urls);
    for (const auto& url : urls) {
      std::ifstream in(url);
      contents.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      stillThere.push_back(std::filesystem::exists(url));
    }
  }
  std::vector<std::string> contents;  // read when handed over
  std::vector<bool> stillThere;
  void documentPickerWasCancelled(DocumentPickerViewController&) override { ++cancelled; }
  std::vector<std::vector<std::filesystem::path>> picked;
  int cancelled = 0;
};

class WebHostTest : public ::testing::Test {
 protected:
  WebHostTest() {
    environment = std::make_shared<UIEnvironment>();
    environment->presenter = std::make_shared<WebPresenter>();
    root = std::make_shared<ControlsScreen>(environment);
    root->loadViewIfNeeded();
    mainQueue->drain();  // this thread runs the main queue
    std::filesystem::create_directories(tmp.path() / "photos");
    WebHost::Configuration configuration;
    configuration.mainQueue = mainQueue;
    configuration.notificationCenter = notifications;
    configuration.rootController = [this]() -> std::shared_ptr<ViewController> {
      if (shown) return shown;
      return root;
    };
    configuration.pageDirectory = tmp.path();
    configuration.photosDirectory = tmp.path() / "photos";
    configuration.inboxDirectory = tmp.path() / "Inbox";
    configuration.token = "secret";
    host = std::make_unique<WebHost>(configuration);
  }

  WebHost::Request request(std::string method, std::string path, std::string body = {}) {
    WebHost::Request request;
    request.method = std::move(method);
    request.path = std::move(path);
    request.body = std::move(body);
    request.headers = {{"host", "127.0.0.1:0"}, {"x-tabulo-token", "secret"}};
    return request;
  }
  WebHost::Response act(const Json& body) { return host->handle(request("POST", "/api/action", body.dump())); }

  tabulo_test::TestTmp tmp;
  std::shared_ptr<MainQueue> mainQueue = MainQueue::create();
  std::shared_ptr<NotificationCenter> notifications = NotificationCenter::create();
  std::shared_ptr<UIEnvironment> environment;
  std::shared_ptr<ControlsScreen> root;
  std::shared_ptr<ViewController> shown;  // replaces `root` as the window's root when set
  std::unique_ptr<WebHost> host;
};

TEST_F(WebHostTest, RefusesForeignHostsOriginsAndMissingTokens) {
  struct Case {
    const char* what;
    std::string method;
    std::map<std::string, std::string> headers;
    std::map<std::string, std::string> query;
    int status;
  } cases[] = {
      {"token in the header", "GET", {{"host", "127.0.0.1:0"}, {"x-tabulo-token", "secret"}}, {}, 200},
      {"token in the query", "GET", {{"host", "127.0.0.1:0"}}, {{"token", "secret"}}, 200},
      {"no token", "GET", {{"host", "127.0.0.1:0"}}, {}, 403},
      {"wrong token", "GET", {{"host", "127.0.0.1:0"}}, {{"token", "secreT"}}, 403},
      {"longer token", "GET", {{"host", "127.0.0.1:0"}}, {{"token", "secret2"}}, 403},
      {"other host name", "GET", {{"host", "attacker.example:0"}, {"x-tabulo-token", "secret"}}, {}, 421},
      {"localhost", "GET", {{"host", "localhost:0"}, {"x-tabulo-token", "secret"}}, {}, 421},
      {"no host", "GET", {{"x-tabulo-token", "secret"}}, {}, 421},
      {"foreign origin", "POST",
       {{"host", "127.0.0.1:0"}, {"x-tabulo-token", "secret"}, {"origin", "http://attacker.example"}}, {}, 403},
      {"own origin", "POST", {{"host", "127.0.0.1:0"}, {"x-tabulo-token", "secret"}, {"origin", "http://127.0.0.1:0"}},
       {}, 200},
  };
  for (const Case& c : cases) {
    WebHost::Request r = c.method == "GET" ? request("GET", "/api/tree")
                                           : request("POST", "/api/action", R"({"screen":0,"action":"tap"})");
    r.headers = c.headers;
    r.query = c.query;
    WebHost::Response response = host->handle(r);
    EXPECT_EQ(response.status, c.status) << c.what << ": " << response.body;
    EXPECT_EQ(response.headers.count("Access-Control-Allow-Origin"), 0u) << c.what;
  }
  EXPECT_EQ(root->received.size(), 1u) << "only the own origin's tap arrives";
}

TEST_F(WebHostTest, TreeHoldsTheRootAndThePresentedChain) {
  auto sheet = std::make_shared<ActivityViewController>(environment, std::vector<std::filesystem::path>{"/x/a.csv"});
  root->present(sheet, true);
  Json tree = Json::parse(host->handle(request("GET", "/api/tree")).body);
  ASSERT_EQ(tree["screens"].size(), 2u);
  EXPECT_EQ(tree["screens"][0]["node"]["id"], "controls");
  EXPECT_EQ(tree["screens"][1]["class"], "UIActivityViewController");
  EXPECT_EQ(tree["screens"][1]["node"]["kind"], "shareSheet");
  // The screen behind the sheet takes no taps while the sheet is up.
  EXPECT_EQ(act({{"screen", 0}, {"action", "tap"}}).status, 409);
  EXPECT_TRUE(root->received.empty());
}

TEST_F(WebHostTest, TheWayBackIsLabelledByTheScreenBelowAfterALayout) {
  auto navigation = std::make_shared<NavigationController>(environment);
  auto below = std::make_shared<ControlsScreen>(environment);
  navigation->setRoot(below);
  navigation->pushViewController(std::make_shared<ControlsScreen>(environment), false);
  shown = navigation;
  const auto plain = BarButtonItem::Style::plain;
  struct Case {
    const char* what;
    std::shared_ptr<BarButtonItem> backItem;
    std::optional<std::string> title;
    std::string label;
  } cases[] = {
      {"the title below", nullptr, "List", "List"},
      {"no title below", nullptr, std::nullopt, "Back"},
      {"a back item without a title: the chevron alone", BarButtonItem::withTitle("", plain, nullptr), "List", ""},
      {"a back item's own title", BarButtonItem::withTitle("Done", plain, nullptr), "List", "Done"},
  };
  int layouts = 0;
  NavigationController::setViewWillLayoutSubviewsMethod([&](NavigationController&) { ++layouts; });
  for (const Case& c : cases) {
    below->navigationItem().title = c.title;
    below->navigationItem().backBarButtonItem = c.backItem;
    Json tree = Json::parse(host->handle(request("GET", "/api/tree")).body);
    EXPECT_EQ(tree["screens"][0]["back"], c.label) << c.what;
  }
  NavigationController::setViewWillLayoutSubviewsMethod(nullptr);
  EXPECT_EQ(layouts, 4) << "the host lays the stack out before each drawing";
  EXPECT_EQ(act({{"screen", 0}, {"action", "navigation.back"}}).status, 200);
  EXPECT_EQ(navigation->viewControllers().size(), 1u);
  EXPECT_FALSE(Json::parse(host->handle(request("GET", "/api/tree")).body)["screens"][0].contains("back"));
}

TEST_F(WebHostTest, ActionsAreCheckedAgainstTheNodeThatShowsThem) {
  struct Case {
    const char* what;
    Json body;
    int status;
  } cases[] = {
      {"grid cell", {{"screen", 0}, {"action", "grid.tap"}, {"value", {{"row", 2}, {"section", 1}}}}, 200},
      {"grid row past the end", {{"screen", 0}, {"action", "grid.tap"}, {"value", {{"row", 3}, {"section", 0}}}}, 400},
      {"grid negative", {{"screen", 0}, {"action", "grid.tap"}, {"value", {{"row", -1}, {"section", 0}}}}, 400},
      {"grid fractional", {{"screen", 0}, {"action", "grid.tap"}, {"value", {{"row", 1.5}, {"section", 0}}}}, 400},
      {"grid without value", {{"screen", 0}, {"action", "grid.tap"}}, 400},
      {"grid view", {{"screen", 0}, {"action", "grid.scroll"},
                     {"value", {{"x", 0}, {"y", 120.5}, {"width", 800}, {"height", 600}}}}, 200},
      {"grid view without a size", {{"screen", 0}, {"action", "grid.scroll"}, {"value", {{"x", 0}, {"y", 0}}}}, 400},
      {"grid view left of the grid", {{"screen", 0}, {"action", "grid.scroll"},
                                     {"value", {{"x", -1}, {"y", 0}, {"width", 800}, {"height", 600}}}}, 400},
      {"grid view of no height", {{"screen", 0}, {"action", "grid.scroll"},
                                 {"value", {{"x", 0}, {"y", 0}, {"width", 800}, {"height", 0}}}}, 400},
      {"slider in range", {{"screen", 0}, {"action", "slider"}, {"value", 15}}, 200},
      {"slider below", {{"screen", 0}, {"action", "slider"}, {"value", 9.5}}, 400},
      {"slider text", {{"screen", 0}, {"action", "slider"}, {"value", "15"}}, 400},
      {"text field", {{"screen", 0}, {"action", "field"}, {"value", "Hello"}}, 200},
      {"text field number", {{"screen", 0}, {"action", "field"}, {"value", 3}}, 400},
      {"text too long", {{"screen", 0}, {"action", "field"}, {"value", std::string(70000, 'x')}}, 400},
      {"disabled button", {{"screen", 0}, {"action", "off"}}, 409},
      {"hidden button", {{"screen", 0}, {"action", "hiddenTap"}}, 404},
      {"unknown action", {{"screen", 0}, {"action", "selfDestruct"}}, 404},
      {"no such screen", {{"screen", 1}, {"action", "tap"}}, 404},
      {"negative screen", {{"screen", -1}, {"action", "tap"}}, 400},
      {"action not a text", {{"screen", 0}, {"action", 5}}, 400},
      {"too deep", {{"screen", 0}, {"action", "tap"}, {"value", Json::parse("[[[[[[[[[[1]]]]]]]]]]")}}, 400},
  };
  for (const Case& c : cases) {
    root->received.clear();
    WebHost::Response response = act(c.body);
    EXPECT_EQ(response.status, c.status) << c.what << ": " << response.body;
    EXPECT_EQ(root->received.size(), c.status == 200 ? 1u : 0u) << c.what;
  }
  EXPECT_EQ(host->handle(request("POST", "/api/action", "{\"screen\":0,")).status, 400);
  EXPECT_EQ(host->handle(request("POST", "/api/action", "{\"screen\":0,\"action\":\"\xff\"}")).status, 400);
  WebHost::Request tooLarge = request("POST", "/api/action");
  tooLarge.bodyTooLarge = true;
  EXPECT_EQ(host->handle(tooLarge).status, 413);
}

TEST_F(WebHostTest, PhotosAreServedByPlainNameOnly) {
  std::ofstream(tmp.path() / "photos" / "cell 1.jpg") << "\xff\xd8\xff photo";
  std::ofstream(tmp.path() / "secret.jpg") << "outside";
  std::filesystem::create_symlink(tmp.path() / "secret.jpg", tmp.path() / "photos" / "link.jpg");
  struct Case {
    std::string name;
    int status;
  } cases[] = {{"cell 1.jpg", 200}, {"../secret.jpg", 400}, {"..", 400}, {".hidden.jpg", 400},
               {"photos/cell 1.jpg", 400}, {"cell 1.txt", 400}, {"missing.jpg", 404}, {"link.jpg", 404}, {"", 400}};
  for (const Case& c : cases) {
    WebHost::Request r = request("GET", "/api/photo");
    r.query["name"] = c.name;
    WebHost::Response response = host->handle(r);
    EXPECT_EQ(response.status, c.status) << c.name;
    if (c.status == 200) {
      EXPECT_EQ(response.contentType, "image/jpeg");
      EXPECT_EQ(response.body, "\xff\xd8\xff photo");
    }
  }
}

TEST_F(WebHostTest, ImagePickerTakesJPEGAndPNGBytesOnly) {
  auto delegate = std::make_shared<RecordingImageDelegate>();
  auto picker = std::make_shared<ImagePickerController>(environment);
  picker->delegate = delegate;
  root->present(picker, true);
  WebHost::Request upload = request("POST", "/api/upload", "GIF89a....");
  upload.query = {{"screen", "1"}, {"name", "x.gif"}};
  EXPECT_EQ(host->handle(upload).status, 415);
  EXPECT_TRUE(delegate->picked.empty());
  upload.body = std::string("\x89PNG\r\n\x1a\n rest", 13);
  EXPECT_EQ(host->handle(upload).status, 200);
  ASSERT_EQ(delegate->picked.size(), 1u);
  const auto& image = std::get<EncodedImage>(delegate->picked[0].at(kImagePickerControllerOriginalImage));
  EXPECT_EQ(std::string(image.bytes.begin(), image.bytes.end()), upload.body);
  upload.query["screen"] = "0";
  EXPECT_EQ(host->handle(upload).status, 409) << "the root screen takes no file";
}

TEST_F(WebHostTest, DocumentPickerGetsACopyInTheInboxUnderAPlainNameRemovedOnceTaken) {
  auto delegate = std::make_shared<RecordingDocumentDelegate>();
  auto picker = std::make_shared<DocumentPickerViewController>(
      environment, std::vector<std::string>{"public.comma-separated-values-text"},
      DocumentPickerViewController::Mode::import);
  picker->setDelegate(delegate);
  root->present(picker, true);
  WebHost::Request upload = request("POST", "/api/upload", "a,b\n1,2\n");
  upload.query = {{"screen", "1"}, {"name", "../../.bashrc/Data;rm.csv"}};
  ASSERT_EQ(host->handle(upload).status, 200);
  ASSERT_EQ(delegate->picked.size(), 1u);
  EXPECT_EQ(delegate->picked[0].at(0), tmp.path() / "Inbox" / "Data_rm.csv");
  EXPECT_EQ(delegate->contents, std::vector<std::string>{"a,b\n1,2\n"});
  EXPECT_EQ(delegate->stillThere, std::vector<bool>{true});
  EXPECT_FALSE(std::filesystem::exists(delegate->picked[0].at(0))) << "removed once the picker has it";
  EXPECT_EQ(act({{"screen", 1}, {"action", "documentPicker.cancel"}}).status, 200);
  EXPECT_EQ(delegate->cancelled, 1);

  // Copies an earlier run left behind go when the host starts.
  std::ofstream(tmp.path() / "Inbox" / "left over.csv") << "from an earlier run";
  ASSERT_TRUE(host->start());
  EXPECT_TRUE(std::filesystem::is_empty(tmp.path() / "Inbox"));
  host->stop();
}

TEST_F(WebHostTest, ShareSheetFilesDownloadByIndex) {
  std::ofstream(tmp.path() / "Résumé.csv") << "a,b\n";
  auto sheet = std::make_shared<ActivityViewController>(
      environment, std::vector<std::filesystem::path>{tmp.path() / "Résumé.csv", tmp.path() / "gone.pdf"});
  bool completed = false;
  sheet->completionWithItemsHandler = [&](const std::optional<std::string>&, bool done, const std::vector<Object>&,
                                          const std::optional<Error>&) { completed = done; };
  root->present(sheet, true);
  WebHost::Request download = request("GET", "/api/download");
  download.query = {{"screen", "1"}, {"item", "0"}};
  WebHost::Response response = host->handle(download);
  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.body, "a,b\n");
  EXPECT_EQ(response.contentType, "text/csv");
  EXPECT_EQ(response.headers["Content-Disposition"],
            "attachment; filename=\"R__sum__.csv\"; filename*=UTF-8''R%C3%A9sum%C3%A9.csv");
  for (const char* item : {"1", "2", "-1", "0x0", ""}) {
    download.query["item"] = item;
    EXPECT_EQ(host->handle(download).status, 404) << item;
  }
  EXPECT_EQ(act({{"screen", 1}, {"action", "share.complete"}, {"value", "download"}}).status, 200);
  EXPECT_TRUE(completed);
  EXPECT_EQ(root->presentedViewController(), nullptr);
}

TEST_F(WebHostTest, VisibilityChangesPostTheLifeCycleNotificationsOncePerChange) {
  std::vector<std::string> posted;
  auto active = notifications->addObserver(kApplicationDidBecomeActiveNotification, nullptr,
                                           [&](const Notification&) { posted.push_back("active"); });
  auto resign = notifications->addObserver(kApplicationWillResignActiveNotification, nullptr,
                                           [&](const Notification&) { posted.push_back("inactive"); });
  for (const char* state : {"active", "active", "inactive", "active"}) {
    EXPECT_EQ(host->handle(request("POST", "/api/lifecycle", Json{{"state", state}}.dump())).status, 200);
  }
  EXPECT_EQ(posted, (std::vector<std::string>{"active", "inactive", "active"}));
  EXPECT_EQ(host->handle(request("POST", "/api/lifecycle", R"({"state":"asleep"})")).status, 400);
  EXPECT_EQ(host->handle(request("POST", "/api/lifecycle", "[]")).status, 400);
}

TEST_F(WebHostTest, OpenedWebAndMailLinksReachThePageOnce) {
  auto opener = std::make_shared<WebURLOpener>();
  WebHost::Configuration configuration;
  configuration.mainQueue = mainQueue;
  configuration.rootController = [this] { return root; };
  configuration.urlOpener = opener;
  configuration.token = "secret";
  WebHost withOpener(configuration);
  std::vector<bool> answers;
  for (const char* url : {"https://example.com/a", "mailto:x@example.com", "javascript:alert(1)", "file:///etc/passwd",
                          "https://example.com/a b"}) {
    opener->openURL(url, [&](bool opened) { answers.push_back(opened); });
  }
  EXPECT_EQ(answers, (std::vector<bool>{true, true, false, false, false}));
  Json tree = Json::parse(withOpener.handle(request("GET", "/api/tree")).body);
  EXPECT_EQ(tree["open"], Json::parse(R"(["https://example.com/a","mailto:x@example.com"])"));
  EXPECT_FALSE(Json::parse(withOpener.handle(request("GET", "/api/tree")).body).contains("open"));
}

// The real server on a loopback port: a request waits for the main loop, and
// stopping the host ends the wait instead of hanging.
TEST_F(WebHostTest, ServesOverLoopbackAndStopsWhileARequestWaits) {
  auto other = MainQueue::create();  // a main loop nobody runs
  WebHost::Configuration configuration;
  configuration.mainQueue = other;
  configuration.rootController = [this] { return root; };
  configuration.token = "secret";
  WebHost server(configuration);
  ASSERT_TRUE(server.start());
  ASSERT_NE(server.port(), 0);
  EXPECT_EQ(server.address(), "http://127.0.0.1:" + std::to_string(server.port()) + "/?token=secret");

  std::string reply;
  std::atomic<bool> finished{false};
  std::thread client([&] {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(server.port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      std::string text = "GET /api/tree?token=secret HTTP/1.1\r\nHost: 127.0.0.1:" +
                         std::to_string(server.port()) + "\r\nConnection: close\r\n\r\n";
      (void)::write(fd, text.data(), text.size());
      char buffer[4096];
      for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;) reply.append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    finished = true;
  });
  // Run the main loop's side until the request's block has arrived and run.
  while (!finished && other->drain() == 0) std::this_thread::yield();
  client.join();
  EXPECT_NE(reply.find("200 OK"), std::string::npos) << reply;
  EXPECT_NE(reply.find("\"controls\""), std::string::npos);

  // Nobody runs the main loop now: stopping ends the request's wait (or the
  // connection, when it comes before the request is read).
  reply.clear();
  std::thread waiting([&] {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(server.port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      std::string text = "GET /api/tree?token=secret HTTP/1.1\r\nHost: 127.0.0.1:" +
                         std::to_string(server.port()) + "\r\nConnection: close\r\n\r\n";
      (void)::write(fd, text.data(), text.size());
      char buffer[4096];
      for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;) reply.append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
  });
  server.stop();
  waiting.join();
  EXPECT_TRUE(reply.empty() || reply.find("503") != std::string::npos) << reply;
}

// A client socket on the loopback port, with a receive time-out so that no
// read waits for ever.
int connectTo(uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  timeval timeout{10, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

void sendAll(int fd, const std::string& text) {
  for (size_t sent = 0; sent < text.size();) {
    ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;  // the server has answered and closed
    sent += static_cast<size_t>(n);
  }
}

// Everything the server sends until it closes the connection.
std::string readAll(int fd) {
  std::string reply;
  char buffer[4096];
  for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;) reply.append(buffer, static_cast<size_t>(got));
  return reply;
}

long residentKilobytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

class WebHostServerTest : public WebHostTest {
 protected:
  void startServer(double headerDeadline) {
    WebHost::Configuration configuration;
    configuration.mainQueue = mainQueue;
    configuration.rootController = [this]() -> std::shared_ptr<ViewController> { return root; };
    configuration.pageDirectory = tmp.path();
    configuration.inboxDirectory = tmp.path() / "Inbox";
    configuration.token = "secret";
    configuration.headerDeadline = headerDeadline;
    server = std::make_unique<WebHost>(configuration);
    ASSERT_TRUE(server->start());
    // The main loop's side runs on a thread of its own while the test talks to the server.
    mainLoop = std::thread([this] {
      while (!stopLoop) {
        if (mainQueue->drain() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
  }
  void TearDown() override {
    if (server) server->stop();
    stopLoop = true;
    if (mainLoop.joinable()) mainLoop.join();
  }
  std::string hostHeader() const { return "Host: 127.0.0.1:" + std::to_string(server->port()) + "\r\n"; }

  std::unique_ptr<WebHost> server;
  std::thread mainLoop;
  std::atomic<bool> stopLoop{false};
};

TEST_F(WebHostServerTest, RequestsRefusedByTheirHeadersAreAnsweredBeforeTheirBodies) {
  startServer(5);
  constexpr size_t kAnnounced = 20u << 20;
  const std::string body(1u << 20, 'x');  // what each client tries to send before reading the answer
  const long before = residentKilobytes();
  struct Kind {
    std::string headers;
    const char* status;
  };
  const Kind kinds[] = {
      {"POST /api/upload?screen=0 HTTP/1.1\r\n" + hostHeader(), " 403 "},  // no token
      {"POST /api/upload?screen=0&token=secret HTTP/1.1\r\nHost: attacker.example\r\n", " 421 "},
      {"POST /api/action?token=secret HTTP/1.1\r\n" + hostHeader(), " 413 "},  // over the route's limit
  };
  std::vector<int> sockets;
  for (int i = 0; i < 60; ++i) {
    int fd = connectTo(server->port());
    ASSERT_GE(fd, 0);
    const Kind& kind = kinds[i % 3];
    sendAll(fd, kind.headers + "Content-Length: " + std::to_string(kAnnounced) + "\r\n\r\n");
    sockets.push_back(fd);
  }
  // The answers come though no body has been sent; what a client sends then is not read.
  for (size_t i = 0; i < sockets.size(); ++i) {
    const std::string reply = readAll(sockets[i]);
    EXPECT_NE(reply.find(kinds[i % 3].status), std::string::npos) << i << ": " << reply.substr(0, 80);
    sendAll(sockets[i], body);
    ::close(sockets[i]);
  }
  // Nothing of the 60 announced bodies was kept: the host's memory stays flat.
  EXPECT_LT(residentKilobytes() - before, 16 * 1024);

  // A request within its limits still goes through.
  int fd = connectTo(server->port());
  sendAll(fd, "GET /api/tree?token=secret HTTP/1.1\r\n" + hostHeader() + "Connection: close\r\n\r\n");
  EXPECT_NE(readAll(fd).find(" 200 "), std::string::npos);
  ::close(fd);
}

TEST_F(WebHostServerTest, AConnectionThatTricklesItsHeadersIsClosedAtTheDeadline) {
  startServer(0.5);
  int slow = connectTo(server->port());
  ASSERT_GE(slow, 0);
  sendAll(slow, "GET /api/tree?token=secret HTTP/1.1\r\n");
  const auto start = std::chrono::steady_clock::now();
  // One header line every 100 ms keeps it busy, but not past the deadline.
  std::thread trickle([&] {
    for (int line = 0; line < 40; ++line) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (::send(slow, "X-Slow: 1\r\n", 11, MSG_NOSIGNAL) <= 0) return;
    }
  });
  // Meanwhile an ordinary request is answered.
  int fd = connectTo(server->port());
  sendAll(fd, "GET /api/tree?token=secret HTTP/1.1\r\n" + hostHeader() + "Connection: close\r\n\r\n");
  EXPECT_NE(readAll(fd).find(" 200 "), std::string::npos);
  ::close(fd);

  const std::string reply = readAll(slow);  // ends when the server closes it
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  trickle.join();
  ::close(slow);
  EXPECT_EQ(reply.find(" 200 "), std::string::npos);
  EXPECT_GE(seconds, 0.4);
  EXPECT_LT(seconds, 3.5) << "closed at its deadline, not after the trickle";
}

}  // namespace
}  // namespace platform
