#include "platform/ui/DocumentCameraViewController.h"

namespace platform {

DocumentCameraViewController::DocumentCameraViewController(std::shared_ptr<UIEnvironment> environment)
    : ViewController(std::move(environment)) {
  registerAction("documentCamera.finish", [this](const Object& value) {
    DocumentCameraScan scan;
    if (const Array* pages = value.arrayValue()) {
      for (const Object& page : *pages) {
        if (const Bytes* bytes = page.bytesValue()) scan.pages.push_back(EncodedImage{*bytes});
      }
    }
    finish(scan);
  });
  registerAction("documentCamera.cancel", [this](const Object&) { cancel(); });
}

void DocumentCameraViewController::finish(const DocumentCameraScan& scan) {
  auto self = shared_from_this();
  if (auto receiver = delegate.lock()) receiver->documentCameraViewControllerDidFinish(*this, scan);
}

void DocumentCameraViewController::cancel() {
  auto self = shared_from_this();
  if (auto receiver = delegate.lock()) receiver->documentCameraViewControllerDidCancel(*this);
}

void DocumentCameraViewController::fail(const Error& error) {
  auto self = shared_from_this();
  if (auto receiver = delegate.lock()) receiver->documentCameraViewControllerDidFail(*this, error);
}

ViewNode DocumentCameraViewController::snapshot() const {
  ViewNode node = screenNode("documentCamera");
  node.kind = "documentCamera";
  node.action = "documentCamera.finish";
  ViewNode& cancelButton = node.add(ViewNode("button", "documentCamera.cancel"));
  cancelButton.text = "Cancel";
  cancelButton.action = "documentCamera.cancel";
  return node;
}

}  // namespace platform
