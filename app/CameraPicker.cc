#include "app/CameraPicker.h"

#include "app/ImagePicker.h"

namespace tabulo {

void CameraPicker::Coordinator::imagePickerControllerDidFinishPickingMedia(platform::ImagePickerController&,
                                                                           const platform::PickedMediaInfo& info) {
  if (parent.onComplete) parent.onComplete(ImagePicker::resultURLs(info));
}

void CameraPicker::Coordinator::imagePickerControllerDidCancel(platform::ImagePickerController&) {
  if (parent.onDismiss) parent.onDismiss();
}

std::shared_ptr<CameraPicker::Coordinator> CameraPicker::makeCoordinator() const {
  return std::make_shared<Coordinator>(*this);
}

std::shared_ptr<platform::ImagePickerController> CameraPicker::makeUIViewController(
    std::shared_ptr<platform::UIEnvironment> environment, const std::shared_ptr<Coordinator>& coordinator) const {
  using Picker = platform::ImagePickerController;
  auto picker = std::make_shared<Picker>(std::move(environment));
  picker->mediaTypes = {platform::kUTTypeMovie};
  picker->sourceType = Picker::SourceType::camera;
  picker->cameraCaptureMode = Picker::CameraCaptureMode::video;
  picker->videoMaximumDuration = maximumVideoDuration;
  picker->videoQuality = Picker::QualityType::high;
  picker->delegate = coordinator;
  return picker;
}

}  // namespace tabulo
