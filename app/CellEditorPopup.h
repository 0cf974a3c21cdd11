// CellEditorPopup — edits one body cell: its text, alignment, text colour,
// fill colour and photo.
//
// Presented by the sheet editor over its content; works on its own copies of
// the cell's values and hands a new SpreadsheetCellContent to its delegate
// only on apply. A picked photo is made a JPEG file (picked JPEG bytes as they
// are, PNG re-encoded at the best quality) named by a new UUID plus ".jpg" in
// the outputs directory as soon as it is picked; the cell refers to it once
// the popup applies. A photo that is neither JPEG nor PNG, that does not
// decode, or whose file cannot be written keeps the previous photo and says so
// in an alert.
//
// Actions a renderer sends, besides CellFormatPopup's: "addPhotoTapped".
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/CellEditorPopupDelegate.h"
#include "app/CellFormatPopup.h"
#include "app/SpreadsheetCellContent.h"
#include "platform/filesystem/FileSystem.h"
#include "platform/grid/IndexPath.h"
#include "platform/ui/ImagePickerController.h"

namespace tabulo {

// The alert shown when a picked photo cannot be kept.
inline constexpr const char* kPhotoFailureTitle = "Photo not added";
inline constexpr const char* kPhotoFailureMessage = "The photo could not be saved, so the cell keeps its previous one.";
// The picker's JPEG quality: the top of the 0.0 to 1.0 scale and beyond, so the best quality.
inline constexpr double kPhotoCompressionQuality = 8.0;

class CellEditorPopup : public CellFormatPopup, public platform::ImagePickerControllerDelegate {
 public:
  struct Dependencies {
    SpreadsheetCellContent content;
    platform::IndexPath indexPath;
  };

  CellEditorPopup(std::shared_ptr<platform::UIEnvironment> environment, Dependencies dependencies,
                  std::shared_ptr<platform::FileSystem> fileSystem = platform::FileSystem::shared());
  std::string className() const override { return "CellEditorPopup"; }

  const Dependencies dependencies;
  std::weak_ptr<CellEditorPopupDelegate> delegate;
  std::optional<std::string> imagePath;

  void applyTapped() override;
  void addPhotoTapped();

  // ImagePickerControllerDelegate
  void imagePickerControllerDidFinishPickingMedia(platform::ImagePickerController& picker,
                                                  const platform::PickedMediaInfo& info) override;
  void imagePickerControllerDidCancel(platform::ImagePickerController& picker) override;

  platform::ViewNode snapshot() const override;

 protected:
  void viewDidLoad() override;
  virtual void applyChanges();
  virtual void presentPhotoPicker();

 private:
  // Writes the picked image as a new photo file; its name, or none (and why).
  std::optional<std::string> savePhoto(const platform::EncodedImage& image, std::string* reason) const;

  std::shared_ptr<platform::FileSystem> fileSystem_;
};

}  // namespace tabulo
