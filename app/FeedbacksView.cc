#include "app/FeedbacksView.h"

namespace tabulo {

FeedbacksView::FeedbacksView(std::shared_ptr<platform::UIEnvironment> environment, FeedbacksDependencies dependencies)
    : ViewController(std::move(environment)), dependencies_(std::move(dependencies)) {
  registerAction("feedbacks.positive", [this](const platform::Object&) {
    if (dependencies_.positiveAction) dependencies_.positiveAction();
  });
  registerAction("feedbacks.negative", [this](const platform::Object&) {
    if (dependencies_.negativeAction) dependencies_.negativeAction();
  });
}

platform::ViewNode FeedbacksView::snapshot() const {
  platform::ViewNode node = screenNode("feedbacks");
  node.backgroundColor = platform::ViewColor{0, 0, 0, 0.4};
  platform::ViewNode& card = node.add(platform::ViewNode("stack", "card"));
  card.backgroundColor = platform::ViewColor::white();
  platform::ViewNode title("label", "title");
  title.text = dependencies_.title;
  card.add(title);
  platform::ViewNode question("label", "question");
  question.text = "Are you enjoying the app?";
  card.add(question);
  platform::ViewNode yes("button", "positive");
  yes.text = "Yes!";
  yes.action = "feedbacks.positive";
  card.add(yes);
  platform::ViewNode no("button", "negative");
  no.text = "Not really";
  no.action = "feedbacks.negative";
  card.add(no);
  return node;
}

}  // namespace tabulo
