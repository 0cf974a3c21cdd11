// Picked media: whatever a picker or the document camera hands back (texts or
// image bytes under the URL keys, any page list), the adapters answer one of
// the given URL texts or none, and a scan of the byte pages, without crashing.
//
// Input: byte 0 chooses the kinds of the two URL entries (text, image bytes or
// absent); the rest, split at the first 0x00, is the image-URL value and the
// media-URL value; a document camera gets the same bytes as pages split at 0xFF.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "app/CameraPicker.h"
#include "app/DocumentScanner.h"
#include "app/ImagePicker.h"

namespace {

void put(platform::PickedMediaInfo& info, const char* key, int kind, const std::string& value) {
  if (kind == 0) info[key] = value;
  if (kind == 1) info[key] = platform::EncodedImage{std::vector<uint8_t>(value.begin(), value.end())};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  const size_t split = rest.find('\0');
  const std::string imageValue = rest.substr(0, split);
  const std::string mediaValue = split == std::string::npos ? std::string() : rest.substr(split + 1);
  platform::PickedMediaInfo info;
  put(info, platform::kImagePickerControllerImageURL, data[0] % 3, imageValue);
  put(info, platform::kImagePickerControllerMediaURL, (data[0] / 3) % 3, mediaValue);

  auto ui = platform::UIEnvironment::makeHeadless();
  std::vector<std::vector<std::string>> results;
  tabulo::ImagePicker imagePicker;
  imagePicker.onComplete = [&](const std::vector<std::string>& urls) { results.push_back(urls); };
  tabulo::CameraPicker cameraPicker;
  cameraPicker.onComplete = [&](const std::vector<std::string>& urls) { results.push_back(urls); };
  auto imageCoordinator = imagePicker.makeCoordinator();
  auto cameraCoordinator = cameraPicker.makeCoordinator();
  imagePicker.makeUIViewController(ui.environment, imageCoordinator)->pick(info);
  cameraPicker.makeUIViewController(ui.environment, cameraCoordinator)->pick(info);
  if (results.size() != 2 || results[0] != results[1] || results[0].size() > 1) std::abort();
  if (results[0].size() == 1 && results[0][0] != imageValue && results[0][0] != mediaValue) std::abort();

  platform::Array pages;
  platform::Bytes page;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0xFF) {
      pages.emplace_back(page);
      page.clear();
    } else {
      page.push_back(data[i]);
    }
  }
  pages.emplace_back(page);
  std::optional<platform::DocumentCameraScan> scanned;
  tabulo::DocumentScanner scanner;
  scanner.onComplete = [&](const std::optional<platform::DocumentCameraScan>& scan) { scanned = scan; };
  auto scannerCoordinator = scanner.makeCoordinator();
  scanner.makeUIViewController(ui.environment, scannerCoordinator)->performAction("documentCamera.finish", pages);
  if (!scanned || scanned->pageCount() != pages.size()) std::abort();
  return 0;
}
