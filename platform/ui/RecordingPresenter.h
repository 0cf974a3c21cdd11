// platform::RecordingPresenter — a Presenter for headless hosts and tests.
//
// Every transition finishes at once: presenting runs the presented
// controller's appearance (its view loads first), dismissing runs the
// disappearance of every removed controller, top first, and the completion
// runs before the call returns. Each call is kept as a Record (weak
// references, so a record never keeps a screen alive).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/ui/PresentationStyle.h"
#include "platform/ui/Presenter.h"

namespace platform {

class RecordingPresenter : public Presenter {
 public:
  struct Record {
    enum class Kind { present, dismiss } kind = Kind::present;
    std::weak_ptr<ViewController> presenting;
    // The presented controller, or the bottom of the dismissed chain.
    std::weak_ptr<ViewController> controller;
    std::string controllerClass;
    ModalPresentationStyle presentationStyle = ModalPresentationStyle::automatic;
    ModalTransitionStyle transitionStyle = ModalTransitionStyle::coverVertical;
    bool animated = false;
    bool hadCompletion = false;
  };

  void present(ViewController& presenting, const std::shared_ptr<ViewController>& presented, bool animated,
               std::function<void()> completion) override;
  void dismiss(ViewController& presenting, const std::vector<std::shared_ptr<ViewController>>& chain, bool animated,
               std::function<void()> completion) override;

  const std::vector<Record>& records() const { return records_; }
  void clear() { records_.clear(); }

 private:
  std::vector<Record> records_;
};

}  // namespace platform
