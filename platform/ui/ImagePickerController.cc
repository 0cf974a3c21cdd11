#include "platform/ui/ImagePickerController.h"

namespace platform {

ImagePickerController::ImagePickerController(std::shared_ptr<UIEnvironment> environment)
    : ViewController(std::move(environment)) {
  // The renderer sends the picked file's bytes.
  registerAction("imagePicker.pick", [this](const Object& value) {
    if (const Bytes* bytes = value.bytesValue()) {
      pickImage(*bytes);
    } else {
      pick({});
    }
  });
  registerAction("imagePicker.cancel", [this](const Object&) { cancel(); });
}

void ImagePickerController::pick(const PickedMediaInfo& info) {
  auto self = weak_from_this().lock();
  if (auto receiver = delegate.lock()) receiver->imagePickerControllerDidFinishPickingMedia(*this, info);
}

void ImagePickerController::pickImage(std::vector<uint8_t> bytes) {
  pick({{kImagePickerControllerMediaType, std::string(kUTTypeImage)},
        {kImagePickerControllerOriginalImage, EncodedImage{std::move(bytes)}}});
}

void ImagePickerController::cancel() {
  auto self = weak_from_this().lock();
  if (auto receiver = delegate.lock()) receiver->imagePickerControllerDidCancel(*this);
}

ViewNode ImagePickerController::snapshot() const {
  ViewNode node = screenNode("imagePicker");
  node.kind = "imagePicker";
  node.properties["sourceType"] = std::to_string(static_cast<int>(sourceType));
  std::string types;
  for (const std::string& type : mediaTypes) types += (types.empty() ? "" : ",") + type;
  node.properties["mediaTypes"] = types;
  node.action = "imagePicker.pick";
  ViewNode& cancelButton = node.add(ViewNode("button", "imagePicker.cancel"));
  cancelButton.text = "Cancel";
  cancelButton.action = "imagePicker.cancel";
  return node;
}

}  // namespace platform
