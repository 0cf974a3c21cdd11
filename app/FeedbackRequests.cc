#include "app/FeedbackRequests.h"

#include "platform/ui/StoreReviewController.h"

namespace tabulo {

void requestStoreReviewInFirstWindowScene(const platform::Application& application) {
  if (application.windows().empty()) return;
  const auto& scene = application.windows().front()->windowScene();
  if (!scene) return;
  platform::StoreReviewController::requestReview(*scene);
}

void CanAskStoreFeedback::requestStoreReview() {
  requestStoreReviewInFirstWindowScene(*platform::Application::shared());
}

}  // namespace tabulo
