// platform::ImagePickerController — the photo picker.
//
// The presenting screen sets the source type, the media types and a weak
// delegate. The host reports the user's choice: pick() with the result
// dictionary (the picked photo as encoded image bytes under
// kImagePickerControllerOriginalImage), or cancel(). The delegate dismisses
// the picker itself.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "platform/ui/ViewController.h"

namespace platform {

inline constexpr const char* kImagePickerControllerOriginalImage = "UIImagePickerControllerOriginalImage";
inline constexpr const char* kImagePickerControllerMediaType = "UIImagePickerControllerMediaType";
// The uniform type of images.
inline constexpr const char* kUTTypeImage = "public.image";
// The uniform type of movies, and the result keys of a picked file's address
// (an image file, or a recorded or chosen movie) as URL text.
inline constexpr const char* kUTTypeMovie = "public.movie";
inline constexpr const char* kImagePickerControllerImageURL = "UIImagePickerControllerImageURL";
inline constexpr const char* kImagePickerControllerMediaURL = "UIImagePickerControllerMediaURL";

// An image as the bytes of its file (JPEG, PNG, ...), not yet decoded.
struct EncodedImage {
  std::vector<uint8_t> bytes;
  friend bool operator==(const EncodedImage&, const EncodedImage&) = default;
};

// One entry of a picker's result: an image, or a text (a media type, a URL).
using PickedMediaItem = std::variant<EncodedImage, std::string>;
using PickedMediaInfo = std::map<std::string, PickedMediaItem>;

class ImagePickerController;

class ImagePickerControllerDelegate {
 public:
  virtual ~ImagePickerControllerDelegate() = default;
  virtual void imagePickerControllerDidFinishPickingMedia(ImagePickerController& picker,
                                                          const PickedMediaInfo& info) = 0;
  virtual void imagePickerControllerDidCancel(ImagePickerController& picker) = 0;
};

class ImagePickerController : public ViewController {
 public:
  enum class SourceType : int { photoLibrary = 0, camera = 1, savedPhotosAlbum = 2 };
  enum class CameraCaptureMode : int { photo = 0, video = 1 };
  enum class QualityType : int { high = 0, medium = 1, low = 2 };

  explicit ImagePickerController(std::shared_ptr<UIEnvironment> environment);
  std::string className() const override { return "UIImagePickerController"; }
  bool isPlatformClass() const override { return isExactly<ImagePickerController>(); }

  SourceType sourceType = SourceType::photoLibrary;
  std::vector<std::string> mediaTypes{kUTTypeImage};
  std::weak_ptr<ImagePickerControllerDelegate> delegate;
  // Camera settings (used with the camera source).
  CameraCaptureMode cameraCaptureMode = CameraCaptureMode::photo;
  double videoMaximumDuration = 600;  // seconds
  QualityType videoQuality = QualityType::medium;

  void pick(const PickedMediaInfo& info);
  // Picks one encoded image (the usual result of a photo-library pick).
  void pickImage(std::vector<uint8_t> bytes);
  void cancel();

  ViewNode snapshot() const override;
};

}  // namespace platform
