#include "platform/ui/web/WebURLOpener.h"

#include <algorithm>
#include <cctype>

namespace platform {

bool WebURLOpener::canOpenURL(const std::string& url) const {
  if (url.size() > 8192) return false;
  const bool printable = std::all_of(url.begin(), url.end(), [](unsigned char c) { return c > 0x20 && c != 0x7f; });
  if (!printable) return false;
  std::string lower = url.substr(0, 8);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  return lower.starts_with("https://") || lower.starts_with("http://") || lower.starts_with("mailto:");
}

void WebURLOpener::openURL(const std::string& url, std::function<void(bool)> completion) {
  const bool opens = canOpenURL(url);
  if (opens && pending_.size() < 16) pending_.push_back(url);
  if (completion) completion(opens);
}

std::vector<std::string> WebURLOpener::takePending() {
  std::vector<std::string> taken;
  taken.swap(pending_);
  return taken;
}

}  // namespace platform
