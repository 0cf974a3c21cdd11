// FeedbacksView — the review prompt: asks whether the user enjoys the app and
// calls the positive or the negative action with the answer.
//
// FeedbacksDependencies carries the prompt's title and its two actions.
// Actions: "feedbacks.positive" and "feedbacks.negative".
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/ui/ViewController.h"

namespace tabulo {

struct FeedbacksDependencies {
  std::string title;
  std::function<void()> positiveAction;
  std::function<void()> negativeAction;
};

class FeedbacksView : public platform::ViewController {
 public:
  FeedbacksView(std::shared_ptr<platform::UIEnvironment> environment, FeedbacksDependencies dependencies);
  std::string className() const override { return "FeedbacksView"; }

  const FeedbacksDependencies& dependencies() const { return dependencies_; }
  platform::ViewNode snapshot() const override;

 private:
  FeedbacksDependencies dependencies_;
};

}  // namespace tabulo
