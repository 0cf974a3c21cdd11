#include "app/DocumentScanner.h"

#include <string>

#include "app/AppConsole.h"

namespace tabulo {

void DocumentScanner::Coordinator::documentCameraViewControllerDidFinish(platform::DocumentCameraViewController&,
                                                                         const platform::DocumentCameraScan& scan) {
  if (parent.onComplete) parent.onComplete(scan);
}

void DocumentScanner::Coordinator::documentCameraViewControllerDidCancel(platform::DocumentCameraViewController&) {
  if (parent.onDismiss) parent.onDismiss();
}

void DocumentScanner::Coordinator::documentCameraViewControllerDidFail(platform::DocumentCameraViewController&,
                                                                       const platform::Error& error) {
  printLine(std::string(kScanErrorPrefix) + error.description);
  if (parent.onComplete) parent.onComplete(std::nullopt);
}

std::shared_ptr<DocumentScanner::Coordinator> DocumentScanner::makeCoordinator() const {
  return std::make_shared<Coordinator>(*this);
}

std::shared_ptr<platform::DocumentCameraViewController> DocumentScanner::makeUIViewController(
    std::shared_ptr<platform::UIEnvironment> environment, const std::shared_ptr<Coordinator>& coordinator) const {
  auto camera = std::make_shared<platform::DocumentCameraViewController>(std::move(environment));
  camera->delegate = coordinator;
  return camera;
}

}  // namespace tabulo
