// Requests from a browser page through the browser host: any body and query
// on every address gives an answer with a known status, and never a crash; a
// request refused from its headers gets that same refusal as its answer.
// First byte: which address; then the query value of `screen`, a newline,
// the value of `name`/`item`, a newline, and the body.
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/ui/ActivityViewController.h"
#include "platform/ui/web/WebHost.h"
#include "platform/ui/web/WebPresenter.h"
#include "fuzz/ScratchDirectory.h"

namespace {

using namespace platform;

class Screen : public ViewController {
 public:
  explicit Screen(std::shared_ptr<UIEnvironment> environment) : ViewController(std::move(environment)) {
    registerAction("grid.tap", [](const Object&) {});
    registerAction("grid.scroll", [](const Object&) {});
    registerAction("slider", [](const Object&) {});
    registerAction("field", [](const Object&) {});
  }
  ViewNode snapshot() const override {
    ViewNode node = screenNode("screen");
    ViewNode& grid = node.add(ViewNode("grid", "grid"));
    grid.action = "grid.tap";
    grid.properties = {{"rows", "4"}, {"columns", "3"}};
    grid.add(ViewNode("viewport", "viewport")).action = "grid.scroll";
    ViewNode& slider = node.add(ViewNode("slider", "slider"));
    slider.action = "slider";
    slider.minimum = 0;
    slider.maximum = 1;
    node.add(ViewNode("textField", "field")).action = "field";
    return node;
  }
};

struct Fixture {
  Fixture() {
    auto environment = std::make_shared<UIEnvironment>();
    environment->presenter = std::make_shared<WebPresenter>();
    root = std::make_shared<Screen>(environment);
    queue->drain();
    const auto base = fuzz_support::processScratchDirectory("web_request_fuzz");
    WebHost::Configuration configuration;
    configuration.mainQueue = queue;
    configuration.rootController = [this] { return root; };
    configuration.pageDirectory = base;
    configuration.photosDirectory = base;
    configuration.inboxDirectory = base / "Inbox";
    configuration.token = "t";
    host = std::make_unique<WebHost>(configuration);
  }
  std::shared_ptr<MainQueue> queue = MainQueue::create();
  std::shared_ptr<Screen> root;
  std::unique_ptr<WebHost> host;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture fixture;
  if (size == 0) return 0;
  static const char* const paths[][2] = {{"GET", "/api/tree"},     {"POST", "/api/action"}, {"POST", "/api/upload"},
                                         {"GET", "/api/download"}, {"GET", "/api/photo"},   {"POST", "/api/lifecycle"},
                                         {"GET", "/nowhere"}};
  const auto& [method, path] = paths[data[0] % 7];
  std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  WebHost::Request request;
  request.method = method;
  request.path = path;
  request.headers = {{"host", "127.0.0.1:0"}, {"x-tabulo-token", "t"}};
  const size_t first = rest.find('\n');
  const size_t second = first == std::string::npos ? std::string::npos : rest.find('\n', first + 1);
  if (second != std::string::npos) {
    request.query["screen"] = rest.substr(0, first);
    request.query["name"] = request.query["item"] = rest.substr(first + 1, second - first - 1);
    request.body = rest.substr(second + 1);
  } else {
    request.body = rest;
  }
  // What the headers alone decide must agree with the whole answer.
  std::optional<WebHost::Response> early = fixture.host->refusal(request, request.body.size());
  WebHost::Response response = fixture.host->handle(request);
  if (early && early->status != response.status) std::abort();
  switch (response.status) {
    case 200: case 400: case 404: case 409: case 413: case 415: case 500: break;
    default: std::abort();
  }
  return 0;
}
