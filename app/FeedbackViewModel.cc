#include "app/FeedbackViewModel.h"

#include "app/BoxwellAnalytics.h"

namespace tabulo {

FeedbackViewModel::FeedbackViewModel(RequestStoreReview requestStoreReview, std::shared_ptr<UserDefaults> userDefaults)
    : requestStoreReview_(std::move(requestStoreReview)), userDefaults_(std::move(userDefaults)) {}

void FeedbackViewModel::setEvaluation(int64_t stars) {
  if (stars == evaluation_) return;
  evaluation_ = stars;
  changed_.emit();
}

void FeedbackViewModel::submitEvaluation() {
  BoxwellAnalytics::logEvaluation(evaluation_, *userDefaults_);
  if (evaluation_ < 4) return;
  userDefaults_->setBool(true, UserSettings::achievedSuccessKey);
  requestStoreReview();
}

void FeedbackViewModel::requestStoreReview() {
  if (requestStoreReview_) {
    requestStoreReview_();
  } else {
    CanAskStoreFeedback::requestStoreReview();
  }
}

}  // namespace tabulo
