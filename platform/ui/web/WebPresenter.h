// platform::WebPresenter — the Presenter of the browser host.
//
// The browser draws the chain of presented controllers over the window's
// root, so a transition here only runs the appearance calls (the presented
// controller's view loads first) and the completion, at once: the page shows
// the new chain on its next look at the tree.
#pragma once

#include "platform/ui/Presenter.h"

namespace platform {

class WebPresenter : public Presenter {
 public:
  void present(ViewController& presenting, const std::shared_ptr<ViewController>& presented, bool animated,
               std::function<void()> completion) override;
  void dismiss(ViewController& presenting, const std::vector<std::shared_ptr<ViewController>>& chain, bool animated,
               std::function<void()> completion) override;
};

}  // namespace platform
