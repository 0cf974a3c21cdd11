// platform::DocumentCameraViewController — the document camera, which
// photographs paper pages and hands back the finished scan.
//
// The host reports the outcome: finish() with the scan, cancel(), or fail()
// with an error. The weak delegate hears of it; the delegate's owner dismisses
// the camera itself.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/core/Error.h"
#include "platform/ui/ImagePickerController.h"
#include "platform/ui/ViewController.h"

namespace platform {

// A finished scan: its title and one image per page, in order.
struct DocumentCameraScan {
  std::string title;
  std::vector<EncodedImage> pages;

  size_t pageCount() const { return pages.size(); }
  friend bool operator==(const DocumentCameraScan&, const DocumentCameraScan&) = default;
};

class DocumentCameraViewController;

class DocumentCameraViewControllerDelegate {
 public:
  virtual ~DocumentCameraViewControllerDelegate() = default;
  virtual void documentCameraViewControllerDidFinish(DocumentCameraViewController& controller,
                                                     const DocumentCameraScan& scan) = 0;
  virtual void documentCameraViewControllerDidCancel(DocumentCameraViewController& controller) = 0;
  virtual void documentCameraViewControllerDidFail(DocumentCameraViewController& controller, const Error& error) = 0;
};

class DocumentCameraViewController : public ViewController {
 public:
  explicit DocumentCameraViewController(std::shared_ptr<UIEnvironment> environment);
  std::string className() const override { return "VNDocumentCameraViewController"; }
  bool isPlatformClass() const override { return isExactly<DocumentCameraViewController>(); }

  std::weak_ptr<DocumentCameraViewControllerDelegate> delegate;

  void finish(const DocumentCameraScan& scan);
  void cancel();
  void fail(const Error& error);

  // A "documentCamera" node; a renderer sends "documentCamera.finish" with
  // an array of page images (bytes; anything else there is not a page) and
  // "documentCamera.cancel".
  ViewNode snapshot() const override;
};

}  // namespace platform
