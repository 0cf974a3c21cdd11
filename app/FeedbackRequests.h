// CanAskStoreFeedback and CanAskAppFeedback — the two ways the app asks for a
// review, adopted by the screens that ask.
//
// `requestStoreReview` hands the question to the platform's store-review
// request in the scene of the application's first window; the platform
// decides whether anything shows, and without a window or scene nothing
// happens. `askAppFeedback` asks inside the app (the feedbacks prompt on
// iPhone, the store-review request on iPad); its adopter supplies it.
#pragma once

#include "platform/ui/Application.h"

namespace tabulo {

// The store-review request in the first window's scene of `application`.
void requestStoreReviewInFirstWindowScene(const platform::Application& application);

class CanAskStoreFeedback {
 public:
  virtual ~CanAskStoreFeedback() = default;
  // Over the shared application's windows.
  virtual void requestStoreReview();
};

class CanAskAppFeedback {
 public:
  virtual ~CanAskAppFeedback() = default;
  virtual void askAppFeedback() = 0;
};

}  // namespace tabulo
