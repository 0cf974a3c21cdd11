#include "platform/ui/web/WebPresenter.h"

#include "platform/ui/ViewController.h"

namespace platform {

void WebPresenter::present(ViewController&, const std::shared_ptr<ViewController>& presented, bool animated,
                           std::function<void()> completion) {
  presented->loadViewIfNeeded();
  presented->beginAppearanceTransition(true, animated);
  presented->endAppearanceTransition();
  if (completion) completion();
}

void WebPresenter::dismiss(ViewController&, const std::vector<std::shared_ptr<ViewController>>& chain, bool animated,
                           std::function<void()> completion) {
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    (*it)->beginAppearanceTransition(false, animated);
    (*it)->endAppearanceTransition();
  }
  if (completion) completion();
}

}  // namespace platform
