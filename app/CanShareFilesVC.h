// CanShareFilesVC — hands files to the share sheet from a view controller.
//
// shareFiles() presents, animated, the platform's share sheet with the file
// locations as its items in order; assigning to a contact is never offered;
// the sheet's popover points at the controller's view, and on a pad at the
// middle of its bounds. The completion receives the sheet's four completion
// values once, when the sheet closes.
#pragma once

#include <filesystem>
#include <vector>

#include "platform/ui/ActivityViewController.h"
#include "platform/ui/ViewController.h"

namespace tabulo {

class CanShareFilesVC {
 public:
  virtual ~CanShareFilesVC() = default;

  // The adopting view controller.
  virtual platform::ViewController& shareSourceViewController() = 0;

  void shareFiles(const std::vector<std::filesystem::path>& urls,
                  platform::ActivityViewController::CompletionWithItemsHandler completion);
};

}  // namespace tabulo
