// IntroPage1, IntroPage2, IntroPage3 — the three pages of the introduction.
//
// Each page is a gradient through its colours, the page's picture over it at
// three-quarter opacity, and at the bottom a card with the title, the
// description and one button that runs `onButtonPress`. The pages differ only
// in their picture and texts (IntroPage holds what they share).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/ui/ViewNode.h"

namespace tabulo {

// The picture asset, title, description and button text of one page.
struct IntroPageContent {
  const char* imageName;
  const char* title;
  const char* description;
  const char* buttonTitle;
};

class IntroPage {
 public:
  virtual ~IntroPage() = default;

  std::function<void()> onButtonPress;
  // The stops of the page's two gradients, in order.
  std::vector<platform::ViewColor> colors;

  virtual const IntroPageContent& content() const = 0;

  void buttonPressed() const {
    if (onButtonPress) onButtonPress();
  }
  // The page, whose button sends `buttonAction`.
  platform::ViewNode node(const std::string& id, const std::string& buttonAction) const;

 protected:
  IntroPage(std::function<void()> onButtonPress, std::vector<platform::ViewColor> colors)
      : onButtonPress(std::move(onButtonPress)), colors(std::move(colors)) {}
};

class IntroPage1 : public IntroPage {
 public:
  static constexpr IntroPageContent kContent{"intro1", "Welcome to Tabulo", "The best way to organize your data",
                                             "Continue"};
  IntroPage1(std::function<void()> onButtonPress, std::vector<platform::ViewColor> colors)
      : IntroPage(std::move(onButtonPress), std::move(colors)) {}
  const IntroPageContent& content() const override { return kContent; }
};

class IntroPage2 : public IntroPage {
 public:
  static constexpr IntroPageContent kContent{"intro2", "Import & Export",
                                             "Import .CSV files and export to .PDF with one touch", "Continue"};
  IntroPage2(std::function<void()> onButtonPress, std::vector<platform::ViewColor> colors)
      : IntroPage(std::move(onButtonPress), std::move(colors)) {}
  const IntroPageContent& content() const override { return kContent; }
};

class IntroPage3 : public IntroPage {
 public:
  static constexpr IntroPageContent kContent{"intro3", "Format & Customize",
                                             "Personalize your sheets with images, merge cells and more.", "Start"};
  IntroPage3(std::function<void()> onButtonPress, std::vector<platform::ViewColor> colors)
      : IntroPage(std::move(onButtonPress), std::move(colors)) {}
  const IntroPageContent& content() const override { return kContent; }
};

}  // namespace tabulo
