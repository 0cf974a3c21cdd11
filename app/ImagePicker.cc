#include "app/ImagePicker.h"

#include <cctype>

namespace tabulo {

namespace {
// URL text starts with a scheme: a letter, then letters, digits, '+', '-' or
// '.', then ':'.
bool isURLText(const std::string& text) {
  size_t colon = text.find(':');
  if (colon == std::string::npos || colon == 0) return false;
  if (!std::isalpha(static_cast<unsigned char>(text[0]))) return false;
  for (size_t i = 1; i < colon; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

const std::string* urlUnder(const platform::PickedMediaInfo& info, const char* key) {
  auto found = info.find(key);
  if (found == info.end()) return nullptr;
  const std::string* text = std::get_if<std::string>(&found->second);
  return text && isURLText(*text) ? text : nullptr;
}
}  // namespace

std::vector<std::string> ImagePicker::resultURLs(const platform::PickedMediaInfo& info) {
  if (const std::string* url = urlUnder(info, platform::kImagePickerControllerImageURL)) return {*url};
  if (const std::string* url = urlUnder(info, platform::kImagePickerControllerMediaURL)) return {*url};
  return {};
}

void ImagePicker::Coordinator::imagePickerControllerDidFinishPickingMedia(platform::ImagePickerController&,
                                                                          const platform::PickedMediaInfo& info) {
  if (parent.onComplete) parent.onComplete(resultURLs(info));
}

void ImagePicker::Coordinator::imagePickerControllerDidCancel(platform::ImagePickerController&) {
  if (parent.onDismiss) parent.onDismiss();
}

std::shared_ptr<ImagePicker::Coordinator> ImagePicker::makeCoordinator() const {
  return std::make_shared<Coordinator>(*this);
}

std::shared_ptr<platform::ImagePickerController> ImagePicker::makeUIViewController(
    std::shared_ptr<platform::UIEnvironment> environment, const std::shared_ptr<Coordinator>& coordinator) const {
  auto picker = std::make_shared<platform::ImagePickerController>(std::move(environment));
  picker->sourceType = platform::ImagePickerController::SourceType::photoLibrary;
  picker->mediaTypes = {platform::kUTTypeImage};
  picker->delegate = coordinator;
  return picker;
}

}  // namespace tabulo
