// platform::URLOpener — opening a URL outside the app (a web page, a mail
// link). The completion receives whether the URL was opened.
// RecordingURLOpener keeps every URL and answers `opens`.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace platform {

class URLOpener {
 public:
  virtual ~URLOpener() = default;
  virtual bool canOpenURL(const std::string& url) const = 0;
  virtual void openURL(const std::string& url, std::function<void(bool)> completion) = 0;
};

class RecordingURLOpener : public URLOpener {
 public:
  bool canOpenURL(const std::string&) const override { return opens; }
  void openURL(const std::string& url, std::function<void(bool)> completion) override {
    openedURLs.push_back(url);
    if (completion) completion(opens);
  }
  bool opens = true;
  std::vector<std::string> openedURLs;
};

}  // namespace platform
