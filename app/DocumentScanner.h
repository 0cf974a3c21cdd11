// DocumentScanner — runs the platform's document camera and hands back the
// scan.
//
// A declarative adapter like ImagePicker: the Coordinator (the camera's
// delegate, holding a copy of this value) passes a finished scan to
// `onComplete`, a cancel to `onDismiss`, and a failure to `onComplete` with
// no scan after printing "ERROR: " and the failure's description. It never
// dismisses the camera. Main thread only.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "platform/ui/DocumentCameraViewController.h"

namespace tabulo {

// Printed before the description of a failed scan.
inline constexpr const char* kScanErrorPrefix = "ERROR: ";

class DocumentScanner {
 public:
  std::function<void()> onDismiss;
  std::function<void(const std::optional<platform::DocumentCameraScan>& scan)> onComplete;

  // The controller's delegate; holds a copy of the adapter it was made from.
  class Coordinator;

  std::shared_ptr<Coordinator> makeCoordinator() const;
  std::shared_ptr<platform::DocumentCameraViewController> makeUIViewController(
      std::shared_ptr<platform::UIEnvironment> environment, const std::shared_ptr<Coordinator>& coordinator) const;
  void updateUIViewController(platform::DocumentCameraViewController& /*controller*/) const {}
};

class DocumentScanner::Coordinator : public platform::DocumentCameraViewControllerDelegate {
 public:
  explicit Coordinator(DocumentScanner parent) : parent(std::move(parent)) {}
  DocumentScanner parent;

  void documentCameraViewControllerDidFinish(platform::DocumentCameraViewController& controller,
                                             const platform::DocumentCameraScan& scan) override;
  void documentCameraViewControllerDidCancel(platform::DocumentCameraViewController& controller) override;
  void documentCameraViewControllerDidFail(platform::DocumentCameraViewController& controller,
                                           const platform::Error& error) override;
};

}  // namespace tabulo
