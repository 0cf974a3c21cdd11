#include "app/CanShareFilesVC.h"

#include <memory>

namespace tabulo {

void CanShareFilesVC::shareFiles(const std::vector<std::filesystem::path>& urls,
                                 platform::ActivityViewController::CompletionWithItemsHandler completion) {
  platform::ViewController& controller = shareSourceViewController();
  auto sheet = std::make_shared<platform::ActivityViewController>(controller.environment(), urls);
  auto& popover = sheet->popoverPresentationController();
  popover.sourceView = controller.weak_from_this();
  if (controller.environment() && controller.environment()->idiom == platform::UserInterfaceIdiom::pad) {
    const platform::ViewRect& bounds = controller.viewBounds();
    popover.sourceRect = platform::ViewRect{bounds.midX(), bounds.midY(), 0, 0};
  }
  sheet->excludedActivityTypes = {platform::kActivityTypeAssignToContact};
  sheet->completionWithItemsHandler = std::move(completion);
  controller.present(sheet, true);
}

}  // namespace tabulo
