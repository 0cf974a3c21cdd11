#include "app/Popup.h"

#include <map>

#include "app/FeedbackView.h"
#include "app/FeedbacksView.h"
#include "app/IntroView.h"
#include "app/ProgressHUDView.h"

namespace tabulo {
namespace {

std::map<Popup::Kind, Popup::ViewBuilder>& builders() {
  static std::map<Popup::Kind, Popup::ViewBuilder> instance;
  return instance;
}

}  // namespace

std::shared_ptr<platform::ViewController> Popup::popupView(const PopupViewContext& context) const {
  if (auto found = builders().find(kind); found != builders().end()) return found->second(*this, context);
  switch (kind) {
    case Kind::intro:
      return std::make_shared<IntroView>(context.environment, context.popupCoordinator);
    case Kind::feedbacks:
      return std::make_shared<FeedbacksView>(context.environment,
                                             FeedbacksDependencies{title, positiveAction, negativeAction});
    case Kind::feedback:
      return std::make_shared<FeedbackView>(context.environment, context.popupCoordinator);
    case Kind::progressHUD:
      return std::make_shared<ProgressHUDView>(context.environment, text, secondaryText);
    case Kind::dismiss:
      break;
  }
  return std::make_shared<platform::ViewController>(context.environment);
}

void Popup::setViewBuilder(Kind kind, ViewBuilder builder) {
  if (builder) {
    builders()[kind] = std::move(builder);
  } else {
    builders().erase(kind);
  }
}

}  // namespace tabulo
