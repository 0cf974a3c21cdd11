#include "app/CellEditorPopup.h"

#include <fstream>

#include "app/SpreadsheetFile.h"
#include "platform/grid/Image.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/JPEGRepresentation.h"

namespace tabulo {

CellEditorPopup::CellEditorPopup(std::shared_ptr<platform::UIEnvironment> environment, Dependencies dependencies,
                                 std::shared_ptr<platform::FileSystem> fileSystem)
    : CellFormatPopup(std::move(environment)), dependencies(std::move(dependencies)), fileSystem_(std::move(fileSystem)) {
  textAlignment = this->dependencies.content.textAlignment;
  textColor = this->dependencies.content.textColor;
  cellColor = this->dependencies.content.cellColor;
  imagePath = this->dependencies.content.imagePath;
  registerAction("addPhotoTapped", [this](const platform::Object&) { addPhotoTapped(); });
}

void CellEditorPopup::viewDidLoad() {
  CellFormatPopup::viewDidLoad();
  backgroundView.receivesTaps = true;
  configureTextField(dependencies.content.text);
  updateAlignmentIcons();
  updateColorIndicators();
  impactGenerator.prepare();
}

void CellEditorPopup::applyTapped() { applyChanges(); }

void CellEditorPopup::applyChanges() {
  if (auto receiver = delegate.lock()) {
    SpreadsheetCellContent content;
    content.text = enteredText();
    content.textAlignment = textAlignment;
    content.textColor = textColor;
    content.cellColor = cellColor;
    content.imagePath = imagePath;
    receiver->applyCellChanges(content, dependencies.indexPath);
  }
  dismissPopup();
}

void CellEditorPopup::addPhotoTapped() { presentPhotoPicker(); }

void CellEditorPopup::presentPhotoPicker() {
  auto picker = std::make_shared<platform::ImagePickerController>(environment());
  picker->sourceType = platform::ImagePickerController::SourceType::photoLibrary;
  picker->mediaTypes = {platform::kUTTypeImage};
  picker->delegate = std::dynamic_pointer_cast<platform::ImagePickerControllerDelegate>(weak_from_this().lock());
  present(picker, true);
}

void CellEditorPopup::imagePickerControllerDidCancel(platform::ImagePickerController& picker) { picker.dismiss(true); }

std::optional<std::string> CellEditorPopup::savePhoto(const platform::EncodedImage& image, std::string* reason) const {
  platform::Error error;
  std::optional<std::vector<uint8_t>> jpeg = platform::jpegRepresentation(image, kPhotoCompressionQuality, &error);
  // Picked JPEG bytes are kept as they are, so check that the grid can show them.
  if (jpeg && !platform::Image::fromJPEGData(*jpeg, &error)) jpeg.reset();
  const std::string name = makeUUIDString() + ".jpg";
  const std::filesystem::path url = fileSystem_->outputsURL() / name;
  fileSystem_->deleteFile(url);
  if (!jpeg) {
    *reason = error.description;
    return std::nullopt;
  }
  std::ofstream out(url, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(jpeg->data()), static_cast<std::streamsize>(jpeg->size()));
  out.close();
  if (!out) {
    fileSystem_->deleteFile(url);
    *reason = "The file " + url.string() + " could not be written";
    return std::nullopt;
  }
  return name;
}

void CellEditorPopup::imagePickerControllerDidFinishPickingMedia(platform::ImagePickerController& picker,
                                                                 const platform::PickedMediaInfo& info) {
  std::optional<std::string> failure;
  auto entry = info.find(platform::kImagePickerControllerOriginalImage);
  if (!info.empty() && entry != info.end()) {
    if (const auto* image = std::get_if<platform::EncodedImage>(&entry->second)) {
      std::string reason;
      if (std::optional<std::string> name = savePhoto(*image, &reason)) {
        imagePath = *name;
        setNeedsSnapshot();
      } else {
        failure = reason;
      }
    }
  }
  if (!failure) {
    picker.dismiss(true);
    return;
  }
  std::weak_ptr<platform::ViewController> weakSelf = weak_from_this();
  picker.dismiss(true, [weakSelf, reason = *failure] {
    auto self = weakSelf.lock();
    if (!self) return;
    auto alert = platform::AlertController::make(self->environment(), kPhotoFailureTitle,
                                                 std::string(kPhotoFailureMessage) + " " + reason + ".",
                                                 platform::AlertController::Style::alert);
    alert->addAction({"OK", platform::AlertAction::Style::defaultStyle, nullptr});
    self->present(alert, true);
  });
}

platform::ViewNode CellEditorPopup::snapshot() const {
  platform::ViewNode card("card", "cardView");
  addFormatNodes(card);
  platform::ViewNode& photo = card.add(platform::ViewNode("button", "addPhotoTapped"));
  photo.text = "Add Photo";
  photo.action = "addPhotoTapped";
  if (imagePath) photo.properties["imagePath"] = *imagePath;
  return popupNode(std::move(card));
}

}  // namespace tabulo
