// platform::StoreReviewController — the store's review request.
//
// `requestReview(scene)` asks the store to show its review sheet in a scene;
// the store decides whether anything appears, and nothing comes back. Here
// the request goes to the installed handler (a headless host logs it; tests
// record it); without one it is only logged.
#pragma once

#include <functional>

#include "platform/ui/Application.h"

namespace platform {

class StoreReviewController {
 public:
  using Handler = std::function<void(const WindowScene& scene)>;

  static void requestReview(const WindowScene& scene);
  // Replaces the handler; an empty one restores logging only.
  static void setHandler(Handler handler);
};

}  // namespace platform
