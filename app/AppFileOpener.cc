#include "app/AppFileOpener.h"

#include <algorithm>
#include <cctype>

#include "platform/text/PercentEncoding.h"

namespace tabulo {
namespace {

struct OpenerState {
  std::optional<std::filesystem::path> pendingURL;
  std::weak_ptr<AppFileOpenerDelegate> delegate;
};

OpenerState& state() {
  static OpenerState instance;
  return instance;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  return std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
  });
}

}  // namespace

void AppFileOpener::open(const std::filesystem::path& url) {
  state().pendingURL = url;
  if (auto receiver = state().delegate.lock()) {
    state().pendingURL.reset();
    receiver->openFiles({url});
  }
}

std::optional<std::filesystem::path> AppFileOpener::pendingURL() { return state().pendingURL; }

std::optional<std::filesystem::path> AppFileOpener::takePendingURL() {
  std::optional<std::filesystem::path> url = std::move(state().pendingURL);
  state().pendingURL.reset();
  return url;
}

void AppFileOpener::setDelegate(std::weak_ptr<AppFileOpenerDelegate> delegate) {
  state().delegate = std::move(delegate);
}

std::shared_ptr<AppFileOpenerDelegate> AppFileOpener::delegate() { return state().delegate.lock(); }

void AppFileOpener::reset() { state() = OpenerState{}; }

std::optional<std::filesystem::path> AppFileOpener::filePathFromURL(std::string_view url) {
  if (!startsWithNoCase(url, "file:")) return std::nullopt;
  std::string_view rest = url.substr(5);
  rest = rest.substr(0, rest.find_first_of("?#"));
  if (rest.starts_with("//")) {
    rest.remove_prefix(2);
    size_t slash = rest.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    std::string_view host = rest.substr(0, slash);
    if (!host.empty() && !startsWithNoCase(host, "localhost")) return std::nullopt;
    if (!host.empty() && host.size() != 9) return std::nullopt;
    rest.remove_prefix(slash);
  }
  if (!rest.starts_with("/")) return std::nullopt;
  // A path is bytes: one that is not UTF-8 is opened as it is.
  std::optional<std::string> decoded = platform::percent::decodeBytes(rest);
  if (!decoded || decoded->find('\0') != std::string::npos) return std::nullopt;
  return std::filesystem::path(*decoded);
}

std::string AppFileOpener::fileURLFromPath(const std::filesystem::path& path) {
  return "file://" + platform::percent::encode(path.string(), platform::percent::AllowedSet::path());
}

}  // namespace tabulo
