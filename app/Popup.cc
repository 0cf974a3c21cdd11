#include "app/Popup.h"

#include <map>

#include "app/FeedbacksView.h"

namespace tabulo {
namespace {

std::map<Popup::Kind, Popup::ViewBuilder>& builders() {
  static std::map<Popup::Kind, Popup::ViewBuilder> instance;
  return instance;
}

const char* kindName(Popup::Kind kind) {
  switch (kind) {
    case Popup::Kind::intro: return "intro";
    case Popup::Kind::feedbacks: return "feedbacks";
    case Popup::Kind::feedback: return "feedback";
    case Popup::Kind::progressHUD: return "progressHUD";
    case Popup::Kind::dismiss: return "dismiss";
  }
  return "";
}

// Stands for a kind whose screen has not installed its view.
class PlaceholderPopupView : public platform::ViewController {
 public:
  PlaceholderPopupView(std::shared_ptr<platform::UIEnvironment> environment, Popup::Kind kind)
      : ViewController(std::move(environment)), kind_(kind) {}
  std::string className() const override { return "PlaceholderPopupView"; }
  platform::ViewNode snapshot() const override {
    platform::ViewNode node = screenNode("popup");
    node.properties["kind"] = kindName(kind_);
    return node;
  }

 private:
  Popup::Kind kind_;
};

}  // namespace

std::shared_ptr<platform::ViewController> Popup::popupView(const PopupViewContext& context) const {
  if (auto found = builders().find(kind); found != builders().end()) return found->second(*this, context);
  switch (kind) {
    case Kind::feedbacks:
      return std::make_shared<FeedbacksView>(context.environment,
                                             FeedbacksDependencies{title, positiveAction, negativeAction});
    case Kind::dismiss:
      return std::make_shared<platform::ViewController>(context.environment);
    default:
      return std::make_shared<PlaceholderPopupView>(context.environment, kind);
  }
}

void Popup::setViewBuilder(Kind kind, ViewBuilder builder) {
  if (builder) {
    builders()[kind] = std::move(builder);
  } else {
    builders().erase(kind);
  }
}

}  // namespace tabulo
