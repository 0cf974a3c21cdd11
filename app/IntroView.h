// IntroView — the three-page introduction shown once, on the first launch.
//
// Page 1 shows at once; each press of a page's button adds the next page,
// fading in over the earlier ones, and plays a heavy haptic tap; the press on
// the third page ("Start") closes the introduction through the popup
// coordinator. `currentPage` runs 0, 1, 2 and becomes 3 on that last press;
// presses that arrive after it (a quick double press) are ignored, so the
// introduction is closed exactly once. Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/IntroPage.h"
#include "platform/ui/HapticEngine.h"
#include "app/PopupCoordinator.h"
#include "platform/ui/ViewController.h"

namespace tabulo {

class IntroView : public platform::ViewController {
 public:
  static constexpr int64_t pageCount = 3;
  // The action of every page's button.
  static constexpr const char* advanceAction = "intro.advance";

  // The two colours every page is given: 18A4FB and 4A5BF0.
  static std::vector<platform::ViewColor> pageColors();

  // `popupCoordinator` is the process's coordinator (held weakly), which
  // closes the introduction after its last page. The heavy feedback
  // generator plays on the environment's haptic engine.
  IntroView(std::shared_ptr<platform::UIEnvironment> environment, std::weak_ptr<PopupCoordinator> popupCoordinator);
  std::string className() const override { return "IntroView"; }

  int64_t currentPage() const { return currentPage_; }
  const platform::ImpactFeedbackGenerator& feedbackGenerator() const { return feedbackGenerator_; }

  void advancePage();

  platform::ViewNode snapshot() const override;

 protected:
  void viewDidAppear(bool animated) override;

 private:
  std::weak_ptr<PopupCoordinator> popupCoordinator_;
  int64_t currentPage_ = 0;
  platform::ImpactFeedbackGenerator feedbackGenerator_;
  bool prepared_ = false;
  IntroPage1 page1_;
  IntroPage2 page2_;
  IntroPage3 page3_;
};

}  // namespace tabulo
