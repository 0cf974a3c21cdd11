// platform::ActivityViewController — the share sheet for a list of files.
//
// Made with the file locations to share, in order. The presenting screen may
// exclude activity types and, on a pad, anchor the sheet's popover at a
// rectangle of its view. When the user finishes (shares or cancels), the host
// calls finish(): the sheet dismisses itself and then calls
// `completionWithItemsHandler` once with the activity type, the completed
// flag, the returned items and the error.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Error.h"
#include "platform/ui/ViewController.h"

namespace platform {

// The activity type of assigning a shared file to a contact.
inline constexpr const char* kActivityTypeAssignToContact = "com.apple.UIKit.activity.AssignToContact";

class ActivityViewController : public ViewController {
 public:
  using CompletionWithItemsHandler =
      std::function<void(const std::optional<std::string>& activityType, bool completed,
                          const std::vector<Object>& returnedItems, const std::optional<Error>& error)>;

  // Where a popover points: its source view and a rectangle in that view.
  struct PopoverPresentation {
    std::weak_ptr<ViewController> sourceView;
    std::optional<ViewRect> sourceRect;
  };

  ActivityViewController(std::shared_ptr<UIEnvironment> environment, std::vector<std::filesystem::path> activityItems);
  std::string className() const override { return "UIActivityViewController"; }
  bool isPlatformClass() const override { return isExactly<ActivityViewController>(); }

  const std::vector<std::filesystem::path>& activityItems() const { return items_; }
  std::vector<std::string> excludedActivityTypes;
  CompletionWithItemsHandler completionWithItemsHandler;
  PopoverPresentation& popoverPresentationController() { return popover_; }
  const PopoverPresentation& popoverPresentationController() const { return popover_; }

  // The user has shared the files through `activityType` or cancelled.
  void finish(std::optional<std::string> activityType, bool completed, std::optional<Error> error = std::nullopt);

  ViewNode snapshot() const override;

 private:
  std::vector<std::filesystem::path> items_;
  PopoverPresentation popover_;
};

}  // namespace platform
