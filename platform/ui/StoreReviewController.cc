#include "platform/ui/StoreReviewController.h"

#include "platform/core/Log.h"

namespace platform {
namespace {
StoreReviewController::Handler& handler() {
  static StoreReviewController::Handler instance;
  return instance;
}
}  // namespace

void StoreReviewController::requestReview(const WindowScene& scene) {
  log::write(LogLevel::Info, "platform", "ui", "", "Store review requested in scene " + scene.identifier());
  if (handler()) handler()(scene);
}

void StoreReviewController::setHandler(Handler newHandler) { handler() = std::move(newHandler); }

}  // namespace platform
