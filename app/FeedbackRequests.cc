#include "app/FeedbackRequests.h"

#include "app/AppServices.h"

namespace tabulo {

void CanAskStoreFeedback::requestStoreReview() {
  static const AppServices services = AppServices::standard();
  if (services.requestStoreReview) services.requestStoreReview();
}

}  // namespace tabulo
