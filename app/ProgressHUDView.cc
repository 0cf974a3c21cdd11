#include "app/ProgressHUDView.h"

#include "app/VisualEffectView.h"

namespace tabulo {

ProgressHUDView::ProgressHUDView(std::shared_ptr<platform::UIEnvironment> environment, std::string text,
                                 std::optional<std::string> secondaryText)
    : ViewController(std::move(environment)), text_(std::move(text)), secondaryText_(std::move(secondaryText)) {}

platform::ViewNode ProgressHUDView::snapshot() const {
  platform::ViewNode screen = screenNode("progressHUD");
  screen.kind = "overlay";
  screen.properties = {{"class", className()}, {"alignment", "center"}, {"fixedSize", "both"}};

  platform::ViewNode blur = VisualEffectView(BlurEffectStyle::prominent).node("blur");
  blur.properties.insert({{"cornerRadius", "16"},
                          {"cornerStyle", "continuous"},
                          {"shadowColor", "gray"},
                          {"shadowOpacity", "0.33"},
                          {"shadowRadius", "1"}});
  screen.add(std::move(blur));

  platform::ViewNode& stack = screen.add(platform::ViewNode("stack", "content"));
  stack.properties = {{"axis", "vertical"},    {"alignment", "center"},  {"paddingHorizontal", "32"},
                      {"paddingVertical", "16"}};
  platform::ViewNode& indicator = stack.add(platform::ViewNode("activityIndicator", "indicator"));
  indicator.properties = {{"scale", "1.5"}, {"paddingVertical", "8"}};
  platform::ViewNode& main = stack.add(platform::ViewNode("label", "text"));
  main.text = text_;
  main.properties = {{"fontSize", "18"}, {"fontWeight", "medium"}, {"localized", "false"}};
  if (secondaryText_) {
    platform::ViewNode& secondary = stack.add(platform::ViewNode("label", "secondaryText"));
    secondary.text = *secondaryText_;
    secondary.properties = {{"fontSize", "14"}, {"fontWeight", "regular"}};
  }
  return screen;
}

}  // namespace tabulo
