#include "app/IntroView.h"

namespace tabulo {

std::vector<platform::ViewColor> IntroView::pageColors() {
  return {platform::ViewColor{24.0 / 255.0, 164.0 / 255.0, 251.0 / 255.0, 1},
          platform::ViewColor{74.0 / 255.0, 91.0 / 255.0, 240.0 / 255.0, 1}};
}

IntroView::IntroView(std::shared_ptr<platform::UIEnvironment> environment,
                     std::weak_ptr<PopupCoordinator> popupCoordinator)
    : ViewController(environment),
      popupCoordinator_(std::move(popupCoordinator)),
      feedbackGenerator_(environment ? environment->haptics : nullptr, platform::ImpactStyle::heavy),
      page1_([this] { advancePage(); }, pageColors()),
      page2_([this] { advancePage(); }, pageColors()),
      page3_([this] { advancePage(); }, pageColors()) {
  registerAction(advanceAction, [this](const platform::Object&) { advancePage(); });
}

void IntroView::viewDidAppear(bool /*animated*/) {
  if (prepared_) return;
  prepared_ = true;
  feedbackGenerator_.prepare();
}

void IntroView::advancePage() {
  // Past the last page the introduction is already closing: a second press
  // must not close whatever is shown beneath it.
  if (currentPage_ >= pageCount) return;
  ++currentPage_;
  feedbackGenerator_.impactOccurred();
  setNeedsSnapshot();
  if (currentPage_ < pageCount) return;
  if (auto coordinator = popupCoordinator_.lock()) coordinator->present(Popup::dismiss());
}

platform::ViewNode IntroView::snapshot() const {
  platform::ViewNode screen = screenNode("intro");
  screen.kind = "zstack";
  screen.properties["alignment"] = "center";
  platform::ViewNode& backdrop = screen.add(platform::ViewNode("color", "backdrop"));
  backdrop.backgroundColor = platform::ViewColor{52.0 / 255.0, 199.0 / 255.0, 89.0 / 255.0, 1};
  backdrop.properties["ignoresSafeArea"] = "true";

  const IntroPage* pages[] = {&page1_, &page2_, &page3_};
  for (int64_t index = 0; index < pageCount && index <= currentPage_; ++index) {
    platform::ViewNode page = pages[index]->node("page" + std::to_string(index + 1), advanceAction);
    if (index > 0) {
      page.properties["transition"] = "opacity";
      page.properties["animation"] = "easeIn";
      page.properties["animationDuration"] = "0.5";
    }
    screen.add(std::move(page));
  }
  return screen;
}

}  // namespace tabulo
