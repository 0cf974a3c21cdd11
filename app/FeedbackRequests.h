// CanAskStoreFeedback and CanAskAppFeedback — the two ways the app asks for a
// review, adopted by the screens that ask.
//
// `requestStoreReview` hands the question to the platform's store-review
// request in the first window's scene; the platform decides whether anything
// shows, and without a window or scene nothing happens. `askAppFeedback` asks
// inside the app (the feedbacks prompt on iPhone, the store-review request on
// iPad); its adopter supplies it together with its popup coordinator.
#pragma once

namespace tabulo {

class CanAskStoreFeedback {
 public:
  virtual ~CanAskStoreFeedback() = default;
  virtual void requestStoreReview();
};

class CanAskAppFeedback {
 public:
  virtual ~CanAskAppFeedback() = default;
  virtual void askAppFeedback() = 0;
};

}  // namespace tabulo
