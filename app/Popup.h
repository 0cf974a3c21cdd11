// Popup — one request to the PopupCoordinator: a popup of a given kind to
// present, or `dismiss` to close the one that is shown.
//
//   intro        the three-page introduction
//   feedbacks    the review prompt: a title and the positive and negative answers
//   feedback     the star-rating popup
//   progressHUD  a card with a spinning indicator, a text and an optional second text
//   dismiss      closes the popup that is shown
//
// `popupView` builds the view of a kind: IntroView, FeedbacksView,
// FeedbackView, ProgressHUDView, or an empty view for `dismiss`. A builder
// installed with `setViewBuilder` takes the place of a kind's view.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/ui/ViewController.h"

namespace tabulo {

class PopupCoordinator;

// What a popup's view receives from the coordinator: the coordinator itself
// (its environment object), the host it is shown in (its `viewController`)
// and the UI services.
struct PopupViewContext {
  std::shared_ptr<PopupCoordinator> popupCoordinator;
  std::weak_ptr<platform::ViewController> viewController;
  std::shared_ptr<platform::UIEnvironment> environment;
};

struct Popup {
  enum class Kind { intro, feedbacks, feedback, progressHUD, dismiss };
  using Action = std::function<void()>;

  Kind kind = Kind::dismiss;
  // feedbacks
  std::string title;
  Action positiveAction;
  Action negativeAction;
  // progressHUD
  std::string text;
  std::optional<std::string> secondaryText;

  static Popup of(Kind kind) {
    Popup popup;
    popup.kind = kind;
    return popup;
  }
  static Popup intro() { return of(Kind::intro); }
  static Popup feedbacks(std::string title, Action positive, Action negative) {
    Popup popup = of(Kind::feedbacks);
    popup.title = std::move(title);
    popup.positiveAction = std::move(positive);
    popup.negativeAction = std::move(negative);
    return popup;
  }
  static Popup feedback() { return of(Kind::feedback); }
  static Popup progressHUD(std::string text, std::optional<std::string> secondaryText) {
    Popup popup = of(Kind::progressHUD);
    popup.text = std::move(text);
    popup.secondaryText = std::move(secondaryText);
    return popup;
  }
  static Popup dismiss() { return of(Kind::dismiss); }

  // The view of this popup's kind.
  std::shared_ptr<platform::ViewController> popupView(const PopupViewContext& context) const;

  using ViewBuilder = std::function<std::shared_ptr<platform::ViewController>(const Popup&, const PopupViewContext&)>;
  // Installs the view of `kind` (an empty builder restores the default).
  static void setViewBuilder(Kind kind, ViewBuilder builder);
};

}  // namespace tabulo
