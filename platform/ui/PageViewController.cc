#include "platform/ui/PageViewController.h"

#include <utility>

namespace platform {

void PageViewController::setViewControllers(std::vector<std::shared_ptr<ViewController>> pages) {
  auto old = std::exchange(pages_, {});
  if (isVisible()) {
    for (const auto& page : old) {
      page->beginAppearanceTransition(false, false);
      page->endAppearanceTransition();
    }
  }
  for (const auto& page : old) page->removeFromParent();
  for (auto& page : pages) {
    if (!page) continue;
    addChild(page);
    pages_.push_back(std::move(page));
  }
  if (isVisible()) {
    for (const auto& page : pages_) {
      page->beginAppearanceTransition(true, false);
      page->endAppearanceTransition();
    }
  }
  setNeedsSnapshot();
}

}  // namespace platform
