// platform::Presenter — the host side of modal presentation.
//
// Screens call ViewController::present() and dismiss(); the controller keeps
// the presentation links (the presenting controller owns what it presents)
// and then hands the transition to its environment's Presenter, which shows
// or removes the controller, runs the appearance transitions
// (ViewController::beginAppearanceTransition / endAppearanceTransition) and
// calls the completion once the transition has finished. A headless host uses
// RecordingPresenter; a renderer draws `presenting`'s chain of presented
// controllers over the root.
#pragma once

#include <functional>
#include <memory>
#include <vector>

namespace platform {

class ViewController;

class Presenter {
 public:
  virtual ~Presenter() = default;
  // `presented` has just become `presenting`'s presented controller.
  virtual void present(ViewController& presenting, const std::shared_ptr<ViewController>& presented, bool animated,
                       std::function<void()> completion) = 0;
  // `dismissed` (the bottom of the removed chain) and the controllers above it
  // in `chain` (bottom first) are no longer presented by `presenting`.
  virtual void dismiss(ViewController& presenting, const std::vector<std::shared_ptr<ViewController>>& chain,
                       bool animated, std::function<void()> completion) = 0;
};

}  // namespace platform
