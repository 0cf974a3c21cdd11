// FeedbackView — the star-rating popup: over a dark blur, "Give us your
// feedback", "Are you enjoying\nTabulo?", five stars and a "SEND" button
// that stays disabled (its text in `disabledColor`) until a star is chosen.
// Sending hands the rating to the view model and then closes the popup
// through the popup coordinator. Main thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/FeedbackViewModel.h"
#include "app/StarEvaluationView.h"
#include "app/VisualEffectView.h"
#include "app/PopupCoordinator.h"
#include "platform/ui/ViewController.h"

namespace tabulo {

inline constexpr const char* kFeedbackHeadline = "Give us your feedback";
inline constexpr const char* kFeedbackQuestion = "Are you enjoying\nTabulo?";
inline constexpr const char* kFeedbackSendTitle = "SEND";

// The platform's gray and blue, the colours the coordinator gives the send button.
inline constexpr platform::ViewColor kSystemGray{142.0 / 255.0, 142.0 / 255.0, 147.0 / 255.0, 1};
inline constexpr platform::ViewColor kSystemBlue{0, 122.0 / 255.0, 1, 1};

class FeedbackView : public platform::ViewController {
 public:
  static constexpr const char* sendAction = "feedback.send";

  // `popupCoordinator` is the process's coordinator (held weakly), which
  // closes the popup after sending. The view makes its own FeedbackViewModel
  // (no star chosen) with `requestStoreReview` (empty: the platform's request)
  // and `userDefaults`.
  FeedbackView(std::shared_ptr<platform::UIEnvironment> environment, std::weak_ptr<PopupCoordinator> popupCoordinator,
               platform::ViewColor disabledColor = kSystemGray, platform::ViewColor enabledColor = kSystemBlue,
               FeedbackViewModel::RequestStoreReview requestStoreReview = {},
               std::shared_ptr<UserDefaults> userDefaults = UserSettings::shared().userDefaults);
  std::string className() const override { return "FeedbackView"; }

  FeedbackViewModel& viewModel() { return viewModel_; }
  const StarEvaluationView& stars() const { return stars_; }
  const platform::ViewColor& disabledColor() const { return disabledColor_; }
  const platform::ViewColor& enabledColor() const { return enabledColor_; }

  void starTapped(int64_t star);
  // Does nothing while no star is chosen (the button is disabled).
  void sendTapped();

  platform::ViewNode snapshot() const override;

 private:
  std::weak_ptr<PopupCoordinator> popupCoordinator_;
  platform::ViewColor disabledColor_;
  platform::ViewColor enabledColor_;
  FeedbackViewModel viewModel_;
  StarEvaluationView stars_;
  platform::Connection modelChanged_;
};

}  // namespace tabulo
