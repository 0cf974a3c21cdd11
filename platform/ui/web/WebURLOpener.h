// platform::WebURLOpener — opens URLs in the browser that shows the app.
//
// A URL with the http, https or mailto scheme is kept until the browser host
// hands it to the page (takePending), which opens it in a new tab; any other
// URL cannot be opened. Main thread only.
#pragma once

#include <string>
#include <vector>

#include "platform/ui/URLOpener.h"

namespace platform {

class WebURLOpener : public URLOpener {
 public:
  bool canOpenURL(const std::string& url) const override;
  void openURL(const std::string& url, std::function<void(bool)> completion) override;

  // The URLs opened since the last call, oldest first.
  std::vector<std::string> takePending();

 private:
  std::vector<std::string> pending_;
};

}  // namespace platform
