// CameraPicker — lets the user record one video of at most 5 seconds with the
// camera and hands back its file address.
//
// Like ImagePicker, over the platform's image picker configured for movies
// from the camera in video mode at high quality; its result is read the same
// way (image URL first, then media URL). Main thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/ImagePickerController.h"

namespace tabulo {

class CameraPicker {
 public:
  using Completion = std::function<void(const std::vector<std::string>& urls)>;
  static constexpr double maximumVideoDuration = 5;  // seconds

  Completion onComplete;
  std::function<void()> onDismiss;

  // The controller's delegate; holds a copy of the adapter it was made from.
  class Coordinator;

  std::shared_ptr<Coordinator> makeCoordinator() const;
  std::shared_ptr<platform::ImagePickerController> makeUIViewController(
      std::shared_ptr<platform::UIEnvironment> environment, const std::shared_ptr<Coordinator>& coordinator) const;
  void updateUIViewController(platform::ImagePickerController& /*controller*/) const {}
};

class CameraPicker::Coordinator : public platform::ImagePickerControllerDelegate {
 public:
  explicit Coordinator(CameraPicker parent) : parent(std::move(parent)) {}
  CameraPicker parent;

  void imagePickerControllerDidFinishPickingMedia(platform::ImagePickerController& picker,
                                                  const platform::PickedMediaInfo& info) override;
  void imagePickerControllerDidCancel(platform::ImagePickerController& picker) override;
};

}  // namespace tabulo
