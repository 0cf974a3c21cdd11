#include "app/FeedbackView.h"

namespace tabulo {

namespace {
platform::ViewNode whiteText(const std::string& id, const std::string& text, const char* size, const char* weight) {
  platform::ViewNode node("label", id);
  node.text = text;
  node.textColor = platform::ViewColor::white();
  node.properties = {{"fontSize", size}, {"fontWeight", weight}, {"frameMaxWidth", "infinity"},
                     {"frameAlignment", "leading"}};
  return node;
}
}  // namespace

FeedbackView::FeedbackView(std::shared_ptr<platform::UIEnvironment> environment,
                           std::weak_ptr<PopupCoordinator> popupCoordinator,
                           platform::ViewColor disabledColor, platform::ViewColor enabledColor,
                           FeedbackViewModel::RequestStoreReview requestStoreReview,
                           std::shared_ptr<UserDefaults> userDefaults)
    : ViewController(std::move(environment)),
      popupCoordinator_(std::move(popupCoordinator)),
      disabledColor_(disabledColor),
      enabledColor_(enabledColor),
      viewModel_(std::move(requestStoreReview), std::move(userDefaults)),
      stars_([this](int64_t star) { viewModel_.setEvaluation(star); }) {
  modelChanged_ = viewModel_.changed().connect([this] { setNeedsSnapshot(); });
  for (int64_t star = 1; star <= StarEvaluationView::starCount; ++star) {
    registerAction(StarEvaluationView::starAction(star), [this, star](const platform::Object&) { starTapped(star); });
  }
  registerAction(sendAction, [this](const platform::Object&) { sendTapped(); });
}

void FeedbackView::starTapped(int64_t star) {
  stars_.tapStar(star);
  setNeedsSnapshot();
}

void FeedbackView::sendTapped() {
  if (viewModel_.evaluation() == 0) return;
  viewModel_.submitEvaluation();
  if (auto coordinator = popupCoordinator_.lock()) coordinator->present(Popup::dismiss());
}

platform::ViewNode FeedbackView::snapshot() const {
  platform::ViewNode screen = screenNode("feedback");
  screen.kind = "overlay";
  screen.properties["alignment"] = "center";
  platform::ViewNode blur = VisualEffectView(BlurEffectStyle::dark).node("blur");
  blur.properties["ignoresSafeArea"] = "true";
  screen.add(std::move(blur));

  platform::ViewNode& stack = screen.add(platform::ViewNode("stack", "content"));
  stack.properties = {{"axis", "vertical"}, {"alignment", "center"}, {"paddingHorizontal", "25"}};
  stack.add(platform::ViewNode("spacer", "topSpacer"));
  platform::ViewNode headline = whiteText("headline", kFeedbackHeadline, "20", "regular");
  headline.properties["paddingTop"] = "100";
  stack.add(std::move(headline));
  stack.add(whiteText("question", kFeedbackQuestion, "35", "semibold"));
  platform::ViewNode stars = stars_.node();
  stars.properties["frameMaxWidth"] = "infinity";
  stars.properties["frameAlignment"] = "leading";
  stack.add(std::move(stars));

  const bool chosen = viewModel_.evaluation() != 0;
  platform::ViewNode& send = stack.add(platform::ViewNode("button", "send"));
  send.text = kFeedbackSendTitle;
  send.enabled = chosen;
  send.textColor = chosen ? enabledColor_ : disabledColor_;
  send.backgroundColor = platform::ViewColor::white();
  send.action = sendAction;
  send.properties = {{"fontSize", "18"},     {"fontWeight", "medium"},  {"cornerRadius", "16"},
                     {"cornerStyle", "continuous"}, {"frameMaxWidth", "325"}, {"frameMaxHeight", "56"},
                     {"paddingBottom", "20"}};
  stack.add(platform::ViewNode("spacer", "bottomSpacer"));
  return screen;
}

}  // namespace tabulo
