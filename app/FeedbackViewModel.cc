#include "app/FeedbackViewModel.h"

#include "app/AppAnalytics.h"

namespace tabulo {

namespace {
// Logs "evaluated_app" with {"rating": rating} while usage data is allowed.
void logEvaluation(int64_t rating, UserDefaults& userDefaults) {
  platform::Dictionary parameters{{kRatingParameter, platform::Object(rating)}};
  if (userDefaults.boolForKey(UserSettings::sendUsageDataKey)) {
    AppAnalytics::shared()->logEvent(kEvaluatedAppEvent, parameters);
  }
}
}  // namespace

FeedbackViewModel::FeedbackViewModel(RequestStoreReview requestStoreReview, std::shared_ptr<UserDefaults> userDefaults)
    : requestStoreReview_(std::move(requestStoreReview)), userDefaults_(std::move(userDefaults)) {}

void FeedbackViewModel::setEvaluation(int64_t stars) {
  if (stars == evaluation_) return;
  evaluation_ = stars;
  changed_.emit();
}

void FeedbackViewModel::submitEvaluation() {
  logEvaluation(evaluation_, *userDefaults_);
  if (evaluation_ < 4) return;
  userDefaults_->setBool(true, UserSettings::achievedSuccessKey);
  requestStoreReview();
}

void FeedbackViewModel::requestStoreReview() {
  if (requestStoreReview_) requestStoreReview_();
}

}  // namespace tabulo
