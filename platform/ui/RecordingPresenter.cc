#include "platform/ui/RecordingPresenter.h"

#include "platform/ui/ViewController.h"

namespace platform {

void RecordingPresenter::present(ViewController& presenting, const std::shared_ptr<ViewController>& presented,
                                 bool animated, std::function<void()> completion) {
  records_.push_back({Record::Kind::present, presenting.weak_from_this(), presented, presented->className(),
                      presented->modalPresentationStyle(), presented->modalTransitionStyle(), animated,
                      static_cast<bool>(completion)});
  presented->beginAppearanceTransition(true, animated);
  presented->endAppearanceTransition();
  if (completion) completion();
}

void RecordingPresenter::dismiss(ViewController& presenting, const std::vector<std::shared_ptr<ViewController>>& chain,
                                 bool animated, std::function<void()> completion) {
  if (chain.empty()) return;
  const auto& bottom = chain.front();
  records_.push_back({Record::Kind::dismiss, presenting.weak_from_this(), bottom, bottom->className(),
                      bottom->modalPresentationStyle(), bottom->modalTransitionStyle(), animated,
                      static_cast<bool>(completion)});
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    (*it)->beginAppearanceTransition(false, animated);
    (*it)->endAppearanceTransition();
  }
  if (completion) completion();
}

}  // namespace platform
