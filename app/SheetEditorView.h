// SheetEditorView — the sheet editor as the declarative navigation shows it:
// a value holding the document to edit. Making its view controller makes a
// SheetEditorViewController with a copy of the document; the host made by
// makeHost() is what the document list pushes (the editor sets its navigation
// items on it). Updating does nothing: the screen keeps the document it was
// made with.
#pragma once

#include <memory>

#include "app/SheetEditorViewController.h"
#include "platform/ui/HostingController.h"

namespace tabulo {

struct SheetEditorView {
  SpreadsheetFile file;

  std::shared_ptr<SheetEditorViewController> makeUIViewController(
      std::shared_ptr<platform::UIEnvironment> environment,
      SheetEditorViewController::Collaborators collaborators = SheetEditorViewController::Collaborators::shared())
      const {
    return std::make_shared<SheetEditorViewController>(std::move(environment), file, std::move(collaborators));
  }

  std::shared_ptr<platform::HostingController> makeHost(
      std::shared_ptr<platform::UIEnvironment> environment,
      SheetEditorViewController::Collaborators collaborators = SheetEditorViewController::Collaborators::shared())
      const {
    return platform::HostingController::make(environment, makeUIViewController(environment, std::move(collaborators)));
  }
};

}  // namespace tabulo
