// ImagePicker — lets the user choose one image from the photo library and
// hands back its file address.
//
// A declarative adapter over the platform's image picker: the host makes the
// Coordinator (the picker's delegate, holding a copy of this value), then the
// controller, configured for the photo library and images only. A finished
// pick calls `onComplete` once with the picked file's address (or none),
// cancelling calls `onDismiss`. It never dismisses the controller: the
// screen that shows it closes it. Main thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/ImagePickerController.h"

namespace tabulo {

class ImagePicker {
 public:
  using Completion = std::function<void(const std::vector<std::string>& urls)>;

  Completion onComplete;
  std::function<void()> onDismiss;

  // The controller's delegate; holds a copy of the adapter it was made from.
  class Coordinator;

  std::shared_ptr<Coordinator> makeCoordinator() const;
  std::shared_ptr<platform::ImagePickerController> makeUIViewController(
      std::shared_ptr<platform::UIEnvironment> environment, const std::shared_ptr<Coordinator>& coordinator) const;
  void updateUIViewController(platform::ImagePickerController& /*controller*/) const {}

  // The addresses a finished pick hands back: the image URL when the result
  // holds one, else the media URL, else none. A value that is not URL text
  // (an image, a text without a scheme) does not count as a URL.
  static std::vector<std::string> resultURLs(const platform::PickedMediaInfo& info);
};

class ImagePicker::Coordinator : public platform::ImagePickerControllerDelegate {
 public:
  explicit Coordinator(ImagePicker parent) : parent(std::move(parent)) {}
  ImagePicker parent;

  void imagePickerControllerDidFinishPickingMedia(platform::ImagePickerController& picker,
                                                  const platform::PickedMediaInfo& info) override;
  void imagePickerControllerDidCancel(platform::ImagePickerController& picker) override;
};

}  // namespace tabulo
