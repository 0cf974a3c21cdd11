// FeedbackViewModel — the state and the send action of the star-rating popup.
//
// `evaluation` is 0 until a star is chosen, then the number of stars (1 to 5).
// Sending logs "evaluated_app" with the integer "rating" while the user allows
// usage data ("SEND_USAGE_DATA" read at that moment); a rating of 4 or more
// also records that the user is happy ("ACHIEVED_SUCCESS") and asks the
// platform for a store review. Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "app/FeedbackRequests.h"
#include "app/UserDefaults.h"
#include "app/UserSettings.h"
#include "platform/ui/Signal.h"

namespace tabulo {

class FeedbackViewModel : public CanAskStoreFeedback {
 public:
  // Stands in for the platform's store-review request in the first window's
  // scene; when empty, the platform's own request is made.
  using RequestStoreReview = std::function<void()>;

  explicit FeedbackViewModel(RequestStoreReview requestStoreReview = {},
                             std::shared_ptr<UserDefaults> userDefaults = UserSettings::shared().userDefaults);

  int64_t evaluation() const { return evaluation_; }
  // A chosen star; announced through changed().
  void setEvaluation(int64_t stars);
  platform::Signal<>& changed() { return changed_; }

  // Sends the rating and, for 4 stars or more, asks for a store review.
  void submitEvaluation();
  void requestStoreReview() override;

 private:
  platform::Signal<> changed_;
  RequestStoreReview requestStoreReview_;
  std::shared_ptr<UserDefaults> userDefaults_;
  int64_t evaluation_ = 0;
};

}  // namespace tabulo
